// The main window: the problem and solution editors, the ranked list of similar entries beside
// them, and the state of a running program (the open knowledge base, the loaded vectors and their
// search index, the hits of the latest search, the work queue whose worker runs the searches).
//
// Threads: everything here runs on the user-interface thread except QueryHelixProcessWorkItem and
// executeQuery, which run on the work queue's worker. The worker reads only searchtable, fsearch
// and DB, and only while it holds the queue's lock; every write to them happens under that lock
// too. It never touches a widget: a finished pass is posted to the user-interface thread, which
// swaps it in (fhold, Scored) and repaints. Only busy is shared without the lock.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "knowledgebase.h"
#include "searchhit.h"
#include "searchindex.h"
#include "sqlite/sqlitedb.h"
#include "textsearch/cvvector.h"
#include "textsearch/helix.h"
#include "textsearch/scoretree.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSplitter;
class TPanel;
class TShowItem;
class vRenderPanel;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // dataDir: the directory that holds (or will hold) the knowledge base file.
    explicit TForm1(const std::string& dataDir, QWidget* parent = nullptr);
    ~TForm1() override;

    // --- Components of the layout ---
    QMenu* Configure1 = nullptr;
    QMenu* Fontsize1 = nullptr;
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
    QLabel* Label5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QScrollBar* vs = nullptr;

    // --- State (see the class comment for who touches what) ---
    std::unique_ptr<vRenderPanel> Results;
    std::unique_ptr<TSQLiteDatabase> DB;
    std::atomic<bool> busy{false};
    std::vector<TcvResults> fhold;  // the hits of the latest pass shown
    std::vector<std::shared_ptr<const std::string>> fholdTexts;  // what fhold points into
    int32_t fontsize = 0;
    std::unique_ptr<TSQLiteTable> searchtable;
    std::vector<std::pair<std::string, std::unique_ptr<TShowItem>>> shown;
    std::unique_ptr<TScoretree<TcvResults>> Scored;
    std::unique_ptr<THelix> QueryHelix;

    // --- Operations other windows and tests use ---
    void SetFontSize(int32_t newsize);
    // Stores an entry; false when the knowledge base was busy (nothing stored). Raises on a
    // failed statement (nothing stored either).
    bool SaveProblemSolution(const std::string& problem, const std::string& solution);
    // Removes an entry and its vectors from the knowledge base and from searches; raises when it
    // could not (nothing removed).
    void DeleteEntry(const std::string& ID);
    void Requery();
    void executeQuery(std::unique_ptr<TcvVector> Query);
    void SetWindowColor(QColor color);
    // The view window open for entry ID, or null.
    TShowItem* ViewWindowOf(std::string_view ID) const;
    // Drops a view window from `shown` and releases it once its events are done.
    void ForgetViewWindow(TShowItem* window);

    // The problem and solution texts as stored (8-bit, CR LF line breaks).
    std::string ProblemBytes() const;
    std::string SolutionBytes() const;

    // How long saving and deleting wait for a running search (tests shorten it).
    int fwriteLockTimeout = 300000;
    // The entry ID of the latest save (tests).
    std::string flastSavedID;
    // Called on the worker while a pass runs and busy is set (tests hold a pass open with it).
    std::function<void()> fpassRunningHook;

    // Event handlers, named after their component and event.
    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void FormClose();
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Exit1Click();
    void ProblemTextChange();
    void QueryHelixProcessWorkItem(THelix& Helix, TObject*& WorkItem);
    void Larger1Click();
    void Smaller1Click();
    void Label5Click();
    void Panel6MouseMove(int X, int Y);
    void Panel6MouseDown(Qt::MouseButton Button, int X, int Y);
    void vsChange();

    // The text size that the problem box shows now, in points.
    int ProblemTextSize() const { return fproblemTextSize; }
    // Searches that the worker has handed over so far, queries queued and queries the worker has
    // finished with (tests wait on them).
    int PassesShown() const { return fpassesShown; }
    int QueriesPushed() const { return fqueriesPushed; }
    int QueriesHandled() const { return fqueriesHandled; }

signals:
    // The window has closed for good; the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void CreateResultsPanel();
    // Opens the knowledge base, applies the stored text size and loads the vectors.
    void OpenKnowledgeBase();
    // Opens the file when it is not open and creates the tables it lacks.
    void EnsureTables();
    // Replaces searchtable and the search index by what the knowledge base holds now. REQUIRES:
    // the queue's lock held.
    void ReloadVectors();
    void LoadAllVectors();
    void ShowSearchPass(std::shared_ptr<TSearchPass> pass);
    // Queues a search of problem (the problem text as stored), read once by the caller.
    void Queue(std::string problem);

    std::string fdataDir;
    std::unique_ptr<TSearchIndex> fsearch;  // the loaded vectors, parsed and indexed by term
    kb::TVectorsMark fmark;
    bool fvectorsStale = false;   // a reload could not take the lock; the next one reloads whole
    bool fpendingChange = false;  // the problem text changed while a pass ran
    bool ftablesReady = false;    // the file is open and has its three tables
    bool fclosed = false;
    bool fshownOnce = false;
    bool fhandCursor = false;  // the hand is the application-wide cursor
    int fproblemTextSize = 0;
    int fpassesShown = 0;
    int fqueriesPushed = 0;
    std::atomic<int> fqueriesHandled{0};
};

// The one main window, for the other windows of the program.
extern TForm1* Form1;
