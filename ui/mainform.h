// The main window: the problem and solution editors and the ranked list of similar entries beside
// them. It shows and collects; the session below it (session.h) opens the store, searches, reads
// and writes.
//
// Typing runs a straight line: ProblemTextChange -> session Search -> engine (the newest text
// wins) -> worker pass -> passReady, posted to the session -> ShowSearchPass (swap in the hits,
// repaint, scroll range). The opening runs on the engine's worker while the window and the splash
// are already on screen; the window asks for it once it has painted. A save runs off this thread:
// the boxes wait, read-only, until it has reported.
//
// Threads: user-interface thread only.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "core/engine.h"
#include "textsearch/scoretree.h"
#include "textsearch/searchhit.h"
#include "ui/widgets/linklabel.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSplitter;
class TPanel;
class TKnowledgeBaseMenu;
class TSession;
class TViewWindows;
class vRenderPanel;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // A window on the session's store; the session outlives it.
    explicit TForm1(TSession& session, QWidget* parent = nullptr);
    ~TForm1() override;

    // --- Components of the layout ---
    QMenu* Configure1 = nullptr;
    QMenu* Fontsize1 = nullptr;
    QMenu* KnowledgeBase1 = nullptr;
    QAction* Larger1 = nullptr;
    QAction* Smaller1 = nullptr;
    QMenu* Ranking1 = nullptr;
    QAction* BestMatch1 = nullptr;
    QAction* Classic1 = nullptr;
    QAction* YourName1 = nullptr;
    QAction* Exit1 = nullptr;
    TPanel* Panel1 = nullptr;
    TPanel* Panel2 = nullptr;
    TPanel* Panel3 = nullptr;
    TPanel* Panel4 = nullptr;
    TPanel* Panel5 = nullptr;
    TPanel* Panel6 = nullptr;
    TPanel* Panel7 = nullptr;
    TPanel* Panel8 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QPlainTextEdit* ProblemText = nullptr;
    QPlainTextEdit* SolutionText = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    TLinkLabel* Label5 = nullptr;  // the "HELP!" links
    TLinkLabel* Label1 = nullptr;
    TLinkLabel* Label2 = nullptr;
    QScrollBar* vs = nullptr;
    vRenderPanel* Results = nullptr;  // the ranked list; null once the window has closed

    // --- Operations ---
    void SetFontSize(int32_t newsize);
    // Searches the current problem text, whatever it is (an empty one clears the list).
    void Requery();
    void SetWindowColor(QColor color);

    // --- State, read-only ---
    TSession& Session() { return fsession; }
    // The view windows open.
    TViewWindows& ViewWindows() { return *fviews; }
    // The "Knowledge base" menu's actions.
    TKnowledgeBaseMenu& KnowledgeBaseMenu() { return *fkbMenu; }
    int32_t FontSize() const { return fontsize; }
    // The text size that the problem box shows now, in points.
    int ProblemTextSize() const { return fproblemTextSize; }
    // The hits on display, by score.
    const TScoretree<TcvResults>& ScoredHits() const { return *Scored; }
    // Passes of the engine in use shown so far.
    int PassesShown() const { return fpassesShown; }
    // A save is on its way: the boxes wait.
    bool Saving() const { return fsaving; }
    // The problem and solution texts as stored.
    std::string ProblemBytes() const;
    std::string SolutionBytes() const;

    // Event handlers, named after their component and event.
    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void FormClose();
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Exit1Click();
    void ProblemTextChange();
    void Larger1Click();
    void Smaller1Click();
    // Settings > Ranking: the list's order from now on, kept for the next starts.
    void RankingClick(TRanking ranking);
    // Settings > Your name: the name recorded with this user's writes, kept for the next starts.
    void YourName1Click();
    // The caret moved: Best match completes the last word only while the caret stands after it.
    void ProblemTextCaretMove();
    void Label5Click();
    void Panel6MouseMove(int X, int Y);
    void Panel6MouseDown(Qt::MouseButton Button, int X, int Y);
    void vsChange();

signals:
    // The window has closed for good; the program ends.
    void closed();
    // A "HELP!" link was clicked.
    void helpRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void CreateResultsPanel();
    // Focus order, keys of the text boxes, and names for screen readers.
    void SetUpKeyboardAndNames();
    void OpenedKnowledgeBase(const TKnowledgeEngine::TOpened& opened);
    // The store in use changed: the list empties and the typed problem is searched there.
    void StoreChanged();
    // Shows a text size in the boxes and the list, without storing it.
    void ApplyFontSize(int32_t newsize);
    void ShowSearchPass(std::shared_ptr<TSearchPass> pass);
    // Saves the two boxes' texts, then runs saved; raises with the reason when nothing was
    // stored (at once, or when the store has answered).
    void SaveBoxes(std::function<void()> saved);
    void SetSaving(bool saving);
    void ShowHits(std::shared_ptr<TSearchPass> pass);
    // Whether the caret stands right after the problem's last word, which is then being typed.
    bool CaretAtWordEnd() const;
    void SearchProblem();

    TSession& fsession;
    TViewWindows* fviews = nullptr;             // a child
    TKnowledgeBaseMenu* fkbMenu = nullptr;      // a child
    std::unique_ptr<vRenderPanel> fresults;     // Results
    std::shared_ptr<TSearchPass> fhold;         // the hits on display, which Scored orders
    TScoretree<TcvResults> fnoHits;             // what the list shows before the first pass
    TScoretree<TcvResults>* Scored = &fnoHits;  // fhold's tree, or fnoHits
    int32_t fontsize = 0;
    int fproblemTextSize = 0;
    int fpassesShown = 0;
    bool fsearchedAtWordEnd = false;  // the caret's place when the problem was last searched
    bool fsaving = false;
    bool fcloseWhenSaved = false;  // closing waits for the save on its way
    bool fsavedForClose = false;   // the close question's save is stored: close without asking
    bool fclosed = false;
    bool fshownOnce = false;
};
