// Where the entries live: the knowledge base file on this computer, or an office server shared by
// several. A store writes and reads entries, each write as one transaction, and keeps a search
// index in step with what it holds: after a full load, after each of its own writes, and, through
// Sync, after what other programs wrote.
//
// Thread safety: none of its own. The engine calls a store from one thread at a time, holding its
// data lock around every call that touches the index; ReadFontSize and WriteFontSize may run
// without that lock (a store makes them safe to run beside the others).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "port/errors.h"

class TSearchIndex;

// The two texts of one entry, as stored.
struct TEntryTexts {
    std::string problem;
    std::string solution;
};

// The entry asked for is no longer stored (deleted here or by another program).
class EEntryDeleted : public Exception {
public:
    EEntryDeleted() : Exception("This entry has been deleted.") {}
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
    // Brings the index up to date with what others wrote since the last load or sync; true when
    // the index changed.
    virtual bool Sync(TSearchIndex& index) = 0;

    // Writes, each in one transaction. The index, when given, is brought up to date with the
    // write; REQUIRES: it is in step with the store up to the write.
    virtual std::string SaveEntry(std::string_view problem, std::string_view solution,
                                  TSearchIndex* index) = 0;
    virtual void ReplaceEntry(std::string_view ID, std::string_view problem,
                              std::string_view solution, TSearchIndex* index) = 0;
    virtual void DeleteEntry(std::string_view ID, TSearchIndex* index) = 0;

    // Both texts of an entry; raises EEntryDeleted when it is no longer stored.
    virtual TEntryTexts ReadEntry(std::string_view ID) = 0;

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
