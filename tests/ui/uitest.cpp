#include "uitest.h"

#include <QPlainTextEdit>
#include <QTest>
#include <clocale>

#include "splashu.h"

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

void MainWindowTest::SetUp() {
    TestApplication();
    auto scripted = std::make_unique<TScriptedDialogs>();
    dialogs = scripted.get();
    SetDialogs(std::move(scripted));
}

void MainWindowTest::TearDown() {
    form.reset();
    SetDialogs(nullptr);
    dialogs = nullptr;
}

TForm1& MainWindowTest::Open() {
    form.reset();
    form = std::make_unique<TForm1>(dir.Path());
    return *form;
}

void MainWindowTest::TypeProblem(const QString& text) {
    form->ProblemText->setFocus();
    for (QChar c : text) {
        form->ProblemText->insertPlainText(QString(c));
        QCoreApplication::processEvents();
    }
}

void MainWindowTest::WaitForSearches() {
    // Every queued query handled, and what the worker posted delivered (which may queue more).
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(WaitUntil([&] { return form->QueriesHandled() == form->QueriesPushed(); }));
        const int pushed = form->QueriesPushed();
        QCoreApplication::processEvents();
        if (form->QueriesPushed() == pushed && form->QueriesHandled() == pushed) return;
    }
    FAIL() << "searches never settled";
}
