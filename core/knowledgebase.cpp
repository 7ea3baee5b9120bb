// Statements are built by pasting values into their text, exactly as earlier versions wrote
// them, so that files stay interchangeable. Only texts that can hold an apostrophe are quoted.
// Writes of one entry are bracketed by a transaction: a failure part-way leaves no half entry.
#include "core/knowledgebase.h"

#include <cctype>
#include <ctime>
#include <filesystem>
#include <optional>
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
    // immediate: the write lock from the start, for a write that first reads what it checks.
    explicit TTransaction(TSQLiteDatabase& DB, bool immediate = false) : fDB(DB) {
        fDB.ExecSQL(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
    }
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

namespace {

// The insert of a text with its created value given as SQL (a literal, or NULL).
std::string InsertTextWithSQL(std::string_view ID, const std::string& createdSQL,
                              std::string_view texttype, std::string_view text) {
    return "insert into textdata values (" + Literal(ID) + "," + createdSQL + ",NULL," +
           Literal(texttype) + "," + Literal(text) + ")";
}

}  // namespace

std::string InsertTextSQL(std::string_view ID, std::string_view created, std::string_view texttype,
                          std::string_view text) {
    return InsertTextWithSQL(ID, Literal(created), texttype, text);
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

bool SchemaObjectIs(TSQLiteDatabase& DB, std::string_view type, std::string_view name,
                    std::string_view create) {
    const auto schema = DB.GetTable("select sql from sqlite_master where type=" + Literal(type) +
                                    " and name=" + Literal(name));
    if (schema->Count() != 1) return false;
    const std::string_view stored = schema->CellView(0, 0);
    if (create.ends_with(';')) create.remove_suffix(1);
    const std::string prefix = "create " + std::string(type);
    if (stored.size() != create.size() || !create.starts_with(prefix)) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(stored[i])) != prefix[i]) return false;
    }
    return stored.substr(prefix.size()) == create.substr(prefix.size());
}

std::string_view TriggerName(std::string_view create) {
    constexpr std::string_view kPrefix = "create trigger ";
    create.remove_prefix(kPrefix.size());
    return create.substr(0, create.find(' '));
}

bool IsOwnTrigger(TSQLiteDatabase& DB, std::string_view name) {
    for (const auto* triggers : {&kBestTermsTriggers, &kBestSavedTriggers})
        for (const std::string_view create : *triggers)
            if (TriggerName(create) == name) return SchemaObjectIs(DB, "trigger", name, create);
    return false;
}

namespace {

using TTriggers = std::array<std::string_view, 6>;

// Makes the triggers of the set that are missing, or not as this version makes them: first
// dropping those, then running dropStale (the rows they should have kept may be stale now).
void KeepByTriggers(TSQLiteDatabase& DB, const TTriggers& triggers, std::string_view dropStale) {
    std::vector<std::string_view> missing;
    for (const std::string_view create : triggers) {
        const std::string_view name = TriggerName(create);
        if (SchemaObjectIs(DB, "trigger", name, create)) continue;
        DB.ExecSQL("drop trigger if exists " + std::string(name));
        missing.push_back(create);
    }
    if (missing.empty()) return;
    DB.ExecSQL(dropStale);
    for (const std::string_view create : missing)
        DB.ExecSQL(create);
}

// Whether the file has the table as create makes it, and every trigger of the set.
bool KeptByTriggers(TSQLiteDatabase& DB, std::string_view table, std::string_view create,
                    const TTriggers& triggers) {
    if (!SchemaObjectIs(DB, "table", table, create)) return false;
    for (const std::string_view trigger : triggers)
        if (!SchemaObjectIs(DB, "trigger", TriggerName(trigger), trigger)) return false;
    return true;
}

// Makes the terms table's triggers that are missing. A file whose table went without one of
// them (written by the version before the triggers, or a trigger dropped with its table) may
// hold stale rows: those are dropped first, by the check a load without the triggers makes.
void KeepBestTermsByTriggers(TSQLiteDatabase& DB) {
    KeepByTriggers(
        DB, kBestTermsTriggers,
        "delete from bestterms where not exists (select 1 from vectors v join textdata t on "
        "t.ID=v.ID and t.texttype=v.texttype where v.rowid=bestterms.vectorrow and "
        "v.ID=bestterms.ID and v.texttype=bestterms.texttype and "
        "bestterms.bytes=coalesce(length(cast(t.description as blob)),0))");
}

// Makes the saved index's triggers that are missing. Without one of them the file may have been
// written under an image with nothing noted: it is dropped first.
void KeepBestSavedByTriggers(TSQLiteDatabase& DB) {
    KeepByTriggers(DB, kBestSavedTriggers, "delete from bestsaved");
}

// What the head row of a saved index says.
struct TSavedHead {
    std::string form;
    int64_t top = 0;
    uint64_t bytes = 0;
    std::vector<uint64_t> parts;  // each part's size and checksum
};

std::string WriteHead(const TSavedHead& head) {
    std::string bytes;
    TImageWriter out(size_t{1} << 16, [&](std::string_view part) { bytes.append(part); });
    out.PutString(head.form);
    out.Put(head.top);
    out.Put(head.bytes);
    out.PutVector(head.parts);
    out.Finish();
    return bytes;
}

bool ReadHead(std::string_view bytes, TSavedHead& head) {
    bool given = false;
    TImageReader in(bytes.size(), [&](std::string_view& part) {
        if (given) return false;
        part = bytes;
        return given = true;
    });
    return in.GetString(head.form) && in.Get(head.top) && in.Get(head.bytes) &&
           in.GetVector(head.parts) && in.Left() == 0 && head.parts.size() % 2 == 0;
}

// The head row of the saved index, when the file has one.
std::optional<TSavedHead> SavedHead(TSQLiteDatabase& DB) {
    TSQLiteCursor rows(DB, "select image from bestsaved where part=0");
    TSavedHead head;
    if (!rows.Next() || !ReadHead(rows.Text(0), head)) return std::nullopt;
    return head;
}

// The size of the parts a saved index is written in: small beside the index, so that neither
// writing nor reading holds much more than the index.
constexpr size_t kSavedPartBytes = size_t{4} << 20;

}  // namespace

bool BestSavedKept(TSQLiteDatabase& DB) {
    return SchemaObjectIs(DB, "table", "bestsince", kCreateBestSince) &&
           KeptByTriggers(DB, "bestsaved", kCreateBestSaved, kBestSavedTriggers);
}

bool BestSavedCurrent(TSQLiteDatabase& DB, std::string_view form) {
    const std::optional<TSavedHead> head = SavedHead(DB);
    return head && head->form == form && !DB.GetTable("select 1 from bestsince limit 1")->Count();
}

bool ReadBestSaved(TSQLiteDatabase& DB, std::string_view form,
                   const std::function<bool(TImageReader&)>& restore,
                   const std::function<bool(const TSavedSince&)>& catchUp) {
    // One read transaction: the head, the parts and what was written since are of one moment.
    TTransaction transaction(DB);
    bool restored = false;
    {
        const std::optional<TSavedHead> head = SavedHead(DB);
        if (!head || head->form != form) return false;
        TSQLiteCursor rows(DB, "select part,image from bestsaved where part>0 order by part");
        size_t next = 0;
        TImageReader in(head->bytes, [&](std::string_view& part) {
            if (2 * next >= head->parts.size() || !rows.Next() ||
                rows.Integer(0) != static_cast<int64_t>(next + 1))
                return false;
            part = rows.Text(1);
            if (part.size() != head->parts[2 * next] ||
                ImageChecksum(part) != head->parts[2 * next + 1])
                return false;
            ++next;
            return true;
        });
        restored = restore(in) && in.Ok() && in.Left() == 0;
        if (restored) {
            TSavedSince since{head->top, {}};
            TSQLiteCursor keys(DB, "select ID,texttype from bestsince");
            while (keys.Next())
                since.keys.emplace_back(keys.Text(0), keys.Text(1));
            restored = catchUp(since);
        }
    }
    transaction.Commit();
    return restored;
}

void WriteBestSaved(TSQLiteDatabase& DB, std::string_view form, int64_t top,
                    const std::function<bool()>& inStep,
                    const std::function<bool(TImageWriter&)>& save) {
    TTransaction transaction(DB, true);
    if (!inStep()) return;
    DB.ExecSQL("delete from bestsaved");
    DB.ExecSQL("delete from bestsince");
    TSavedHead head{std::string(form), top, 0, {}};
    int64_t part = 0;
    TImageWriter out(kSavedPartBytes, [&](std::string_view bytes) {
        DB.ExecSQL("insert into bestsaved values (" + std::to_string(++part) + ",?1)", bytes);
        head.parts.push_back(bytes.size());
        head.parts.push_back(ImageChecksum(bytes));
    });
    if (!save(out)) return;
    out.Finish();
    head.bytes = out.Size();
    DB.ExecSQL("insert into bestsaved values (0,?1)", WriteHead(head));
    transaction.Commit();
}

bool BestTermsKept(TSQLiteDatabase& DB) {
    return KeptByTriggers(DB, "bestterms", kCreateBestTerms, kBestTermsTriggers);
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
    if (!DB.TableExists("history")) {
        DB.ExecSQL(kCreateHistory);
        DB.ExecSQL(kCreateHistoryIndex);
    }
    // Empty: the first load reads the texts and fills it.
    if (!DB.TableExists("bestterms")) {
        DB.ExecSQL(kCreateBestTerms);
        DB.ExecSQL(kCreateBestTermsIndex);
    }
    if (SchemaObjectIs(DB, "table", "bestterms", kCreateBestTerms)) KeepBestTermsByTriggers(DB);
    if (!DB.TableExists("bestsaved")) DB.ExecSQL(kCreateBestSaved);
    if (!DB.TableExists("bestsince")) DB.ExecSQL(kCreateBestSince);
    // The triggers write into bestsince: made only when it is as this version makes it.
    if (SchemaObjectIs(DB, "table", "bestsaved", kCreateBestSaved) &&
        SchemaObjectIs(DB, "table", "bestsince", kCreateBestSince))
        KeepBestSavedByTriggers(DB);
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

namespace {

// Seconds since 1970, UTC: when a history row was written.
int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// NULL for no name, so that "who" stays unknown rather than empty.
std::string NameLiteral(std::string_view who) {
    return who.empty() ? std::string("NULL") : Literal(who);
}

// Who saved the entry, and when: a row of its own in the history, so that the entry's rows stay
// as the save statements write them (credited NULL).
void RecordSave(TSQLiteDatabase& DB, std::string_view ID, std::string_view who) {
    if (!DB.TableExists("history")) return;
    DB.ExecSQL("insert into history (ID,event,at,who) values (" + Literal(ID) + ",'S'," +
               std::to_string(Now()) + "," + NameLiteral(who) + ")");
}

// The newest save, edit or restore of an entry: when and by whom its stored texts were written.
std::string LastWriteSQL(std::string_view column, const std::string& ID) {
    return "(select " + std::string(column) + " from history where ID=" + ID +
           " and event in ('S','E','R') order by seq desc limit 1)";
}

// Keeps the entry's stored texts in the history as replaced by event, with who wrote them (the
// newest save, edit or restore recorded). Copied inside the file, byte for byte.
void KeepVersion(TSQLiteDatabase& DB, std::string_view ID, char event, std::string_view who) {
    const std::string id = Literal(ID);
    auto text = [&](std::string_view column, std::string_view type) {
        return "(select " + std::string(column) + " from textdata where ID=" + id +
               " and texttype=" + Literal(type) + ")";
    };
    DB.ExecSQL(
        "insert into history (ID,event,at,who,created,problem,solcreated,solution,writtenat,"
        "writtenby) select " +
        id + ",'" + std::string(1, event) + "'," + std::to_string(Now()) + "," +
        NameLiteral(who) + "," + text("created", kProblem) + ",coalesce(" +
        text("description", kProblem) + ",'')," + text("created", kSolution) + ",coalesce(" +
        text("description", kSolution) + ",'')," + LastWriteSQL("at", id) + "," +
        LastWriteSQL("who", id));
}

// The texts of an entry read as ReadEntry reads them; false when either is missing.
bool ReadTexts(TSQLiteDatabase& DB, std::string_view ID, std::string& problem,
               std::string& solution) {
    for (auto [type, text] : {std::pair{kProblem, &problem}, std::pair{kSolution, &solution}}) {
        const auto rows = DB.GetTable(SelectDescriptionSQL(ID, type));
        if (rows->Count() == 0) return false;
        *text = rows->FieldAsString(0);
    }
    return true;
}

// New texts and vectors for a stored entry, its created values kept. The new vectors go above
// every rowid in use, never into one just freed, so that other programs on the file see the old
// rows vanish and the new ones arrive.
void WriteTexts(TSQLiteDatabase& DB, std::string_view ID, const std::string& problem,
                const std::string& solution) {
    const std::string problemVector = EncodeCV(problem)->Text();
    const std::string solutionVector = EncodeCV(solution)->Text();
    DB.ExecSQL(UpdateTextSQL(ID, kProblem, problem));
    DB.ExecSQL(UpdateTextSQL(ID, kSolution, solution));
    const int64_t top =
        DB.GetTable("select coalesce(max(rowid),0) from vectors")->FieldAsInteger(0);
    DB.ExecSQL(DeleteVectorsSQL(ID));
    DB.ExecSQL(InsertVectorAtSQL(top + 1, ID, kProblem, problemVector));
    DB.ExecSQL(InsertVectorAtSQL(top + 2, ID, kSolution, solutionVector));
}

bool IsStored(TSQLiteDatabase& DB, std::string_view ID) {
    return DB.GetTable("select 1 from textdata where ID=" + Literal(ID) + " limit 1")->Count() > 0;
}

}  // namespace

std::string SaveEntry(TSQLiteDatabase& DB, std::string_view problem, std::string_view solution,
                      std::string_view who) {
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
    RecordSave(DB, ID, who);
    WriteBestTerms(DB, ID);
    transaction.Commit();
    return ID;
}

void DeleteEntry(TSQLiteDatabase& DB, std::string_view ID, std::string_view who) {
    TTransaction transaction(DB, true);
    if (DB.TableExists("history") && IsStored(DB, ID)) KeepVersion(DB, ID, 'D', who);
    DB.ExecSQL(DeleteTextsSQL(ID));
    DB.ExecSQL(DeleteVectorsSQL(ID));
    WriteBestTerms(DB, ID);
    transaction.Commit();
}

void ReplaceEntry(TSQLiteDatabase& DB, std::string_view ID, std::string_view problem,
                  std::string_view solution, std::string_view seenVersion, std::string_view who) {
    const std::string storedProblem = WithoutNuls(problem);
    const std::string storedSolution = WithoutNuls(solution);

    TTransaction transaction(DB, true);
    if (!IsStored(DB, ID)) throw EEntryDeleted();
    if (!seenVersion.empty()) {
        std::string p, s;
        if (!ReadTexts(DB, ID, p, s)) throw EEntryDeleted();
        if (EntryVersion(p, s) != seenVersion) throw EEditConflict(ReadEntry(DB, ID));
    }
    if (DB.TableExists("history")) KeepVersion(DB, ID, 'E', who);
    WriteTexts(DB, ID, storedProblem, storedSolution);
    WriteBestTerms(DB, ID);
    transaction.Commit();
}

TEntryTexts ReadEntry(TSQLiteDatabase& DB, std::string_view ID) {
    TEntryTexts texts;
    if (!ReadTexts(DB, ID, texts.problem, texts.solution)) throw EEntryDeleted();
    texts.version = EntryVersion(texts.problem, texts.solution);
    texts.created = DB.GetTableString("select coalesce(created,'') from textdata where ID=" +
                                      Literal(ID) + " order by texttype limit 1");
    if (DB.TableExists("history")) {
        TSQLiteCursor saved(DB, "select coalesce(who,'') from history where ID=" + Literal(ID) +
                                    " and event='S' order by seq limit 1");
        if (saved.Next()) texts.savedBy.assign(saved.Text(0));
        TSQLiteCursor changed(DB, "select at,coalesce(who,'') from history where ID=" +
                                      Literal(ID) +
                                      " and event in ('E','R') order by seq desc limit 1");
        if (changed.Next()) {
            texts.changedAt = changed.Integer(0);
            texts.changedBy.assign(changed.Text(1));
        }
    }
    return texts;
}

namespace {

// The columns of a version, in the order VersionAt reads them.
constexpr std::string_view kVersionColumns =
    "h.seq,h.event,h.at,coalesce(h.who,''),coalesce(h.writtenat,0),coalesce(h.writtenby,''),"
    "h.ID,coalesce(h.created,''),coalesce(h.solcreated,h.created,''),"
    "cast(h.problem as blob),cast(h.solution as blob)";

std::vector<TEntryVersion> Versions(TSQLiteDatabase& DB, const std::string& where) {
    std::vector<TEntryVersion> versions;
    if (!DB.TableExists("history")) return versions;
    TSQLiteCursor rows(DB, "select " + std::string(kVersionColumns) + " from history h where " +
                               where + " order by h.seq desc");
    while (rows.Next()) {
        TEntryVersion v;
        v.seq = rows.Integer(0);
        v.event = rows.Text(1).empty() ? 'E' : rows.Text(1)[0];
        v.at = rows.Integer(2);
        v.who.assign(rows.Text(3));
        v.writtenAt = rows.Integer(4);
        v.writtenBy.assign(rows.Text(5));
        v.entry.ID.assign(rows.Text(6));
        v.entry.created.assign(rows.Text(7));
        v.entry.solutionCreated.assign(rows.Text(8));
        v.entry.problem.assign(rows.Text(9));
        v.entry.solution.assign(rows.Text(10));
        versions.push_back(std::move(v));
    }
    return versions;
}

// Rows that hold texts: edits and deletes not pruned.
constexpr std::string_view kHasTexts = "h.problem is not null";
// The newest row of each entry deleted and not back.
constexpr std::string_view kDeletedRows =
    "h.event='D' and h.seq=(select max(seq) from history where ID=h.ID) and "
    "not exists (select 1 from textdata where ID=h.ID)";

}  // namespace

std::vector<TEntryVersion> History(TSQLiteDatabase& DB, std::string_view ID) {
    return Versions(DB, "h.ID=" + Literal(ID) + " and " + std::string(kHasTexts));
}

std::vector<TEntryVersion> Deleted(TSQLiteDatabase& DB) {
    return Versions(DB, std::string(kDeletedRows));
}

void Restore(TSQLiteDatabase& DB, std::string_view ID, int64_t seq, std::string_view who) {
    TTransaction transaction(DB, true);
    const std::string id = Literal(ID);
    std::vector<TEntryVersion> found;
    if (DB.TableExists("history")) {
        // Newest first: the first is the one asked for.
        found = Versions(DB, "h.ID=" + id + " and " + std::string(kHasTexts) +
                                 (seq > 0 ? " and h.seq=" + std::to_string(seq) : ""));
    }
    if (found.empty()) {
        throw Exception(seq > 0 ? "Entry " + std::string(ID) + " has no version " +
                                      std::to_string(seq) + " in its history"
                                : "No earlier version of entry " + std::string(ID) + " is kept");
    }
    const TStoredEntry& version = found.front().entry;
    if (IsStored(DB, ID)) {
        // An edit back to that version, which keeps the current texts in turn.
        KeepVersion(DB, ID, 'E', who);
        WriteTexts(DB, ID, version.problem, version.solution);
    } else {
        // Back under its own ID, as its save wrote it (who saved it is still in the history).
        DB.ExecSQL(InsertTextSQL(ID, version.created, kProblem, version.problem));
        DB.ExecSQL(InsertTextSQL(ID, version.solutionCreated, kSolution, version.solution));
        const int64_t top =
            DB.GetTable("select coalesce(max(rowid),0) from vectors")->FieldAsInteger(0);
        DB.ExecSQL(InsertVectorAtSQL(top + 1, ID, kProblem, EncodeCV(version.problem)->Text()));
        DB.ExecSQL(InsertVectorAtSQL(top + 2, ID, kSolution, EncodeCV(version.solution)->Text()));
        DB.ExecSQL("insert into history (ID,event,at,who) values (" + id + ",'R'," +
                   std::to_string(Now()) + "," + NameLiteral(who) + ")");
    }
    WriteBestTerms(DB, ID);
    transaction.Commit();
}

THistorySize HistorySize(TSQLiteDatabase& DB) {
    THistorySize size;
    if (!DB.TableExists("history")) return size;
    const auto kept = DB.GetTable(
        "select count(*),coalesce(sum(length(cast(problem as blob))+"
        "length(cast(solution as blob))),0) from history h where " +
        std::string(kHasTexts));
    size.versions = static_cast<uint64_t>(kept->FieldAsInteger(0));
    size.bytes = static_cast<uint64_t>(kept->FieldAsInteger(1));
    size.deleted = static_cast<uint64_t>(
        DB.GetTable("select count(*) from history h where " + std::string(kDeletedRows))
            ->FieldAsInteger(0));
    return size;
}

uint64_t PruneHistory(TSQLiteDatabase& DB, int64_t cutoff) {
    if (!DB.TableExists("history")) return 0;
    TTransaction transaction(DB, true);
    const std::string before = "h.at<" + std::to_string(cutoff);
    // The newest edit or restore of a live entry says when it last changed: its texts go, the
    // row stays; so does the row of its save, which says who saved it.
    const std::string lastWrite =
        "exists (select 1 from textdata where ID=h.ID) and (h.event='S' or (h.event in "
        "('E','R') and h.seq=(select max(seq) from history where ID=h.ID and event in "
        "('E','R'))))";
    const uint64_t versions = static_cast<uint64_t>(
        DB.GetTable("select count(*) from history h where " + before + " and " +
                    std::string(kHasTexts))
            ->FieldAsInteger(0));
    DB.ExecSQL("update history set created=NULL,problem=NULL,solcreated=NULL,solution=NULL "
               "where seq in (select h.seq from history h where " +
               before + " and " + lastWrite + ")");
    DB.ExecSQL("delete from history where seq in (select h.seq from history h where " + before +
               " and not (" + lastWrite + "))");
    transaction.Commit();
    return versions;
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

// The length in bytes of a text column, which SQLite tells for a blob without reading it.
std::string LengthOf(const std::string& column) {
    return "(case when typeof(" + column + ")='blob' then length(" + column +
           ") else length(cast(" + column + " as blob)) end)";
}

// The column's bytes when they are within the limit, NULL otherwise.
std::string LimitedText(const std::string& column) {
    return "case when " + LengthOf(column) + "<=" + std::to_string(kMaxImportedText) +
           " then cast(" + column + " as blob) end";
}

// The entry queries with the limit: the same columns, then the texts' lengths and whether the
// solution's row is there.
std::string LimitedEntriesWithProblem() {
    return "select p.ID,p.created," + LimitedText("p.description") + ",s.created," +
           LimitedText("s.description") + "," + LengthOf("p.description") + "," +
           LengthOf("s.description") +
           ",s.ID is not null from textdata p left join textdata s on s.ID=p.ID and "
           "s.texttype='S' where p.texttype='P' order by p.rowid";
}
std::string LimitedEntriesWithoutProblem() {
    return "select s.ID,s.created," + LimitedText("s.description") + "," +
           LengthOf("s.description") +
           " from textdata s where s.texttype='S' and not exists (select 1 from textdata p "
           "where p.ID=s.ID and p.texttype='P') order by s.rowid";
}

}  // namespace

TEntryCursor::TEntryCursor(TSQLiteDatabase& DB, bool limited)
    : fDB(DB),
      frows(std::make_unique<TSQLiteCursor>(
          DB, limited ? LimitedEntriesWithProblem() : std::string(kEntriesWithProblem))),
      flimited(limited) {}

TEntryCursor::~TEntryCursor() = default;

bool TEntryCursor::Next(TStoredEntry& entry) {
    foverlong = {};
    if (!fsolutionsOnly) {
        if (frows->Next()) {
            entry.ID.assign(frows->Text(0));
            entry.created.assign(frows->Text(1));
            entry.createdNull = frows->IsNull(1);
            entry.problem = WithoutNuls(frows->Text(2));
            // Without a solution row (or, unlimited, its created value) the solution takes the
            // problem's created value.
            const bool own = flimited ? frows->Integer(7) != 0 : !frows->IsNull(3);
            entry.solutionCreated.assign(own ? frows->Text(3) : frows->Text(1));
            entry.solutionCreatedNull = own ? frows->IsNull(3) : entry.createdNull;
            entry.solution = WithoutNuls(frows->Text(4));
            if (flimited) {
                // A length with no text: the text is over the limit.
                if (!frows->IsNull(5) && frows->IsNull(2)) {
                    foverlong = "problem text";
                } else if (!frows->IsNull(6) && frows->IsNull(4)) {
                    foverlong = "solution text";
                }
            }
            return true;
        }
        // One cursor at a time: the next takes the connection when the first has let it go.
        frows.reset();
        frows = std::make_unique<TSQLiteCursor>(
            fDB, flimited ? LimitedEntriesWithoutProblem() : std::string(kEntriesWithoutProblem));
        fsolutionsOnly = true;
    }
    if (!frows->Next()) return false;
    entry.ID.assign(frows->Text(0));
    entry.created.assign(frows->Text(1));
    entry.createdNull = frows->IsNull(1);
    entry.solutionCreated = entry.created;
    entry.solutionCreatedNull = entry.createdNull;
    entry.problem.clear();
    entry.solution = WithoutNuls(frows->Text(2));
    if (flimited && !frows->IsNull(3) && frows->IsNull(2)) foverlong = "solution text";
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
            // A created value the source holds as NULL stays NULL.
            DB.ExecSQL(InsertTextWithSQL(
                entry.ID, entry.createdNull ? "NULL" : Literal(entry.created), kProblem, problem));
            DB.ExecSQL(InsertTextWithSQL(
                entry.ID, entry.solutionCreatedNull ? "NULL" : Literal(entry.solutionCreated),
                kSolution, solution));
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
