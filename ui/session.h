// TSession: what the windows work with, between them and the engine (core/engine.h). It owns the
// choice of store, the engine on that store, the generation that tells this engine's reports from
// those of one given up for another, and the opening gate: nothing the user does reaches an
// engine before its opening has been asked for.
//
// Searches go to the engine at once (its worker keeps only the newest text). Reading an entry and
// every write run on the session's own thread, one after another, because a store may make them
// wait (a locked file, a busy or distant office server) and the windows must keep painting
// meanwhile; the hourglass shows until each has reported. Each reports on the user-interface
// thread through the callback given with it, unless its receiver has gone by then; a read of a
// store given up since reports nothing.
//
// Signals (user-interface thread), as a render thread hands its images to a widget: passReady
// for every pass of the engine in use, opened once its opening has reported, storeChanged when
// another store has replaced the one in use (its opening follows).
//
// Threads: user-interface thread.
#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/store/storeswitch.h"

class THelix;

class TSession : public QObject {
    Q_OBJECT

public:
    // A report of a write or a read: failure is null when it succeeded, else what it raised
    // (EBusy when the store stayed busy past the write time-out). Nothing was written then.
    using TDone = std::function<void(std::exception_ptr failure)>;
    using TRead = std::function<void(const TEntryTexts& texts, std::exception_ptr failure)>;
    using TSaved = std::function<void(const std::string& ID, std::exception_ptr failure)>;
    using TVersions =
        std::function<void(const std::vector<TEntryVersion>& versions, std::exception_ptr failure)>;

    // Makes the store a choice names (storechoice.h's MakeStore; tests give stores of their own).
    using TStoreMaker = std::function<std::unique_ptr<TKnowledgeStore>(const TStoreChoice&)>;

    explicit TSession(const TStoreChoice& choice, TStoreMaker makeStore = MakeStore,
                      QObject* parent = nullptr);
    // Waits for the write in hand; writes still queued are dropped unreported.
    ~TSession() override;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // --- The store ---
    const TStoreChoice& Choice() const { return fswitch.InUse(); }
    TStoreSwitch& Switch() { return fswitch; }
    // Where the entries are: the file's path, or the server without its password.
    std::string Location() const;
    // The same as the user would name it.
    QString LocationText() const;
    // Raises when the store may not change now (the guard says why, such as an edit not saved).
    void CheckMayLeave() const;
    void SetLeaveGuard(std::function<void()> guard) { fleaveGuard = std::move(guard); }
    // Leaves the store in use for the one choice names (CheckMayLeave first): storeChanged, then
    // the new store opens as at start.
    void UseStore(const TStoreChoice& choice);

    // --- The opening ---
    // Asks the engine to open its store, once; whatever the user does first asks too.
    void StartOpening();
    bool Opened() const { return fopened; }

    // --- Searching ---
    // Searches text (stored form). caretAtEnd: the caret stands right after its last word, which
    // Best match then also completes.
    void Search(std::string text, bool caretAtEnd = false);
    // The ranking of the passes, for this engine and those that follow; Classic until set.
    TRanking Ranking() const { return franking; }
    void SetRanking(TRanking ranking);

    // --- Reading and writing entries, on the session's thread ---
    // A read reports the version it read (TEntryTexts::version); an edit hands back the version
    // it started from, and fails with EEditConflict when the entry was changed since.
    void ReadEntry(QObject* receiver, std::string ID, TRead done);
    void Save(QObject* receiver, std::string problem, std::string solution, TDone done);
    // The same, reporting the new entry's ID.
    void SaveNew(QObject* receiver, std::string problem, std::string solution, TSaved done);
    void Replace(QObject* receiver, std::string ID, std::string problem, std::string solution,
                 std::string seenVersion, TDone done);
    void Delete(QObject* receiver, std::string ID, TDone done);
    // The history (entryhistory.h): an entry's earlier versions, the entries deleted, each newest
    // first, and bringing version seq of entry ID back (0: its newest).
    void History(QObject* receiver, std::string ID, TVersions done);
    void Deleted(QObject* receiver, TVersions done);
    void Restore(QObject* receiver, std::string ID, int64_t seq, TDone done);
    // The name recorded with this program's writes, from the next write on, here and in the
    // engines made for other stores (usersettings.h's WriterName at first).
    void SetWriterName(std::string name);
    const std::string& WriterName() const { return fwriterName; }
    // Raises when the size was not stored. On this thread: the text size is the user's own and
    // never waits on a server (usersettings.h keeps it while the entries are on one).
    void WriteFontSize(int32_t size);
    // Reads and writes asked for that have not reported yet.
    int Working() const { return fworking; }

    // --- Long jobs (an import, an export) ---
    // The engine in use, held for a job on a thread of its own: it lives until the job lets it
    // go, whatever store is in use by then.
    std::shared_ptr<TKnowledgeEngine> Hold() const { return fengine; }

    // The engine in use, for tests and measurements; windows go through the session.
    TKnowledgeEngine& TEST_Engine() { return *fengine; }

signals:
    void passReady(std::shared_ptr<TSearchPass> pass);
    void opened(const TKnowledgeEngine::TOpened& outcome);
    void storeChanged();

private:
    void MakeEngine();
    TKnowledgeEngine& Ready();
    // Runs work on the session's thread with the engine in use, then report here with what work
    // raised; ofStore: the report is dropped once the store has changed.
    void Run(QObject* receiver, bool ofStore, std::function<void(TKnowledgeEngine&)> work,
             std::function<void(std::exception_ptr)> report);

    const TStoreMaker fmakeStore;
    TStoreSwitch fswitch;
    std::function<void()> fleaveGuard;
    // The session's thread holds the engine too while it works with it, so that an engine given
    // up goes only once its last write has ended.
    std::shared_ptr<TKnowledgeEngine> fengine;
    int fgeneration = 0;
    TRanking franking = TRanking::Classic;
    std::string fwriterName;
    bool fopeningStarted = false;
    bool fopened = false;
    int fworking = 0;
    // Last, so that its thread stops before anything it uses goes away.
    std::unique_ptr<THelix> fwriter;
};

// What a failed write says to the user: that the entry was not saved (or not deleted), and why.
// Null for null. An edit conflict and a delete meanwhile stay as they are, for the window to offer
// the choices.
std::exception_ptr NotSaved(std::exception_ptr failure);
std::exception_ptr NotDeleted(std::exception_ptr failure);
