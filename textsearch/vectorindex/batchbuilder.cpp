#include "textsearch/vectorindex/batchbuilder.h"

#include <array>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "textsearch/vectorindex/helperthread.h"

namespace vindex {

namespace {

constexpr size_t kBlockDocs = 256;
// Apart by this much, what the two threads write never shares a cache line: a posting is
// appended to a block at every line, and a line bouncing between cores would cost more than
// the parsing.
constexpr size_t kCacheLine = 64;
constexpr size_t kBlocksAhead = 8;  // parsed blocks waiting for the hand-over, at most

struct alignas(kCacheLine) TBlock {
    std::vector<TTailPosting> postings;
    // Parsed by the helper: the names that got helper ids in this block, in the order of those ids.
    bool byHelper = false;
    std::string newNames;
    std::vector<size_t> newNameEnds;

    void Clear(bool helper) {
        byHelper = helper;
        postings.clear();
        newNames.clear();
        newNameEnds.clear();
    }
};

class TPipeline {
public:
    TPipeline(std::span<const std::string_view> texts, TTermDictionary& dictionary,
              TSegmentBuilder& builder)
        : ftexts(texts),
          fdictionary(dictionary),
          fbuilder(builder),
          ffirst(builder.Next()),
          fknown(dictionary.Count()),
          fblocks((texts.size() + kBlockDocs - 1) / kBlockDocs) {}

    void Run() {
        THelperThread helper([this] { HelperLoop(); });
        // Whatever ends this function, the helper stops before the pipeline goes.
        struct TStopper {
            TPipeline& pipeline;
            ~TStopper() { pipeline.Stop(); }
        } stopper{*this};
        {
            std::unique_lock lock(fmutex);
            while (fhandedOver < fblocks) {
                if (fready[fhandedOver % kBlocksAhead]) {
                    lock.unlock();
                    HandOver(fhandedOver);
                    lock.lock();
                    fready[fhandedOver % kBlocksAhead] = false;
                    ++fhandedOver;
                    fchanged.notify_all();
                } else if (fclaimed < fblocks && fclaimed < fhandedOver + kBlocksAhead) {
                    const size_t block = fclaimed++;
                    lock.unlock();
                    ParseHere(block);
                    lock.lock();
                    fready[block % kBlocksAhead] = true;
                } else if (fhelperFailed) {
                    break;
                } else {
                    fchanged.wait(lock);
                }
            }
        }
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
    TBlock& Slot(size_t block) { return fslots[block % kBlocksAhead]; }

    void Stop() {
        {
            std::lock_guard lock(fmutex);
            fstop = true;
        }
        fchanged.notify_all();
    }

    void HelperLoop() {
        try {
            std::unique_lock lock(fmutex);
            while (true) {
                fchanged.wait(lock, [this] {
                    return fstop || fclaimed >= fblocks || fclaimed < fhandedOver + kBlocksAhead;
                });
                if (fstop || fclaimed >= fblocks) return;
                const size_t block = fclaimed++;
                lock.unlock();
                ParseOnHelper(block);
                lock.lock();
                fready[block % kBlocksAhead] = true;
                fchanged.notify_all();
            }
        } catch (...) {
            {
                std::lock_guard lock(fmutex);
                fhelperFailed = true;
            }
            fchanged.notify_all();
            throw;
        }
    }

    // Parses a block on this thread, with the ids the terms will keep.
    void ParseHere(size_t block) {
        TBlock& slot = Slot(block);
        slot.Clear(false);
        const auto resolve = [this](std::string_view name) {
            const TNameKey key(name);
            const uint32_t term = fdictionary.Find(key);
            return term != kNoTerm ? term : fknown + fnewTerms.FindOrAdd(key);
        };
        for (DocId doc = BlockBegin(block); doc < BlockEnd(block); ++doc) {
            fbuilder.Reader().Read(ftexts[doc - ffirst], doc, resolve,
                                   [&](uint32_t term, int32_t count) {
                                       slot.postings.push_back({term, doc, count});
                                   });
        }
    }

    // Parses a block on the helper thread: new names get helper ids from fknown on.
    void ParseOnHelper(size_t block) {
        TBlock& slot = Slot(block);
        slot.Clear(true);
        const auto resolve = [&](std::string_view name) {
            const TNameKey key(name);
            const uint32_t term = fdictionary.Find(key);
            if (term != kNoTerm) return term;
            const uint32_t before = fhelperTerms.Count();
            const uint32_t own = fhelperTerms.FindOrAdd(key);
            if (own == before) {
                slot.newNames.append(fhelperTerms.Key(own));
                slot.newNameEnds.push_back(slot.newNames.size());
            }
            return fknown + own;
        };
        for (DocId doc = BlockBegin(block); doc < BlockEnd(block); ++doc) {
            fhelperReader.Read(ftexts[doc - ffirst], doc, resolve,
                               [&](uint32_t term, int32_t count) {
                                   slot.postings.push_back({term, doc, count});
                               });
        }
    }

    void HandOver(size_t block) {
        TBlock& slot = Slot(block);
        if (!slot.byHelper) {
            fbuilder.Append(slot.postings, BlockEnd(block), [](uint32_t term) { return term; });
            return;
        }
        size_t begin = 0;
        for (const size_t end : slot.newNameEnds) {
            const std::string_view name(slot.newNames.data() + begin, end - begin);
            fhelperIds.push_back(fknown + fnewTerms.FindOrAdd(TNameKey(name)));
            begin = end;
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
    const size_t fblocks;

    // This thread's.
    alignas(kCacheLine) TTermDictionary fnewTerms;  // names new to the dictionary; id fknown + t
    std::vector<uint32_t> fhelperIds;               // per helper id - fknown: the id it stands for

    // The helper's.
    alignas(kCacheLine) TTermDictionary fhelperTerms;
    TEntryReader fhelperReader;

    // A block's slot belongs to the thread that claimed it until it is ready, then to this
    // thread until it is handed over.
    std::array<TBlock, kBlocksAhead> fslots;

    alignas(kCacheLine) std::mutex fmutex;
    std::condition_variable fchanged;
    // Guarded by fmutex.
    size_t fclaimed = 0;
    size_t fhandedOver = 0;
    std::array<bool, kBlocksAhead> fready{};
    bool fstop = false;
    bool fhelperFailed = false;
};

}  // namespace

void AddInParallel(std::span<const std::string_view> texts, TTermDictionary& dictionary,
                   TSegmentBuilder& builder) {
    TPipeline(texts, dictionary, builder).Run();
}

}  // namespace vindex
