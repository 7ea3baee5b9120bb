// The crash test's victim: opens the knowledge base in the given directory the way the program
// does, then saves and deletes entries through the program's own save and delete path until it
// is killed (or has done the given number of operations). After each operation has returned it
// reports it on standard output, one line each, written straight to the file descriptor so that
// a kill loses no report of a finished operation:
//   S <id>   the entry was saved (its transaction committed)
//   D <id>   the entry was deleted
//
// usage: crash_saver <directory> <seed> [operations]
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/knowledgebase.h"
#include "port/errors.h"
#include "sqlite/sqlitedb.h"

namespace {

void Report(char kind, const std::string& ID) {
    const std::string line = std::string(1, kind) + " " + ID + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) std::_Exit(3);
        done += static_cast<size_t>(n);
    }
}

// A text of random words, sometimes long, so that writes span several pages and a kill can land
// in the middle of one.
std::string RandomText(std::mt19937& random) {
    static const char* const words[] = {"printer", "jams",     "it's",    "network", "offline",
                                        "restart", "spooler",  "toner",   "driver",  "cable",
                                        "monitor", "flickers", "replace", "don't",   "again"};
    const int count = std::uniform_int_distribution<int>(0, 9)(random) == 0
                          ? std::uniform_int_distribution<int>(500, 6000)(random)
                          : std::uniform_int_distribution<int>(0, 40)(random);
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += (i % 12 == 0) ? "\r\n" : " ";
        text += words[std::uniform_int_distribution<size_t>(0, std::size(words) - 1)(random)];
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string dir = argv[1];
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    const long operations = argc > 3 ? std::strtol(argv[3], nullptr, 10) : -1;
    try {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir));
        kb::CreateMissingTables(DB);
        std::vector<std::string> live;
        auto ids = DB.GetTable("select distinct ID from textdata");
        for (; !ids->Eof(); ids->Next())
            live.push_back(ids->FieldAsString(0));
        for (long done = 0; operations < 0 || done < operations; ++done) {
            if (!live.empty() && std::uniform_int_distribution<int>(0, 2)(random) == 0) {
                const size_t pick =
                    std::uniform_int_distribution<size_t>(0, live.size() - 1)(random);
                const std::string ID = live[pick];
                kb::DeleteEntry(DB, ID);
                Report('D', ID);
                live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
            } else {
                const std::string problem = RandomText(random);
                const std::string solution = RandomText(random);
                const std::string ID = kb::SaveEntry(DB, problem, solution);
                Report('S', ID);
                live.push_back(ID);
            }
        }
    } catch (const Exception& e) {
        const std::string line = std::string("E ") + e.what() + "\n";
        (void)!write(STDOUT_FILENO, line.data(), line.size());
        return 1;
    }
    return 0;
}
