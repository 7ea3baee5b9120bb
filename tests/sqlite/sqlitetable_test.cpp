// Query results: the cursor, type codes from declarations, every reader on every kind of cell,
// zero-copy views, and keeping a loaded table equal to a fresh load while rows come and go.
#include "sqlite/sqlitedb.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <random>

#include "tempdir.h"

namespace {

template <class F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const ESQLiteException& e) {
        return e.what();
    }
    return "(no exception)";
}

const char kEof[] = "Table is at End of File";
const char kNotNumber[] = "Not an integer or numeric field";
const char kNotBlob[] = "Not a Blob field";

class TableTest : public ::testing::Test {
protected:
    TTempDir dir;
    TSQLiteDatabase DB{dir.File("test.db")};
};

// Every cell of two tables, compared through the readers the program uses.
void ExpectSameCells(const TSQLiteTable& actual, const TSQLiteTable& expected) {
    ASSERT_EQ(actual.Count(), expected.Count());
    ASSERT_EQ(actual.ColCount(), expected.ColCount());
    for (unsigned k = 0; k < expected.ColCount(); ++k)
        EXPECT_EQ(actual.ColType(k), expected.ColType(k));
    for (int r = 0; r < expected.Count(); ++r) {
        for (unsigned k = 0; k < expected.ColCount(); ++k) {
            ASSERT_EQ(actual.CellView(r, k), expected.CellView(r, k))
                << "row " << r << " col " << k;
        }
    }
}

TEST_F(TableTest, AQueryWithoutRowsIsAtItsEndAtOnce) {
    DB.ExecSQL("create table t (s text, n INTEGER, b BLOB)");
    auto table = DB.GetTable("select s, n, b from t");
    EXPECT_EQ(table->Count(), 0);
    EXPECT_EQ(table->ColCount(), 0u);
    EXPECT_TRUE(table->Eof());
    EXPECT_FALSE(table->MoveFirst());
    EXPECT_FALSE(table->Next());
    EXPECT_EQ(MessageOf([&] { table->Fields(0); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldAsString(0); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldAsInteger(1); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldAsDouble(1); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldAsBlob(2); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldAsBlobText(2); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->FieldView(0); }), kEof);
    EXPECT_EQ(MessageOf([&] { table->CellView(0, 0); }), "Row index out of range");
}

TEST_F(TableTest, TheCursorWalksEveryRowAndStopsAtTheEnd) {
    DB.ExecSQL("create table t (v text)");
    for (const char* v : {"a", "b", "c"})
        DB.ExecSQL(std::string("insert into t values ('") + v + "')");
    auto table = DB.GetTable("select v from t order by v");
    EXPECT_EQ(table->Count(), 3);
    std::string walked;
    for (bool more = table->MoveFirst(); more && !table->Eof(); table->Next()) {
        walked += table->FieldAsString(0);
    }
    EXPECT_EQ(walked, "abc");
    EXPECT_TRUE(table->Eof());
    EXPECT_FALSE(table->Next());  // a second step past the end changes nothing
    EXPECT_EQ(MessageOf([&] { table->FieldAsString(0); }), kEof);
    ASSERT_TRUE(table->MoveFirst());
    ASSERT_TRUE(table->Next());
    ASSERT_TRUE(table->Next());
    EXPECT_EQ(table->FieldAsString(0), "c");
    EXPECT_TRUE(table->Next());  // the step onto the end still succeeds
    EXPECT_TRUE(table->Eof());
    EXPECT_FALSE(table->Next());
}

TEST_F(TableTest, TypeCodesComeFromTheExactDeclaredTypeOrTheFirstValue) {
    DB.ExecSQL(
        "create table t (a INTEGER, b BOOLEAN, c NUMERIC, d FLOAT, e DOUBLE, f REAL, g BLOB, "
        "h integer, i Integer, j text, k varchar(40), l char(1), m datetime, n blob)");
    DB.ExecSQL("insert into t values (1, 1, 1, 1, 1, 1, x'01', 1, 1, 'x', 'x', 'x', 'x', x'01')");
    auto table = DB.GetTable("select * from t");
    const int expected[] = {dtInt, dtInt, dtNumeric, dtNumeric, dtNumeric, dtNumeric, dtBlob,
                            dtStr, dtStr, dtStr,     dtStr,     dtStr,     dtStr,     dtStr};
    ASSERT_EQ(table->ColCount(), 14u);
    for (unsigned k = 0; k < 14; ++k)
        EXPECT_EQ(table->ColType(k), expected[k]) << "column " << k;
    EXPECT_EQ(table->ColType(14), 0);

    // However the schema quotes its names, the spelling of the type decides.
    DB.ExecSQL(
        "create table \"odd \"\"name\"\"\" ([my col] integer, `c2` Real /* a comment, with a "
        "comma */, 'c3' blob, c4 INTEGER primary key, -- (comment\n c5 REAL check (c5 > 0), c6 "
        "integer(5), c7 BLOB, unique (c5, c6))");
    DB.ExecSQL("insert into \"odd \"\"name\"\"\" values (1, 1, x'01', 1, 1, 1, x'01')");
    auto odd = DB.GetTable("select * from \"odd \"\"name\"\"\"");
    const int oddExpected[] = {dtStr, dtStr, dtStr, dtInt, dtNumeric, dtStr, dtBlob};
    ASSERT_EQ(odd->ColCount(), 7u);
    for (unsigned k = 0; k < 7; ++k)
        EXPECT_EQ(odd->ColType(k), oddExpected[k]) << "column " << k;
    DB.ExecSQL("create view v as select [my col] as renamed, c4 from \"odd \"\"name\"\"\"");
    auto view = DB.GetTable("select * from v");
    EXPECT_EQ(view->ColType(0), dtStr);
    EXPECT_EQ(view->ColType(1), dtInt);
    DB.ExecSQL("create temp table tt (a integer, b INTEGER)");
    DB.ExecSQL("insert into tt values (1, 1)");
    auto temp = DB.GetTable("select a, b, rowid from tt");
    EXPECT_EQ(temp->ColType(0), dtStr);
    EXPECT_EQ(temp->ColType(1), dtInt);
    EXPECT_EQ(temp->ColType(2), dtInt);

    auto expressions = DB.GetTable("select 1 + 1, 0.5, 'x', x'00', NULL");
    for (unsigned k = 0; k < 5; ++k)
        EXPECT_EQ(expressions->ColType(k), static_cast<int>(k + 1));
    EXPECT_EQ(dtInt, 1);
    EXPECT_EQ(dtNull, 5);
}

TEST_F(TableTest, ALowerCaseIntegerColumnIsText) {
    DB.ExecSQL("create table t (n integer, m INTEGER)");
    DB.ExecSQL("insert into t values (42, 42)");
    auto table = DB.GetTable("select n, m from t");
    EXPECT_EQ(table->ColType(0), dtStr);
    EXPECT_EQ(table->FieldAsString(0), "42");
    EXPECT_EQ(table->FieldView(0), "42");
    EXPECT_EQ(MessageOf([&] { table->FieldAsInteger(0); }), kNotNumber);
    EXPECT_EQ(MessageOf([&] { table->FieldAsDouble(0); }), kNotNumber);
    EXPECT_EQ(table->FieldAsInteger(1), 42);
    EXPECT_EQ(MessageOf([&] { table->FieldAsBlob(1); }), kNotBlob);
    EXPECT_EQ(MessageOf([&] { table->FieldAsBlobText(0); }), kNotBlob);
}

TEST_F(TableTest, NumbersReadAsIntegersDoublesAndText) {
    DB.ExecSQL("create table t (i INTEGER, d REAL)");
    DB.ExecSQL("insert into t values (-9223372036854775808, -2.7)");
    DB.ExecSQL("insert into t values (9223372036854775807, 1.0 / 3)");
    DB.ExecSQL("insert into t values (7, 1e20)");
    DB.ExecSQL("insert into t values (0, 9e999)");  // infinity
    DB.ExecSQL("insert into t values (NULL, 2.5)");
    auto table = DB.GetTable("select i, d from t order by rowid");

    EXPECT_EQ(table->FieldAsInteger(0), INT64_MIN);
    EXPECT_EQ(table->Fields(0), "-9223372036854775808");
    EXPECT_EQ(table->FieldAsInteger(1), -2);  // toward zero
    EXPECT_DOUBLE_EQ(table->FieldAsDouble(1), -2.7);
    EXPECT_EQ(table->Fields(1), "-2.7");
    EXPECT_EQ(table->FieldView(1), "");  // a number has no stored text
    table->Next();
    EXPECT_EQ(table->FieldAsString(0), "9223372036854775807");
    EXPECT_DOUBLE_EQ(table->FieldAsDouble(0), 9223372036854775807.0);
    EXPECT_EQ(table->Fields(1), "0.333333333333333");  // 15 significant digits
    EXPECT_EQ(table->FieldAsInteger(1), 0);
    table->Next();
    EXPECT_EQ(table->Fields(1), "1e+20");
    EXPECT_EQ(table->FieldAsInteger(1), INT64_MAX);  // beyond the 64-bit range: saturates
    table->Next();
    EXPECT_EQ(table->FieldAsInteger(1), INT64_MAX);
    table->Next();
    // NULL in a number column: 0 from the readers and from Fields, '' from FieldAsString.
    EXPECT_EQ(table->FieldAsInteger(0), 0);
    EXPECT_EQ(table->FieldAsDouble(0), 0.0);
    EXPECT_EQ(table->Fields(0), "0");
    EXPECT_EQ(table->FieldAsString(0), "");
    EXPECT_EQ(table->FieldAsString(1), "2.5");
}

TEST_F(TableTest, DoublesUseTheUsersDecimalSeparator) {
    DB.ExecSQL("create table t (d REAL)");
    DB.ExecSQL("insert into t values (2.5)");
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    auto table = DB.GetTable("select d from t");
    const std::string text = table->Fields(0);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "2,5");
}

TEST_F(TableTest, NullCellsAndEmptyBlobsReadAsEmptyWithoutTypeErrors) {
    DB.ExecSQL("create table t (s text, b BLOB, n integer)");
    DB.ExecSQL("insert into t values (NULL, NULL, NULL)");
    DB.ExecSQL("insert into t values ('', x'', '')");
    auto table = DB.GetTable("select s, b, n from t order by rowid");
    for (unsigned k = 0; k < 3; ++k) {
        EXPECT_EQ(table->FieldAsString(k), "");
        EXPECT_EQ(table->Fields(k), "");
        EXPECT_EQ(table->FieldAsInteger(k), 0);
        EXPECT_EQ(table->FieldAsDouble(k), 0.0);
        EXPECT_EQ(table->FieldAsBlob(k), nullptr);
        EXPECT_EQ(table->FieldAsBlobText(k), "");
        EXPECT_EQ(table->FieldView(k), "");
    }
    table->Next();
    // An empty text is a value of its column's type, unlike an empty blob.
    EXPECT_EQ(table->FieldAsString(0), "");
    EXPECT_EQ(MessageOf([&] { table->FieldAsInteger(0); }), kNotNumber);
    EXPECT_EQ(table->FieldAsBlob(1), nullptr);
    EXPECT_EQ(table->FieldAsBlobText(1), "");
}

TEST_F(TableTest, NulCutsATextButNotABlob) {
    DB.ExecSQL("create table t (s text, b BLOB)");
    DB.ExecSQL("insert into t values ('ab' || char(0) || 'cd', x'610062')");
    DB.ExecSQL("insert into t values (x'610062', 'ab' || char(0) || 'cd')");
    auto table = DB.GetTable("select s, b from t order by rowid");
    EXPECT_EQ(table->FieldAsString(0), "ab");
    EXPECT_EQ(table->FieldView(0), "ab");
    EXPECT_EQ(table->FieldAsBlobText(1), std::string("a\0b", 3));
    EXPECT_EQ(table->Fields(1), std::string("a\0b", 3));
    table->Next();
    EXPECT_EQ(table->FieldAsString(0), "a");  // a blob value in a text column is text
    EXPECT_EQ(table->FieldAsBlobText(1), std::string("ab\0cd", 5));
}

TEST_F(TableTest, BlobStreamsBelongToTheTableAndKeepTheirPosition) {
    DB.ExecSQL("create table t (id text, b BLOB)");
    DB.ExecSQL("insert into t values ('one', x'00010203040506070809')");
    DB.ExecSQL("insert into t values ('two', x'FF')");
    auto table = DB.GetTable("select id, b from t order by rowid");
    TSQLiteBlob* stream = table->FieldAsBlob(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Size(), 10u);
    EXPECT_EQ(stream->Position(), 0u);
    char buffer[16] = {};
    EXPECT_EQ(stream->Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), std::string("\0\1\2\3", 4));
    EXPECT_EQ(stream->Read(buffer, 16), 6u);
    EXPECT_EQ(buffer[5], '\x09');
    EXPECT_EQ(stream->Read(buffer, 16), 0u);
    stream->Seek(100);
    EXPECT_EQ(stream->Position(), 10u);
    stream->Seek(8);
    EXPECT_EQ(table->FieldAsBlob(1), stream);  // the same stream, position kept
    EXPECT_EQ(stream->Position(), 8u);
    EXPECT_EQ(table->FieldAsBlobText(1).size(), 10u);

    // A stream handed out lives as long as its table, even once its row is removed.
    table->DeleteRowsWhere(0, "one");
    EXPECT_EQ(stream->Bytes().size(), 10u);
    EXPECT_EQ(table->FieldAsBlobText(1), "\xFF");
    TSQLiteBlob* second = table->FieldAsBlob(1);
    EXPECT_NE(second, stream);
    EXPECT_EQ(second->Bytes(), "\xFF");
}

TEST_F(TableTest, ColumnIndicesOutOfRangeAreReported) {
    DB.ExecSQL("create table t (a text, b text)");
    DB.ExecSQL("insert into t values ('x', 'y')");
    auto table = DB.GetTable("select a, b from t");
    EXPECT_EQ(MessageOf([&] { table->Fields(2); }), "Column index out of range");
    EXPECT_EQ(MessageOf([&] { table->FieldAsInteger(2); }), "Column index out of range");
    EXPECT_EQ(MessageOf([&] { table->FieldView(99); }), "Column index out of range");
    EXPECT_EQ(MessageOf([&] { table->CellView(0, 2); }), "Column index out of range");
    EXPECT_EQ(MessageOf([&] { table->CellView(1, 0); }), "Row index out of range");
    EXPECT_EQ(MessageOf([&] { table->DeleteRowsWhere(2, "x"); }), "Column index out of range");
}

TEST_F(TableTest, AnUntypedColumnStartingWithNullReadsLaterValuesAsText) {
    auto table = DB.GetTable("values (NULL), ('abc'), (7)");
    EXPECT_EQ(table->ColType(0), dtNull);
    EXPECT_EQ(table->FieldAsString(0), "");
    table->Next();
    EXPECT_EQ(table->FieldAsString(0), "abc");
    EXPECT_EQ(table->Fields(0), "abc");
    EXPECT_EQ(table->FieldView(0), "abc");
    EXPECT_EQ(MessageOf([&] { table->FieldAsInteger(0); }), kNotNumber);
    table->Next();
    EXPECT_EQ(table->FieldAsString(0), "7");
}

TEST_F(TableTest, ViewsReadAnyRowWithoutMovingTheCursorAndSurviveAppending) {
    DB.ExecSQL("create table t (id text, v text)");
    DB.ExecSQL("insert into t values ('a', 'alpha')");
    DB.ExecSQL("insert into t values ('b', 'beta')");
    auto table = DB.GetTable("select id, v from t order by rowid");
    EXPECT_EQ(table->CellView(1, 1), "beta");
    EXPECT_EQ(table->FieldView(1), "alpha");  // the cursor is still on row 0
    const std::string_view alpha = table->CellView(0, 1);

    // Enough rows to need many new arena blocks, some values big enough for a block of their own.
    DB.ExecSQL("create table big (id text, v text)");
    DB.ExecSQL(
        "insert into big with recursive n(i) as (select 0 union all select i + 1 from n where i "
        "< 299) select i, printf('%.*c', case when i % 50 = 0 then 3145728 else 20000 end, "
        "char(i % 26 + 65)) from n");
    auto big = DB.GetTable("select id, v from big order by rowid");
    table->AppendRows(*big);
    EXPECT_EQ(alpha, "alpha");  // still pointing at live bytes
    ASSERT_EQ(table->Count(), 302);
    for (int i = 0; i < 300; ++i) {
        const std::string_view v = table->CellView(i + 2, 1);
        ASSERT_EQ(v.size(), i % 50 == 0 ? size_t{3} << 20 : 20000u);
        ASSERT_EQ(v.find_first_not_of(static_cast<char>(i % 26 + 65)), std::string_view::npos);
    }
}

TEST_F(TableTest, AppendRowsAdoptsColumnsWhenEmptyAndRefusesOthers) {
    DB.ExecSQL("create table t (id text, n INTEGER)");
    DB.ExecSQL("insert into t values ('a', 1)");
    auto empty = DB.GetTable("select id, n from t where 0");
    auto rows = DB.GetTable("select id, n from t");
    empty->AppendRows(*rows);
    EXPECT_EQ(empty->ColType(1), dtInt);
    ExpectSameCells(*empty, *rows);

    auto otherTypes = DB.GetTable("select id, id from t");
    auto otherCount = DB.GetTable("select id from t");
    EXPECT_EQ(MessageOf([&] { empty->AppendRows(*otherTypes); }),
              "Appended rows have other columns");
    EXPECT_EQ(MessageOf([&] { empty->AppendRows(*otherCount); }),
              "Appended rows have other columns");
    ExpectSameCells(*empty, *rows);  // unchanged

    auto none = DB.GetTable("select id from t where 0");
    empty->AppendRows(*none);  // nothing to append, whatever its columns
    EXPECT_EQ(empty->Count(), 1);

    // Appending a table to itself doubles it, and the cursor goes back to the first row.
    empty->Next();
    empty->AppendRows(*empty);
    EXPECT_EQ(empty->Count(), 2);
    EXPECT_FALSE(empty->Eof());
    EXPECT_EQ(empty->CellView(1, 0), "a");
    EXPECT_EQ(empty->FieldAsInteger(1), 1);
}

TEST_F(TableTest, DeleteRowsWhereRemovesEveryMatchAndKeepsTheOrder) {
    DB.ExecSQL("create table t (id text, n INTEGER)");
    for (const char* row : {"('x', 1)", "('y', 2)", "('x', 3)", "('z', NULL)", "('x', 5)"}) {
        DB.ExecSQL(std::string("insert into t values ") + row);
    }
    auto table = DB.GetTable("select id, n from t order by rowid");
    table->Next();
    table->DeleteRowsWhere(0, "x");
    ASSERT_EQ(table->Count(), 2);
    EXPECT_EQ(table->FieldAsString(0), "y");  // back on the first row
    EXPECT_EQ(table->CellView(1, 0), "z");
    table->DeleteRowsWhere(0, "x");  // no match: nothing changes
    EXPECT_EQ(table->Count(), 2);
    table->DeleteRowsWhere(1, "");  // matches as FieldAsString does: NULL is ''
    ASSERT_EQ(table->Count(), 1);
    table->DeleteRowsWhere(1, "2");
    EXPECT_EQ(table->Count(), 0);
    EXPECT_TRUE(table->Eof());
    EXPECT_EQ(table->ColCount(), 0u);  // as a query without rows
    table->DeleteRowsWhere(5, "x");    // nothing to remove from an empty table

    auto fresh = DB.GetTable("select id, n from t order by rowid");
    table->AppendRows(*fresh);
    ExpectSameCells(*table, *fresh);
}

// The program keeps its loaded table current by appending what a save adds and removing what a
// delete removes; after any such sequence the table must equal a fresh load.
TEST_F(TableTest, IncrementalUpdatesMatchAFreshLoad) {
    DB.ExecSQL("PRAGMA synchronous=OFF");  // speed only; durability is not under test
    DB.ExecSQL("create table v (ID text, texttype text, vectordata text)");
    const char* kLoad = "select ID, texttype, vectordata from v order by rowid";
    std::mt19937 random(7);
    int nextId = 0;
    std::vector<std::string> ids;
    auto save = [&] {
        const std::string id = "id" + std::to_string(nextId++);
        const int64_t mark =
            DB.GetTable("select coalesce(max(rowid), 0) from v")->FieldAsInteger(0);
        for (const char* type : {"P", "S"}) {
            const int size = static_cast<int>(random() % 3000);
            DB.ExecSQL("insert into v values ('" + id + "', '" + type + "', printf('%.*c', " +
                       std::to_string(size) + ", char(97 + " + std::to_string(nextId % 26) + ")))");
        }
        ids.push_back(id);
        return DB.GetTable("select ID, texttype, vectordata from v where rowid > " +
                           std::to_string(mark) + " order by rowid");
    };

    for (int i = 0; i < 50; ++i)
        save();
    auto table = DB.GetTable(kLoad);
    for (int step = 0; step < 400; ++step) {
        if (!ids.empty() && random() % 2) {
            const size_t pick = random() % ids.size();
            DB.ExecSQL("delete from v where ID = '" + ids[pick] + "'");
            table->DeleteRowsWhere(0, ids[pick]);
            ids.erase(ids.begin() + static_cast<long>(pick));
        } else {
            auto added = save();
            table->AppendRows(*added);
        }
        if (step % 40 == 0 || step == 399) {
            auto fresh = DB.GetTable(kLoad);
            ExpectSameCells(*table, *fresh);
        }
    }
}

}  // namespace
