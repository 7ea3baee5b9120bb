// The office server as a store: the knowledge base's tables on a PostgreSQL server that the
// office's computers share, reached through libpq (pg/pgdb.h), with the search index kept in step
// by the server's notifications.
//
// Tables. textdata, vectors and settings as in the file, with texts and vectors as bytea so that
// every byte comes back as it was written (Windows-1252 and marked UTF-8 texts alike), and:
//  - vectors.seq, numbered from a sequence as each vector row is written: the index's key;
//  - changelog (seq, ID, op): one row for each entry that a save, edit, delete, copy or import
//    wrote; op says whether the entry is new to the server (no index can hold it yet), so that
//    taking in a save elsewhere costs no walk over the index.
// Every write takes the change log's table lock before it numbers anything, so numbers are
// handed out in the order the writes commit: whoever sees change N sees every change before it,
// and rows written later always have greater keys than rows written earlier. Each write is one
// transaction that ends with a notification on the channel "pelloquin_changes" carrying its change
// number. The text size is not on the server: it is the user's own (usersettings.h).
//
// Keeping in step. A full load reads every vector row in seq order, with the head of its text and
// the last change number, in one snapshot. A listener thread holds a second connection that
// LISTENs; a notification above what the index holds marks the store stale and calls Changed().
// Sync asks the server nothing unless the store is stale; then it reads the entries changed since
// the last change applied and replaces them in the index: their old texts go, and their current
// rows, all newer than any row the index holds, go at the end in seq order, where a fresh load
// puts them. A write does the same inside its own transaction before it commits, so the index
// takes in the writes of others that came before it as well as its own.
//
// Losing the server. A write or a read on a connection that broke is tried once more on a new
// one (nothing of it reached the server); when the server cannot be reached the write raises an
// Exception saying so, and nothing is written. Sync never waits on the network while the store
// has no connection: the listener reconnects in the background (with growing pauses), hands the
// store a fresh connection, and marks the store stale so that the next Sync reads the change log
// from the last change applied, which loses nothing. A server that answers but is slow (a table
// another program keeps locked) ends each statement after the statement limit: the read or write
// raises an Exception saying so, and a write stores nothing.
//
// Thread safety: as TKnowledgeStore. The listener touches only atomics, the spare connection
// (under its mutex) and Changed().
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/store/entryhistory.h"
#include "core/store/knowledgestore.h"
#include "port/socketwait.h"

class TPgConnection;
class TPgResult;
class EPgException;

// The message of every failure that comes from the server being out of reach.
inline constexpr std::string_view kServerUnreachable = "The office server cannot be reached";

class TPgStore : public TKnowledgeStore {
public:
    // conninfo: a libpq connection string, a postgresql:// URI or "service=NAME".
    explicit TPgStore(std::string conninfo);
    ~TPgStore() override;

    void Open() override;
    bool IsOpen() const override { return fopen; }
    // The text size in the user's settings; 10 when never set or unreadable.
    int32_t ReadFontSize() override;
    void WriteFontSize(int32_t size) override;
    void LoadAll(TSearchIndex& index) override;
    bool Sync(TSearchIndex& index) override;
    std::string SaveEntry(std::string_view problem, std::string_view solution,
                          TSearchIndex* index) override;
    void ReplaceEntry(std::string_view ID, std::string_view problem, std::string_view solution,
                      std::string_view seenVersion, TSearchIndex* index) override;
    void DeleteEntry(std::string_view ID, TSearchIndex* index) override;
    // As the server's columns hold it: UTF-8 (other bytes read as Windows-1252), at most 255
    // characters.
    void SetWriterName(std::string name) override;
    std::vector<TEntryVersion> History(std::string_view ID) override;
    std::vector<TEntryVersion> Deleted() override;
    // A deleted entry comes back as a write of the entry, recorded in the change log and
    // announced, so that every program lists it at once.
    void Restore(std::string_view ID, int64_t seq, TSearchIndex* index) override;
    THistorySize HistorySize() override;
    uint64_t PruneHistory(int64_t cutoff) override;
    TEntryTexts ReadEntry(std::string_view ID) override;
    // Every entry in the order of its first save (or copy); the texts without NULs, as a save
    // stores them.
    bool ForEachEntry(const std::function<void(const TStoredEntry&)>& each,
                      const TProgress& progress) override;
    // As the file does it, in one write: the entries recorded as changed, the index following.
    // An ID the server's column cannot hold (over 40 characters, not UTF-8) fails its row.
    TImportSummary ImportEntries(TEntrySource& source, const TProgress& progress,
                                 TSearchIndex* index) override;
    // The connection string without any password in it.
    std::string Location() const override { return flocation; }

    // Runs body in one write transaction, as the store's own writes run (the change log locked;
    // the entries recorded as changed and announced at commit), for tools that write many entries
    // at once. body writes with the connection and returns the IDs it wrote. The index is not
    // touched: engines on the server, this store's included, take the entries in at their next
    // sync. REQUIRES: the store is open.
    void WriteEntries(const std::function<std::vector<std::string>(TPgConnection&)>& body);

    // How long a write waits for another program's write to end before it gives up, saying the
    // server stayed busy; and how long the server lets a write of this store's stand idle (its
    // program frozen, or cut off without the server noticing) before it ends the session, and
    // with it the write, so that no program holds the others' writes up for long. Tests shorten
    // them; set before opening.
    void TEST_SetWaits(std::chrono::milliseconds lockWait, std::chrono::milliseconds idleLimit) {
        flockWait = lockWait;
        fidleLimit = idleLimit;
    }

    // How long the server may take over one statement before it gives it up: a read or a write
    // that takes longer fails with a message that says so, and a write stores nothing. Longer
    // than the write's wait for another program's write (SetWaits), so that waiting for that says
    // so first. Tests shorten it; set before opening.
    void SetStatementLimit(std::chrono::milliseconds limit) { fstatementLimit = limit; }

    // Called inside each write's transaction just before it commits (tests stop a writer there).
    std::function<void()> TEST_beforeCommitHook;

private:
    struct TChanges;

    // Raises a plain message, ending in outcome, when cause is a statement that ran out of time.
    void RaiseIfTimedOut(const EPgException& cause, std::string_view outcome) const;
    // The store's connection, made now if need be (bounded by the connection time-out); raises
    // the unreachable error when it cannot be had, at once when the listener finds the server
    // out of reach.
    TPgConnection& Connection();
    // The store's connection if it has one, or one the listener made; never waits. Null when
    // there is none, after asking the listener for one when askListener.
    TPgConnection* ConnectionAtHand(bool askListener);
    // Runs read on a working connection, once more on a new one when the first had broken.
    template <typename TRead>
    auto Read(TRead&& read) -> decltype(read(std::declval<TPgConnection&>()));
    [[noreturn]] void RaiseUnreachable(const EPgException& cause);
    // Gives a new connection this store's session settings.
    void Prepare(TPgConnection& c);

    void CreateSchema(TPgConnection& c);
    // Opens a transaction with begin on a working connection, once more on a new one when the
    // first had broken; raises the lock's time-out as the server staying busy.
    TPgConnection& Begin(const std::string& begin);
    // Records the entries, all new to the server, as changed, announced at commit.
    void RecordChanges(TPgConnection& c, const std::vector<std::string>& IDs);
    // Runs body in a write transaction on a working connection; the index, when given, takes in
    // every change up to the write once it has committed.
    void Write(const std::function<void(TPgConnection&)>& body, TSearchIndex* index);
    // The entries changed after change `after`, with their rows, in one snapshot.
    // The rows in the form the index takes them (whole texts or heads).
    TChanges ReadChanges(TPgConnection& c, int64_t after, const TSearchIndex& index);
    // Brings the index up to date with changes; false when it had to be loaded whole instead and
    // could not (the caller's connection is used for that load).
    bool Apply(TSearchIndex& index, const TChanges& changes, TPgConnection& c);
    void LoadWith(TPgConnection& c, TSearchIndex& index);
    // Gives a Best match index the reader of the server's texts.
    void GiveTextReader(TSearchIndex& index);
    // Writes the terms a load read from texts that had none that belong to them.
    void KeepBestTerms(TSearchIndex& index);

    void StartListener();
    void Listen();
    // Makes a connection for the store and leaves it in the spare slot.
    void OfferSpare();

    const std::string fconninfo;
    const std::string flocation;
    std::string fwriter;  // who writes: the login name unless set
    bool fopen = false;
    std::chrono::milliseconds flockWait{20000};
    std::chrono::milliseconds fidleLimit{60000};
    std::chrono::milliseconds fstatementLimit{40000};
    std::unique_ptr<TPgConnection> fconn;  // the store's own; used by the engine's calls only
    // Greatest change number the index holds; -1 before a load or after a failed one.
    std::atomic<int64_t> fapplied{-1};
    // The index must be loaded whole (a load failed part-way, or the log cannot be followed).
    bool freload = false;

    // Shared with the listener.
    std::atomic<int64_t> fheard{0};   // greatest change number announced
    std::atomic<bool> fstale{false};  // notifications may have been missed: read the log
    std::atomic<bool> fdown{false};   // the listener cannot reach the server
    std::mutex fspareMutex;
    std::unique_ptr<TPgConnection> fspare;  // guarded by fspareMutex: made by the listener
    bool fwantSpare = false;                // guarded by fspareMutex
    std::string flastFailure;               // guarded by fspareMutex: why the server is down
    TWaker fwaker;
    std::atomic<bool> fstopping{false};
    std::thread flistener;

    std::mutex fsizeMutex;  // serialises reading and writing the text size setting
};
