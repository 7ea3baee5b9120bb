// Statements are built by pasting values into their text, exactly as earlier versions wrote
// them, so that files stay interchangeable. Only texts that can hold an apostrophe are quoted.
// Writes of one entry are bracketed by a transaction: a failure part-way leaves no half entry.
#include "core/knowledgebase.h"

#include <cctype>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "core/store/knowledgestore.h"
#include "port/datadir.h"
#include "port/localformat.h"
#include "port/strconv.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/cvvector.h"

namespace kb {
namespace {

// Rolls back unless committed, so that every error path leaves the file as it was.
class TTransaction {
public:
    explicit TTransaction(TSQLiteDatabase& DB) : fDB(DB) { fDB.ExecSQL("BEGIN"); }
    ~TTransaction() {
        if (fopen) {
            try {
                fDB.ExecSQL("ROLLBACK");
            } catch (const std::exception&) {
                // SQLite has already rolled back when the failure ended the transaction.
            }
        }
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit() {
        fDB.ExecSQL("COMMIT");
        fopen = false;
    }

private:
    TSQLiteDatabase& fDB;
    bool fopen = true;
};

// A value as an SQL string literal. Every value is quoted, not only the user's texts: an entry ID
// read from a file written by anything else may hold an apostrophe, which must not end the
// literal. The values this program writes hold none, so their statements stay as they were.
std::string Literal(std::string_view value) {
    std::string literal;
    literal.reserve(value.size() + 2);
    literal += '\'';
    for (char c : value) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    literal += '\'';
    return literal;
}

}  // namespace

std::string UpdateFontSizeSQL(int32_t size) {
    return "update settings set value='" + std::to_string(size) + "' where ID='FONTSIZE'";
}

std::string InsertTextSQL(std::string_view ID, std::string_view created, std::string_view texttype,
                          std::string_view text) {
    return "insert into textdata values (" + Literal(ID) + "," + Literal(created) + ",NULL," +
           Literal(texttype) + "," + Literal(text) + ")";
}

std::string InsertVectorSQL(std::string_view ID, std::string_view texttype,
                            std::string_view vectorText) {
    return "insert into vectors values (" + Literal(ID) + "," + Literal(texttype) + "," +
           Literal(vectorText) + ")";
}

std::string UpdateTextSQL(std::string_view ID, std::string_view texttype, std::string_view text) {
    return "update textdata set description=" + Literal(text) + " where ID=" + Literal(ID) +
           " AND texttype=" + Literal(texttype);
}

std::string InsertVectorAtSQL(int64_t rowid, std::string_view ID, std::string_view texttype,
                              std::string_view vectorText) {
    return "insert into vectors (rowid,ID,texttype,vectordata) values (" + std::to_string(rowid) +
           "," + Literal(ID) + "," + Literal(texttype) + "," + Literal(vectorText) + ")";
}

std::string SelectDescriptionSQL(std::string_view ID, std::string_view texttype) {
    return "select description from textdata where ID=" + Literal(ID) +
           " AND texttype=" + Literal(texttype);
}

std::string DeleteTextsSQL(std::string_view ID) {
    return "Delete from textdata where ID=" + Literal(ID);
}

std::string DeleteVectorsSQL(std::string_view ID) {
    return "Delete from vectors where ID=" + Literal(ID);
}

std::string DoubleApostrophes(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size());
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted;
}

std::string KnowledgeBaseFile(const std::string& dir) {
    if (dir.empty() || dir.back() == '/') return dir + std::string(kFileName);
    return dir + "/" + std::string(kFileName);
}

std::string KnowledgeBaseDirectory() {
    const std::string home = UserDataHome();
    return ChooseDataDirectory(ExecutableDirectory(),
                               home.empty() ? home : home + "/" + std::string(kUserFolder));
}

std::string MakeKnowledgeBaseDirectory() {
    const std::string dir = KnowledgeBaseDirectory();
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

std::string GuidToID(const TGUID& guid) {
    std::string id;
    for (char c : GuidToString(guid)) {
        if (c == '{' || c == '}' || c == '-') continue;
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

void CreateMissingTables(TSQLiteDatabase& DB) {
    // One transaction: a first start cut short must not leave textdata without vectors, or
    // settings without its row. Each table is tested on its own, so that a file that lost one
    // of them (to another program, or to an earlier version's interrupted first start) is
    // repaired instead of failing at every start or every save.
    TTransaction transaction(DB);
    if (!DB.TableExists("textdata")) DB.ExecSQL(kCreateTextdata);
    if (!DB.TableExists("vectors")) {
        DB.ExecSQL(kCreateVectors);
        RebuildVectors(DB);
    }
    if (!DB.TableExists("settings")) {
        DB.ExecSQL(kCreateSettings);
        DB.ExecSQL(kInsertFontSize);
    }
    // Empty: the first load reads the texts and fills it.
    if (!DB.TableExists("bestterms")) {
        DB.ExecSQL(kCreateBestTerms);
        DB.ExecSQL(kCreateBestTermsIndex);
    }
    transaction.Commit();
}

void WriteBestTerms(TSQLiteDatabase& DB, std::string_view ID) {
    if (!DB.TableExists("bestterms")) return;
    DB.ExecSQL("delete from bestterms where ID=" + Literal(ID));
    // As a load pairs them: each vector row with its text row (the first of its key, as the
    // lookup finds it); read as blobs, as loads read them.
    struct TRow {
        int64_t rowid;
        std::string texttype, stored;
    };
    std::vector<TRow> rows;
    {
        TSQLiteCursor cursor(
            DB,
            "select vectors.rowid,vectors.texttype,cast(textdata.description as blob) from "
            "vectors join textdata on textdata.ID=vectors.ID and "
            "textdata.texttype=vectors.texttype where vectors.ID=" +
                Literal(ID) + " order by vectors.rowid,textdata.rowid");
        while (cursor.Next()) {
            if (!rows.empty() && rows.back().rowid == cursor.Integer(0)) continue;
            rows.push_back(TRow{cursor.Integer(0), std::string(cursor.Text(1)),
                                std::string(cursor.Text(2))});
        }
    }
    TTextTerms terms;
    for (const TRow& row : rows) {
        CountTextTerms(ReadWords, Utf8FromStored(row.stored), row.texttype == kProblem, terms);
        // A stale row may hold the rowid: an earlier version's delete freed it for this save.
        DB.ExecSQL("insert or replace into bestterms values (" + std::to_string(row.rowid) + "," +
                   Literal(ID) + "," + Literal(row.texttype) + "," +
                   std::to_string(row.stored.size()) + "," + Literal(EncodeTextTerms(terms)) +
                   ")");
    }
}

void KeepBestTerms(TSQLiteDatabase& DB, const std::vector<TReadTerms>& terms) {
    if (terms.empty() || !DB.TableExists("bestterms")) return;
    TTransaction transaction(DB);
    DB.ExecSQL("delete from bestterms where vectorrow not in (select rowid from vectors)");
    for (const TReadTerms& t : terms)
        DB.ExecSQL("insert or replace into bestterms values (" + std::to_string(t.key) + "," +
                   Literal(t.ID) + "," + Literal(t.texttype) + "," + std::to_string(t.bytes) +
                   "," + Literal(t.terms) + ")");
    transaction.Commit();
}

void RebuildVectors(TSQLiteDatabase& DB) {
    // Read as blobs: a text column reads back only up to a NUL, while the vector a save wrote
    // was made from every byte of the text.
    const auto texts = DB.GetTable(
        "select ID,texttype,cast(coalesce(description,'') as blob) from textdata order by rowid");
    for (int r = 0; r < texts->Count(); ++r) {
        DB.ExecSQL(InsertVectorSQL(texts->CellView(r, 0), texts->CellView(r, 1),
                                   EncodeCV(texts->CellView(r, 2))->Text()));
    }
}

int32_t ReadFontSize(TSQLiteDatabase& DB) {
    // A "0" in front, so that an empty value reads as 0.
    std::string text(1, '0');
    text.append(DB.GetTableString(kSelectFontSize));
    return StrToInt(text);
}

void WriteFontSize(TSQLiteDatabase& DB, int32_t size) {
    DB.ExecSQL(UpdateFontSizeSQL(size));
}

std::unique_ptr<TSQLiteTable> LoadVectors(TSQLiteDatabase& DB) {
    return DB.GetTable(kLoadVectors);
}

std::string WithoutNuls(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (c != '\0') kept += c;
    }
    return kept;
}

std::string SaveEntry(TSQLiteDatabase& DB, std::string_view problem, std::string_view solution) {
    const std::string ID = GuidToID(NewGuid());
    // A NUL would end the statement's text early; it means nothing in a text box, and the vector
    // leaves it out anyway.
    const std::string storedProblem = WithoutNuls(problem);
    const std::string storedSolution = WithoutNuls(solution);
    const std::string problemVector = EncodeCV(storedProblem)->Text();
    const std::string solutionVector = EncodeCV(storedSolution)->Text();

    TTransaction transaction(DB);
    DB.ExecSQL(InsertTextSQL(ID, NowAsText(), kProblem, storedProblem));
    DB.ExecSQL(InsertTextSQL(ID, NowAsText(), kSolution, storedSolution));
    DB.ExecSQL(InsertVectorSQL(ID, kProblem, problemVector));
    DB.ExecSQL(InsertVectorSQL(ID, kSolution, solutionVector));
    WriteBestTerms(DB, ID);
    transaction.Commit();
    return ID;
}

void DeleteEntry(TSQLiteDatabase& DB, std::string_view ID) {
    TTransaction transaction(DB);
    DB.ExecSQL(DeleteTextsSQL(ID));
    DB.ExecSQL(DeleteVectorsSQL(ID));
    WriteBestTerms(DB, ID);
    transaction.Commit();
}

void ReplaceEntry(TSQLiteDatabase& DB, std::string_view ID, std::string_view problem,
                  std::string_view solution) {
    const std::string storedProblem = WithoutNuls(problem);
    const std::string storedSolution = WithoutNuls(solution);
    const std::string problemVector = EncodeCV(storedProblem)->Text();
    const std::string solutionVector = EncodeCV(storedSolution)->Text();

    TTransaction transaction(DB);
    if (DB.GetTable("select 1 from textdata where ID=" + Literal(ID))->Count() == 0) {
        throw EEntryDeleted();
    }
    DB.ExecSQL(UpdateTextSQL(ID, kProblem, storedProblem));
    DB.ExecSQL(UpdateTextSQL(ID, kSolution, storedSolution));
    // The new vectors go above every rowid in use, never into one just freed, so that other
    // programs on the file see the old rows vanish and the new ones arrive.
    const int64_t top =
        DB.GetTable("select coalesce(max(rowid),0) from vectors")->FieldAsInteger(0);
    DB.ExecSQL(DeleteVectorsSQL(ID));
    DB.ExecSQL(InsertVectorAtSQL(top + 1, ID, kProblem, problemVector));
    DB.ExecSQL(InsertVectorAtSQL(top + 2, ID, kSolution, solutionVector));
    WriteBestTerms(DB, ID);
    transaction.Commit();
}

std::string ReadDescription(TSQLiteDatabase& DB, std::string_view ID, std::string_view texttype) {
    return DB.GetTableString(SelectDescriptionSQL(ID, texttype));
}

bool IsKnowledgeBase(TSQLiteDatabase& DB) {
    return DB.TableExists("textdata") && DB.TableExists("vectors");
}

std::vector<std::string> GeneratedColumns(TSQLiteDatabase& DB, const std::string& table) {
    std::vector<std::string> generated;
    const auto columns = DB.GetTable("PRAGMA table_xinfo(" + table + ")");
    for (bool more = columns->MoveFirst(); more && !columns->Eof(); columns->Next()) {
        // hidden: 2 and 3 are generated columns, virtual and stored.
        if (columns->FieldAsInteger(6) >= 2) generated.push_back(columns->FieldAsString(1));
    }
    return generated;
}

namespace {

// Both texts beside each problem text, by the key's index; the solution's own created value.
constexpr std::string_view kEntriesWithProblem =
    "select p.ID,p.created,cast(p.description as blob),s.created,cast(s.description as blob) "
    "from textdata p left join textdata s on s.ID=p.ID and s.texttype='S' "
    "where p.texttype='P' order by p.rowid";
constexpr std::string_view kEntriesWithoutProblem =
    "select s.ID,s.created,cast(s.description as blob) from textdata s where s.texttype='S' "
    "and not exists (select 1 from textdata p where p.ID=s.ID and p.texttype='P') "
    "order by s.rowid";

}  // namespace

TEntryCursor::TEntryCursor(TSQLiteDatabase& DB)
    : fDB(DB), frows(std::make_unique<TSQLiteCursor>(DB, kEntriesWithProblem)) {}

TEntryCursor::~TEntryCursor() = default;

bool TEntryCursor::Next(TStoredEntry& entry) {
    if (!fsolutionsOnly) {
        if (frows->Next()) {
            entry.ID.assign(frows->Text(0));
            entry.created.assign(frows->Text(1));
            entry.problem = WithoutNuls(frows->Text(2));
            entry.solutionCreated.assign(frows->IsNull(3) ? frows->Text(1) : frows->Text(3));
            entry.solution = WithoutNuls(frows->Text(4));
            return true;
        }
        // One cursor at a time: the next takes the connection when the first has let it go.
        frows.reset();
        frows = std::make_unique<TSQLiteCursor>(fDB, kEntriesWithoutProblem);
        fsolutionsOnly = true;
    }
    if (!frows->Next()) return false;
    entry.ID.assign(frows->Text(0));
    entry.created.assign(frows->Text(1));
    entry.solutionCreated = entry.created;
    entry.problem.clear();
    entry.solution = WithoutNuls(frows->Text(2));
    return true;
}

uint64_t CountEntries(TSQLiteDatabase& DB) {
    return static_cast<uint64_t>(
        DB.GetTable("select count(*) from (select distinct ID from textdata)")->FieldAsInteger(0));
}

TImportSummary ImportEntries(TSQLiteDatabase& DB, TEntrySource& source, const TProgress& progress) {
    // Asked this often, the user's Cancel is heard within a fraction of a second.
    constexpr uint64_t kProgressRows = 256;
    TImportSummary summary;
    TTransaction transaction(DB);
    std::unordered_set<std::string> known;
    {
        TSQLiteCursor ids(DB, "select ID from textdata union select ID from vectors");
        while (ids.Next())
            known.emplace(ids.Text(0));
    }
    TStoredEntry entry;
    std::string failure;
    bool goOn = true;
    for (uint64_t rows = 1; goOn && source.Next(entry, failure); ++rows) {
        if (!failure.empty()) {
            summary.Fail(source.Where() + ": " + failure);
            failure.clear();
        } else if (entry.ID.empty()) {
            summary.Fail(source.Where() + ": the entry has no ID");
        } else if (entry.ID.find('\0') != std::string::npos) {
            summary.Fail(source.Where() + ": the entry's ID holds a NUL character");
        } else if (!known.insert(entry.ID).second) {
            ++summary.skipped;
        } else {
            const std::string problem = WithoutNuls(entry.problem);
            const std::string solution = WithoutNuls(entry.solution);
            DB.ExecSQL(InsertTextSQL(entry.ID, entry.created, kProblem, problem));
            DB.ExecSQL(InsertTextSQL(entry.ID, entry.solutionCreated, kSolution, solution));
            DB.ExecSQL(InsertVectorSQL(entry.ID, kProblem, EncodeCV(problem)->Text()));
            DB.ExecSQL(InsertVectorSQL(entry.ID, kSolution, EncodeCV(solution)->Text()));
            WriteBestTerms(DB, entry.ID);
            ++summary.imported;
        }
        if (progress && rows % kProgressRows == 0) goOn = progress(source.Done(), source.Total());
    }
    if (goOn && progress) goOn = progress(source.Done(), source.Total());
    if (!goOn) {
        summary.cancelled = true;
        summary.imported = 0;
        return summary;  // the transaction rolls back
    }
    transaction.Commit();
    return summary;
}

}  // namespace kb
