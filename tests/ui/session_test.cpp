// A store that makes the program wait (a locked table on a distant server) never holds the
// window up: reading an entry, saving, replacing and deleting run off the user-interface thread,
// which keeps handling its events and painting under the hourglass, and each lands when the store
// answers. A write that times out says so and loses none of the texts typed.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#include "core/knowledgebase.h"
#include "core/store/sqlitestore.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "uitest.h"

namespace {

// Where every read and write of an entry waits while it is shut, or fails as a statement that
// ran out of time does.
class TGate {
public:
    void Shut() {
        std::lock_guard<std::mutex> lock(fmutex);
        fopen = false;
    }
    void Open(bool fail = false) {
        std::lock_guard<std::mutex> lock(fmutex);
        fopen = true;
        ffail = fail;
        fchanged.notify_all();
    }
    int Waiting() {
        std::lock_guard<std::mutex> lock(fmutex);
        return fwaiting;
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(fmutex);
        ++fwaiting;
        fchanged.wait(lock, [&] { return fopen; });
        --fwaiting;
        if (ffail) throw Exception("The office server did not answer within 20 seconds");
    }

private:
    std::mutex fmutex;
    std::condition_variable fchanged;
    bool fopen = true;   // guarded by fmutex
    bool ffail = false;  // guarded by fmutex
    int fwaiting = 0;    // guarded by fmutex
};

// A knowledge base file whose entries are read and written through the gate.
class TGatedStore : public TSQLiteStore {
public:
    TGatedStore(std::string file, TGate& gate) : TSQLiteStore(std::move(file)), fgate(gate) {}
    std::string SaveEntry(std::string_view problem, std::string_view solution,
                          TSearchIndex* index) override {
        fgate.Pass();
        return TSQLiteStore::SaveEntry(problem, solution, index);
    }
    void ReplaceEntry(std::string_view ID, std::string_view problem, std::string_view solution,
                      std::string_view seenVersion, TSearchIndex* index) override {
        fgate.Pass();
        TSQLiteStore::ReplaceEntry(ID, problem, solution, seenVersion, index);
    }
    void DeleteEntry(std::string_view ID, TSearchIndex* index) override {
        fgate.Pass();
        TSQLiteStore::DeleteEntry(ID, index);
    }
    TEntryTexts ReadEntry(std::string_view ID) override {
        fgate.Pass();
        return TSQLiteStore::ReadEntry(ID);
    }

private:
    TGate& fgate;
};

class SessionTest : public MainWindowTest {
protected:
    void TearDown() override {
        fgate.Open();  // nothing may stay waiting when the session goes
        MainWindowTest::TearDown();
    }

    TForm1& OpenGated() {
        const std::string file = kb::KnowledgeBaseFile(dir.Path());
        {
            TSQLiteDatabase DB(file);
            kb::CreateMissingTables(DB);
            ID = kb::SaveEntry(DB, "printer jams", "clean the rollers");
        }
        Close();
        session = std::make_unique<TSession>(FileChoice(file), [this](const TStoreChoice& c) {
            return std::make_unique<TGatedStore>(ChoiceFile(c), fgate);
        });
        form = std::make_unique<TForm1>(*session);
        WaitForOpening();
        form->show();
        form->ProblemText->setPlainText("printer");
        WaitForSearches();
        return *form;
    }

    // While the store holds a read or write, the window's thread goes on: its timers fire and
    // the list paints, under the hourglass.
    void ExpectTheWindowGoesOnWhileTheStoreWaits() {
        ASSERT_TRUE(WaitUntil([&] { return fgate.Waiting() == 1; }));
        int ticks = 0, paints = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        QObject::connect(form->Results, &vRenderPanel::OnPaint, [&] { ++paints; });
        timer.start(1);
        EXPECT_TRUE(WaitUntil([&] {
            form->Results->update();
            return ticks >= 5 && paints >= 2;
        }));
        EXPECT_EQ(fgate.Waiting(), 1);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        EXPECT_GT(session->Working(), 0);
    }

    TShowItem* OpenEntry() {
        vRenderPanel& panel = *form->Results;
        for (int y = 0; y < panel.height(); ++y) {
            panel.Hover(10, y);
            panel.repaint();
            if (panel.Hover(10, y)) {
                QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(10, y + 2));
                WaitForWrites();
                return form->ViewWindows().Find(ID);
            }
        }
        return nullptr;
    }

    int Rows() { return std::stoi(FileDB().GetTableString("select count(*) from textdata")); }

    TGate fgate;
    std::string ID;
};

TEST_F(SessionTest, ReadsAndWritesWaitOffTheWindowsThreadAndLandWhenTheStoreAnswers) {
    TForm1& f = OpenGated();

    // A click on a hit: the view window opens when its texts arrive.
    fgate.Shut();
    vRenderPanel& panel = *f.Results;
    for (int y = 0; y < panel.height() && !fgate.Waiting(); ++y) {
        panel.Hover(10, y);
        panel.repaint();
        if (panel.Hover(10, y))
            QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(10, y + 2));
        QCoreApplication::processEvents();
    }
    ExpectTheWindowGoesOnWhileTheStoreWaits();
    EXPECT_EQ(f.ViewWindows().Count(), 0);
    fgate.Open();
    WaitForWrites();
    TShowItem* window = f.ViewWindows().Find(ID);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->SolutionText->toPlainText(), "clean the rollers");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Save: the boxes keep their texts, read-only, until the entry is stored.
    fgate.Shut();
    f.SolutionText->setPlainText("replug it");
    f.Button1->click();
    ExpectTheWindowGoesOnWhileTheStoreWaits();
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer");
    EXPECT_TRUE(f.ProblemText->isReadOnly());
    EXPECT_FALSE(f.Button1->isEnabled());
    fgate.Open();
    WaitForWrites();
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
    EXPECT_FALSE(f.ProblemText->isReadOnly());
    EXPECT_EQ(Rows(), 4);

    // An edit saved from the view window, then the entry deleted from it.
    window->Button3->click();
    window->SolutionText->setPlainText("clean the rollers twice");
    fgate.Shut();
    window->Button3->click();
    ExpectTheWindowGoesOnWhileTheStoreWaits();
    EXPECT_TRUE(window->Waiting());
    fgate.Open();
    WaitForWrites();
    EXPECT_FALSE(window->Editing());
    EXPECT_EQ(kb::ReadDescription(FileDB(), ID, kb::kSolution), "clean the rollers twice");

    dialogs->answers = {QMessageBox::Yes};
    fgate.Shut();
    window->Button1->click();
    ExpectTheWindowGoesOnWhileTheStoreWaits();
    EXPECT_TRUE(window->isVisible());
    fgate.Open();
    WaitForWrites();
    EXPECT_EQ(f.ViewWindows().Count(), 0);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SessionTest, AWriteThatTimesOutSaysSoAndKeepsTheTexts) {
    TForm1& f = OpenGated();
    TShowItem* window = OpenEntry();
    ASSERT_NE(window, nullptr);
    fgate.Open(true);

    f.SolutionText->setPlainText("replug it");
    f.Button1->click();
    WaitForWrites();
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(dialogs->shown.back().text,
              "The entry was not saved. The office server did not answer within 20 seconds.");
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer");
    EXPECT_EQ(f.SolutionText->toPlainText(), "replug it");
    EXPECT_FALSE(f.ProblemText->isReadOnly());
    EXPECT_TRUE(f.Button1->isEnabled());

    window->Button3->click();
    window->SolutionText->setPlainText("clean the rollers twice");
    window->Button3->click();
    WaitForWrites();
    ASSERT_EQ(dialogs->Errors(), 2);
    EXPECT_TRUE(window->Editing());
    EXPECT_EQ(window->SolutionText->toPlainText(), "clean the rollers twice");
    window->Button2->click();  // Cancel

    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    ASSERT_EQ(dialogs->Errors(), 3);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(f.ViewWindows().Count(), 1);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
