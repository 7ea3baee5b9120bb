// Where the entries live: the knowledge base file on this computer, or an office server shared by
// several. A store writes and reads entries, each write as one transaction, and keeps a search
// index in step with what it holds: after a full load, after each of its own writes, and, through
// Sync, after what other programs wrote.
//
// Thread safety: none of its own. The engine calls a store from one thread at a time, holding its
// data lock around every call that touches the index; ReadFontSize and WriteFontSize may run
// without that lock (a store makes them safe to run beside the others).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "port/errors.h"

class TSearchIndex;
struct TEntryVersion;
struct THistorySize;

// The two texts of one entry, as stored, with what the knowledge base records of it.
struct TEntryTexts {
    std::string problem;
    std::string solution;
    // The version read (EntryVersion, entryhistory.h), handed back with an edit of it.
    std::string version;
    // Who and when, where the knowledge base records it (empty, 0 where it does not).
    std::string created;    // when the entry was first saved, as stored
    std::string savedBy;    // who saved it first
    int64_t changedAt = 0;  // the last edit or restore, seconds since 1970 (UTC)
    std::string changedBy;  // who made it
};

// The entry asked for is no longer stored (deleted here or by another program).
class EEntryDeleted : public Exception {
public:
    EEntryDeleted() : Exception("This entry has been deleted.") {}
};

// One entry whole, for export and import: its ID, when its texts were saved (as the store keeps
// it, in the user's format of the day) and its two texts in stored form (storedtext.h).
struct TStoredEntry {
    std::string ID;
    std::string created;          // of the problem text (of the solution when it has none)
    std::string solutionCreated;  // of the solution text; mostly the same
    std::string problem;
    std::string solution;
    // A created value the file holds as NULL (old files have some), which "" cannot tell apart.
    bool createdNull = false;
    bool solutionCreatedNull = false;
};

// The longest text (or ID, or created value) an import takes, in bytes as its file holds it: a
// longer one fails its row, and readers stop collecting it there, so that a hostile file cannot
// make the import hold more than a few texts of this size.
inline constexpr size_t kMaxImportedText = size_t{16} << 20;
// The same, as messages name it.
inline constexpr std::string_view kMaxImportedTextName = "16 MB";

// Entries to import, read one at a time from a file or another store.
class TEntrySource {
public:
    virtual ~TEntrySource() = default;
    // Reads the next entry; false at the end. A row that cannot be read sets failure to why,
    // instead of filling entry, and reading goes on after it. Raises when the source cannot be
    // read on at all (a broken file), after which nothing of it may be stored.
    virtual bool Next(TStoredEntry& entry, std::string& failure) = 0;
    // Where the row last read lies, as the user would find it ("line 12", "entry 7").
    virtual std::string Where() const = 0;
    // How far reading has come, out of how much, in the source's own unit (bytes, rows).
    virtual uint64_t Done() const = 0;
    virtual uint64_t Total() const = 0;
};

// Called now and then by a long export or import with the work done out of the whole; returning
// false cancels it.
using TProgress = std::function<bool(uint64_t done, uint64_t total)>;

// What an import came to.
struct TImportSummary {
    static constexpr size_t kMaxFailures = 100;

    size_t imported = 0;
    size_t skipped = 0;  // an entry of that ID was stored already, or came earlier in the source
    size_t failed = 0;   // rows that could not be read or stored
    std::vector<std::string> failures;  // where and why, for the first kMaxFailures of them
    bool cancelled = false;             // progress said stop: nothing was stored

    void Fail(std::string failure) {
        if (failed++ < kMaxFailures) failures.push_back(std::move(failure));
    }
};

class TKnowledgeStore {
public:
    virtual ~TKnowledgeStore() = default;

    // Opens the store and creates what it lacks. Raises on failure; may be called again after
    // one, and does nothing once it has succeeded.
    virtual void Open() = 0;
    virtual bool IsOpen() const = 0;

    // The text size setting; raises when it is missing or not a whole number.
    virtual int32_t ReadFontSize() = 0;
    virtual void WriteFontSize(int32_t size) = 0;

    // Replaces the index's contents by every stored text, in load order.
    virtual void LoadAll(TSearchIndex& index) = 0;
    // Keeps what the index holds in the store, when the store can, for the next LoadAll to read
    // instead of every text: called as the program closes. REQUIRES: the index is in step with
    // the store. Raises the store's error (nothing is kept then).
    virtual void KeepIndex(TSearchIndex&) {}
    // Brings the index up to date with what others wrote since the last load or sync; true when
    // the index changed.
    virtual bool Sync(TSearchIndex& index) = 0;

    // Writes, each in one transaction. The index, when given, is brought up to date with the
    // write; REQUIRES: it is in step with the store up to the write.
    virtual std::string SaveEntry(std::string_view problem, std::string_view solution,
                                  TSearchIndex* index) = 0;
    // seenVersion: the version the edit started from (TEntryTexts::version); when the stored
    // texts are another, raises EEditConflict (entryhistory.h) and writes nothing. Empty: replaces
    // whatever is stored. Raises EEntryDeleted when the entry is gone. The texts replaced are
    // kept in the history.
    virtual void ReplaceEntry(std::string_view ID, std::string_view problem,
                              std::string_view solution, std::string_view seenVersion,
                              TSearchIndex* index) = 0;
    // The texts deleted are kept in the history.
    virtual void DeleteEntry(std::string_view ID, TSearchIndex* index) = 0;

    // --- The history (entryhistory.h) ---
    // Who writes from now on (a login name, or the name set in Settings), recorded with each
    // save, edit, delete and restore.
    virtual void SetWriterName(std::string name) = 0;
    // The earlier versions of an entry, newest first; empty when none are kept.
    virtual std::vector<TEntryVersion> History(std::string_view ID) = 0;
    // The entries deleted and not restored since, each as it was deleted, newest first.
    virtual std::vector<TEntryVersion> Deleted() = 0;
    // Brings back version seq of entry ID in one transaction: an entry deleted comes back under
    // its own ID with that version's texts and created values; a live one is edited to them
    // (its texts then kept in the history in turn). seq 0: the newest version kept. Raises when
    // there is no such version.
    virtual void Restore(std::string_view ID, int64_t seq, TSearchIndex* index) = 0;
    virtual THistorySize HistorySize() = 0;
    // Removes the versions replaced before cutoff (seconds since 1970); returns how many.
    virtual uint64_t PruneHistory(int64_t cutoff) = 0;

    // Both texts of an entry; raises EEntryDeleted when it is no longer stored.
    virtual TEntryTexts ReadEntry(std::string_view ID) = 0;

    // Hands every entry to each, in the order they were saved; false when progress cancelled.
    // An entry missing one of its texts comes with that text empty.
    virtual bool ForEachEntry(const std::function<void(const TStoredEntry&)>& each,
                              const TProgress& progress);
    // Stores the entries of source whose IDs are not stored yet, each with the term vectors of
    // its texts and its created values, in one transaction: when it raises or is cancelled,
    // nothing of it stays. The index, when given, is brought up to date afterwards.
    virtual TImportSummary ImportEntries(TEntrySource& source, const TProgress& progress,
                                         TSearchIndex* index);

    // Where the entries are, as the user would name it (a file's path).
    virtual std::string Location() const = 0;

    // A store that learns of others' writes by itself (a server's notifications) calls this, on
    // any thread, so that the engine syncs soon; a file store is asked before every search.
    // Once it has been set back to null, no call is running or follows.
    void SetOnChanged(std::function<void()> onChanged) {
        std::lock_guard<std::mutex> lock(fonChangedMutex);
        fonChanged = std::move(onChanged);
    }

protected:
    void Changed() {
        std::lock_guard<std::mutex> lock(fonChangedMutex);
        if (fonChanged) fonChanged();
    }

private:
    std::mutex fonChangedMutex;
    std::function<void()> fonChanged;  // guarded by fonChangedMutex
};

// A store that has no export or import of its own says so.
inline bool TKnowledgeStore::ForEachEntry(const std::function<void(const TStoredEntry&)>&,
                                          const TProgress&) {
    throw Exception("Entries cannot be exported from " + Location());
}

inline TImportSummary TKnowledgeStore::ImportEntries(TEntrySource&, const TProgress&,
                                                     TSearchIndex*) {
    throw Exception("Entries cannot be imported into " + Location());
}
