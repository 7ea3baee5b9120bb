// A hit's title and excerpt are cut from the text when it is added (as UTF-8, whatever the
// stored form), into one immutable chunk per batch, so a pass only points into chunks it keeps
// alive. Each text's entry ID, text type, title and excerpt lie back to back there, which is how
// a hit knows its text type (TSearchPass::TextTypeOf). Keys are kept beside the documents in
// increasing order, so a store finds a text by key with a binary search.
#include "core/searchindex.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "core/bestsearch.h"
#include "core/storedtext.h"
#include "port/errors.h"
#include "textsearch/keptroom.h"
#include "textsearch/helperthread.h"

// Passes with at least this many hits fill and order them on two threads.
constexpr size_t kParallelHits = 16384;

// The room of the passes to come, kept between a pass that went and the next one: their hits,
// their score trees, the room their trees are ordered in, and the vector index's lists of
// matches. It outlives a reload of the index, which rebuilds everything else. Two rooms of hits
// at most: a receiver holds the pass on show while the next is made, and lets it go when that
// arrives.
class TPassBuffers {
public:
    void Give(TSearchPass& pass) {
        pass.hits.clear();
        if (pass.tree) pass.tree->Clear();
        std::lock_guard lock(fmutex);
        TRoom& smaller = Smaller();
        if (pass.hits.capacity() > smaller.hits.capacity()) {  // the larger rooms are kept
            smaller.hits.swap(pass.hits);
            smaller.tree.swap(pass.tree);
        }
        if (!smaller.tree) smaller.tree = std::move(pass.tree);
    }
    void Take(TSearchPass& pass) {
        std::lock_guard lock(fmutex);
        TRoom& larger = Larger();
        pass.hits.swap(larger.hits);
        pass.tree = std::move(larger.tree);
    }
    // Gives both rooms space for this many hits, faulted in, outside the lock: a pass made
    // meanwhile takes fresh room, and whichever is larger stays. False when it gave way.
    bool Prefault(size_t hits, const TGiveWay& giveWay) {
        TSearchPass first, second;
        Take(first);
        Take(second);
        std::unique_ptr<TSortRoom> sortRoom = TakeSortRoom();
        bool done = sortRoom->Prefault(hits, giveWay);
        GiveSortRoom(std::move(sortRoom));
        for (TSearchPass* pass : {&first, &second}) {
            if (!pass->tree) pass->tree = std::make_unique<TScoretree<TcvResults>>();
            done = done && PrefaultRoom(pass->hits, hits, giveWay) &&
                   pass->tree->Prefault(hits, giveWay);
        }
        Give(first);
        Give(second);
        return done;
    }

    // The room the passes' trees are ordered in, one at a time; a second taker meanwhile gets
    // fresh room, and the room given back last is kept.
    using TSortRoom = TScoretree<TcvResults>::TSortRoom;
    std::unique_ptr<TSortRoom> TakeSortRoom() {
        std::lock_guard lock(fmutex);
        return fsortRoom ? std::move(fsortRoom) : std::make_unique<TSortRoom>();
    }
    void GiveSortRoom(std::unique_ptr<TSortRoom> room) {
        std::lock_guard lock(fmutex);
        fsortRoom = std::move(room);
    }

    // Taken before the pass they serve exists: the vector index's matches and the room of its
    // second thread.
    TKeptRoom<TVectorIndex::TMatch> matches, helperMatches;

private:
    struct TRoom {
        TLargeVector<TcvResults> hits;                 // empty, with room
        std::unique_ptr<TScoretree<TcvResults>> tree;  // cleared
    };
    TRoom& Smaller() {
        return frooms[0].hits.capacity() <= frooms[1].hits.capacity() ? frooms[0] : frooms[1];
    }
    TRoom& Larger() { return &Smaller() == &frooms[0] ? frooms[1] : frooms[0]; }

    std::mutex fmutex;
    TRoom frooms[2];                       // fmutex
    std::unique_ptr<TSortRoom> fsortRoom;  // fmutex
};

TSearchPass::~TSearchPass() {
    if (recycle) recycle->Give(*this);
}

TSearchIndex::TSearchIndex(TRanking ranking)
    : franking(ranking),
      fbest(ranking == TRanking::BestMatch ? std::make_unique<TBestSearch>() : nullptr),
      fbuffers(std::make_shared<TPassBuffers>()) {}
TSearchIndex::~TSearchIndex() = default;

void TSearchIndex::SetTextReader(TEntryTextReader reader) {
    if (fbest) fbest->SetTextReader(std::move(reader));
}

void TSearchIndex::CollectReadTerms(bool collect) {
    if (fbest) fbest->CollectReadTerms(collect);
}

std::vector<TReadTerms> TSearchIndex::TakeReadTerms() {
    return fbest ? fbest->TakeReadTerms() : std::vector<TReadTerms>{};
}

void TSearchIndex::Clear() {
    fvectors = TVectorIndex();
    if (fbest) fbest->Clear();
    fliveDocs = 0;
    fdocs.clear();
    fhasText.clear();
    fkeys.clear();
    fchunks.clear();
}

void TSearchIndex::Add(std::span<const TStoredText> texts) {
    if (texts.empty()) return;
    // Every view into the chunk is taken once it is complete, so it never moves under them.
    struct TPlaced {
        size_t id, type, title, excerpt, end;
    };
    std::vector<TPlaced> placed;
    placed.reserve(texts.size());
    std::vector<std::string_view> vectorTexts;
    vectorTexts.reserve(texts.size());
    auto chunk = std::make_shared<std::string>();
    // Best match keeps whole texts of its own and shows rows of its own: the chunk holds only
    // what finds a text by key.
    const bool classic = !fbest;
    for (const TStoredText& t : texts) {
        TPlaced p{};
        p.id = chunk->size();
        chunk->append(t.ID);
        p.type = chunk->size();
        chunk->append(t.texttype);
        p.title = chunk->size();
        if (t.head && classic) chunk->append(HitTitleUtf8(*t.head));
        p.excerpt = chunk->size();
        if (t.head && classic) chunk->append(HitExcerptUtf8(*t.head));
        p.end = chunk->size();
        placed.push_back(p);
        if (classic) vectorTexts.push_back(t.vector);
    }
    chunk->shrink_to_fit();
    fchunks.push_back(chunk);

    const std::string_view all = *chunk;
    // Ids are dense and given in order, so the document table is indexed by them.
    const size_t first = classic ? fvectors.AddBatch(vectorTexts) : fdocs.size();
    if (!classic) {
        std::vector<TBestSearch::TText> whole;
        whole.reserve(texts.size());
        for (const TStoredText& t : texts) {
            if (t.head) whole.push_back(TBestSearch::TText{t.key, t.ID, t.texttype, *t.head, t.terms});
        }
        fbest->Add(whole);
        fliveDocs += texts.size();
    }
    fdocs.resize(first);
    fhasText.resize(first);
    fkeys.resize(first);
    for (size_t i = 0; i < texts.size(); ++i) {
        const TPlaced& p = placed[i];
        fdocs.push_back(TDoc{all.substr(p.id, p.type - p.id),
                             all.substr(p.title, p.excerpt - p.title),
                             all.substr(p.excerpt, p.end - p.excerpt), true});
        fhasText.push_back(texts[i].head.has_value() ? 1 : 0);
        fkeys.push_back(texts[i].key);
    }
}

std::string TSearchIndex::BestImageForm() {
    // Named anew whenever what an image holds, or how, changes.
    constexpr uint32_t kOrder = 0x01020304;
    std::string form = "best index 1, terms ";
    form += kTextTermsForm;
    form += ", sizes of ";
    form += std::to_string(sizeof(size_t));
    form += " bytes, first byte ";
    form += std::to_string(*reinterpret_cast<const uint8_t*>(&kOrder));
    return form;
}

bool TSearchIndex::SaveBest(TImageWriter& out) const {
    if (!fbest) return false;
    // The texts that are gone are left out: only the live ones are found by key.
    std::vector<int64_t> keys;
    std::vector<uint8_t> hasText;
    keys.reserve(fliveDocs);
    hasText.reserve(fliveDocs);
    for (size_t i = 0; i < fdocs.size(); ++i) {
        if (!fdocs[i].live) continue;
        keys.push_back(fkeys[i]);
        hasText.push_back(fhasText[i]);
    }
    out.PutVector(keys);
    out.PutVector(hasText);
    for (size_t i = 0; i < fdocs.size(); ++i) {
        if (!fdocs[i].live) continue;
        out.PutString(fdocs[i].ID);
        out.PutString(TSearchPass::TextTypeBetween(fdocs[i].ID, fdocs[i].Title));
    }
    return fbest->Save(out);
}

bool TSearchIndex::RestoreBest(TImageReader& in) {
    Clear();
    if (!fbest) return false;
    bool ok = in.GetVector(fkeys) && in.GetVector(fhasText) && fhasText.size() == fkeys.size();
    for (size_t i = 1; ok && i < fkeys.size(); ++i)
        ok = fkeys[i - 1] < fkeys[i];
    // Each text's ID and type back to back in one chunk, as Add lays them out.
    auto chunk = std::make_shared<std::string>();
    std::vector<size_t> ends;  // of each ID and each type
    std::string piece;
    for (size_t i = 0; ok && i < fkeys.size(); ++i) {
        for (int part = 0; ok && part < 2; ++part) {
            ok = in.GetString(piece);
            chunk->append(piece);
            ends.push_back(chunk->size());
        }
    }
    ok = ok && fbest->Restore(in);
    if (!ok) {
        Clear();
        return false;
    }
    chunk->shrink_to_fit();
    fchunks.push_back(chunk);
    const std::string_view all = *chunk;
    fdocs.reserve(fkeys.size());
    for (size_t i = 0, begin = 0; i < fkeys.size(); ++i) {
        const size_t IDEnd = ends[2 * i], typeEnd = ends[2 * i + 1];
        fdocs.push_back(TDoc{all.substr(begin, IDEnd - begin), all.substr(typeEnd, 0), {}, true});
        begin = typeEnd;
    }
    fliveDocs = fkeys.size();
    return true;
}

size_t TSearchIndex::Find(int64_t key) const {
    const auto it = std::lower_bound(fkeys.begin(), fkeys.end(), key);
    if (it == fkeys.end() || *it != key) return std::string_view::npos;
    return static_cast<size_t>(it - fkeys.begin());
}

void TSearchIndex::Kill(size_t doc) {
    if (fbest) {
        fbest->RemoveText(fdocs[doc].ID, TSearchPass::TextTypeBetween(fdocs[doc].ID,
                                                                       fdocs[doc].Title));
        --fliveDocs;
    } else {
        fvectors.Remove(static_cast<TVectorIndex::DocId>(doc));
    }
    fdocs[doc].live = false;
}

void TSearchIndex::RemoveKey(int64_t key) {
    const size_t doc = Find(key);
    if (doc != std::string_view::npos && fdocs[doc].live) Kill(doc);
}

void TSearchIndex::RemoveKeys(std::span<const int64_t> keys) {
    if (fbest) fbest->HoldRemovals();
    for (const int64_t key : keys)
        RemoveKey(key);
    if (fbest) fbest->FlushRemovals();
}

void TSearchIndex::RemoveTextsWhere(
    const std::function<bool(std::string_view ID, std::string_view texttype)>& gone) {
    std::vector<int64_t> keys;
    std::string_view ID, texttype;
    for (const int64_t key : LiveKeys())
        if (Lookup(key, ID, texttype) && gone(ID, texttype)) keys.push_back(key);
    RemoveKeys(keys);
}

void TSearchIndex::RemoveEntry(std::string_view ID) {
    for (size_t i = 0; i < fdocs.size(); ++i) {
        if (fdocs[i].live && fdocs[i].ID == ID) Kill(i);
    }
    if (fbest) fbest->RemoveEntry(ID);
}

void TSearchIndex::Settle() {
    if (fbest) fbest->Settle();
}

bool TSearchIndex::Lookup(int64_t key, std::string_view& ID, std::string_view& texttype) const {
    const size_t doc = Find(key);
    if (doc == std::string_view::npos || !fdocs[doc].live) return false;
    ID = fdocs[doc].ID;
    texttype = TSearchPass::TextTypeBetween(fdocs[doc].ID, fdocs[doc].Title);
    return true;
}

std::vector<int64_t> TSearchIndex::LiveKeys() const {
    std::vector<int64_t> keys;
    keys.reserve(LiveCount());
    for (size_t i = 0; i < fdocs.size(); ++i) {
        if (fdocs[i].live) keys.push_back(fkeys[i]);
    }
    return keys;
}

bool TSearchIndex::PrefaultPassRoom(size_t texts, const TGiveWay& giveWay) const {
    return fbuffers->Prefault(texts, giveWay) && fbuffers->matches.Prefault(texts, giveWay) &&
           fbuffers->helperMatches.Prefault(texts, giveWay);
}

size_t TSearchIndex::LiveCount() const {
    return fbest ? fliveDocs : fvectors.LiveCount();
}

size_t TSearchIndex::MemoryUsage() const {
    size_t bytes = fvectors.MemoryUsage() + fdocs.capacity() * sizeof(TDoc) + fhasText.capacity() +
                   fkeys.capacity() * sizeof(int64_t);
    for (const auto& chunk : fchunks)
        bytes += chunk->capacity();
    if (fbest) bytes += fbest->MemoryUsage();
    return bytes;
}

std::unique_ptr<TSearchPass> TSearchIndex::SearchBest(std::string_view storedQuery,
                                                      bool caretAtEnd) const {
    if (!fbest) throw Exception("This index serves Classic");
    return fbest->Search(storedQuery, caretAtEnd);
}

std::vector<std::string> TSearchIndex::Languages() const {
    return fbest ? fbest->Languages() : std::vector<std::string>{};
}

std::unique_ptr<TSearchPass> TSearchIndex::Search(const TcvVector& query) const {
    // Room that is short grows with a quarter to spare, so that a pass with a few more hits
    // than the last writes into room it already has instead of moving to a fresh block.
    const auto grow = [](auto& room, size_t needed) {
        if (room.capacity() < needed) room.reserve(needed + needed / 4);
    };
    TVectorIndex::TMatches matches = fbuffers->matches.Take();
    TVectorIndex::TMatches helperMatches = fbuffers->helperMatches.Take();
    fvectors.Search(query, kThreshold, matches, helperMatches);
    fbuffers->helperMatches.Give(helperMatches);

    auto pass = std::make_unique<TSearchPass>();
    pass->texts = fchunks;
    pass->recycle = fbuffers;
    fbuffers->Take(*pass);
    grow(pass->hits, matches.size());
    if (!pass->tree) pass->tree = std::make_unique<TScoretree<TcvResults>>();
    auto fill = [&] {
        for (const auto& match : matches) {
            const TDoc& doc = fdocs[match.doc];
            if (!fhasText[match.doc]) continue;  // a vector without its text cannot be shown
            pass->hits.push_back(
                TcvResults{doc.ID, doc.Title, {}, doc.excerpt, match.score, nullptr});
        }
    };
    // The nodes point at the places the hits are filled into: the room is reserved, so filling
    // never moves it. Inserted in row order, so equal scores keep the order a row-by-row pass
    // gives them.
    TcvResults* const room = pass->hits.data();
    TScoretree<TcvResults>& tree = *pass->tree;
    auto order = [&] {
        size_t place = 0;
        for (const auto& match : matches) {
            if (fhasText[match.doc]) tree.insert(match.score, room + place++);
        }
        std::unique_ptr<TPassBuffers::TSortRoom> sortRoom = fbuffers->TakeSortRoom();
        tree.Prepare(*sortRoom);
        fbuffers->GiveSortRoom(std::move(sortRoom));
    };
    // A large pass fills its hits and orders them on both processors at once.
    if (matches.size() >= kParallelHits && std::thread::hardware_concurrency() >= 2) {
        THelperThread orderer(order);
        fill();
        orderer.Join();
    } else {
        fill();
        order();
    }
    fbuffers->matches.Give(matches);
    return pass;
}
