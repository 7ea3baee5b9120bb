// The knowledge base file on this computer as a store: the statements of knowledgebase.h over one
// SQLite connection, and the search index kept in step with the file.
//
// Keeping in step: every text is indexed under the rowid of its vector row. A full load streams
// the vector rows in rowid order beside the text rows (which a file written by this program holds
// in the same order), so no table of all vectors is ever held. Later, SQLite's data_version tells
// when another connection has written; the rowids then say what changed: rows that vanished were
// deleted, rows above the highest rowid loaded were added (saves, and edits, which give an entry's
// vectors new rowids), and anything else (an old rowid reused) forces a full load.
//
// Best match: the file's bestterms table (knowledgebase.h) gives each text's terms, so a load
// reads no words but those of texts whose row is missing or stale (written by an earlier
// version); an opening that may write writes those rows back after the load. Quicker still, a
// load restores the whole index from the file's saved one, which KeepIndex writes as the program
// closes when there is none that is current, and then reads the rows written since. The rows a
// pass lists read their texts back through the index's reader, one query per pass.
//
// Opening: as the program opens its file (made when missing, with the tables it lacks), or, for
// tools, only a file that exists and holds the tables of entries, either for writing or for
// reading alone (then nothing is ever written to it, and writes fail). A tool's connection waits
// a while for a program's write to the file to end; the program's own fails at once.
//
// Thread safety: as TKnowledgeStore. The connection is serialized, so the text size may be written
// beside a running load or search.
#pragma once

#include <memory>
#include <string>

#include "core/store/entryhistory.h"
#include "core/store/knowledgestore.h"
#include "sqlite/sqlitedb.h"

namespace kb {
struct TSavedSince;
}

class TSQLiteStore : public TKnowledgeStore {
public:
    // mode Create opens as the program does; Existing and ReadOnly raise ENotAKnowledgeBase, or
    // the database layer's error, for a missing or foreign file, which they leave as it is.
    explicit TSQLiteStore(std::string file, TOpenMode mode = TOpenMode::Create);
    ~TSQLiteStore() override;

    void Open() override;
    bool IsOpen() const override { return fopen; }
    int32_t ReadFontSize() override;
    void WriteFontSize(int32_t size) override;
    void LoadAll(TSearchIndex& index) override;
    void KeepIndex(TSearchIndex& index) override;
    bool Sync(TSearchIndex& index) override;
    std::string SaveEntry(std::string_view problem, std::string_view solution,
                          TSearchIndex* index) override;
    void ReplaceEntry(std::string_view ID, std::string_view problem, std::string_view solution,
                      std::string_view seenVersion, TSearchIndex* index) override;
    void DeleteEntry(std::string_view ID, TSearchIndex* index) override;
    void SetWriterName(std::string name) override { fwriter = std::move(name); }
    // Empty on a file without the history table (opened for reading alone, of an earlier version).
    std::vector<TEntryVersion> History(std::string_view ID) override;
    std::vector<TEntryVersion> Deleted() override;
    void Restore(std::string_view ID, int64_t seq, TSearchIndex* index) override;
    THistorySize HistorySize() override;
    uint64_t PruneHistory(int64_t cutoff) override;
    TEntryTexts ReadEntry(std::string_view ID) override;
    bool ForEachEntry(const std::function<void(const TStoredEntry&)>& each,
                      const TProgress& progress) override;
    TImportSummary ImportEntries(TEntrySource& source, const TProgress& progress,
                                 TSearchIndex* index) override;
    std::string Location() const override { return ffile; }

    // The open connection, or null before a successful open (tools and tests).
    TSQLiteDatabase* Database() const { return fDB.get(); }

private:
    // Whether Best match's terms come from the file's terms table for this index.
    bool UsesTerms(const TSearchIndex& index) const;
    // The vector rows of Best match with their terms where the table has them for the text, and
    // the text where not: keys, IDs, types, whether the text exists, terms, text.
    std::string BestRowsSQL(std::string_view where) const;
    void AddBestRows(TSearchIndex& index, std::string_view where);
    // AddBestRows for the vector rows up to rowid top of a file whose triggers keep its terms
    // rows (kb::BestTermsKept): the rows are paired by rowid alone, and no text is read but those
    // of the few rows without terms. False, having added nothing, when too many lack them.
    bool AddKeptBestRows(TSearchIndex& index, int64_t top);
    // A Best match index restored from the file's saved index, with the rows written since up to
    // rowid top; false, the index left empty, when the file has none it can use.
    bool RestoreSaved(TSearchIndex& index, int64_t top);
    // Takes the rows written since a saved index into the index restored from it; false when a
    // row was written in place, under a rowid the image holds.
    bool CatchUpSaved(TSearchIndex& index, const kb::TSavedSince& since, int64_t top);
    // Gives a Best match index the reader of this file's texts.
    void GiveTextReader(TSearchIndex& index);
    int64_t DataVersion();
    int64_t MaxRowid();
    // Indexes the vector rows above rowid `after`, with their texts.
    void AddRowsAfter(TSearchIndex& index, int64_t after);
    // After a write of this connection: the index takes in what it wrote.
    void CatchUpOwnWrite(TSearchIndex* index, std::string_view ID);
    // Once the index is in step: the mark of rows taken in is the file's highest rowid.
    void FollowTopRowid();

    std::string ffile;
    TOpenMode fmode;
    std::unique_ptr<TSQLiteDatabase> fDB;
    bool fopen = false;         // the file is open and has its tables
    bool funiqueKeys = false;   // both tables have the key this program gives them
    bool fhasTerms = false;     // the file has Best match's terms table
    bool ftermsKept = false;    // ... and the triggers that keep its rows in step
    bool fsavedKept = false;    // the file has the saved index's table and triggers
    int64_t fmaxRowid = 0;      // highest vector rowid the index has taken in
    int64_t fdataVersion = -1;  // data_version when the index was last in step; -1: never
    // The index holds what the file does, as a load reads it: loaded, and changed since by this
    // connection's writes alone. A sync takes in others' new and deleted rows but cannot see a
    // text they changed in place, so an index that took in others' writes is not kept.
    bool fexact = false;
    std::string fwriter;        // who writes: the login name unless set
};
