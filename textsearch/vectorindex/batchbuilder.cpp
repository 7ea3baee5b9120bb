#include "textsearch/vectorindex/batchbuilder.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "textsearch/helperthread.h"

namespace vindex {

namespace {

constexpr size_t kBlockDocs = 256;
// A round: 8192 documents. The helper's blocks wait for the end of the round, at most about 4 MB
// of postings.
constexpr size_t kRoundBlocks = 32;
// Apart by this much, what the two threads write never shares a cache line: a posting is
// appended to a block at every line, and a line bouncing between cores would cost more than
// the parsing.
constexpr size_t kCacheLine = 64;

struct alignas(kCacheLine) TBlock {
    std::vector<TTailPosting> postings;
    bool byHelper = false;  // its terms are the helper's ids
};

class TPipeline {
public:
    TPipeline(std::span<const std::string_view> texts, TTermDictionary& dictionary,
              TSegmentBuilder& builder)
        : ftexts(texts),
          fdictionary(dictionary),
          fbuilder(builder),
          ffirst(builder.Next()),
          fknown(dictionary.Count()) {}

    void Run() {
        THelperThread helper([this] { HelperLoop(); });
        // Whatever ends this function, the helper stops before the pipeline goes.
        struct TStopper {
            TPipeline& pipeline;
            ~TStopper() { pipeline.Stop(); }
        } stopper{*this};
        const size_t blocks = (ftexts.size() + kBlockDocs - 1) / kBlockDocs;
        for (size_t first = 0; first < blocks && !HelperFailed(); first += kRoundBlocks)
            RunRound(first, std::min(blocks, first + kRoundBlocks));
        Stop();
        helper.Join();  // rethrows what stopped the helper
        for (uint32_t t = 0; t < fnewTerms.Count(); ++t) {
            [[maybe_unused]] const uint32_t id = fdictionary.FindOrAdd(TNameKey(fnewTerms.Key(t)));
            assert(id == fknown + t);
        }
    }

private:
    DocId BlockBegin(size_t block) const { return static_cast<DocId>(ffirst + block * kBlockDocs); }
    DocId BlockEnd(size_t block) const {
        return static_cast<DocId>(ffirst + std::min(ftexts.size(), (block + 1) * kBlockDocs));
    }

    bool HelperFailed() {
        std::lock_guard lock(fmutex);
        return fhelperFailed;
    }

    void Stop() {
        {
            std::lock_guard lock(fmutex);
            fstop = true;
        }
        fchanged.notify_all();
    }

    // Parses blocks [first, last) on both threads and hands them over in order. This thread
    // takes blocks from the front and hands each over at once; the helper takes them from the
    // back, so the two meet somewhere inside the round and this thread waits at most for the
    // block the helper holds there.
    void RunRound(size_t first, size_t last) {
        {
            // The helper touches the round's blocks only while busy, and claims only in a round
            // it has seen begin.
            std::unique_lock lock(fmutex);
            fchanged.wait(lock, [this] { return !fhelperBusy || fhelperFailed; });
            if (fhelperFailed) return;
            fblocks.resize(std::max(fblocks.size(), last - first));
            froundFirst = first;
            ffront = first;
            fback = last;
            ++fround;
        }
        fchanged.notify_all();
        size_t meet = last;  // the helper's first block
        while (true) {
            size_t block;
            {
                std::lock_guard lock(fmutex);
                if (ffront == fback) {
                    meet = ffront;
                    break;
                }
                block = ffront++;
            }
            ParseHere(block, fmine);
            HandOver(block, fmine);
        }
        {
            std::unique_lock lock(fmutex);
            fchanged.wait(lock, [this] { return !fhelperBusy || fhelperFailed; });
            if (fhelperFailed) return;
        }
        // The helper is idle until the next round: its new names are read safely.
        for (uint32_t own = static_cast<uint32_t>(fhelperIds.size()); own < fhelperTerms.Count();
             ++own)
            fhelperIds.push_back(fknown + fnewTerms.FindOrAdd(TNameKey(fhelperTerms.Key(own))));
        for (size_t b = meet; b < last; ++b)
            HandOver(b, Slot(b));
    }

    void HelperLoop() {
        try {
            uint64_t seen = 0;
            std::unique_lock lock(fmutex);
            while (true) {
                fchanged.wait(lock, [&] { return fstop || fround != seen; });
                if (fstop) return;
                seen = fround;
                fhelperBusy = true;
                while (ffront < fback) {
                    const size_t block = --fback;
                    lock.unlock();
                    ParseOnHelper(block);
                    lock.lock();
                }
                fhelperBusy = false;
                fchanged.notify_all();
            }
        } catch (...) {
            {
                std::lock_guard lock(fmutex);
                fhelperFailed = true;
                fhelperBusy = false;
            }
            fchanged.notify_all();
            throw;
        }
    }

    TBlock& Slot(size_t block) { return fblocks[block - froundFirst]; }

    // Parses a block on this thread, with the ids the terms will keep.
    void ParseHere(size_t block, TBlock& slot) {
        slot.byHelper = false;
        slot.postings.clear();
        // Names are looked for in the dictionary first; new ones are few.
        const auto prefetch = [this](const TNameKey& key) { fdictionary.Prefetch(key); };
        const auto resolve = [this](const TNameKey& key) {
            const uint32_t term = fdictionary.Find(key);
            return term != kNoTerm ? term : fknown + fnewTerms.FindOrAdd(key);
        };
        for (DocId doc = BlockBegin(block); doc < BlockEnd(block); ++doc) {
            fbuilder.Reader().Read(ftexts[doc - ffirst], doc, prefetch, resolve,
                                   [&](uint32_t term, int32_t count) {
                                       slot.postings.push_back({term, doc, count});
                                   });
        }
    }

    // Parses a block on the helper thread: new names get helper ids from fknown on.
    void ParseOnHelper(size_t block) {
        TBlock& slot = Slot(block);
        slot.byHelper = true;
        slot.postings.clear();
        // Names are looked for in the dictionary first; new ones are few.
        const auto prefetch = [this](const TNameKey& key) { fdictionary.Prefetch(key); };
        const auto resolve = [this](const TNameKey& key) {
            const uint32_t term = fdictionary.Find(key);
            return term != kNoTerm ? term : fknown + fhelperTerms.FindOrAdd(key);
        };
        for (DocId doc = BlockBegin(block); doc < BlockEnd(block); ++doc) {
            fhelperReader.Read(ftexts[doc - ffirst], doc, prefetch, resolve,
                               [&](uint32_t term, int32_t count) {
                                   slot.postings.push_back({term, doc, count});
                               });
        }
    }

    void HandOver(size_t block, const TBlock& slot) {
        if (!slot.byHelper) {
            fbuilder.Append(slot.postings, BlockEnd(block), [](uint32_t term) { return term; });
            return;
        }
        fbuilder.Append(slot.postings, BlockEnd(block), [this](uint32_t term) {
            return term < fknown ? term : fhelperIds[term - fknown];
        });
    }

    const std::span<const std::string_view> ftexts;
    TTermDictionary& fdictionary;  // only read until the end of Run
    TSegmentBuilder& fbuilder;
    const DocId ffirst;
    const uint32_t fknown;  // the dictionary's terms

    // This thread's.
    alignas(kCacheLine) TTermDictionary fnewTerms;  // names new to the dictionary; id fknown + t
    std::vector<uint32_t> fhelperIds;               // per helper id - fknown: the id it stands for

    // The helper's.
    alignas(kCacheLine) TTermDictionary fhelperTerms;
    TEntryReader fhelperReader;

    TBlock fmine;  // the block this thread parses and hands over

    // The round's blocks that the helper parses, by place in the round; one belongs to the
    // helper from its claim to the end of the round.
    std::vector<TBlock> fblocks;
    size_t froundFirst = 0;

    alignas(kCacheLine) std::mutex fmutex;
    std::condition_variable fchanged;
    // Guarded by fmutex.
    uint64_t fround = 0;  // rounds begun
    size_t ffront = 0;    // blocks [ffront, fback) of the round are not yet claimed
    size_t fback = 0;
    bool fhelperBusy = false;  // claiming or parsing blocks of a round
    bool fstop = false;
    bool fhelperFailed = false;
};

}  // namespace

void AddInParallel(std::span<const std::string_view> texts, TTermDictionary& dictionary,
                   TSegmentBuilder& builder) {
    TPipeline(texts, dictionary, builder).Run();
}

}  // namespace vindex
