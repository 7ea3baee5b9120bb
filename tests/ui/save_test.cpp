// Saving from the main window, the question asked on closing, and deleting an entry: what
// reaches the knowledge base, what stays in the boxes, and that a failure loses nothing.
#include <QPlainTextEdit>
#include <QPushButton>
#include <thread>

#include "core/knowledgebase.h"
#include "textsearch/locks.h"
#include "ui/widgets/qtext.h"
#include "uitest.h"

namespace {

int Rows(TForm1&, const std::string& table) {
    return static_cast<int>(FileDB().GetTable("select count(*) from " + table)->FieldAsInteger(0));
}

// Holds the work queue's lock on another thread until released, as a long search would.
class THeldLock {
public:
    explicit THeldLock(TForm1& f) {
        fthread = std::thread([this, &f] {
            TLockGuard lock(f.Session().TEST_Engine().TEST_DataLock(), 1000);
            fheld = lock.Owns();
            fready.test_and_set();
            fready.notify_all();
            frelease.wait(false);
        });
        fready.wait(false);
    }
    ~THeldLock() {
        frelease.test_and_set();
        frelease.notify_all();
        fthread.join();
    }
    bool Held() const { return fheld; }

private:
    std::atomic_flag fready, frelease;
    bool fheld = false;
    std::thread fthread;
};

TEST_F(MainWindowTest, SaveStoresTheTextsAsTypedAndEmptiesTheBoxes) {
    TForm1& f = Open();
    f.ProblemText->setPlainText("it's broken\nagain");
    f.SolutionText->setPlainText("don't panic");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->shown.size(), 0u);
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
    EXPECT_TRUE(f.SolutionText->toPlainText().isEmpty());
    const std::string ID = LastSavedID();
    EXPECT_EQ(kb::ReadDescription(FileDB(), ID, "P"), "it's broken\r\nagain");
    EXPECT_EQ(kb::ReadDescription(FileDB(), ID, "S"), "don't panic");
    // The loaded vectors follow at once.
    EXPECT_EQ(static_cast<int>(f.Session().TEST_Engine().LiveTexts()), 2);

    // Blanks and line breaks alone: nothing is stored (no search could ever list it), the user is
    // told, and the texts stay. A problem without a solution is still an entry.
    f.ProblemText->setPlainText(" \n\t");
    f.Button1->click();
    WaitForWrites(f.Session());
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_TRUE(dialogs->shown.back().text.startsWith("There is nothing to save"));
    EXPECT_EQ(f.ProblemText->toPlainText(), " \n\t");
    EXPECT_EQ(Rows(f, "textdata"), 2);
    f.ProblemText->setPlainText("printer jams");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(Rows(f, "textdata"), 4);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from vectors where vectordata=''"), "1");
}

TEST_F(MainWindowTest, TextsCrossTheBoxesWithoutLosingACharacter) {
    TForm1& f = Open();
    // What the code page holds is stored in it, as always; anything else keeps every character.
    const QString western = QString::fromUtf8("caf\u00e9 \u20ac \u201cquoted\u201d\nline");
    const QString any =
        QString::fromUtf8("Za\u017c\u00f3\u0142\u0107 \u6253\u5370 \U0001F5A8\nline");
    f.ProblemText->setPlainText(western);
    f.SolutionText->setPlainText(any);
    f.Button1->click();
    WaitForWrites(f.Session());
    const std::string problem = kb::ReadDescription(FileDB(), LastSavedID(), "P");
    const std::string solution = kb::ReadDescription(FileDB(), LastSavedID(), "S");
    EXPECT_EQ(problem, "caf\xE9 \x80 \x93quoted\x94\r\nline");
    EXPECT_EQ(ToEditorText(problem), western);
    EXPECT_EQ(ToEditorText(solution), any);
    // Every byte comes back as it went in.
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(FromQString(ToQString(all)), all);
}

TEST_F(MainWindowTest, CloseQuestionKeepsSavesOrDiscards) {
    {
        TForm1& f = Open();
        f.show();
        f.ProblemText->setPlainText("printer jams");
        f.SolutionText->setPlainText("clean it");
        dialogs->answers = {QMessageBox::Cancel};
        f.close();
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(f.ProblemText->toPlainText(), "printer jams");
        EXPECT_EQ(f.SolutionText->toPlainText(), "clean it");
        dialogs->answers = {QMessageBox::No};
        f.close();
        EXPECT_FALSE(f.isVisible());
    }
    {
        TForm1& f = Open();
        EXPECT_EQ(Rows(f, "textdata"), 0);  // No wrote nothing
        f.show();
        f.SolutionText->setPlainText("only a solution");
        dialogs->answers = {QMessageBox::Yes};
        f.close();
        WaitForWrites();
        EXPECT_FALSE(f.isVisible());
    }
    TForm1& f = Open();
    EXPECT_EQ(Rows(f, "textdata"), 2);
    EXPECT_EQ(Rows(f, "vectors"), 2);
    EXPECT_EQ(dialogs->Errors(), 0);
}

TEST_F(MainWindowTest, ASaveThatCannotTakeTheLockKeepsTheTextsAndSaysSo) {
    TForm1& f = Open();
    f.Session().TEST_Engine().TEST_SetWriteTimeout(200);
    f.show();
    f.ProblemText->setPlainText("printer jams");
    f.SolutionText->setPlainText("clean it");
    {
        THeldLock held(f);
        ASSERT_TRUE(held.Held());
        f.Button1->click();
        WaitForWrites(f.Session());
        ASSERT_EQ(dialogs->Errors(), 1);
        EXPECT_TRUE(dialogs->shown.back().text.contains("not saved"));
        EXPECT_EQ(f.ProblemText->toPlainText(), "printer jams");
        EXPECT_EQ(f.SolutionText->toPlainText(), "clean it");

        // Yes to the close question while busy: the window stays, texts and all.
        dialogs->answers = {QMessageBox::Yes};
        f.close();
        WaitForWrites();
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(dialogs->Errors(), 2);
        EXPECT_EQ(f.ProblemText->toPlainText(), "printer jams");
    }
    EXPECT_EQ(Rows(f, "textdata"), 0);
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(Rows(f, "textdata"), 2);
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, AFailingStatementLeavesNoHalfEntryAndNoHeldLock) {
    TForm1& f = Open();
    FileDB().ExecSQL("drop table vectors");  // behind the program's back
    f.ProblemText->setPlainText("printer jams");
    f.Button1->click();
    WaitForWrites(f.Session());
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_TRUE(dialogs->shown.back().text.startsWith("The entry was not saved."));
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer jams");
    EXPECT_EQ(Rows(f, "textdata"), 0);
    // Neither the lock nor the hourglass stayed behind (a search of the typed text may hold
    // the lock for a moment, hence a wait longer than any pass).
    std::thread other([&] {
        TLockGuard lock(f.Session().TEST_Engine().TEST_DataLock(), 3000);
        EXPECT_TRUE(lock.Owns());
    });
    other.join();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, DeleteRemovesTheEntryEverywhere) {
    TForm1& f = Open();
    f.ProblemText->setPlainText("scanner offline");
    f.SolutionText->setPlainText("replug the scanner");
    f.Button1->click();
    WaitForWrites(f.Session());
    const std::string gone = LastSavedID();
    f.ProblemText->setPlainText("scanner noisy");
    f.Button1->click();
    WaitForWrites(f.Session());
    DeleteNow(f.Session(), gone);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from textdata where ID='" + gone + "'"),
              "0");
    EXPECT_EQ(FileDB().GetTableString("select count(*) from vectors where ID='" + gone + "'"), "0");
    EXPECT_EQ(static_cast<int>(f.Session().TEST_Engine().LiveTexts()), 2);

    // A delete that cannot take the lock deletes nothing and raises.
    f.Session().TEST_Engine().TEST_SetWriteTimeout(100);
    THeldLock held(f);
    EXPECT_THROW(DeleteNow(f.Session(), LastSavedID()), Exception);
    EXPECT_EQ(Rows(f, "textdata"), 2);
}

}  // namespace
