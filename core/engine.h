// TKnowledgeEngine: the program below its windows. It owns the store (the knowledge base file or an
// office server), the search index over every stored text, and the work queue `QueryHelix`, whose
// worker opens the store, runs the search passes and takes in what other programs wrote. Windows
// hand it texts and read back passes; the command-line tool drives the same engine without any.
//
// Typing: Search() puts the newest problem text into a slot, replacing one not yet taken, and
// queues one search item if none is queued. The worker takes the slot's text, vectorises it,
// searches under the data lock and hands the pass over; then it looks at the slot again, so every
// text is searched or superseded by a newer one and the last pass is always of the final text.
//
// Locks, in the order they may be taken:
//  - fdataLock (a TMutexLock) guards the store and the index. The worker holds it for an opening,
//    a sync and a pass (3000 ms waits, opening excepted); writes take it on the caller's thread and
//    wait up to the write time-out, so a save waits for a running pass or a load to end.
//  - QueryHelix's own lock guards its queue only.
//  - fslotMutex guards the slot, the search-queued flag and the last text searched.
// No thread takes a lock twice on the typing path.
//
// Callbacks run on the worker thread; whoever receives them posts them where they belong.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/transfer/entryexport.h"
#include "core/store/entryhistory.h"
#include "core/store/knowledgestore.h"
#include "core/searchindex.h"
#include "textsearch/helix.h"
#include "textsearch/locks.h"

// A write could not take the data lock within its time-out; nothing was written.
class EBusy : public Exception {
public:
    EBusy() : Exception("The knowledge base stayed busy") {}
};

class TKnowledgeEngine {
public:
    // What opening the store came to.
    struct TOpened {
        std::string error;                // empty when every step succeeded
        std::optional<int32_t> fontsize;  // the stored text size, when it could be read
    };
    struct TCallbacks {
        // Every pass run, in order; the receiver owns it.
        std::function<void(std::shared_ptr<TSearchPass>)> passReady;
        std::function<void(const TOpened&)> opened;
    };

    // ranking: which ranking the passes use until SetRanking changes it.
    TKnowledgeEngine(std::unique_ptr<TKnowledgeStore> store, TCallbacks callbacks,
                     TRanking ranking = TRanking::Classic);
    // Stops the worker after the item in hand; what is still queued is dropped.
    ~TKnowledgeEngine();
    TKnowledgeEngine(const TKnowledgeEngine&) = delete;
    TKnowledgeEngine& operator=(const TKnowledgeEngine&) = delete;

    // Opens the store and loads the index on the worker; `opened` reports. Searches asked for
    // meanwhile run after it, writes wait for it.
    void StartOpening();
    // The same on the calling thread (tools, tests), once and before anything is queued; the
    // result is also returned.
    TOpened OpenNow();

    // As the program closes: keeps the index in the store for the next start to read instead of
    // every text (TKnowledgeStore::KeepIndex), after taking in what others wrote. Waits a little
    // for the item in hand; whatever fails is let go (the next start reads the texts).
    void KeepIndex();

    // Searches text (stored form) soon, unless a newer text comes first. Any thread. caretAtEnd:
    // the caret stands right after the text's last word, which Best match then takes as a word
    // still being typed (it also matches the stored words it begins).
    void Search(std::string text, bool caretAtEnd = false);
    // Searches the last text searched again, if any.
    void SearchAgain();
    // Passes from now on use this ranking: the index is rebuilt for it on the worker (searches
    // asked for meanwhile wait for it), and the last text is searched again.
    void SetRanking(TRanking ranking);
    TRanking Ranking() const { return franking.load(); }
    // Takes in what other programs wrote, on the worker, and searches again if anything changed;
    // before the first load (an opening that failed), opens and loads instead.
    void RequestSync();

    // Writes. Each raises EBusy when the data lock stays taken, or the store's error; either way
    // nothing was written. The index follows each write at once.
    std::string Save(std::string_view problem, std::string_view solution);
    // seenVersion: the version the edit started from; raises EEditConflict when the entry was
    // changed since (entryhistory.h), EEntryDeleted when it was deleted.
    void Replace(std::string_view ID, std::string_view problem, std::string_view solution,
                 std::string_view seenVersion = {});
    void Delete(std::string_view ID);
    // The history (entryhistory.h): an entry's earlier versions, the deleted entries, newest
    // first, and bringing a version back (searchable at once, as a write).
    std::vector<TEntryVersion> History(std::string_view ID);
    std::vector<TEntryVersion> Deleted();
    void Restore(std::string_view ID, int64_t seq = 0);
    THistorySize HistorySize();
    // Removes the versions replaced before cutoff (seconds since 1970); how many went.
    uint64_t PruneHistory(int64_t cutoff);
    // Who writes from now on (recorded in the history). Any thread; never waits: the store
    // takes the name at the next write.
    void SetWriterName(std::string name);
    // Raises EEntryDeleted when the entry is gone.
    TEntryTexts ReadEntry(std::string_view ID);
    void WriteFontSize(int32_t size);

    // Stores the entries of source whose IDs are new, in one transaction, brings the index up
    // to date and searches the last text again. It holds the data lock throughout, so searches
    // wait for it: call it on a thread of its own, where progress is called too (returning false
    // cancels: nothing is stored). Raises EBusy, EImportFile (entryimport.h) or the store's
    // error; nothing is stored then either.
    TImportSummary Import(TEntrySource& source, const TProgress& progress = {});
    // Writes every entry to out (see entryexport.h), holding the data lock throughout, like
    // Import; false when progress cancelled.
    bool Export(TExportFormat format, std::ostream& out, const TProgress& progress = {});

    // How long writes wait for the data lock (tests shorten it).
    void TEST_SetWriteTimeout(int ms) { fwriteTimeout = ms; }
    // True when nothing is queued or running on the worker.
    bool Idle() const { return fpending.load() == 0; }
    // Passes handed to passReady so far.
    int PassesRun() const { return fpassesRun.load(); }
    // How long the index took to search in the latest pass, in microseconds (measurements).
    int64_t LastSearchMicros() const { return flastSearchMicros.load(); }
    // Stored texts that searches visit; 0 before loading.
    size_t LiveTexts();
    std::string Location() const { return fstore->Location(); }
    // The store itself, for tools that work on it directly. REQUIRES: the worker is idle.
    TKnowledgeStore& Store() { return *fstore; }

    // The lock that guards the store and the index (tests hold it to stand for a long pass).
    TMutexLock& TEST_DataLock() { return fdataLock; }
    // Called on the worker inside each pass, holding the data lock (tests hold a pass open).
    std::function<void()> TEST_passRunningHook;

private:
    struct TOpenItem;
    struct TSearchItem;
    struct TSyncItem;
    struct TRankingItem;
    // A text to search and where the caret stood.
    struct TQuery {
        std::string text;
        bool caretAtEnd = false;
    };

    void Process(TObject* item);
    TOpened Open();
    // After the opening, while the worker has nothing else to do: faults in the room of the
    // first passes, so that the first keystrokes do not pay for fresh memory (at a million stored
    // texts, half a second each for the first two). Gives way to any item queued, and goes on
    // after a later item until it is done.
    void PrefaultPassRoom();
    void RunSearches();
    // False when the data lock could not be taken.
    bool RunPass(const TQuery& query);
    void Sync();
    void ApplyRanking();
    // A fresh index for the ranking asked for, loaded from the store. REQUIRES: the data lock.
    std::unique_ptr<TSearchIndex> LoadIndex();
    // After the store changed the index: Best match takes the changes in. REQUIRES: the data lock.
    void Settle();
    bool Push(std::unique_ptr<TObject> item);
    // After a write: loads the index when the opening could not (the write finished the opening).
    void LoadIfNeeded();
    // Before a write: hands the store the writer's name set since the last. REQUIRES: the data
    // lock.
    void TakeWriterName();

    const std::unique_ptr<TKnowledgeStore> fstore;  // guarded by fdataLock
    const TCallbacks fcallbacks;
    TMutexLock fdataLock;
    // Guarded by fdataLock; null until loaded, then changed only in place (the worker's room
    // prefaulting uses the object outside the lock).
    std::unique_ptr<TSearchIndex> findex;
    int fwriteTimeout = 300000;

    std::mutex fwriterMutex;
    std::optional<std::string> fwriterName;  // guarded by fwriterMutex: set, not yet handed on

    std::mutex fslotMutex;
    std::optional<TQuery> fslot;      // guarded by fslotMutex: the newest text not yet taken
    std::optional<TQuery> flastText;  // guarded by fslotMutex: the text of the latest pass
    bool fsearchQueued = false;  // guarded by fslotMutex: a search item is queued or running

    std::atomic<int> fpending{0};  // items queued or running
    std::atomic<TRanking> franking;  // asked for; the index follows it on the worker
    // Set by a successful opening: the index whose first passes' room is still to be made, for
    // this many texts; null once made. The worker's alone after the opening.
    const TSearchIndex* froomIndex = nullptr;
    size_t froomTexts = 0;
    std::atomic<int> fpassesRun{0};
    std::atomic<int64_t> flastSearchMicros{0};
    std::atomic<bool> fstopping{false};
    // Last, so that the worker stops before anything it uses goes away.
    std::unique_ptr<THelix> QueryHelix;
};
