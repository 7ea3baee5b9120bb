// Statements are built by pasting values into their text, exactly as earlier versions wrote
// them, so that files stay interchangeable. Only texts that can hold an apostrophe are quoted.
// Writes of one entry are bracketed by a transaction: a failure part-way leaves no half entry.
#include "knowledgebase.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "port/datadir.h"
#include "port/localformat.h"
#include "port/strconv.h"
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

std::string Quoted(std::string_view s) {
    std::string quoted;
    quoted.reserve(s.size() + 2);
    quoted.append(1, '\'').append(s).append(1, '\'');
    return quoted;
}

}  // namespace

std::string UpdateFontSizeSQL(int32_t size) {
    return "update settings set value='" + std::to_string(size) + "' where ID='FONTSIZE'";
}

std::string InsertTextSQL(std::string_view ID, std::string_view created, std::string_view texttype,
                          std::string_view quotedText) {
    return "insert into textdata values (" + Quoted(ID) + "," + Quoted(created) + ",NULL," +
           Quoted(texttype) + "," + Quoted(quotedText) + ")";
}

std::string InsertVectorSQL(std::string_view ID, std::string_view texttype,
                            std::string_view vectorText) {
    return "insert into vectors values (" + Quoted(ID) + "," + Quoted(texttype) + "," +
           Quoted(vectorText) + ")";
}

std::string SelectDescriptionSQL(std::string_view ID, std::string_view texttype) {
    return "select description from textdata where ID='" + std::string(ID) + "' AND texttype='" +
           std::string(texttype) + "'";
}

std::string DeleteTextsSQL(std::string_view ID) {
    return "Delete from textdata where ID='" + std::string(ID) + "'";
}

std::string DeleteVectorsSQL(std::string_view ID) {
    return "Delete from vectors where ID='" + std::string(ID) + "'";
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
    // settings without its row, which no later start would repair.
    TTransaction transaction(DB);
    if (!DB.TableExists("textdata")) {
        DB.ExecSQL(kCreateTextdata);
        DB.ExecSQL(kCreateVectors);
    }
    if (!DB.TableExists("settings")) {
        DB.ExecSQL(kCreateSettings);
        DB.ExecSQL(kInsertFontSize);
    }
    transaction.Commit();
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

TVectorsMark MarkVectors(TSQLiteDatabase& DB) {
    TVectorsMark mark;
    auto maxRowid = DB.GetTable("select max(rowid) from vectors");
    mark.maxRowid = maxRowid->FieldAsInteger(0);
    auto version = DB.GetTable("PRAGMA data_version");
    mark.dataVersion = version->FieldAsInteger(0);
    return mark;
}

bool UnchangedElsewhere(TSQLiteDatabase& DB, const TVectorsMark& mark) {
    return DB.GetTable("PRAGMA data_version")->FieldAsInteger(0) == mark.dataVersion;
}

std::unique_ptr<TSQLiteTable> LoadVectorsAddedAfter(TSQLiteDatabase& DB, const TVectorsMark& mark) {
    // A full load scans vectors in rowid order; new rows always get rowids above the highest one.
    return DB.GetTable(std::string(kLoadVectors) + " where vectors.rowid>" +
                       std::to_string(mark.maxRowid) + " order by vectors.rowid");
}

std::string SaveEntry(TSQLiteDatabase& DB, std::string_view problem, std::string_view solution) {
    const std::string ID = GuidToID(NewGuid());
    const std::string quotedProblem = DoubleApostrophes(problem);
    const std::string quotedSolution = DoubleApostrophes(solution);
    // Apostrophes separate words, so the doubled texts give the same vectors.
    const std::string problemVector = EncodeCV(quotedProblem)->Text();
    const std::string solutionVector = EncodeCV(quotedSolution)->Text();

    TTransaction transaction(DB);
    // A locale's date format could hold an apostrophe; quoting it keeps the statement sound.
    DB.ExecSQL(InsertTextSQL(ID, DoubleApostrophes(NowAsText()), kProblem, quotedProblem));
    DB.ExecSQL(InsertTextSQL(ID, DoubleApostrophes(NowAsText()), kSolution, quotedSolution));
    DB.ExecSQL(InsertVectorSQL(ID, kProblem, problemVector));
    DB.ExecSQL(InsertVectorSQL(ID, kSolution, solutionVector));
    transaction.Commit();
    return ID;
}

void DeleteEntry(TSQLiteDatabase& DB, std::string_view ID) {
    TTransaction transaction(DB);
    DB.ExecSQL(DeleteTextsSQL(ID));
    DB.ExecSQL(DeleteVectorsSQL(ID));
    transaction.Commit();
}

std::string ReadDescription(TSQLiteDatabase& DB, std::string_view ID, std::string_view texttype) {
    return DB.GetTableString(SelectDescriptionSQL(ID, texttype));
}

}  // namespace kb
