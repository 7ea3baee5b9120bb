#include "ui/kbmenu.h"

#include <QAction>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QMetaObject>
#include <QUrl>
#include <chrono>
#include <filesystem>

#include "ui/application.h"
#include "core/transfer/backup.h"
#include "ui/widgets/dialogs.h"
#include "core/engine.h"
#include "core/transfer/entryexport.h"
#include "core/transfer/entryimport.h"
#include "ui/widgets/longtask.h"
#include "ui/mainform.h"
#include "core/store/pgstore.h"
#include "core/store/servercopy.h"
#include "core/store/storechoice.h"

namespace {

const QString kExportFilters =
    QStringLiteral("CSV, for spreadsheets (*.csv);;JSON (*.json);;Markdown, for reading (*.md)");
const QString kImportFilters =
    QStringLiteral("Exports and knowledge bases (*.csv *.json *.dat);;All files (*)");
// The failures an import's summary lists; the rest are counted.
constexpr size_t kFailuresShown = 10;

QString FromPath(const std::string& path) {
    return QString::fromStdString(path);
}

std::string ToPath(const QString& path) {
    return path.toStdString();
}

// The format a file name's extension names, else the one of the filter chosen.
TExportFormat ExportFormatOf(const QString& file, const QString& filter) {
    if (const auto named = ExportFormatNamed(QFileInfo(file).suffix().toLower().toStdString()))
        return *named;
    if (filter.contains(QStringLiteral("*.json"))) return TExportFormat::Json;
    if (filter.contains(QStringLiteral("*.md"))) return TExportFormat::Markdown;
    return TExportFormat::Csv;
}

QString ExtensionOf(TExportFormat format) {
    switch (format) {
        case TExportFormat::Json:
            return QStringLiteral("json");
        case TExportFormat::Markdown:
            return QStringLiteral("md");
        case TExportFormat::Csv:
            break;
    }
    return QStringLiteral("csv");
}

// A count as the user's language writes it (10,000).
QString Count(size_t n) {
    return QLocale().toString(static_cast<qulonglong>(n));
}

QString ImportSummary(const TImportSummary& summary) {
    if (summary.cancelled) return QStringLiteral("The import was cancelled: nothing was stored.");
    QString text = QStringLiteral("%1 entries imported.").arg(Count(summary.imported));
    if (summary.skipped > 0) {
        text += QStringLiteral("\n%1 entries were in the knowledge base already and were skipped.")
                    .arg(Count(summary.skipped));
    }
    if (summary.failed > 0) {
        text += QStringLiteral("\n%1 rows could not be imported:").arg(Count(summary.failed));
        for (size_t i = 0; i < summary.failures.size() && i < kFailuresShown; ++i)
            text += QStringLiteral("\n  ") + QString::fromStdString(summary.failures[i]);
        if (summary.failed > kFailuresShown) text += QStringLiteral("\n  ...");
    }
    return text;
}

QString Title() {
    return QStringLiteral("Knowledge base");
}

}  // namespace

TKnowledgeBaseMenu::TKnowledgeBaseMenu(TForm1& form, QMenu* menu) : QObject(&form), fform(form) {
    BackUp1 = menu->addAction(QStringLiteral("&Back up now..."));
    Export1 = menu->addAction(QStringLiteral("&Export..."));
    Import1 = menu->addAction(QStringLiteral("&Import..."));
    ShowDataFolder1 = menu->addAction(QStringLiteral("Show data &folder"));
    menu->addSeparator();
    ConnectToServer1 = menu->addAction(QStringLiteral("&Connect to office server..."));
    UseThisComputer1 = menu->addAction(QStringLiteral("&Use this computer's file"));

    const std::pair<QAction*, void (TKnowledgeBaseMenu::*)()> handlers[] = {
        {BackUp1, &TKnowledgeBaseMenu::BackUp1Click},
        {Export1, &TKnowledgeBaseMenu::Export1Click},
        {Import1, &TKnowledgeBaseMenu::Import1Click},
        {ShowDataFolder1, &TKnowledgeBaseMenu::ShowDataFolder1Click},
        {ConnectToServer1, &TKnowledgeBaseMenu::ConnectToServer1Click},
        {UseThisComputer1, &TKnowledgeBaseMenu::UseThisComputer1Click}};
    for (const auto& [action, handler] : handlers) {
        connect(action, &QAction::triggered, this,
                [this, handler] { RunHandler([&] { (this->*handler)(); }); });
    }
    connect(menu, &QMenu::aboutToShow, this, &TKnowledgeBaseMenu::UpdateItems);
    menu->setToolTipsVisible(true);  // they say why an item is unavailable
    connect(&form, &TForm1::opened, this, &TKnowledgeBaseMenu::Opened);
    UpdateItems();
}

TKnowledgeBaseMenu::~TKnowledgeBaseMenu() {
    if (fbackup.joinable()) fbackup.join();
}

void TKnowledgeBaseMenu::UpdateItems() {
    const TStoreChoice& choice = fform.Choice();
    const bool chosenHere = choice.source != TStoreChoice::TSource::Environment;
    BackUp1->setEnabled(!choice.IsServer());
    BackUp1->setToolTip(choice.IsServer() ? QStringLiteral("The office server is backed up there")
                                          : QString());
    ConnectToServer1->setEnabled(chosenHere);
    UseThisComputer1->setEnabled(chosenHere && choice.IsServer());
    const QString byAdministrator =
        chosenHere ? QString()
                   : QStringLiteral("Chosen for this computer by its administrator (%1)")
                         .arg(QString::fromUtf8(kDatabaseVariable.data(),
                                                static_cast<int>(kDatabaseVariable.size())));
    ConnectToServer1->setToolTip(byAdministrator);
    UseThisComputer1->setToolTip(byAdministrator);
}

void TKnowledgeBaseMenu::Opened(const QString& error) {
    UpdateItems();
    const std::string location = fform.Engine().Location();
    emit locationChanged(fform.Choice().IsServer()
                             ? QStringLiteral("the office server %1").arg(FromPath(location))
                             : FromPath(location));
    if (!fstartUpChecks || fcheckedAtStart || !error.isEmpty() || fform.Choice().IsServer()) return;
    fcheckedAtStart = true;
    if (WarnOfNetworkFileNow(location)) {
        Dialogs().ShowInformation(
            &fform, Title(),
            QStringLiteral(
                "The knowledge base is on a network folder:\n%1\n\nSeveral programs writing to "
                "one file over the network can damage it. To share a knowledge base with the "
                "office, put it on an office server: Knowledge base > Connect to office "
                "server...")
                .arg(FromPath(location)));
    }
    StartAutomaticBackup(location);
}

// ---------------------------------------------------------------------------------------------
// Backups

void TKnowledgeBaseMenu::StartAutomaticBackup(const std::string& file) {
    fbackup = std::thread([this, file] {
        const TBackupResult result = RunAutomaticBackup(file, std::chrono::system_clock::now());
        QMetaObject::invokeMethod(
            this, [this, result] { AutomaticBackupEnded(result); }, Qt::QueuedConnection);
    });
}

void TKnowledgeBaseMenu::AutomaticBackupEnded(const TBackupResult& result) {
    fbackupDone = true;
    if (result.status != TBackupResult::TStatus::Failed) return;
    // The message says what failed and that the knowledge base is unchanged; only the way out
    // is added.
    Dialogs().ShowError(&fform, kApplicationTitle,
                        QStringLiteral("%1\n\nKnowledge base > Back up now... makes a copy "
                                       "elsewhere.")
                            .arg(QString::fromStdString(result.message)));
}

void TKnowledgeBaseMenu::BackUp1Click() {
    if (fform.Choice().IsServer()) {
        Dialogs().ShowInformation(&fform, Title(),
                                  QStringLiteral("The knowledge base is on the office server, "
                                                 "which is backed up there. Export... keeps a "
                                                 "copy of every entry on this computer."));
        return;
    }
    const std::string file = fform.Engine().Location();
    const QString suggested = QDir::home().filePath(
        QStringLiteral("pelloquin-backup-%1.dat").arg(QDate::currentDate().toString(Qt::ISODate)));
    const QString out =
        Dialogs().SaveFileName(&fform, QStringLiteral("Back up the knowledge base"), suggested,
                               QStringLiteral("Knowledge bases (*.dat)"), nullptr);
    if (out.isEmpty()) return;
    RunLongTask(&fform,
                {QStringLiteral("Back up"), QStringLiteral("Copying the knowledge base..."), false},
                [&](const TProgress&) { BackUpNow(file, ToPath(out)); });
    Dialogs().ShowInformation(
        &fform, Title(),
        QStringLiteral("The knowledge base was copied to\n%1\nand the copy checked.").arg(out));
}

// ---------------------------------------------------------------------------------------------
// Export and import

void TKnowledgeBaseMenu::Export1Click() {
    QString filter;
    QString out = Dialogs().SaveFileName(
        &fform, QStringLiteral("Export every entry"),
        QDir::home().filePath(QStringLiteral("pelloquin-entries.csv")), kExportFilters, &filter);
    if (out.isEmpty()) return;
    const TExportFormat format = ExportFormatOf(out, filter);
    if (QFileInfo(out).suffix().isEmpty()) out += QLatin1Char('.') + ExtensionOf(format);

    // The knowledge base in use is never a target, nor is anything but a regular file; a
    // cancelled or failed export leaves what was there as it was (entryexport.h).
    const std::string kbFile =
        fform.Choice().IsServer() ? std::string() : fform.Engine().Location();
    bool whole = false;
    RunLongTask(&fform, {QStringLiteral("Export"), QStringLiteral("Exporting every entry...")},
                [&](const TProgress& progress) {
                    whole = ExportToFile(ToPath(out), kbFile, [&](std::ostream& file) {
                        return fform.Engine().Export(format, file, progress);
                    });
                });
    if (!whole) return;
    Dialogs().ShowInformation(&fform, Title(),
                              QStringLiteral("Every entry was exported to\n%1").arg(out));
}

void TKnowledgeBaseMenu::Import1Click() {
    const QString in =
        Dialogs().OpenFileName(&fform, QStringLiteral("Import entries"), kImportFilters);
    if (in.isEmpty()) return;
    std::error_code error;
    if (!fform.Choice().IsServer() &&
        std::filesystem::equivalent(ToPath(in), fform.Engine().Location(), error)) {
        Dialogs().ShowInformation(&fform, Title(),
                                  QStringLiteral("That is the knowledge base in use: its entries "
                                                 "are all here already."));
        return;
    }
    TImportSummary summary;
    RunLongTask(&fform, {QStringLiteral("Import"), QStringLiteral("Importing entries...")},
                [&](const TProgress& progress) {
                    const auto source = OpenEntrySource(ToPath(in));
                    summary = fform.Engine().Import(*source, progress);
                });
    Dialogs().ShowInformation(&fform, Title(), ImportSummary(summary));
}

void TKnowledgeBaseMenu::ShowDataFolder1Click() {
    const std::string location = fform.Engine().Location();
    if (fform.Choice().IsServer()) {
        Dialogs().ShowInformation(&fform, Title(),
                                  QStringLiteral("The knowledge base is on the office server %1.")
                                      .arg(FromPath(location)));
        return;
    }
    const QString folder = QFileInfo(FromPath(location)).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        Dialogs().ShowInformation(&fform, Title(),
                                  QStringLiteral("The knowledge base is kept in\n%1").arg(folder));
    }
}

// ---------------------------------------------------------------------------------------------
// Where the entries are

void TKnowledgeBaseMenu::ConnectToServer1Click() {
    if (fform.Choice().source == TStoreChoice::TSource::Environment) return;
    fform.RefuseWhileEditing();
    const QString current = fform.Choice().IsServer() ? FromPath(fform.Choice().where) : QString();
    const auto text = Dialogs().AskText(
        &fform, QStringLiteral("Connect to office server"),
        QStringLiteral("The office server's connection string or service name\n(for example "
                       "service=office, or host=kb.office dbname=pelloquin).\nPasswords belong in "
                       "the password file ~/.pgpass, never here."),
        current);
    if (!text || text->trimmed().isEmpty()) return;
    const TStoreChoice choice = ServerChoice(text->trimmed().toStdString());
    KeptChoiceText(choice);  // a password in it stops us here, before anything is done

    auto server = std::make_unique<TPgStore>(choice.where);
    RunLongTask(
        &fform,
        {QStringLiteral("Connect"), QStringLiteral("Connecting to the office server..."), false},
        [&](const TProgress&) { server->Open(); });

    if (!fform.Choice().IsServer()) {
        const auto answer = Dialogs().Ask(
            &fform, QStringLiteral("Confirm"),
            QStringLiteral("Copy the entries of this computer's knowledge base to the office "
                           "server? Entries the server holds already are left as they are."),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) return;
        if (answer == QMessageBox::Yes) {
            const std::string file = fform.Engine().Location();
            TCopyResult copied;
            RunLongTask(&fform,
                        {QStringLiteral("Copy"),
                         QStringLiteral("Copying the entries to the office server..."), false},
                        [&](const TProgress& progress) {
                            copied = CopyEntriesToServer(
                                file, *server, [&](size_t d, size_t t) { progress(d, t); });
                        });
            Dialogs().ShowInformation(
                &fform, Title(),
                QStringLiteral("%1 entries copied to the office server; %2 were there already.")
                    .arg(Count(copied.copied), Count(copied.alreadyThere)));
        }
    }
    server.reset();
    if (!fform.Choice().IsServer()) fcomputerFile = FileChoice(fform.Choice().where);
    SaveChoice(choice);
    fform.UseStore(CurrentChoice());
}

void TKnowledgeBaseMenu::UseThisComputer1Click() {
    if (!fform.Choice().IsServer() || fform.Choice().source == TStoreChoice::TSource::Environment)
        return;
    fform.RefuseWhileEditing();
    SaveChoice(fcomputerFile);
    fform.UseStore(CurrentChoice());
}
