// The "Knowledge base" menu: export and import through the real dialogs' seams, backups made by
// hand and at start, and leaving one knowledge base for another with the windows in step.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "core/knowledgebase.h"
#include "core/transfer/backup.h"
#include "sqlite/sqlitedb.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/kbmenu.h"
#include "ui/startupchecks.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "uitest.h"

namespace {

namespace fs = std::filesystem;

std::vector<TStoredEntry> Entries(TForm1& f) {
    std::vector<TStoredEntry> entries;
    f.Session().TEST_Engine().Store().ForEachEntry(
        [&](const TStoredEntry& e) { entries.push_back(e); }, {});
    return entries;
}

void Save(TForm1& f, const QString& problem, const QString& solution) {
    f.ProblemText->setPlainText(problem);
    f.SolutionText->setPlainText(solution);
    f.Button1->click();
    WaitForWrites(f.Session());
}

class KnowledgeBaseMenuTest : public MainWindowTest {
protected:
    TKnowledgeBaseMenu& Menu() { return form->KnowledgeBaseMenu(); }
    const TScriptedDialogs::TShown& LastShown() { return dialogs->shown.back(); }
};

TEST_F(KnowledgeBaseMenuTest, ExportAndImportCarryEveryEntryToAnotherKnowledgeBase) {
    TForm1& f = Open();
    Save(f, "printer jams, \"again\"\nwith envelopes", "open tray 2");
    Save(f, QStringLiteral("Zażółć gęślą jaźń printer"), QStringLiteral("Ελληνικά"));
    Save(f, "scanner cable", "");
    const auto saved = Entries(f);
    ASSERT_EQ(saved.size(), 3u);

    // A name without an extension takes the chosen format's; nothing half-written is left.
    dialogs->filter = "JSON (*.json)";
    dialogs->files = {QString::fromStdString(dir.File("every"))};
    Menu().Export1Click();
    EXPECT_TRUE(fs::exists(dir.File("every.json")));
    dialogs->filter.clear();
    dialogs->files = {QString::fromStdString(dir.File("every.csv"))};
    Menu().Export1Click();
    EXPECT_FALSE(fs::exists(dir.File("every.csv.part")));
    EXPECT_TRUE(LastShown().text.contains("every.csv"));

    // An entry opened and being edited holds the switch back; nothing changes.
    const std::string other = dir.File("other.dat");
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.ProblemText->setPlainText("printer");
    WaitForSearches();
    f.Results->setFocus(Qt::TabFocusReason);
    ASSERT_GT(f.ScoredHits().Count(), 0);
    QTest::keyClick(f.Results, Qt::Key_Return);
    WaitForWrites();
    ASSERT_EQ(f.ViewWindows().Count(), 1);
    TShowItem* view = f.ViewWindows().At(0);
    view->Button3Click();  // Edit
    view->SolutionText->setPlainText("half an edit");
    EXPECT_THROW(f.Session().UseStore(FileChoice(other)), Exception);
    EXPECT_EQ(f.Session().Choice().where, kb::KnowledgeBaseFile(dir.Path()));
    EXPECT_EQ(f.ViewWindows().Count(), 1);
    view->Button2Click();  // Cancel gives the edit up

    // Another knowledge base: the list empties, the view windows close, the new file opens.
    f.Session().UseStore(FileChoice(other));
    WaitForOpening();
    EXPECT_EQ(f.ViewWindows().Count(), 0);
    EXPECT_EQ(f.ScoredHits().Count(), 0);
    EXPECT_TRUE(fs::exists(other));

    dialogs->files = {QString::fromStdString(dir.File("every.csv"))};
    Menu().Import1Click();
    EXPECT_EQ(LastShown().text, "3 entries imported.");
    dialogs->files = {QString::fromStdString(dir.File("every.json"))};
    Menu().Import1Click();
    EXPECT_EQ(LastShown().text,
              "0 entries imported.\n3 entries were in the knowledge base already and were "
              "skipped.");
    // The knowledge base in use, offered as its own import, is left alone.
    dialogs->files = {QString::fromStdString(other)};
    Menu().Import1Click();
    EXPECT_TRUE(LastShown().text.startsWith("That is the knowledge base in use"));
    const auto imported = Entries(f);
    ASSERT_EQ(imported.size(), saved.size());
    for (size_t i = 0; i < saved.size(); ++i) {
        EXPECT_EQ(imported[i].ID, saved[i].ID);
        EXPECT_EQ(imported[i].problem, saved[i].problem);
        EXPECT_EQ(imported[i].solution, saved[i].solution);
    }
    // And searched at once, as entries saved here are.
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 2);
    EXPECT_EQ(dialogs->Errors(), 0);
}

TEST_F(KnowledgeBaseMenuTest, ExportOntoTheKnowledgeBaseInUseOrALinkToItIsRefused) {
    TForm1& f = Open();
    Save(f, "printer jams", "open tray 2");
    const auto saved = Entries(f);
    const std::string kbFile = kb::KnowledgeBaseFile(dir.Path()), link = dir.File("link.csv");
    fs::create_symlink(kbFile, link);
    for (const std::string& target : {kbFile, link}) {
        dialogs->files = {QString::fromStdString(target)};
        try {
            Menu().Export1Click();
            ADD_FAILURE() << "exported onto " << target;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(fs::is_symlink(link));
    Save(f, "scanner cable", "");
    EXPECT_EQ(Entries(f).size(), saved.size() + 1);
    EXPECT_EQ(TSQLiteDatabase(kbFile).GetTableString("PRAGMA integrity_check"), "ok");
}

TEST_F(KnowledgeBaseMenuTest, BackupsByHandAndOnceADayAtStart) {
    TForm1& f = Open();
    Save(f, "printer jams", "open tray 2");
    const std::string copy = dir.File("copy.dat");
    dialogs->files = {QString::fromStdString(copy)};
    Menu().BackUp1Click();
    ASSERT_TRUE(fs::exists(copy));
    TSQLiteDatabase db(copy);
    EXPECT_EQ(db.GetTable("select count(*) from textdata")->FieldAsInteger(0), 2);
    // Cancelled: nothing happens.
    dialogs->files = {QString()};
    const size_t shown = dialogs->shown.size();
    Menu().BackUp1Click();
    EXPECT_EQ(dialogs->shown.size(), shown);

    // At start, when asked for: one backup of the day beside the file, the window not waiting.
    const std::string kbFile = kb::KnowledgeBaseFile(dir.Path());
    Make(FileChoice(kbFile));
    auto checks = std::make_unique<TStartUpChecks>(*session, form.get());
    WaitForOpening();
    ASSERT_TRUE(WaitUntil([&] { return checks->BackupDone(); }, 30000));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(BackupFolder(kbFile)))
        names.push_back(entry.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(BackupDate(kbFile, names[0]).has_value()) << names[0];

    // A backup that cannot be made is said, once, and the program goes on.
    fs::remove_all(BackupFolder(kbFile));
    std::ofstream(BackupFolder(kbFile)) << "in the way";
    checks.reset();
    dialogs->shown.clear();
    Make(FileChoice(kbFile));
    checks = std::make_unique<TStartUpChecks>(*session, form.get());
    WaitForOpening();
    ASSERT_TRUE(WaitUntil([&] { return checks->BackupDone(); }, 30000));
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_TRUE(dialogs->shown.back().text.contains("daily backup"))
        << dialogs->shown.back().text.toStdString();
    // Each of its sentences once.
    EXPECT_EQ(dialogs->shown.back().text.count("could not be made"), 1);
    EXPECT_EQ(dialogs->shown.back().text.count("unchanged"), 1);
}

}  // namespace
