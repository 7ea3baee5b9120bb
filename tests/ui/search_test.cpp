// Search as you type through the real main window: what starts a pass, what a pass shows, and
// that the list always ends up matching the text in the box.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <atomic>

#include "core/knowledgebase.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "uitest.h"

namespace {

std::vector<std::string> ShownTitles(TForm1& f) {
    std::vector<std::string> titles;
    for (int p = f.ScoredHits().Count() - 1; p >= 0; --p) {
        titles.emplace_back(f.ScoredHits().Items(p)->data->Title);
    }
    return titles;
}

class SearchTest : public MainWindowTest {
protected:
    TForm1& OpenWith(std::initializer_list<std::pair<const char*, const char*>> entries) {
        StoreEntries(entries);
        return Open();
    }
};

TEST_F(SearchTest, TypingListsSimilarEntriesBestFirst) {
    TForm1& f = OpenWith({{"printer jams on envelopes", "use the manual feed"},
                          {"network printer offline", "restart the spooler"},
                          {"monitor flickers", "replace the cable"}});
    TypeProblem("printer jams");
    WaitForSearches();
    EXPECT_EQ(ShownTitles(f), (std::vector<std::string>{"printer jams on envelopes...",
                                                        "network printer offline..."}));
    EXPECT_FLOAT_EQ(f.ScoredHits().Items(1)->data->Proximity, 2 / std::sqrt(2.f) / std::sqrt(2.f));
    EXPECT_EQ(f.vs->maximum(), f.Results->MaxViewY());
}

TEST_F(SearchTest, BlankTextStartsNoSearchAndKeepsTheHits) {
    TForm1& f = OpenWith({{"printer jams", "x"}});
    TypeProblem("printer");
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 1);
    const int passes = f.PassesShown();
    f.ProblemText->setPlainText(" \n\t \n");
    f.ProblemText->clear();
    WaitForSearches();
    EXPECT_EQ(f.PassesShown(), passes);
    EXPECT_EQ(f.ScoredHits().Count(), 1);
}

TEST_F(SearchTest, AChangeTypedDuringAPassIsSearchedAfterIt) {
    TForm1& f = OpenWith({{"printer jams", "x"}, {"scanner jams", "y"}, {"scanner offline", "z"}});
    std::atomic<bool> hold{false}, held{false};
    f.Session().TEST_Engine().TEST_passRunningHook = [&] {
        if (!hold) return;
        held = true;
        while (hold)
            std::this_thread::yield();
    };
    hold = true;
    TypeProblem("printer");
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
    // Every keystroke now meets a running pass; only the newest text is searched after it.
    f.ProblemText->selectAll();
    TypeProblem("scanner offline");
    const int before = f.Session().TEST_Engine().PassesRun();
    hold = false;
    WaitForSearches();
    EXPECT_EQ(f.Session().TEST_Engine().PassesRun(), before + 2);
    EXPECT_EQ(ShownTitles(f), (std::vector<std::string>{"scanner offline...", "scanner jams..."}));
}

TEST_F(SearchTest, SavedEntriesAreFoundAtOnceAndDeletedOnesNoMore) {
    TForm1& f = OpenWith({});
    TypeProblem("printer");
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 0);
    f.ProblemText->setPlainText("printer out of toner");
    f.SolutionText->setPlainText("order toner");
    f.Button1->click();
    WaitForWrites(f.Session());
    TypeProblem("toner");
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 2);
    DeleteNow(f.Session(), LastSavedID());
    f.Requery();
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 0);
}

TEST_F(SearchTest, DeleteSearchesAgainEvenForAnEmptyProblem) {
    TForm1& f = OpenWith({{"printer jams", "x"}});
    TypeProblem("printer");
    WaitForSearches();
    ASSERT_EQ(f.ScoredHits().Count(), 1);
    f.ProblemText->clear();
    f.Requery();
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 0);  // an empty query matches nothing: the list clears
    EXPECT_EQ(f.vs->maximum(), f.Results->MaxViewY());
}

TEST_F(SearchTest, DamagedRowsAreSkippedAndTheRestStillListed) {
    {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        DB.ExecSQL(kb::InsertVectorSQL("orphan", "P", "printer=1\r\n"));
        const std::string bad = kb::SaveEntry(DB, "printer broken", "x");
        DB.ExecSQL("update vectors set vectordata='printer=oops\r\n' where ID='" + bad + "'");
        kb::SaveEntry(DB, "printer fixed", "y");
    }
    TForm1& f = Open();
    TypeProblem("printer");
    WaitForSearches();
    EXPECT_EQ(ShownTitles(f), (std::vector<std::string>{"printer fixed..."}));
    // The worker is not stuck holding the lock either: a save goes through at once.
    f.Session().TEST_Engine().TEST_SetWriteTimeout(500);
    f.ProblemText->setPlainText("printer again");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 0);
}

}  // namespace
