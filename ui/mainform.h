// The main window: the problem and solution editors and the ranked list of similar entries beside
// them. It shows and collects; the engine below it (engine.h) stores, loads and searches.
//
// Typing runs a straight line: ProblemTextChange -> engine Search (the newest text wins) ->
// worker pass -> passReady, posted here -> ShowSearchPass (swap in the hits, repaint, scroll
// range). The engine opens the knowledge base on its worker while the window and the splash are
// already on screen; OpenedKnowledgeBase takes the outcome.
//
// Threads: user-interface thread only. The engine's callbacks are posted to this thread.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "ui/widgets/linklabel.h"
#include "textsearch/searchhit.h"
#include "core/store/storechoice.h"
#include "textsearch/scoretree.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSplitter;
class TPanel;
class TKnowledgeBaseMenu;
class TShowItem;
class vRenderPanel;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // The knowledge base file in dataDir (the directory that holds, or will hold, it).
    explicit TForm1(const std::string& dataDir, QWidget* parent = nullptr);
    // The store a choice names: a knowledge base file or an office server.
    explicit TForm1(const TStoreChoice& choice, QWidget* parent = nullptr);
    ~TForm1() override;

    // --- Components of the layout ---
    QMenu* Configure1 = nullptr;
    QMenu* Fontsize1 = nullptr;
    QMenu* KnowledgeBase1 = nullptr;
    QAction* Larger1 = nullptr;
    QAction* Smaller1 = nullptr;
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
    // Deletes an entry (the view window's Delete, after its question); raises when it stayed.
    void DeleteEntry(const std::string& ID);
    // Replaces an entry's texts (a view window's Save) and searches again; raises when they
    // were not stored.
    void SaveEdit(const std::string& ID, const std::string& problem, const std::string& solution);
    // The view window open for entry ID, or null.
    TShowItem* ViewWindowOf(std::string_view ID) const;
    int ViewWindowCount() const { return static_cast<int>(shown.size()); }
    TShowItem* ViewWindowAt(int i) const { return shown.at(static_cast<size_t>(i)).second.get(); }
    void SetWindowColor(QColor color);
    // Leaves the store in use for the one choice names: the view windows close, the list
    // empties, and the new store opens as at start (opened follows).
    void UseStore(const TStoreChoice& choice);
    // Raises when a view window holds edits not yet saved (before the store changes under it).
    void RefuseWhileEditing() const;

    // --- State, read-only ---
    TKnowledgeEngine& Engine() { return *fengine; }
    // Where the entries in use are.
    const TStoreChoice& Choice() const { return fchoice; }
    // The "Knowledge base" menu's actions.
    TKnowledgeBaseMenu& KnowledgeBaseMenu() { return *fkbMenu; }
    // The opening has reported (successfully or not).
    bool Opened() const { return fopened; }
    int32_t FontSize() const { return fontsize; }
    // The text size that the problem box shows now, in points.
    int ProblemTextSize() const { return fproblemTextSize; }
    // The hits on display, by score.
    const TScoretree<TcvResults>& ScoredHits() const { return *Scored; }
    // Passes of the engine in use shown so far.
    int PassesShown() const { return fpassesShown; }
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
    void Label5Click();
    void Panel6MouseMove(int X, int Y);
    void Panel6MouseDown(Qt::MouseButton Button, int X, int Y);
    void vsChange();

signals:
    // The window has closed for good; the program ends.
    void closed();
    // A "HELP!" link was clicked.
    void helpRequested();
    // The store has been opened (error empty) or could not be (error says why).
    void opened(const QString& error);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void MakeEngine();
    void StartOpeningOnce();
    // The engine, its opening started (a user's action never reaches it before the opening).
    TKnowledgeEngine& Ready();
    void BuildLayout();
    void CreateResultsPanel();
    // Focus order, keys of the text boxes, and names for screen readers.
    void SetUpKeyboardAndNames();
    void OpenedKnowledgeBase(const TKnowledgeEngine::TOpened& opened);
    // Shows a text size in the boxes and the list, without storing it.
    void ApplyFontSize(int32_t newsize);
    void ShowSearchPass(std::shared_ptr<TSearchPass> pass);
    // Saves the two boxes' texts; raises with the reason when nothing was stored.
    void SaveBoxes();
    void OpenEntry(const std::string& ID);
    void ForgetViewWindow(TShowItem* window);

    TStoreChoice fchoice;
    // Passes and openings of an engine given up for another are dropped when they arrive.
    int fengineGeneration = 0;
    std::unique_ptr<TKnowledgeEngine> fengine;
    TKnowledgeBaseMenu* fkbMenu = nullptr;   // a child
    std::unique_ptr<vRenderPanel> fresults;  // Results
    std::shared_ptr<TSearchPass> fhold;      // the hits on display, which Scored orders
    TScoretree<TcvResults> fnoHits;          // what the list shows before the first pass
    TScoretree<TcvResults>* Scored = &fnoHits;  // fhold's tree, or fnoHits
    std::vector<std::pair<std::string, std::unique_ptr<TShowItem>>> shown;
    int32_t fontsize = 0;
    int fproblemTextSize = 0;
    int fpassesShown = 0;
    bool fopened = false;
    bool fopeningStarted = false;
    bool fclosed = false;
    bool fshownOnce = false;
    bool fhandCursor = false;  // the hand is the application-wide cursor
};
