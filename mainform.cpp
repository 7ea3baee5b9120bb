// The main window builds its layout, then its state (FormCreate), and from then on reacts to the
// user. Every handler runs guarded (RunHandler): an error it raises is shown and the program goes
// on. Writes are the engine's; the window keeps the hits on display and the view windows open.
#include "mainform.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <algorithm>
#include <cctype>

#include "application.h"
#include "colors.h"
#include "dialogs.h"
#include "knowledgebase.h"
#include "qtext.h"
#include "splashu.h"
#include "sqlitestore.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "uipanel.h"
#include "viewform.h"

namespace {

const QColor kCream(255, 251, 240);
const QColor kButtonBar(243, 243, 243);
const QColor kHelpBack(240, 240, 240);

QFont Tahoma(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The hourglass for one scope.
class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

bool IsBlank(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32) return false;
    }
    return true;
}

QLabel* HelpLink(QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("HELP!"), parent);
    QFont font = Tahoma(9, true);
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::PointingHandCursor);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 111, 111));
    palette.setColor(QPalette::Window, kHelpBack);
    label->setPalette(palette);
    return label;
}

TPanel* Header(QWidget* parent, QSize size, const QString& caption) {
    auto* header = new TPanel(parent, size);
    header->setFont(Tahoma(19));
    header->SetCaption(caption);
    return header;
}

QPlainTextEdit* Editor(QWidget* parent) {
    auto* editor = new QPlainTextEdit(parent);
    // Tab moves on, as in the text boxes of earlier versions; Ctrl+Tab types a tab.
    editor->setTabChangesFocus(true);
    editor->setFrameShape(QFrame::NoFrame);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor->setFont(Tahoma(13));
    return editor;
}

}  // namespace

TForm1::TForm1(const std::string& dataDir, QWidget* parent)
    : TForm1(std::make_unique<TSQLiteStore>(kb::KnowledgeBaseFile(dataDir)), parent) {}

TForm1::TForm1(std::unique_ptr<TKnowledgeStore> store, QWidget* parent) : QMainWindow(parent) {
    // The engine's callbacks arrive on its worker; each is posted here, and dropped with the
    // window if it closes first.
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [this](std::shared_ptr<TSearchPass> pass) {
        QMetaObject::invokeMethod(
            this, [this, pass = std::move(pass)] { RunHandler([&] { ShowSearchPass(pass); }); },
            Qt::QueuedConnection);
    };
    callbacks.opened = [this](const TKnowledgeEngine::TOpened& opened) {
        QMetaObject::invokeMethod(
            this, [this, opened] { OpenedKnowledgeBase(opened); }, Qt::QueuedConnection);
    };
    fengine = std::make_unique<TKnowledgeEngine>(std::move(store), std::move(callbacks));
    BuildLayout();
    RunHandler([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (!fclosed) FormClose();
}

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("Pelloquin: Tromsel Veru v1.0"));
    setFont(Tahoma(11));

    // Every item has a mnemonic; the common actions their usual shortcuts.
    Configure1 = menuBar()->addMenu(QStringLiteral("&Settings"));
    Fontsize1 = Configure1->addMenu(QStringLiteral("&Text Size"));
    Larger1 = Fontsize1->addAction(QStringLiteral("&Larger"));
    Larger1->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    Smaller1 = Fontsize1->addAction(QStringLiteral("&Smaller"));
    Smaller1->setShortcut(QKeySequence::ZoomOut);
    Exit1 = menuBar()->addAction(QStringLiteral("E&xit"));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    auto* saveShortcut = new QAction(this);
    saveShortcut->setShortcut(QKeySequence::Save);
    addAction(saveShortcut);
    auto* helpShortcut = new QAction(this);
    helpShortcut->setShortcut(QKeySequence::HelpContents);
    addAction(helpShortcut);
    connect(saveShortcut, &QAction::triggered, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(helpShortcut, &QAction::triggered, this, [this] { emit helpRequested(); });

    auto* client = new QWidget(this);
    auto* row = new QHBoxLayout(client);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, client);
    Splitter1->setAutoFillBackground(true);
    row->addWidget(Splitter1, 1);
    vs = new QScrollBar(Qt::Vertical, client);
    vs->setFixedWidth(15);
    vs->setRange(0, 100);  // until the list sets it up (SetUpScrollBar)
    row->addWidget(vs);

    // The editors' side.
    Panel1 = new TPanel(Splitter1, QSize(385, 546));
    Splitter2 = new QSplitter(Qt::Vertical, Panel1);
    Panel1->Place(Splitter2, QRect(0, 0, 385, 546), akLeft | akTop | akRight | akBottom);

    Panel2 = new TPanel(Splitter2, QSize(385, 209));
    Panel5 = Header(Panel2, QSize(385, 24), QStringLiteral("The Problem:"));
    Panel2->Place(Panel5, QRect(0, 0, 385, 24), akLeft | akTop | akRight);
    Label5 = HelpLink(Panel5);
    Panel5->Place(Label5, QRect(348, 8, 30, 11), akTop | akRight);
    ProblemText = Editor(Panel2);
    Panel2->Place(ProblemText, QRect(1, 25, 383, 183), akLeft | akTop | akRight | akBottom);

    Panel3 = new TPanel(Splitter2, QSize(385, 334));
    Panel6 = Header(Panel3, QSize(533, 24), QStringLiteral("The Solution:"));
    Panel3->Place(Panel6, QRect(1, 1, 533, 24));
    Label1 = HelpLink(Panel6);
    Panel6->Place(Label1, QRect(496, 8, 30, 11), akTop | akRight);
    SolutionText = Editor(Panel3);
    Panel3->Place(SolutionText, QRect(1, 24, 383, 274), akLeft | akTop | akRight | akBottom);
    Panel4 = new TPanel(Panel3, QSize(385, 35));
    Panel4->SetColor(kButtonBar);
    Panel3->Place(Panel4, QRect(0, 299, 385, 35), akLeft | akRight | akBottom);
    Button1 = new QPushButton(QStringLiteral("Save"), Panel4);
    Button1->setFont(Tahoma(19));
    Panel4->Place(Button1, QRect(206, 8, 75, 25), akTop | akRight);
    Button2 = new QPushButton(QStringLiteral("Exit"), Panel4);
    Button2->setFont(Tahoma(19));
    Panel4->Place(Button2, QRect(294, 8, 75, 25), akTop | akRight);

    SetUpPanes(Splitter2, Panel2, Panel3, 209, 334);

    // The results' side.
    Panel7 = new TPanel(Splitter1, QSize(425, 546));
    Panel8 = Header(Panel7, QSize(425, 24), QStringLiteral("Similar Problems/Solutions:"));
    Panel7->Place(Panel8, QRect(0, 0, 425, 24), akLeft | akTop | akRight);
    Label2 = HelpLink(Panel8);
    Panel8->Place(Label2, QRect(388, 8, 30, 11), akTop | akRight);

    SetUpPanes(Splitter1, Panel1, Panel7, 385, 425);

    setCentralWidget(client);
    client->setMinimumSize(1, 1);
    resize(828, 546 + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // Every handler runs guarded: an error it raises is shown and the program goes on.
    connect(Larger1, &QAction::triggered, this, [this] { RunHandler([this] { Larger1Click(); }); });
    connect(Smaller1, &QAction::triggered, this,
            [this] { RunHandler([this] { Smaller1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { RunHandler([this] { Exit1Click(); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button2Click(); }); });
    connect(ProblemText, &QPlainTextEdit::textChanged, this,
            [this] { RunHandler([this] { ProblemTextChange(); }); });
    connect(vs, &QScrollBar::valueChanged, this, [this] { RunHandler([this] { vsChange(); }); });
    for (QLabel* link : {Label5, Label1, Label2}) {
        link->installEventFilter(this);
    }
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
    Scored = std::make_unique<TScoretree<TcvResults>>();
    CreateResultsPanel();
    SetUpKeyboardAndNames();
    // Opening and loading run on the engine's worker, behind the splash; a change typed meanwhile
    // is searched once they end, and a save waits for them.
    fengine->StartOpening();
}

void TForm1::OpenedKnowledgeBase(const TKnowledgeEngine::TOpened& opened) {
    fopened = true;
    if (opened.fontsize) ApplyFontSize(*opened.fontsize);
    if (!opened.error.empty()) ShowException(Exception(opened.error));
}

void TForm1::CreateResultsPanel() {
    fresults = std::make_unique<vRenderPanel>(nullptr);
    Results = fresults.get();
    Results->SetColor(cBGCOLOR);
    Results->SetStorage(Scored.get());
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

void TForm1::SetUpKeyboardAndNames() {
    // Tab order: problem box, solution box, Save, Exit, the list.
    setTabOrder(ProblemText, SolutionText);
    setTabOrder(SolutionText, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Results);
    ProblemText->installEventFilter(this);
    SolutionText->installEventFilter(this);

    ProblemText->setAccessibleName(QStringLiteral("The Problem"));
    ProblemText->setAccessibleDescription(
        QStringLiteral("Describe the problem; similar entries are listed as you type"));
    SolutionText->setAccessibleName(QStringLiteral("The Solution"));
    SolutionText->setAccessibleDescription(QStringLiteral("How the problem was solved"));
    Button1->setAccessibleName(QStringLiteral("Save"));
    Button1->setAccessibleDescription(QStringLiteral("Save the problem and its solution"));
    Button2->setAccessibleName(QStringLiteral("Exit"));
    Button2->setAccessibleDescription(QStringLiteral("Close Pelloquin"));
    vs->setAccessibleName(QStringLiteral("Scroll the similar entries"));
    for (QLabel* link : {Label5, Label1, Label2}) {
        link->setAccessibleName(QStringLiteral("HELP!"));
        link->setAccessibleDescription(QStringLiteral("Open the help window"));
        link->setFocusPolicy(Qt::NoFocus);
    }
    menuBar()->setAccessibleName(QStringLiteral("Menu"));
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
    fhold.reset();
    if (Scored && Scored->Count() > 0) Scored->Clear();
    shown.clear();
    Scored.reset();
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
    if (fengine) fengine->WriteFontSize(newsize);
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
    try {
        fengine->Save(ProblemBytes(), SolutionBytes());
    } catch (const EBusy&) {
        throw Exception(
            "The entry was not saved: the knowledge base stayed busy. Your texts are still here; "
            "please try again");
    } catch (const std::exception& e) {
        throw Exception(std::string("The entry was not saved. ") + e.what());
    }
}

void TForm1::Button1Click() {
    SaveBoxes();
    // Only a stored entry empties the boxes: nothing the user typed is lost.
    ProblemText->clear();
    SolutionText->clear();
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
    try {
        fengine->Replace(ID, problem, solution);
    } catch (const EBusy&) {
        throw Exception(
            "The entry was not saved: the knowledge base stayed busy. Your texts are "
            "still here; please try again");
    } catch (const std::exception& e) {
        throw Exception(std::string("The entry was not saved. ") + e.what());
    }
    Requery();
}

void TForm1::DeleteEntry(const std::string& ID) {
    TWaitCursor hourglass;
    try {
        fengine->Delete(ID);
    } catch (const EBusy&) {
        throw Exception("The entry was not deleted: the knowledge base stayed busy");
    }
}

// ---------------------------------------------------------------------------------------------
// Search as you type

void TForm1::ProblemTextChange() {
    std::string text = ProblemBytes();
    if (IsBlank(text)) return;
    fengine->Search(std::move(text));
}

void TForm1::Requery() {
    if (fengine) fengine->Search(ProblemBytes());
}

void TForm1::ShowSearchPass(std::shared_ptr<TSearchPass> pass) {
    if (fclosed || !pass || !Results) return;
    // Swap the new hits in whole; the old ones go when the previous pass does, after the panel
    // has let go of them.
    Scored = std::move(pass->tree);
    fhold = std::move(pass);
    Results->SetStorage(Scored.get());
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
        const TEntryTexts texts = fengine->ReadEntry(ID);
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
    auto sameID = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (const auto& [id, window] : shown) {
        if (sameID(id, ID)) return window.get();
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
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == Label5 || watched == Label1 || watched == Label2)) {
        RunHandler([this] { Label5Click(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::vsChange() {
    if (!Results) return;
    Results->SetViewPoint(QPoint(0, vs->value()));
    Results->repaint();
}
