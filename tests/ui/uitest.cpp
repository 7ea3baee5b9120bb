#include "uitest.h"

#include <QPlainTextEdit>
#include <QTest>
#include <clocale>

#include "core/knowledgebase.h"
#include "ui/splashu.h"

namespace {
std::string gcurrentDir;
std::unique_ptr<TSQLiteDatabase> gfileDB;
}  // namespace

TSQLiteDatabase& FileDB() {
    if (!gfileDB) gfileDB = std::make_unique<TSQLiteDatabase>(kb::KnowledgeBaseFile(gcurrentDir));
    return *gfileDB;
}

std::string LastSavedID() {
    return FileDB().GetTableString("select ID from textdata order by rowid desc limit 1");
}

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "pelloquin-test";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        std::setlocale(LC_ALL, "");
        auto* a = new TApplication(argc, argv);
        SetUpApplication();
        SetSplashWait(NoSplashWait);  // the splash runs its whole sequence, without the waits
        return a;
    }();
    return *app;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

void WaitForWrites(TSession& session) {
    ASSERT_TRUE(WaitUntil([&] { return session.Working() == 0; }, 60000));
}

void DeleteNow(TSession& session, const std::string& ID) {
    std::exception_ptr failure;
    bool done = false;
    QObject receiver;
    session.Delete(&receiver, ID, [&](std::exception_ptr f) {
        failure = NotDeleted(f);
        done = true;
    });
    WaitUntil([&] { return done; }, 60000);
    if (!done) throw Exception("the delete did not report");
    if (failure) std::rethrow_exception(failure);
}

void MainWindowTest::SetUp() {
    TestApplication();
    gcurrentDir = dir.Path();
    auto scripted = std::make_unique<TScriptedDialogs>();
    dialogs = scripted.get();
    SetDialogs(std::move(scripted));
}

void MainWindowTest::TearDown() {
    Close();
    gfileDB.reset();
    SetDialogs(nullptr);
    dialogs = nullptr;
}

std::vector<std::string> MainWindowTest::StoreEntries(
    std::initializer_list<std::pair<const char*, const char*>> entries) {
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    std::vector<std::string> IDs;
    for (const auto& [problem, solution] : entries)
        IDs.push_back(kb::SaveEntry(DB, problem, solution));
    return IDs;
}

TForm1& MainWindowTest::Open() {
    Make(FileChoice(kb::KnowledgeBaseFile(dir.Path())));
    WaitForOpening();
    return *form;
}

TForm1& MainWindowTest::Make(const TStoreChoice& choice) {
    Close();
    session = std::make_unique<TSession>(choice);
    form = std::make_unique<TForm1>(*session);
    return *form;
}

void MainWindowTest::Close() {
    form.reset();
    session.reset();
}

void MainWindowTest::WaitForOpening() {
    ASSERT_TRUE(WaitUntil([&] { return session->Opened(); }, 30000));
}

void MainWindowTest::TypeProblem(const QString& text) {
    form->ProblemText->setFocus();
    for (QChar c : text) {
        form->ProblemText->insertPlainText(QString(c));
        QCoreApplication::processEvents();
    }
}

void MainWindowTest::WaitForSearches() {
    // The worker idle, and every pass it handed over shown.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return session->TEST_Engine().Idle() &&
                   form->PassesShown() == session->TEST_Engine().PassesRun();
        },
        30000));
}
