// The worker handles three kinds of item: the opening (first, queued at start), a search (which
// drains the text slot), and a sync. All of them take the data lock once for their work; writes
// take the same lock on the caller's thread.
#include "core/engine.h"

#include <chrono>
#include <thread>
#include <utility>

#include "port/thread.h"
#include "textsearch/cvvector.h"

namespace {

constexpr int kQueueTimeout = 3000;  // the worker's waits for the data lock and for the queue

// Holds fpending up for the life of one queued item.
class TPendingItem {
public:
    explicit TPendingItem(std::atomic<int>& pending) : fpending(pending) {}
    ~TPendingItem() { --fpending; }
    TPendingItem(const TPendingItem&) = delete;
    TPendingItem& operator=(const TPendingItem&) = delete;

private:
    std::atomic<int>& fpending;
};

}  // namespace

struct TKnowledgeEngine::TOpenItem : TObject {};
struct TKnowledgeEngine::TSearchItem : TObject {};
struct TKnowledgeEngine::TSyncItem : TObject {};
struct TKnowledgeEngine::TRankingItem : TObject {};

TKnowledgeEngine::TKnowledgeEngine(std::unique_ptr<TKnowledgeStore> store, TCallbacks callbacks,
                                   TRanking ranking)
    : fstore(std::move(store)), fcallbacks(std::move(callbacks)), franking(ranking) {
    QueryHelix = std::make_unique<THelix>();
    fstore->SetOnChanged([this] { RequestSync(); });
    QueryHelix->SetOnProcessWorkItem([this](THelix&, TObject*& item) {
        std::unique_ptr<TObject> owned(std::exchange(item, nullptr));
        Process(owned.get());
    });
}

TKnowledgeEngine::~TKnowledgeEngine() {
    fstopping = true;
    fstore->SetOnChanged(nullptr);
    QueryHelix->Stop();
    for (TObject* item : QueryHelix->TakeQueued())
        delete item;
}

bool TKnowledgeEngine::Push(std::unique_ptr<TObject> item) {
    ++fpending;
    TObject* raw = item.get();
    if (!QueryHelix->Push(raw)) {
        --fpending;
        return false;
    }
    item.release();  // the worker owns it now
    return true;
}

void TKnowledgeEngine::Process(TObject* item) {
    TPendingItem pending(fpending);
    if (dynamic_cast<TSearchItem*>(item)) {
        // Searches give way to the window: on two cores the worker and the search's helper
        // thread would otherwise keep the user-interface thread waiting after every keystroke.
        // Once, at the first search, so that the opening's load runs at full speed (a lowered
        // priority cannot be raised again).
        static thread_local const bool lowered = LowerCurrentThreadPriority();
        (void)lowered;
        RunSearches();
    } else if (dynamic_cast<TOpenItem*>(item)) {
        const TOpened result = Open();
        if (fcallbacks.opened) fcallbacks.opened(result);
    } else if (dynamic_cast<TSyncItem*>(item)) {
        Sync();
    } else if (dynamic_cast<TRankingItem*>(item)) {
        ApplyRanking();
    }
    // Typing that began during the opening went first; the room is finished at the next pause.
    if (froomIndex) PrefaultPassRoom();
}

// --- Opening -----------------------------------------------------------------------------------

void TKnowledgeEngine::StartOpening() {
    Push(std::make_unique<TOpenItem>());
}

TKnowledgeEngine::TOpened TKnowledgeEngine::OpenNow() {
    const TOpened result = Open();
    if (fcallbacks.opened) fcallbacks.opened(result);
    return result;
}

TKnowledgeEngine::TOpened TKnowledgeEngine::Open() {
    TOpened result;
    // Nothing else can hold the lock this early for long; writes that came first are waited for.
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) {
        result.error = EBusy().what();
        return result;
    }
    // A failed step ends the opening; the later ones do not run.
    try {
        fstore->Open();
        result.fontsize = fstore->ReadFontSize();
        fstore->WriteFontSize(*result.fontsize);  // as applying the size always writes it back
        findex = LoadIndex();
        // Best match's passes are a few hundred rows: only Classic's want room made ahead.
        if (findex->Ranking() == TRanking::Classic) {
            froomIndex = findex.get();
            froomTexts = findex->LiveCount();
        }
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

void TKnowledgeEngine::PrefaultPassRoom() {
    // The item in hand is pending; anything more is a search or a sync to give way to. The room
    // is the index's own and safe to touch without the data lock.
    if (froomIndex->PrefaultPassRoom(froomTexts,
                                     [this] { return fpending.load() > 1 || fstopping.load(); }))
        froomIndex = nullptr;
}

std::unique_ptr<TSearchIndex> TKnowledgeEngine::LoadIndex() {
    auto index = std::make_unique<TSearchIndex>(franking.load());
    fstore->LoadAll(*index);
    index->Settle();
    return index;
}

void TKnowledgeEngine::LoadIfNeeded() {
    if (findex || !fstore->IsOpen()) return;
    findex = LoadIndex();
}

void TKnowledgeEngine::Settle() {
    if (findex) findex->Settle();
}

void TKnowledgeEngine::SetRanking(TRanking ranking) {
    if (franking.exchange(ranking) != ranking) Push(std::make_unique<TRankingItem>());
}

void TKnowledgeEngine::ApplyRanking() {
    {
        TLockGuard lock(fdataLock, fwriteTimeout);
        if (!lock || !findex || findex->Ranking() == franking.load()) return;
        try {
            auto index = LoadIndex();
            // The room made ahead belongs to the index it was made for.
            froomIndex = nullptr;
            findex = std::move(index);
        } catch (const std::exception&) {
            return;  // the old index stays; the next sync or write tries the store again
        }
    }
    SearchAgain();
}

// --- Searching ---------------------------------------------------------------------------------

void TKnowledgeEngine::Search(std::string text, bool caretAtEnd) {
    {
        std::lock_guard<std::mutex> lock(fslotMutex);
        fslot = TQuery{std::move(text), caretAtEnd};
        if (fsearchQueued) return;  // the queued search takes the newest text
        fsearchQueued = true;
    }
    if (!Push(std::make_unique<TSearchItem>())) {
        std::lock_guard<std::mutex> lock(fslotMutex);
        fsearchQueued = false;  // the text stays in the slot for the next Search to queue
    }
}

void TKnowledgeEngine::SearchAgain() {
    std::optional<TQuery> last;
    {
        std::lock_guard<std::mutex> lock(fslotMutex);
        last = flastText;
    }
    if (last) Search(std::move(last->text), last->caretAtEnd);
}

void TKnowledgeEngine::RunSearches() {
    for (;;) {
        TQuery query;
        {
            std::lock_guard<std::mutex> lock(fslotMutex);
            if (!fslot || fstopping) {
                fsearchQueued = false;
                return;
            }
            query = std::move(*fslot);
            fslot.reset();
            flastText = query;
        }
        if (!RunPass(query)) {
            // A write held the data lock too long: the text waits in the slot unless a newer
            // one came, and is tried again.
            std::lock_guard<std::mutex> lock(fslotMutex);
            if (!fslot) fslot = std::move(query);
        }
    }
}

bool TKnowledgeEngine::RunPass(const TQuery& query) {
    // Classic's query is vectorised before the lock, which a write may be waiting for.
    std::unique_ptr<TcvVector> vector;
    if (franking.load() == TRanking::Classic) vector = EncodeCV(query.text);
    std::shared_ptr<TSearchPass> pass;
    {
        TLockGuard lock(fdataLock, kQueueTimeout);
        if (!lock) return false;
        if (!findex) return true;  // not loaded: nothing to search
        try {
            fstore->Sync(*findex);
            findex->Settle();
        } catch (const std::exception&) {
            // Searching goes on over what is loaded; the next pass tries again.
        }
        if (TEST_passRunningHook) TEST_passRunningHook();
        const auto start = std::chrono::steady_clock::now();
        if (findex->Ranking() == TRanking::BestMatch) {
            pass = findex->SearchBest(query.text, query.caretAtEnd);
        } else {
            if (!vector) vector = EncodeCV(query.text);
            pass = findex->Search(*vector);
        }
        flastSearchMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
    }
    ++fpassesRun;
    if (fcallbacks.passReady) fcallbacks.passReady(std::move(pass));
    return true;
}

void TKnowledgeEngine::RequestSync() {
    Push(std::make_unique<TSyncItem>());
}

void TKnowledgeEngine::Sync() {
    bool changed = false;
    {
        TLockGuard lock(fdataLock, kQueueTimeout);
        if (!lock) return;
        try {
            if (findex) {
                changed = fstore->Sync(*findex);
                findex->Settle();
            } else {
                // The opening failed (an office server out of reach); the store asks for this
                // sync once it can reach its entries again, so the opening is finished now.
                fstore->Open();
                LoadIfNeeded();
                changed = findex != nullptr;
            }
        } catch (const std::exception&) {
            return;
        }
    }
    if (changed) SearchAgain();
}

void TKnowledgeEngine::KeepIndex() {
    TLockGuard lock(fdataLock, kQueueTimeout);
    if (!lock || !findex) return;
    try {
        fstore->Sync(*findex);
        findex->Settle();
        fstore->KeepIndex(*findex);
    } catch (const std::exception&) {
        // The file is busy, full or gone: nothing is kept.
    }
}

size_t TKnowledgeEngine::LiveTexts() {
    TLockGuard lock(fdataLock, fwriteTimeout);
    return lock && findex ? findex->LiveCount() : 0;
}

// --- Writing -----------------------------------------------------------------------------------

void TKnowledgeEngine::SetWriterName(std::string name) {
    std::lock_guard<std::mutex> lock(fwriterMutex);
    fwriterName = std::move(name);
}

void TKnowledgeEngine::TakeWriterName() {
    std::optional<std::string> name;
    {
        std::lock_guard<std::mutex> lock(fwriterMutex);
        name.swap(fwriterName);
    }
    if (name) fstore->SetWriterName(std::move(*name));
}

std::string TKnowledgeEngine::Save(std::string_view problem, std::string_view solution) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    TakeWriterName();
    const std::string ID = fstore->SaveEntry(problem, solution, findex.get());
    Settle();
    LoadIfNeeded();
    return ID;
}

void TKnowledgeEngine::Replace(std::string_view ID, std::string_view problem,
                               std::string_view solution, std::string_view seenVersion) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    TakeWriterName();
    fstore->ReplaceEntry(ID, problem, solution, seenVersion, findex.get());
    Settle();
    LoadIfNeeded();
}

void TKnowledgeEngine::Delete(std::string_view ID) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    TakeWriterName();
    fstore->DeleteEntry(ID, findex.get());
    Settle();
    LoadIfNeeded();
}

void TKnowledgeEngine::Restore(std::string_view ID, int64_t seq) {
    {
        TLockGuard lock(fdataLock, fwriteTimeout);
        if (!lock) throw EBusy();
        TakeWriterName();
        fstore->Restore(ID, seq, findex.get());
        Settle();
        LoadIfNeeded();
    }
    // The entry back is listed at once where the last text finds it.
    SearchAgain();
}

std::vector<TEntryVersion> TKnowledgeEngine::History(std::string_view ID) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return fstore->History(ID);
}

std::vector<TEntryVersion> TKnowledgeEngine::Deleted() {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return fstore->Deleted();
}

THistorySize TKnowledgeEngine::HistorySize() {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return fstore->HistorySize();
}

uint64_t TKnowledgeEngine::PruneHistory(int64_t cutoff) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return fstore->PruneHistory(cutoff);
}

TEntryTexts TKnowledgeEngine::ReadEntry(std::string_view ID) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return fstore->ReadEntry(ID);
}

void TKnowledgeEngine::WriteFontSize(int32_t size) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    fstore->WriteFontSize(size);
}

TImportSummary TKnowledgeEngine::Import(TEntrySource& source, const TProgress& progress) {
    TImportSummary summary;
    {
        TLockGuard lock(fdataLock, fwriteTimeout);
        if (!lock) throw EBusy();
        TakeWriterName();
        summary = fstore->ImportEntries(source, progress, findex.get());
        Settle();
        LoadIfNeeded();
    }
    if (summary.imported > 0) SearchAgain();
    return summary;
}

bool TKnowledgeEngine::Export(TExportFormat format, std::ostream& out, const TProgress& progress) {
    TLockGuard lock(fdataLock, fwriteTimeout);
    if (!lock) throw EBusy();
    return ExportEntries(*fstore, format, out, progress);
}
