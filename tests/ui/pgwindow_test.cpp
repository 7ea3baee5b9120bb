// The windows on an office server: connecting through the Knowledge base menu copies this
// computer's entries over and lists them; a second window on the same server lists what the
// first saves without anyone typing; going back to this computer's file lists its entries again.
#include <QPlainTextEdit>
#include <QPushButton>

#include "core/knowledgebase.h"
#include "pgtest.h"
#include "sqlite/sqlitedb.h"
#include "ui/kbmenu.h"
#include "ui/uitest.h"

namespace {

class PgWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        REQUIRE_TEST_SERVER();
        MainWindowTest::SetUp();
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        unsetenv(std::string(kDatabaseVariable).c_str());
    }
    static bool Lists(TForm1& f, int hits) {
        return WaitUntil(
            [&] {
                return f.Session().TEST_Engine().Idle() &&
                       f.PassesShown() == f.Session().TEST_Engine().PassesRun() &&
                       f.ScoredHits().Count() == hits;
            },
            20000);
    }
};

TEST_F(PgWindowTest, TwoWindowsShareOneServerAndTheFileComesBack) {
    {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        kb::SaveEntry(DB, "printer jams", "open tray 2");
        kb::SaveEntry(DB, "printer offline", "restart the spooler");
    }
    TPgTestDatabase server(*TestServer());
    TForm1& a = Open();
    a.ProblemText->setPlainText("printer");
    ASSERT_TRUE(Lists(a, 2));

    dialogs->texts = {QString::fromStdString(server.Conninfo())};
    dialogs->answers = {QMessageBox::Yes};  // copy this computer's entries
    a.KnowledgeBaseMenu().ConnectToServer1Click();
    ASSERT_TRUE(a.Session().Choice().IsServer());
    EXPECT_EQ(dialogs->shown.back().text,
              "2 entries copied to the office server; 0 were there already.");
    EXPECT_EQ(CurrentChoice().where, server.Conninfo());  // kept for the next start
    WaitForOpening();
    ASSERT_TRUE(Lists(a, 2));  // the problem typed before is searched on the server

    // A second program's window on the same server: its save reaches the first one's list.
    TSession other(ServerChoice(server.Conninfo()));
    TForm1 b(other);
    ASSERT_TRUE(WaitUntil([&] { return b.Session().Opened(); }, 20000));
    b.ProblemText->setPlainText("printer paper tray");
    b.SolutionText->setPlainText("fan the paper");
    b.Button1->click();
    WaitForWrites(b.Session());
    EXPECT_TRUE(b.ProblemText->toPlainText().isEmpty());
    ASSERT_TRUE(Lists(a, 3));

    a.KnowledgeBaseMenu().UseThisComputer1Click();
    EXPECT_FALSE(a.Session().Choice().IsServer());
    EXPECT_FALSE(CurrentChoice().IsServer());
    WaitForOpening();
    ASSERT_TRUE(Lists(a, 2));
    EXPECT_EQ(dialogs->Errors(), 0);
}

}  // namespace
