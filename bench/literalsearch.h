// The baseline of the program-level benchmarks: search as you type, saving, start-up and the
// memory of the loaded vectors as the original design costs them, step for step.
//
// - A change of the problem text vectorises the whole text on the user-interface thread and
//   queues it on a work queue.
// - The worker walks every row of the loaded vectors table, reads each stored vector back from
//   its text, scores it, and for every score above the threshold fetches the text with one SQL
//   query and makes a hit with its own title and excerpt; the hits go into a score tree.
// - The finished pass is handed to the user-interface thread, which draws the results panel.
// - A save runs its four inserts each as a statement of its own and then reloads the whole
//   vectors table; start-up opens the file and loads the whole table as text.
//
// It uses the program's own text analysis, score tree, work queue and results panel, so that a
// benchmark's ratio measures what the program's search index, incremental reload and loading
// save over this cost model, and nothing else.
//
// Ownership: the window owns its database, its table, its work queue and the passes it shows.
// Thread safety: as the main window's: only the worker reads the table and the database during
// a pass, holding the queue's lock; everything else is on the user-interface thread.
#pragma once

#include <QWidget>
#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include "sqlite/sqlitedb.h"
#include "textsearch/cvvector.h"
#include "textsearch/helix.h"
#include "textsearch/scoretree.h"
#include "textsearch/searchhit.h"

class QPlainTextEdit;
class vRenderPanel;

// One pass's hits with the texts they own.
struct TLiteralPass {
    std::deque<std::string> texts;
    std::deque<TcvResults> hits;
    TScoretree<TcvResults> tree;
};

class TLiteralWindow : public QWidget {
public:
    // Opens the knowledge base file and loads its vectors as the original start-up does.
    explicit TLiteralWindow(const std::string& file);
    ~TLiteralWindow() override;
    TLiteralWindow(const TLiteralWindow&) = delete;
    TLiteralWindow& operator=(const TLiteralWindow&) = delete;

    QPlainTextEdit* ProblemText = nullptr;
    vRenderPanel* Results = nullptr;

    // The change handler of the problem box: ignored during a pass or for a blank text.
    void ProblemTextChange();
    // Four separate inserts, then the whole vectors table reloaded.
    void Save(const std::string& problem, const std::string& solution);

    int PassesShown() const { return fpassesShown; }
    int Hits() const;
    int Rows() const { return fsearchtable ? fsearchtable->Count() : 0; }

    // What the original start-up does with the file: open, create what is missing, read and
    // write back the text size, load every vector as text.
    static std::unique_ptr<TSQLiteTable> StartUp(TSQLiteDatabase& DB);

private:
    void Requery();
    void Process(TObject*& WorkItem);
    std::shared_ptr<TLiteralPass> executeQuery(const TcvVector& Query);
    void ShowPass(std::shared_ptr<TLiteralPass> pass);

    std::unique_ptr<TSQLiteDatabase> fDB;
    std::unique_ptr<TSQLiteTable> fsearchtable;  // guarded by the queue's lock
    std::shared_ptr<TLiteralPass> fshown;        // user-interface thread
    std::atomic<bool> fbusy{false};
    int fpassesShown = 0;
    // Last, so that the worker stops before what it reads goes away.
    std::unique_ptr<THelix> fhelix;
};
