// The database layer: a thin object layer over SQLite's C interface.
//
// TSQLiteDatabase is one open database file; TSQLiteTable is the complete result of one query,
// read into memory in one go and then walked with a cursor; ESQLiteException reports every
// failure the layer detects, with one message for each kind of failure. Text goes to and from
// SQLite byte for byte (8-bit strings, never converted to or from UTF-8); a text value reads
// back up to its first NUL byte, a blob whole.
//
// Every connection distrusts the file's schema (SQLite's defensive mode, and no trusted schema):
// a trigger or view a file holds cannot call a function with side effects, and SQL cannot write
// the file's structure directly.
//
// Ownership: the database owns its connection handle; the caller owns every table it hands out;
// a table owns its cells and every blob stream it hands out (valid until the table is
// destroyed). Tables are snapshots: later changes to the database do not show in them.
//
// Thread safety: the connection is opened in SQLite's serialized mode and the database object
// keeps no other state, so one TSQLiteDatabase may be used by two threads at once; each
// statement runs as a whole under the connection's own mutex, so its error message is its own.
// A TSQLiteTable has no lock: it must be used by one thread at a time and must not be destroyed
// while another thread reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "port/errors.h"

struct sqlite3;
struct sqlite3_mutex;
struct sqlite3_stmt;

class ESQLiteException : public Exception {
public:
    using Exception::Exception;
};

// Column type codes. They equal SQLite's storage-class numbers, because a column without a
// declared type takes the storage class of its first row's value.
inline constexpr int dtInt = 1;
inline constexpr int dtNumeric = 2;
inline constexpr int dtStr = 3;
inline constexpr int dtBlob = 4;
inline constexpr int dtNull = 5;

class TSQLiteTable;

// How a database file is opened: for writing, created when missing (as the program opens its
// knowledge base); for writing, only when it exists; or for reading alone, which never changes
// the file (nor rolls back what a killed writer left in its journal: that fails instead); or for
// reading a file that nothing else has open or writes while it is read, which makes no file
// beside it either (a write-ahead-log file opened ReadOnly gets a -wal and -shm that stay).
enum class TOpenMode { Create, Existing, ReadOnly, Unchanging };

// How to open a file only to read it: Unchanging when it is in write-ahead-log mode and nothing
// has it open (no -wal beside it), so that reading leaves no -wal or -shm behind; else ReadOnly.
TOpenMode ReadingMode(const std::string& path);

class TSQLiteDatabase {
public:
    // Opens the file and issues "PRAGMA SYNCHRONOUS=NORMAL;" and "PRAGMA temp_store = MEMORY;".
    // On any failure it raises and closes the handle. A statement that finds the file locked by
    // another connection waits up to busyMs milliseconds for it (0: it fails at once, as the
    // program's own connection does, so that a locked file is reported rather than waited for).
    explicit TSQLiteDatabase(const std::string& FileName, TOpenMode mode = TOpenMode::Create,
                             int busyMs = 0);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Executes the first statement of SQL; whatever follows it is ignored. A statement that
    // yields a row fails.
    void ExecSQL(std::string_view SQL);
    // The same with the bytes given as the statement's one parameter (?1), a blob: for bytes
    // that no literal should carry (a large binary value).
    void ExecSQL(std::string_view SQL, std::string_view blob);
    // The whole result of a query; the caller owns it.
    std::unique_ptr<TSQLiteTable> GetTable(std::string_view SQL);
    // FieldAsString(0) of the query's first row; raises "Table is at End of File" when the
    // query yields no row.
    std::string GetTableString(std::string_view SQL);
    // Whether a table of that name exists, letter case ignored on both sides. The name is
    // pasted into the query as it is, so callers pass plain identifiers only.
    bool TableExists(std::string_view TableName);

    // Copies the whole database into the file path, which must be missing (it is made) or an
    // SQLite database (whose content is replaced), with SQLite's online backup, pagesPerStep pages
    // at a time (-1: all at once). Between steps other connections may write; the copy then starts
    // over, so it is always one state the database was in (after a few such restarts the rest is
    // copied in one step, which writers wait for). A step that finds the database locked by a
    // writer is retried for up to busyMs milliseconds. Raises on failure; the file at path is
    // then in no defined state.
    void BackupTo(const std::string& path, int pagesPerStep = -1, int busyMs = 30000);

    // The connection, for diagnostics and tests; the database keeps ownership.
    sqlite3* Handle() const { return fDB.get(); }

private:
    friend class TSQLiteTable;
    friend class TSQLiteCursor;

    struct TFinalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    using TStatement = std::unique_ptr<sqlite3_stmt, TFinalize>;

    // Compiles the first statement of SQL; raises when SQLite fails or compiles nothing.
    TStatement Prepare(std::string_view SQL) const;

    // Raises s, followed by ` "<SQL>" : <SQLite's message>` when the connection reports a
    // non-zero error code and a message.
    [[noreturn]] void RaiseError(std::string_view s, std::string_view SQL) const;

    struct TClose {
        void operator()(sqlite3* db) const;
    };
    // Invariant: null until the open succeeded.
    std::unique_ptr<sqlite3, TClose> fDB;
};

// The rows of a query one at a time, for results too large to hold whole: nothing is copied, and
// a row's values are valid until the next step. The cursor holds the connection for its whole
// life (other threads' statements wait), so it is meant for one pass over a result, quickly.
// Failures raise as TSQLiteTable's construction does, with the same messages.
class TSQLiteCursor {
public:
    TSQLiteCursor(TSQLiteDatabase& DB, std::string_view SQL);
    ~TSQLiteCursor();
    TSQLiteCursor(const TSQLiteCursor&) = delete;
    TSQLiteCursor& operator=(const TSQLiteCursor&) = delete;

    // Steps to the next row; false at the end.
    bool Next();
    // Column I of the current row: a text up to its first NUL (as tables read text), a blob's
    // bytes whole, a number as SQLite writes it, "" for NULL.
    std::string_view Text(int I) const;
    int64_t Integer(int I) const;
    bool IsNull(int I) const;

private:
    TSQLiteDatabase& fdb;
    std::string fsql;
    sqlite3_mutex* fmutex;
    TSQLiteDatabase::TStatement fstatement;
};

// A blob cell's bytes as a read-only stream with a position. Its table owns it.
class TSQLiteBlob {
public:
    explicit TSQLiteBlob(std::string_view bytes) : fbytes(bytes) {}

    size_t Size() const { return fbytes.size(); }
    size_t Position() const { return fposition; }
    // Moves the position, at most to the end.
    void Seek(size_t position) { fposition = position < fbytes.size() ? position : fbytes.size(); }
    // Copies up to count bytes from the position on and advances past them; returns how many.
    size_t Read(void* buffer, size_t count);
    // The whole content, whatever the position.
    std::string_view Bytes() const { return fbytes; }

private:
    std::string fbytes;
    size_t fposition = 0;
};

class TSQLiteTable {
public:
    // Runs the query on DB and reads every row; the cursor ends on the first row.
    TSQLiteTable(TSQLiteDatabase& DB, std::string_view SQL);
    ~TSQLiteTable();
    TSQLiteTable(const TSQLiteTable&) = delete;
    TSQLiteTable& operator=(const TSQLiteTable&) = delete;

    int Count() const { return static_cast<int>(fRowCount); }
    // The number of columns; 0 while the table has no row.
    unsigned ColCount() const { return fColCount; }
    // The type code of column I; 0 while the table has no row or when I is out of range.
    int ColType(unsigned I) const { return I < fColTypes.size() ? fColTypes[I] : 0; }

    // True when the cursor is past the last row.
    bool Eof() const { return fRow >= fRowCount; }
    // Advances the cursor unless at the end (true even when this step reaches the end).
    bool Next();
    // Puts the cursor on the first row; false when there is none.
    bool MoveFirst();

    // Readers of the current row's column I. Each raises "Table is at End of File" past the
    // end, and "Column index out of range" for I >= ColCount().
    std::string Fields(unsigned I) const;
    std::string FieldAsString(unsigned I) const;
    int64_t FieldAsInteger(unsigned I) const;
    double FieldAsDouble(unsigned I) const;
    std::string FieldAsBlobText(unsigned I) const;
    // The blob stream of column I, owned by the table, or null for an empty cell.
    TSQLiteBlob* FieldAsBlob(unsigned I) const;

    // Text without a copy. FieldView is the current row's column I, CellView any row's (the
    // cursor is ignored; it raises "Row index out of range" past the last row). They give the
    // bytes of a text cell (also of a column without declared type that read as text), or of a
    // blob cell, and "" for a NULL, integer or double cell. A view stays valid across
    // AppendRows and until DeleteRowsWhere or the table's destruction.
    std::string_view FieldView(unsigned I) const;
    std::string_view CellView(unsigned row, unsigned col) const;

    // Appends every row of other, which must have the same columns (count and type codes) as
    // this table, unless this table has no row, in which case it takes other's columns. The
    // cursor goes back to the first row, as after a fresh load.
    void AppendRows(const TSQLiteTable& other);
    // Removes every row whose FieldAsString(col) equals value; the others keep their order. The
    // cursor goes back to the first row. Removing the last row leaves the table as a query
    // without rows leaves it.
    void DeleteRowsWhere(unsigned col, std::string_view value);

private:
    enum class TKind : uint8_t { Empty, Int, Double, Text, Blob };
    // One cell in 16 bytes. Text and Blob cells hold their bytes' place in the arena and their
    // length; Int and Double cells hold their value's bits. An Empty cell is a NULL or a blob of
    // length 0; a text of length 0 is a Text cell.
    struct TCell {
        uint64_t value = 0;
        uint32_t length = 0;
        TKind kind = TKind::Empty;
    };
    static_assert(sizeof(TCell) <= 16);

    // Cell bytes live in a few large blocks that never move once allocated, so that reading a
    // big result costs few allocations and views survive appending. A place is the block index
    // in the high 32 bits and the offset in the low ones.
    class TArena {
    public:
        // Room for length bytes (length > 0); sets place to where they go.
        char* Reserve(size_t length, uint64_t& place);
        std::string_view Bytes(uint64_t place, uint32_t length) const {
            return {fblocks[place >> 32].data.get() + static_cast<uint32_t>(place), length};
        }

    private:
        struct TBlock {
            std::unique_ptr<char[]> data;
            size_t size = 0;
            size_t capacity = 0;
        };
        std::vector<TBlock> fblocks;
        size_t fcurrent = 0;  // the block that small values go to
        size_t ftotal = 0;    // bytes reserved so far, which sizes the next block
    };

    void ReadRow(sqlite3_stmt* statement);
    const TCell& CurrentCell(unsigned I) const;
    std::string_view BytesOf(const TCell& cell) const;
    std::string TextOf(const TCell& cell) const;
    bool Matches(const TCell& cell, std::string_view value) const;
    void AddBytes(TKind kind, const char* bytes, size_t length);
    void Compact();
    void Clear();

    std::vector<TCell> fResults;  // row-major: row R, column K at R * fColCount + K
    std::vector<int> fColTypes;   // fixed by the first row
    uint32_t fRowCount = 0;
    uint32_t fColCount = 0;
    uint32_t fRow = 0;

    TArena farena;
    size_t flive = 0;     // arena bytes that cells refer to
    size_t fgarbage = 0;  // arena bytes of removed rows, reclaimed by Compact

    // Blob streams made on demand, keyed by cell index; those of removed rows move to fretired,
    // so that every stream handed out lives as long as the table.
    mutable std::unordered_map<size_t, std::unique_ptr<TSQLiteBlob>> fblobs;
    std::vector<std::unique_ptr<TSQLiteBlob>> fretired;
};
