// The main window builds its layout, then its state (FormCreate), and from then on reacts to the
// user. Every handler runs guarded (RunHandler): an error it raises is shown and the program goes
// on. Storing is the session's; the window keeps the hits on display.
#include "ui/mainform.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

#include "core/ranking.h"
#include "core/store/usersettings.h"
#include "port/datadir.h"
#include "textsearch/renderpanel/colors.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/application.h"
#include "ui/kbmenu.h"
#include "ui/session.h"
#include "ui/splashu.h"
#include "ui/viewwindows.h"
#include "ui/widgets/appcursor.h"
#include "ui/widgets/dialogs.h"
#include "ui/widgets/qtext.h"
#include "ui/widgets/uipanel.h"

namespace {

const QColor kCream(255, 251, 240);
// How long a shown window waits for its first paint before the opening starts anyway.
constexpr int kFirstPaintWaitMs = 250;

}  // namespace

TForm1::TForm1(TSession& session, QWidget* parent) : QMainWindow(parent), fsession(session) {
    BuildLayout();
    connect(&fsession, &TSession::passReady, this, [this](std::shared_ptr<TSearchPass> pass) {
        RunHandler([&] { ShowSearchPass(pass); });
    });
    connect(&fsession, &TSession::opened, this, &TForm1::OpenedKnowledgeBase);
    connect(&fsession, &TSession::storeChanged, this, &TForm1::StoreChanged);
    RunHandler([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (!fclosed) FormClose();
}

void TForm1::SetWindowColor(QColor color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

void TForm1::FormCreate() {
    // The window and its panels paint every pixel themselves (no background erase, no flicker).
    SetWindowColor(kCream);
    setAttribute(Qt::WA_OpaquePaintEvent);
    CreateResultsPanel();
    SetUpKeyboardAndNames();
    fviews = new TViewWindows(fsession, this);
    connect(fviews, &TViewWindows::entryWritten, this, [this] { Requery(); });
    fkbMenu = new TKnowledgeBaseMenu(fsession, this, KnowledgeBase1);
    // A deleted entry brought back is listed and opened at once.
    connect(fkbMenu, &TKnowledgeBaseMenu::entryRestored, this, [this](const std::string& ID) {
        Requery();
        RunHandler([&] { fviews->Open(ID); });
    });
    // Opening and loading run on the engine's worker, behind the splash; a change typed meanwhile
    // is searched once they end, and a save waits for them. They start once the window has first
    // painted (the list's first paint, below): loading a large knowledge base keeps both
    // processors busy, which would hold the first paint up. A window not shown starts them at
    // once, one not painted soon all the same.
    QTimer::singleShot(0, this, [this] {
        QTimer::singleShot(isVisible() ? kFirstPaintWaitMs : 0, &fsession, &TSession::StartOpening);
    });
}

void TForm1::OpenedKnowledgeBase(const TKnowledgeEngine::TOpened& opened) {
    if (opened.fontsize) ApplyFontSize(*opened.fontsize);
    if (!opened.error.empty()) ShowException(Exception(opened.error));
}

void TForm1::StoreChanged() {
    fpassesShown = 0;  // counted per engine, as it counts the passes it runs
    ShowHits(nullptr);
    Requery();
}

void TForm1::CreateResultsPanel() {
    fresults = std::make_unique<vRenderPanel>(nullptr);
    Results = fresults.get();
    Results->SetColor(cBGCOLOR);
    Results->SetStorage(Scored);
    Results->SetScorePosition(false);
    Results->setFont(font());
    Panel7->Place(Results, QRect(0, 24, 425, 522), akLeft | akTop | akRight | akBottom);
    Results->show();
    connect(Results, &vRenderPanel::mouseMoved, this,
            [this](int x, int y) { RunHandler([&] { Panel6MouseMove(x, y); }); });
    // Leaving the list gives every widget its own cursor back; otherwise the hand would stay
    // over the whole program until the mouse next moved over the list.
    connect(Results, &vRenderPanel::OnMouseLeave, this,
            [](vRenderPanel*) { AppCursor::SetHand(false); });
    // The first paint of the list is the window's first paint: the opening may start.
    auto firstPaint = std::make_shared<QMetaObject::Connection>();
    *firstPaint = connect(Results, &vRenderPanel::OnPaint, this, [this, firstPaint] {
        disconnect(*firstPaint);
        QTimer::singleShot(0, &fsession, &TSession::StartOpening);
    });
    connect(Results, &vRenderPanel::mousePressed, this,
            [this](Qt::MouseButton button, int x, int y) {
                RunHandler([&] { Panel6MouseDown(button, x, y); });
            });
    // The keyboard's Enter opens the current hit as a click would; Esc goes back to typing.
    connect(Results, &vRenderPanel::activated, this, [this](const TcvResults* hit) {
        if (hit) RunHandler([&] { fviews->Open(std::string(hit->ID)); });
    });
    connect(Results, &vRenderPanel::escapePressed, this, [this] { ProblemText->setFocus(); });
    // The scroll bar moves the list (vsChange); the wheel and the keyboard move the bar.
    connect(Results, &vRenderPanel::scrollRequested, vs, &QScrollBar::setValue);
    connect(Results, &vRenderPanel::scrollMetricsChanged, this,
            [this] { Results->SetUpScrollBar(*vs); });
    Results->SetUpScrollBar(*vs);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (fclosed) {
        event->accept();
        return;
    }
    bool CanClose = true;
    if (!RunHandler([&] { FormCloseQuery(CanClose); })) CanClose = false;
    if (!CanClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    emit closed();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!fshownOnce) {
        fshownOnce = true;
        RunHandler([this] { FormShow(); });
    }
}

void TForm1::FormShow() {
    RunSplashSequence();
    SetWindowColor(QColor(240, 240, 240));
    ProblemText->setFocus();  // typing starts at once, in the problem
}

void TForm1::FormClose() {
    fclosed = true;
    ShowHits(nullptr);
    if (Results) Results->SetStorage(nullptr);
    delete fviews;
    fviews = nullptr;
    Results = nullptr;
    fresults.reset();
}

void TForm1::Button2Click() {
    close();
}

void TForm1::Exit1Click() {
    close();
}

std::string TForm1::ProblemBytes() const {
    return FromEditorText(ProblemText->toPlainText());
}

std::string TForm1::SolutionBytes() const {
    return FromEditorText(SolutionText->toPlainText());
}

// ---------------------------------------------------------------------------------------------
// Text size

void TForm1::ApplyFontSize(int32_t newsize) {
    // Qt cannot show a size below 1 point; the boxes keep the size the user asked for all the same.
    const int shownSize = std::max(1, static_cast<int>(newsize));
    for (QWidget* w : {static_cast<QWidget*>(ProblemText), static_cast<QWidget*>(SolutionText),
                       static_cast<QWidget*>(Results)}) {
        if (!w) continue;
        QFont f = w->font();
        f.setPointSize(shownSize);
        w->setFont(f);
    }
    fproblemTextSize = newsize;
    if (Results) Results->update();
    fontsize = newsize;
    if (fviews) fviews->SetTextSize(shownSize);
}

void TForm1::SetFontSize(int32_t newsize) {
    ApplyFontSize(newsize);
    fsession.WriteFontSize(newsize);
}

void TForm1::Larger1Click() {
    // The largest size that can be stored and read back; one more would wrap around.
    if (fontsize < INT32_MAX) SetFontSize(fontsize + 1);
}

void TForm1::Smaller1Click() {
    if (fproblemTextSize > 6) SetFontSize(fontsize - 1);
}

void TForm1::Label5Click() {
    emit helpRequested();
}

// ---------------------------------------------------------------------------------------------
// Saving

void TForm1::SetSaving(bool saving) {
    fsaving = saving;
    ProblemText->setReadOnly(saving);
    SolutionText->setReadOnly(saving);
    Button1->setEnabled(!saving);
}

void TForm1::SaveBoxes(std::function<void()> saved) {
    // An entry of blank texts could never be listed, so never opened or deleted again.
    if (IsBlankText(ProblemBytes()) && IsBlankText(SolutionBytes())) {
        throw Exception("There is nothing to save: both boxes are empty");
    }
    SetSaving(true);
    fsession.Save(this, ProblemBytes(), SolutionBytes(),
                  [this, saved = std::move(saved)](std::exception_ptr failure) {
                      SetSaving(false);
                      const bool closeNow = std::exchange(fcloseWhenSaved, false);
                      if (failure) std::rethrow_exception(NotSaved(failure));
                      saved();
                      if (closeNow) close();
                  });
}

void TForm1::Button1Click() {
    if (fsaving) return;
    SaveBoxes([this] {
        // Only a stored entry empties the boxes: nothing the user typed is lost.
        ProblemText->clear();
        SolutionText->clear();
        ProblemText->setFocus();  // the next problem starts where the first did
    });
}

void TForm1::FormCloseQuery(bool& CanClose) {
    if (fsavedForClose) return;
    if (fsaving) {
        // The save on its way decides: once stored, the window closes (asking again if the
        // boxes still hold texts).
        CanClose = false;
        fcloseWhenSaved = true;
        return;
    }
    if (ProblemText->toPlainText().isEmpty() && SolutionText->toPlainText().isEmpty()) return;
    CanClose = true;
    const auto answer =
        Dialogs().Ask(this, QStringLiteral("Confirm"),
                      QStringLiteral("Would you like to save this entry before closing?"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        if (IsBlankText(ProblemBytes()) && IsBlankText(SolutionBytes())) return;  // nothing to keep
        // The window closes once the save is stored; one that did not happen keeps it open,
        // texts and all.
        CanClose = false;
        SaveBoxes([this] {
            fsavedForClose = true;
            close();
        });
    } else if (answer != QMessageBox::No) {
        CanClose = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Search as you type

void TForm1::ProblemTextChange() {
    if (IsBlankText(ProblemBytes())) return;
    SearchProblem();
}

void TForm1::Requery() {
    if (!fclosed) SearchProblem();
}

void TForm1::SearchProblem() {
    fsearchedAtWordEnd = CaretAtWordEnd();
    fsession.Search(ProblemBytes(), fsearchedAtWordEnd);
}

bool TForm1::CaretAtWordEnd() const {
    const QTextCursor caret = ProblemText->textCursor();
    if (!caret.atEnd() || caret.hasSelection()) return false;
    const QString text = ProblemText->toPlainText();
    if (text.isEmpty()) return false;
    char32_t last = text.back().unicode();
    if (text.back().isLowSurrogate() && text.size() >= 2 && text[text.size() - 2].isHighSurrogate())
        last = QChar::surrogateToUcs4(text[text.size() - 2], text.back());
    return QChar::isLetterOrNumber(last) || QChar::isMark(last);
}

void TForm1::ProblemTextCaretMove() {
    // Only Best match reads the caret's place; a move that changes nothing for it searches
    // nothing.
    if (fsession.Ranking() != TRanking::BestMatch || CaretAtWordEnd() == fsearchedAtWordEnd)
        return;
    if (!IsBlankText(ProblemBytes())) SearchProblem();
}

void TForm1::YourName1Click() {
    const auto name = Dialogs().AskText(
        this, QStringLiteral("Your name"),
        QStringLiteral("The name recorded with your saves and edits.\nLeave it empty for your "
                       "login name (%1).")
            .arg(QString::fromStdString(LoginName())),
        QString::fromStdString(ChosenWriterName()));
    if (!name) return;
    SaveWriterName(name->toStdString());
    fsession.SetWriterName(WriterName());
}

void TForm1::RankingClick(TRanking ranking) {
    BestMatch1->setChecked(ranking == TRanking::BestMatch);
    Classic1->setChecked(ranking == TRanking::Classic);
    if (ranking == fsession.Ranking()) return;
    fsession.SetRanking(ranking);  // and the problem is searched again in it
    SaveRanking(ranking);
}

void TForm1::ShowSearchPass(std::shared_ptr<TSearchPass> pass) {
    if (fclosed || !pass || !Results) return;
    ShowHits(std::move(pass));
    Results->Hover(0, 0);
    ++fpassesShown;
}

void TForm1::ShowHits(std::shared_ptr<TSearchPass> pass) {
    // Swap the new hits in whole; the old ones go with the previous pass, after the panel has
    // let go of them.
    Scored = pass ? pass->tree.get() : &fnoHits;
    if (Results) Results->SetStorage(Scored);
    if (Results && pass && !pass->bold.empty())
        Results->SetBold(std::span<const TcvResults>(pass->hits.data(), pass->hits.size()),
                         pass->bold);
    fhold = std::move(pass);
    // Repaints, and sets the scroll range up again (scrollMetricsChanged); the layout is
    // arithmetic, so the range is right even before the panel is on screen.
    if (Results) Results->StorageChanged();
}

// ---------------------------------------------------------------------------------------------
// The results list

void TForm1::Panel6MouseMove(int X, int Y) {
    // The default cursor is no override at all, so that every widget shows its own again.
    AppCursor::SetHand(Results->Hover(X, Y) != nullptr);
    Results->repaint();
}

void TForm1::Panel6MouseDown(Qt::MouseButton, int X, int Y) {
    if (!Results) return;
    const TcvResults* R = Results->HitAt(QPoint(X, Y));
    if (!R) return;
    fviews->Open(std::string(R->ID));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == ProblemText || watched == SolutionText)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* box = static_cast<QPlainTextEdit*>(watched);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            box->insertPlainText(QStringLiteral("\t"));
            return true;
        }
        if (watched == ProblemText && key->key() == Qt::Key_Down &&
            key->modifiers() == Qt::ControlModifier) {
            Results->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::vsChange() {
    if (!Results) return;
    Results->SetViewPoint(QPoint(0, vs->value()));
    Results->repaint();
}
