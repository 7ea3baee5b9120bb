// The main window builds its layout, then its state (FormCreate); from then on it reacts to the
// user. Typing runs a straight line: ProblemTextChange -> Requery (push the text) -> worker:
// QueryHelixProcessWorkItem (vectorise) -> executeQuery (search under the lock) -> posted
// ShowSearchPass on this thread (swap in the hits, repaint, scroll range). Saving and deleting
// change the knowledge base and the loaded vectors under the same lock, so a search never sees
// them half-changed.
#include "mainform.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
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
#include "helpformu.h"
#include "port/thread.h"
#include "qtext.h"
#include "splashu.h"
#include "textsearch/locks.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "uipanel.h"
#include "viewform.h"

TForm1* Form1 = nullptr;

namespace {

constexpr int kQueueTimeout = 3000;  // queue operations and the search wait this long for the lock
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
    editor->setFrameShape(QFrame::NoFrame);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor->setFont(Tahoma(13));
    return editor;
}

}  // namespace

TForm1::TForm1(const std::string& dataDir, QWidget* parent)
    : QMainWindow(parent), fdataDir(dataDir) {
    Form1 = this;
    BuildLayout();
    RunHandler([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (!fclosed) FormClose();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("Pelloquin: Tromsel Veru v1.0"));
    setFont(Tahoma(11));

    Configure1 = menuBar()->addMenu(QStringLiteral("Settings"));
    Fontsize1 = Configure1->addMenu(QStringLiteral("Text Size"));
    Larger1 = Fontsize1->addAction(QStringLiteral("Larger"));
    Smaller1 = Fontsize1->addAction(QStringLiteral("Smaller"));
    Exit1 = menuBar()->addAction(QStringLiteral("Exit"));

    auto* client = new QWidget(this);
    auto* row = new QHBoxLayout(client);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, client);
    Splitter1->setAutoFillBackground(true);
    row->addWidget(Splitter1, 1);
    vs = new QScrollBar(Qt::Vertical, client);
    vs->setFixedWidth(15);
    vs->setRange(0, 100);
    vs->setSingleStep(1);
    vs->setPageStep(1);  // a click in the track moves one pixel; the thumb keeps its size
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

    // The work queue belongs to the layout: its worker idles until the first search is queued.
    QueryHelix = std::make_unique<THelix>();
    QueryHelix->SetOnProcessWorkItem(
        [this](THelix& helix, TObject*& item) { QueryHelixProcessWorkItem(helix, item); });
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

    DB = std::make_unique<TSQLiteDatabase>(kb::KnowledgeBaseFile(fdataDir));
    kb::CreateMissingTables(*DB);
    fontsize = kb::ReadFontSize(*DB);
    SetFontSize(fontsize);
    LoadAllVectors();
    busy = false;
}

void TForm1::CreateResultsPanel() {
    Results = std::make_unique<vRenderPanel>(nullptr);
    Results->SetColor(cBGCOLOR);
    Results->SetStorage(Scored.get());
    Results->SetScorePosition(false);
    Results->setFont(font());
    Panel7->Place(Results.get(), QRect(0, 24, 425, 522), akLeft | akTop | akRight | akBottom);
    Results->show();
    connect(Results.get(), &vRenderPanel::mouseMoved, this,
            [this](int x, int y) { RunHandler([&] { Panel6MouseMove(x, y); }); });
    // Leaving the list gives every widget its own cursor back; otherwise the hand would stay
    // over the whole program until the mouse next moved over the list.
    connect(Results.get(), &vRenderPanel::OnMouseLeave, this, [this](vRenderPanel*) {
        if (fhandCursor) QGuiApplication::restoreOverrideCursor();
        fhandCursor = false;
    });
    connect(Results.get(), &vRenderPanel::mousePressed, this,
            [this](Qt::MouseButton button, int x, int y) {
                RunHandler([&] { Panel6MouseDown(button, x, y); });
            });
}

void TForm1::LoadAllVectors() {
    // The mark is taken first: anything written by others after it forces a full reload later.
    const kb::TVectorsMark mark = kb::MarkVectors(*DB);
    // Both are built before either is replaced, so a failed load leaves the old ones in use.
    auto table = kb::LoadVectors(*DB);
    auto index = std::make_unique<TSearchIndex>();
    index->Load(*table, *DB);
    searchtable = std::move(table);
    fsearch = std::move(index);
    fmark = mark;
    fvectorsStale = false;
}

void TForm1::ReloadVectors() {
    if (!DB) return;
    if (fvectorsStale || !searchtable || !kb::UnchangedElsewhere(*DB, fmark)) {
        LoadAllVectors();
        return;
    }
    // Only this connection wrote since the last load: fetch just the rows added since.
    auto added = kb::LoadVectorsAddedAfter(*DB, fmark);
    fsearch->Append(*added, *DB);
    searchtable->AppendRows(*added);
    fmark = kb::MarkVectors(*DB);
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
    RunSplashSequence(*this);
}

void TForm1::FormClose() {
    fclosed = true;
    // Stop the worker first: nothing may search what is freed below.
    if (QueryHelix) {
        QueryHelix->Stop();
        for (TObject* item : QueryHelix->TakeQueued())
            delete item;
        QueryHelix.reset();
    }
    if (Results) Results->SetStorage(nullptr);
    fhold.clear();
    if (Scored && Scored->Count() > 0) Scored->Clear();
    searchtable.reset();
    shown.clear();
    Scored.reset();
    DB.reset();
    Results.reset();
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

void TForm1::SetFontSize(int32_t newsize) {
    // Qt cannot show a size below 1 point; the boxes keep the size the user asked for all the same.
    const int shownSize = std::max(1, static_cast<int>(newsize));
    for (QWidget* w : {static_cast<QWidget*>(ProblemText), static_cast<QWidget*>(SolutionText),
                       static_cast<QWidget*>(Results.get())}) {
        if (!w) continue;
        QFont f = w->font();
        f.setPointSize(shownSize);
        w->setFont(f);
    }
    fproblemTextSize = newsize;
    if (Results) Results->update();
    fontsize = newsize;
    if (DB) kb::WriteFontSize(*DB, newsize);
}

void TForm1::Larger1Click() {
    // The largest size that can be stored and read back; one more would wrap around.
    if (fontsize < INT32_MAX) SetFontSize(fontsize + 1);
}

void TForm1::Smaller1Click() {
    if (fproblemTextSize > 6) SetFontSize(fontsize - 1);
}

void TForm1::Label5Click() {
    ShowHelpAtSolution();
}

// ---------------------------------------------------------------------------------------------
// Saving and deleting

bool TForm1::SaveProblemSolution(const std::string& problem, const std::string& solution) {
    TWaitCursor hourglass;
    if (!DB) throw Exception("The knowledge base is not open");
    TLockGuard lock(QueryHelix->QueueLock(), fwriteLockTimeout);
    if (!lock.Owns()) return false;
    flastSavedID = kb::SaveEntry(*DB, problem, solution);
    return true;
}

void TForm1::Button1Click() {
    bool saved = false;
    try {
        saved = SaveProblemSolution(ProblemBytes(), SolutionBytes());
    } catch (const std::exception& e) {
        throw Exception(std::string("The entry was not saved. ") + e.what());
    }
    if (!saved) {
        throw Exception(
            "The entry was not saved: the knowledge base stayed busy. Your texts are still here; "
            "please try again");
    }
    // Only a stored entry empties the boxes: nothing the user typed is lost.
    ProblemText->clear();
    SolutionText->clear();
    TLockGuard lock(QueryHelix->QueueLock(), fwriteLockTimeout);
    if (!lock.Owns()) {
        fvectorsStale = true;  // the entry is stored; the next reload brings it in
        return;
    }
    ReloadVectors();
}

void TForm1::FormCloseQuery(bool& CanClose) {
    if (ProblemText->toPlainText().isEmpty() && SolutionText->toPlainText().isEmpty()) return;
    CanClose = true;
    const auto answer =
        Dialogs().Ask(this, QStringLiteral("Confirm"),
                      QStringLiteral("Would you like to save this entry before closing?"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        // A save that did not happen keeps the window open, texts and all.
        CanClose = false;
        bool saved = false;
        try {
            saved = SaveProblemSolution(ProblemBytes(), SolutionBytes());
        } catch (const std::exception& e) {
            throw Exception(std::string("The entry was not saved. ") + e.what());
        }
        if (!saved) {
            throw Exception("The entry was not saved: the knowledge base stayed busy");
        }
        CanClose = true;
    } else if (answer != QMessageBox::No) {
        CanClose = false;
    }
}

void TForm1::DeleteEntry(const std::string& ID) {
    if (!DB) throw Exception("The knowledge base is not open");
    TWaitCursor hourglass;
    TLockGuard lock(QueryHelix->QueueLock(), fwriteLockTimeout);
    if (!lock.Owns()) {
        throw Exception("The entry was not deleted: the knowledge base stayed busy");
    }
    const bool incremental = !fvectorsStale && searchtable && kb::UnchangedElsewhere(*DB, fmark);
    kb::DeleteEntry(*DB, ID);
    if (!incremental) {
        LoadAllVectors();
        return;
    }
    searchtable->DeleteRowsWhere(0, ID);
    fsearch->Remove(ID);
    fmark = kb::MarkVectors(*DB);
}

// ---------------------------------------------------------------------------------------------
// Search as you type

void TForm1::ProblemTextChange() {
    if (busy) {
        fpendingChange = true;  // searched when the running pass has been shown
        return;
    }
    std::string text = ProblemBytes();
    if (IsBlank(text)) return;
    Queue(std::move(text));
}

namespace {
// A problem text queued for a search. The worker builds its term vector: for a long paste that
// takes longer than the window may stay unresponsive.
struct TQueryText : TObject {
    explicit TQueryText(std::string bytes) : text(std::move(bytes)) {}
    std::string text;
};
}  // namespace

void TForm1::Requery() { Queue(ProblemBytes()); }

void TForm1::Queue(std::string problem) {
    if (!QueryHelix) return;
    auto query = std::make_unique<TQueryText>(std::move(problem));
    TObject* item = query.get();
    if (QueryHelix->Push(item)) {
        query.release();  // the worker owns it now
        ++fqueriesPushed;
    }
}

void TForm1::QueryHelixProcessWorkItem(THelix& Helix, TObject*& WorkItem) {
    // Searches give way to the window: on two cores the worker and the search's helper thread
    // would otherwise keep the user-interface thread waiting after every keystroke.
    static thread_local const bool lowered = LowerCurrentThreadPriority();
    (void)lowered;
    struct TCounted {
        std::atomic<int>& handled;
        ~TCounted() { ++handled; }
    } counted{fqueriesHandled};
    // Whatever happens below, the item is freed here.
    std::unique_ptr<TObject> owned(std::exchange(WorkItem, nullptr));
    std::unique_ptr<TcvVector> query;
    if (const auto* text = dynamic_cast<const TQueryText*>(owned.get())) {
        query = EncodeCV(text->text);  // before the lock, which the window may be waiting for
    } else if (auto* vector = dynamic_cast<TcvVector*>(owned.get())) {
        owned.release();
        query.reset(vector);
    }
    if (!query) return;
    TLockGuard lock(Helix.QueueLock(), kQueueTimeout);
    if (!lock.Owns()) return;
    executeQuery(std::move(query));
}

void TForm1::executeQuery(std::unique_ptr<TcvVector> Query) {
    TLockGuard lock(QueryHelix->QueueLock(), kQueueTimeout);
    if (!lock.Owns()) return;
    std::shared_ptr<TSearchPass> pass;
    // busy is cleared and the outcome posted on every path, so a change typed during the pass
    // is searched once it has been shown.
    struct TPassEnd {
        TForm1* form;
        std::shared_ptr<TSearchPass>& pass;
        ~TPassEnd() {
            form->busy = false;
            QMetaObject::invokeMethod(
                form,
                [form = form, pass = pass] { RunHandler([&] { form->ShowSearchPass(pass); }); },
                Qt::QueuedConnection);
        }
    };
    busy = true;
    TPassEnd end{this, pass};
    if (!searchtable || !fsearch) return;  // the knowledge base never opened: nothing to search
    if (fpassRunningHook) fpassRunningHook();
    pass = fsearch->Search(*Query);
}

void TForm1::ShowSearchPass(std::shared_ptr<TSearchPass> pass) {
    if (fclosed) return;
    if (pass && Results) {
        // Swap the new hits in whole; the old ones go when pass does, after the panel has let
        // go of them.
        fhold.swap(pass->hits);
        Scored.swap(pass->tree);
        std::swap(fholdTexts, pass->texts);
        Results->SetStorage(Scored.get());
        Results->StorageChanged();
        Results->Hover(0, 0);
        // Drawn now, so that the scroll range is right even when the panel is not (yet) on
        // screen, where a repaint would draw nothing; the screen follows at the next paint.
        Results->DrawPanel();
        Results->update();
        vs->setMaximum(std::max(0, Results->ScrollHeight()));
        ++fpassesShown;
    }
    if (fpendingChange) {
        fpendingChange = false;
        ProblemTextChange();
    }
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
    // The panel finds the hit under a point while drawing.
    Results->Hover(X, Y);
    Results->repaint();
    const TcvResults* R = Results->Hover(X, Y);
    if (!R) return;
    const std::string ID(R->ID);
    TShowItem* window = ViewWindowOf(ID);
    if (!window) {
        if (!DB) return;
        // Read both texts before anything is cached: an entry that is gone opens nothing.
        const std::string problem = kb::ReadDescription(*DB, ID, kb::kProblem);
        const std::string solution = kb::ReadDescription(*DB, ID, kb::kSolution);
        auto created = std::make_unique<TShowItem>();
        created->Execute(DB.get(), ID, problem, solution);
        window = created.get();
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
