#include "ui/kbmenu.h"

#include <QAction>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QUrl>
#include <filesystem>

#include "core/transfer/backup.h"
#include "core/transfer/entryexport.h"
#include "core/transfer/entryimport.h"
#include "ui/application.h"
#include "ui/historydialog.h"
#include "ui/session.h"
#include "ui/widgets/dialogs.h"
#include "ui/widgets/longtask.h"

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

TKnowledgeBaseMenu::TKnowledgeBaseMenu(TSession& session, QWidget* window, QMenu* menu)
    : QObject(window), fsession(session), fwindow(window) {
    BackUp1 = menu->addAction(QStringLiteral("&Back up now..."));
    Export1 = menu->addAction(QStringLiteral("&Export..."));
    Import1 = menu->addAction(QStringLiteral("&Import..."));
    RecentlyDeleted1 = menu->addAction(QStringLiteral("&Recently deleted..."));
    ShowDataFolder1 = menu->addAction(QStringLiteral("Show data &folder"));
    menu->addSeparator();
    ConnectToServer1 = menu->addAction(QStringLiteral("&Connect to office server..."));
    UseThisComputer1 = menu->addAction(QStringLiteral("&Use this computer's file"));

    const std::pair<QAction*, void (TKnowledgeBaseMenu::*)()> handlers[] = {
        {BackUp1, &TKnowledgeBaseMenu::BackUp1Click},
        {Export1, &TKnowledgeBaseMenu::Export1Click},
        {Import1, &TKnowledgeBaseMenu::Import1Click},
        {RecentlyDeleted1, &TKnowledgeBaseMenu::RecentlyDeleted1Click},
        {ShowDataFolder1, &TKnowledgeBaseMenu::ShowDataFolder1Click},
        {ConnectToServer1, &TKnowledgeBaseMenu::ConnectToServer1Click},
        {UseThisComputer1, &TKnowledgeBaseMenu::UseThisComputer1Click}};
    for (const auto& [action, handler] : handlers) {
        connect(action, &QAction::triggered, this,
                [this, handler] { RunHandler([&] { (this->*handler)(); }); });
    }
    connect(menu, &QMenu::aboutToShow, this, &TKnowledgeBaseMenu::UpdateItems);
    menu->setToolTipsVisible(true);  // they say why an item is unavailable
    connect(&fsession, &TSession::opened, this, &TKnowledgeBaseMenu::UpdateItems);
    UpdateItems();
}

void TKnowledgeBaseMenu::UpdateItems() {
    const TStoreChoice& choice = fsession.Choice();
    const bool chosenHere = fsession.Switch().Choosable();
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

void TKnowledgeBaseMenu::BackUp1Click() {
    if (fsession.Choice().IsServer()) {
        Dialogs().ShowInformation(fwindow, Title(),
                                  QStringLiteral("The knowledge base is on the office server, "
                                                 "which is backed up there. Export... keeps a "
                                                 "copy of every entry on this computer."));
        return;
    }
    const std::string file = fsession.Location();
    const QString suggested = QDir::home().filePath(
        QStringLiteral("pelloquin-backup-%1.dat").arg(QDate::currentDate().toString(Qt::ISODate)));
    const QString out =
        Dialogs().SaveFileName(fwindow, QStringLiteral("Back up the knowledge base"), suggested,
                               QStringLiteral("Knowledge bases (*.dat)"), nullptr);
    if (out.isEmpty()) return;
    RunLongTask(fwindow,
                {QStringLiteral("Back up"), QStringLiteral("Copying the knowledge base..."), false},
                [&](const TProgress&) { BackUpNow(file, ToPath(out)); });
    Dialogs().ShowInformation(
        fwindow, Title(),
        QStringLiteral("The knowledge base was copied to\n%1\nand the copy checked.").arg(out));
}

// ---------------------------------------------------------------------------------------------
// Export and import

void TKnowledgeBaseMenu::Export1Click() {
    QString filter;
    QString out = Dialogs().SaveFileName(
        fwindow, QStringLiteral("Export every entry"),
        QDir::home().filePath(QStringLiteral("pelloquin-entries.csv")), kExportFilters, &filter);
    if (out.isEmpty()) return;
    const TExportFormat format = ExportFormatOf(out, filter);
    if (QFileInfo(out).suffix().isEmpty()) out += QLatin1Char('.') + ExtensionOf(format);

    // The knowledge base in use is never a target, nor is anything but a regular file; a
    // cancelled or failed export leaves what was there as it was (entryexport.h).
    const std::string kbFile = fsession.Choice().IsServer() ? std::string() : fsession.Location();
    const auto engine = fsession.Hold();
    bool whole = false;
    RunLongTask(fwindow, {QStringLiteral("Export"), QStringLiteral("Exporting every entry...")},
                [&](const TProgress& progress) {
                    whole = ExportToFile(ToPath(out), kbFile, [&](std::ostream& file) {
                        return engine->Export(format, file, progress);
                    });
                });
    if (!whole) return;
    Dialogs().ShowInformation(fwindow, Title(),
                              QStringLiteral("Every entry was exported to\n%1").arg(out));
}

void TKnowledgeBaseMenu::Import1Click() {
    const QString in =
        Dialogs().OpenFileName(fwindow, QStringLiteral("Import entries"), kImportFilters);
    if (in.isEmpty()) return;
    std::error_code error;
    if (!fsession.Choice().IsServer() &&
        std::filesystem::equivalent(ToPath(in), fsession.Location(), error)) {
        Dialogs().ShowInformation(fwindow, Title(),
                                  QStringLiteral("That is the knowledge base in use: its entries "
                                                 "are all here already."));
        return;
    }
    const auto engine = fsession.Hold();
    TImportSummary summary;
    RunLongTask(fwindow, {QStringLiteral("Import"), QStringLiteral("Importing entries...")},
                [&](const TProgress& progress) {
                    const auto source = OpenEntrySource(ToPath(in));
                    summary = engine->Import(*source, progress);
                });
    Dialogs().ShowInformation(fwindow, Title(), ImportSummary(summary));
}

// ---------------------------------------------------------------------------------------------
// The entries deleted

void TKnowledgeBaseMenu::RecentlyDeleted1Click() {
    for (auto* open : fwindow->findChildren<THistoryDialog*>(Qt::FindDirectChildrenOnly)) {
        if (!open->isVisible()) continue;  // closed, and going
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new THistoryDialog(THistoryDialog::Kind::Deleted, fwindow);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Another store in use lists other entries: the dialog goes with the one it read.
    connect(&fsession, &TSession::storeChanged, dialog, &QWidget::close);
    const QPointer<THistoryDialog> to(dialog);
    dialog->SetRestore([this, to](const TEntryVersion& version) {
        const std::string ID = version.entry.ID;
        fsession.Restore(to, ID, version.seq, [this, to, ID](std::exception_ptr failure) {
            to->SetWaiting(false);
            if (failure) std::rethrow_exception(failure);
            to->close();
            emit entryRestored(ID);
        });
        to->SetWaiting(true);
    });
    fsession.Deleted(dialog,
                     [to](const std::vector<TEntryVersion>& versions, std::exception_ptr failure) {
                         if (failure) {
                             to->close();
                             std::rethrow_exception(failure);
                         }
                         to->SetVersions(versions);
                     });
    dialog->show();
}

void TKnowledgeBaseMenu::ShowDataFolder1Click() {
    const std::string location = fsession.Location();
    if (fsession.Choice().IsServer()) {
        Dialogs().ShowInformation(fwindow, Title(),
                                  QStringLiteral("The knowledge base is on the office server %1.")
                                      .arg(FromPath(location)));
        return;
    }
    const QString folder = QFileInfo(FromPath(location)).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        Dialogs().ShowInformation(fwindow, Title(),
                                  QStringLiteral("The knowledge base is kept in\n%1").arg(folder));
    }
}

// ---------------------------------------------------------------------------------------------
// Where the entries are

void TKnowledgeBaseMenu::ConnectToServer1Click() {
    if (!fsession.Switch().Choosable()) return;
    fsession.CheckMayLeave();
    const TStoreChoice& inUse = fsession.Choice();
    const QString current = inUse.IsServer() ? FromPath(inUse.where) : QString();
    const auto text = Dialogs().AskText(
        fwindow, QStringLiteral("Connect to office server"),
        QStringLiteral("The office server's connection string or service name\n(for example "
                       "service=office, or host=kb.office dbname=pelloquin).\nPasswords belong in "
                       "the password file ~/.pgpass, never here."),
        current);
    if (!text || text->trimmed().isEmpty()) return;
    TServerMove move(text->trimmed().toStdString());
    RunLongTask(
        fwindow,
        {QStringLiteral("Connect"), QStringLiteral("Connecting to the office server..."), false},
        [&](const TProgress&) { move.Connect(); });

    if (!inUse.IsServer()) {
        const auto answer = Dialogs().Ask(
            fwindow, QStringLiteral("Confirm"),
            QStringLiteral("Copy the entries of this computer's knowledge base to the office "
                           "server? Entries the server holds already are left as they are."),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) return;
        if (answer == QMessageBox::Yes) {
            const std::string file = fsession.Location();
            TCopyResult copied;
            RunLongTask(fwindow,
                        {QStringLiteral("Copy"),
                         QStringLiteral("Copying the entries to the office server..."), false},
                        [&](const TProgress& progress) {
                            copied =
                                move.CopyFrom(file, [&](size_t d, size_t t) { progress(d, t); });
                        });
            Dialogs().ShowInformation(
                fwindow, Title(),
                QStringLiteral("%1 entries copied to the office server; %2 were there already.")
                    .arg(Count(copied.copied), Count(copied.alreadyThere)));
        }
    }
    fsession.UseStore(fsession.Switch().MoveTo(move));
}

void TKnowledgeBaseMenu::UseThisComputer1Click() {
    if (!fsession.Choice().IsServer() || !fsession.Switch().Choosable()) return;
    fsession.CheckMayLeave();
    fsession.UseStore(fsession.Switch().MoveBack());
}
