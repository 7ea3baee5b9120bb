// Fuzzes the program's knowledge base path with a pelloquin.dat of arbitrary bytes: the file is
// opened and made ready as at start-up (tables created when missing, the text size read, the
// vectors loaded and indexed), searched, then written to as Save and Delete write to it
// (followed by the incremental reload each of them does) and searched again. Each step runs on
// when an earlier one failed, as the program goes on after an error box.
//
// The program's own Exception types are the expected errors on such a file; anything else
// escaping (or a crash, a leak, undefined behaviour) is a finding. Hits must keep their promises
// whatever the file holds: scores above the threshold, titles of at most 40 characters and
// "...", excerpts of at most 100, and a score tree holding exactly the hits.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz/fuzzcheck.h"
#include "core/knowledgebase.h"
#include "port/errors.h"
#include "core/searchindex.h"
#include "sqlite/sqlitedb.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "textsearch/cvvector.h"

namespace {

// One file per fuzzing process, in memory where the system has a RAM disk, so that the writes'
// syncs cost nothing.
const std::string& FilePath() {
    static const std::string path = [] {
        const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                              ? std::filesystem::path("/dev/shm")
                                              : std::filesystem::temp_directory_path();
        return (dir / ("pelloquin-fuzz-" + std::to_string(getpid()) + ".dat")).string();
    }();
    return path;
}

void RemoveFiles() {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        std::remove((FilePath() + suffix).c_str());
}

template <class Step>
void Try(Step&& step) {
    try {
        step();
    } catch (const Exception&) {
        // An error the program shows in a box and survives.
    }
}

void CheckPass(const TSearchPass& pass) {
    FUZZ_CHECK(pass.tree != nullptr);
    FUZZ_CHECK(pass.tree->Count() == static_cast<int>(pass.hits.size()));
    for (const TcvResults& hit : pass.hits) {
        FUZZ_CHECK(hit.Proximity > TSearchIndex::kThreshold);
        // UTF-8: at most four bytes a character.
        FUZZ_CHECK(hit.Title.size() <= 4 * kHitTitleLength + 3);
        FUZZ_CHECK(hit.Title.ends_with("..."));
        FUZZ_CHECK(hit.excerpt.size() <= 4 * kHitExcerptLength);
    }
}

// Queries made of the terms the file's own vectors hold, so that searches find hits, and one
// fixed query.
std::string QueryText(const TSQLiteTable& vectors) {
    std::string text = "printer jams";
    for (int r = 0; r < vectors.Count() && r < 8; ++r) {
        TcvVector stored;
        stored.SetText(vectors.CellView(static_cast<unsigned>(r), 2));
        for (int i = 0; i < stored.Count() && i < 8; ++i)
            text += " " + stored.Names(i);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RemoveFiles();
    {
        std::ofstream file(FilePath(), std::ios::binary);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Try([] {
        // The program's own paths: open (repairing what it can), load, search, write, sync.
        TSQLiteStore store(FilePath());
        Try([&] { store.Open(); });
        Try([&] { store.ReadFontSize(); });
        TSearchIndex index;
        std::string text = "printer jams";
        Try([&] {
            store.LoadAll(index);
            text = QueryText(*kb::LoadVectors(*store.Database()));
        });
        const auto query = EncodeCV(text);
        CheckPass(*index.Search(*query));

        Try([&] { store.SaveEntry("printer jams again", "it's the rollers", &index); });
        Try([&] { store.Sync(index); });
        auto pass = index.Search(*query);
        CheckPass(*pass);
        if (!pass->hits.empty()) {
            const std::string ID(pass->hits.front().ID);
            Try([&] { store.ReadEntry(ID); });
            Try([&] { store.ReplaceEntry(ID, "printer edited", "ok", {}, &index); });
            Try([&] { store.DeleteEntry(ID, &index); });
            CheckPass(*index.Search(*query));
        }
    });
    RemoveFiles();
    return 0;
}
