// The database layer: a thin object layer over SQLite's C interface.
//
// TSQLiteDatabase is one open database file; TSQLiteTable is the complete result of one query,
// read into memory in one go and then walked with a cursor; ESQLiteException reports every
// failure the layer detects, with one message for each kind of failure. Text goes to and from
// SQLite byte for byte (8-bit strings, never converted to or from UTF-8); a text value reads
// back up to its first NUL byte, a blob whole.
//
// Ownership: the database owns its connection; a table owns its cells and any blob stream it
// hands out. Tables are snapshots: later changes to the database do not show in them.
// Thread safety: the connection runs in SQLite's serialized mode, so one TSQLiteDatabase may be
// used by two threads at once. A TSQLiteTable must be used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "port/errors.h"

struct sqlite3;

class ESQLiteException : public Exception {
public:
    using Exception::Exception;
};

// Column type codes; they equal SQLite's storage-class numbers, because a column without a
// declared type takes the storage class of its first value.
inline constexpr int dtInt = 1;
inline constexpr int dtNumeric = 2;
inline constexpr int dtStr = 3;
inline constexpr int dtBlob = 4;
inline constexpr int dtNull = 5;

class TSQLiteTable;

class TSQLiteDatabase {
public:
    // Opens (or creates) the file and issues the layer's two PRAGMAs; raises on failure.
    explicit TSQLiteDatabase(const std::string& FileName);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Executes the first statement of SQL, which must yield no row.
    void ExecSQL(std::string_view SQL);
    // The whole result of a query; the caller owns it.
    std::unique_ptr<TSQLiteTable> GetTable(std::string_view SQL);
    // Column 0 of the first row of a query; raises "Table is at End of File" when it has none.
    std::string GetTableString(std::string_view SQL);
    // Whether a table of that name exists, letter case ignored. Plain identifiers only.
    bool TableExists(std::string_view TableName);

    sqlite3* Handle() const { return fDB.get(); }

    // Raises ESQLiteException s, with the detail ` "<SQL>" : <SQLite's message>` when the
    // connection reports an error.
    [[noreturn]] void RaiseError(std::string_view s, std::string_view SQL) const;

private:
    struct TClose {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, TClose> fDB;
};

// A blob cell's bytes as a stream with a position, owned by its table.
struct TSQLiteBlob {
    std::string bytes;
    size_t Position = 0;
    size_t Size() const { return bytes.size(); }
};

class TSQLiteTable {
public:
    // Runs the query and reads every row; the cursor ends on the first row.
    TSQLiteTable(TSQLiteDatabase& DB, std::string_view SQL);
    ~TSQLiteTable();
    TSQLiteTable(const TSQLiteTable&) = delete;
    TSQLiteTable& operator=(const TSQLiteTable&) = delete;

    int Count() const { return static_cast<int>(fRowCount); }
    unsigned ColCount() const { return fColCount; }
    // The type code of column I (0 when there is no row).
    int ColType(unsigned I) const { return I < fColTypes.size() ? fColTypes[I] : 0; }
    bool Eof() const { return fRow >= fRowCount; }
    bool Next();
    bool MoveFirst();

    // Readers of the current row's column I. Each raises "Table is at End of File" past the end.
    std::string Fields(unsigned I) const;
    std::string FieldAsString(unsigned I) const;
    int64_t FieldAsInteger(unsigned I) const;
    double FieldAsDouble(unsigned I) const;
    std::string FieldAsBlobText(unsigned I) const;
    // The blob stream of column I, owned by the table, or null for an empty cell.
    TSQLiteBlob* FieldAsBlob(unsigned I) const;

    // The bytes of a text or blob cell without a copy ("" for any other cell), valid until the
    // table is changed or destroyed. Row and column must be in range.
    std::string_view CellView(unsigned row, unsigned col) const;
    std::string_view FieldView(unsigned I) const;

    // Appends every row of other (same columns; a table without rows takes other's columns).
    void AppendRows(const TSQLiteTable& other);
    // Removes every row whose text in column col equals value; the others keep their order.
    // The cursor goes back to the first row.
    void DeleteRowsWhere(unsigned col, std::string_view value);

private:
    enum class TKind : uint8_t { Empty, Int, Double, Text, Blob };
    // Invariant: Text and Blob cells hold [offset, offset + length) of farena; Int and Double
    // cells hold their value's bits in offset.
    struct TCell {
        uint64_t offset = 0;
        uint32_t length = 0;
        TKind kind = TKind::Empty;
    };

    const TCell& Cell(unsigned I) const;
    void CheckEof() const;
    void AddBytes(TCell& cell, TKind kind, const char* bytes, size_t length);
    void Compact();

    std::vector<TCell> fResults;
    std::string farena;
    size_t fgarbage = 0;  // arena bytes no cell refers to any more
    uint32_t fRowCount = 0;
    uint32_t fColCount = 0;
    std::vector<int> fColTypes;
    uint32_t fRow = 0;
    mutable std::unordered_map<size_t, std::unique_ptr<TSQLiteBlob>> fblobs;
};
