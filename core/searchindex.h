// The in-memory side of search as you type, for one of two rankings.
//
// Classic: every stored text's vector is parsed once and indexed by term (TVectorIndex), beside
// the entry ID, title and excerpt that its hit would show, so a search pass needs neither to
// parse vector texts nor to ask the store anything. Scores and the order of hits are exactly
// those of scoring every stored vector in load order with Proximity.
//
// Best match: the stores hand over each text's terms as they keep them beside it, or the whole
// text when they have none that belong to it (WholeTexts), which TBestSearch pairs into entries
// and ranks by their words (bestsearch.h); vector texts are neither needed nor kept. The texts
// of the rows a pass lists are read back through the store's reader. Changes reach its searches
// once the owner calls Settle.
//
// The index knows nothing of where texts are stored. A store hands it texts in load order, each
// under a key of its own (a row number, a change sequence) that grows with every text added, and
// takes texts out again by key or by entry ID.
//
// Ownership: the index owns its texts in immutable chunks shared with the passes it produced; a
// TSearchPass keeps the chunks its hits point into alive after the index has moved on. A pass
// that goes leaves the room of its hits and of its score tree to the index's next pass (whatever
// thread it goes on): 200,000 hits take 21 MB, which fresh from the system cost a page fault
// every 4 KB to fill and a return to the system to free, on every keystroke.
// Thread safety: none of its own but for PrefaultPassRoom. The owner serialises changes against
// Search; a TSearchPass, once returned, belongs to its receiver alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/bestsearch.h"
#include "core/ranking.h"
#include "port/largeroom.h"
#include "textsearch/bestmatch/bestrow.h"
#include "textsearch/searchhit.h"
#include "textsearch/cvvector.h"
#include "textsearch/scoretree.h"
#include "textsearch/vectorindex.h"

class TPassBuffers;

// The outcome of one search pass, handed whole to whoever shows it.
struct TSearchPass {
    std::vector<std::shared_ptr<const std::string>> texts;  // what the hits' views point into
    TLargeVector<TcvResults> hits;                          // the hits, in the order found
    std::unique_ptr<TScoretree<TcvResults>> tree;           // the same hits by score
    // Where the room of the hits and the tree goes when the pass does, for a later pass to fill.
    std::shared_ptr<TPassBuffers> recycle;
    // Best match only: per hit, in the order of `hits`, the bytes of its excerpt to draw bold.
    std::vector<std::vector<TBoldRange>> bold;

    TSearchPass() = default;
    TSearchPass(const TSearchPass&) = delete;
    TSearchPass& operator=(const TSearchPass&) = delete;
    ~TSearchPass();

    // Whether a hit of this pass matched a problem ("P") or a solution ("S") text.
    static std::string_view TextTypeOf(const TcvResults& hit) {
        return TextTypeBetween(hit.ID, hit.Title);
    }
    // The index keeps a text's type between its entry ID and its title, so neither a hit nor
    // the index's own record needs a field for it. REQUIRES: both views are the index's.
    static std::string_view TextTypeBetween(std::string_view ID, std::string_view Title) {
        const char* const type = ID.data() + ID.size();
        return {type, static_cast<size_t>(Title.data() - type)};
    }
};

// One stored text as a store hands it to the index.
struct TStoredText {
    int64_t key = 0;            // the store's own key for it; never falls in load order
    std::string_view ID;        // entry ID
    std::string_view texttype;  // "P" or "S"
    std::string_view vector;    // the stored vector text
    // The first kHitTextBytes of the text (or all of it; see storedtext.h), all of it for an index
    // that asks for WholeTexts; none when the text row is missing and the vector can therefore
    // never be shown.
    std::optional<std::string_view> head;
    // Best match: the text's terms (EncodeTextTerms) when the store keeps them for this version
    // of the text; the head may then be left empty (it only says that the text row exists).
    std::optional<std::string_view> terms;
};

class TSearchIndex {
public:
    // Stored texts scoring above this are hits.
    static constexpr float kThreshold = 0.25f;

    explicit TSearchIndex(TRanking ranking = TRanking::Classic);
    ~TSearchIndex();
    TSearchIndex(const TSearchIndex&) = delete;
    TSearchIndex& operator=(const TSearchIndex&) = delete;

    TRanking Ranking() const { return franking; }
    // Whether stores must hand over whole texts; such an index reads no vector texts (a store
    // may leave them empty).
    bool WholeTexts() const { return franking == TRanking::BestMatch; }

    // Best match: how passes read the texts of their rows back (see bestsearch.h); set by the
    // store before it adds texts, and called by SearchBest and Settle, which the owner calls as
    // the store requires (holding what guards it). REQUIRES: the store outlives the index's
    // searches. Without one, whole texts are kept.
    void SetTextReader(TEntryTextReader reader);
    // Best match: keep the terms of the texts read from their words, for the store to write.
    void CollectReadTerms(bool collect);
    std::vector<TReadTerms> TakeReadTerms();

    // The form of SaveBest's images: this version's, and this machine's sizes and byte order.
    static std::string BestImageForm();
    // Best match: everything held, for RestoreBest in a later run (imagestream.h); false, writing
    // nothing, for Classic, or while changes wait for Settle.
    bool SaveBest(TImageWriter& out) const;
    // Best match: replaces everything held by what SaveBest wrote. REQUIRES: the text reader is
    // set. False, leaving the index empty, when the bytes are not such an image.
    bool RestoreBest(TImageReader& in);

    // Forgets every text.
    void Clear();
    // Adds texts after those held, in the order a full load gives them. REQUIRES: their keys are
    // not below any key added before.
    void Add(std::span<const TStoredText> texts);
    // Leaves the text under key, or every text of the entry, out of later searches.
    void RemoveKey(int64_t key);
    // RemoveKey of each; Best match takes many out in one pass over its lists.
    void RemoveKeys(std::span<const int64_t> keys);
    // RemoveKeys of the live texts that gone(ID, text type) names.
    void RemoveTextsWhere(
        const std::function<bool(std::string_view ID, std::string_view texttype)>& gone);
    void RemoveEntry(std::string_view ID);
    // Brings Best match's searches up to date with the changes since the last call (nothing to do
    // for Classic). The owner calls it after a load, a sync or a write.
    void Settle();

    // The live text under key: its entry ID and text type.
    bool Lookup(int64_t key, std::string_view& ID, std::string_view& texttype) const;
    // Keys of the live texts, in increasing order.
    std::vector<int64_t> LiveKeys() const;
    // The greatest key ever added, or 0.
    int64_t LastKey() const { return fkeys.empty() ? 0 : fkeys.back(); }
    // Stored texts that later searches visit.
    size_t LiveCount() const;
    // Bytes held, for measurements.
    size_t MemoryUsage() const;

    // Room for the next two passes to hold a hit of each of this many texts, faulted in now, in
    // steps that ask giveWay first: the first keystrokes after a load then write into memory
    // the process already has. False when it gave way. Safe beside Search and the owner's
    // changes, Clear included: it touches only the rooms, which have their own lock and outlive
    // the texts.
    bool PrefaultPassRoom(size_t texts, const TGiveWay& giveWay) const;

    // Classic: scores query against every live text. Texts that cannot be scored (a malformed
    // count) or shown (no text row) are skipped.
    std::unique_ptr<TSearchPass> Search(const TcvVector& query) const;
    // Best match: the entries for a typed problem (stored form), best first (bestsearch.h).
    std::unique_ptr<TSearchPass> SearchBest(std::string_view storedQuery, bool caretAtEnd) const;
    // Best match: the languages of the entries held, most entries first.
    std::vector<std::string> Languages() const;

private:
    struct TDoc {
        std::string_view ID;
        std::string_view Title;
        std::string_view excerpt;
        bool live = false;  // not removed since added
    };
    // The document with this key, or npos.
    size_t Find(int64_t key) const;
    void Kill(size_t doc);

    const TRanking franking;
    TVectorIndex fvectors;                // Classic only
    std::unique_ptr<TBestSearch> fbest;   // Best match only
    size_t fliveDocs = 0;                 // Best match: live documents (Classic asks fvectors)
    std::vector<TDoc> fdocs;  // indexed by the vector index's document ids
    // Per document, whether the entry's text row exists: a vector without it cannot be shown. A
    // byte each beside fdocs, which a pass reads for every match.
    std::vector<uint8_t> fhasText;
    std::vector<int64_t> fkeys;  // the key of each document; increasing
    std::vector<std::shared_ptr<const std::string>> fchunks;
    std::shared_ptr<TPassBuffers> fbuffers;
};
