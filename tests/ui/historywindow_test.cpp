// Edits that meet another program's write, the history of an entry and the entries deleted,
// through the view windows, their dialogs and the session on a real knowledge base file, with a
// second program (a session of its own) writing to the same file.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "core/knowledgebase.h"
#include "core/store/usersettings.h"
#include "ui/historydialog.h"
#include "ui/kbmenu.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "uitest.h"

namespace {

class HistoryTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    }
    void TearDown() override {
        other.reset();
        MainWindowTest::TearDown();
    }
    TForm1& OpenWith(std::initializer_list<std::pair<const char*, const char*>> entries) {
        for (std::string& ID : StoreEntries(entries))
            ids.push_back(std::move(ID));
        TForm1& f = Open();
        other = std::make_unique<TSession>(FileChoice(kb::KnowledgeBaseFile(dir.Path())));
        return f;
    }
    TShowItem& Window(const std::string& ID) {
        form->ViewWindows().Open(ID);
        WaitForWrites();
        TShowItem* window = form->ViewWindows().Find(ID);
        if (!window) throw Exception("no window opened");
        return *window;
    }
    // Edits the window's solution and saves, as the user would.
    void EditAndSave(TShowItem& window, const char* solution) {
        if (!window.Editing()) window.Button3->click();
        window.SolutionText->setPlainText(solution);
        window.Button3->click();
        WaitForWrites();
    }
    // The second program replaces the entry's solution, whatever version it holds.
    void ChangeElsewhere(const std::string& ID, const char* solution) {
        QObject receiver;
        other->Replace(&receiver, ID, "printer jams", solution, "", [](std::exception_ptr f) {
            if (f) std::rethrow_exception(f);
        });
        WaitForWrites(*other);
    }
    std::string StoredSolution(const std::string& ID) {
        return kb::ReadDescription(FileDB(), ID, kb::kSolution);
    }
    std::vector<TEntryVersion> History(const std::string& ID) {
        std::vector<TEntryVersion> versions;
        QObject receiver;
        session->History(&receiver, ID, [&](const auto& v, std::exception_ptr f) {
            if (f) std::rethrow_exception(f);
            versions = v;
        });
        WaitForWrites();
        return versions;
    }
    std::vector<std::string> Solutions(const std::vector<TEntryVersion>& versions) {
        std::vector<std::string> solutions;
        for (const TEntryVersion& v : versions)
            solutions.push_back(v.entry.solution);
        return solutions;
    }

    std::vector<std::string> ids;
    std::unique_ptr<TSession> other;
};

// Each choice of the conflict, and a conflict met again while the user was choosing: no text is
// lost that the user did not choose to drop.
TEST_F(HistoryTest, AnEditMeetingAnotherProgramsEditOffersTheThreeChoices) {
    OpenWith({{"printer jams", "clean the rollers"}});
    const std::string ID = ids[0];
    TShowItem& window = Window(ID);

    // Keep theirs: the window shows their version, and a later edit starts from it.
    ChangeElsewhere(ID, "theirs 1");
    dialogs->conflicts = {TConflictChoice::KeepTheirs};
    EditAndSave(window, "mine 1");
    ASSERT_EQ(dialogs->conflictsShown.size(), 1u);
    EXPECT_EQ(dialogs->conflictsShown[0].first.solution, "theirs 1");
    EXPECT_EQ(dialogs->conflictsShown[0].second.solution, "mine 1");
    EXPECT_FALSE(window.Editing());
    EXPECT_EQ(window.SolutionText->toPlainText(), "theirs 1");
    EXPECT_EQ(StoredSolution(ID), "theirs 1");
    EditAndSave(window, "mine after theirs");  // no conflict: the window read their version
    EXPECT_EQ(dialogs->conflictsShown.size(), 1u);
    EXPECT_EQ(StoredSolution(ID), "mine after theirs");

    // Save yours over it, while theirs changes once more: offered again, and both of theirs are
    // in the history.
    ChangeElsewhere(ID, "theirs 2");
    dialogs->conflicts = {TConflictChoice::SaveMine, TConflictChoice::SaveMine};
    int asked = 0;
    dialogs->onConflict = [&] {
        if (++asked == 1) ChangeElsewhere(ID, "theirs 3");
    };
    EditAndSave(window, "mine 2");
    dialogs->onConflict = nullptr;
    ASSERT_EQ(dialogs->conflictsShown.size(), 3u);
    EXPECT_EQ(dialogs->conflictsShown[2].first.solution, "theirs 3");
    EXPECT_FALSE(window.Editing());
    EXPECT_EQ(StoredSolution(ID), "mine 2");
    const std::vector<std::string> kept = Solutions(History(ID));
    ASSERT_GE(kept.size(), 2u);
    EXPECT_EQ(kept[0], "theirs 3");  // newest first
    EXPECT_EQ(kept[1], "theirs 2");

    // Decide later: still editing, the texts as typed, nothing written.
    ChangeElsewhere(ID, "theirs 4");
    dialogs->conflicts = {TConflictChoice::Cancel};
    EditAndSave(window, "mine 4");
    EXPECT_TRUE(window.Editing());
    EXPECT_EQ(window.SolutionText->toPlainText(), "mine 4");
    EXPECT_EQ(StoredSolution(ID), "theirs 4");

    // Save yours as a new entry: theirs stays, yours opens in a window of its own.
    dialogs->conflicts = {TConflictChoice::SaveAsNew};
    window.Button3->click();
    WaitForWrites();
    EXPECT_EQ(StoredSolution(ID), "theirs 4");
    EXPECT_EQ(window.SolutionText->toPlainText(), "theirs 4");
    ASSERT_EQ(form->ViewWindows().Count(), 2);
    TShowItem* mine = form->ViewWindows().At(1);
    EXPECT_NE(mine->EntryID(), ID);
    EXPECT_EQ(mine->SolutionText->toPlainText(), "mine 4");
    EXPECT_EQ(StoredSolution(mine->EntryID()), "mine 4");
    EXPECT_EQ(dialogs->Errors(), 0);
}

TEST_F(HistoryTest, AnEditOfAnEntryDeletedMeanwhileMayBecomeANewEntry) {
    OpenWith({{"printer jams", "clean the rollers"}});
    const std::string ID = ids[0];
    TShowItem& window = Window(ID);
    DeleteNow(*other, ID);

    dialogs->answers = {QMessageBox::No};
    EditAndSave(window, "mine");
    EXPECT_TRUE(window.Editing());  // nothing dropped
    EXPECT_EQ(window.SolutionText->toPlainText(), "mine");

    dialogs->answers = {QMessageBox::Yes};
    window.Button3->click();
    WaitForWrites();
    ASSERT_EQ(form->ViewWindows().Count(), 1);
    TShowItem* mine = form->ViewWindows().At(0);
    EXPECT_NE(mine->EntryID(), ID);
    EXPECT_EQ(StoredSolution(mine->EntryID()), "mine");
    EXPECT_EQ(dialogs->Errors(), 0);
}

TEST_F(HistoryTest, HistoryListsTheEarlierVersionsAndRestoresOneAsAnEdit) {
    TForm1& f = OpenWith({{"printer jams", "first"}, {"monitor flickers", "replug"}});
    dialogs->texts = {QStringLiteral("  anna ")};
    f.YourName1Click();
    EXPECT_EQ(ChosenWriterName(), "anna");
    const std::string ID = ids[0];
    TShowItem& window = Window(ID);
    EditAndSave(window, "second");
    EditAndSave(window, "third");
    EXPECT_TRUE(window.RecordLabel->text().contains("by anna"))
        << window.RecordLabel->text().toStdString();

    window.Button4->click();
    QPointer<THistoryDialog> dialog = window.HistoryDialog();
    ASSERT_TRUE(dialog);
    WaitForWrites();
    const auto listed = dialog->Listed();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]->entry.solution, "second");
    EXPECT_EQ(listed[1]->entry.solution, "first");
    EXPECT_EQ(listed[0]->who, "anna");
    dialog->Select(1);
    EXPECT_EQ(dialog->SolutionView->toPlainText(), "first");
    dialog->RestoreButton->click();
    WaitForWrites();
    EXPECT_TRUE(!dialog || !dialog->isVisible());
    EXPECT_EQ(window.SolutionText->toPlainText(), "first");
    EXPECT_EQ(StoredSolution(ID), "first");
    // The restore was an edit: the texts it replaced are kept, and it can be undone in turn.
    EXPECT_EQ(Solutions(History(ID)).front(), "third");
    EditAndSave(window, "fourth");  // the window holds the restored version: no conflict
    EXPECT_TRUE(dialogs->conflictsShown.empty());

    TShowItem& none = Window(ids[1]);
    none.Button4->click();
    WaitForWrites();
    ASSERT_TRUE(none.HistoryDialog());
    EXPECT_TRUE(none.HistoryDialog()->Listed().empty());
    EXPECT_EQ(none.HistoryDialog()->Status->text(), "No earlier versions of this entry are kept.");
    EXPECT_FALSE(none.HistoryDialog()->RestoreButton->isEnabled());
    EXPECT_EQ(dialogs->Errors(), 0);
}

TEST_F(HistoryTest, RecentlyDeletedFindsAnEntryByItsWordsAndBringsItBackSearchable) {
    TForm1& f = OpenWith({{"printer jams", "clean the rollers"}, {"monitor flickers", "replug"}, {"keyboard", "x"}});
    DeleteNow(*session, ids[0]);
    DeleteNow(*session, ids[1]);
    f.ProblemText->setPlainText("printer");
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 0);

    f.KnowledgeBaseMenu().RecentlyDeleted1Click();
    QPointer<THistoryDialog> dialog = f.findChild<THistoryDialog*>();
    ASSERT_TRUE(dialog);
    WaitForWrites();
    ASSERT_EQ(dialog->Listed().size(), 2u);
    EXPECT_EQ(dialog->Listed()[0]->entry.ID, ids[1]);  // newest first
    dialog->Find->setText(QStringLiteral("ROLL print\u00C9"));
    ASSERT_EQ(dialog->Listed().size(), 1u);
    EXPECT_EQ(dialog->Listed()[0]->entry.ID, ids[0]);
    dialog->Find->setText(QStringLiteral("rollers flickers"));
    EXPECT_TRUE(dialog->Listed().empty());
    EXPECT_EQ(dialog->Status->text(), "No deleted entry holds every word typed.");
    dialog->Find->setText(QStringLiteral("rollers"));

    dialog->RestoreButton->click();
    WaitForWrites();
    EXPECT_TRUE(!dialog || !dialog->isVisible());
    TShowItem* back = f.ViewWindows().Find(ids[0]);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->SolutionText->toPlainText(), "clean the rollers");
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 1);  // listed under "printer" at once
    EXPECT_EQ(f.ScoredHits().Items(0)->data->ID, ids[0]);
    EXPECT_EQ(dialogs->Errors(), 0);
}

}  // namespace
