// The office-server store with one program at a time: texts of every byte value come back byte
// for byte and show as the file shows them; a file's entries copied to the server give the same
// hits in the same order; the text size stays the user's own; a statement kept waiting by another
// program's lock ends after the statement limit, saying so, and a write then stores nothing.
#include "core/store/pgstore.h"

#include <gtest/gtest.h>

#include <random>

#include "core/transfer/entryimport.h"
#include "core/knowledgebase.h"
#include "pgtest.h"
#include "core/store/servercopy.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"
#include "core/store/usersettings.h"

namespace {

class PgStoreTest : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_SERVER();
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        db = std::make_unique<TPgTestDatabase>(*TestServer());
    }

    std::vector<THit> FileHits(const std::string& file, const std::string& text) {
        TSQLiteStore store(file);
        store.Open();
        TSearchIndex index;
        store.LoadAll(index);
        return HitsOf(*index.Search(*EncodeCV(text)));
    }

    TTempDir dir;
    std::unique_ptr<TPgTestDatabase> db;
};

TEST_F(PgStoreTest, TextsOfEveryByteValueComeBackByteForByteAndShowAsTheFileShowsThem) {
    std::mt19937 rng(11);
    auto bytes = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        return s;
    };
    std::string ascending, descending;
    for (int b = 0; b < 256; ++b) {
        ascending += static_cast<char>(b);
        descending += static_cast<char>(255 - b);
    }
    // Every text holds "zebra", so that a search for it lists them all.
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"zebra " + ascending, descending},
        {"zebra " + std::string(kUtf8Mark) +
             "Gr\xC3\xBC\xC3\x9F"
             "e \xE2\x9C\x93 caf\xC3\xA9",
         ""},
        {"zebra it's \\x00 a 'quoted' \\\\ \"text\"\t\r\n", "\\N\t\\."},
        {"zebra " + bytes(5000), bytes(300)},
        {"zebra " + bytes(90), bytes(90)},
        {"zebra", std::string(kUtf8Mark) + "\xFF\xFE not UTF-8 after the mark"},
    };
    TRecordingEngine writer(std::make_unique<TPgStore>(db->Conninfo()));
    ASSERT_EQ(writer->OpenNow().error, "");
    std::vector<std::string> IDs;
    for (const auto& [problem, solution] : texts)
        IDs.push_back(writer->Save(problem, solution));
    const std::string edited = "zebra edited " + bytes(400);
    writer->Replace(IDs[4], edited, descending);

    TPgStore reader(db->Conninfo());
    reader.Open();
    for (size_t i = 0; i < texts.size(); ++i) {
        const TEntryTexts read = reader.ReadEntry(IDs[i]);
        EXPECT_EQ(read.problem, kb::WithoutNuls(i == 4 ? edited : texts[i].first)) << i;
        EXPECT_EQ(read.solution, kb::WithoutNuls(i == 4 ? descending : texts[i].second)) << i;
    }

    writer->Search("zebra");
    writer.WaitIdle();
    const std::vector<THit> hits = writer.Last();
    ASSERT_EQ(hits.size(), texts.size());
    for (const THit& hit : hits) {
        const size_t i = std::find(IDs.begin(), IDs.end(), hit.ID) - IDs.begin();
        ASSERT_LT(i, IDs.size());
        const std::string stored = kb::WithoutNuls(i == 4 ? edited : texts[i].first);
        EXPECT_EQ(hit.Title, HitTitleUtf8(stored)) << i;
        EXPECT_EQ(hit.excerpt, HitExcerptUtf8(stored)) << i;
    }
    EXPECT_EQ(hits, FreshHits(db->Conninfo(), "zebra"));
}

TEST_F(PgStoreTest, AFilesEntriesCopiedToTheServerGiveTheSameHitsInTheSameOrder) {
    const std::string file = dir.File("pelloquin.dat");
    std::mt19937 rng(5);
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        FillRandomly(DB, rng, 400);
    }
    TPgStore server(db->Conninfo());
    size_t reported = 0;
    const TCopyResult first = CopyEntriesToServer(file, server, [&](size_t done, size_t total) {
        EXPECT_LE(done, total);
        reported = done;
    });
    EXPECT_EQ(first.alreadyThere, 0u);
    EXPECT_EQ(first.refusedRows, 0u);
    {
        TSQLiteDatabase DB(file);
        EXPECT_EQ(first.copied, static_cast<size_t>(DB.GetTable("select count(*) from (select ID "
                                                                "from textdata union select ID "
                                                                "from vectors)")
                                                        ->FieldAsInteger(0)));
        EXPECT_EQ(reported,
                  static_cast<size_t>(DB.GetTable("select (select count(*) from textdata) + "
                                                  "(select count(*) from vectors)")
                                          ->FieldAsInteger(0)));
    }

    for (const std::string query : {"printer jam", "the", "network error driver", "caf\xE9 x"})
        EXPECT_EQ(FreshHits(db->Conninfo(), query), FileHits(file, query)) << query;
    TSQLiteStore source(file);
    source.Open();
    // Exported in the file's order of first save, not the order of the IDs.
    std::vector<std::string> fileOrder, serverOrder;
    source.ForEachEntry([&](const TStoredEntry& e) { fileOrder.push_back(e.ID); }, {});
    server.ForEachEntry([&](const TStoredEntry& e) { serverOrder.push_back(e.ID); }, {});
    EXPECT_EQ(serverOrder, fileOrder);
    const auto IDs = source.Database()->GetTable("select distinct ID from textdata");
    for (int r = 0; r < IDs->Count(); ++r) {
        const std::string ID(IDs->CellView(r, 0));
        const TEntryTexts there = server.ReadEntry(ID), here = source.ReadEntry(ID);
        EXPECT_EQ(there.problem, here.problem);
        EXPECT_EQ(there.solution, here.solution);
    }

    // A second copy leaves what the server holds alone, an entry edited there included.
    const std::string edited(IDs->CellView(0, 0));
    server.ReplaceEntry(edited, "edited on the server", "", {}, nullptr);
    const TCopyResult second = CopyEntriesToServer(file, server);
    EXPECT_EQ(second.copied, 0u);
    EXPECT_EQ(second.alreadyThere, first.copied);
    EXPECT_EQ(server.ReadEntry(edited).problem, "edited on the server");
}

// The entries as a store hands them out: ID, dates and texts, in its order.
std::vector<std::string> EntriesOf(TKnowledgeStore& store) {
    std::vector<std::string> entries;
    EXPECT_TRUE(store.ForEachEntry(
        [&](const TStoredEntry& e) {
            entries.push_back(e.ID + "|" + e.created + "|" + e.solutionCreated + "|" + e.problem +
                              "|" + e.solution);
        },
        {}));
    return entries;
}

TEST_F(PgStoreTest, AFileImportedToTheServerExportsAsTheFileDoesAndIsSearchedAlike) {
    const std::string file = dir.File("pelloquin.dat");
    std::mt19937 rng(8);
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        for (int i = 0; i < 300; ++i)
            kb::SaveEntry(DB, RandomText(rng, 12), RandomText(rng, 12));
        // An entry without its problem text, one the server cannot hold, and a text with a NUL.
        DB.ExecSQL("delete from textdata where rowid = 7");
        DB.ExecSQL(kb::InsertTextSQL(std::string(41, 'x'), "today", "P", "printer"));
        DB.ExecSQL(kb::InsertTextSQL(std::string(41, 'x'), "today", "S", "jam"));
        DB.ExecSQL(
            "update textdata set description = 'printer' || char(0) || 'jam' where rowid = 9");
    }
    TSQLiteStore local(file);
    local.Open();
    TRecordingEngine server(std::make_unique<TPgStore>(db->Conninfo()));
    ASSERT_EQ(server->OpenNow().error, "");

    // Cancelled, nothing stays.
    const TImportSummary cancelled =
        server->Import(*OpenEntrySource(file), [](uint64_t, uint64_t) { return false; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(server->LiveTexts(), 0u);

    const TImportSummary summary = server->Import(*OpenEntrySource(file));
    EXPECT_EQ(summary.imported, 300u);
    EXPECT_EQ(summary.failed, 1u);
    std::vector<std::string> expected = EntriesOf(local);
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [](const std::string& e) { return e.starts_with("xxxxx"); }),
                   expected.end());
    EXPECT_EQ(EntriesOf(server->Store()), expected);
    for (const std::string query : {"printer jam", "the", "network error driver"}) {
        server->Search(query);
        server.WaitIdle();
        EXPECT_EQ(server.Last(), FreshHits(db->Conninfo(), query)) << query;
    }

    const TImportSummary again = server->Import(*OpenEntrySource(file));
    EXPECT_EQ(again.imported, 0u);
    EXPECT_EQ(again.skipped, 300u);
}

// Best match's terms on the server: saves, edits and deletes of this version keep them, an
// earlier version's writes (which leave them alone) make rows missing or stale, and a load lists
// what a load from the texts alone lists, whether the rows are there, stale or all gone; the
// first load writes back the rows it had to read from the texts.
TEST_F(PgStoreTest, BestMatchListsAlikeWithItsTermsRowsPresentStaleOrGone) {
    auto rows = [&](const std::string& query) {
        TPgStore store(db->Conninfo());
        store.Open();
        TSearchIndex index(TRanking::BestMatch);
        store.LoadAll(index);
        index.Settle();
        return HitsOf(*index.SearchBest(StoredFromUtf8(query), true));
    };
    const char* const words[] = {"printer", "jams", "paper", "café", "réseau", "Zähler",
                                 "принтеры", "打印机", "driver", "drivers", "the", "monitor",
                                 "scanner", "network", "email", "outlook", "reboot", "cable",
                                 "toner", "wifi", "login", "password", "vpn", "flickers"};
    std::mt19937 rng(28);
    auto text = [&] {
        std::string t;
        for (int i = std::uniform_int_distribution<int>(1, 8)(rng); i > 0; --i)
            t += std::string(words[rng() % std::size(words)]) + (i == 5 ? "\n" : " ");
        return StoredFromUtf8(t);
    };
    TPgStore writer(db->Conninfo());
    writer.Open();
    std::vector<std::string> IDs;
    for (int i = 0; i < 60; ++i)
        IDs.push_back(writer.SaveEntry(text(), text(), nullptr));
    for (int i = 0; i < 10; ++i)
        writer.ReplaceEntry(IDs[rng() % IDs.size()], text(), text(), {}, nullptr);
    writer.DeleteEntry(IDs.back(), nullptr);
    IDs.pop_back();
    TPgConnection& c = db->Look();
    // An earlier version's edits (new vector rows, the terms left as they were) and saves.
    for (int i = 0; i < 8; ++i) {
        const std::string& ID = IDs[rng() % IDs.size()];
        const std::string p = text(), s = text();
        c.Query("update textdata set description = $2::bytea where ID = $1::varchar and "
                "texttype = 'P'",
                {TPgParam::Text(ID), TPgParam::Bytes(p)});
        c.Query("delete from vectors where ID = $1::varchar", {TPgParam::Text(ID)});
        c.Query("insert into vectors (ID, texttype, vectordata) values ($1::varchar, 'P', "
                "$2::bytea), ($1::varchar, 'S', $3::bytea)",
                {TPgParam::Text(ID), TPgParam::Bytes(EncodeCV(p)->Text()),
                 TPgParam::Bytes(EncodeCV(s)->Text())});
    }
    for (int i = 0; i < 5; ++i) {
        const std::string ID = "old" + std::to_string(i), p = text(), s = text();
        c.Query("insert into textdata values ($1::varchar, 'today', null, 'P', $2::bytea), "
                "($1::varchar, 'today', null, 'S', $3::bytea)",
                {TPgParam::Text(ID), TPgParam::Bytes(p), TPgParam::Bytes(s)});
        c.Query("insert into vectors (ID, texttype, vectordata) values ($1::varchar, 'P', "
                "$2::bytea), ($1::varchar, 'S', $3::bytea)",
                {TPgParam::Text(ID), TPgParam::Bytes(EncodeCV(p)->Text()),
                 TPgParam::Bytes(EncodeCV(s)->Text())});
    }
    const std::string kBelonging =
        "select count(*) from bestterms b join vectors v on v.seq = b.seq and v.ID = b.ID and "
        "v.texttype = b.texttype";
    EXPECT_LT(c.Query(kBelonging).Int64(0, 0), c.Query("select count(*) from vectors").Int64(0, 0));
    size_t listed = 0;
    for (const std::string query : {"printer jams", "cafe", "принтер", "打印", "drive"}) {
        const std::vector<THit> first = rows(query);  // rows missing and stale: written back
        EXPECT_EQ(c.Query(kBelonging).Int64(0, 0),
                  c.Query("select count(*) from vectors").Int64(0, 0));
        EXPECT_EQ(rows(query), first) << query;  // every row there
        c.Exec("delete from bestterms");
        EXPECT_EQ(rows(query), first) << query;  // every text read
        listed += first.size();
    }
    EXPECT_GT(listed, 20u);
}

TEST_F(PgStoreTest, TheTextSizeIsTheUsersOwnAndNeverOnTheServer) {
    TPgStore mine(db->Conninfo());
    mine.Open();
    EXPECT_EQ(mine.ReadFontSize(), 10);
    mine.WriteFontSize(14);
    EXPECT_EQ(TPgStore(db->Conninfo()).ReadFontSize(), 14);

    setenv("XDG_CONFIG_HOME", dir.File("someone-else").c_str(), 1);
    EXPECT_EQ(mine.ReadFontSize(), 10);
    for (const char* damaged : {"large", "-5", "", "12pt"}) {
        WriteUserSetting("textsize", damaged);
        EXPECT_EQ(mine.ReadFontSize(), 10) << damaged;
    }
    EXPECT_EQ(db->Look().Exec("select value from settings where ID = 'FONTSIZE'").Rows(), 1);
    EXPECT_EQ(db->Look().Exec("select count(*) from settings where value <> '10'").Bytes(0, 0),
              "0");
}

TEST_F(PgStoreTest, AStatementKeptWaitingEndsAfterTheLimitSayingSoAndAWriteStoresNothing) {
    TPgStore store(db->Conninfo());
    store.SetStatementLimit(std::chrono::milliseconds(300));
    store.Open();
    TSearchIndex index;
    store.LoadAll(index);
    const std::string ID = store.SaveEntry("printer jams", "clean the rollers", &index);

    // Another program holds the texts locked, in a transaction it keeps open.
    TPgConnection& other = db->Look();
    other.Exec("BEGIN; LOCK TABLE textdata IN ACCESS EXCLUSIVE MODE");
    auto slow = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const Exception& e) {
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    for (const std::string& message :
         {slow([&] { store.SaveEntry("scanner cable", "replace it", &index); }),
          slow([&] { store.ReplaceEntry(ID, "printer jams again", "restart", {}, &index); }),
          slow([&] { store.DeleteEntry(ID, &index); }), slow([&] { store.ReadEntry(ID); })}) {
        EXPECT_TRUE(message.starts_with("The office server did not answer within a second; "))
            << message;
    }
    other.Exec("ROLLBACK");

    // Nothing of the writes was stored, and the store goes on.
    EXPECT_EQ(db->Look().Exec("select count(*) from textdata").Bytes(0, 0), "2");
    EXPECT_EQ(store.ReadEntry(ID).problem, "printer jams");
    EXPECT_EQ(index.LiveKeys().size(), 2u);
}

}  // namespace
