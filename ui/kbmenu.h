// The "Knowledge base" menu of the main window: backing up, exporting and importing the entries,
// showing where they are kept, and choosing between this computer's file and an office server.
// Also what follows the opening at start: the automatic backup of the file, and the one-time
// warning when the file lies on a network file system.
//
// Long work (a backup, an export, an import, a copy to the server) runs on a thread of its own
// behind a progress dialog (longtask.h); the window keeps painting meanwhile.
//
// Threads: user-interface thread, but for the automatic backup's own thread, which touches no
// widget and is joined when the menu goes.
#pragma once

#include <QObject>
#include <QString>
#include <thread>

#include "core/store/storechoice.h"

class QAction;
class QMenu;
class TForm1;
struct TBackupResult;

class TKnowledgeBaseMenu : public QObject {
    Q_OBJECT

public:
    // Fills menu with the items below; form is the main window, the menu's owner.
    TKnowledgeBaseMenu(TForm1& form, QMenu* menu);
    ~TKnowledgeBaseMenu() override;

    QAction* BackUp1 = nullptr;
    QAction* Export1 = nullptr;
    QAction* Import1 = nullptr;
    QAction* ShowDataFolder1 = nullptr;
    QAction* ConnectToServer1 = nullptr;
    QAction* UseThisComputer1 = nullptr;

    void BackUp1Click();
    void Export1Click();
    void Import1Click();
    void ShowDataFolder1Click();
    void ConnectToServer1Click();
    void UseThisComputer1Click();

    // After the first successful opening of a file: the network warning and the automatic
    // backup. Off unless asked for (the program asks; tests ask when they test it).
    void SetStartUpChecks(bool on) { fstartUpChecks = on; }
    // The automatic backup's thread has ended and its result has been shown.
    bool AutomaticBackupDone() const { return fbackupDone; }

signals:
    // Where the entries are kept now, as the user would name it.
    void locationChanged(const QString& location);

private:
    void UpdateItems();
    void Opened(const QString& error);
    void StartAutomaticBackup(const std::string& file);
    void AutomaticBackupEnded(const TBackupResult& result);

    TForm1& fform;
    // The file to go back to from a server: the one left for it in this run, else the default.
    TStoreChoice fcomputerFile;
    bool fstartUpChecks = false;
    bool fcheckedAtStart = false;
    bool fbackupDone = false;
    std::thread fbackup;  // the automatic backup, joined when the menu goes
};
