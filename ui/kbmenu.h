// The "Knowledge base" menu of the main window: backing up, exporting and importing the entries,
// the entries deleted (to restore one), showing where they are kept, and choosing between this
// computer's file and an office server.
// Each item asks what it needs and hands the job to one call of the core (or of the session);
// long work (a backup, an export, an import, reaching and filling a server) runs on a thread of
// its own behind a progress dialog (longtask.h), so the window keeps painting meanwhile.
//
// Threads: user-interface thread.
#pragma once

#include <QObject>
#include <string>

class QAction;
class QMenu;
class QWidget;
class TSession;

class TKnowledgeBaseMenu : public QObject {
    Q_OBJECT

public:
    // Fills menu with the items below, for the session's store; window (the menu's owner) is
    // the one the dialogs are shown over.
    TKnowledgeBaseMenu(TSession& session, QWidget* window, QMenu* menu);

    QAction* BackUp1 = nullptr;
    QAction* Export1 = nullptr;
    QAction* Import1 = nullptr;
    QAction* RecentlyDeleted1 = nullptr;
    QAction* ShowDataFolder1 = nullptr;
    QAction* ConnectToServer1 = nullptr;
    QAction* UseThisComputer1 = nullptr;

    void BackUp1Click();
    void Export1Click();
    void Import1Click();
    // The entries deleted, in a dialog of their own (THistoryDialog): Restore brings one back.
    void RecentlyDeleted1Click();
    void ShowDataFolder1Click();
    void ConnectToServer1Click();
    void UseThisComputer1Click();

signals:
    // A deleted entry is back, under its own ID: to be listed and opened.
    void entryRestored(const std::string& ID);

private:
    void UpdateItems();

    TSession& fsession;
    QWidget* fwindow;
};
