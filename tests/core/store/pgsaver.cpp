// The victim of pgcrash_test: saves and deletes entries on the office server through the
// server store until it is killed. It reports on standard output, one line each, written straight
// to the file descriptor so that a kill loses nothing reported:
//   C <op>   the operation's transaction is about to commit (it then waits a little, so that a
//            kill after this line lands inside the transaction); <op> is "S" or "D <id>"
//   S <id>   the entry was saved (committed)
//   D <id>   the entry was deleted
//
// usage: pg_saver <connection string> <seed> [idle limit in ms]
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/store/pgstore.h"

namespace {

void Report(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) std::_Exit(3);
        done += static_cast<size_t>(n);
    }
}

std::string RandomText(std::mt19937& random) {
    static const char* const words[] = {"printer", "jams",    "it's",  "network", "offline",
                                        "restart", "spooler", "toner", "driver",  "cable"};
    const int count = std::uniform_int_distribution<int>(0, 60)(random);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(i ? " " : "") +
                words[std::uniform_int_distribution<size_t>(0, std::size(words) - 1)(random)];
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    try {
        TPgStore store(argv[1]);
        if (argc > 3) {
            store.TEST_SetWaits(std::chrono::seconds(20),
                           std::chrono::milliseconds(std::strtol(argv[3], nullptr, 10)));
        }
        store.Open();
        std::string operation;
        store.TEST_beforeCommitHook = [&] {
            Report("C " + operation);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        };
        std::vector<std::string> live;
        for (;;) {
            if (!live.empty() && std::uniform_int_distribution<int>(0, 2)(random) == 0) {
                const size_t pick =
                    std::uniform_int_distribution<size_t>(0, live.size() - 1)(random);
                operation = "D " + live[pick];
                store.DeleteEntry(live[pick], nullptr);
                Report(operation);
                live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
            } else {
                operation = "S";
                live.push_back(store.SaveEntry(RandomText(random), RandomText(random), nullptr));
                Report("S " + live.back());
            }
        }
    } catch (const std::exception& e) {
        Report(std::string("E ") + e.what());
        return 1;
    }
}
