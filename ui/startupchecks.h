// TStartUpChecks: what follows the run's first opening that succeeds, when it is of a knowledge
// base file: the one-time warning when the file lies on a network file system, then the daily
// backup (backup.h) on a thread of its own, whose failure is said once. Nothing for an office
// server.
//
// Threads: user-interface thread, but for the backup's own thread, which touches no widget and
// is joined when the checks go.
#pragma once

#include <QObject>
#include <string>
#include <thread>

#include "core/engine.h"

class QWidget;
class TSession;
struct TBackupResult;

class TStartUpChecks : public QObject {
    Q_OBJECT

public:
    // parent: the window the messages are shown over; it outlives the checks.
    TStartUpChecks(TSession& session, QWidget* parent);
    ~TStartUpChecks() override;

    // The backup's thread has ended and its result has been shown.
    bool BackupDone() const { return fbackupDone; }

private:
    void Opened(const TKnowledgeEngine::TOpened& outcome);
    void BackupEnded(const TBackupResult& result);

    TSession& fsession;
    QWidget* fparent;
    bool fchecked = false;
    bool fbackupDone = false;
    std::thread fbackup;
};
