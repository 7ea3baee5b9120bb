// The knowledge base: one SQLite file holding every entry (a problem text and a solution text
// under one entry ID, each with its stored term vector) and the settings. The file lies beside
// the program, or in the user's data folder when the program is installed. This module owns the
// file's name and place, its schema, every statement the program issues, and the operations
// that write entries. It holds no state: callers own the open TSQLiteDatabase.
//
// Thread safety: the functions use only their arguments (the place: the environment and the
// file system). The program writes through the file's store (sqlitestore.h) while the engine's
// data lock is held, so that a search pass never walks vectors that are being replaced; reads
// may run on any thread (the connection is serialized).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/entryhistory.h"
#include "core/bestsearch.h"
#include "core/store/knowledgestore.h"
#include "port/guid.h"
#include "sqlite/sqlitedb.h"

namespace kb {

inline constexpr std::string_view kFileName = "pelloquin.dat";

inline constexpr std::string_view kCreateTextdata =
    "create table textdata (ID varchar(40) not null,created datetime, credited "
    "varchar(255),texttype char(1) not null, description text, primary key (ID,texttype))";
inline constexpr std::string_view kCreateVectors =
    "create table vectors  (ID varchar(40) not null,texttype char(1) not null, vectordata text, "
    "primary key (ID,texttype))";
inline constexpr std::string_view kCreateSettings =
    "create table settings (ID varchar(40) not null,value varchar(40) not null);";
// The earlier versions of entries (entryhistory.h); made by the first opening that may write.
inline constexpr std::string_view kCreateHistory =
    "create table history (seq integer primary key,ID varchar(40) not null,event char(1) not "
    "null,at integer not null,who varchar(255),created datetime,problem text,solcreated "
    "datetime,solution text,writtenat integer,writtenby varchar(255))";
inline constexpr std::string_view kCreateHistoryIndex =
    "create index history_entry on history (ID,seq)";
inline constexpr std::string_view kInsertFontSize = "insert into settings values ('FONTSIZE','10')";
inline constexpr std::string_view kSelectFontSize =
    "select value from settings where ID='FONTSIZE'";
inline constexpr std::string_view kLoadVectors =
    "select vectors.ID,vectors.texttype,vectordata from vectors  left join textdata on "
    "textdata.ID=vectors.ID and textdata.texttype=vectors.texttype";

// Best match's terms of each stored text (bestmatchindex.h, TTextTerms), so that loading needs
// no word reader. Earlier versions do not know the table and may change texts beside it: a row
// belongs to the text whose vector row has its rowid (every edit gives the vectors new rowids
// above all in use) and has its entry ID, text type and size in bytes; any other row is stale.
inline constexpr std::string_view kCreateBestTerms =
    "create table bestterms (vectorrow integer primary key, ID varchar(40) not null, "
    "texttype char(1) not null, bytes integer not null, terms text not null)";
inline constexpr std::string_view kCreateBestTermsIndex =
    "create index bestterms_ID on bestterms (ID)";
// Whatever writes a text or a vector row, an earlier version or another program too, drops the
// terms rows it makes stale, so that a file that has all of these needs no check of its rows
// against the texts (see BestTermsKept). This version writes the terms after the rows.
inline constexpr std::array<std::string_view, 6> kBestTermsTriggers = {
    "create trigger bestterms_text_added after insert on textdata begin delete from bestterms "
    "where ID=new.ID and texttype=new.texttype; end",
    "create trigger bestterms_text_changed after update on textdata begin delete from bestterms "
    "where (ID=old.ID and texttype=old.texttype) or (ID=new.ID and texttype=new.texttype); end",
    "create trigger bestterms_text_gone after delete on textdata begin delete from bestterms "
    "where ID=old.ID and texttype=old.texttype; end",
    "create trigger bestterms_vector_added after insert on vectors begin delete from bestterms "
    "where vectorrow=new.rowid; end",
    "create trigger bestterms_vector_changed after update on vectors begin delete from bestterms "
    "where vectorrow in (old.rowid,new.rowid); end",
    "create trigger bestterms_vector_gone after delete on vectors begin delete from bestterms "
    "where vectorrow=old.rowid; end",
};

// Best match's index as a program last held it, so that the next start reads one image instead of
// every text's terms: in parts (rows 1, 2, ...), named by a head row (row 0) that says which
// index form and rowids it is of, the parts' sizes and checksums. Whatever writes a text or a
// vector row under a head (an earlier version too) notes the key it wrote in bestsince with the
// triggers below, so a start reads the image and then those keys' rows, and a head with no key
// noted is of the texts as they are now. A program writes one as it closes when there is none.
inline constexpr std::string_view kCreateBestSaved =
    "create table bestsaved (part integer primary key, image blob not null)";
inline constexpr std::string_view kCreateBestSince =
    "create table bestsince (ID varchar(40) not null, texttype char(1) not null, "
    "primary key (ID, texttype))";
inline constexpr std::array<std::string_view, 6> kBestSavedTriggers = {
    "create trigger bestsaved_text_added after insert on textdata when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (new.ID,new.texttype); "
    "end",
    "create trigger bestsaved_text_changed after update on textdata when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (old.ID,old.texttype); "
    "insert or ignore into bestsince values (new.ID,new.texttype); end",
    "create trigger bestsaved_text_gone after delete on textdata when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (old.ID,old.texttype); "
    "end",
    "create trigger bestsaved_vector_added after insert on vectors when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (new.ID,new.texttype); "
    "end",
    "create trigger bestsaved_vector_changed after update on vectors when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (old.ID,old.texttype); "
    "insert or ignore into bestsince values (new.ID,new.texttype); end",
    "create trigger bestsaved_vector_gone after delete on vectors when exists (select 1 from "
    "bestsaved where part=0) begin insert or ignore into bestsince values (old.ID,old.texttype); "
    "end",
};

// Text types of the two texts of an entry.
inline constexpr std::string_view kProblem = "P";
inline constexpr std::string_view kSolution = "S";

std::string UpdateFontSizeSQL(int32_t size);
// Statements with their values pasted in as SQL string literals (apostrophes doubled).
std::string InsertTextSQL(std::string_view ID, std::string_view created, std::string_view texttype,
                          std::string_view text);
std::string InsertVectorSQL(std::string_view ID, std::string_view texttype,
                            std::string_view vectorText);
std::string SelectDescriptionSQL(std::string_view ID, std::string_view texttype);
std::string UpdateTextSQL(std::string_view ID, std::string_view texttype, std::string_view text);
std::string InsertVectorAtSQL(int64_t rowid, std::string_view ID, std::string_view texttype,
                              std::string_view vectorText);
std::string DeleteTextsSQL(std::string_view ID);
std::string DeleteVectorsSQL(std::string_view ID);

// Every apostrophe doubled, for pasting a user's text into an SQL string literal.
std::string DoubleApostrophes(std::string_view text);

// The knowledge base file in directory dir ("" or with or without a trailing '/').
std::string KnowledgeBaseFile(const std::string& dir);

// The folder in the user's data folder that holds an installed program's knowledge base.
inline constexpr std::string_view kUserFolder = "Pelloquin";
// The folder whose knowledge base the program opens: the program's own folder when it may
// write there, otherwise kUserFolder in the user's data folder (see port/datadir.h). Reads the
// environment and the file system; changes nothing.
std::string KnowledgeBaseDirectory();
// KnowledgeBaseDirectory(), made with its parents when missing, as the program needs at start.
// A folder that cannot be made is left to the opening of the file to report.
std::string MakeKnowledgeBaseDirectory();

// 32 lower-case hexadecimal digits of the GUID's text form, without braces or hyphens.
std::string GuidToID(const TGUID& guid);

// Creates the tables that the open file lacks, each on its own: settings with its FONTSIZE row,
// vectors with the vector of every stored text, and the history with its index; all in one
// transaction, so that nothing half-made stays.
void CreateMissingTables(TSQLiteDatabase& DB);
// Replaces the terms rows of the entry by those of its texts as stored now (none once it is
// deleted); every write of an entry calls it inside its transaction. Nothing when the file has no
// terms table (opened by nothing that may write since it was made).
void WriteBestTerms(TSQLiteDatabase& DB, std::string_view ID);
// Whether the file has the terms table and every trigger that keeps it (kBestTermsTriggers), as
// this version makes them: then every terms row whose vector row has its rowid, entry ID and text
// type belongs to that row's text as stored now.
bool BestTermsKept(TSQLiteDatabase& DB);
// Whether the schema object of that type and name was made by the create statement given
// (SQLite keeps a statement as written but for its first two words, which it upper-cases).
bool SchemaObjectIs(TSQLiteDatabase& DB, std::string_view type, std::string_view name,
                    std::string_view create);
// The name a trigger's create statement (one of kBestTermsTriggers) gives it.
std::string_view TriggerName(std::string_view create);
// Whether the file's trigger of that name is one of kBestTermsTriggers or kBestSavedTriggers, as
// this version makes it.
bool IsOwnTrigger(TSQLiteDatabase& DB, std::string_view name);
// Whether the file has the saved index's tables and every trigger that notes what was written
// since it.
bool BestSavedKept(TSQLiteDatabase& DB);
// What was written since a saved index: the highest rowid of the vector rows it is of, and the
// keys (ID, text type) of every text and vector row written since, by any writer.
struct TSavedSince {
    int64_t top = 0;
    std::vector<std::pair<std::string, std::string>> keys;
};
// The saved index of the given form (the index's version and this machine's), when the file has
// one: in one read transaction, calls restore once with a reader of its parts, which checks their
// checksums as it goes, then catchUp with what was written since, to read it in the same
// transaction. False when there is none, or either said false.
bool ReadBestSaved(TSQLiteDatabase& DB, std::string_view form,
                   const std::function<bool(TImageReader&)>& restore,
                   const std::function<bool(const TSavedSince&)>& catchUp);
// Whether the file has a saved index of the form with nothing written since.
bool BestSavedCurrent(TSQLiteDatabase& DB, std::string_view form);
// Replaces the saved index by what save writes, of the vector rows up to rowid top, in one
// transaction that holds the write lock from its start; nothing is written when inStep, asked
// once the lock is held, says the index no longer is of the file as it is, or save says false.
void WriteBestSaved(TSQLiteDatabase& DB, std::string_view form, int64_t top,
                    const std::function<bool()>& inStep,
                    const std::function<bool(TImageWriter&)>& save);
// Writes the terms read from texts that had none (or only stale ones) in one transaction, and
// drops the rows of vector rows that are gone.
void KeepBestTerms(TSQLiteDatabase& DB, const std::vector<TReadTerms>& terms);
// Inserts the vector of every stored text, as saving it would have. REQUIRES: vectors empty.
void RebuildVectors(TSQLiteDatabase& DB);

// The text with its NUL characters left out, as entries are stored.
std::string WithoutNuls(std::string_view text);

// The stored text size. Raises when the row is missing or its value is not a whole number.
int32_t ReadFontSize(TSQLiteDatabase& DB);
void WriteFontSize(TSQLiteDatabase& DB, int32_t size);

// Every stored term vector: columns entry ID, text type, vector text.
std::unique_ptr<TSQLiteTable> LoadVectors(TSQLiteDatabase& DB);

// who, in the writes below: the writer's name, recorded in the history ("" records none); the
// entry's own rows never hold it (credited stays NULL, as the save statements write it).
//
// Stores one entry (its two texts without NULs, and their term vectors) in one transaction and
// returns its new ID; on failure nothing of the entry stays and the error propagates. Who saved
// it, and when, goes into a history row of its own.
std::string SaveEntry(TSQLiteDatabase& DB, std::string_view problem, std::string_view solution,
                      std::string_view who = {});

// Replaces the two texts of an entry and their vectors in one transaction, keeping its ID and
// created value; texts are stored as SaveEntry stores them. The new vector rows get rowids above
// every one in use. Raises EEntryDeleted when the entry has no text, and EEditConflict, writing
// nothing, when seenVersion is given and the stored texts are another version; the transaction
// holds the write lock from its start, so no other writer comes between the check and the write.
// The texts replaced go into the history, when the file has one.
void ReplaceEntry(TSQLiteDatabase& DB, std::string_view ID, std::string_view problem,
                  std::string_view solution, std::string_view seenVersion = {},
                  std::string_view who = {});

// Removes the two texts and the two vectors of an entry, in one transaction; the texts go into
// the history, when the file has one.
void DeleteEntry(TSQLiteDatabase& DB, std::string_view ID, std::string_view who = {});

// The entry's texts with their version, and who and when as far as the file records it. Raises
// EEntryDeleted when either text is missing.
TEntryTexts ReadEntry(TSQLiteDatabase& DB, std::string_view ID);

// The history (see TKnowledgeStore); a file without the history table has an empty one.
std::vector<TEntryVersion> History(TSQLiteDatabase& DB, std::string_view ID);
std::vector<TEntryVersion> Deleted(TSQLiteDatabase& DB);
void Restore(TSQLiteDatabase& DB, std::string_view ID, int64_t seq, std::string_view who = {});
THistorySize HistorySize(TSQLiteDatabase& DB);
uint64_t PruneHistory(TSQLiteDatabase& DB, int64_t cutoff);

// The stored text of one entry's problem or solution; raises when there is none.
std::string ReadDescription(TSQLiteDatabase& DB, std::string_view ID, std::string_view texttype);

// Whether the open file holds the tables of entries (textdata and vectors); settings, which the
// program makes when it is missing, is not asked for.
bool IsKnowledgeBase(TSQLiteDatabase& DB);
// The generated columns of a table (the program makes none; a file from elsewhere may compute
// any value there when it is read).
std::vector<std::string> GeneratedColumns(TSQLiteDatabase& DB, const std::string& table);

// A file that exists but holds no knowledge base.
class ENotAKnowledgeBase : public Exception {
public:
    explicit ENotAKnowledgeBase(const std::string& file)
        : Exception(file + " is not a knowledge base: it has no tables of entries") {}
};

// Every entry of a knowledge base, one at a time: each ID with a problem text, in the order the
// problem texts were saved, then each ID with only a solution text. Texts are read whole and
// without their NUL characters (which no save writes), so they are exactly what a save of them
// stores. A NULL created value is told by the entry's flags. Holds the connection while it lives
// (see TSQLiteCursor).
class TEntryCursor {
public:
    // With limited, a text longer than kMaxImportedText bytes is not read at all (its length is
    // asked first, which SQLite answers for a blob without reading it): the entry comes with that
    // text empty and Overlong() naming it.
    explicit TEntryCursor(TSQLiteDatabase& DB, bool limited = false);
    ~TEntryCursor();
    TEntryCursor(const TEntryCursor&) = delete;
    TEntryCursor& operator=(const TEntryCursor&) = delete;

    // The next entry; false after the last.
    bool Next(TStoredEntry& entry);
    // "problem text" or "solution text" when the last entry's text was over the limit, else "".
    std::string_view Overlong() const { return foverlong; }

private:
    TSQLiteDatabase& fDB;
    std::unique_ptr<TSQLiteCursor> frows;
    bool flimited;
    bool fsolutionsOnly = false;  // reading the entries without a problem text
    std::string_view foverlong;
};

// The number of distinct entry IDs among the stored texts.
uint64_t CountEntries(TSQLiteDatabase& DB);

// Stores the entries of source (see TKnowledgeStore::ImportEntries) with the insert statements of
// a save: texts without NULs, their term vectors made from the stored texts, the created values
// given. IDs that are stored already (in either table) are skipped, as are IDs that repeat in the
// source; an empty ID, or one holding a NUL, fails its row. progress is asked every few hundred
// rows and at the end.
TImportSummary ImportEntries(TSQLiteDatabase& DB, TEntrySource& source, const TProgress& progress);

}  // namespace kb
