// Shared set-up of the widget tests: one application object on the offscreen platform, scripted
// message boxes, and a main window on a knowledge base in a fresh directory.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sqlite/sqlitedb.h"
#include "tempdir.h"
#include "ui/application.h"
#include "ui/mainform.h"
#include "ui/session.h"
#include "ui/widgets/dialogs.h"

// Message boxes answered from a script; every box asked or shown is recorded.
class TScriptedDialogs : public TDialogs {
public:
    struct TShown {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        bool error = false;
    };
    QMessageBox::StandardButton Ask(QWidget*, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons) override {
        shown.push_back({title, text, buttons, false});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return QMessageBox::Cancel;
        }
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowError(QWidget*, const QString& title, const QString& text) override {
        shown.push_back({title, text, QMessageBox::Ok, true});
    }
    void ShowInformation(QWidget*, const QString& title, const QString& text) override {
        shown.push_back({title, text, QMessageBox::Ok, false});
    }
    // File dialogs and text questions take their answers from files (empty: cancelled) and
    // texts; a save dialog's chosen filter is the filters' first line unless filter is set.
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString& filters,
                         QString* chosenFilter) override {
        if (chosenFilter) *chosenFilter = filter.isEmpty() ? filters.section(";;", 0, 0) : filter;
        return NextFile();
    }
    QString OpenFileName(QWidget*, const QString&, const QString&) override { return NextFile(); }
    std::optional<QString> AskText(QWidget*, const QString&, const QString& label,
                                   const QString&) override {
        shown.push_back({QString(), label, QMessageBox::Ok, false});
        if (texts.empty()) {
            ADD_FAILURE() << "unexpected text question: " << label.toStdString();
            return std::nullopt;
        }
        auto text = texts.front();
        texts.pop_front();
        return text;
    }
    // Edit conflicts are answered from conflicts; each is recorded with both versions, and
    // onConflict, when set, runs first (as another program's write while the user reads).
    TConflictChoice ResolveConflict(QWidget*, const TConflictTexts& theirs,
                                    const TConflictTexts& yours) override {
        conflictsShown.push_back({theirs, yours});
        if (onConflict) onConflict();
        if (conflicts.empty()) {
            ADD_FAILURE() << "unexpected edit conflict";
            return TConflictChoice::Cancel;
        }
        const auto choice = conflicts.front();
        conflicts.pop_front();
        return choice;
    }
    QString NextFile() {
        if (files.empty()) {
            ADD_FAILURE() << "unexpected file dialog";
            return {};
        }
        QString file = files.front();
        files.pop_front();
        return file;
    }
    int Errors() const {
        int n = 0;
        for (const auto& s : shown)
            n += s.error ? 1 : 0;
        return n;
    }

    std::deque<QMessageBox::StandardButton> answers;
    std::deque<QString> files;
    std::deque<std::optional<QString>> texts;
    QString filter;
    std::vector<TShown> shown;
    std::deque<TConflictChoice> conflicts;
    std::vector<std::pair<TConflictTexts, TConflictTexts>> conflictsShown;  // theirs, yours
    std::function<void()> onConflict;
};

// A connection of the test's own to the knowledge base file of the running test, opened when first
// asked for and closed when the test ends.
TSQLiteDatabase& FileDB();
// The ID of the entry saved last into that file.
std::string LastSavedID();

// The application object, created once for the whole test program.
QApplication& TestApplication();

// Processes events until done() holds or timeoutMs passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Processes events until every read and write asked of session has reported.
void WaitForWrites(TSession& session);
// Deletes entry ID as a view window's Delete does, once the session has; raises what it raised.
void DeleteNow(TSession& session, const std::string& ID);

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A session on the knowledge base in dir and a main window over it (the previous ones, if
    // any, closed first); Open waits for the opening, Make does not.
    TForm1& Open();
    TForm1& Make(const TStoreChoice& choice);
    // Stores entries (problem, solution) in the knowledge base file in dir, as a save does,
    // before a window opens it; their IDs, in order.
    std::vector<std::string> StoreEntries(
        std::initializer_list<std::pair<const char*, const char*>> entries);
    // Closes the window, then its session.
    void Close();
    // Types text into the problem box as a user would, one character at a time.
    void TypeProblem(const QString& text);
    // Waits until the main window has heard how opening its knowledge base went.
    void WaitForOpening();
    // Waits until the worker is idle and every pass has been shown.
    void WaitForSearches();
    // Waits until every read and write asked for has reported.
    void WaitForWrites() { ::WaitForWrites(*session); }
    void WaitForWrites(TSession& other) { ::WaitForWrites(other); }

    TTempDir dir;
    TScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<TSession> session;
    std::unique_ptr<TForm1> form;
};
