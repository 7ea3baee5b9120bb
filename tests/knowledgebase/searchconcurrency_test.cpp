// The search worker and the writer sharing the knowledge base as the main window has them do:
// passes run on the work queue's worker holding its lock, while the other thread saves and
// deletes entries and updates the loaded vectors under the same lock. Run under
// ThreadSanitizer, this proves the lock covers everything the two threads share.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "knowledgebase.h"
#include "searchindex.h"
#include "tempdir.h"
#include "textsearch/helix.h"
#include "textsearch/locks.h"

namespace {

TEST(SearchConcurrency, PassesAndWritesShareTheLoadedVectorsUnderTheQueueLock) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    for (int i = 0; i < 20; ++i)
        kb::SaveEntry(DB, "printer jams " + std::to_string(i), "fix it");
    auto searchtable = kb::LoadVectors(DB);
    auto index = std::make_unique<TSearchIndex>();
    index->Load(*searchtable, DB);
    kb::TVectorsMark mark = kb::MarkVectors(DB);

    std::atomic<int> passes{0}, badPasses{0};
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix& h, TObject*& item) {
        std::unique_ptr<TcvVector> query(static_cast<TcvVector*>(std::exchange(item, nullptr)));
        TLockGuard lock(h.QueueLock(), 3000);
        if (!lock.Owns()) return;
        auto pass = index->Search(*query);
        // Every hit of a pass is complete and belongs to a row loaded at that moment.
        if (pass->hits.size() != static_cast<size_t>(pass->tree->Count())) ++badPasses;
        if (static_cast<int>(pass->hits.size()) > searchtable->Count()) ++badPasses;
        for (const TcvResults& hit : pass->hits) {
            if (hit.ID.size() != 32 || hit.Title.substr(0, 13) != "printer jams ") ++badPasses;
        }
        ++passes;
    });

    std::vector<std::string> saved;
    for (int round = 0; round < 60; ++round) {
        auto query = EncodeCV("printer jams");
        if (helix.Push(query.get())) query.release();
        TLockGuard lock(helix.QueueLock(), 300000);
        ASSERT_TRUE(lock.Owns());
        if (round % 3 == 2) {
            kb::DeleteEntry(DB, saved.back());
            searchtable->DeleteRowsWhere(0, saved.back());
            index->Remove(saved.back());
            saved.pop_back();
        } else {
            saved.push_back(kb::SaveEntry(DB, "printer jams again " + std::to_string(round), "x"));
            auto added = kb::LoadVectorsAddedAfter(DB, mark);
            searchtable->AppendRows(*added);
            index->Append(*added, DB);
        }
        mark = kb::MarkVectors(DB);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (passes < 60 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    helix.Stop();
    for (TObject* left : helix.TakeQueued())
        delete left;
    EXPECT_EQ(passes, 60);
    EXPECT_EQ(badPasses, 0);
    EXPECT_EQ(index->LiveCount(), static_cast<size_t>(searchtable->Count()));
    EXPECT_EQ(searchtable->Count(), kb::LoadVectors(DB)->Count());
}

}  // namespace
