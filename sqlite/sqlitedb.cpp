// Every statement is prepared, stepped and finalised within one call; a statement handle never
// outlives it (an RAII holder finalises it on every path). A table reads all rows at once into
// one byte arena with a compact descriptor per cell, so that a large result costs a few big
// allocations instead of one per cell, and can later be appended to or thinned without a reload.
#include "sqlite/sqlitedb.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "port/localformat.h"

namespace {

struct TFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TFinalize>;

// Prepares the first statement of SQL; raises as ExecSQL and table building both do.
TStatement Prepare(const TSQLiteDatabase& DB, std::string_view SQL) {
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v2(DB.Handle(), SQL.data(), static_cast<int>(SQL.size()), &raw, nullptr);
    TStatement statement(raw);
    if (rc != SQLITE_OK) DB.RaiseError("Error executing SQL", SQL);
    if (!statement) DB.RaiseError("Could not prepare SQL statement", SQL);
    return statement;
}

int TypeOfDeclared(const char* declared, int firstValueClass) {
    if (!declared) return firstValueClass;
    const std::string_view d(declared);
    if (d == "INTEGER" || d == "BOOLEAN") return dtInt;
    if (d == "NUMERIC" || d == "FLOAT" || d == "DOUBLE" || d == "REAL") return dtNumeric;
    if (d == "BLOB") return dtBlob;
    return dtStr;
}

// General number format with up to 15 significant digits and the user's decimal separator.
std::string FormatDouble(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15G", value);
    std::string s = text;
    const size_t e = s.find('E');
    if (e != std::string::npos) {
        // "1E+20" and "1.5E-07" become "1E20" and "1.5E-7".
        std::string exponent = s.substr(e + 1);
        const bool negative = !exponent.empty() && exponent[0] == '-';
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.erase(0, 1);
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        s = s.substr(0, e) + "E" + (negative ? "-" : "") + exponent;
    }
    const size_t point = s.find('.');
    if (point != std::string::npos) s[point] = DecimalSeparator();
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSQLiteDatabase

void TSQLiteDatabase::TClose::operator()(sqlite3* db) const { sqlite3_close(db); }

TSQLiteDatabase::TSQLiteDatabase(const std::string& FileName) {
    sqlite3* raw = nullptr;
    // Serialized mode: the connection is shared by the user-interface and worker threads.
    const int rc = sqlite3_open_v2(FileName.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    fDB.reset(raw);
    if (rc != SQLITE_OK) {
        if (fDB) {
            const std::string message = sqlite3_errmsg(fDB.get());
            throw ESQLiteException("Failed to open database \"" + FileName + "\" : " + message);
        }
        throw ESQLiteException("Failed to open database \"" + FileName + "\" : unknown error");
    }
    ExecSQL("PRAGMA SYNCHRONOUS=NORMAL;");
    ExecSQL("PRAGMA temp_store = MEMORY;");
}

TSQLiteDatabase::~TSQLiteDatabase() = default;

void TSQLiteDatabase::RaiseError(std::string_view s, std::string_view SQL) const {
    const char* message = nullptr;
    if (fDB && sqlite3_errcode(fDB.get()) != SQLITE_OK) message = sqlite3_errmsg(fDB.get());
    if (message) {
        throw ESQLiteException(std::string(s) + " \"" + std::string(SQL) + "\" : " + message);
    }
    throw ESQLiteException(std::string(s));
}

void TSQLiteDatabase::ExecSQL(std::string_view SQL) {
    TStatement statement = Prepare(*this, SQL);
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
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
    std::string lowered(TableName);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return GetTable("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
                    lowered + "' ")
               ->Count() > 0;
}

// ---------------------------------------------------------------------------------------------
// TSQLiteTable

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& DB, std::string_view SQL) {
    TStatement statement = Prepare(DB, SQL);
    sqlite3_stmt* s = statement.get();
    for (;;) {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE) break;
        if (rc == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement");
        if (rc != SQLITE_ROW) DB.RaiseError("Could not retrieve data", SQL);
        if (fRowCount == 0) {
            fColCount = static_cast<uint32_t>(sqlite3_column_count(s));
            fColTypes.resize(fColCount);
            for (uint32_t c = 0; c < fColCount; ++c) {
                fColTypes[c] = TypeOfDeclared(sqlite3_column_decltype(s, static_cast<int>(c)),
                                              sqlite3_column_type(s, static_cast<int>(c)));
            }
        }
        ++fRowCount;
        for (uint32_t c = 0; c < fColCount; ++c) {
            const int col = static_cast<int>(c);
            TCell cell;
            if (sqlite3_column_type(s, col) != SQLITE_NULL) {
                switch (fColTypes[c]) {
                    case dtInt: {
                        const int64_t v = sqlite3_column_int64(s, col);
                        cell.kind = TKind::Int;
                        std::memcpy(&cell.offset, &v, sizeof v);
                        break;
                    }
                    case dtNumeric: {
                        const double v = sqlite3_column_double(s, col);
                        cell.kind = TKind::Double;
                        std::memcpy(&cell.offset, &v, sizeof v);
                        break;
                    }
                    case dtBlob: {
                        const void* bytes = sqlite3_column_blob(s, col);
                        const int n = sqlite3_column_bytes(s, col);
                        if (n > 0) AddBytes(cell, TKind::Blob, static_cast<const char*>(bytes), n);
                        break;
                    }
                    default: {
                        // Text up to its first NUL byte, as a C string reads.
                        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
                        const size_t n = static_cast<size_t>(sqlite3_column_bytes(s, col));
                        const void* nul = text ? std::memchr(text, 0, n) : nullptr;
                        const size_t length = nul ? static_cast<const char*>(nul) - text : n;
                        AddBytes(cell, TKind::Text, text ? text : "", length);
                        break;
                    }
                }
            }
            fResults.push_back(cell);
        }
    }
    fRow = 0;
}

TSQLiteTable::~TSQLiteTable() = default;

void TSQLiteTable::AddBytes(TCell& cell, TKind kind, const char* bytes, size_t length) {
    cell.kind = kind;
    cell.offset = farena.size();
    cell.length = static_cast<uint32_t>(length);
    farena.append(bytes, length);
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

void TSQLiteTable::CheckEof() const {
    if (Eof()) throw ESQLiteException("Table is at End of File");
}

const TSQLiteTable::TCell& TSQLiteTable::Cell(unsigned I) const {
    CheckEof();
    if (I >= fColCount) {
        throw ESQLiteException("Column index " + std::to_string(I) + " is out of range");
    }
    return fResults[static_cast<size_t>(fRow) * fColCount + I];
}

std::string TSQLiteTable::Fields(unsigned I) const {
    const TCell& cell = Cell(I);
    switch (fColTypes[I]) {
        case dtInt:
            return std::to_string(FieldAsInteger(I));
        case dtNumeric:
            return FormatDouble(FieldAsDouble(I));
        case dtBlob:
            return FieldAsBlobText(I);
        case dtStr:
        case dtNull:  // later values of such a column are kept as text
            return cell.kind == TKind::Text ? std::string(farena, cell.offset, cell.length) : "";
        default:
            return "";
    }
}

std::string TSQLiteTable::FieldAsString(unsigned I) const {
    if (Cell(I).kind == TKind::Empty) return "";
    return Fields(I);
}

int64_t TSQLiteTable::FieldAsInteger(unsigned I) const {
    const TCell& cell = Cell(I);
    if (cell.kind == TKind::Empty) return 0;
    if (fColTypes[I] == dtInt) {
        int64_t v;
        std::memcpy(&v, &cell.offset, sizeof v);
        return v;
    }
    if (fColTypes[I] == dtNumeric) {
        double v;
        std::memcpy(&v, &cell.offset, sizeof v);
        return static_cast<int64_t>(std::trunc(v));
    }
    throw ESQLiteException("Not an integer or numeric field");
}

double TSQLiteTable::FieldAsDouble(unsigned I) const {
    const TCell& cell = Cell(I);
    if (cell.kind == TKind::Empty) return 0;
    if (fColTypes[I] == dtInt) return static_cast<double>(FieldAsInteger(I));
    if (fColTypes[I] == dtNumeric) {
        double v;
        std::memcpy(&v, &cell.offset, sizeof v);
        return v;
    }
    throw ESQLiteException("Not an integer or numeric field");
}

TSQLiteBlob* TSQLiteTable::FieldAsBlob(unsigned I) const {
    const TCell& cell = Cell(I);
    if (cell.kind == TKind::Empty) return nullptr;
    if (fColTypes[I] != dtBlob) throw ESQLiteException("Not a Blob field");
    const size_t index = static_cast<size_t>(fRow) * fColCount + I;
    auto& blob = fblobs[index];
    if (!blob) {
        blob = std::make_unique<TSQLiteBlob>();
        blob->bytes.assign(farena, cell.offset, cell.length);
    }
    return blob.get();
}

std::string TSQLiteTable::FieldAsBlobText(unsigned I) const {
    TSQLiteBlob* blob = FieldAsBlob(I);
    if (!blob || blob->Size() == 0) return "";
    blob->Position = 0;
    std::string text = blob->bytes;
    blob->Position = blob->Size();
    return text;
}

std::string_view TSQLiteTable::CellView(unsigned row, unsigned col) const {
    const TCell& cell = fResults[static_cast<size_t>(row) * fColCount + col];
    if (cell.kind != TKind::Text && cell.kind != TKind::Blob) return {};
    return std::string_view(farena).substr(cell.offset, cell.length);
}

std::string_view TSQLiteTable::FieldView(unsigned I) const {
    Cell(I);
    return CellView(fRow, I);
}

void TSQLiteTable::AppendRows(const TSQLiteTable& other) {
    if (other.fRowCount == 0) return;
    if (fRowCount == 0) {
        fColCount = other.fColCount;
        fColTypes = other.fColTypes;
        fResults.clear();
    }
    if (other.fColCount != fColCount) {
        throw ESQLiteException("Cannot append rows of a different shape");
    }
    fResults.reserve(fResults.size() + other.fResults.size());
    for (const TCell& cell : other.fResults) {
        TCell copy = cell;
        if (cell.kind == TKind::Text || cell.kind == TKind::Blob) {
            AddBytes(copy, cell.kind, other.farena.data() + cell.offset, cell.length);
        }
        fResults.push_back(copy);
    }
    fRowCount += other.fRowCount;
}

void TSQLiteTable::DeleteRowsWhere(unsigned col, std::string_view value) {
    fblobs.clear();
    size_t kept = 0;
    for (uint32_t row = 0; row < fRowCount; ++row) {
        const size_t first = static_cast<size_t>(row) * fColCount;
        if (CellView(row, col) == value) {
            for (uint32_t c = 0; c < fColCount; ++c) fgarbage += fResults[first + c].length;
            continue;
        }
        if (kept != row) {
            std::copy(fResults.begin() + first, fResults.begin() + first + fColCount,
                      fResults.begin() + static_cast<std::ptrdiff_t>(kept) * fColCount);
        }
        ++kept;
    }
    fResults.resize(kept * fColCount);
    fRowCount = static_cast<uint32_t>(kept);
    fRow = 0;
    if (fgarbage > farena.size() / 2) Compact();
}

void TSQLiteTable::Compact() {
    std::string arena;
    arena.reserve(farena.size() - fgarbage);
    for (TCell& cell : fResults) {
        if (cell.kind != TKind::Text && cell.kind != TKind::Blob) continue;
        const uint64_t offset = arena.size();
        arena.append(farena, cell.offset, cell.length);
        cell.offset = offset;
    }
    farena = std::move(arena);
    fgarbage = 0;
}
