// One database object shared by two threads, as the user-interface thread and the search worker
// share it: statements from both run whole, and each failure reports its own statement's error.
#include "sqlite/sqlitedb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tempdir.h"

namespace {

TEST(SharedDatabase, TwoThreadsEachGetTheirOwnResultsAndErrors) {
    TTempDir dir;
    TSQLiteDatabase DB(dir.File("shared.db"));
    DB.ExecSQL("PRAGMA synchronous=OFF");  // speed only; durability is not under test
    DB.ExecSQL("create table a (id integer primary key, v text)");
    DB.ExecSQL("create table b (v text)");
    DB.ExecSQL("insert into a values (1, 'one')");
    constexpr int kRounds = 1000;
    std::atomic<int> wrongMessages{0};
    std::atomic<int> wrongReads{0};

    std::thread writer([&] {
        const std::string duplicate = "insert into a values (1, 'again')";
        for (int i = 0; i < kRounds; ++i) {
            try {
                DB.ExecSQL(duplicate);
                ++wrongMessages;
            } catch (const ESQLiteException& e) {
                if (std::string(e.what()) != "Error executing SQL statement \"" + duplicate +
                                                 "\" : UNIQUE constraint failed: a.id") {
                    ++wrongMessages;
                }
            }
            DB.ExecSQL("insert into b values ('" + std::to_string(i) + "')");
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            const std::string bad = "selec " + std::to_string(i);
            try {
                DB.GetTable(bad);
                ++wrongMessages;
            } catch (const ESQLiteException& e) {
                if (std::string(e.what()) !=
                    "Error executing SQL \"" + bad + "\" : near \"selec\": syntax error") {
                    ++wrongMessages;
                }
            }
            // Each read sees a whole number of the other thread's inserts, in order.
            auto rows = DB.GetTable("select v from b order by rowid");
            for (int r = 0; r < rows->Count(); ++r) {
                if (rows->CellView(r, 0) != std::to_string(r)) ++wrongReads;
            }
            if (DB.GetTableString("select v from a where id = 1") != "one") ++wrongReads;
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(wrongMessages.load(), 0);
    EXPECT_EQ(wrongReads.load(), 0);
    EXPECT_EQ(DB.GetTableString("select count(*) from b"), std::to_string(kRounds));
}

}  // namespace
