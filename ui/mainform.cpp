// The main window builds its layout, then its state (FormCreate), and from then on reacts to the
// user. Every handler runs guarded (RunHandler): an error it raises is shown and the program goes
// on. Writes are the engine's; the window keeps the hits on display and the view windows open.
#include "ui/mainform.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cctype>

#include "ui/application.h"
#include "textsearch/renderpanel/colors.h"
#include "ui/widgets/dialogs.h"
#include "ui/kbmenu.h"
#include "core/knowledgebase.h"
#include "ui/widgets/qtext.h"
#include "ui/splashu.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/widgets/uipanel.h"
#include "ui/viewform.h"

namespace {

const QColor kCream(255, 251, 240);
// How long a shown window waits for its first paint before the opening starts anyway.
constexpr int kFirstPaintWaitMs = 250;

// The hourglass for one scope.
class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Runs a write of the user's texts; a failure says that the entry was not saved, and why.
template <class Write>
void SaveOrExplain(Write write) {
    try {
        write();
    } catch (const EBusy&) {
        throw Exception(
            "The entry was not saved: the knowledge base stayed busy. Your texts are still here; "
            "please try again");
    } catch (const std::exception& e) {
        throw Exception(std::string("The entry was not saved. ") + e.what());
    }
}

bool IsBlank(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32) return false;
    }
    return true;
}

}  // namespace

TForm1::TForm1(const std::string& dataDir, QWidget* parent)
    : TForm1(FileChoice(kb::KnowledgeBaseFile(dataDir)), parent) {}

TForm1::TForm1(const TStoreChoice& choice, QWidget* parent) : QMainWindow(parent), fchoice(choice) {
    MakeEngine();
    BuildLayout();
    RunHandler([this] { FormCreate(); });
}

void TForm1::MakeEngine() {
    // The engine's callbacks arrive on its worker; each is posted here, and dropped with the
    // window if it closes first, or when this engine has been given up for another.
    const int generation = ++fengineGeneration;
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [this, generation](std::shared_ptr<TSearchPass> pass) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, pass = std::move(pass)] {
                if (generation == fengineGeneration) RunHandler([&] { ShowSearchPass(pass); });
            },
            Qt::QueuedConnection);
    };
    callbacks.opened = [this, generation](const TKnowledgeEngine::TOpened& opened) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, opened] {
                if (generation == fengineGeneration) OpenedKnowledgeBase(opened);
            },
            Qt::QueuedConnection);
    };
    fengine = std::make_unique<TKnowledgeEngine>(MakeStore(fchoice), std::move(callbacks));
}

void TForm1::RefuseWhileEditing() const {
    for (const auto& [id, window] : shown) {
        if (window->Editing() && window->Modified()) {
            window->raise();
            throw Exception("An entry is being edited: save or cancel its edits first");
        }
    }
}

void TForm1::UseStore(const TStoreChoice& choice) {
    RefuseWhileEditing();
    TWaitCursor hourglass;
    // The entries on view belong to the store being left.
    for (auto& [id, window] : shown)
        window.release()->deleteLater();
    shown.clear();
    fengine.reset();  // its worker stops; what it still posts is dropped
    fchoice = choice;
    fopened = false;
    fpassesShown = 0;  // counted per engine, as it counts the passes it runs
    Results->SetStorage(nullptr);
    fhold.reset();
    Scored = &fnoHits;
    Results->SetStorage(Scored);
    Results->StorageChanged();
    MakeEngine();
    fopeningStarted = false;
    StartOpeningOnce();
    Requery();
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
    fkbMenu = new TKnowledgeBaseMenu(*this, KnowledgeBase1);
    // Opening and loading run on the engine's worker, behind the splash; a change typed meanwhile
    // is searched once they end, and a save waits for them. They start once the window has first
    // painted: loading a large knowledge base keeps both processors busy, which would hold the
    // first paint up. A window not shown starts them at once, one not painted soon all the same.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible()) {
            StartOpeningOnce();
        } else {
            QTimer::singleShot(kFirstPaintWaitMs, this, [this] { StartOpeningOnce(); });
        }
    });
}

void TForm1::StartOpeningOnce() {
    if (fopeningStarted || !fengine) return;
    fopeningStarted = true;
    fengine->StartOpening();
}

TKnowledgeEngine& TForm1::Ready() {
    // Whatever the user does first goes to the engine after the opening, never before it.
    StartOpeningOnce();
    return *fengine;
}

void TForm1::OpenedKnowledgeBase(const TKnowledgeEngine::TOpened& opened) {
    fopened = true;
    if (opened.fontsize) ApplyFontSize(*opened.fontsize);
    if (!opened.error.empty()) ShowException(Exception(opened.error));
    emit this->opened(QString::fromStdString(opened.error));
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
    connect(Results, &vRenderPanel::OnMouseLeave, this, [this](vRenderPanel*) {
        if (fhandCursor) QGuiApplication::restoreOverrideCursor();
        fhandCursor = false;
    });
    // The first paint of the list is the window's first paint: the opening may start.
    auto firstPaint = std::make_shared<QMetaObject::Connection>();
    *firstPaint = connect(Results, &vRenderPanel::OnPaint, this, [this, firstPaint] {
        disconnect(*firstPaint);
        QTimer::singleShot(0, this, [this] { StartOpeningOnce(); });
    });
    connect(Results, &vRenderPanel::mousePressed, this,
            [this](Qt::MouseButton button, int x, int y) {
                RunHandler([&] { Panel6MouseDown(button, x, y); });
            });
    // The keyboard's Enter opens the current hit as a click would; Esc goes back to typing.
    connect(Results, &vRenderPanel::activated, this, [this](const TcvResults* hit) {
        if (hit) RunHandler([&] { OpenEntry(std::string(hit->ID)); });
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
    // The engine first: its worker stops, so nothing searches or posts what is freed below.
    fengine.reset();
    if (Results) Results->SetStorage(nullptr);
    Scored = &fnoHits;
    fhold.reset();
    shown.clear();
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
    for (const auto& [id, window] : shown)
        window->SetTextSize(shownSize);
}

void TForm1::SetFontSize(int32_t newsize) {
    ApplyFontSize(newsize);
    if (fengine) Ready().WriteFontSize(newsize);
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
// Saving and deleting

void TForm1::SaveBoxes() {
    // An entry of blank texts could never be listed, so never opened or deleted again.
    if (IsBlank(ProblemBytes()) && IsBlank(SolutionBytes())) {
        throw Exception("There is nothing to save: both boxes are empty");
    }
    TWaitCursor hourglass;
    SaveOrExplain([&] { Ready().Save(ProblemBytes(), SolutionBytes()); });
}

void TForm1::Button1Click() {
    SaveBoxes();
    // Only a stored entry empties the boxes: nothing the user typed is lost.
    ProblemText->clear();
    SolutionText->clear();
    ProblemText->setFocus();  // the next problem starts where the first did
}

void TForm1::FormCloseQuery(bool& CanClose) {
    if (ProblemText->toPlainText().isEmpty() && SolutionText->toPlainText().isEmpty()) return;
    CanClose = true;
    const auto answer =
        Dialogs().Ask(this, QStringLiteral("Confirm"),
                      QStringLiteral("Would you like to save this entry before closing?"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        if (IsBlank(ProblemBytes()) && IsBlank(SolutionBytes())) return;  // nothing to keep
        // A save that did not happen keeps the window open, texts and all.
        CanClose = false;
        SaveBoxes();
        CanClose = true;
    } else if (answer != QMessageBox::No) {
        CanClose = false;
    }
}

void TForm1::SaveEdit(const std::string& ID, const std::string& problem,
                      const std::string& solution) {
    if (IsBlank(problem) && IsBlank(solution)) {
        throw Exception("The entry was not saved: both texts are empty. To remove it, use Delete");
    }
    TWaitCursor hourglass;
    SaveOrExplain([&] { Ready().Replace(ID, problem, solution); });
    Requery();
}

void TForm1::DeleteEntry(const std::string& ID) {
    TWaitCursor hourglass;
    try {
        Ready().Delete(ID);
    } catch (const EBusy&) {
        throw Exception("The entry was not deleted: the knowledge base stayed busy");
    }
}

// ---------------------------------------------------------------------------------------------
// Search as you type

void TForm1::ProblemTextChange() {
    std::string text = ProblemBytes();
    if (IsBlank(text)) return;
    Ready().Search(std::move(text));
}

void TForm1::Requery() {
    if (fengine) Ready().Search(ProblemBytes());
}

void TForm1::ShowSearchPass(std::shared_ptr<TSearchPass> pass) {
    if (fclosed || !pass || !Results) return;
    // Swap the new hits in whole; the old ones go with the previous pass, after the panel has
    // let go of them.
    Scored = pass->tree.get();
    Results->SetStorage(Scored);
    fhold = std::move(pass);
    // Repaints, and sets the scroll range up again (scrollMetricsChanged); the layout is
    // arithmetic, so the range is right even before the panel is on screen.
    Results->StorageChanged();
    Results->Hover(0, 0);
    ++fpassesShown;
}

// ---------------------------------------------------------------------------------------------
// The results list

void TForm1::Panel6MouseMove(int X, int Y) {
    TcvResults* R = Results->Hover(X, Y);
    // The default cursor is no override at all, so that every widget shows its own again.
    if (R && !fhandCursor) QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
    if (!R && fhandCursor) QGuiApplication::restoreOverrideCursor();
    fhandCursor = R != nullptr;
    Results->repaint();
}

void TForm1::Panel6MouseDown(Qt::MouseButton, int X, int Y) {
    if (!Results) return;
    const TcvResults* R = Results->HitAt(QPoint(X, Y));
    if (!R) return;
    OpenEntry(std::string(R->ID));
}

void TForm1::OpenEntry(const std::string& ID) {
    TShowItem* window = ViewWindowOf(ID);
    if (!window) {
        // Read both texts before anything is cached: an entry that is gone opens nothing.
        const TEntryTexts texts = Ready().ReadEntry(ID);
        auto created = std::make_unique<TShowItem>();
        created->SetTextSize(std::max(1, static_cast<int>(fontsize)));
        created->Execute(ID, texts.problem, texts.solution);
        window = created.get();
        connect(window, &TShowItem::deleteConfirmed, this, [this](TShowItem* w) {
            DeleteEntry(w->EntryID());
            Requery();
        });
        connect(window, &TShowItem::closedByButton, this,
                [this](TShowItem* w) { ForgetViewWindow(w); });
        connect(window, &TShowItem::editSaved, this,
                [this](TShowItem* w, const std::string& problem, const std::string& solution) {
                    SaveEdit(w->EntryID(), problem, solution);
                });
        shown.emplace_back(ID, std::move(created));
    }
    window->show();
    window->raise();
    window->activateWindow();
}

TShowItem* TForm1::ViewWindowOf(std::string_view ID) const {
    // As the store tells entries apart: an imported "abc" and "ABC" are two entries.
    for (const auto& [id, window] : shown) {
        if (id == ID) return window.get();
    }
    return nullptr;
}

void TForm1::ForgetViewWindow(TShowItem* window) {
    for (auto it = shown.begin(); it != shown.end(); ++it) {
        if (it->second.get() == window) {
            it->second.release()->deleteLater();  // it may be inside one of its own handlers
            shown.erase(it);
            return;
        }
    }
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
