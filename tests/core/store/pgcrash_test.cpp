// A writer on the office server killed with SIGKILL inside its transaction leaves no half entry:
// every entry on the server has its four rows, every save and delete that was reported stuck, the
// one in flight did not, the next writer is not held up by the dead one's lock, and a program that
// watched it all agrees with a fresh load. The victim is pg_saver, which runs the server store's
// own save and delete and says when a transaction is about to commit.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "core/store/pgstore.h"
#include "pgtest.h"
#include "tempdir.h"

namespace {

struct TSaver {
    pid_t pid = -1;
    std::vector<std::string> lines;  // its reports
    bool inside = false;             // it is inside a transaction, about to commit
};

// Starts the saver and reads its reports until it has finished `finished` operations and is
// inside the next one's transaction.
TSaver RunUntilInside(const std::string& conninfo, unsigned seed, int finished,
                      const std::string& idleLimit = "") {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const std::string seedText = std::to_string(seed);
    TSaver saver;
    saver.pid = fork();
    if (saver.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(PELLOQUIN_PG_SAVER, PELLOQUIN_PG_SAVER, conninfo.c_str(), seedText.c_str(),
              idleLimit.empty() ? nullptr : idleLimit.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string pending;
    int done = 0;
    while (!saver.inside) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; !saver.inside && (end = pending.find('\n')) != std::string::npos;) {
            saver.lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (saver.lines.back()[0] == 'C') {
                saver.inside = done == finished;
            } else {
                ++done;
            }
        }
    }
    close(out[0]);
    EXPECT_TRUE(saver.inside) << "the saver stopped: "
                              << (saver.lines.empty() ? "" : saver.lines.back());
    return saver;
}

void Kill(const TSaver& saver) {
    kill(saver.pid, SIGKILL);
    int status = 0;
    waitpid(saver.pid, &status, 0);
}

// The IDs of whole entries, and of any with rows at all.
void Entries(TPgConnection& look, std::set<std::string>& whole, std::set<std::string>& any) {
    const TPgResult rows = look.Query(
        "select ID, count(*) from (select ID from textdata union all select ID from vectors) r "
        "group by ID");
    for (int r = 0; r < rows.Rows(); ++r) {
        any.emplace(rows.Bytes(r, 0));
        if (rows.Int64(r, 1) == 4) whole.emplace(rows.Bytes(r, 0));
    }
}

TEST(PgCrash, AWriterKilledInsideItsTransactionLeavesNoHalfEntryAndHoldsNobodyUp) {
    REQUIRE_TEST_SERVER();
    TTempDir dir;
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    TPgTestDatabase db(*TestServer());
    TRecordingEngine watcher(std::make_unique<TPgStore>(db.Conninfo()));
    ASSERT_EQ(watcher->OpenNow().error, "");

    std::mt19937 rng(3);
    std::set<std::string> live;
    int killedSaves = 0, killedDeletes = 0;
    for (int round = 0; round < 16; ++round) {
        const TSaver saver = RunUntilInside(db.Conninfo(), static_cast<unsigned>(round),
                                            std::uniform_int_distribution<int>(0, 4)(rng));
        Kill(saver);
        std::string inFlight;
        for (const std::string& line : saver.lines) {
            if (line[0] == 'S') live.insert(line.substr(2));
            if (line[0] == 'D') live.erase(line.substr(2));
            inFlight = line[0] == 'C' ? line.substr(2) : "";
        }
        (inFlight == "S" ? killedSaves : killedDeletes) += 1;

        // Exactly the reported entries, each whole: the one in flight went no way at all.
        std::set<std::string> whole, any;
        Entries(db.Look(), whole, any);
        EXPECT_EQ(any, live) << "round " << round << ", in flight: " << inFlight;
        EXPECT_EQ(whole, live) << "round " << round;
    }
    EXPECT_GT(killedSaves, 0);
    EXPECT_GT(killedDeletes, 0);

    for (const std::string query : {"printer jams", "toner cable driver"}) {
        watcher->Search(query);
        EXPECT_TRUE(WaitUntil([&] { return watcher.Last() == FreshHits(db.Conninfo(), query); }));
    }
    EXPECT_EQ(watcher->LiveTexts(), 2 * live.size());
}

TEST(PgCrash, AWriterFrozenInsideItsTransactionHoldsTheOthersUpOnlyForAWhile) {
    REQUIRE_TEST_SERVER();
    TTempDir dir;
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    TPgTestDatabase db(*TestServer());
    const TSaver frozen = RunUntilInside(db.Conninfo(), 1, 2, "1500");
    kill(frozen.pid, SIGSTOP);

    TPgStore other(db.Conninfo());
    other.TEST_SetWaits(std::chrono::milliseconds(200), std::chrono::minutes(1));
    try {
        other.SaveEntry("printer jams", "reboot", nullptr);
        ADD_FAILURE() << "saved beside a write that holds the lock";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "The office server stayed busy with another program's writes");
    }
    // The server ends the frozen writer's session, and the write it was in.
    std::string ID;
    EXPECT_TRUE(WaitUntil([&] {
        try {
            ID = other.SaveEntry("printer jams", "reboot", nullptr);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }));
    Kill(frozen);
    std::set<std::string> whole, any, reported;
    Entries(db.Look(), whole, any);
    for (const std::string& line : frozen.lines)
        if (line[0] == 'S') reported.insert(line.substr(2));
    reported.insert(ID);
    EXPECT_EQ(any, reported);
    EXPECT_EQ(whole, reported);
}

}  // namespace
