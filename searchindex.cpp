// Loading reads the vector rows (already in memory as the loaded vectors table) and, in one query,
// the first characters of every text, joined to the rows by entry ID and text type as the
// per-hit description lookup would find them. A search then only walks the postings of the
// query's terms and turns the matching rows into hits that point into the loaded texts.
#include "searchindex.h"

#include <functional>
#include <unordered_map>

#include "knowledgebase.h"

namespace {

// Only the characters a hit can show are read: a text is cut at its first NUL (as text columns
// read back) and counted in bytes, not UTF-8 characters, hence the casts.
constexpr std::string_view kAllDescriptions =
    "select ID,texttype,cast(substr(cast(description as blob),1,140) as text) from textdata";

std::string EntryDescriptionsSQL(std::string_view ID) {
    return std::string(kAllDescriptions) + " where ID='" + kb::DoubleApostrophes(ID) + "'";
}

struct TTextKey {
    std::string_view ID;
    std::string_view texttype;
    bool operator==(const TTextKey&) const = default;
};

struct TTextKeyHash {
    size_t operator()(const TTextKey& key) const noexcept {
        const size_t h = std::hash<std::string_view>()(key.ID);
        return h ^ (std::hash<std::string_view>()(key.texttype) + 0x9e3779b97f4a7c15ULL + (h << 6));
    }
};

std::string_view Trimmed(std::string_view s) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view CutAtNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

}  // namespace

std::string HitTitle(std::string_view text) {
    return std::string(CutAtNul(text).substr(0, TSearchIndex::kTitleLength)) + "...";
}

std::string HitExcerpt(std::string_view text) {
    text = CutAtNul(text);
    if (text.size() <= TSearchIndex::kTitleLength) return {};
    return std::string(
        Trimmed(text.substr(TSearchIndex::kTitleLength, TSearchIndex::kExcerptLength)));
}

TSearchIndex::TSearchIndex() = default;
TSearchIndex::~TSearchIndex() = default;

void TSearchIndex::Load(const TSQLiteTable& vectors, TSQLiteDatabase& DB) {
    fvectors = TVectorIndex();
    fdocs.clear();
    fchunks.clear();
    AddRows(vectors, DB, kAllDescriptions);
}

void TSearchIndex::Append(const TSQLiteTable& rows, TSQLiteDatabase& DB) {
    if (rows.Count() == 0) return;
    // Rows added by a save belong to one entry; read just its texts.
    std::string_view ID = rows.CellView(0, 0);
    bool oneEntry = true;
    for (int r = 1; r < rows.Count() && oneEntry; ++r)
        oneEntry = rows.CellView(r, 0) == ID;
    AddRows(rows, DB, oneEntry ? EntryDescriptionsSQL(ID) : std::string(kAllDescriptions));
}

void TSearchIndex::AddRows(const TSQLiteTable& rows, TSQLiteDatabase& DB,
                           std::string_view descriptionsSQL) {
    const auto descriptions = DB.GetTable(descriptionsSQL);
    std::unordered_map<TTextKey, std::string_view, TTextKeyHash> textOf;
    textOf.reserve(static_cast<size_t>(descriptions->Count()));
    for (int r = 0; r < descriptions->Count(); ++r) {
        // The primary key makes (ID, texttype) unique; the first row found wins regardless.
        textOf.emplace(TTextKey{descriptions->CellView(r, 0), descriptions->CellView(r, 1)},
                       descriptions->CellView(r, 2));
    }

    // The chunk is complete before any view into it is taken, so it never moves under them.
    struct TPlaced {
        size_t id, title, excerpt, end;
        bool hasText;
    };
    std::vector<TPlaced> placed;
    placed.reserve(static_cast<size_t>(rows.Count()));
    auto chunk = std::make_shared<std::string>();
    for (int r = 0; r < rows.Count(); ++r) {
        const std::string_view ID = rows.CellView(r, 0);
        const auto found = textOf.find(TTextKey{ID, rows.CellView(r, 1)});
        TPlaced p{};
        p.hasText = found != textOf.end();
        p.id = chunk->size();
        chunk->append(ID);
        p.title = chunk->size();
        if (p.hasText) {
            chunk->append(HitTitle(found->second));
            p.excerpt = chunk->size();
            chunk->append(HitExcerpt(found->second));
        } else {
            p.excerpt = chunk->size();
        }
        p.end = chunk->size();
        placed.push_back(p);
    }
    fchunks.push_back(chunk);

    const std::string_view bytes = *chunk;
    std::vector<std::string_view> vectorTexts;
    vectorTexts.reserve(placed.size());
    for (int r = 0; r < rows.Count(); ++r)
        vectorTexts.push_back(rows.CellView(r, 2));
    // Ids are dense and given in order, so the document table is indexed by them.
    const TVectorIndex::DocId first = fvectors.AddBatch(vectorTexts);
    fdocs.resize(first);
    fdocs.reserve(fdocs.size() + placed.size());
    for (int r = 0; r < rows.Count(); ++r) {
        const TPlaced& p = placed[static_cast<size_t>(r)];
        fdocs.push_back(TDoc{bytes.substr(p.id, p.title - p.id),
                             bytes.substr(p.title, p.excerpt - p.title),
                             bytes.substr(p.excerpt, p.end - p.excerpt), p.hasText, true});
    }
}

void TSearchIndex::Remove(std::string_view ID) {
    for (size_t i = 0; i < fdocs.size(); ++i) {
        TDoc& doc = fdocs[i];
        if (doc.live && doc.ID == ID) {
            fvectors.Remove(static_cast<TVectorIndex::DocId>(i));
            doc.live = false;
        }
    }
}

size_t TSearchIndex::LiveCount() const {
    return fvectors.LiveCount();
}

std::unique_ptr<TSearchPass> TSearchIndex::Search(const TcvVector& query) const {
    std::vector<TVectorIndex::TMatch> matches;
    fvectors.Search(query, kThreshold, matches);

    auto pass = std::make_unique<TSearchPass>();
    pass->texts = fchunks;
    pass->hits.reserve(matches.size());
    for (const auto& match : matches) {
        const TDoc& doc = fdocs[match.doc];
        if (!doc.hasText) continue;  // a vector without its text cannot be shown
        pass->hits.push_back(TcvResults{doc.ID, doc.Title, {}, doc.excerpt, match.score, nullptr});
    }
    // Inserted in row order, so equal scores keep the order a row-by-row pass gives them.
    pass->tree = std::make_unique<TScoretree<TcvResults>>();
    for (TcvResults& hit : pass->hits)
        pass->tree->insert(hit.Proximity, &hit);
    pass->tree->Prepare();
    return pass;
}
