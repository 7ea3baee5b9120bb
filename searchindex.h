// The in-memory side of search as you type. Every loaded stored vector is parsed once and indexed
// by term (TVectorIndex), beside the entry ID, title and excerpt that its hit would show, so a
// search pass needs neither to parse vector texts nor to ask the database anything. Scores and
// the order of hits are exactly those of scoring every loaded row in turn with Proximity.
//
// Ownership: the index owns its texts in immutable chunks shared with the passes it produced; a
// TSearchPass keeps the chunks its hits point into alive after the index has moved on.
// Thread safety: none of its own. The owner serialises Load/Append/Remove against Search with the
// work queue's lock; a TSearchPass, once returned, belongs to its receiver alone.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "searchhit.h"
#include "sqlite/sqlitedb.h"
#include "textsearch/cvvector.h"
#include "textsearch/scoretree.h"
#include "textsearch/vectorindex.h"

// The outcome of one search pass, handed whole to the user-interface thread.
struct TSearchPass {
    std::vector<std::shared_ptr<const std::string>> texts;  // what the hits' views point into
    std::vector<TcvResults> hits;                           // the hits, in the order found
    std::unique_ptr<TScoretree<TcvResults>> tree;           // the same hits by score
};

class TSearchIndex {
public:
    // Stored texts scoring above this are hits.
    static constexpr float kThreshold = 0.25f;
    // A hit shows the first kTitleLength characters of its text and an excerpt of the next
    // kExcerptLength.
    static constexpr size_t kTitleLength = 40;
    static constexpr size_t kExcerptLength = 100;

    TSearchIndex();
    ~TSearchIndex();
    TSearchIndex(const TSearchIndex&) = delete;
    TSearchIndex& operator=(const TSearchIndex&) = delete;

    // Replaces the contents by the rows of vectors (entry ID, text type, vector text), with the
    // texts of their entries read from DB.
    void Load(const TSQLiteTable& vectors, TSQLiteDatabase& DB);
    // Adds rows that a full load would return after the rows already held.
    void Append(const TSQLiteTable& rows, TSQLiteDatabase& DB);
    // Leaves out every stored text of the entry from later searches.
    void Remove(std::string_view ID);
    // Stored texts that later searches visit.
    size_t LiveCount() const;

    // Scores query against every stored text. Rows that cannot be scored (a malformed count) or
    // shown (no text row for the vector) are skipped.
    std::unique_ptr<TSearchPass> Search(const TcvVector& query) const;

private:
    struct TDoc {
        std::string_view ID;
        std::string_view Title;
        std::string_view excerpt;
        bool hasText = false;  // the entry's text row exists
        bool live = false;     // not removed since loaded
    };

    void AddRows(const TSQLiteTable& rows, TSQLiteDatabase& DB, std::string_view descriptionsSQL);

    TVectorIndex fvectors;
    std::vector<TDoc> fdocs;  // indexed by the vector index's document ids
    std::vector<std::shared_ptr<const std::string>> fchunks;
};

// The title and excerpt a hit shows for a stored text (cut at its first NUL, as it reads back).
std::string HitTitle(std::string_view text);
std::string HitExcerpt(std::string_view text);
