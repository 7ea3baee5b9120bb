// Laid out as two raised areas split by a draggable bar: the problem above, the solution and
// the button bar below. The window only shows and asks; storing is its keeper's work.
#include "ui/viewform.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

#include "core/historylist.h"
#include "ui/application.h"
#include "ui/historydialog.h"
#include "ui/widgets/dialogs.h"
#include "ui/widgets/fonts.h"
#include "ui/widgets/qtext.h"
#include "ui/widgets/uipanel.h"

namespace {

const QColor kLightGrey(243, 243, 243);

QLabel* AreaLabel(const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setFixedHeight(23);
    label->setFont(TahomaFont(19));
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, kLightGrey);
    label->setPalette(p);
    return label;
}

QPlainTextEdit* ReadOnlyBox(QWidget* parent) {
    auto* box = new QPlainTextEdit(parent);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return box;
}

QFrame* RaisedArea(QWidget* parent) {
    auto* area = new QFrame(parent);
    area->setFrameStyle(QFrame::Panel | QFrame::Raised);
    area->setLineWidth(1);
    return area;
}

}  // namespace

TShowItem::TShowItem(TEntryKeeper& keeper, QWidget* parent)
    : QWidget(parent, Qt::Window), fkeeper(keeper) {
    setWindowTitle(QStringLiteral("Pelloquin: View Problem/Solution"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    setPalette(p);
    resize(422, 466);  // an outer size of about 430 x 500 with the window frame

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    Splitter1 = new QSplitter(Qt::Vertical, this);
    root->addWidget(Splitter1);

    QFrame* problemArea = RaisedArea(Splitter1);
    auto* problemLayout = new QVBoxLayout(problemArea);
    problemLayout->setContentsMargins(1, 1, 1, 1);
    problemLayout->setSpacing(0);
    ProblemLabel = AreaLabel(QStringLiteral("The Problem:"), problemArea);
    ProblemText = ReadOnlyBox(problemArea);
    problemLayout->addWidget(ProblemLabel);
    problemLayout->addWidget(ProblemText, 1);

    QFrame* solutionArea = RaisedArea(Splitter1);
    auto* solutionLayout = new QVBoxLayout(solutionArea);
    solutionLayout->setContentsMargins(1, 1, 1, 1);
    solutionLayout->setSpacing(0);
    SolutionLabel = AreaLabel(QStringLiteral("Your Solution:"), solutionArea);
    SolutionText = ReadOnlyBox(solutionArea);
    ButtonBar = new TPanel(solutionArea, QSize(420, 35));
    ButtonBar->SetColor(kLightGrey);
    ButtonBar->setFixedHeight(35);
    Button1 = new QPushButton(QStringLiteral("Delete"), ButtonBar);
    Button1->setFont(TahomaFont(19));
    ButtonBar->Place(Button1, QRect(8, 8, 81, 25));
    Button3 = new QPushButton(QStringLiteral("Edit"), ButtonBar);
    Button3->setFont(TahomaFont(19));
    ButtonBar->Place(Button3, QRect(97, 8, 75, 25));
    Button4 = new QPushButton(QStringLiteral("&History..."), ButtonBar);
    Button4->setFont(TahomaFont(19));
    ButtonBar->Place(Button4, QRect(180, 8, 92, 25));
    Button2 = new QPushButton(QStringLiteral("Close"), ButtonBar);
    Button2->setFont(TahomaFont(19));
    ButtonBar->Place(Button2, QRect(329, 8, 75, 25), akTop | akRight);
    solutionLayout->addWidget(SolutionLabel);
    solutionLayout->addWidget(SolutionText, 1);
    solutionLayout->addWidget(ButtonBar);
    RecordLabel = new QLabel(solutionArea);
    RecordLabel->setFont(TahomaFont(16));
    RecordLabel->setWordWrap(true);  // a long line wraps instead of widening the window
    RecordLabel->setMinimumWidth(1);
    RecordLabel->setContentsMargins(8, 1, 8, 3);
    RecordLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RecordLabel->setAutoFillBackground(true);
    QPalette recordColors = RecordLabel->palette();
    recordColors.setColor(QPalette::Window, kLightGrey);
    RecordLabel->setPalette(recordColors);
    RecordLabel->setAccessibleName(QStringLiteral("Saved and changed"));
    RecordLabel->hide();
    solutionLayout->addWidget(RecordLabel);

    SetUpPanes(Splitter1, problemArea, solutionArea, 209, 466 - 209 - 3);

    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button4Click(); }); });

    // Esc closes as Close does, the Delete key deletes as Delete does (with its question).
    auto* close = new QAction(this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    addAction(close);
    connect(close, &QAction::triggered, this, [this] { RunHandler([this] { Button2Click(); }); });
    auto* remove = new QAction(this);
    remove->setShortcut(QKeySequence(QKeySequence::Delete));
    addAction(remove);
    connect(remove, &QAction::triggered, this, [this] { RunHandler([this] { Button1Click(); }); });
    ProblemText->setAccessibleName(QStringLiteral("The Problem"));
    SolutionText->setAccessibleName(QStringLiteral("Your Solution"));
    Button1->setAccessibleName(QStringLiteral("Delete"));
    Button1->setAccessibleDescription(QStringLiteral("Delete this entry from the knowledge base"));
    Button2->setAccessibleName(QStringLiteral("Close"));
    Button3->setAccessibleName(QStringLiteral("Edit"));
    Button3->setAccessibleDescription(QStringLiteral("Change this entry's texts"));
    Button4->setAccessibleName(QStringLiteral("History"));
    Button4->setAccessibleDescription(
        QStringLiteral("The earlier versions of this entry, to look at or restore"));
    setTabOrder(ProblemText, SolutionText);
    setTabOrder(SolutionText, Button1);
    setTabOrder(Button1, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, Button2);
    SetTextSize(8);
}

void TShowItem::SetTextSize(int points) {
    // A bitmap face does not scale; Tahoma does, and looks the same at the window's 8 points.
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(std::max(1, points));
    ProblemText->setFont(font);
    SolutionText->setFont(font);
}

void TShowItem::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (fplaced) return;
    fplaced = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TShowItem::Execute(const std::string& ID, const std::string& Problem,
                        const std::string& Solution) {
    TEntryTexts texts;
    texts.problem = Problem;
    texts.solution = Solution;
    Execute(ID, texts);
}

void TShowItem::Execute(const std::string& ID, const TEntryTexts& texts) {
    fid = ID;
    fproblem = texts.problem;
    fsolution = texts.solution;
    fversion = texts.version;
    SetEditing(false);
    ProblemText->setPlainText(ToEditorText(texts.problem));
    SolutionText->setPlainText(ToEditorText(texts.solution));
    const std::string record = SavedAndChangedLine(texts);
    RecordLabel->setText(QString::fromStdString(record));
    RecordLabel->setVisible(!record.empty());
}

void TShowItem::Refresh(const TEntryTexts& texts) {
    if (fediting || fwaiting || texts.problem != fproblem || texts.solution != fsolution) return;
    Execute(fid, texts);
}

THistoryDialog* TShowItem::HistoryDialog() const {
    // One closed goes a moment later: it is no longer the one open.
    for (THistoryDialog* dialog : findChildren<THistoryDialog*>(Qt::FindDirectChildrenOnly)) {
        if (dialog->isVisible()) return dialog;
    }
    return nullptr;
}

void TShowItem::Button4Click() {
    if (fediting || fwaiting) return;
    if (THistoryDialog* open = HistoryDialog()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new THistoryDialog(THistoryDialog::Kind::EntryHistory, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    const QPointer<THistoryDialog> to(dialog);
    dialog->SetRestore([this, to](const TEntryVersion& version) {
        fkeeper.RestoreVersion(*this, version.seq, [to](std::exception_ptr failure) {
            if (to) to->SetWaiting(false);
            if (failure) std::rethrow_exception(failure);
            if (to) to->close();  // the window shows the version restored
        });
        if (to) to->SetWaiting(true);
    });
    fkeeper.ListHistory(
        *this, [to](const std::vector<TEntryVersion>& versions, std::exception_ptr failure) {
            if (!to) return;
            if (failure) {
                to->close();
                std::rethrow_exception(failure);
            }
            to->SetVersions(versions);
        });
    dialog->show();
}

void TShowItem::SetEditing(bool editing) {
    fediting = editing;
    ProblemText->setReadOnly(!editing);
    SolutionText->setReadOnly(!editing);
    Button3->setText(editing ? QStringLiteral("Save") : QStringLiteral("Edit"));
    Button2->setText(editing ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    Button1->setEnabled(!editing && !fwaiting);
    Button4->setEnabled(!editing && !fwaiting);
    if (editing) ProblemText->setFocus();
}

void TShowItem::SetWaiting(bool waiting) {
    fwaiting = waiting;
    for (QPushButton* button : {Button1, Button2, Button3})
        button->setEnabled(!waiting);
    Button1->setEnabled(!waiting && !fediting);
    Button4->setEnabled(!waiting && !fediting);
    ProblemText->setReadOnly(waiting || !fediting);
    SolutionText->setReadOnly(waiting || !fediting);
}

bool TShowItem::Modified() const {
    return fediting && (FromEditorText(ProblemText->toPlainText()) != fproblem ||
                        FromEditorText(SolutionText->toPlainText()) != fsolution);
}

void TShowItem::CancelEdit() {
    ProblemText->setPlainText(ToEditorText(fproblem));
    SolutionText->setPlainText(ToEditorText(fsolution));
    SetEditing(false);
}

void TShowItem::Button3Click() {
    if (fwaiting) return;
    if (!fediting) {
        SetEditing(true);
        return;
    }
    SaveEdits(false);
}

void TShowItem::SaveEdits(bool closeAfter) {
    SendEdit(FromEditorText(ProblemText->toPlainText()),
             FromEditorText(SolutionText->toPlainText()), fversion, closeAfter);
}

void TShowItem::SendEdit(const std::string& problem, const std::string& solution,
                         const std::string& seenVersion, bool closeAfter) {
    Wait([&] {
        fkeeper.SaveEdit(*this, problem, solution, seenVersion,
                         [this, problem, solution, closeAfter](std::exception_ptr failure) {
                             SetWaiting(false);
                             // Not stored: still editing, the texts as typed, unless the user
                             // chooses else.
                             if (failure) {
                                 if (Settle(failure, problem, solution, closeAfter)) return;
                                 std::rethrow_exception(failure);
                             }
                             TEntryTexts saved;
                             saved.problem = problem;
                             saved.solution = solution;
                             saved.version = EntryVersion(problem, solution);
                             // Who and when stay as shown until the keeper's read after the save.
                             const QString record = RecordLabel->text();
                             Execute(fid, saved);
                             RecordLabel->setText(record);
                             RecordLabel->setVisible(!record.isEmpty());
                             if (closeAfter) close();
                         });
    });
}

void TShowItem::SendAsNew(const std::string& problem, const std::string& solution,
                          std::shared_ptr<TEntryTexts> then, bool closeAfter) {
    Wait([&] {
        fkeeper.SaveAsNew(
            *this, problem, solution, [this, then, closeAfter](std::exception_ptr failure) {
                SetWaiting(false);
                if (failure) std::rethrow_exception(failure);  // still editing, texts as typed
                if (!then) {
                    // Its entry is gone; the texts typed are stored and have a window of their own.
                SetEditing(false);
                CloseAndForget();
                    return;
                }
                Execute(fid, *then);
                if (closeAfter) close();
            });
    });
}

bool TShowItem::Settle(std::exception_ptr failure, const std::string& problem,
                       const std::string& solution, bool closeAfter) {
    try {
        std::rethrow_exception(failure);
    } catch (const EEditConflict& conflict) {
        const TEntryTexts& theirs = conflict.Theirs();
        switch (Dialogs().ResolveConflict(
            this, {ToEditorText(theirs.problem), ToEditorText(theirs.solution)},
            {ToEditorText(problem), ToEditorText(solution)})) {
            case TConflictChoice::KeepTheirs:
                Execute(fid, theirs);
                if (closeAfter) close();
                break;
            case TConflictChoice::SaveMine:
                SendEdit(problem, solution, theirs.version, closeAfter);
                break;
            case TConflictChoice::SaveAsNew:
                SendAsNew(problem, solution, std::make_shared<TEntryTexts>(theirs), closeAfter);
                break;
            case TConflictChoice::Cancel:
                break;  // still editing, the texts as typed
        }
        return true;
    } catch (const EEntryDeleted&) {
        if (Dialogs().Ask(this, QStringLiteral("Entry deleted"),
                          QStringLiteral("This entry was deleted on another computer after you "
                                         "opened it. Save your texts as a new entry?"),
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
            SendAsNew(problem, solution, nullptr, closeAfter);
        }
        return true;
    } catch (...) {
        return false;
    }
}

void TShowItem::Wait(const std::function<void()>& ask) {
    SetWaiting(true);
    try {
        ask();
    } catch (...) {
        SetWaiting(false);  // refused at once: nothing is on its way
        throw;
    }
}

bool TShowItem::MayClose() {
    if (fwaiting) return false;
    if (!Modified()) return true;
    const auto answer =
        Dialogs().Ask(this, QStringLiteral("Confirm"),
                      QStringLiteral("Would you like to save this entry before closing?"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Yes) {
        SaveEdits(true);
        return false;
    }
    CancelEdit();
    return true;
}

void TShowItem::closeEvent(QCloseEvent* event) {
    if (!MayClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TShowItem::Button2Click() {
    if (fwaiting) return;
    if (fediting) {
        CancelEdit();  // Cancel (or Esc): the stored texts come back
        return;
    }
    CloseAndForget();
}

void TShowItem::CloseAndForget() {
    if (!close()) return;
    fkeeper.Forget(*this);
}

void TShowItem::Button1Click() {
    if (fediting || fwaiting) return;  // the Delete key edits the text while editing
    if (Dialogs().Ask(this, QStringLiteral("Confirm"),
                      QStringLiteral("Delete this Problem/Solution?"),
                      QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    Wait([&] {
        fkeeper.DeleteEntry(*this, [this](std::exception_ptr failure) {
            SetWaiting(false);
            // Not deleted: the entry, the list and this window stay as they were.
            if (failure) std::rethrow_exception(failure);
            CloseAndForget();
        });
    });
}
