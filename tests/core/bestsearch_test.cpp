// Best match as the stores keep it: an index changed by this program's writes, by another
// program's writes taken in through Sync, and by a change of ranking ranks exactly as an index
// loaded afresh from the same file does.
#include "core/bestsearch.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "core/engine.h"
#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"
#include "textsearch/bestmatch/bestrow.h"
#include "textsearch/cvvector.h"

namespace {

// Words of several languages and forms, so that pairing, accents and stems are all exercised.
const char* const kWords[] = {
    "printer", "printers", "printing", "jams",   "paper",  "scanner", "network", "the",
    "café",    "cafe",     "réseau",   "Zähler", "zahler", "принтер", "принтеры", "打印机",
    "reboot",  "driver",   "drivers",  "email",  "outlook", "monitor", "flickers", "a"};

std::string RandomText(std::mt19937& random) {
    std::uniform_int_distribution<size_t> word(0, std::size(kWords) - 1);
    std::string text;
    const int words = std::uniform_int_distribution<int>(0, 9)(random);
    for (int i = 0; i < words; ++i) {
        if (i > 0) text += i == 3 ? "\n" : " ";
        text += kWords[word(random)];
    }
    return StoredFromUtf8(text);
}

// A pass as the list shows it: ID, text type, score, title, excerpt and bold ranges, best first.
std::vector<std::string> Rows(const TSearchPass& pass) {
    std::vector<std::string> rows;
    for (int p = pass.tree->Count() - 1; p >= 0; --p) {
        const TcvResults& hit = *pass.tree->Items(p)->data;
        std::string row = std::string(hit.ID) + '|' + std::string(pass.TextTypeOf(hit)) + '|' +
                          std::to_string(hit.Proximity) + '|' + std::string(hit.Title) + '|' +
                          std::string(hit.excerpt);
        const size_t i = static_cast<size_t>(&hit - pass.hits.data());
        for (const TBoldRange& b : pass.bold.at(i))
            row += '|' + std::to_string(b.begin) + '-' + std::to_string(b.end);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> FreshRows(const std::string& file, const std::string& query) {
    TSQLiteStore store(file, TOpenMode::ReadOnly);
    store.Open();
    TSearchIndex index(TRanking::BestMatch);
    store.LoadAll(index);
    index.Settle();
    return Rows(*index.SearchBest(query, true));
}

TEST(BestSearch, WritesHereAndElsewhereRankAsAFreshLoadDoes) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    TSQLiteStore here(file), elsewhere(file);
    here.Open();
    elsewhere.Open();
    TSearchIndex index(TRanking::BestMatch);
    here.LoadAll(index);
    index.Settle();

    std::mt19937 random(20261209);
    std::vector<std::string> IDs;
    int listed = 0;  // passes that listed something: the comparison is not of two empty lists
    for (int step = 0; step < 300; ++step) {
        const int op = std::uniform_int_distribution<int>(0, 9)(random);
        const bool other = op >= 7;  // another program's write, taken in by the next sync
        TKnowledgeStore& store = other ? elsewhere : here;
        TSearchIndex* const own = other ? nullptr : &index;
        const size_t pick = IDs.empty() ? 0 : random() % IDs.size();
        if (IDs.empty() || op % 7 < 3) {
            IDs.push_back(store.SaveEntry(RandomText(random), RandomText(random), own));
        } else if (op % 7 < 5) {
            store.ReplaceEntry(IDs[pick], RandomText(random), RandomText(random), {}, own);
        } else {
            store.DeleteEntry(IDs[pick], own);
            IDs.erase(IDs.begin() + static_cast<ptrdiff_t>(pick));
        }
        here.Sync(index);
        index.Settle();
        const std::string query = RandomText(random);
        const std::vector<std::string> rows = Rows(*index.SearchBest(query, true));
        ASSERT_EQ(rows, FreshRows(file, query)) << "step " << step << ", query " << query;
        listed += rows.empty() ? 0 : 1;
    }
    EXPECT_GT(listed, 200);
    EXPECT_EQ(index.LiveCount(), 2 * IDs.size());
}

// What a Best match pass of the file must list, made the way it was before the terms table: the
// entries' texts read whole (each vector row paired with its text, in rowid order), indexed from
// their words, and the rows made from the texts in memory.
std::vector<std::string> RowsFromTexts(const std::string& file, const std::string& query) {
    TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
    struct TEntry {
        std::string ID, problem, solution;
        bool hasProblem = false, hasSolution = false;
    };
    std::vector<TEntry> entries;
    std::map<std::string, size_t> place;
    {
        TSQLiteCursor rows(DB,
                           "select v.ID,v.texttype,cast(t.description as blob) from vectors v "
                           "join textdata t on t.ID=v.ID and t.texttype=v.texttype order by "
                           "v.rowid");
        while (rows.Next()) {
            const auto [it, added] = place.try_emplace(std::string(rows.Text(0)), entries.size());
            if (added) entries.push_back(TEntry{std::string(rows.Text(0)), "", "", false, false});
            TEntry& e = entries[it->second];
            const bool problem = rows.Text(1) == "P";
            (problem ? e.problem : e.solution) = Utf8FromStored(rows.Text(2));
            (problem ? e.hasProblem : e.hasSolution) = true;
        }
    }
    TBestMatchIndex index(ReadWords);
    std::vector<TEntryText> texts;
    for (const TEntry& e : entries)
        texts.push_back(TEntryText{e.problem, e.solution});
    index.AddBatch(texts);
    const std::vector<std::string> languages = index.Languages();
    const std::vector<TQueryWord> words =
        ReadQueryWords(Utf8FromStored(query), languages, true);
    std::vector<std::string> rows;
    for (const TBestMatchHit& hit : index.Search(words)) {
        const TEntry& e = entries[hit.doc];
        const TBestRow r = MakeBestRow(ReadWords, texts[hit.doc], words, hit.text);
        std::string row = e.ID + '|' + std::string(1, hit.text) + '|' +
                          std::to_string(hit.percent / 100.0f) + '|' + r.title + '|' + r.excerpt;
        for (const TBoldRange& b : r.bold)
            row += '|' + std::to_string(b.begin) + '-' + std::to_string(b.end);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> LoadedRows(const std::string& file, TOpenMode mode,
                                    const std::string& query) {
    TSQLiteStore store(file, mode);
    store.Open();
    TSearchIndex index(TRanking::BestMatch);
    store.LoadAll(index);
    index.Settle();
    return Rows(*index.SearchBest(query, true));
}

int64_t Count(TSQLiteDatabase& DB, const std::string& sql) {
    return DB.GetTable(sql)->FieldAsInteger(0);
}

// The terms rows kept beside the texts change nothing that a pass shows: a file whose rows are
// all there, missing (an earlier version's saves), stale (its edits, deletes and saves into freed
// rowids, with the triggers that drop such rows or without them, as the version before them left
// a file), unreadable or doubled ranks, titles, cuts and bolds as one read from its texts, whether
// opened read-only (rows built in memory) or for writing (rows written back and the triggers
// made, so that the next opening reads none of the texts' words).
TEST(BestSearch, TermsRowsMissingStaleOrPresentListWhatTheTextsDo) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    TSQLiteDatabase DB(file);
    kb::CreateMissingTables(DB);
    std::mt19937 random(20261210);
    std::vector<std::string> IDs;
    int fresh = 0, listed = 0;
    auto earlierSave = [&](const std::string& ID) {
        const std::string p = RandomText(random), s = RandomText(random);
        DB.ExecSQL(kb::InsertTextSQL(ID, "today", kb::kProblem, p));
        DB.ExecSQL(kb::InsertTextSQL(ID, "today", kb::kSolution, s));
        DB.ExecSQL(kb::InsertVectorSQL(ID, kb::kProblem, EncodeCV(p)->Text()));
        DB.ExecSQL(kb::InsertVectorSQL(ID, kb::kSolution, EncodeCV(s)->Text()));
    };
    for (int round = 0; round < 40; ++round) {
        for (int step = 0; step < 6; ++step) {
            const int op = std::uniform_int_distribution<int>(0, 7)(random);
            const size_t pick = IDs.empty() ? 0 : random() % IDs.size();
            if (IDs.empty() || op == 0) {
                IDs.push_back(kb::SaveEntry(DB, RandomText(random), RandomText(random)));
            } else if (op == 1) {
                kb::ReplaceEntry(DB, IDs[pick], RandomText(random), RandomText(random));
            } else if (op == 2) {
                kb::DeleteEntry(DB, IDs[pick]);
                IDs.erase(IDs.begin() + static_cast<ptrdiff_t>(pick));
            } else if (op == 3) {  // an earlier version's save
                IDs.push_back("old" + std::to_string(fresh++));
                earlierSave(IDs.back());
            } else if (op == 4) {  // an earlier version's edit: new vector rows above all
                const std::string p = RandomText(random), s = RandomText(random);
                const int64_t top = Count(DB, "select coalesce(max(rowid),0) from vectors");
                DB.ExecSQL(kb::UpdateTextSQL(IDs[pick], kb::kProblem, p));
                DB.ExecSQL(kb::UpdateTextSQL(IDs[pick], kb::kSolution, s));
                if (kb::BestTermsKept(DB) && step % 2 == 0) {
                    // Vectors changed where they stand: only the triggers can tell (a text of
                    // the same size is stale all the same).
                    DB.ExecSQL("update vectors set vectordata='' where ID='" + IDs[pick] + "'");
                    continue;
                }
                DB.ExecSQL(kb::DeleteVectorsSQL(IDs[pick]));
                DB.ExecSQL(kb::InsertVectorAtSQL(top + 1, IDs[pick], kb::kProblem,
                                                 EncodeCV(p)->Text()));
                DB.ExecSQL(kb::InsertVectorAtSQL(top + 2, IDs[pick], kb::kSolution,
                                                 EncodeCV(s)->Text()));
            } else if (op == 5) {  // an earlier version deletes the newest entry and saves
                const std::string newest = DB.GetTableString(
                    "select ID from vectors where rowid=(select max(rowid) from vectors)");
                DB.ExecSQL(kb::DeleteTextsSQL(newest));
                DB.ExecSQL(kb::DeleteVectorsSQL(newest));
                IDs.erase(std::find(IDs.begin(), IDs.end(), newest));
                IDs.push_back("old" + std::to_string(fresh++));
                earlierSave(IDs.back());  // into the rowids just freed
            } else if (op == 6 && step % 3 == 0) {  // a row this version cannot read
                DB.ExecSQL("update bestterms set terms='bm0' where vectorrow=(select "
                           "min(vectorrow) from bestterms)");
            } else if (op == 6 && step % 3 == 1) {  // each term twice: counted once, as written
                DB.ExecSQL("update bestterms set terms=terms||substr(terms,instr(terms,char(10))+1) "
                           "where vectorrow=(select max(vectorrow) from bestterms)");
            } else if (op == 6) {  // the version before the triggers: nothing marks its rows stale
                for (const std::string_view create : kb::kBestTermsTriggers)
                    DB.ExecSQL("drop trigger if exists " + std::string(kb::TriggerName(create)));
            } else {  // an earlier version deletes an entry
                DB.ExecSQL(kb::DeleteTextsSQL(IDs[pick]));
                DB.ExecSQL(kb::DeleteVectorsSQL(IDs[pick]));
                IDs.erase(IDs.begin() + static_cast<ptrdiff_t>(pick));
            }
        }
        const std::string query = RandomText(random);
        const std::vector<std::string> expected = RowsFromTexts(file, query);
        ASSERT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), expected)
            << "round " << round << ", query " << query;
        if (round % 2 == 0) {  // written back every other round, so that stale rows pile up too
            ASSERT_EQ(LoadedRows(file, TOpenMode::Existing, query), expected) << "round " << round;
            EXPECT_TRUE(kb::BestTermsKept(DB));
            EXPECT_EQ(Count(DB, "select count(*) from bestterms b join vectors v on "
                                "v.rowid=b.vectorrow and v.ID=b.ID and v.texttype=b.texttype"),
                      Count(DB, "select count(*) from vectors"));
            ASSERT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), expected) << "round " << round;
        }
        listed += expected.empty() ? 0 : 1;
    }
    EXPECT_GT(listed, 25);
}

// The index kept as the program closes lists what reading every text lists, until any write to the
// texts (this version's, another program's or an earlier version's) drops it; a damaged image is
// passed over, and a load reads the image rather than the terms rows when it is current.
TEST(BestSearch, AKeptIndexListsWhatTheTextsDoUntilAWriteDropsIt) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    TSQLiteStore here(file), elsewhere(file);
    here.Open();
    elsewhere.Open();
    TSQLiteDatabase DB(file);  // an earlier version's writes, and what the file holds
    TSearchIndex index(TRanking::BestMatch);
    here.LoadAll(index);
    index.Settle();
    const std::string form = TSearchIndex::BestImageForm();
    auto restorable = [&] {
        TSearchIndex restored(TRanking::BestMatch);
        restored.SetTextReader([](std::span<const std::string_view>, const TStoredTextVisit&) {});
        return kb::ReadBestSaved(
                   DB, form, [&](TImageReader& in) { return restored.RestoreBest(in); },
                   [](const kb::TSavedSince& since) { return since.keys.empty(); }) &&
               restored.LiveCount() == index.LiveCount();
    };
    std::mt19937 random(20261211);
    std::vector<std::string> IDs;
    int listed = 0;
    for (int round = 0; round < 60; ++round) {
        const int op = std::uniform_int_distribution<int>(0, 5)(random);
        const size_t pick = IDs.empty() ? 0 : random() % IDs.size();
        TKnowledgeStore& store = op == 4 ? elsewhere : here;
        TSearchIndex* const own = op == 4 ? nullptr : &index;
        if (IDs.empty() || op < 2 || op == 4) {
            for (int i = 0; i < 1 + round % 5; ++i)
                IDs.push_back(store.SaveEntry(RandomText(random), RandomText(random), own));
        } else if (op == 2) {
            here.ReplaceEntry(IDs[pick], RandomText(random), RandomText(random), {}, &index);
        } else if (op == 3) {
            here.DeleteEntry(IDs[pick], &index);
            IDs.erase(IDs.begin() + static_cast<ptrdiff_t>(pick));
        } else {  // an earlier version's edit, in place
            DB.ExecSQL(kb::UpdateTextSQL(IDs[pick], kb::kSolution, RandomText(random)));
        }
        EXPECT_FALSE(kb::BestSavedCurrent(DB, form)) << "round " << round;
        here.Sync(index);
        index.Settle();
        here.KeepIndex(index);
        // Others' writes may have changed a text in place, which a sync cannot see: an index
        // that took them in is not kept, and the next start reads the file.
        const bool others = op >= 4;
        ASSERT_EQ(kb::BestSavedCurrent(DB, form), !others) << "round " << round;
        if (others) {
            // The next start reads the image and what was written since, or, after a write in
            // place, the texts' terms.
            const std::string query = RandomText(random);
            ASSERT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), RowsFromTexts(file, query))
                << "round " << round;
            here.LoadAll(index);
            index.Settle();
            here.KeepIndex(index);
            ASSERT_TRUE(kb::BestSavedCurrent(DB, form)) << "round " << round;
        }
        ASSERT_TRUE(restorable()) << "round " << round;
        const std::string query = RandomText(random);
        const std::vector<std::string> expected = RowsFromTexts(file, query);
        ASSERT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), expected) << "round " << round;
        ASSERT_EQ(Rows(*index.SearchBest(query, true)), expected) << "round " << round;
        listed += expected.empty() ? 0 : 1;
        // Now and then the program starts again from the image, and writes and syncs go on
        // from the index read back.
        if (round % 3 == 0) {
            here.LoadAll(index);
            index.Settle();
        }
    }
    EXPECT_GT(listed, 30);

    // Every terms row made to say one text's terms: a load that read them would list other rows.
    const std::string query = "printer paper";
    const std::vector<std::string> expected = RowsFromTexts(file, query);
    ASSERT_FALSE(expected.empty());
    DB.ExecSQL("update bestterms set terms=(select terms from bestterms order by vectorrow limit 1)");
    EXPECT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), expected);
    // Another program's save, edit and delete (of the entry listed first): the load reads them
    // after the image, not the terms rows.
    const std::string dropped = expected.front().substr(0, expected.front().find('|'));
    std::erase(IDs, dropped);
    // Enough edits that the index takes the entries out in one pass over its lists.
    constexpr size_t kEdits = 40;
    ASSERT_GT(IDs.size(), kEdits);
    elsewhere.SaveEntry(StoredFromUtf8("printer paper"), StoredFromUtf8("fan"), nullptr);
    elsewhere.DeleteEntry(dropped, nullptr);
    for (size_t i = 0; i < kEdits; ++i)
        elsewhere.ReplaceEntry(IDs[i], StoredFromUtf8("paper " + RandomText(random)),
                               StoredFromUtf8("tray"), {}, nullptr);
    EXPECT_EQ(LoadedRows(file, TOpenMode::ReadOnly, query), RowsFromTexts(file, query));
    // An earlier version's edit in place: the image is passed over for the terms rows.
    DB.ExecSQL(kb::UpdateTextSQL(IDs.back(), kb::kProblem, "printer"));
    EXPECT_NE(LoadedRows(file, TOpenMode::ReadOnly, query), RowsFromTexts(file, query));
    // A damaged part: the image is passed over, and the texts' terms (now the wrong ones) read.
    DB.ExecSQL("update bestsaved set image=cast(zeroblob(length(image)) as blob) where part=1");
    EXPECT_FALSE(restorable());
    EXPECT_NE(LoadedRows(file, TOpenMode::ReadOnly, query), expected);
}

// An engine on a file with the passes it hands over.
struct TEngineRun {
    std::mutex mutex;
    std::vector<std::shared_ptr<TSearchPass>> passes;
    std::unique_ptr<TKnowledgeEngine> engine;

    void Open(const std::string& file, TRanking ranking) {
        TKnowledgeEngine::TCallbacks callbacks;
        callbacks.passReady = [this](std::shared_ptr<TSearchPass> pass) {
            std::lock_guard lock(mutex);
            passes.push_back(std::move(pass));
        };
        engine = std::make_unique<TKnowledgeEngine>(std::make_unique<TSQLiteStore>(file),
                                                    std::move(callbacks), ranking);
        ASSERT_EQ(engine->OpenNow().error, "");
    }

    // Waits for the engine to be idle with at least `count` passes handed over.
    bool WaitFor(size_t count) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(mutex);
                if (passes.size() >= count && engine->Idle()) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "no pass";
        return false;
    }

    std::vector<std::string> RowsFor(const std::string& query) {
        const size_t before = passes.size();
        engine->Search(StoredFromUtf8(query), true);
        return WaitFor(before + 1) ? Rows(*passes.back()) : std::vector<std::string>{};
    }
};

// The engine's passes follow the ranking asked for, and a change of ranking searches the last
// text again in the new one.
TEST(BestSearch, TheEngineRebuildsItsIndexWhenTheRankingChanges) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        kb::SaveEntry(DB, "printer jams", "clean the printer's rollers");
        kb::SaveEntry(DB, "monitor flickers", "replace the cable");
    }
    TEngineRun run;
    run.Open(file, TRanking::Classic);
    TKnowledgeEngine& engine = *run.engine;
    const auto& passes = run.passes;
    engine.Search("printe", true);
    ASSERT_TRUE(run.WaitFor(1));
    // Classic knows no word being typed: "printe" is not "printer".
    EXPECT_EQ(passes[0]->tree->Count(), 0);
    engine.SetRanking(TRanking::BestMatch);
    ASSERT_TRUE(run.WaitFor(2));
    ASSERT_EQ(passes[1]->tree->Count(), 1);
    EXPECT_EQ(passes[1]->hits[0].Title, "printer jams");
    EXPECT_EQ(passes[1]->bold.at(0).size(), 1u);
    engine.Save("printer on fire", "water");
    engine.Search("printer", false);
    ASSERT_TRUE(run.WaitFor(3));
    EXPECT_EQ(passes[2]->tree->Count(), 2);
}

// The program keeps its index as it closes, and the next opening lists from it what the closing
// one listed; an engine that took in another program's write keeps none.
TEST(BestSearch, TheEngineKeepsItsIndexAsItCloses) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        std::mt19937 random(20261212);
        for (int i = 0; i < 200; ++i)
            kb::SaveEntry(DB, RandomText(random), RandomText(random));
    }
    TSQLiteDatabase DB(file);
    const std::string form = TSearchIndex::BestImageForm();
    const std::string query = "printer paper";
    std::vector<std::string> listed;
    {
        TEngineRun first;
        first.Open(file, TRanking::BestMatch);
        first.engine->Save(StoredFromUtf8("printer paper jams"), StoredFromUtf8("open the tray"));
        listed = first.RowsFor(query);
        first.engine->KeepIndex();
    }
    ASSERT_TRUE(kb::BestSavedCurrent(DB, form));
    ASSERT_GT(listed.size(), 1u);
    // Terms rows that would list otherwise: the opening reads the image, not them.
    DB.ExecSQL("update bestterms set terms=(select terms from bestterms order by vectorrow limit 1)");
    TEngineRun second;
    second.Open(file, TRanking::BestMatch);
    EXPECT_EQ(second.RowsFor(query), listed);
    TSQLiteStore elsewhere(file);
    elsewhere.Open();
    elsewhere.SaveEntry(StoredFromUtf8("scanner"), StoredFromUtf8("reboot"), nullptr);
    second.engine->KeepIndex();
    EXPECT_FALSE(kb::BestSavedCurrent(DB, form));
    // The next opening lists from the image and the rows written since, and keeps a current one.
    TEngineRun third;
    third.Open(file, TRanking::BestMatch);
    EXPECT_EQ(third.RowsFor(query), RowsFromTexts(file, query));
    EXPECT_EQ(third.RowsFor("scanner reboot"), RowsFromTexts(file, "scanner reboot"));
    third.engine->KeepIndex();
    EXPECT_TRUE(kb::BestSavedCurrent(DB, form));
}

}  // namespace
