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

#include "pgstore.h"
#include "pgtest.h"
#include "tempdir.h"

namespace {

// Runs the saver until it has finished `finished` operations and is inside the next one's
// transaction, then kills it; its report lines.
std::vector<std::string> RunAndKill(const std::string& conninfo, unsigned seed, int finished) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const std::string seedText = std::to_string(seed);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(PELLOQUIN_PG_SAVER, PELLOQUIN_PG_SAVER, conninfo.c_str(), seedText.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::vector<std::string> lines;
    std::string pending;
    int done = 0;
    bool inside = false;
    while (!inside) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; !inside && (end = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (lines.back()[0] == 'C') {
                inside = done == finished;
            } else {
                ++done;
            }
        }
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(inside) << "the saver stopped: " << (lines.empty() ? "" : lines.back());
    return lines;
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
        const std::vector<std::string> lines =
            RunAndKill(db.Conninfo(), static_cast<unsigned>(round),
                       std::uniform_int_distribution<int>(0, 4)(rng));
        std::string inFlight;
        for (const std::string& line : lines) {
            if (line[0] == 'S') live.insert(line.substr(2));
            if (line[0] == 'D') live.erase(line.substr(2));
            inFlight = line[0] == 'C' ? line.substr(2) : "";
        }
        (inFlight == "S" ? killedSaves : killedDeletes) += 1;

        // Exactly the reported entries, each whole: the one in flight went no way at all.
        std::set<std::string> whole, any;
        const TPgResult rows = db.Look().Query(
            "select ID, count(*) from (select ID from textdata union all select ID from vectors) "
            "r group by ID");
        for (int r = 0; r < rows.Rows(); ++r) {
            any.emplace(rows.Bytes(r, 0));
            if (rows.Int64(r, 1) == 4) whole.emplace(rows.Bytes(r, 0));
        }
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

}  // namespace
