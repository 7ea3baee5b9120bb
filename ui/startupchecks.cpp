#include "ui/startupchecks.h"

#include <QMetaObject>
#include <QString>
#include <chrono>

#include "core/transfer/backup.h"
#include "ui/application.h"
#include "ui/session.h"
#include "ui/widgets/dialogs.h"

TStartUpChecks::TStartUpChecks(TSession& session, QWidget* parent)
    : fsession(session), fparent(parent) {
    connect(&fsession, &TSession::opened, this, &TStartUpChecks::Opened);
}

TStartUpChecks::~TStartUpChecks() {
    if (fbackup.joinable()) fbackup.join();
}

void TStartUpChecks::Opened(const TKnowledgeEngine::TOpened& outcome) {
    if (fchecked || !outcome.error.empty() || fsession.Choice().IsServer()) return;
    fchecked = true;
    const std::string file = fsession.Location();
    if (WarnOfNetworkFileNow(file)) {
        Dialogs().ShowInformation(
            fparent, QStringLiteral("Knowledge base"),
            QStringLiteral(
                "The knowledge base is on a network folder:\n%1\n\nSeveral programs writing to "
                "one file over the network can damage it. To share a knowledge base with the "
                "office, put it on an office server: Knowledge base > Connect to office "
                "server...")
                .arg(QString::fromStdString(file)));
    }
    fbackup = std::thread([this, file] {
        const TBackupResult result = RunAutomaticBackup(file, std::chrono::system_clock::now());
        QMetaObject::invokeMethod(
            this, [this, result] { BackupEnded(result); }, Qt::QueuedConnection);
    });
}

void TStartUpChecks::BackupEnded(const TBackupResult& result) {
    fbackupDone = true;
    if (result.status != TBackupResult::TStatus::Failed) return;
    // The message says what failed and that the knowledge base is unchanged; only the way out
    // is added.
    Dialogs().ShowError(fparent, kApplicationTitle,
                        QStringLiteral("%1\n\nKnowledge base > Back up now... makes a copy "
                                       "elsewhere.")
                            .arg(QString::fromStdString(result.message)));
}
