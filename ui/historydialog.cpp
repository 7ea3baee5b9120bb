#include "ui/historydialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/historylist.h"
#include "core/storedtext.h"
#include "port/localformat.h"
#include "ui/application.h"
#include "ui/widgets/qtext.h"

namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

QString When(int64_t at) {
    return at > 0 ? Utf8(FormatDateTime(static_cast<std::time_t>(at))) : QString();
}

QPlainTextEdit* TextView(const QString& name, QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    view->setTabChangesFocus(true);
    view->setAccessibleName(name);
    return view;
}

}  // namespace

THistoryDialog::THistoryDialog(Kind kind, QWidget* parent) : QDialog(parent), fkind(kind) {
    const bool deleted = kind == Kind::Deleted;
    setWindowTitle(deleted ? QStringLiteral("Recently deleted")
                           : QStringLiteral("History of this entry"));
    auto* root = new QVBoxLayout(this);

    if (deleted) {
        auto* row = new QHBoxLayout;
        Find = new QLineEdit(this);
        Find->setPlaceholderText(QStringLiteral("Words of the entry"));
        Find->setAccessibleName(QStringLiteral("Find"));
        Find->setAccessibleDescription(
            QStringLiteral("Lists only the deleted entries that hold every word typed"));
        Find->setClearButtonEnabled(true);
        auto* label = new QLabel(QStringLiteral("&Find:"), this);
        label->setBuddy(Find);
        row->addWidget(label);
        row->addWidget(Find, 1);
        root->addLayout(row);
        connect(Find, &QLineEdit::textChanged, this, [this] { Fill(); });
    }

    auto* splitter = new QSplitter(Qt::Vertical, this);
    List = new QTreeWidget(splitter);
    List->setRootIsDecorated(false);
    List->setUniformRowHeights(true);
    List->setAllColumnsShowFocus(true);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setAccessibleName(deleted ? QStringLiteral("Deleted entries")
                                    : QStringLiteral("Earlier versions"));
    if (deleted) {
        List->setHeaderLabels(
            {QStringLiteral("Deleted"), QStringLiteral("By"), QStringLiteral("First line")});
    } else {
        List->setHeaderLabels({QStringLiteral("Written"), QStringLiteral("By"),
                               QStringLiteral("Replaced"), QStringLiteral("First line")});
    }
    List->header()->setStretchLastSection(true);

    auto* texts = new QWidget(splitter);
    auto* form = new QFormLayout(texts);
    form->setContentsMargins(0, 0, 0, 0);
    ProblemView = TextView(QStringLiteral("Problem of the version selected"), texts);
    SolutionView = TextView(QStringLiteral("Solution of the version selected"), texts);
    form->addRow(QStringLiteral("&Problem:"), ProblemView);
    form->addRow(QStringLiteral("&Solution:"), SolutionView);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    root->addWidget(splitter, 1);

    Status = new QLabel(QStringLiteral("Reading..."), this);
    Status->setWordWrap(true);
    root->addWidget(Status);

    auto* buttons = new QDialogButtonBox(this);
    RestoreButton = buttons->addButton(QStringLiteral("&Restore"), QDialogButtonBox::ActionRole);
    RestoreButton->setAccessibleDescription(
        deleted ? QStringLiteral("Bring the selected entry back into the knowledge base")
                : QStringLiteral("Make the selected version the entry's texts again"));
    CloseButton = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    RestoreButton->setAutoDefault(false);
    CloseButton->setAutoDefault(false);
    root->addWidget(buttons);
    connect(RestoreButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { RestoreClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(List, &QTreeWidget::currentItemChanged, this, [this] { ShowSelected(); });

    if (Find) setTabOrder(Find, List);
    setTabOrder(List, ProblemView);
    setTabOrder(ProblemView, SolutionView);
    setTabOrder(SolutionView, RestoreButton);
    setTabOrder(RestoreButton, CloseButton);
    resize(deleted ? 640 : 680, 520);
    Fill();
}

void THistoryDialog::SetVersions(std::vector<TEntryVersion> versions) {
    fversions = std::move(versions);
    floaded = true;
    Fill();
    // The deleted ones are found by typing; an entry's few versions are chosen in the list.
    if (Find)
        Find->setFocus();
    else
        List->setFocus();
}

void THistoryDialog::Fill() {
    List->clear();
    if (floaded) {
        const std::vector<size_t> shown =
            Find ? MatchingVersions(fversions, Find->text().toStdString())
                 : MatchingVersions(fversions, {});
        for (size_t i : shown) {
            const TEntryVersion& v = fversions[i];
            auto* item = new QTreeWidgetItem(List);
            const QString line = Utf8(EntryFirstLine(v.entry));
            if (fkind == Kind::Deleted) {
                item->setText(0, When(v.at));
                item->setText(1, Utf8(LabelUtf8(v.who)));
                item->setText(2, line);
            } else {
                const QString written =
                    v.writtenAt > 0 ? When(v.writtenAt) : Utf8(LabelUtf8(v.entry.created));
                const QString how =
                    v.event == 'D' ? QStringLiteral("deleted %1") : QStringLiteral("edited %1");
                QString replaced = how.arg(When(v.at));
                if (!v.who.empty()) replaced += QStringLiteral(" by ") + Utf8(LabelUtf8(v.who));
                item->setText(0, written);
                item->setText(1, Utf8(LabelUtf8(v.writtenBy)));
                item->setText(2, replaced);
                item->setText(3, line);
            }
            item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
        }
        for (int c = 0; c + 1 < List->columnCount(); ++c)
            List->resizeColumnToContents(c);
    }
    QString status;
    if (!floaded) {
        status = QStringLiteral("Reading...");
    } else if (fversions.empty()) {
        status = fkind == Kind::Deleted
                     ? QStringLiteral("No deleted entries are kept.")
                     : QStringLiteral("No earlier versions of this entry are kept.");
    } else if (List->topLevelItemCount() == 0) {
        status = QStringLiteral("No deleted entry holds every word typed.");
    } else if (fkind == Kind::Deleted) {
        status = QStringLiteral("%1 of %2 deleted entries listed, newest first.")
                     .arg(List->topLevelItemCount())
                     .arg(fversions.size());
    } else {
        status = fversions.size() == 1
                     ? QStringLiteral("1 earlier version.")
                     : QStringLiteral("%1 earlier versions, newest first.").arg(fversions.size());
    }
    Status->setText(status);
    if (List->topLevelItemCount() > 0) Select(0);
    ShowSelected();
}

std::vector<const TEntryVersion*> THistoryDialog::Listed() const {
    std::vector<const TEntryVersion*> listed;
    for (int row = 0; row < List->topLevelItemCount(); ++row)
        listed.push_back(&fversions[List->topLevelItem(row)->data(0, Qt::UserRole).toULongLong()]);
    return listed;
}

const TEntryVersion* THistoryDialog::Selected() const {
    const QTreeWidgetItem* item = List->currentItem();
    if (!item) return nullptr;
    return &fversions[item->data(0, Qt::UserRole).toULongLong()];
}

void THistoryDialog::Select(int row) {
    if (QTreeWidgetItem* item = List->topLevelItem(row)) List->setCurrentItem(item);
}

void THistoryDialog::ShowSelected() {
    const TEntryVersion* v = Selected();
    ProblemView->setPlainText(v ? ToEditorText(v->entry.problem) : QString());
    SolutionView->setPlainText(v ? ToEditorText(v->entry.solution) : QString());
    RestoreButton->setEnabled(v && !fwaiting && frestore);
}

void THistoryDialog::SetWaiting(bool waiting) {
    fwaiting = waiting;
    List->setEnabled(!waiting);
    if (Find) Find->setEnabled(!waiting);
    ShowSelected();
}

void THistoryDialog::RestoreClick() {
    const TEntryVersion* v = Selected();
    if (!v || fwaiting || !frestore) return;
    frestore(*v);
}
