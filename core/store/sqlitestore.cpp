// Loading pairs each vector row with its text row as the description lookup would find it (the
// row of the same entry ID and text type). Saves write an entry's two texts and then its two
// vectors, and deletes remove both, so in a file written by this program the two tables list
// their rows in the same order: the loader steps through both at once and keeps aside, in a map,
// only text rows that it passes on the way to a later one. With (ID, texttype) not unique (tables
// not made by this program) that pairing could pick another row than the lookup, so all text
// rows go into the map first, the first of each key winning as in the lookup.
#include "core/store/sqlitestore.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <unordered_map>

#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/storedtext.h"
#include "port/datadir.h"

namespace {

// Rows handed to the index at a time: large enough to parse on both cores, small enough that the
// batch's copies stay a few megabytes.
constexpr size_t kBatchRows = 8192;

// How long a tool's connection waits for another program's write to the file to end.
constexpr int kToolBusyMs = 10000;

// The head of a text, as much of it as a hit shows; an index that asks for whole texts (Best
// match) gets them whole, and no vector texts, which it does not read.
std::string HeadColumn(std::string_view table, const TSearchIndex& index) {
    if (index.WholeTexts()) return "cast(" + std::string(table) + "description as blob)";
    return "substr(cast(" + std::string(table) + "description as blob),1," +
           std::to_string(kHitTextBytes) + ")";
}
std::string_view VectorColumn(const TSearchIndex& index) {
    return index.WholeTexts() ? "''" : "vectordata";
}

struct TKey {
    std::string ID;
    std::string texttype;
    bool operator==(const TKey&) const = default;
};

size_t KeyHash(std::string_view ID, std::string_view texttype) {
    const size_t h = std::hash<std::string_view>()(ID);
    return h ^ (std::hash<std::string_view>()(texttype) + 0x9e3779b97f4a7c15ULL + (h << 6));
}

struct TKeyHash {
    size_t operator()(const TKey& key) const noexcept { return KeyHash(key.ID, key.texttype); }
};

// Stored texts gathered for the index, copied out of the cursors' rows (which a step invalidates).
class TBatch {
public:
    explicit TBatch(TSearchIndex& index) : findex(index) {}

    // The views are copied at once: they may be of a cursor's row.
    void Add(int64_t key, std::string_view ID, std::string_view texttype, std::string_view vector,
             std::optional<std::string_view> head,
             std::optional<std::string_view> terms = std::nullopt) {
        TRow row{key, Put(ID), Put(texttype), Put(vector), 0, 0, head.has_value(), {}, false};
        if (terms) {
            row.terms = Put(*terms);
            row.hasTerms = true;
        }
        if (head) {
            row.head = fbytes.size();
            fbytes += *head;
            row.headEnd = fbytes.size();
        }
        frows.push_back(row);
        if (frows.size() >= kBatchRows) Flush();
    }

    void Flush() {
        if (frows.empty()) return;
        const std::string_view all = fbytes;
        std::vector<TStoredText> texts;
        texts.reserve(frows.size());
        for (const TRow& r : frows) {
            TStoredText t;
            t.key = r.key;
            t.ID = all.substr(r.ID.first, r.ID.second);
            t.texttype = all.substr(r.texttype.first, r.texttype.second);
            t.vector = all.substr(r.vector.first, r.vector.second);
            if (r.hasHead) t.head = all.substr(r.head, r.headEnd - r.head);
            if (r.hasTerms) t.terms = all.substr(r.terms.first, r.terms.second);
            texts.push_back(t);
        }
        findex.Add(texts);
        frows.clear();
        fbytes.clear();
    }

private:
    using TPlace = std::pair<size_t, size_t>;
    struct TRow {
        int64_t key;
        TPlace ID, texttype, vector;
        size_t head, headEnd;
        bool hasHead;
        TPlace terms;
        bool hasTerms;
    };
    TPlace Put(std::string_view s) {
        const TPlace place{fbytes.size(), s.size()};
        fbytes += s;
        return place;
    }

    TSearchIndex& findex;
    std::vector<TRow> frows;
    std::string fbytes;
};

}  // namespace

TSQLiteStore::TSQLiteStore(std::string file, TOpenMode mode)
    : ffile(std::move(file)), fmode(mode), fwriter(LoginName()) {}

TSQLiteStore::~TSQLiteStore() = default;

void TSQLiteStore::Open() {
    if (fopen) return;
    if (!fDB) {
        // Read alone, a write-ahead-log file that nothing has open gets no -wal and -shm.
        fDB = std::make_unique<TSQLiteDatabase>(
            ffile, fmode == TOpenMode::ReadOnly ? ReadingMode(ffile) : fmode,
            fmode == TOpenMode::Create ? 0 : kToolBusyMs);
    }
    if (fmode != TOpenMode::Create && !kb::IsKnowledgeBase(*fDB)) {
        fDB.reset();
        throw kb::ENotAKnowledgeBase(ffile);
    }
    if (fmode != TOpenMode::ReadOnly) kb::CreateMissingTables(*fDB);
    funiqueKeys = kb::SchemaObjectIs(*fDB, "table", "textdata", kb::kCreateTextdata) &&
                  kb::SchemaObjectIs(*fDB, "table", "vectors", kb::kCreateVectors);
    fhasTerms = kb::SchemaObjectIs(*fDB, "table", "bestterms", kb::kCreateBestTerms);
    ftermsKept = fhasTerms && kb::BestTermsKept(*fDB);
    fsavedKept = kb::BestSavedKept(*fDB);
    fopen = true;
}

int32_t TSQLiteStore::ReadFontSize() {
    if (!fDB) throw Exception("The knowledge base is not open");
    return kb::ReadFontSize(*fDB);
}

void TSQLiteStore::WriteFontSize(int32_t size) {
    if (fDB) kb::WriteFontSize(*fDB, size);
}

int64_t TSQLiteStore::DataVersion() {
    return fDB->GetTable("PRAGMA data_version")->FieldAsInteger(0);
}

int64_t TSQLiteStore::MaxRowid() {
    return fDB->GetTable("select max(rowid) from vectors")->FieldAsInteger(0);
}

bool TSQLiteStore::UsesTerms(const TSearchIndex& index) const {
    // Without unique keys a vector row may pair with several text rows; those loads read texts.
    return index.WholeTexts() && funiqueKeys && fhasTerms;
}

std::string TSQLiteStore::BestRowsSQL(std::string_view where) const {
    return "select v.rowid,v.ID,v.texttype,t.rowid is not null,b.terms,case when b.terms is "
           "null then cast(t.description as blob) end from vectors v left join textdata t on "
           "t.ID=v.ID and t.texttype=v.texttype left join bestterms b on b.vectorrow=v.rowid and "
           "b.ID=v.ID and b.texttype=v.texttype and "
           "b.bytes=coalesce(length(cast(t.description as blob)),0) where " +
           std::string(where) + " order by v.rowid";
}

void TSQLiteStore::AddBestRows(TSearchIndex& index, std::string_view where) {
    TBatch batch(index);
    TSQLiteCursor rows(*fDB, BestRowsSQL(where));
    while (rows.Next()) {
        const bool hasText = rows.Integer(3) != 0, hasTerms = !rows.IsNull(4);
        std::optional<std::string_view> head, terms;
        if (hasText) head = hasTerms ? std::string_view() : rows.Text(5);
        if (hasText && hasTerms) terms = rows.Text(4);
        batch.Add(rows.Integer(0), rows.Text(1), rows.Text(2), {}, head, terms);
        fmaxRowid = std::max(fmaxRowid, rows.Integer(0));
    }
    batch.Flush();
}

bool TSQLiteStore::AddKeptBestRows(TSearchIndex& index, int64_t top) {
    // The vector rows' keys come from the primary key's index, which holds no vector text; held
    // as a hash of the key beside the rowid, which is all the pairing needs.
    struct TVectorRow {
        int64_t rowid;
        size_t key;
    };
    std::vector<TVectorRow> vectors;
    {
        TSQLiteCursor rows(*fDB, "select rowid,ID,texttype from vectors where rowid<=" +
                                     std::to_string(top));
        while (rows.Next())
            vectors.push_back(TVectorRow{rows.Integer(0), KeyHash(rows.Text(1), rows.Text(2))});
    }
    std::sort(vectors.begin(), vectors.end(),
              [](const TVectorRow& a, const TVectorRow& b) { return a.rowid < b.rowid; });
    // Rows without terms read their texts one by one; past a few, one pass over the texts is
    // cheaper.
    const int64_t withTerms =
        fDB->GetTable("select count(*) from bestterms where vectorrow<=" + std::to_string(top))
            ->FieldAsInteger(0);
    if (static_cast<int64_t>(vectors.size()) - withTerms > static_cast<int64_t>(kBatchRows))
        return false;

    TBatch batch(index);
    TSQLiteCursor kept(*fDB, "select vectorrow,ID,texttype,terms from bestterms where "
                             "vectorrow<=" + std::to_string(top) + " order by vectorrow");
    bool more = kept.Next();
    for (const TVectorRow& v : vectors) {
        while (more && kept.Integer(0) < v.rowid)
            more = kept.Next();
        if (more && kept.Integer(0) == v.rowid && KeyHash(kept.Text(1), kept.Text(2)) == v.key) {
            batch.Add(v.rowid, kept.Text(1), kept.Text(2), {}, std::string_view(), kept.Text(3));
        } else {
            // A row without terms: its key and its text, the vector row looked up by its rowid.
            TSQLiteCursor text(
                *fDB, "select v.ID,v.texttype,t.rowid is not null,cast(t.description as blob) "
                      "from vectors v left join textdata t on t.ID=v.ID and "
                      "t.texttype=v.texttype where v.rowid=" + std::to_string(v.rowid));
            if (!text.Next()) continue;  // gone since: the next sync sees it
            const bool hasText = text.Integer(2) != 0;
            batch.Add(v.rowid, text.Text(0), text.Text(1), {},
                      hasText ? std::optional(text.Text(3)) : std::nullopt);
        }
        fmaxRowid = std::max(fmaxRowid, v.rowid);
    }
    batch.Flush();
    return true;
}

bool TSQLiteStore::RestoreSaved(TSearchIndex& index, int64_t top) {
    if (!fsavedKept) return false;
    try {
        if (kb::ReadBestSaved(
                *fDB, TSearchIndex::BestImageForm(),
                [&](TImageReader& in) { return index.RestoreBest(in); },
                [&](const kb::TSavedSince& since) { return CatchUpSaved(index, since, top); }))
            return true;
    } catch (const std::exception&) {
        // Unreadable: the texts' terms are read instead.
    }
    index.Clear();
    return false;
}

bool TSQLiteStore::CatchUpSaved(TSearchIndex& index, const kb::TSavedSince& since,
                                int64_t top) {
    if (since.keys.empty()) return since.top == top;
    // Written as a sync sees it (the image's rows of the keys gone, new ones above all), the
    // keys' rows come after the image's in rowid order, as a full load has them. Written in
    // place, a row would have to be read into the middle.
    const std::string sinceTop = std::to_string(since.top);
    // The keys written lead, so that the vectors are looked up by key, not scanned.
    if (fDB->GetTable("select count(*) from bestsince s cross join vectors v on v.ID=s.ID and "
                      "v.texttype=s.texttype where v.rowid<=" + sinceTop)
            ->FieldAsInteger(0) != 0)
        return false;
    std::set<std::pair<std::string_view, std::string_view>> written;
    for (const auto& [ID, texttype] : since.keys)
        written.emplace(ID, texttype);
    index.RemoveTextsWhere([&](std::string_view ID, std::string_view texttype) {
        return written.contains({ID, texttype});
    });
    AddBestRows(index, "v.rowid>" + sinceTop + " and v.rowid<=" + std::to_string(top));
    return true;
}

void TSQLiteStore::KeepIndex(TSearchIndex& index) {
    if (!fopen || fmode == TOpenMode::ReadOnly || !fsavedKept || !UsesTerms(index) ||
        fdataVersion < 0 || !fexact)
        return;
    const std::string form = TSearchIndex::BestImageForm();
    // An image with nothing written since is of the file as it is, which the index is in step
    // with.
    if (kb::BestSavedCurrent(*fDB, form)) return;
    // In step: nothing written by others since the index last took their writes in (the
    // program's own leave data_version as it is), and no rows since the newest it holds.
    kb::WriteBestSaved(
        *fDB, form, fmaxRowid,
        [&] { return DataVersion() == fdataVersion && MaxRowid() == fmaxRowid; },
        [&](TImageWriter& out) { return index.SaveBest(out); });
}

void TSQLiteStore::GiveTextReader(TSearchIndex& index) {
    index.SetTextReader([this](std::span<const std::string_view> IDs,
                               const TStoredTextVisit& each) {
        std::string sql = "select ID,texttype,cast(description as blob) from textdata where ID in (";
        for (size_t i = 0; i < IDs.size(); ++i)
            sql += (i ? ",'" : "'") + kb::DoubleApostrophes(IDs[i]) + "'";
        sql += ") order by rowid";
        TSQLiteCursor rows(*fDB, sql);
        while (rows.Next())
            each(rows.Text(0), rows.Text(1), rows.Text(2));
    });
}

void TSQLiteStore::LoadAll(TSearchIndex& index) {
    if (!fopen) throw Exception("The knowledge base is not open");
    // Taken first: rows written by others after it are left to the next sync.
    const int64_t dataVersion = DataVersion();
    const int64_t top = MaxRowid();
    index.Clear();
    fdataVersion = -1;
    if (index.WholeTexts()) GiveTextReader(index);
    fexact = true;
    if (UsesTerms(index) && RestoreSaved(index, top)) {
        fmaxRowid = top;
        fdataVersion = dataVersion;
        return;
    }
    if (UsesTerms(index)) {
        // The terms of texts that had none that belong to them are written back once loaded, by
        // an opening that may write.
        const bool keep = fmode != TOpenMode::ReadOnly;
        index.CollectReadTerms(keep);
        if (!ftermsKept || !AddKeptBestRows(index, top))
            AddBestRows(index, "v.rowid<=" + std::to_string(top));
        fmaxRowid = top;
        fdataVersion = dataVersion;
        if (!keep) return;
        index.Settle();
        index.CollectReadTerms(false);
        try {
            kb::KeepBestTerms(*fDB, index.TakeReadTerms());
        } catch (const std::exception&) {
            // The file is busy or full: the next opening writes them.
        }
        return;
    }

    const std::string textsSQL =
        "select ID,texttype," + HeadColumn("", index) + " from textdata order by rowid";
    // Text rows passed on the way to a later one; without unique keys, every text row, with the
    // number of rows per key (the load query's join lists a vector once per text row).
    struct TAside {
        std::string head;
        int rows = 0;
    };
    std::unordered_map<TKey, TAside, TKeyHash> aside;
    TSQLiteCursor texts(*fDB, textsSQL);
    bool textRow = texts.Next();
    auto setAside = [&] {
        TAside& a = aside[TKey{std::string(texts.Text(0)), std::string(texts.Text(1))}];
        if (a.rows++ == 0) a.head.assign(texts.Text(2));
        textRow = texts.Next();
    };
    if (!funiqueKeys) {
        while (textRow)
            setAside();
    }

    TBatch batch(index);
    std::string head;
    TSQLiteCursor vectors(*fDB, "select rowid,ID,texttype," + std::string(VectorColumn(index)) +
                                    " from vectors where rowid<=" + std::to_string(top) +
                                    " order by rowid");
    TKey key;
    while (vectors.Next()) {
        const std::string_view ID = vectors.Text(1), texttype = vectors.Text(2);
        int copies = 0;  // rows of the load query for this vector row that have a text
        if (funiqueKeys && textRow && texts.Text(0) == ID && texts.Text(1) == texttype) {
            head.assign(texts.Text(2));
            textRow = texts.Next();
            copies = 1;
        } else {
            key.ID.assign(ID);
            key.texttype.assign(texttype);
            if (auto it = aside.find(key); it != aside.end()) {
                copies = funiqueKeys ? 1 : it->second.rows;
                head = funiqueKeys ? std::move(it->second.head) : it->second.head;
                if (funiqueKeys) aside.erase(it);
            } else {
                while (textRow && copies == 0) {
                    if (texts.Text(0) == ID && texts.Text(1) == texttype) {
                        head.assign(texts.Text(2));
                        textRow = texts.Next();
                        copies = 1;
                    } else {
                        setAside();
                    }
                }
            }
        }
        for (int c = 0; c < std::max(copies, 1); ++c)
            batch.Add(vectors.Integer(0), ID, texttype, vectors.Text(3),
                      copies ? std::optional<std::string_view>(head) : std::nullopt);
    }
    batch.Flush();
    fmaxRowid = top;
    fdataVersion = dataVersion;
}

void TSQLiteStore::AddRowsAfter(TSearchIndex& index, int64_t after) {
    if (UsesTerms(index)) return AddBestRows(index, "v.rowid>" + std::to_string(after));
    // Only rows this program's loads could miss: a few, so the join's lookups cost nothing.
    TSQLiteCursor rows(*fDB,
                       "select vectors.rowid,vectors.ID,vectors.texttype," +
                           std::string(VectorColumn(index)) + ",textdata.rowid is not null," +
                           HeadColumn("textdata.", index) +
                           " from vectors  left join textdata on textdata.ID=vectors.ID and "
                           "textdata.texttype=vectors.texttype where vectors.rowid>" +
                           std::to_string(after) + " order by vectors.rowid");
    TBatch batch(index);
    while (rows.Next()) {
        const bool hasText = rows.Integer(4) != 0;
        batch.Add(rows.Integer(0), rows.Text(1), rows.Text(2), rows.Text(3),
                  hasText ? std::optional(rows.Text(5)) : std::nullopt);
        fmaxRowid = std::max(fmaxRowid, rows.Integer(0));
    }
    batch.Flush();
}

bool TSQLiteStore::Sync(TSearchIndex& index) {
    if (!fopen || fdataVersion < 0) return false;
    const int64_t dataVersion = DataVersion();
    if (dataVersion == fdataVersion) return false;
    fexact = false;
    // Without unique keys a new row could pair with another text than a full load pairs it with.
    if (!funiqueKeys) {
        LoadAll(index);
        return true;
    }
    // Compare the rows now in the file with those loaded, by rowid: the primary key's index
    // answers this without reading any vector text.
    const std::vector<int64_t> live = index.LiveKeys();
    std::vector<int64_t> vanished;
    size_t next = 0;
    bool reused = false;
    {
        TSQLiteCursor rows(*fDB, "select rowid,ID,texttype from vectors where rowid<=" +
                                     std::to_string(fmaxRowid) + " order by rowid");
        std::string_view ID, texttype;
        while (rows.Next() && !reused) {
            const int64_t rowid = rows.Integer(0);
            while (next < live.size() && live[next] < rowid)
                vanished.push_back(live[next++]);
            if (next < live.size() && live[next] == rowid && index.Lookup(rowid, ID, texttype) &&
                ID == rows.Text(1) && texttype == rows.Text(2)) {
                ++next;
            } else {
                reused = true;  // a row the index never had, under an old rowid
            }
        }
    }
    if (reused) {
        LoadAll(index);
        return true;
    }
    vanished.insert(vanished.end(), live.begin() + static_cast<ptrdiff_t>(next), live.end());
    index.RemoveKeys(vanished);
    const int64_t before = fmaxRowid;
    AddRowsAfter(index, fmaxRowid);
    const bool added = fmaxRowid != before;
    FollowTopRowid();
    fdataVersion = dataVersion;
    return !vanished.empty() || added;
}

void TSQLiteStore::CatchUpOwnWrite(TSearchIndex* index, std::string_view ID) {
    if (!index) return;
    if (fdataVersion < 0) {
        LoadAll(*index);
    } else if (DataVersion() != fdataVersion) {
        Sync(*index);  // others wrote too: compare everything, which takes in this write as well
    } else {
        if (!ID.empty()) index->RemoveEntry(ID);
        AddRowsAfter(*index, fmaxRowid);
        FollowTopRowid();
    }
}

void TSQLiteStore::FollowTopRowid() {
    // A file gives a new row the rowid above the highest in use, so once the newest rows are
    // deleted the next ones come under rowids already taken in: the mark must come down with
    // them, or those rows would be taken for read.
    fmaxRowid = MaxRowid();
}

std::string TSQLiteStore::SaveEntry(std::string_view problem, std::string_view solution,
                                    TSearchIndex* index) {
    Open();  // a first start cut short (a full disk) is finished by the next write
    const std::string ID = kb::SaveEntry(*fDB, problem, solution, fwriter);
    CatchUpOwnWrite(index, {});
    return ID;
}

void TSQLiteStore::ReplaceEntry(std::string_view ID, std::string_view problem,
                                std::string_view solution, std::string_view seenVersion,
                                TSearchIndex* index) {
    Open();
    kb::ReplaceEntry(*fDB, ID, problem, solution, seenVersion, fwriter);
    CatchUpOwnWrite(index, ID);
}

void TSQLiteStore::DeleteEntry(std::string_view ID, TSearchIndex* index) {
    Open();
    kb::DeleteEntry(*fDB, ID, fwriter);
    CatchUpOwnWrite(index, ID);
}

std::vector<TEntryVersion> TSQLiteStore::History(std::string_view ID) {
    if (!fDB) throw Exception("The knowledge base is not open");
    return kb::History(*fDB, ID);
}

std::vector<TEntryVersion> TSQLiteStore::Deleted() {
    if (!fDB) throw Exception("The knowledge base is not open");
    return kb::Deleted(*fDB);
}

void TSQLiteStore::Restore(std::string_view ID, int64_t seq, TSearchIndex* index) {
    Open();
    kb::Restore(*fDB, ID, seq, fwriter);
    CatchUpOwnWrite(index, ID);
}

THistorySize TSQLiteStore::HistorySize() {
    if (!fDB) throw Exception("The knowledge base is not open");
    return kb::HistorySize(*fDB);
}

uint64_t TSQLiteStore::PruneHistory(int64_t cutoff) {
    Open();
    return kb::PruneHistory(*fDB, cutoff);
}

TEntryTexts TSQLiteStore::ReadEntry(std::string_view ID) {
    if (!fDB) throw Exception("The knowledge base is not open");
    return kb::ReadEntry(*fDB, ID);
}

bool TSQLiteStore::ForEachEntry(const std::function<void(const TStoredEntry&)>& each,
                                const TProgress& progress) {
    Open();
    constexpr uint64_t kProgressEntries = 256;
    const uint64_t total = progress ? kb::CountEntries(*fDB) : 0;
    kb::TEntryCursor entries(*fDB);
    TStoredEntry entry;
    uint64_t done = 0;
    while (entries.Next(entry)) {
        each(entry);
        if (progress && ++done % kProgressEntries == 0 && !progress(done, total)) return false;
    }
    return !progress || progress(done, total);
}

TImportSummary TSQLiteStore::ImportEntries(TEntrySource& source, const TProgress& progress,
                                           TSearchIndex* index) {
    Open();
    TImportSummary summary = kb::ImportEntries(*fDB, source, progress);
    if (summary.imported > 0) CatchUpOwnWrite(index, {});
    return summary;
}
