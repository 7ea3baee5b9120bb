// Loading reads the vector rows (already in memory as the loaded vectors table) and, in one query,
// the first characters of every text, joined to the rows by entry ID and text type as the
// per-hit description lookup would find them. A file written by this program lists the texts in
// the order of their vectors, so the join first tries the text row at the same place and falls
// back to a hash map only where that fails. The texts are read and dropped again before the
// vectors are parsed, which keeps them out of the peak memory of a start. A search then only
// walks the postings of the query's terms and turns the matching rows into hits that point into
// the loaded texts.
#include "searchindex.h"

#include <algorithm>
#include <functional>
#include <optional>
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

// The parts of a hit's title and excerpt that come from its text.
std::string_view TitleBody(std::string_view text) {
    return CutAtNul(text).substr(0, TSearchIndex::kTitleLength);
}
std::string_view ExcerptBody(std::string_view text) {
    text = CutAtNul(text);
    if (text.size() <= TSearchIndex::kTitleLength) return {};
    return Trimmed(text.substr(TSearchIndex::kTitleLength, TSearchIndex::kExcerptLength));
}
constexpr std::string_view kTitleEnd = "...";

// The text row of each vector row, asked in the vector rows' order. Saves write an entry's two
// texts and then its two vectors, and deletes remove both, so the rows usually pair up place by
// place; the hash map over all texts is made only for a row that does not. With (ID, texttype)
// unique among the texts both ways give the row the description lookup finds; without that
// guarantee (a table not made by this program) only the map, which keeps the first row of a
// key as that lookup does, is used.
class TTextFinder {
public:
    TTextFinder(const TSQLiteTable& texts, bool uniqueKeys) : ftexts(texts), faligned(uniqueKeys) {}

    // The text of (ID, texttype), if there is one.
    std::optional<std::string_view> Find(std::string_view ID, std::string_view texttype) {
        if (faligned && fnext < ftexts.Count() && ftexts.CellView(fnext, 0) == ID &&
            ftexts.CellView(fnext, 1) == texttype) {
            return ftexts.CellView(fnext++, 2);
        }
        if (!fmap) Index();
        const auto found = fmap->find(TTextKey{ID, texttype});
        if (found == fmap->end()) return std::nullopt;
        // Rows skipped on the way have no vector; pairing by place goes on after the row found.
        fnext = std::max(fnext, found->second.row + 1);
        return found->second.text;
    }

private:
    struct TRow {
        std::string_view text;
        int row;
    };

    void Index() {
        fmap.emplace();
        fmap->reserve(static_cast<size_t>(ftexts.Count()));
        for (int r = 0; r < ftexts.Count(); ++r) {
            fmap->emplace(TTextKey{ftexts.CellView(r, 0), ftexts.CellView(r, 1)},
                          TRow{ftexts.CellView(r, 2), r});
        }
    }

    const TSQLiteTable& ftexts;
    const bool faligned;
    int fnext = 0;  // the text row that the next vector row pairs with by place
    std::optional<std::unordered_map<TTextKey, TRow, TTextKeyHash>> fmap;
};

// Whether textdata has the key this program gives it, which makes (ID, texttype) unique.
bool TextKeysUnique(TSQLiteDatabase& DB) {
    const auto schema =
        DB.GetTable("select sql from sqlite_master where type='table' and name='textdata'");
    return schema->Count() == 1 && schema->CellView(0, 0) == kb::kCreateTextdata;
}

}  // namespace

std::string HitTitle(std::string_view text) {
    return std::string(TitleBody(text)) + std::string(kTitleEnd);
}

std::string HitExcerpt(std::string_view text) {
    return std::string(ExcerptBody(text));
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
    // The chunk is complete before any view into it is taken, so it never moves under them.
    struct TPlaced {
        size_t id, title, excerpt, end;
        bool hasText;
    };
    std::vector<TPlaced> placed;
    placed.reserve(static_cast<size_t>(rows.Count()));
    auto chunk = std::make_shared<std::string>();
    {
        const bool uniqueKeys = TextKeysUnique(DB);
        const auto descriptions = DB.GetTable(descriptionsSQL);
        TTextFinder finder(*descriptions, uniqueKeys);
        std::vector<std::optional<std::string_view>> texts(static_cast<size_t>(rows.Count()));
        size_t bytes = 0;
        for (int r = 0; r < rows.Count(); ++r) {
            const std::string_view ID = rows.CellView(r, 0);
            bytes += ID.size();
            const auto text = finder.Find(ID, rows.CellView(r, 1));
            if (text)
                bytes += TitleBody(*text).size() + kTitleEnd.size() + ExcerptBody(*text).size();
            texts[static_cast<size_t>(r)] = text;
        }
        // Sized exactly, so that building it never copies it.
        chunk->reserve(bytes);
        for (int r = 0; r < rows.Count(); ++r) {
            TPlaced p{};
            const std::optional<std::string_view>& text = texts[static_cast<size_t>(r)];
            p.hasText = text.has_value();
            p.id = chunk->size();
            chunk->append(rows.CellView(r, 0));
            p.title = chunk->size();
            if (p.hasText) {
                chunk->append(TitleBody(*text)).append(kTitleEnd);
                p.excerpt = chunk->size();
                chunk->append(ExcerptBody(*text));
            } else {
                p.excerpt = chunk->size();
            }
            p.end = chunk->size();
            placed.push_back(p);
        }
    }  // the texts read are dropped before the vectors are parsed
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
