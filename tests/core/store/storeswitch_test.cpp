// Moving to an office server and back: what is refused before anything is done, which file the
// way back leads to, what is kept for the next start, and a move with this computer's entries.
#include "core/store/storeswitch.h"

#include <gtest/gtest.h>

#include "choicetest.h"
#include "core/knowledgebase.h"
#include "core/store/pgstore.h"
#include "pgtest.h"
#include "sqlite/sqlitedb.h"

namespace {

using StoreSwitchTest = TChoiceTest;

TEST_F(StoreSwitchTest, AServerThatCannotBeKeptIsRefusedBeforeAnythingIsDone) {
    for (const char* text :
         {"host=kb password=secret", "postgresql://ann:secret@kb/kb", "host=kb colour=blue"}) {
        EXPECT_THROW(TServerMove{text}, Exception) << text;
    }
    EXPECT_FALSE(CurrentChoice().IsServer());
    EXPECT_EQ(TServerMove("office").Server().where, "service=office");
}

TEST_F(StoreSwitchTest, TheWayBackLeadsToTheFileLeftForTheServer) {
    const std::string file = dir.File("team.dat");
    TStoreSwitch swap(FileChoice(file));
    TServerMove move("host=kb.office dbname=kb");
    const TStoreChoice server = swap.MoveTo(move);  // needs no connection to be kept
    EXPECT_EQ(server.where, "host=kb.office dbname=kb");
    EXPECT_EQ(server.source, TStoreChoice::TSource::Saved);
    swap.Use(server);
    // Another server in between does not forget the file.
    swap.Use(ServerChoice("host=other dbname=kb"));
    const TStoreChoice back = swap.MoveBack();
    EXPECT_EQ(back.kind, TStoreChoice::TKind::File);
    EXPECT_EQ(back.where, file);
    EXPECT_EQ(CurrentChoice(), back);

    // Started on a server, the way back is the default file.
    TStoreSwitch fromServer(server);
    EXPECT_EQ(fromServer.MoveBack().where, "");
}

TEST_F(StoreSwitchTest, TheEnvironmentsChoiceIsNotTheUsersToChange) {
    setenv("PELLOQUIN_DATABASE", "host=fixed dbname=kb", 1);
    TStoreSwitch swap(CurrentChoice());
    EXPECT_FALSE(swap.Choosable());
    TServerMove move("host=kb.office dbname=kb");
    EXPECT_EQ(swap.MoveTo(move).where, "host=fixed dbname=kb");  // kept, but not in force
    EXPECT_TRUE(TStoreSwitch(FileChoice("")).Choosable());
}

TEST_F(StoreSwitchTest, AMoveCopiesThisComputersEntriesOnce) {
    REQUIRE_TEST_SERVER();
    TPgTestDatabase server(*TestServer());
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        kb::SaveEntry(DB, "printer jams", "open tray 2");
    }
    TServerMove move(server.Conninfo());
    EXPECT_THROW(move.CopyFrom(file), Exception);  // not connected yet
    move.Connect();
    EXPECT_EQ(move.CopyFrom(file).copied, 1u);
    EXPECT_EQ(move.CopyFrom(file).alreadyThere, 1u);
    TStoreSwitch swap(FileChoice(file));
    const TStoreChoice inForce = swap.MoveTo(move);
    TPgStore store(inForce.where);
    store.Open();
    size_t entries = 0;
    store.ForEachEntry([&](const TStoredEntry&) { ++entries; }, {});
    EXPECT_EQ(entries, 1u);
}

}  // namespace
