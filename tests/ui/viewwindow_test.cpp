// Pointing at and clicking the ranked list, the view windows it opens, deleting from them, and
// scrolling the list.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "knowledgebase.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "uitest.h"
#include "viewform.h"

namespace {

class ViewWindowTest : public MainWindowTest {
protected:
    TForm1& OpenWith(std::initializer_list<std::pair<const char*, const char*>> entries) {
        {
            TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
            kb::CreateMissingTables(DB);
            for (const auto& [problem, solution] : entries)
                ids.push_back(kb::SaveEntry(DB, problem, solution));
        }
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
    void ClickAt(QPoint p, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(form->Results, button, Qt::NoModifier, p);
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
    EXPECT_TRUE(f.ViewWindowCount() == 0);

    ClickAt(CaptionOf(0), Qt::RightButton);  // any button
    ASSERT_EQ(f.ViewWindowCount(), 1);
    TShowItem* window = f.ViewWindowAt(0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Pelloquin: View Problem/Solution");
    EXPECT_EQ(window->ProblemText->toPlainText(), "printer jams");
    EXPECT_EQ(window->SolutionText->toPlainText(), "printer rollers cleaned");
    EXPECT_TRUE(window->ProblemText->isReadOnly());
    ClickAt(CaptionOf(1));
    EXPECT_EQ(f.ViewWindowCount(), 1);  // the other text of the same entry: the same window
    EXPECT_EQ(f.ViewWindowAt(0), window);
}

TEST_F(ViewWindowTest, CloseForgetsTheWindowTitleBarCloseKeepsIt) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}});
    Search("printer");
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindowCount(), 1);
    TShowItem* first = f.ViewWindowAt(0);
    first->close();  // the title bar's close: hidden, still listed, texts kept
    EXPECT_FALSE(first->isVisible());
    FileDB().ExecSQL("update textdata set description='changed' where texttype='P'");
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindowCount(), 1);
    EXPECT_EQ(f.ViewWindowAt(0), first);
    EXPECT_EQ(first->ProblemText->toPlainText(), "printer jams");  // not read again

    first->Button2->click();  // Close: dropped from the list and released
    EXPECT_TRUE(f.ViewWindowCount() == 0);
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindowCount(), 1);
    EXPECT_EQ(f.ViewWindowAt(0)->ProblemText->toPlainText(), "changed");  // read afresh
}

TEST_F(ViewWindowTest, DeleteAsksAndRemovesTheEntryFromTheList) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}, {"printer offline", "replug"}});
    Search("printer");
    ASSERT_EQ(f.ScoredHits().Count(), 2);
    ClickAt(CaptionOf(0));
    ASSERT_EQ(f.ViewWindowCount(), 1);
    TShowItem* window = f.ViewWindowAt(0);
    const std::string ID = window->EntryID();

    dialogs->answers = {QMessageBox::No};
    window->Button1->click();
    EXPECT_EQ(dialogs->shown.back().title, "Confirm");
    EXPECT_EQ(dialogs->shown.back().text, "Delete this Problem/Solution?");
    EXPECT_EQ(dialogs->shown.back().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(f.ViewWindowCount(), 1);
    EXPECT_EQ(static_cast<int>(f.Engine().LiveTexts()), 4);

    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    EXPECT_TRUE(f.ViewWindowCount() == 0);
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 1);
    EXPECT_NE(f.ScoredHits().Items(0)->data->ID, ID);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from textdata where ID='" + ID + "'"), "0");
}

TEST_F(ViewWindowTest, AnEntryGoneSinceTheListWasDrawnOpensNothing) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}});
    Search("printer");
    const QPoint caption = CaptionOf(0);
    FileDB().ExecSQL("Delete from textdata");  // behind the list's back
    ClickAt(caption);
    EXPECT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(dialogs->shown.back().text, "This entry has been deleted.");
    EXPECT_TRUE(f.ViewWindowCount() == 0);
    ClickAt(caption);
    EXPECT_TRUE(f.ViewWindowCount() == 0);  // no empty window either
}

TEST_F(ViewWindowTest, TheScrollBarScrollsTheListByPixels) {
    TForm1& f = OpenWith({{"printer jams", "a"}, {"printer offline", "b"}, {"printer slow", "c"}});
    Search("printer");
    const QPoint first = CaptionOf(0);
    ASSERT_GT(f.vs->maximum(), 5) << f.Results->ScrollHeight() << " " << f.PassesShown();
    f.vs->setValue(5);
    EXPECT_EQ(f.Results->ViewPoint(), QPoint(0, 5));
    EXPECT_EQ(CaptionOf(0).y(), first.y() - 5);
    // A search that finds less pulls the range (and the position) back, never below 0.
    f.vs->setValue(f.vs->maximum());
    Search("monitor");
    EXPECT_GE(f.vs->maximum(), 0);
    EXPECT_LE(f.vs->value(), f.vs->maximum());
}

}  // namespace
