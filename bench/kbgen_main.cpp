// kbgen: writes a synthetic knowledge base for measurements.
//
//   kbgen [--entries N] [--seed S] DIR
//
// makes DIR/pelloquin.dat with N entries (default 100000) from seed S (default the benchmarks'
// seed) and prints what it wrote. It refuses to overwrite an existing knowledge base.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "bench/kbgen.h"
#include "core/knowledgebase.h"
#include "port/strconv.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: kbgen [--entries N] [--seed S] DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    size_t entries = 100000;
    uint64_t seed = kbgen::kDefaultSeed;
    std::string dir;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--entries" && i + 1 < argc) {
                const auto value = TryStrToInt(argv[++i]);
                if (!value || *value < 0) return Usage();
                entries = static_cast<size_t>(*value);
            } else if (arg == "--seed" && i + 1 < argc) {
                seed = std::stoull(argv[++i]);
            } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
                dir = arg;
            } else {
                return Usage();
            }
        }
        if (dir.empty()) return Usage();
        std::filesystem::create_directories(dir);
        const std::string file = kb::KnowledgeBaseFile(dir);
        const kbgen::TGenerated made = kbgen::Generate(file, entries, seed);
        std::printf("%s: %zu entries (%zu stored texts, %zu words), seed %llu, %.1f MB, %.1f s\n",
                    file.c_str(), made.entries, 2 * made.entries, made.words,
                    static_cast<unsigned long long>(seed),
                    static_cast<double>(std::filesystem::file_size(file)) / 1e6, made.seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kbgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
