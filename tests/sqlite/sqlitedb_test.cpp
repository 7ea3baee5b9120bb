// The database object: opening, executing statements, the table-existence query, text passing
// through unchanged, and the exact message of every failure.
#include "sqlite/sqlitedb.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tempdir.h"

namespace {

// The message of the ESQLiteException that f raises, or "(no exception)".
template <class F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const ESQLiteException& e) {
        return e.what();
    }
    return "(no exception)";
}

class DatabaseTest : public ::testing::Test {
protected:
    TTempDir dir;
    std::string file = dir.File("test.db");
    TSQLiteDatabase DB{file};
};

TEST(DatabaseOpen, CreatesTheFileInSerializedModeWithTheTwoPragmas) {
    TTempDir dir;
    const std::string file = dir.File("new.db");
    ASSERT_FALSE(std::filesystem::exists(file));
    {
        TSQLiteDatabase DB(file);
        EXPECT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(DB.GetTableString("PRAGMA synchronous"), "1");  // NORMAL
        EXPECT_EQ(DB.GetTableString("PRAGMA temp_store"), "2");   // MEMORY
        // A connection has its own mutex only in serialized mode.
        EXPECT_NE(sqlite3_db_mutex(DB.Handle()), nullptr);
        DB.ExecSQL("create table t (v text)");
        DB.ExecSQL("insert into t values ('kept')");
    }
    TSQLiteDatabase again(file);
    EXPECT_EQ(again.GetTableString("select v from t"), "kept");
}

TEST(DatabaseOpen, FailureNamesTheFileAndSQLitesReason) {
    TTempDir dir;
    const std::string missingDir = dir.File("no/such/dir.db");
    EXPECT_EQ(MessageOf([&] { TSQLiteDatabase DB(missingDir); }),
              "Failed to open database \"" + missingDir + "\" : unable to open database file");
    EXPECT_EQ(MessageOf([&] { TSQLiteDatabase DB(dir.Path()); }),
              "Failed to open database \"" + dir.Path() + "\" : unable to open database file");
}

TEST(DatabaseOpen, AFileThatIsNoDatabaseFailsAtItsFirstStatement) {
    TTempDir dir;
    const std::string file = dir.File("garbage.db");
    std::ofstream(file) << std::string(4096, 'x');
    // The open itself is lazy; at the latest the first query reports the damage.
    const std::string message = MessageOf([&] {
        TSQLiteDatabase DB(file);
        DB.GetTable("select * from sqlite_master");
    });
    EXPECT_NE(message.find("file is not a database"), std::string::npos) << message;
}

TEST(DatabaseOpen, ExistingAndReadOnlyModesNeverCreateAndReadOnlyNeverWrites) {
    TTempDir dir;
    const std::string missing = dir.File("missing.db");
    for (TOpenMode mode : {TOpenMode::Existing, TOpenMode::ReadOnly}) {
        EXPECT_NE(MessageOf([&] { TSQLiteDatabase DB(missing, mode); }), "(no exception)");
        EXPECT_FALSE(std::filesystem::exists(missing));
    }
    const std::string file = dir.File("t.db");
    TSQLiteDatabase(file).ExecSQL("create table t (v text)");
    TSQLiteDatabase(file, TOpenMode::Existing).ExecSQL("insert into t values ('a')");
    TSQLiteDatabase reader(file, TOpenMode::ReadOnly);
    EXPECT_EQ(reader.GetTableString("select v from t"), "a");
    EXPECT_NE(MessageOf([&] {
                  reader.ExecSQL("insert into t values ('b')");
              }).find("attempt to write a readonly database"),
              std::string::npos);
}

TEST(DatabaseOpen, EveryConnectionDistrustsTheFilesSchemaAndCannotWriteItsStructure) {
    TTempDir dir;
    const std::string file = dir.File("t.db");
    TSQLiteDatabase(file).ExecSQL("create table t (v text)");
    for (TOpenMode mode : {TOpenMode::Create, TOpenMode::Existing, TOpenMode::ReadOnly}) {
        TSQLiteDatabase DB(file, mode);
        int defensive = -1, trusted = -1;
        sqlite3_db_config(DB.Handle(), SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
        sqlite3_db_config(DB.Handle(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, -1, &trusted);
        EXPECT_EQ(defensive, 1);
        EXPECT_EQ(trusted, 0);
    }
    TSQLiteDatabase DB(file);
    DB.ExecSQL("PRAGMA writable_schema=ON");
    EXPECT_NE(MessageOf([&] { DB.ExecSQL("update sqlite_master set sql='create table t (w)'"); }),
              "(no exception)");
    EXPECT_EQ(DB.GetTableString("select sql from sqlite_master"), "CREATE TABLE t (v text)");
}

TEST(DatabaseBackup, CopiesOneStateOfTheDatabaseWhileAnotherConnectionWrites) {
    TTempDir dir;
    const std::string file = dir.File("source.db"), copy = dir.File("copy.db");
    TSQLiteDatabase writer(file);
    writer.ExecSQL("create table t (n integer, pad text)");
    for (int i = 0; i < 200; ++i)
        writer.ExecSQL("insert into t values (" + std::to_string(i) + ", zeroblob(2000))");
    // Writes go on beside a copy made one page per step; each restarts it.
    std::atomic<bool> done{false};
    std::atomic<int> written{200};
    std::thread writes([&] {
        while (!done) {
            try {
                writer.ExecSQL("insert into t values (" + std::to_string(written) + ", 'w')");
                ++written;
            } catch (const ESQLiteException&) {
                // The copy held its read lock at that moment.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    try {
        // Opening reads the schema, which waits while a write commits, as the backup does.
        TSQLiteDatabase(file, TOpenMode::ReadOnly, 30000).BackupTo(copy, 1);
    } catch (const ESQLiteException& e) {
        ADD_FAILURE() << e.what();
    }
    done = true;
    writes.join();
    TSQLiteDatabase copied(copy, TOpenMode::ReadOnly);
    EXPECT_EQ(copied.GetTableString("PRAGMA integrity_check"), "ok");
    // One state of the source: rows 0..k-1, none missing in between.
    const auto rows = copied.GetTable("select count(*), max(n) from t");
    EXPECT_GE(rows->FieldAsInteger(0), 200);
    EXPECT_LE(rows->FieldAsInteger(0), written.load());
    EXPECT_EQ(rows->FieldAsInteger(1), rows->FieldAsInteger(0) - 1);

    // A target that cannot be written is reported.
    EXPECT_NE(MessageOf([&] {
                  writer.BackupTo(dir.File("no/such/dir.db"));
              }).find("Failed to open database"),
              std::string::npos);
}

TEST_F(DatabaseTest, ExecSQLRunsOnlyTheFirstStatementOfItsText) {
    DB.ExecSQL("create table t (n integer)");
    DB.ExecSQL("insert into t values (1); insert into t values (2)");
    EXPECT_EQ(DB.GetTableString("select group_concat(n) from t"), "1");
    // A NUL ends the text, as it does for a C string.
    DB.ExecSQL(std::string_view("insert into t values (3)\0garbage", 32));
    EXPECT_EQ(DB.GetTableString("select group_concat(n) from t"), "1,3");
    // A statement that yields no row is fine, even a select.
    DB.ExecSQL("select n from t where n > 100");
}

TEST_F(DatabaseTest, ExecSQLFailuresCarryTheStatementAndSQLitesMessage) {
    DB.ExecSQL("create table t (id integer primary key, v text not null)");
    DB.ExecSQL("insert into t values (1, 'a')");

    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("selec 1"); }),
              "Error executing SQL \"selec 1\" : near \"selec\": syntax error");
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("insert into missing values (1)"); }),
              "Error executing SQL \"insert into missing values (1)\" : no such table: missing");
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("insert into t values (1, 'b')"); }),
              "Error executing SQL statement \"insert into t values (1, 'b')\" : UNIQUE "
              "constraint failed: t.id");
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("insert into t values (2, NULL)"); }),
              "Error executing SQL statement \"insert into t values (2, NULL)\" : NOT NULL "
              "constraint failed: t.v");
    // A statement that yields a row fails at its step.
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("select v from t"); }),
              "Error executing SQL statement \"select v from t\" : another row available");
    // The failed statements wrote nothing; the earlier row stays.
    EXPECT_EQ(DB.GetTableString("select count(*) || ',' || group_concat(v) from t"), "1,a");
}

TEST_F(DatabaseTest, ALongStatementIsShortenedInItsMessageAndANulIsWrittenOut) {
    DB.ExecSQL("create table t (v text)");
    // A text longer than any ID is left out of the message, whatever its length.
    std::string text;
    while (text.size() < (1u << 20))
        text += "line of a long text\r\n";
    for (const std::string& literal : {text, std::string(41, 'x'), std::string(42, '\'')}) {
        EXPECT_EQ(MessageOf([&] { DB.ExecSQL("insert into missing values ('" + literal + "')"); }),
                  "Error executing SQL \"insert into missing values ('...')\" : no such table: "
                  "missing");
    }
    // An ID-sized one stays; a statement still long keeps its beginning and end, on one line.
    std::string values = "'" + std::string(40, 'i') + "'";
    while (values.size() < 4000)
        values += ",\r\n'line of a long text'";
    const std::string message =
        MessageOf([&] { DB.ExecSQL("insert into missing values (" + values + ")"); });
    EXPECT_LT(message.size(), 420u);
    EXPECT_EQ(message.rfind("Error executing SQL \"insert into missing values ('" +
                                std::string(40, 'i') + "',  'line of a",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("..."), std::string::npos);
    EXPECT_NE(message.find("'line of a long text')\" : no such table: missing"), std::string::npos)
        << message;
    EXPECT_EQ(message.find('\n'), std::string::npos);
    // A short statement stays whole, and a NUL in it no longer ends the message.
    EXPECT_EQ(
        MessageOf([&] { DB.ExecSQL(std::string("insert into missing values ('a\0b')", 34)); }),
        "Error executing SQL \"insert into missing values ('a\\0b')\" : unrecognized token: "
        "\"'a\"");
}

TEST_F(DatabaseTest, NothingToCompileFailsWithoutDetailEvenAfterAnEarlierError) {
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL(""); }), "Could not prepare SQL statement");
    // A failure just before must not lend its message to this one.
    EXPECT_NE(MessageOf([&] { DB.ExecSQL("selec 1"); }), "(no exception)");
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("   "); }), "Could not prepare SQL statement");
    EXPECT_EQ(MessageOf([&] { DB.ExecSQL("-- only a comment"); }),
              "Could not prepare SQL statement");
    EXPECT_EQ(MessageOf([&] { DB.GetTable(""); }), "Could not prepare SQL statement");
    EXPECT_EQ(MessageOf([&] { DB.GetTableString(";"); }), "Could not prepare SQL statement");
}

TEST_F(DatabaseTest, TableBuildFailuresHaveTheirOwnMessages) {
    EXPECT_EQ(MessageOf([&] { DB.GetTable("select * from missing"); }),
              "Error executing SQL \"select * from missing\" : no such table: missing");
    // An error while stepping, after rows were already read (the half-built table is freed).
    DB.ExecSQL("create table t (n integer)");
    DB.ExecSQL("insert into t values (1)");
    DB.ExecSQL("insert into t values (-9223372036854775808)");
    EXPECT_EQ(MessageOf([&] { DB.GetTable("select abs(n) from t order by rowid"); }),
              "Could not retrieve data \"select abs(n) from t order by rowid\" : integer overflow");
}

TEST_F(DatabaseTest, ALockedDatabaseIsReportedAndNeverRetried) {
    DB.ExecSQL("create table t (n integer)");
    DB.ExecSQL("insert into t values (1)");
    TSQLiteDatabase other(file);
    ASSERT_EQ(other.GetTableString("select n from t"), "1");  // its schema is now loaded
    DB.ExecSQL("BEGIN EXCLUSIVE");
    // A busy step while reading is reported without detail.
    EXPECT_EQ(MessageOf([&] { other.GetTable("select n from t"); }),
              "Could not prepare SQL statement");
    EXPECT_EQ(MessageOf([&] { other.ExecSQL("insert into t values (2)"); }),
              "Error executing SQL statement \"insert into t values (2)\" : database is locked");
    DB.ExecSQL("COMMIT");
    other.ExecSQL("insert into t values (2)");
    EXPECT_EQ(DB.GetTableString("select count(*) from t"), "2");
}

TEST_F(DatabaseTest, GetTableStringGivesColumnZeroOfTheFirstRow) {
    DB.ExecSQL("create table t (a text, b text)");
    EXPECT_EQ(MessageOf([&] { DB.GetTableString("select a from t"); }), "Table is at End of File");
    DB.ExecSQL("insert into t values ('first', 'x')");
    DB.ExecSQL("insert into t values ('second', 'y')");
    DB.ExecSQL("insert into t values (NULL, 'z')");
    EXPECT_EQ(DB.GetTableString("select a, b from t order by rowid"), "first");
    EXPECT_EQ(DB.GetTableString("select a from t where b = 'z'"), "");
}

TEST_F(DatabaseTest, TableExistsIgnoresCaseAndSeesOnlyTables) {
    DB.ExecSQL("create table MixedCase (n integer)");
    DB.ExecSQL("create index SomeIndex on MixedCase (n)");
    DB.ExecSQL("create view SomeView as select n from MixedCase");
    EXPECT_TRUE(DB.TableExists("MixedCase"));
    EXPECT_TRUE(DB.TableExists("mixedcase"));
    EXPECT_TRUE(DB.TableExists("MIXEDCASE"));
    EXPECT_FALSE(DB.TableExists("mixed"));
    EXPECT_FALSE(DB.TableExists("SomeIndex"));
    EXPECT_FALSE(DB.TableExists("SomeView"));
    EXPECT_FALSE(DB.TableExists(""));
}

TEST_F(DatabaseTest, TextPassesThroughByteForByte) {
    // Every byte but NUL, including ones that are not valid UTF-8; apostrophes doubled.
    std::string bytes;
    std::string quoted;
    std::string hex;
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        bytes += c;
        quoted += c;
        if (c == '\'') quoted += c;
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    DB.ExecSQL("create table t (v text)");
    DB.ExecSQL("insert into t values ('" + quoted + "')");
    EXPECT_EQ(DB.GetTableString("select hex(v) from t"), hex);  // stored unchanged
    EXPECT_EQ(DB.GetTableString("select v from t"), bytes);     // read back unchanged
    EXPECT_EQ(DB.GetTableString("select v from t where v = '" + quoted + "'"), bytes);
}

}  // namespace
