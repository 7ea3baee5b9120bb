// The knowledge base file: its schema on first use, the statements it is written with, and the
// writing of entries.
#include "core/knowledgebase.h"

#include <gtest/gtest.h>

#include <set>

#include "port/errors.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"

namespace {

std::string SchemaOf(TSQLiteDatabase& DB, const std::string& table) {
    return DB.GetTableString("select sql from sqlite_master where type='table' and name='" + table +
                             "'");
}

int CountOf(TSQLiteDatabase& DB, const std::string& sql) {
    return static_cast<int>(DB.GetTable(sql)->FieldAsInteger(0));
}

TEST(KnowledgeBaseOpening, NewFileGetsItsTablesAndTheDefaultTextSize) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    EXPECT_EQ(file, dir.Path() + "/pelloquin.dat");
    EXPECT_EQ(kb::KnowledgeBaseFile(dir.Path() + "/"), file);
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        // SQLite keeps each statement as written but for the upper-cased "CREATE TABLE" and the
        // closing semicolon.
        auto stored = [](std::string_view statement) {
            std::string s = "CREATE TABLE" + std::string(statement.substr(12));
            if (s.back() == ';') s.pop_back();
            return s;
        };
        EXPECT_EQ(SchemaOf(DB, "textdata"), stored(kb::kCreateTextdata));
        EXPECT_EQ(SchemaOf(DB, "vectors"), stored(kb::kCreateVectors));
        EXPECT_EQ(SchemaOf(DB, "settings"), stored(kb::kCreateSettings));
        EXPECT_EQ(SchemaOf(DB, "bestterms"), stored(kb::kCreateBestTerms));
        EXPECT_EQ(kb::ReadFontSize(DB), 10);
    }
    // A later start finds everything and creates nothing.
    TSQLiteDatabase DB(file);
    const std::string schema = DB.GetTableString("select group_concat(sql,';') from sqlite_master");
    kb::CreateMissingTables(DB);
    EXPECT_EQ(DB.GetTableString("select group_concat(sql,';') from sqlite_master"), schema);
    EXPECT_EQ(CountOf(DB, "select count(*) from settings"), 1);
}

TEST(KnowledgeBaseOpening, MissingTablesAreAddedAndExistingDataKept) {
    TTempDir dir;
    {
        TSQLiteDatabase DB(dir.File("a.dat"));
        DB.ExecSQL(kb::kCreateTextdata);
        DB.ExecSQL(kb::kCreateVectors);
        kb::SaveEntry(DB, "printer jams", "clean the rollers");
        kb::CreateMissingTables(DB);
        EXPECT_EQ(kb::ReadFontSize(DB), 10);
        EXPECT_EQ(CountOf(DB, "select count(*) from textdata"), 2);
        EXPECT_EQ(CountOf(DB, "select count(*) from vectors"), 2);
    }
    TSQLiteDatabase DB(dir.File("b.dat"));
    DB.ExecSQL(kb::kCreateSettings);
    DB.ExecSQL("insert into settings values ('FONTSIZE','12')");
    kb::CreateMissingTables(DB);
    EXPECT_TRUE(DB.TableExists("textdata"));
    EXPECT_TRUE(DB.TableExists("vectors"));
    EXPECT_EQ(kb::ReadFontSize(DB), 12);
    EXPECT_EQ(CountOf(DB, "select count(*) from settings"), 1);
}

TEST(KnowledgeBaseOpening, StoredTextSizeIsReadWithALeadingZero) {
    TTempDir dir;
    TSQLiteDatabase DB(dir.File("kb.dat"));
    kb::CreateMissingTables(DB);
    kb::WriteFontSize(DB, 13);
    EXPECT_EQ(kb::ReadFontSize(DB), 13);
    DB.ExecSQL("update settings set value='' where ID='FONTSIZE'");
    EXPECT_EQ(kb::ReadFontSize(DB), 0);
    DB.ExecSQL("update settings set value='-5' where ID='FONTSIZE'");
    try {
        kb::ReadFontSize(DB);
        FAIL() << "a negative size must not read";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'0-5' is not a valid integer value");
    }
    DB.ExecSQL("Delete from settings");
    try {
        kb::ReadFontSize(DB);
        FAIL() << "a missing row must not read";
    } catch (const ESQLiteException& e) {
        EXPECT_STREQ(e.what(), "Table is at End of File");
    }
}

TEST(KnowledgeBaseStatements, AreWrittenAsEarlierVersionsWroteThem) {
    TGUID guid;
    guid.D1 = 0x6F9619FF;
    guid.D2 = 0x8B86;
    guid.D3 = 0xD011;
    const uint8_t tail[8] = {0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
    std::copy(tail, tail + 8, guid.D4);
    EXPECT_EQ(kb::GuidToID(guid), "6f9619ff8b86d011b42d00c04fc964ff");
    EXPECT_EQ(kb::GuidToID(NewGuid()).size(), 32u);

    EXPECT_EQ(kb::UpdateFontSizeSQL(11), "update settings set value='11' where ID='FONTSIZE'");
    EXPECT_EQ(kb::InsertTextSQL("id", "1/2/26", "P", "it's"),
              "insert into textdata values ('id','1/2/26',NULL,'P','it''s')");
    EXPECT_EQ(kb::InsertVectorSQL("id", "S", "a=1\r\n"),
              "insert into vectors values ('id','S','a=1\r\n')");
    EXPECT_EQ(kb::SelectDescriptionSQL("id", "P"),
              "select description from textdata where ID='id' AND texttype='P'");
    EXPECT_EQ(kb::DeleteTextsSQL("id"), "Delete from textdata where ID='id'");
    EXPECT_EQ(kb::DeleteVectorsSQL("id"), "Delete from vectors where ID='id'");
    EXPECT_EQ(kb::DoubleApostrophes("it's 'x'"), "it''s ''x''");
}

class KnowledgeBaseEntries : public testing::Test {
protected:
    void SetUp() override {
        DB = std::make_unique<TSQLiteDatabase>(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(*DB);
    }
    TTempDir dir;
    std::unique_ptr<TSQLiteDatabase> DB;
};

TEST_F(KnowledgeBaseEntries, SaveStoresTextsExactlyWithTheirVectors) {
    const std::string problem = "it's broken\r\ncaf\xE9 \x80";
    const std::string ID = kb::SaveEntry(*DB, problem, "");
    EXPECT_EQ(kb::ReadDescription(*DB, ID, "P"), problem);
    EXPECT_EQ(kb::ReadDescription(*DB, ID, "S"), "");
    EXPECT_EQ(
        DB->GetTableString("select vectordata from vectors where ID='" + ID + "' and texttype='P'"),
        EncodeCV(problem)->Text());
    EXPECT_EQ(
        DB->GetTableString("select vectordata from vectors where ID='" + ID + "' and texttype='S'"),
        "");
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata where credited is not null"), 0);
    EXPECT_FALSE(DB->GetTableString("select created from textdata where ID='" + ID + "'").empty());

    // Two saves in the same second still get their own IDs.
    std::set<std::string> ids{ID};
    for (int i = 0; i < 5; ++i)
        ids.insert(kb::SaveEntry(*DB, "p", "s"));
    EXPECT_EQ(ids.size(), 6u);
}

TEST_F(KnowledgeBaseEntries, DeleteRemovesAllFourRows) {
    const std::string keep = kb::SaveEntry(*DB, "keep", "this");
    const std::string gone = kb::SaveEntry(*DB, "remove", "that");
    kb::DeleteEntry(*DB, gone);
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata where ID='" + gone + "'"), 0);
    EXPECT_EQ(CountOf(*DB, "select count(*) from vectors where ID='" + gone + "'"), 0);
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata where ID='" + keep + "'"), 2);
    EXPECT_EQ(CountOf(*DB, "select count(*) from vectors where ID='" + keep + "'"), 2);
}

TEST_F(KnowledgeBaseEntries, AFailedSaveLeavesNoHalfEntry) {
    DB->ExecSQL("drop table vectors");
    EXPECT_THROW(kb::SaveEntry(*DB, "problem", "solution"), ESQLiteException);
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata"), 0);
    // The connection is usable again: no transaction was left open.
    DB->ExecSQL(kb::kCreateVectors);
    kb::SaveEntry(*DB, "problem", "solution");
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata"), 2);
}

TEST_F(KnowledgeBaseEntries, AFailedDeleteRemovesNothing) {
    const std::string ID = kb::SaveEntry(*DB, "problem", "solution");
    DB->ExecSQL("create trigger stop before delete on vectors begin select raise(abort,'no'); end");
    EXPECT_THROW(kb::DeleteEntry(*DB, ID), ESQLiteException);
    EXPECT_EQ(CountOf(*DB, "select count(*) from textdata"), 2);
    EXPECT_EQ(CountOf(*DB, "select count(*) from vectors"), 2);
}

// IDs that another program wrote: every statement that names one must touch that entry alone.
TEST_F(KnowledgeBaseEntries, IDsHoldingQuotesReachOnlyTheirOwnEntry) {
    const std::string first = kb::SaveEntry(*DB, "printer jams", "clean the rollers");
    const std::string second = kb::SaveEntry(*DB, "scanner offline", "replug it");
    for (const std::string hostile : {"x' OR '1'='1", "'", "a''b", "x'--"}) {
        SCOPED_TRACE(hostile);
        for (const char* type : {"P", "S"}) {
            DB->ExecSQL(kb::InsertTextSQL(hostile, "", type, std::string("monitor ") + type));
            DB->ExecSQL(kb::InsertVectorSQL(hostile, type, EncodeCV("monitor")->Text()));
        }
        EXPECT_EQ(kb::ReadDescription(*DB, hostile, "P"), "monitor P");
        EXPECT_EQ(kb::ReadDescription(*DB, hostile, "S"), "monitor S");

        // The search's text lookups, at a full load and for an entry added later, find its own
        // texts.
        TSQLiteStore store(kb::KnowledgeBaseFile(dir.Path()));
        store.Open();
        TSearchIndex index;
        store.LoadAll(index);
        auto pass = index.Search(*EncodeCV("monitor"));
        ASSERT_EQ(pass->hits.size(), 2u);
        EXPECT_EQ(pass->hits[0].ID, hostile);
        EXPECT_EQ(pass->hits[0].Title, "monitor P...");
        store.DeleteEntry(hostile, &index);
        for (const char* type : {"P", "S"}) {
            DB->ExecSQL(kb::InsertTextSQL(hostile, "", type, std::string("monitor ") + type));
            DB->ExecSQL(kb::InsertVectorSQL(hostile, type, EncodeCV("monitor")->Text()));
        }
        store.Sync(index);
        EXPECT_EQ(index.Search(*EncodeCV("monitor"))->hits.at(1).Title, "monitor S...");
        EXPECT_EQ(store.ReadEntry(hostile).solution, "monitor S");

        kb::DeleteEntry(*DB, hostile);
        EXPECT_EQ(CountOf(*DB, "select count(*) from textdata"), 4);
        EXPECT_EQ(CountOf(*DB, "select count(*) from vectors"), 4);
    }
    EXPECT_EQ(kb::ReadDescription(*DB, first, "S"), "clean the rollers");
    EXPECT_EQ(kb::ReadDescription(*DB, second, "P"), "scanner offline");
}

TEST_F(KnowledgeBaseEntries, NulCharactersAreLeftOutOfASavedTextAndItsVectorIsUnchanged) {
    const std::string problem("before\0after printer", 20);
    const std::string ID = kb::SaveEntry(*DB, problem, std::string("\0", 1));
    EXPECT_EQ(kb::ReadDescription(*DB, ID, "P"), "beforeafter printer");
    EXPECT_EQ(kb::ReadDescription(*DB, ID, "S"), "");
    EXPECT_EQ(DB->GetTableString("select vectordata from vectors where texttype='P'"),
              EncodeCV(problem)->Text());
}

// A file whose vectors table went missing gets it back, with the vectors the saves had written.
TEST(KnowledgeBaseOpening, AMissingVectorsTableIsRebuiltFromTheStoredTexts) {
    TTempDir dir;
    TSQLiteDatabase DB(dir.File("kb.dat"));
    kb::CreateMissingTables(DB);
    for (int i = 0; i < 20; ++i)
        kb::SaveEntry(DB, "printer " + std::to_string(i) + " jams, it's stuck", i % 3 ? "" : "fix");
    // A text another program stored with a NUL in it: its vector counts the bytes after it too.
    DB.ExecSQL(kb::InsertTextSQL("nul", "", "P", "x"));
    DB.ExecSQL(
        "update textdata set description=cast(x'7072696e7465720064' as text) where ID='nul'");
    DB.ExecSQL(kb::InsertVectorSQL("nul", "P", EncodeCV(std::string("printer\0d", 9))->Text()));
    const char* all = "select ID||texttype||vectordata from vectors order by ID,texttype";
    auto rows = [&] {
        std::vector<std::string> r;
        for (auto t = DB.GetTable(all); !t->Eof(); t->Next())
            r.push_back(t->FieldAsString(0));
        return r;
    };
    const auto before = rows();
    DB.ExecSQL("drop table vectors");
    kb::CreateMissingTables(DB);
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(CountOf(DB, "select count(*) from settings"), 1);

    // A vectors table without textdata gets textdata; its rows stay.
    DB.ExecSQL("drop table textdata");
    kb::CreateMissingTables(DB);
    EXPECT_TRUE(DB.TableExists("textdata"));
    EXPECT_EQ(rows(), before);
}

}  // namespace
