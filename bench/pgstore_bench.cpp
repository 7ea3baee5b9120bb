// The office server beside the knowledge base file, at 100,000 entries (kbgen's file, copied to
// the server with CopyEntriesToServer), each case measured beside its baseline on the file in the
// same run and reported as a ratio (see README.md):
//
//  - save to hit: one program saves an entry with a word no other entry has; the time until
//    another program, which searched that word before, hands over a pass that lists it. On the
//    server the other program hears the save and searches again by itself; on the file (the
//    baseline) its user types again right after the save, the best a file can do.
//  - start-up: an engine opening the store and loading its index.
//
// The server is a throwaway one on a Unix socket of the loopback (tests/core/store/pgserver.sh),
// unless --pelloquin_pg=CONNINFO names one (whose database then gets a table set of the bench's
// own: it must be empty). Knowledge bases are cached in --pelloquin_data (default
// /tmp/pelloquin-bench), as search_bench caches them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "bench/kbgen.h"
#include "core/engine.h"
#include "pg/pgdb.h"
#include "core/store/pgstore.h"
#include "core/store/servercopy.h"
#include "core/store/sqlitestore.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kEntries = 100000;

std::string gDataDir = "/tmp/pelloquin-bench";
std::string gServer;     // the server's connection string
std::string gServerDir;  // the throwaway server's folder, when the bench started one
std::string gFile;       // the generated knowledge base
std::string gWorkFile;   // a copy the file cases write to
double gCopySeconds = 0;

// An engine that tells when a pass lists a given entry.
class TWatchedEngine {
public:
    explicit TWatchedEngine(std::unique_ptr<TKnowledgeStore> store) {
        TKnowledgeEngine::TCallbacks callbacks;
        callbacks.passReady = [this](std::shared_ptr<TSearchPass> pass) {
            std::lock_guard<std::mutex> lock(fmutex);
            for (const TcvResults& hit : pass->hits)
                if (!fwanted.empty() && hit.Title.starts_with(fwanted)) fseen = true;
            fchanged.notify_all();
        };
        fengine = std::make_unique<TKnowledgeEngine>(std::move(store), std::move(callbacks));
    }
    TKnowledgeEngine* operator->() { return fengine.get(); }

    // From now on, looks out for a hit whose title begins with word.
    void Want(const std::string& word) {
        std::lock_guard<std::mutex> lock(fmutex);
        fwanted = word;
        fseen = false;
    }
    // Waits until a pass has listed the wanted hit; false after a minute without.
    bool WaitSeen() {
        std::unique_lock<std::mutex> lock(fmutex);
        return fchanged.wait_for(lock, std::chrono::minutes(1), [this] { return fseen; });
    }
    void WaitIdle() {
        while (!fengine->Idle())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

private:
    std::mutex fmutex;
    std::condition_variable fchanged;
    std::string fwanted;  // guarded by fmutex
    bool fseen = false;   // guarded by fmutex
    std::unique_ptr<TKnowledgeEngine> fengine;
};

std::unique_ptr<TKnowledgeStore> Store(bool server) {
    if (server) return std::make_unique<TPgStore>(gServer);
    return std::make_unique<TSQLiteStore>(gWorkFile);
}

// A word no stored text has: letters only, fresh for each save.
std::string FreshWord() {
    static int counter = 0;
    std::string word = "zq";
    for (int n = ++counter; n > 0; n /= 26)
        word += static_cast<char>('a' + n % 26);
    return word;
}

void Configure(benchmark::internal::Benchmark* bm) {
    bm->ArgName("server")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

void BM_SaveToHit(benchmark::State& state) {
    const bool server = state.range(0) != 0;
    TWatchedEngine writer(Store(server)), reader(Store(server));
    if (!writer->OpenNow().error.empty() || !reader->OpenNow().error.empty()) {
        state.SkipWithError("the store did not open");
        return;
    }
    double saveSeconds = 0;
    for (auto _ : state) {
        const std::string word = FreshWord();
        reader->Search(word);  // what the other user typed before: no hit yet
        reader.WaitIdle();
        reader.Want(word);
        const auto start = Clock::now();
        writer->Save(word + " printer jams", "it works again");
        saveSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (!server) reader->Search(word);  // the file's reader types again
        if (!reader.WaitSeen()) {
            state.SkipWithError("the save never showed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        reader.WaitIdle();
    }
    state.counters["save_ms"] = saveSeconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["entries"] = static_cast<double>(kEntries);
}

void BM_Startup(benchmark::State& state) {
    const bool server = state.range(0) != 0;
    size_t texts = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        TKnowledgeEngine engine(Store(server), {});
        const TKnowledgeEngine::TOpened opened = engine.OpenNow();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!opened.error.empty()) {
            state.SkipWithError(opened.error.c_str());
            return;
        }
        texts = engine.LiveTexts();
    }
    state.counters["texts"] = static_cast<double>(texts);
    if (server) state.counters["copy_to_server_s"] = gCopySeconds;
}

void RegisterAll() {
    Configure(benchmark::RegisterBenchmark("BM_SaveToHit", BM_SaveToHit)->Iterations(30));
    Configure(benchmark::RegisterBenchmark("BM_Startup", BM_Startup)->Iterations(3));
}

// Starts the throwaway server and loads it with the file's entries.
void SetUpServer() {
    if (gServer.empty()) {
        gServerDir = "/tmp/pelloquin-pg-bench";
        // A server that keeps what it commits, as an office's does: its saves wait for the disk.
        setenv("PELLOQUIN_PG_DURABLE", "1", 1);
        const std::string start = std::string(PELLOQUIN_PGSERVER) + " start " + gServerDir;
        if (std::system(start.c_str()) != 0) throw std::runtime_error(start + " failed");
        gServer = "host=" + gServerDir + " user=postgres dbname=postgres";
    }
    TPgStore store(gServer);
    store.Open();
    const auto start = Clock::now();
    const TCopyResult copied = CopyEntriesToServer(gFile, store);
    gCopySeconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "copied %zu entries to the server in %.1f s\n", copied.copied,
                 gCopySeconds);
    // Statistics for the planner, as a server that has been running a while has them.
    TPgConnection::Connect(gServer, std::chrono::seconds(30))->Exec("vacuum analyze");
}

// Prints each case beside its baseline: server time / file time.
class TRatios : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            fms[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    void Print() {
        std::printf("\n%-22s %12s %12s %16s\n", "measure (100,000)", "server", "file",
                    "server / file");
        for (const char* name : {"BM_SaveToHit", "BM_Startup"}) {
            const auto server = Find(std::string(name) + "/server:1/");
            const auto file = Find(std::string(name) + "/server:0/");
            if (server == fms.end() || file == fms.end()) continue;
            std::printf("%-22s %9.2f ms %9.2f ms %16.2f\n", name, server->second, file->second,
                        server->second / file->second);
        }
    }

private:
    std::map<std::string, double>::const_iterator Find(const std::string& prefix) const {
        for (auto it = fms.begin(); it != fms.end(); ++it)
            if (it->first.starts_with(prefix)) return it;
        return fms.end();
    }
    std::map<std::string, double> fms;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--pelloquin_data=", 0) == 0) {
            gDataDir = arg.substr(std::strlen("--pelloquin_data="));
        } else if (arg.rfind("--pelloquin_pg=", 0) == 0) {
            gServer = arg.substr(std::strlen("--pelloquin_pg="));
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restc = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    benchmark::Initialize(&restc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restc, rest.data())) return 1;

    // The bench's own settings folder: the text size is written there, not in the user's.
    const std::string config = gDataDir + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    int status = 0;
    try {
        std::filesystem::create_directories(gDataDir);
        gFile = kbgen::CachedKnowledgeBase(gDataDir, kEntries, kbgen::kDefaultSeed);
        gWorkFile = gDataDir + "/pgstore-bench-work.dat";
        std::filesystem::copy_file(gFile, gWorkFile,
                                   std::filesystem::copy_options::overwrite_existing);
        SetUpServer();
        RegisterAll();
        TRatios reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.Print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pgstore_bench: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove(gWorkFile);
    if (!gServerDir.empty()) {
        const std::string stop = std::string(PELLOQUIN_PGSERVER) + " stop " + gServerDir;
        if (std::system(stop.c_str()) != 0) status = 1;
    }
    benchmark::Shutdown();
    return status;
}
