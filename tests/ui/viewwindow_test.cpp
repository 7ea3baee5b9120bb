// Pointing at and clicking the ranked list, the view windows it opens, deleting from them, and
// scrolling the list.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "core/knowledgebase.h"
#include "textsearch/cvvector.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "ui/widgets/qtext.h"
#include "uitest.h"

namespace {

class ViewWindowTest : public MainWindowTest {
protected:
    TForm1& OpenWith(std::initializer_list<std::pair<const char*, const char*>> entries) {
        for (std::string& ID : StoreEntries(entries))
            ids.push_back(std::move(ID));
        TForm1& f = Open();
        f.show();
        return f;
    }
    void Search(const char* text) {
        form->ProblemText->setPlainText(text);
        WaitForSearches();
    }
    // The point of the caption of the hit at rank (0 = best), found as the panel finds it.
    QPoint CaptionOf(int rank) {
        vRenderPanel& panel = *form->Results;
        int seen = -1;
        const TcvResults* last = nullptr;
        for (int y = 0; y < panel.height(); ++y) {
            panel.Hover(10, y);
            panel.repaint();
            const TcvResults* r = panel.Hover(10, y);
            if (r && r != last && ++seen == rank) return QPoint(10, y + 2);
            last = r;
        }
        ADD_FAILURE() << "no caption at rank " << rank;
        return {};
    }
    void MoveTo(QPoint p) { QTest::mouseMove(form->Results, p); }
    // A click; an entry it opens has arrived once it returns.
    void ClickAt(QPoint p, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(form->Results, button, Qt::NoModifier, p);
        WaitForWrites();
    }
    Qt::CursorShape Cursor() const {
        return QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape()
                                                 : Qt::ArrowCursor;
    }
    std::vector<std::string> ids;
};

TEST_F(ViewWindowTest, PointingUnderlinesAtOnceAndTurnsTheCursorOneMoveLater) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}});
    Search("printer");
    const QPoint caption = CaptionOf(0);
    MoveTo(QPoint(300, 400));  // empty space
    MoveTo(caption);
    EXPECT_NE(f.Results->Hover(caption.x(), caption.y()), nullptr);  // underlined now
    EXPECT_EQ(Cursor(), Qt::ArrowCursor);                            // the hand comes next move
    MoveTo(caption + QPoint(1, 0));
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);
    MoveTo(QPoint(300, 400));
    EXPECT_EQ(f.Results->Hover(300, 400), nullptr);
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);
    MoveTo(QPoint(301, 400));
    EXPECT_EQ(Cursor(), Qt::ArrowCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // each widget shows its own again

    // Leaving the list straight from a caption does not leave the hand over the whole program.
    MoveTo(caption);
    MoveTo(caption + QPoint(1, 0));
    ASSERT_EQ(Cursor(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(f.Results, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ViewWindowTest, AClickOnACaptionOpensTheEntryOnceForBothItsTexts) {
    TForm1& f = OpenWith({{"printer jams", "printer rollers cleaned"}});
    Search("printer");
    ASSERT_EQ(f.ScoredHits().Count(), 2);
    ClickAt(CaptionOf(0) + QPoint(0, 30), Qt::LeftButton);  // between captions: the excerpt line
    ClickAt(QPoint(300, 400));                              // empty space
    EXPECT_TRUE(f.ViewWindows().Count() == 0);

    ClickAt(CaptionOf(0), Qt::RightButton);  // any button
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    TShowItem* window = f.ViewWindows().At(0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Pelloquin: View Problem/Solution");
    EXPECT_EQ(window->ProblemText->toPlainText(), "printer jams");
    EXPECT_EQ(window->SolutionText->toPlainText(), "printer rollers cleaned");
    EXPECT_TRUE(window->ProblemText->isReadOnly());
    ClickAt(CaptionOf(1));
    EXPECT_EQ(f.ViewWindows().Count(), 1);  // the other text of the same entry: the same window
    EXPECT_EQ(f.ViewWindows().At(0), window);
}

TEST_F(ViewWindowTest, CloseForgetsTheWindowTitleBarCloseKeepsIt) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}});
    Search("printer");
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    TShowItem* first = f.ViewWindows().At(0);
    first->close();  // the title bar's close: hidden, still listed, texts kept
    EXPECT_FALSE(first->isVisible());
    FileDB().ExecSQL("update textdata set description='changed' where texttype='P'");
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    EXPECT_EQ(f.ViewWindows().At(0), first);
    EXPECT_EQ(first->ProblemText->toPlainText(), "printer jams");  // not read again

    first->Button2->click();  // Close: dropped from the list and released
    EXPECT_TRUE(f.ViewWindows().Count() == 0);
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    EXPECT_EQ(f.ViewWindows().At(0)->ProblemText->toPlainText(), "changed");  // read afresh
}

TEST_F(ViewWindowTest, DeleteAsksAndRemovesTheEntryFromTheList) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}, {"printer offline", "replug"}});
    Search("printer");
    ASSERT_EQ(f.ScoredHits().Count(), 2);
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    TShowItem* window = f.ViewWindows().At(0);
    const std::string ID = window->EntryID();

    dialogs->answers = {QMessageBox::No};
    window->Button1->click();
    WaitForWrites();
    EXPECT_EQ(dialogs->shown.back().title, "Confirm");
    EXPECT_EQ(dialogs->shown.back().text, "Delete this Problem/Solution?");
    EXPECT_EQ(dialogs->shown.back().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(f.ViewWindows().Count(), 1);
    EXPECT_EQ(static_cast<int>(f.Session().TEST_Engine().LiveTexts()), 4);

    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    EXPECT_TRUE(f.ViewWindows().Count() == 0);
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 1);
    EXPECT_NE(f.ScoredHits().Items(0)->data->ID, ID);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from textdata where ID='" + ID + "'"), "0");
}

TEST_F(ViewWindowTest, EntriesWhoseIDsDifferInLetterCaseOpenWindowsOfTheirOwn) {
    {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        for (const auto& [ID, problem] :
             {std::pair{"abc", "printer jams"}, {"ABC", "printer smokes"}}) {
            DB.ExecSQL(kb::InsertTextSQL(ID, "", "P", problem));
            DB.ExecSQL(kb::InsertTextSQL(ID, "", "S", "x"));
            DB.ExecSQL(kb::InsertVectorSQL(ID, "P", EncodeCV(problem)->Text()));
            DB.ExecSQL(kb::InsertVectorSQL(ID, "S", EncodeCV("x")->Text()));
        }
    }
    TForm1& f = Open();
    f.show();
    Search("printer");
    const QPoint first = CaptionOf(0), second = CaptionOf(1);
    ClickAt(first);
    ClickAt(second);
    ASSERT_EQ(f.ViewWindows().Count(), 2);
    EXPECT_NE(f.ViewWindows().At(0)->EntryID(), f.ViewWindows().At(1)->EntryID());
}

TEST_F(ViewWindowTest, AnEntryGoneSinceTheListWasDrawnOpensNothing) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}});
    Search("printer");
    const QPoint caption = CaptionOf(0);
    FileDB().ExecSQL("Delete from textdata");  // behind the list's back
    ClickAt(caption);
    EXPECT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(dialogs->shown.back().text, "This entry has been deleted.");
    EXPECT_TRUE(f.ViewWindows().Count() == 0);
    ClickAt(caption);
    EXPECT_TRUE(f.ViewWindows().Count() == 0);  // no empty window either
}

// A list of thousands stays in reach: a line a step, a page a click in the track, three lines a
// wheel notch, and the last hit stops at the bottom.
TEST_F(ViewWindowTest, TheScrollBarStepsByRowsAndPagesAndStopsAtTheLastHit) {
    std::vector<std::string> texts;
    for (int i = 0; i < 200; ++i)
        texts.push_back("printer jams " + std::to_string(i));
    {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        for (const std::string& t : texts)
            kb::SaveEntry(DB, t, "x");
    }
    TForm1& f = Open();
    f.show();
    Search("printer");
    vRenderPanel& panel = *f.Results;
    const int row = panel.RowHeight();
    EXPECT_EQ(f.vs->singleStep(), row);
    EXPECT_EQ(f.vs->pageStep(), panel.height());
    EXPECT_EQ(f.vs->maximum(), panel.ListHeight() - panel.height());
    const QPoint first = CaptionOf(0);
    f.vs->setValue(5);
    EXPECT_EQ(panel.ViewPoint(), QPoint(0, 5));
    EXPECT_EQ(CaptionOf(0).y(), first.y() - 5);

    f.vs->setValue(0);
    QWheelEvent notch(QPointF(10, 10), panel.mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&panel, &notch);
    EXPECT_EQ(f.vs->value(), QApplication::wheelScrollLines() * row);

    // At the end the last hit's excerpt line ends inside the panel.
    f.vs->setValue(f.vs->maximum());
    const TcvResults* last = panel.HitAt(QPoint(10, panel.height() - row + 2));
    EXPECT_NE(last, nullptr);
    // A search that finds less pulls the range (and the position) back, never below 0.
    Search("monitor");
    EXPECT_EQ(f.vs->maximum(), 0);
    EXPECT_EQ(f.vs->value(), 0);
}

// The whole round by keyboard alone: type, reach the list, move down twice, open the third hit
// with Enter, close it with Esc, back to the problem box, save with Ctrl+S.
TEST_F(ViewWindowTest, EveryHitIsInReachOfTheKeyboard) {
    TForm1& f = OpenWith({{"printer jams daily", "a"},
                          {"printer offline", "b"},
                          {"printer slow today", "c"},
                          {"printer out of paper", "d"}});
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.ProblemText->setFocus();
    QTest::keyClicks(f.ProblemText, "printer");
    WaitForSearches();
    ASSERT_GE(f.ScoredHits().Count(), 4);
    // Tab walks the controls in order and ends on the list; Ctrl+Tab types a tab.
    QTest::keyClick(f.ProblemText, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer\t");
    for (QWidget* next : {static_cast<QWidget*>(f.SolutionText), static_cast<QWidget*>(f.Button1),
                          static_cast<QWidget*>(f.Button2), static_cast<QWidget*>(f.Results)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    f.ProblemText->setFocus();
    QTest::keyClick(f.ProblemText, Qt::Key_Down, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), f.Results);
    const std::string third(f.ScoredHits().Items(f.ScoredHits().Count() - 3)->data->ID);
    QTest::keyClick(f.Results, Qt::Key_Home);
    QTest::keyClick(f.Results, Qt::Key_Down);
    QTest::keyClick(f.Results, Qt::Key_Down);
    QTest::keyClick(f.Results, Qt::Key_Return);
    WaitForWrites();
    TShowItem* window = f.ViewWindows().Find(third);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(f.ViewWindows().Count(), 0);
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.Results->setFocus();
    QTest::keyClick(f.Results, Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), f.ProblemText);
    QTest::keyClick(f.ProblemText, Qt::Key_S, Qt::ControlModifier);
    WaitForWrites();
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
    EXPECT_EQ(kb::ReadDescription(FileDB(), LastSavedID(), "P"), "printer\t");
}

// Edit stores the new texts under the same ID, as a new entry's would be stored, keeps the
// created value, and the list follows; Cancel and Esc put the stored texts back; closing with
// unsaved edits asks first.
TEST_F(ViewWindowTest, EditReplacesTheTextsUnderTheSameEntry) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}, {"printer offline", "replug"}});
    const std::string created =
        FileDB().GetTableString("select created from textdata where ID='" + ids[0] + "'");
    Search("printer jams");
    ClickAt(CaptionOf(0));
    TShowItem* window = f.ViewWindows().Find(ids[0]);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Button3->text(), "Edit");
    EXPECT_TRUE(window->ProblemText->isReadOnly());

    window->Button3->click();
    WaitForWrites();
    EXPECT_EQ(window->Button3->text(), "Save");
    EXPECT_FALSE(window->ProblemText->isReadOnly());
    window->ProblemText->setPlainText("printer jams on \u00e9nvelopes, it's \u017c");
    window->Button2->click();  // Cancel
    EXPECT_EQ(window->ProblemText->toPlainText(), "printer jams");
    EXPECT_TRUE(window->ProblemText->isReadOnly());

    window->Button3->click();
    WaitForWrites();
    const QString edited = QString::fromUtf8("scanner jams on \u00e9nvelopes, it's \u017c");
    window->ProblemText->setPlainText(edited);
    window->Button3->click();  // Save
    WaitForWrites();
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_EQ(window->Button3->text(), "Edit");
    const std::string stored = FromEditorText(edited);
    EXPECT_EQ(kb::ReadDescription(FileDB(), ids[0], "P"), stored);
    EXPECT_EQ(FileDB().GetTableString("select vectordata from vectors where ID='" + ids[0] +
                                      "' and texttype='P'"),
              EncodeCV(stored)->Text());
    EXPECT_EQ(FileDB().GetTableString("select created from textdata where ID='" + ids[0] +
                                      "' and texttype='P'"),
              created);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from vectors"), "4");
    WaitForSearches();  // the current text is searched again
    Search("scanner");
    ASSERT_EQ(f.ScoredHits().Count(), 1);
    EXPECT_EQ(f.ScoredHits().Items(0)->data->Title,
              "scanner jams on \u00e9nvelopes, it's \u017c...");

    // Unsaved edits: closing asks; Cancel keeps the window, No drops the edits.
    window->Button3->click();
    WaitForWrites();
    window->SolutionText->setPlainText("changed");
    dialogs->answers = {QMessageBox::Cancel, QMessageBox::No};
    window->close();
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->SolutionText->toPlainText(), "clean the rollers");
    EXPECT_EQ(dialogs->shown.size(), 2u);
}

}  // namespace
