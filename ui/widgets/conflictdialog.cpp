#include "ui/widgets/conflictdialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPlainTextEdit* TextView(const QString& text, const QString& name, QWidget* parent) {
    auto* view = new QPlainTextEdit(text, parent);
    view->setReadOnly(true);
    // Read-only views are still reached by Tab, so a screen reader can read both versions.
    view->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    view->setTabChangesFocus(true);
    view->setAccessibleName(name);
    view->setMinimumWidth(260);
    return view;
}

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

}  // namespace

TConflictDialog::TConflictDialog(const TConflictTexts& theirs, const TConflictTexts& yours,
                                 QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Entry changed meanwhile"));
    auto* root = new QVBoxLayout(this);
    auto* message = new QLabel(
        QStringLiteral("This entry was changed on another computer after you opened it."), this);
    message->setWordWrap(true);
    root->addWidget(message);

    TheirProblem = TextView(theirs.problem, QStringLiteral("Their problem"), this);
    TheirSolution = TextView(theirs.solution, QStringLiteral("Their solution"), this);
    YourProblem = TextView(yours.problem, QStringLiteral("Your problem"), this);
    YourSolution = TextView(yours.solution, QStringLiteral("Your solution"), this);
    auto* grid = new QGridLayout;
    grid->addWidget(Caption(QStringLiteral("&Their version (saved now):"), TheirProblem, this), 0,
                    0);
    grid->addWidget(Caption(QStringLiteral("Y&our version:"), YourProblem, this), 0, 1);
    grid->addWidget(TheirProblem, 1, 0);
    grid->addWidget(YourProblem, 1, 1);
    grid->addWidget(TheirSolution, 2, 0);
    grid->addWidget(YourSolution, 2, 1);
    grid->setRowStretch(1, 1);
    grid->setRowStretch(2, 2);
    root->addLayout(grid, 1);

    auto* buttons = new QDialogButtonBox(this);
    KeepTheirs = buttons->addButton(QStringLiteral("&Keep theirs"), QDialogButtonBox::ActionRole);
    SaveMine =
        buttons->addButton(QStringLiteral("&Save yours over it"), QDialogButtonBox::ActionRole);
    SaveAsNew = buttons->addButton(QStringLiteral("Save yours as a &new entry"),
                                   QDialogButtonBox::ActionRole);
    CancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    KeepTheirs->setAccessibleDescription(QStringLiteral("Drop your edit and show their version"));
    SaveMine->setAccessibleDescription(
        QStringLiteral("Replace their version with yours; theirs is kept in the history"));
    SaveAsNew->setAccessibleDescription(
        QStringLiteral("Keep their version and store yours as an entry of its own"));
    CancelButton->setAccessibleDescription(QStringLiteral("Go on editing; nothing is saved"));
    root->addWidget(buttons);
    const std::pair<QPushButton*, TConflictChoice> choices[] = {
        {KeepTheirs, TConflictChoice::KeepTheirs},
        {SaveMine, TConflictChoice::SaveMine},
        {SaveAsNew, TConflictChoice::SaveAsNew}};
    for (const auto& [button, choice] : choices) {
        connect(button, &QPushButton::clicked, this, [this, choice] {
            fchoice = choice;
            accept();
        });
    }
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Nothing is chosen by a stray Enter: no default button; the focus starts on the choice
    // that drops no text.
    for (QPushButton* button : {KeepTheirs, SaveMine, SaveAsNew, CancelButton})
        button->setAutoDefault(false);
    SaveAsNew->setFocus();
    resize(640, 460);
}
