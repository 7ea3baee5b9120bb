// How the layer works. The database opens one connection in serialized mode and runs every
// statement through a prepared statement that is finalised on every path. Each statement, from
// prepare to the last step, holds the connection's own (recursive) mutex, so that the error code
// and message read for a failure are that statement's and not another thread's.
//
// A column's type code follows the exact spelling of its declared type. SQLite reports its
// standard type names in upper case whatever their spelling, so for those the spelling is read
// back from the table's CREATE text in the schema (once per column, on the first row).
//
// A table steps through its query once and copies every cell: integers and doubles into the
// 16-byte cell itself, text and blob bytes into an arena of large blocks. A text value is cut at
// its first NUL; a blob keeps every byte. Blob streams are made only when asked for. Rows are
// removed by sliding the later cells down; their bytes stay in the arena as garbage until the
// garbage outgrows the live bytes, when the live bytes are copied into a fresh arena.
#include "sqlite/sqlitedb.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "port/localformat.h"

namespace {

constexpr size_t kFirstBlock = 4096;
constexpr size_t kMaxBlock = size_t{8} << 20;
// A value this large gets a block of its own, so that no block is left mostly empty.
constexpr size_t kOwnBlock = kMaxBlock / 8;

// Holds the connection's mutex; SQLite takes the same recursive mutex inside each call.
class TConnectionLock {
public:
    explicit TConnectionLock(sqlite3* db) : fmutex(sqlite3_db_mutex(db)) {
        sqlite3_mutex_enter(fmutex);
    }
    ~TConnectionLock() { sqlite3_mutex_leave(fmutex); }
    TConnectionLock(const TConnectionLock&) = delete;
    TConnectionLock& operator=(const TConnectionLock&) = delete;

private:
    sqlite3_mutex* fmutex;
};

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The tokens of a CREATE TABLE text, as far as finding a column's declared type needs them:
// words, quoted names (unquoted) and single punctuation characters; comments are skipped.
class TSchemaTokens {
public:
    explicit TSchemaTokens(std::string_view text) : ftext(text) {}

    // The next token, or false at the end; quoted is set for a quoted name.
    bool Next(std::string& token, bool& quoted) {
        SkipBlanks();
        if (fpos >= ftext.size()) return false;
        token.clear();
        quoted = false;
        const char c = ftext[fpos];
        const char close = c == '"' ? '"' : c == '`' ? '`' : c == '\'' ? '\'' : c == '[' ? ']' : 0;
        if (close) {
            quoted = true;
            for (++fpos; fpos < ftext.size(); ++fpos) {
                if (ftext[fpos] != close) {
                    token += ftext[fpos];
                } else if (close != ']' && fpos + 1 < ftext.size() && ftext[fpos + 1] == close) {
                    token += close;  // a doubled quote stands for itself
                    ++fpos;
                } else {
                    ++fpos;
                    break;
                }
            }
        } else if (IsWordChar(c)) {
            while (fpos < ftext.size() && IsWordChar(ftext[fpos]))
                token += ftext[fpos++];
        } else {
            token = c;
            ++fpos;
        }
        return true;
    }

private:
    static bool IsWordChar(char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
    }
    void SkipBlanks() {
        while (fpos < ftext.size()) {
            if (std::isspace(static_cast<unsigned char>(ftext[fpos]))) {
                ++fpos;
            } else if (ftext.substr(fpos, 2) == "--") {
                const size_t end = ftext.find('\n', fpos);
                fpos = end == std::string_view::npos ? ftext.size() : end;
            } else if (ftext.substr(fpos, 2) == "/*") {
                const size_t end = ftext.find("*/", fpos + 2);
                fpos = end == std::string_view::npos ? ftext.size() : end + 2;
            } else {
                break;
            }
        }
    }

    std::string_view ftext;
    size_t fpos = 0;
};

// The first word of column's declared type in a CREATE TABLE text, as written; "" if not found.
std::string TypeWordAsWritten(std::string_view createTable, std::string_view column) {
    TSchemaTokens tokens(createTable);
    std::string token;
    bool quoted = false;
    int depth = 0;
    bool atDefinition = false;  // the next token at depth 1 starts a column definition
    while (tokens.Next(token, quoted)) {
        if (!quoted && token == "(") {
            if (++depth == 1) atDefinition = true;
        } else if (!quoted && token == ")") {
            if (--depth == 0) break;
        } else if (depth == 1 && !quoted && token == ",") {
            atDefinition = true;
        } else if (depth == 1 && atDefinition) {
            atDefinition = false;
            if (SameLetters(token, column)) {
                return tokens.Next(token, quoted) && !quoted ? token : std::string();
            }
        }
    }
    return {};
}

// SQLite (from version 3.37 on) reports a declared type that is one of its standard names in
// upper case, however the schema spells it. The type codes depend on the spelling, so for
// those names the column's declaration is read from the schema text.
std::string DeclaredAsWritten(sqlite3_stmt* statement, int column, std::string_view reported) {
    const char* database = sqlite3_column_database_name(statement, column);
    const char* table = sqlite3_column_table_name(statement, column);
    const char* origin = sqlite3_column_origin_name(statement, column);
    if (!database || !table || !origin) return std::string(reported);
    std::string schema = "\"";
    for (const char* p = database; *p; ++p) {
        schema += *p;
        if (*p == '"') schema += '"';
    }
    schema += "\".sqlite_master";
    const std::string query = "select sql from " + schema + " where type = 'table' and name = ?1";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(sqlite3_db_handle(statement), query.c_str(), -1, &raw, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(raw);
        return std::string(reported);
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> lookup(raw, sqlite3_finalize);
    sqlite3_bind_text(raw, 1, table, -1, SQLITE_STATIC);
    if (sqlite3_step(raw) != SQLITE_ROW) return std::string(reported);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    if (!text) return std::string(reported);
    std::string written = TypeWordAsWritten(text, origin);
    return SameLetters(written, reported) ? written : std::string(reported);
}

int TypeCode(sqlite3_stmt* statement, int column) {
    const char* declared = sqlite3_column_decltype(statement, column);
    if (!declared) return sqlite3_column_type(statement, column);
    std::string type(declared);
    if (type == "INTEGER" || type == "REAL" || type == "BLOB") {
        type = DeclaredAsWritten(statement, column, type);
    }
    // Exact and case-sensitive on purpose: stored schemas declare their columns in lower case
    // and rely on reading them as text.
    if (type == "INTEGER" || type == "BOOLEAN") return dtInt;
    if (type == "NUMERIC" || type == "FLOAT" || type == "DOUBLE" || type == "REAL")
        return dtNumeric;
    if (type == "BLOB") return dtBlob;
    return dtStr;
}

// General format, at most 15 significant digits, the user's decimal separator.
std::string FormatDouble(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    const char separator = DecimalSeparator();
    std::replace(text.begin(), text.end(), '.', separator);
    return text;
}

// A file's schema is not trusted, whoever made the file: the functions its triggers and views may
// call are only those without side effects, and SQL cannot write the file's structure itself.
bool Distrust(sqlite3* db) {
    return sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr) == SQLITE_OK &&
           sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr) == SQLITE_OK;
}

// Toward zero; values beyond the 64-bit range saturate instead of being undefined.
int64_t Truncate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775808.0) return INT64_MAX;
    if (value < -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(value);
}

}  // namespace

// --- TSQLiteDatabase ---

void TSQLiteDatabase::TClose::operator()(sqlite3* db) const {
    sqlite3_close(db);
}

void TSQLiteDatabase::TFinalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

namespace {

// The URI that opens path without locks or files beside it.
std::string ImmutableURI(const std::string& path) {
    std::string uri = "file:";
    for (const char c : std::filesystem::absolute(path).string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("/-._~").find(c) != std::string_view::npos) {
            uri += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            uri += escape;
        }
    }
    return uri + "?immutable=1";
}

}  // namespace

TOpenMode ReadingMode(const std::string& path) {
    // Bytes 18 and 19 of the header, the versions to read and write the file with: 2 for a
    // write-ahead log.
    char header[20] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return TOpenMode::ReadOnly;
    const size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    std::error_code error;
    const bool wal = got == sizeof header && (header[18] == 2 || header[19] == 2);
    return wal && !std::filesystem::exists(path + "-wal", error) && !error ? TOpenMode::Unchanging
                                                                           : TOpenMode::ReadOnly;
}

TSQLiteDatabase::TSQLiteDatabase(const std::string& FileName, TOpenMode mode, int busyMs) {
    sqlite3* handle = nullptr;
    const int access = mode == TOpenMode::ReadOnly    ? SQLITE_OPEN_READONLY
                       : mode == TOpenMode::Unchanging ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                       : mode == TOpenMode::Existing   ? SQLITE_OPEN_READWRITE
                                                       : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const std::string name = mode == TOpenMode::Unchanging ? ImmutableURI(FileName) : FileName;
    const int rc = sqlite3_open_v2(name.c_str(), &handle, access | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, TClose> opened(handle);  // closed on the way out if the open failed
    if (rc != SQLITE_OK) {
        throw ESQLiteException("Failed to open database \"" + FileName +
                               "\" : " + (opened ? sqlite3_errmsg(opened.get()) : "unknown error"));
    }
    if (!Distrust(opened.get())) {
        throw ESQLiteException("Failed to open database \"" + FileName +
                               "\" : " + sqlite3_errmsg(opened.get()));
    }
    fDB = std::move(opened);
    if (busyMs > 0) sqlite3_busy_timeout(fDB.get(), busyMs);
    // A failure here leaves the constructor, which destroys fDB and so closes the handle.
    ExecSQL("PRAGMA SYNCHRONOUS=NORMAL;");
    ExecSQL("PRAGMA temp_store = MEMORY;");
}

TSQLiteDatabase::~TSQLiteDatabase() = default;

namespace {

// The statement as an error message shows it. A string literal longer than any entry ID is a
// user's text, which the message leaves out ('...'); a statement still long after that keeps its
// beginning and end, on one line, so that SQLite's reason after it stays readable; a NUL, which
// would end the message, is written out.
std::string StatementForMessage(std::string_view SQL) {
    constexpr size_t kLongestLiteral = 40;
    constexpr size_t kHead = 240;
    constexpr size_t kTail = 80;
    std::string brief;
    for (size_t i = 0; i < SQL.size();) {
        if (SQL[i] != '\'') {
            brief += SQL[i++];
            continue;
        }
        // The literal runs to its closing quote ('' inside stands for one) or to the end.
        size_t end = i + 1;
        while (end < SQL.size()) {
            if (SQL[end] != '\'') {
                ++end;
            } else if (end + 1 < SQL.size() && SQL[end + 1] == '\'') {
                end += 2;
            } else {
                ++end;
                break;
            }
        }
        if (end - i > kLongestLiteral + 2) {
            brief += "'...'";
        } else {
            brief.append(SQL.substr(i, end - i));
        }
        i = end;
    }
    const std::string_view text = brief;
    const bool shorten = text.size() > kHead + kTail + 3;
    std::string shown;
    auto append = [&](std::string_view part) {
        for (char c : part) {
            if (c == '\0') {
                shown += "\\0";
            } else if (shorten && (c == '\r' || c == '\n' || c == '\t')) {
                shown += ' ';
            } else {
                shown += c;
            }
        }
    };
    if (!shorten) {
        append(text);
        return shown;
    }
    append(text.substr(0, kHead));
    shown += "...";
    append(text.substr(text.size() - kTail));
    return shown;
}

}  // namespace

void TSQLiteDatabase::RaiseError(std::string_view s, std::string_view SQL) const {
    std::string message(s);
    if (fDB && sqlite3_errcode(fDB.get()) != SQLITE_OK) {
        if (const char* detail = sqlite3_errmsg(fDB.get())) {
            message += " \"";
            message += StatementForMessage(SQL);
            message += "\" : ";
            message += detail;
        }
    }
    throw ESQLiteException(std::move(message));
}

TSQLiteDatabase::TStatement TSQLiteDatabase::Prepare(std::string_view SQL) const {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc;
    // SQLite stops at the first NUL either way, so the length only spares it a copy.
    if (SQL.size() <= static_cast<size_t>(INT_MAX)) {
        rc = sqlite3_prepare_v2(fDB.get(), SQL.data(), static_cast<int>(SQL.size()), &raw, &tail);
    } else {
        const std::string copy(SQL);
        rc = sqlite3_prepare_v2(fDB.get(), copy.c_str(), -1, &raw, &tail);
    }
    TStatement statement(raw);
    if (rc != SQLITE_OK) RaiseError("Error executing SQL", SQL);
    if (!statement) RaiseError("Could not prepare SQL statement", SQL);
    return statement;
}

void TSQLiteDatabase::ExecSQL(std::string_view SQL) {
    TConnectionLock lock(fDB.get());
    const TStatement statement = Prepare(SQL);
    // The message is built before unwinding finalises the statement, while the error is fresh.
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        RaiseError("Error executing SQL statement", SQL);
    }
}

void TSQLiteDatabase::ExecSQL(std::string_view SQL, std::string_view blob) {
    TConnectionLock lock(fDB.get());
    const TStatement statement = Prepare(SQL);
    if (sqlite3_bind_blob64(statement.get(), 1, blob.data(), blob.size(), SQLITE_STATIC) !=
            SQLITE_OK ||
        sqlite3_step(statement.get()) != SQLITE_DONE) {
        RaiseError("Error executing SQL statement", SQL);
    }
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::GetTable(std::string_view SQL) {
    return std::make_unique<TSQLiteTable>(*this, SQL);
}

std::string TSQLiteDatabase::GetTableString(std::string_view SQL) {
    return GetTable(SQL)->FieldAsString(0);
}

bool TSQLiteDatabase::TableExists(std::string_view TableName) {
    std::string name(TableName);
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return GetTable("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
                    name + "' ")
               ->Count() > 0;
}

void TSQLiteDatabase::BackupTo(const std::string& path, int pagesPerStep, int busyMs) {
    sqlite3* handle = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::unique_ptr<sqlite3, TClose> target(handle);
    if (rc != SQLITE_OK || !Distrust(target.get())) {
        throw ESQLiteException("Failed to open database \"" + path +
                               "\" : " + (target ? sqlite3_errmsg(target.get()) : "unknown error"));
    }
    sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", fDB.get(), "main");
    if (!backup) {
        throw ESQLiteException("Could not back up to \"" + path +
                               "\" : " + sqlite3_errmsg(target.get()));
    }
    constexpr int kPauseMs = 10;
    // A copy that other connections' writes keep starting over is finished in one step.
    constexpr int kRestarts = 2;
    int waited = 0, restarts = 0, remaining = -1;
    int step;
    do {
        step = sqlite3_backup_step(backup, restarts > kRestarts ? -1 : pagesPerStep);
        if (step == SQLITE_OK) {
            if (remaining >= 0 && sqlite3_backup_remaining(backup) > remaining) ++restarts;
            remaining = sqlite3_backup_remaining(backup);
        }
        if (step == SQLITE_BUSY || step == SQLITE_LOCKED) {
            // A writer holds the database: give it time to finish.
            if (waited >= busyMs) break;
            sqlite3_sleep(kPauseMs);
            waited += kPauseMs;
        }
    } while (step == SQLITE_OK || step == SQLITE_BUSY || step == SQLITE_LOCKED);
    // finish reports the first error of the steps, if any; its message is the target's.
    if (sqlite3_backup_finish(backup) != SQLITE_OK || step != SQLITE_DONE) {
        const int code = sqlite3_errcode(target.get());
        throw ESQLiteException(
            "Could not back up to \"" + path +
            "\" : " + (code != SQLITE_OK ? sqlite3_errmsg(target.get()) : sqlite3_errstr(step)));
    }
}

// --- TSQLiteCursor ---

TSQLiteCursor::TSQLiteCursor(TSQLiteDatabase& DB, std::string_view SQL)
    : fdb(DB), fsql(SQL), fmutex(sqlite3_db_mutex(DB.fDB.get())) {
    sqlite3_mutex_enter(fmutex);
    try {
        fstatement = DB.Prepare(fsql);
    } catch (...) {
        sqlite3_mutex_leave(fmutex);
        throw;
    }
}

TSQLiteCursor::~TSQLiteCursor() {
    fstatement.reset();
    sqlite3_mutex_leave(fmutex);
}

bool TSQLiteCursor::Next() {
    const int rc = sqlite3_step(fstatement.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    if (rc == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement");
    fdb.RaiseError("Could not retrieve data", fsql);
}

std::string_view TSQLiteCursor::Text(int I) const {
    sqlite3_stmt* statement = fstatement.get();
    if (sqlite3_column_type(statement, I) == SQLITE_BLOB) {
        const void* bytes = sqlite3_column_blob(statement, I);
        const int length = sqlite3_column_bytes(statement, I);
        return length > 0
                   ? std::string_view(static_cast<const char*>(bytes), static_cast<size_t>(length))
                   : std::string_view();
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, I));
    if (!text) return {};
    const auto length = static_cast<size_t>(sqlite3_column_bytes(statement, I));
    return std::string_view(text, strnlen(text, length));
}

int64_t TSQLiteCursor::Integer(int I) const {
    return sqlite3_column_int64(fstatement.get(), I);
}

bool TSQLiteCursor::IsNull(int I) const {
    return sqlite3_column_type(fstatement.get(), I) == SQLITE_NULL;
}

// --- TSQLiteBlob ---

size_t TSQLiteBlob::Read(void* buffer, size_t count) {
    const size_t n = std::min(count, fbytes.size() - fposition);
    if (n > 0) std::memcpy(buffer, fbytes.data() + fposition, n);
    fposition += n;
    return n;
}

// --- TSQLiteTable::TArena ---

char* TSQLiteTable::TArena::Reserve(size_t length, uint64_t& place) {
    size_t index;
    if (length > kOwnBlock) {
        fblocks.push_back(TBlock{std::make_unique_for_overwrite<char[]>(length), 0, length});
        index = fblocks.size() - 1;
    } else {
        if (fblocks.empty() || fblocks[fcurrent].capacity - fblocks[fcurrent].size < length) {
            // Blocks double with the data, so a one-row result stays small and a big one
            // needs few blocks.
            const size_t capacity = std::max(std::clamp(ftotal, kFirstBlock, kMaxBlock), length);
            fblocks.push_back(
                TBlock{std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
            fcurrent = fblocks.size() - 1;
        }
        index = fcurrent;
    }
    TBlock& block = fblocks[index];
    place = (static_cast<uint64_t>(index) << 32) | block.size;
    char* room = block.data.get() + block.size;
    block.size += length;
    ftotal += length;
    return room;
}

// --- TSQLiteTable ---

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& DB, std::string_view SQL) {
    TConnectionLock lock(DB.fDB.get());
    const TSQLiteDatabase::TStatement statement = DB.Prepare(SQL);
    for (;;) {
        const int rc = sqlite3_step(statement.get());
        if (rc == SQLITE_DONE) break;
        if (rc == SQLITE_ROW) {
            ReadRow(statement.get());
        } else if (rc == SQLITE_BUSY) {
            throw ESQLiteException("Could not prepare SQL statement");
        } else {
            DB.RaiseError("Could not retrieve data", SQL);
        }
    }
    fRow = 0;
}

TSQLiteTable::~TSQLiteTable() = default;

void TSQLiteTable::ReadRow(sqlite3_stmt* statement) {
    if (fRowCount == 0) {
        fColCount = static_cast<uint32_t>(sqlite3_column_count(statement));
        fColTypes.resize(fColCount);
        for (uint32_t k = 0; k < fColCount; ++k) {
            fColTypes[k] = TypeCode(statement, static_cast<int>(k));
        }
    }
    if (fRowCount == UINT32_MAX) throw ESQLiteException("Too many rows");
    for (uint32_t k = 0; k < fColCount; ++k) {
        const int column = static_cast<int>(k);
        if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
            fResults.push_back(TCell{});
            continue;
        }
        switch (fColTypes[k]) {
            case dtInt:
                fResults.push_back(
                    TCell{std::bit_cast<uint64_t>(sqlite3_column_int64(statement, column)), 0,
                          TKind::Int});
                break;
            case dtNumeric:
                fResults.push_back(
                    TCell{std::bit_cast<uint64_t>(sqlite3_column_double(statement, column)), 0,
                          TKind::Double});
                break;
            case dtBlob: {
                const void* bytes = sqlite3_column_blob(statement, column);
                const int length = sqlite3_column_bytes(statement, column);
                if (length <= 0) {
                    fResults.push_back(TCell{});
                } else {
                    if (!bytes) throw std::bad_alloc();
                    AddBytes(TKind::Blob, static_cast<const char*>(bytes),
                             static_cast<size_t>(length));
                }
                break;
            }
            default: {
                // Also a column without declared type whose first value was text or NULL.
                const auto* text =
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
                size_t length = static_cast<size_t>(sqlite3_column_bytes(statement, column));
                if (!text) {
                    if (sqlite3_errcode(sqlite3_db_handle(statement)) == SQLITE_NOMEM) {
                        throw std::bad_alloc();
                    }
                    length = 0;
                }
                if (const void* nul = length ? std::memchr(text, 0, length) : nullptr) {
                    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
                }
                AddBytes(TKind::Text, text, length);
                break;
            }
        }
    }
    ++fRowCount;
}

void TSQLiteTable::AddBytes(TKind kind, const char* bytes, size_t length) {
    TCell cell{0, static_cast<uint32_t>(length), kind};
    if (length > 0) {
        std::memcpy(farena.Reserve(length, cell.value), bytes, length);
        flive += length;
    }
    fResults.push_back(cell);
}

std::string_view TSQLiteTable::BytesOf(const TCell& cell) const {
    if ((cell.kind != TKind::Text && cell.kind != TKind::Blob) || cell.length == 0) return {};
    return farena.Bytes(cell.value, cell.length);
}

// The text of a non-empty cell, as Fields gives it.
std::string TSQLiteTable::TextOf(const TCell& cell) const {
    switch (cell.kind) {
        case TKind::Int:
            return std::to_string(std::bit_cast<int64_t>(cell.value));
        case TKind::Double:
            return FormatDouble(std::bit_cast<double>(cell.value));
        default:
            return std::string(BytesOf(cell));
    }
}

bool TSQLiteTable::Matches(const TCell& cell, std::string_view value) const {
    switch (cell.kind) {
        case TKind::Empty:
            return value.empty();
        case TKind::Text:
        case TKind::Blob:
            return BytesOf(cell) == value;
        default:
            return TextOf(cell) == value;
    }
}

const TSQLiteTable::TCell& TSQLiteTable::CurrentCell(unsigned I) const {
    if (Eof()) throw ESQLiteException("Table is at End of File");
    if (I >= fColCount) throw ESQLiteException("Column index out of range");
    return fResults[static_cast<size_t>(fRow) * fColCount + I];
}

bool TSQLiteTable::Next() {
    if (Eof()) return false;
    ++fRow;
    return true;
}

bool TSQLiteTable::MoveFirst() {
    if (fRowCount == 0) return false;
    fRow = 0;
    return true;
}

std::string TSQLiteTable::Fields(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    if (cell.kind == TKind::Empty) {
        const int type = fColTypes[I];
        return type == dtInt || type == dtNumeric ? "0" : "";
    }
    return TextOf(cell);
}

std::string TSQLiteTable::FieldAsString(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    return cell.kind == TKind::Empty ? std::string() : TextOf(cell);
}

int64_t TSQLiteTable::FieldAsInteger(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    if (cell.kind == TKind::Empty) return 0;
    switch (fColTypes[I]) {
        case dtInt:
            return std::bit_cast<int64_t>(cell.value);
        case dtNumeric:
            return Truncate(std::bit_cast<double>(cell.value));
        default:
            throw ESQLiteException("Not an integer or numeric field");
    }
}

double TSQLiteTable::FieldAsDouble(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    if (cell.kind == TKind::Empty) return 0;
    switch (fColTypes[I]) {
        case dtInt:
            return static_cast<double>(std::bit_cast<int64_t>(cell.value));
        case dtNumeric:
            return std::bit_cast<double>(cell.value);
        default:
            throw ESQLiteException("Not an integer or numeric field");
    }
}

TSQLiteBlob* TSQLiteTable::FieldAsBlob(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    if (cell.kind == TKind::Empty) return nullptr;
    if (fColTypes[I] != dtBlob) throw ESQLiteException("Not a Blob field");
    std::unique_ptr<TSQLiteBlob>& stream = fblobs[static_cast<size_t>(fRow) * fColCount + I];
    if (!stream) stream = std::make_unique<TSQLiteBlob>(BytesOf(cell));
    return stream.get();
}

std::string TSQLiteTable::FieldAsBlobText(unsigned I) const {
    const TCell& cell = CurrentCell(I);
    if (cell.kind == TKind::Empty) return std::string();
    if (fColTypes[I] != dtBlob) throw ESQLiteException("Not a Blob field");
    return std::string(BytesOf(cell));
}

std::string_view TSQLiteTable::FieldView(unsigned I) const {
    return BytesOf(CurrentCell(I));
}

std::string_view TSQLiteTable::CellView(unsigned row, unsigned col) const {
    if (row >= fRowCount) throw ESQLiteException("Row index out of range");
    if (col >= fColCount) throw ESQLiteException("Column index out of range");
    return BytesOf(fResults[static_cast<size_t>(row) * fColCount + col]);
}

void TSQLiteTable::AppendRows(const TSQLiteTable& other) {
    fRow = 0;
    const uint32_t rows = other.fRowCount;  // other may be this table
    if (rows == 0) return;
    if (fRowCount == 0) {
        Clear();
        fColCount = other.fColCount;
        fColTypes = other.fColTypes;
    } else if (fColCount != other.fColCount || fColTypes != other.fColTypes) {
        throw ESQLiteException("Appended rows have other columns");
    }
    if (rows > UINT32_MAX - fRowCount) throw ESQLiteException("Too many rows");

    const size_t cells = static_cast<size_t>(rows) * fColCount;
    const size_t oldCells = fResults.size();
    const size_t oldLive = flive;
    try {
        fResults.reserve(oldCells + cells);
        for (size_t i = 0; i < cells; ++i) {
            const TCell cell = other.fResults[i];  // a copy: the vector may be this one's
            if (cell.kind == TKind::Text || cell.kind == TKind::Blob) {
                // Arena blocks never move, so the source bytes stay put while we append.
                const std::string_view bytes = other.BytesOf(cell);
                AddBytes(cell.kind, bytes.data(), bytes.size());
            } else {
                fResults.push_back(cell);
            }
        }
    } catch (...) {
        // Out of memory part-way: the table keeps exactly its old rows.
        fResults.resize(oldCells);
        fgarbage += flive - oldLive;
        flive = oldLive;
        if (fRowCount == 0) Clear();
        throw;
    }
    fRowCount += rows;
}

void TSQLiteTable::DeleteRowsWhere(unsigned col, std::string_view value) {
    fRow = 0;
    if (fRowCount == 0) return;
    if (col >= fColCount) throw ESQLiteException("Column index out of range");

    // Everything that can fail comes before the first change.
    std::vector<uint32_t> newRow(fRowCount);  // UINT32_MAX for a removed row
    uint32_t kept = 0;
    for (uint32_t r = 0; r < fRowCount; ++r) {
        const bool removed = Matches(fResults[static_cast<size_t>(r) * fColCount + col], value);
        newRow[r] = removed ? UINT32_MAX : kept++;
    }
    if (kept == fRowCount) return;
    std::unordered_map<size_t, std::unique_ptr<TSQLiteBlob>> blobs;
    fretired.reserve(fretired.size() + fblobs.size());
    blobs.reserve(fblobs.size());
    for (auto& [index, stream] : fblobs) {
        const uint32_t row = newRow[index / fColCount];
        if (row == UINT32_MAX) {
            fretired.push_back(std::move(stream));
        } else {
            blobs.emplace(static_cast<size_t>(row) * fColCount + index % fColCount,
                          std::move(stream));
        }
    }
    fblobs = std::move(blobs);

    for (uint32_t r = 0; r < fRowCount; ++r) {
        const TCell* row = &fResults[static_cast<size_t>(r) * fColCount];
        if (newRow[r] == UINT32_MAX) {
            for (uint32_t k = 0; k < fColCount; ++k) {
                if (row[k].kind == TKind::Text || row[k].kind == TKind::Blob) {
                    fgarbage += row[k].length;
                    flive -= row[k].length;
                }
            }
        } else if (newRow[r] != r) {
            std::copy(row, row + fColCount, &fResults[static_cast<size_t>(newRow[r]) * fColCount]);
        }
    }
    fResults.resize(static_cast<size_t>(kept) * fColCount);
    fRowCount = kept;
    if (kept == 0) {
        Clear();
    } else if (fgarbage > flive) {
        Compact();
    }
}

void TSQLiteTable::Compact() {
    // The new arena and places are complete before any cell changes, so a failure leaves the
    // table as it was (with its garbage).
    TArena arena;
    std::vector<uint64_t> places(fResults.size());
    for (size_t i = 0; i < fResults.size(); ++i) {
        const std::string_view bytes = BytesOf(fResults[i]);
        if (!bytes.empty())
            std::memcpy(arena.Reserve(bytes.size(), places[i]), bytes.data(), bytes.size());
    }
    for (size_t i = 0; i < fResults.size(); ++i) {
        TCell& cell = fResults[i];
        if ((cell.kind == TKind::Text || cell.kind == TKind::Blob) && cell.length > 0) {
            cell.value = places[i];
        }
    }
    farena = std::move(arena);
    fgarbage = 0;
}

void TSQLiteTable::Clear() {
    fResults = {};
    fColTypes.clear();
    fRowCount = fColCount = fRow = 0;
    farena = TArena();
    flive = fgarbage = 0;
    for (auto& entry : fblobs)
        fretired.push_back(std::move(entry.second));
    fblobs.clear();
}
