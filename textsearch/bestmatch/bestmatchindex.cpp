// A search reads the postings of the query's terms three times. The first reading marks the
// entries that share a term that is not common: only they can be listed, so the common terms,
// whose lists hold most entries, are then read for those entries alone. The second bounds the
// marked entries' scores, the words that can add most first, and narrows them down to those that
// may still be among the listed (see Search). The third scores those, query word by query word in
// the query's order: each word keeps, per entry, the best of its forms (stems, accented form,
// completions of the word being typed), and adds that to the entry's score, so that a word with
// two stems still counts once. Once the entries followed are fewer than a long list's blocks, the
// later readings seek their postings block by block instead of reading the whole list.
//
// Adding a batch reads the entries' words on two threads a slice at a time (AddBatch).
#include "textsearch/bestmatch/bestmatchindex.h"

#include <algorithm>
#include <bit>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "textsearch/helperthread.h"
#include "textsearch/vectorindex/termdictionary.h"

namespace {

constexpr uint32_t kNoDoc = UINT32_MAX;
// Packed counts: title 0-2, problem 0-6, solution 0-6 in one byte; the top value of each means
// "that much more follows as a varint".
constexpr uint32_t kTitleEscape = 3, kFieldEscape = 7;

void PutVarint(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}

inline uint32_t GetVarint(const uint8_t*& p) {
    uint32_t v = *p++;
    if (v < 0x80) return v;
    v &= 0x7F;
    for (int shift = 7;; shift += 7) {
        const uint32_t b = *p++;
        v |= (b & 0x7F) << shift;
        if (b < 0x80) return v;
    }
}

void PutPosting(std::vector<uint8_t>& out, uint32_t gap, const TFieldCounts& tf) {
    PutVarint(out, gap);
    const uint32_t t = std::min(tf.title, kTitleEscape);
    const uint32_t b = std::min(tf.problem, kFieldEscape);
    const uint32_t s = std::min(tf.solution, kFieldEscape);
    out.push_back(static_cast<uint8_t>(t << 6 | b << 3 | s));
    if (t == kTitleEscape) PutVarint(out, tf.title - kTitleEscape);
    if (b == kFieldEscape) PutVarint(out, tf.problem - kFieldEscape);
    if (s == kFieldEscape) PutVarint(out, tf.solution - kFieldEscape);
}

// Calls visit(doc, counts) for every posting of a list, in doc order.
template <class Visit>
inline void ForEachPosting(const std::vector<uint8_t>& list, Visit visit) {
    const uint8_t* p = list.data();
    const uint8_t* const end = p + list.size();
    uint32_t doc = kNoDoc;
    while (p < end) {
        doc += 1 + GetVarint(p);
        const uint32_t c = *p++;
        TFieldCounts tf{c >> 6, (c >> 3) & 7, c & 7};
        if (tf.title == kTitleEscape) tf.title += GetVarint(p);
        if (tf.problem == kFieldEscape) tf.problem += GetVarint(p);
        if (tf.solution == kFieldEscape) tf.solution += GetVarint(p);
        visit(doc, tf);
    }
}

// A list is cut into blocks of about kBlockBytes: a block ends with the first posting that
// reaches past a multiple of kBlockBytes. Each block of a list longer than one is known by its
// last doc id and where it ends, so that a search following a few entries reads only their blocks
// of a long list. (About 4% more than the postings: 8 bytes a block of some 60 postings.)
constexpr size_t kBlockBytes = 128;
struct TSkip {
    uint32_t lastDoc;  // of the block
    uint32_t end;      // the byte after it
};

// Finds the postings of ascending doc ids in a list, passing over the blocks that end before.
class TPostingCursor {
public:
    TPostingCursor(const std::vector<uint8_t>& list, const std::vector<TSkip>* skips)
        : fbegin(list.data()), fp(list.data()), fend(list.data() + list.size()) {
        if (skips) {
            fskip = skips->data();
            fskipEnd = fskip + skips->size();
        }
    }
    // The counts of doc's posting, if the list has one; the docs asked for must ascend.
    bool Find(uint32_t doc, TFieldCounts& tf) {
        if (fread && fdoc >= doc) {
            tf = ftf;
            return fdoc == doc;
        }
        if (fskip != fskipEnd && fskip->lastDoc < doc) {
            do
                ++fskip;
            while (fskip != fskipEnd && fskip->lastDoc < doc);
            // Read on from where the block before doc's ends, unless already past it.
            if (fbegin + fskip[-1].end > fp) {
                fp = fbegin + fskip[-1].end;
                fdoc = fskip[-1].lastDoc;  // the base of the next gap; its posting is not read
                fread = false;
            }
        }
        while (fp < fend) {
            fdoc += 1 + GetVarint(fp);
            const uint32_t c = *fp++;
            ftf = TFieldCounts{c >> 6, (c >> 3) & 7, c & 7};
            if (ftf.title == kTitleEscape) ftf.title += GetVarint(fp);
            if (ftf.problem == kFieldEscape) ftf.problem += GetVarint(fp);
            if (ftf.solution == kFieldEscape) ftf.solution += GetVarint(fp);
            fread = true;
            if (fdoc >= doc) {
                tf = ftf;
                return fdoc == doc;
            }
        }
        fread = false;
        fdoc = 0;
        return false;
    }

private:
    const uint8_t* fbegin;
    const uint8_t* fp;
    const uint8_t* fend;
    const TSkip* fskip = nullptr;
    const TSkip* fskipEnd = nullptr;
    uint32_t fdoc = kNoDoc;  // of the posting last read, or the base of the next one
    bool fread = false;      // fdoc's posting was read (ftf holds its counts)
    TFieldCounts ftf;
};

using vindex::TNameKey;

// A term of one entry with its counts; its key (text and hash) is made on the thread that
// counts, so that adding the entry only looks it up.
struct TCounted {
    TNameKey key;
    TFieldCounts tf;
    uint32_t id = 0;
};

uint32_t Mix(uint32_t h, uint32_t v) {
    h ^= v + 0x9E3779B9u + (h << 6) + (h >> 2);
    return h;
}

// An entry's distinct terms by their hashes, in an open-addressing table kept from entry to entry:
// a slot is in use when it carries the current entry's stamp, so starting an entry clears nothing.
class TEntryTermTable {
public:
    // Before each entry, which has at most `terms` distinct terms.
    void Start(size_t terms) {
        if (fslots.size() < 2 * terms || ++fstamp == 0) {
            size_t size = 64;
            while (size < 2 * terms)
                size *= 2;
            fslots.assign(std::max(size, fslots.size()), TSlot{});
            fstamp = 1;
        }
    }
    // The entry's counted term of fresh's key: fresh, appended to out, when the entry had none.
    TCounted& Place(const TCounted& fresh, std::vector<TCounted>& out, bool& added) {
        const size_t mask = fslots.size() - 1;
        for (size_t at = fresh.key.hash & mask;; at = (at + 1) & mask) {
            TSlot& slot = fslots[at];
            if (slot.stamp != fstamp) {
                slot = {fstamp, static_cast<uint32_t>(out.size())};
                out.push_back(fresh);
                added = true;
                return out.back();
            }
            TCounted& other = out[slot.index];
            if (other.key.hash == fresh.key.hash && other.key.name == fresh.key.name) {
                added = false;
                return other;
            }
        }
    }

private:
    struct TSlot {
        uint32_t stamp = 0;
        uint32_t index = 0;
    };
    std::vector<TSlot> fslots;
    uint32_t fstamp = 0;
};

// What merging an entry's two texts' terms works in (see MergeTerms), kept from entry to entry
// by each thread that merges.
struct TMergeRoom {
    struct TMark {
        uint32_t stamp = 0;
        uint32_t index = 0;
    };
    std::vector<TCounted> keys;  // both texts' terms, looked up
    std::vector<TMark> marks;    // per term id: where the current entry holds it
    uint32_t stamp = 0;
    TEntryTermTable table;
};

// Counts an entry's distinct terms in one pass over its words.
class TTermCounter {
public:
    // out: the distinct terms (and accented forms) in the order first met, with their counts,
    // their texts viewing the words' strings.
    void Count(const TEntryWords& words, TFieldCounts& lengths, std::vector<TCounted>& out) {
        out.clear();
        lengths = {};
        ftable.Start(2 * (words.problem.words.size() + words.solution.words.size()));
        auto add = [&](std::string_view text, int field) {
            bool added;
            TFieldCounts& tf = ftable.Place(TCounted{TNameKey(text), {}, 0}, out, added).tf;
            (field == 0 ? tf.title : field == 1 ? tf.problem : tf.solution)++;
        };
        auto collect = [&](const TTextWords& text, bool problem) {
            for (const TWord& w : text.words) {
                const int field = !problem ? 2 : w.place.begin < words.titleEnd ? 0 : 1;
                (field == 0 ? lengths.title : field == 1 ? lengths.problem : lengths.solution)++;
                add(w.term, field);
                if (!w.exact.empty() && w.exact != w.term) add(w.exact, field);
            }
        };
        collect(words.problem, true);
        collect(words.solution, false);
    }

private:
    TEntryTermTable ftable;
};

}  // namespace

uint32_t FirstLineEnd(std::string_view text) {
    const size_t end = text.find_first_of("\r\n");
    return static_cast<uint32_t>(end == std::string_view::npos ? text.size() : end);
}

TEntryWords ReadEntryWords(TWordReader reader, const TEntryText& entry) {
    TEntryWords words;
    ReadEntryWords(reader, entry, words);
    return words;
}

void ReadEntryWords(TWordReader reader, const TEntryText& entry, TEntryWords& out) {
    reader(entry.problem, out.problem);
    reader(entry.solution, out.solution);
    out.titleEnd = FirstLineEnd(entry.problem);
}

struct TBestMatchIndex::TScratch {
    std::vector<float> acc, accP, accS;      // per doc: the score so far, and of each text alone
    std::vector<float> wordF, wordP, wordS;  // per doc: the current word's best form
    std::vector<float> bound;                // per doc: the bound of its score so far
    std::vector<uint8_t> candidate, state;   // per doc: shares a term that is not common; its state
    // docs marked as candidates, scored, bounded, of the current word
    std::vector<uint32_t> marked, candidates, touched, words;
    std::vector<uint32_t> followed;  // docs followed when the bounding closed, ascending
    std::vector<float> values;

    void Fit(size_t docs) {
        if (acc.size() >= docs) return;
        for (auto* v : {&acc, &accP, &accS, &wordF, &wordP, &wordS, &bound})
            v->resize(docs, 0.0f);
        candidate.resize(docs, 0);
        state.resize(docs, 0);
    }
    size_t Bytes() const {
        return acc.capacity() * sizeof(float) * 7 + candidate.capacity() + state.capacity() +
               (marked.capacity() + candidates.capacity() + touched.capacity() + words.capacity() +
                followed.capacity() + values.capacity()) *
                   sizeof(uint32_t);
    }
};

class TBestMatchIndex::TImpl {
public:
    struct TTerm {
        std::vector<uint8_t> postings;
        uint32_t lastDoc = kNoDoc;  // the last doc id in postings
        uint32_t df = 0;            // live entries holding it
    };
    struct TDoc {
        TFieldCounts lengths;
        uint32_t signature = 0;
        uint8_t languages[2] = {0, 0};  // of the problem and the solution: 1 + index in languages
    };

    // Term ids by text. The terms are folded already, so the dictionary's ASCII folding never
    // joins two of them.
    vindex::TTermDictionary dict;
    std::vector<TTerm> terms;
    // The blocks of the lists longer than one, by term id (empty for the others).
    std::vector<std::vector<TSkip>> skips;
    // Term ids in the order of their texts, for the terms a typed word begins; the newest few
    // wait in unsorted (searched one by one) until there are enough to merge at once.
    std::vector<uint32_t> sorted;
    std::vector<uint32_t> unsorted;
    static constexpr size_t kUnsortedMax = 1024;
    std::vector<TDoc> docs;
    uint32_t dead = 0;  // removed docs whose postings are still held
    // The languages the texts were stemmed in, with how many live texts each holds.
    std::vector<std::pair<std::string, uint32_t>> languages;

    uint8_t CountLanguage(std::string_view language) {
        if (language.empty()) return 0;
        for (size_t i = 0; i < languages.size(); ++i)
            if (languages[i].first == language) {
                ++languages[i].second;
                return static_cast<uint8_t>(i + 1);
            }
        if (languages.size() >= 255) return 0;
        languages.emplace_back(std::string(language), 1);
        return static_cast<uint8_t>(languages.size());
    }
    void Uncount(const TDoc& doc) {
        for (const uint8_t l : doc.languages)
            if (l > 0) --languages[l - 1].second;
    }

    mutable std::mutex scratchLock;
    mutable std::vector<std::unique_ptr<TScratch>> scratchPool;

    // Changes with every entry added or removed and every change of the parameters.
    uint64_t generation = 0;
    // The latest searches' kept words and their hits, newest last: a keystroke that leaves the
    // words kept as they were (typing on in a long text) lists what the one before listed.
    struct TRecent {
        uint64_t generation = 0;
        std::vector<uint32_t> words;
        std::vector<TBestMatchHit> hits;
    };
    static constexpr size_t kRecent = 2;
    mutable std::mutex recentLock;
    mutable std::vector<TRecent> recent;  // guarded by recentLock

    TTermCounter counter;  // for the entries added one by one
    std::vector<std::vector<TCounted>> countedRoom;  // AddTermsBatch's, kept from batch to batch
    TMergeRoom mergeRoom[2];                         // ... and of its two threads

    // Of the terms and their counts, whatever their order.
    static uint32_t Signature(std::span<const TCounted> counted) {
        uint32_t sum = 0;
        for (const TCounted& c : counted)
            sum += Mix(Mix(Mix(Mix(0x811C9DC5u, c.id), c.tf.title), c.tf.problem), c.tf.solution);
        return sum;
    }

    std::string_view Text(uint32_t id) const { return dict.Key(id); }

    uint32_t Intern(const TNameKey& key) {
        const uint32_t id = dict.FindOrAdd(key);
        if (id == terms.size()) {
            terms.emplace_back();
            skips.emplace_back();
            unsorted.push_back(id);
        }
        return id;
    }

    void MergeUnsortedWhenFull() {
        if (unsorted.size() >= kUnsortedMax) MergeUnsorted();
    }

    void MergeUnsorted() {
        if (unsorted.empty()) return;
        auto less = [&](uint32_t a, uint32_t b) { return Text(a) < Text(b); };
        std::sort(unsorted.begin(), unsorted.end(), less);
        const size_t middle = sorted.size();
        sorted.insert(sorted.end(), unsorted.begin(), unsorted.end());
        std::inplace_merge(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(middle),
                           sorted.end(), less);
        unsorted.clear();
    }

    // The id of a known term, or kNoDoc.
    uint32_t Find(std::string_view text) const { return dict.Find(TNameKey(text)); }

    // Appends doc's posting to a list, after every doc it holds, with the block it ends, if any.
    void Append(uint32_t id, TTerm& term, uint32_t doc, const TFieldCounts& tf) {
        // As much as the smallest block the allocator gives anyway: most lists stay within it,
        // and the others skip the growths below it.
        if (term.postings.capacity() == 0) term.postings.reserve(24);
        const size_t before = term.postings.size();
        PutPosting(term.postings, doc - (term.lastDoc + 1), tf);
        term.lastDoc = doc;
        if (term.postings.size() / kBlockBytes != before / kBlockBytes) {
            // Grown by an eighth, not doubled: the blocks of a loaded index are not trimmed.
            std::vector<TSkip>& blocks = skips[id];
            if (blocks.size() == blocks.capacity()) blocks.reserve(blocks.size() * 9 / 8 + 4);
            blocks.push_back(TSkip{doc, static_cast<uint32_t>(term.postings.size())});
        }
    }

    const std::vector<TSkip>* SkipsOf(uint32_t id) const {
        return id < skips.size() && !skips[id].empty() ? &skips[id] : nullptr;
    }

    std::vector<TCounted> PostedTerms(uint32_t doc) const {
        std::vector<TCounted> out;
        for (uint32_t id = 0; id < terms.size(); ++id) {
            const TTerm& t = terms[id];
            if (t.lastDoc == kNoDoc || t.lastDoc < doc) continue;
            TFieldCounts tf;
            if (TPostingCursor(t.postings, SkipsOf(id)).Find(doc, tf))
                out.push_back(TCounted{TNameKey(Text(id)), tf, id});
        }
        return out;
    }

    void Compact(const std::vector<uint8_t>& live) {
        for (std::vector<TSkip>& blocks : skips)
            blocks.clear();
        for (uint32_t id = 0; id < terms.size(); ++id) {
            TTerm& t = terms[id];
            std::vector<uint8_t> old;
            old.swap(t.postings);
            t.lastDoc = kNoDoc;
            ForEachPosting(old, [&](uint32_t d, const TFieldCounts& tf) {
                if (live[d]) Append(id, t, d, tf);
            });
            t.postings.shrink_to_fit();
        }
        for (std::vector<TSkip>& blocks : skips)
            blocks.shrink_to_fit();
        dead = 0;
    }
};

TBestMatchIndex::TBestMatchIndex(TWordReader reader, TBestMatchParams params)
    : freader(reader), fparams(params), fimpl(std::make_unique<TImpl>()) {}

TBestMatchIndex::~TBestMatchIndex() = default;

void TBestMatchIndex::SetParams(const TBestMatchParams& params) {
    fparams = params;
    ++fimpl->generation;
}

TBestMatchIndex::DocId TBestMatchIndex::Add(const TEntryText& entry) {
    return AddWords(ReadEntryWords(freader, entry));
}

namespace {

constexpr size_t kAhead = 8;  // how many terms ahead memory is asked for

// Gives every counted term that has no id yet its id, adding the new ones to the dictionary.
void Intern(TBestMatchIndex::TImpl& impl, std::vector<TCounted>& counted) {
    const size_t n = counted.size();
    for (size_t i = 0; i < std::min(n, kAhead); ++i)
        if (counted[i].id == kNoDoc) impl.dict.Prefetch(counted[i].key);
    for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n && counted[i + kAhead].id == kNoDoc)
            impl.dict.Prefetch(counted[i + kAhead].key);
        if (counted[i].id == kNoDoc) counted[i].id = impl.Intern(counted[i].key);
    }
}

// Looks the counted terms up, kNoDoc for the new ones; may run beside other look-ups.
void LookUp(const TBestMatchIndex::TImpl& impl, std::vector<TCounted>& counted) {
    const size_t n = counted.size();
    for (size_t i = 0; i < std::min(n, kAhead); ++i)
        impl.dict.Prefetch(counted[i].key);
    for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) impl.dict.Prefetch(counted[i + kAhead].key);
        counted[i].id = impl.dict.Find(counted[i].key);
    }
}

// Posts one entry's terms, their ids known, as doc `doc`. The terms' records are asked for two
// strides ahead and the ends of their lists one stride ahead: most of the time goes in waiting
// for them otherwise.
void Post(TBestMatchIndex::TImpl& impl, const std::vector<TCounted>& counted, uint32_t doc) {
    const size_t n = counted.size();
    for (size_t i = 0; i < std::min(n, 2 * kAhead); ++i)
        __builtin_prefetch(&impl.terms[counted[i].id]);
    for (size_t i = 0; i < n; ++i) {
        if (i + 2 * kAhead < n) __builtin_prefetch(&impl.terms[counted[i + 2 * kAhead].id]);
        if (i + kAhead < n) {
            const auto& ahead = impl.terms[counted[i + kAhead].id].postings;
            if (!ahead.empty()) __builtin_prefetch(ahead.data() + ahead.size() - 1, 1);
        }
        const TCounted& c = counted[i];
        auto& term = impl.terms[c.id];
        impl.Append(c.id, term, doc, c.tf);
        ++term.df;
    }
}

// An entry read and counted, waiting to be added: its terms' texts are copied into room of its
// own, since the words they were read from are read over by the next entry.
struct TReadEntry {
    std::vector<TCounted> counted;
    std::string chars;
    TFieldCounts lengths;
    std::string languages[2];
};

// Reads and counts entries and looks their terms up, on the thread that calls Run; several
// threads may share the work of one slice, taking entries a few at a time. The dictionary must
// not change meanwhile.
class TReader {
public:
    TReader(const TBestMatchIndex::TImpl& impl, TWordReader reader,
            std::span<const TEntryText> entries, std::span<TReadEntry> out,
            std::atomic<size_t>& next)
        : fimpl(impl), freader(reader), fentries(entries), fout(out), fnext(next) {}

    void Run() {
        constexpr size_t kTake = 16;
        TEntryWords words;
        TTermCounter counter;
        for (;;) {
            const size_t begin = fnext.fetch_add(kTake, std::memory_order_relaxed);
            if (begin >= fentries.size()) return;
            const size_t end = std::min(fentries.size(), begin + kTake);
            for (size_t i = begin; i < end; ++i) {
                ReadEntryWords(freader, fentries[i], words);
                TReadEntry& e = fout[i];
                counter.Count(words, e.lengths, e.counted);
                size_t bytes = 0;
                for (const TCounted& c : e.counted)
                    bytes += c.key.name.size();
                e.chars.clear();
                e.chars.reserve(bytes);
                for (const TCounted& c : e.counted)
                    e.chars.append(c.key.name);
                size_t at = 0;
                for (TCounted& c : e.counted) {
                    c.key.name = std::string_view(e.chars).substr(at, c.key.name.size());
                    at += c.key.name.size();
                }
                LookUp(fimpl, e.counted);
                e.languages[0] = words.problem.language;
                e.languages[1] = words.solution.language;
            }
        }
    }

private:
    const TBestMatchIndex::TImpl& fimpl;
    TWordReader freader;
    std::span<const TEntryText> fentries;
    std::span<TReadEntry> fout;
    std::atomic<size_t>& fnext;
};

// Adds an entry counted, its terms' ids known, as the next doc.
void AddCounted(TBestMatchIndex::TImpl& impl, TBestMatchStats& stats, std::vector<uint8_t>& live,
                const std::vector<TCounted>& counted, const TFieldCounts& lengths,
                std::string_view problemLanguage, std::string_view solutionLanguage) {
    const uint32_t doc = static_cast<uint32_t>(impl.docs.size());
    ++impl.generation;
    TBestMatchIndex::TImpl::TDoc record;
    record.lengths = lengths;
    Post(impl, counted, doc);
    record.signature = TBestMatchIndex::TImpl::Signature(counted);
    record.languages[0] = impl.CountLanguage(problemLanguage);
    record.languages[1] = impl.CountLanguage(solutionLanguage);
    impl.docs.push_back(record);
    live.push_back(1);
    ++stats.entries;
    stats.titleWords += record.lengths.title;
    stats.problemWords += record.lengths.problem;
    stats.solutionWords += record.lengths.solution;
}

}  // namespace

TBestMatchIndex::DocId TBestMatchIndex::AddWords(const TEntryWords& words) {
    TImpl& impl = *fimpl;
    const uint32_t doc = static_cast<uint32_t>(impl.docs.size());
    TFieldCounts lengths;
    std::vector<TCounted> counted;
    impl.counter.Count(words, lengths, counted);
    for (TCounted& c : counted)
        c.id = kNoDoc;
    Intern(impl, counted);
    impl.MergeUnsortedWhenFull();
    AddCounted(impl, fstats, flive, counted, lengths, words.problem.language,
               words.solution.language);
    return doc;
}

void CountTextTerms(TWordReader reader, std::string_view utf8, bool problem, TTextTerms& out) {
    // Counted as the entry's counter counts this text beside an empty other one; the words,
    // the counter and its output keep their room from text to text on each thread.
    thread_local TEntryWords words;
    thread_local TTermCounter counter;
    thread_local std::vector<TCounted> counted;
    words.problem.words.clear();
    words.solution.words.clear();
    reader(utf8, problem ? words.problem : words.solution);
    words.titleEnd = problem ? FirstLineEnd(utf8) : 0;
    TFieldCounts lengths;
    counter.Count(words, lengths, counted);
    out.terms.clear();
    out.terms.reserve(counted.size());
    for (const TCounted& c : counted)
        out.terms.push_back(TTextTerms::TTerm{std::string(c.key.name),
                                              problem ? c.tf.title : 0,
                                              problem ? c.tf.problem : c.tf.solution});
    out.titleWords = problem ? lengths.title : 0;
    out.bodyWords = problem ? lengths.problem : lengths.solution;
    out.language = (problem ? words.problem : words.solution).language;
}

namespace {

bool ParseCount(std::string_view s, uint32_t& out) {
    if (s.empty() || s.size() > 9) return false;
    uint32_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    out = v;
    return true;
}

// Splits off the field before the next tab (or the rest of the line).
std::string_view NextField(std::string_view& line, bool& more) {
    const size_t tab = line.find('\t');
    more = tab != std::string_view::npos;
    const std::string_view field = line.substr(0, tab);
    line.remove_prefix(more ? tab + 1 : line.size());
    return field;
}

}  // namespace

// A term's line is the term, then its body count when not 1, then its title count when not 0:
// most terms stand once in the body.
std::string EncodeTextTerms(const TTextTerms& terms) {
    std::string out;
    out.reserve(16 + terms.terms.size() * 10);
    out.append(kTextTermsForm).append("\t").append(terms.language).append("\t");
    out.append(std::to_string(terms.titleWords)).append("\t");
    out.append(std::to_string(terms.bodyWords)).append("\n");
    for (const TTextTerms::TTerm& t : terms.terms) {
        out += t.text;
        if (t.body != 1 || t.title != 0) out.append("\t").append(std::to_string(t.body));
        if (t.title != 0) out.append("\t").append(std::to_string(t.title));
        out += '\n';
    }
    return out;
}

bool DecodeTextTerms(std::string_view encoded, TTextTermsView& out) {
    const size_t firstEnd = encoded.find('\n');
    if (firstEnd == std::string_view::npos) return false;
    std::string_view head = encoded.substr(0, firstEnd);
    bool more = false;
    if (NextField(head, more) != kTextTermsForm || !more) return false;
    const std::string_view language = NextField(head, more);
    if (!more || !ParseCount(NextField(head, more), out.titleWords) || !more ||
        !ParseCount(NextField(head, more), out.bodyWords) || more)
        return false;
    out.language = language;
    out.terms.clear();
    for (size_t at = firstEnd + 1; at < encoded.size();) {
        const size_t end = encoded.find('\n', at);
        if (end == std::string_view::npos) return false;
        std::string_view line = encoded.substr(at, end - at);
        const std::string_view text = NextField(line, more);
        uint32_t body = 1, title = 0;
        if (text.empty() || (more && !ParseCount(NextField(line, more), body)) ||
            (more && !ParseCount(NextField(line, more), title)) || more)
            return false;
        out.terms.push_back(TTextTermsView::TTerm{text, title, body});
        at = end + 1;
    }
    return true;
}

void TTextTermsView::View(const TTextTerms& owned) {
    terms.clear();
    for (const TTextTerms::TTerm& t : owned.terms)
        terms.push_back(TTerm{t.text, t.title, t.body});
    titleWords = owned.titleWords;
    bodyWords = owned.bodyWords;
    language = owned.language;
}

namespace {

// Merges an entry's two texts' terms into the entry's counted terms, looked up: the problem's in
// their order, then the solution's that the problem lacks, as the entry's counter meets them.
// A term met again is found by its id when the dictionary has every term of the entry, which
// spares hashing the terms into a table of their own but for the few entries that bring new ones.
void MergeTerms(const TBestMatchIndex::TImpl& impl, TMergeRoom& room, const TTextTermsView& p,
                const TTextTermsView& s, std::vector<TCounted>& out) {
    std::vector<TCounted>& keys = room.keys;
    keys.clear();
    for (const TTextTermsView::TTerm& t : p.terms)
        keys.push_back(TCounted{TNameKey(t.text), {t.title, t.body, 0}, kNoDoc});
    for (const TTextTermsView::TTerm& t : s.terms)
        keys.push_back(TCounted{TNameKey(t.text), {0, 0, t.body}, kNoDoc});
    LookUp(impl, keys);
    out.clear();
    if (std::any_of(keys.begin(), keys.end(), [](const TCounted& c) { return c.id == kNoDoc; })) {
        room.table.Start(keys.size());
        bool added;
        for (const TCounted& key : keys) {
            TCounted& c = room.table.Place(key, out, added);
            if (!added) c.tf.solution = key.tf.solution;
        }
        return;
    }
    if (room.marks.size() < impl.terms.size()) room.marks.resize(impl.terms.size() * 2);
    if (++room.stamp == 0) {
        std::fill(room.marks.begin(), room.marks.end(), TMergeRoom::TMark{});
        room.stamp = 1;
    }
    // A term twice in one text (a row not of this program's making) counts as the table counts
    // it: a problem's first counts, a solution's last.
    const size_t problemTerms = p.terms.size();
    for (size_t i = 0; i < keys.size(); ++i) {
        TMergeRoom::TMark& mark = room.marks[keys[i].id];
        if (mark.stamp != room.stamp) {
            mark = TMergeRoom::TMark{room.stamp, static_cast<uint32_t>(out.size())};
            out.push_back(keys[i]);
        } else if (i >= problemTerms) {
            out[mark.index].tf.solution = keys[i].tf.solution;
        }
    }
}

}  // namespace

TBestMatchIndex::DocId TBestMatchIndex::AddTermsBatch(std::span<const TEntryTerms> entries) {
    TImpl& impl = *fimpl;
    const uint32_t first = static_cast<uint32_t>(impl.docs.size());
    static const TTextTermsView kNone;
    auto problemOf = [&](size_t i) -> const TTextTermsView& {
        return entries[i].problem ? *entries[i].problem : kNone;
    };
    auto solutionOf = [&](size_t i) -> const TTextTermsView& {
        return entries[i].solution ? *entries[i].solution : kNone;
    };
    std::vector<std::vector<TCounted>>& counted = fimpl->countedRoom;
    if (counted.size() < entries.size()) counted.resize(entries.size());
    // The dictionary only changes while no one looks terms up: a slice's new terms are added
    // before the helper starts on the next slice, which posting the slice leaves alone.
    constexpr size_t kSlice = 256;
    const size_t slices = (entries.size() + kSlice - 1) / kSlice;
    std::atomic<size_t> next{0};
    auto prepare = [&](size_t k, TMergeRoom& room) {
        const size_t begin = k * kSlice, end = std::min(entries.size(), begin + kSlice);
        for (size_t i; (i = begin + next.fetch_add(1, std::memory_order_relaxed)) < end;)
            MergeTerms(impl, room, problemOf(i), solutionOf(i), counted[i]);
    };
    if (slices > 0) {
        THelperThread helper([&] { prepare(0, impl.mergeRoom[1]); });
        prepare(0, impl.mergeRoom[0]);
        helper.Join();
    }
    for (size_t k = 0; k < slices; ++k) {
        const size_t begin = k * kSlice, end = std::min(entries.size(), begin + kSlice);
        for (size_t i = begin; i < end; ++i)
            Intern(impl, counted[i]);
        impl.MergeUnsortedWhenFull();
        // The helper merges the next slice while this thread posts this one, then joins it.
        const bool more = k + 1 < slices;
        next.store(0, std::memory_order_relaxed);
        THelperThread helper([&, more, k] {
            if (more) prepare(k + 1, impl.mergeRoom[1]);
        });
        for (size_t i = begin; i < end; ++i) {
            const TTextTermsView& p = problemOf(i);
            const TTextTermsView& s = solutionOf(i);
            AddCounted(impl, fstats, flive, counted[i], {p.titleWords, p.bodyWords, s.bodyWords},
                       p.language, s.language);
        }
        if (more) prepare(k + 1, impl.mergeRoom[0]);
        helper.Join();
    }
    return first;
}

void TBestMatchIndex::Trim() {
    for (TImpl::TTerm& t : fimpl->terms)
        t.postings.shrink_to_fit();
}

namespace {

// A term's list as an image holds it: its postings' and blocks' bytes follow all of these.
struct TSavedList {
    uint32_t lastDoc = 0, df = 0;
    uint64_t bytes = 0;   // of postings
    uint64_t blocks = 0;  // TSkips
};

}  // namespace

void TBestMatchIndex::Save(TImageWriter& out) const {
    const TImpl& impl = *fimpl;
    out.Put(fstats);
    out.PutVector(flive);
    out.PutVector(impl.docs);
    out.Put(impl.dead);
    out.Put<uint64_t>(impl.languages.size());
    for (const auto& [language, texts] : impl.languages) {
        out.PutString(language);
        out.Put(texts);
    }
    out.PutString(impl.dict.Names());
    out.PutVector(impl.dict.Starts());
    std::vector<TSavedList> lists(impl.terms.size());
    for (size_t id = 0; id < lists.size(); ++id)
        lists[id] = {impl.terms[id].lastDoc, impl.terms[id].df, impl.terms[id].postings.size(),
                     impl.skips[id].size()};
    out.PutVector(lists);
    for (const TImpl::TTerm& t : impl.terms)
        out.Append(t.postings.data(), t.postings.size());
    for (const std::vector<TSkip>& blocks : impl.skips)
        out.Append(blocks.data(), blocks.size() * sizeof(TSkip));
    out.PutVector(impl.sorted);
    out.PutVector(impl.unsorted);
}

bool TBestMatchIndex::Restore(TImageReader& in) {
    auto impl = std::make_unique<TImpl>();
    TBestMatchStats stats;
    std::vector<uint8_t> live;
    uint64_t languages = 0;
    if (!in.Get(stats) || !in.GetVector(live) || !in.GetVector(impl->docs) ||
        !in.Get(impl->dead) || !in.Get(languages) || languages > 255 ||
        live.size() != impl->docs.size() || live.size() >= kNoDoc)
        return false;
    for (uint64_t i = 0; i < languages; ++i) {
        std::string language;
        uint32_t texts = 0;
        if (!in.GetString(language) || !in.Get(texts)) return false;
        impl->languages.emplace_back(std::move(language), texts);
    }
    uint32_t liveDocs = 0;
    for (size_t d = 0; d < live.size(); ++d) {
        liveDocs += live[d] != 0;
        for (const uint8_t l : impl->docs[d].languages)
            if (l > impl->languages.size()) return false;
    }
    if (liveDocs != stats.entries) return false;

    // The dictionary is made again from the names, so that its slots follow this version's hash.
    std::string names;
    std::vector<size_t> starts;
    if (!in.GetString(names) || !in.GetVector(starts) || starts.size() >= kNoDoc) return false;
    impl->dict.Reserve(starts.size(), names.size());
    for (size_t id = 0; id < starts.size(); ++id) {
        const size_t end = id + 1 < starts.size() ? starts[id + 1] : names.size();
        if (starts[id] > end || end > names.size()) return false;
        const std::string_view name = std::string_view(names).substr(starts[id], end - starts[id]);
        if (impl->dict.FindOrAdd(vindex::TNameKey(name)) != id) return false;  // a name twice
    }
    std::vector<TSavedList> lists;
    if (!in.GetVector(lists) || lists.size() != starts.size()) return false;
    impl->terms.resize(lists.size());
    impl->skips.resize(lists.size());
    for (size_t id = 0; id < lists.size(); ++id) {
        TImpl::TTerm& t = impl->terms[id];
        const TSavedList& l = lists[id];
        if (l.bytes > in.Left() || (l.lastDoc != kNoDoc && l.lastDoc >= live.size()) ||
            (l.bytes == 0) != (l.lastDoc == kNoDoc))
            return false;
        t.lastDoc = l.lastDoc;
        t.df = l.df;
        t.postings.resize(l.bytes);
        if (!in.Read(t.postings.data(), l.bytes)) return false;
    }
    for (size_t id = 0; id < lists.size(); ++id) {
        std::vector<TSkip>& blocks = impl->skips[id];
        if (lists[id].blocks > in.Left() / sizeof(TSkip)) return false;
        blocks.resize(lists[id].blocks);
        if (!in.Read(blocks.data(), blocks.size() * sizeof(TSkip))) return false;
        for (const TSkip& b : blocks)
            if (b.end > impl->terms[id].postings.size() || b.lastDoc > lists[id].lastDoc)
                return false;
    }
    if (!in.GetVector(impl->sorted) || !in.GetVector(impl->unsorted) ||
        impl->sorted.size() + impl->unsorted.size() != lists.size())
        return false;
    for (const auto* ids : {&impl->sorted, &impl->unsorted})
        for (const uint32_t id : *ids)
            if (id >= lists.size()) return false;
    if (impl->dead > live.size()) return false;
    fimpl = std::move(impl);
    fstats = stats;
    flive = std::move(live);
    return true;
}

TBestMatchIndex::DocId TBestMatchIndex::AddBatch(std::span<const TEntryText> entries) {
    TImpl& impl = *fimpl;
    const uint32_t first = static_cast<uint32_t>(impl.docs.size());
    // The entries go in slices. Both threads read a slice's words, count its terms and look them
    // up; this thread then adds the slice's new terms to the dictionary, and while it posts the
    // slice the helper starts on the next one, which this thread joins once done. So the
    // dictionary only changes while no one reads it.
    constexpr size_t kSlice = 256;
    std::vector<TReadEntry> room[2];
    room[0].resize(std::min(kSlice, entries.size()));
    room[1].resize(room[0].size());
    auto slice = [&](size_t k) {
        const size_t begin = k * kSlice;
        return entries.subspan(begin, std::min(kSlice, entries.size() - begin));
    };
    const size_t slices = (entries.size() + kSlice - 1) / kSlice;
    std::atomic<size_t> next{0};
    if (slices > 0) {
        TReader reader(impl, freader, slice(0), room[0], next);
        THelperThread helper([&] { reader.Run(); });
        reader.Run();
        helper.Join();
    }
    for (size_t k = 0; k < slices; ++k) {
        std::vector<TReadEntry>& read = room[k % 2];
        const size_t count = slice(k).size();
        for (size_t i = 0; i < count; ++i)
            Intern(impl, read[i].counted);
        impl.MergeUnsortedWhenFull();
        std::optional<TReader> ahead;
        std::optional<THelperThread> helper;
        if (k + 1 < slices) {
            next.store(0, std::memory_order_relaxed);
            ahead.emplace(impl, freader, slice(k + 1), room[(k + 1) % 2], next);
            helper.emplace([&] { ahead->Run(); });
        }
        for (size_t i = 0; i < count; ++i) {
            const TReadEntry& e = read[i];
            AddCounted(impl, fstats, flive, e.counted, e.lengths, e.languages[0], e.languages[1]);
        }
        if (ahead) {
            ahead->Run();
            helper->Join();
        }
    }
    for (TImpl::TTerm& t : impl.terms)
        t.postings.shrink_to_fit();
    return first;
}

void TBestMatchIndex::Remove(DocId id, const TEntryText& entry) {
    if (!IsLive(id)) return;
    TImpl& impl = *fimpl;
    TFieldCounts lengths;
    const TEntryWords words = ReadEntryWords(freader, entry);
    std::vector<TCounted> counted;
    impl.counter.Count(words, lengths, counted);
    bool known = true;
    for (TCounted& c : counted) {
        c.id = impl.dict.Find(c.key);
        known = known && c.id != kNoDoc;
    }
    if (!known || TImpl::Signature(counted) != impl.docs[id].signature) return Remove(id);
    for (const TCounted& c : counted)
        --impl.terms[c.id].df;
    impl.Uncount(impl.docs[id]);
    const TFieldCounts& l = impl.docs[id].lengths;
    fstats.titleWords -= l.title;
    fstats.problemWords -= l.problem;
    fstats.solutionWords -= l.solution;
    --fstats.entries;
    flive[id] = 0;
    ++impl.generation;
    if (++impl.dead >= 64 && impl.dead * 4 >= impl.docs.size()) impl.Compact(flive);
}

void TBestMatchIndex::Remove(DocId id) {
    if (!IsLive(id)) return;
    TImpl& impl = *fimpl;
    for (const TCounted& c : impl.PostedTerms(id))
        --impl.terms[c.id].df;
    Forget(id);
}

void TBestMatchIndex::RemoveMany(std::span<const DocId> ids) {
    TImpl& impl = *fimpl;
    std::vector<uint8_t> gone(impl.docs.size(), 0);
    std::vector<DocId> live;
    for (const DocId id : ids) {
        if (!IsLive(id) || gone[id]) continue;
        gone[id] = 1;
        live.push_back(id);
    }
    // A few are cheaper found one by one, each by a seek in every list.
    constexpr size_t kOneByOne = 32;
    if (live.size() <= kOneByOne) {
        for (const DocId id : live)
            Remove(id);
        return;
    }
    const DocId first = *std::min_element(live.begin(), live.end());
    for (TImpl::TTerm& t : impl.terms) {
        if (t.lastDoc == kNoDoc || t.lastDoc < first) continue;
        uint32_t posted = 0;
        ForEachPosting(t.postings, [&](uint32_t d, const TFieldCounts&) { posted += gone[d]; });
        t.df -= posted;
    }
    for (const DocId id : live)
        Forget(id);
}

void TBestMatchIndex::Forget(DocId id) {
    TImpl& impl = *fimpl;
    impl.Uncount(impl.docs[id]);
    const TFieldCounts& l = impl.docs[id].lengths;
    fstats.titleWords -= l.title;
    fstats.problemWords -= l.problem;
    fstats.solutionWords -= l.solution;
    --fstats.entries;
    flive[id] = 0;
    ++impl.generation;
    if (++impl.dead >= 64 && impl.dead * 4 >= impl.docs.size()) impl.Compact(flive);
}

std::vector<std::string> TBestMatchIndex::Languages() const {
    std::vector<std::pair<std::string, uint32_t>> live;
    for (const auto& l : fimpl->languages)
        if (l.second > 0) live.push_back(l);
    std::stable_sort(live.begin(), live.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<std::string> out;
    for (const auto& l : live)
        out.push_back(l.first);
    return out;
}

uint32_t TBestMatchIndex::DocumentFrequency(std::string_view term) const {
    const uint32_t id = fimpl->Find(term);
    return id == kNoDoc ? 0 : fimpl->terms[id].df;
}

std::unique_ptr<TBestMatchIndex::TScratch> TBestMatchIndex::TakeScratch() const {
    std::unique_ptr<TScratch> s;
    {
        std::lock_guard lock(fimpl->scratchLock);
        if (!fimpl->scratchPool.empty()) {
            s = std::move(fimpl->scratchPool.back());
            fimpl->scratchPool.pop_back();
        }
    }
    if (!s) s = std::make_unique<TScratch>();
    s->Fit(fimpl->docs.size());
    return s;
}

void TBestMatchIndex::GiveScratch(std::unique_ptr<TScratch> scratch) const {
    std::lock_guard lock(fimpl->scratchLock);
    fimpl->scratchPool.push_back(std::move(scratch));
}

namespace {

// One form a query word may take in the stored terms.
struct TForm {
    uint32_t term;
    float factor;  // its idf times the weight of the form
    bool common;
};

// One distinct query word.
struct TQueryTerm {
    std::vector<TForm> forms;
    float weight = 1;  // from how often it was typed
    float best = 0;    // the largest factor of its forms
};

}  // namespace

std::vector<TBestMatchHit> TBestMatchIndex::Search(std::span<const TQueryWord> query) const {
    const TImpl& impl = *fimpl;
    std::vector<TBestMatchHit> hits;
    if (fstats.entries == 0 || query.empty()) return hits;
    const TBm25f bm(fparams, fstats);
    const float commonAbove = fstats.entries >= kCommonFromEntries
                                  ? fparams.commonShare * static_cast<float>(fstats.entries)
                                  : static_cast<float>(fstats.entries);

    // The distinct words in the order first typed, with how often each was typed.
    std::unordered_map<std::string, size_t> seen;
    std::vector<const TQueryWord*> distinct;
    std::vector<uint32_t> typed;
    for (const TQueryWord& w : query) {
        std::string key;
        for (const std::string& t : w.terms)
            key += t + '\x1f';
        key += '\x1e' + w.exact + '\x1e' + w.prefix;
        const auto [it, added] = seen.try_emplace(key, distinct.size());
        if (added) {
            distinct.push_back(&w);
            typed.push_back(0);
        }
        ++typed[it->second];
    }

    std::vector<TQueryTerm> words;
    for (size_t i = 0; i < distinct.size(); ++i) {
        const TQueryWord& w = *distinct[i];
        TQueryTerm q;
        const float qtf = static_cast<float>(typed[i]);
        q.weight = (fparams.k3 + 1.0f) * qtf / (fparams.k3 + qtf);
        // The word's own forms (its stems, its accented form) are one word: they share the
        // rarity of the commonest of them, so that a stem that only a few texts in another
        // language have does not make a common word rare.
        uint32_t wordDf = 0;
        for (const std::string& t : w.terms)
            if (const uint32_t id = impl.Find(t); id != kNoDoc)
                wordDf = std::max(wordDf, impl.terms[id].df);
        if (!w.exact.empty())
            if (const uint32_t id = impl.Find(w.exact); id != kNoDoc)
                wordDf = std::max(wordDf, impl.terms[id].df);
        auto addForm = [&](uint32_t id, float weight, uint32_t df) {
            if (id == kNoDoc || impl.terms[id].df == 0) return;
            for (const TForm& f : q.forms)
                if (f.term == id) return;
            q.forms.push_back(TForm{id, weight * bm.Idf(df), static_cast<float>(df) > commonAbove});
        };
        for (const std::string& t : w.terms)
            addForm(impl.Find(t), 1.0f, wordDf);
        if (!w.exact.empty()) addForm(impl.Find(w.exact), 1.0f, wordDf);
        if (!w.prefix.empty()) {
            std::vector<uint32_t> begun;
            auto it = std::lower_bound(
                impl.sorted.begin(), impl.sorted.end(), w.prefix,
                [&](uint32_t id, const std::string& p) { return impl.Text(id) < p; });
            for (; it != impl.sorted.end() && impl.Text(*it).starts_with(w.prefix); ++it)
                if (impl.terms[*it].df > 0) begun.push_back(*it);
            for (const uint32_t id : impl.unsorted)
                if (impl.terms[id].df > 0 && impl.Text(id).starts_with(w.prefix))
                    begun.push_back(id);
            // The commonest first, equal ones in the order of their texts.
            std::sort(begun.begin(), begun.end(), [&](uint32_t a, uint32_t b) {
                const uint32_t da = impl.terms[a].df, db = impl.terms[b].df;
                return da != db ? da > db : impl.Text(a) < impl.Text(b);
            });
            if (begun.size() > fparams.prefixTerms) begun.resize(fparams.prefixTerms);
            for (const uint32_t id : begun)
                addForm(id, fparams.prefixWeight, impl.terms[id].df);
        }
        if (q.forms.empty()) continue;
        for (const TForm& f : q.forms)
            q.best = std::max(q.best, f.factor);
        words.push_back(std::move(q));
    }
    if (words.size() > fparams.maxQueryWords) {
        std::vector<size_t> order(words.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return words[a].weight * words[a].best > words[b].weight * words[b].best;
        });
        order.resize(fparams.maxQueryWords);
        std::sort(order.begin(), order.end());
        std::vector<TQueryTerm> kept;
        for (const size_t i : order)
            kept.push_back(std::move(words[i]));
        words.swap(kept);
    }
    if (words.empty()) return hits;
    // The kept words as the search uses them: the same again, on the same index, list the same.
    std::vector<uint32_t> key;
    auto bits = [](float f) { return std::bit_cast<uint32_t>(f); };
    for (const TQueryTerm& q : words) {
        key.push_back(bits(q.weight));
        key.push_back(static_cast<uint32_t>(q.forms.size()));
        for (const TForm& f : q.forms) {
            key.push_back(f.term);
            key.push_back(bits(f.factor));
            key.push_back(f.common);
        }
    }
    {
        std::lock_guard lock(impl.recentLock);
        for (const TImpl::TRecent& r : impl.recent)
            if (r.generation == impl.generation && r.words == key) return r.hits;
    }

    float reachable = 0;
    const float full = bm.Saturate(fparams.wTitle + fparams.wProblem);
    for (const TQueryTerm& q : words)
        reachable += q.weight * q.best * full;

    std::unique_ptr<TScratch> scratch = TakeScratch();
    TScratch& s = *scratch;

    // The fields' inverse length norms of the usual lengths, computed once per search.
    constexpr uint32_t kTabled = 1024;
    std::vector<float> inverse(3 * kTabled);
    for (int field = 0; field < 3; ++field)
        for (uint32_t len = 0; len < kTabled; ++len)
            inverse[field * kTabled + len] = bm.InverseNorm(field, len);
    auto inverseNorm = [&](int field, uint32_t len) {
        return len < kTabled ? inverse[field * kTabled + len] : bm.InverseNorm(field, len);
    };
    // The blended counts of a posting's problem and solution.
    auto blend = [&](uint32_t d, const TFieldCounts& tf, float& p, float& sol) {
        const TFieldCounts& len = impl.docs[d].lengths;
        p = tf.title == 0 && tf.problem == 0
                ? 0.0f
                : bm.ProblemTf(tf, inverseNorm(0, len.title), inverseNorm(1, len.problem));
        sol = tf.solution == 0 ? 0.0f : bm.SolutionTf(tf, inverseNorm(2, len.solution));
    };

    // First the words in decreasing order of the most they can add (an entry's score for a word
    // is its best form's idf times a saturated count, below k1 + 1), each adding its best form to
    // a bound of every entry's score. Once the words left cannot lift an entry that none of the
    // words so far reached to the `limit`-th best score seen, only the entries reached so far are
    // followed, and those that cannot reach it any more are dropped. The bounds are sums in
    // another order than the score's, so they are compared with a margin far above the
    // difference rounding can make (24 words at most).
    constexpr double kSlack = 1e-4;
    const double kMost = static_cast<double>(fparams.k1) + 1.0;
    std::vector<size_t> order(words.size());
    std::vector<double> most(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        order[i] = i;
        most[i] = static_cast<double>(words[i].weight) * words[i].best * kMost * (1 + kSlack);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return most[a] > most[b]; });
    double left = 0;
    for (const double m : most)
        left += m;
    enum : uint8_t { kUntouched = 0, kFollowed = 1, kDropped = 2, kKept = 3 };
    const size_t limit = std::max<size_t>(fparams.limit, 1);
    double floor = 0;
    float highest = 0;
    bool closed = false;  // no entry untouched so far can be listed any more
    // A lower bound of the limit-th best score of the entries that can be listed, when above
    // `floor` (0 otherwise): only the bounds that could raise it are gathered, which after the
    // first time are few.
    auto floorOfBest = [&](double floor) {
        s.values.clear();
        for (const uint32_t d : closed ? s.followed : s.touched)
            if (s.state[d] == kFollowed && static_cast<double>(s.bound[d]) * (1 - kSlack) > floor)
                s.values.push_back(s.bound[d]);
        if (s.values.size() < limit) return 0.0;
        std::nth_element(s.values.begin(), s.values.begin() + static_cast<ptrdiff_t>(limit - 1),
                         s.values.end(), std::greater<>());
        return static_cast<double>(s.values[limit - 1]) * (1 - kSlack);
    };
    // Only an entry that shares a term that is not common can be listed: those are marked first,
    // so that the common terms' long lists are followed for them alone. Without a common term,
    // every live entry reached is one.
    bool anyCommon = false;
    for (const TQueryTerm& q : words)
        for (const TForm& f : q.forms)
            anyCommon = anyCommon || f.common;
    const std::vector<uint8_t>& listable = anyCommon ? s.candidate : flive;
    for (const TQueryTerm& q : words)
        for (const TForm& f : q.forms) {
            if (f.common || !anyCommon) continue;
            ForEachPosting(impl.terms[f.term].postings, [&](uint32_t d, const TFieldCounts&) {
                if (!s.candidate[d] && flive[d]) {
                    s.candidate[d] = 1;
                    s.marked.push_back(d);
                }
            });
        }
    if (anyCommon && s.marked.empty()) {  // no entry shares a term that is not common
        GiveScratch(std::move(scratch));
        return hits;
    }
    // Reads a form's list for a pass whose visit passes over every doc but those of `docs`
    // (ascending, or null for any): only their postings when they are fewer than the list's
    // blocks, the whole list otherwise.
    auto follow = [&](uint32_t term, const std::vector<uint32_t>* docs, auto&& visit) {
        const TImpl::TTerm& t = impl.terms[term];
        const std::vector<TSkip>* blocks = impl.SkipsOf(term);
        if (!docs || !blocks || docs->size() >= blocks->size())
            return ForEachPosting(t.postings, visit);
        TPostingCursor cursor(t.postings, blocks);
        TFieldCounts tf;
        for (const uint32_t d : *docs) {
            if (d > t.lastDoc) break;
            if (cursor.Find(d, tf)) visit(d, tf);
        }
    };
    // The docs the bounding may still follow, ascending: the marked until closed (sorted when
    // first needed), then those followed when it closed.
    bool markedSorted = false;
    auto stillFollowed = [&](uint32_t term) -> const std::vector<uint32_t>* {
        if (closed) return &s.followed;
        if (!anyCommon) return nullptr;
        const std::vector<TSkip>* blocks = impl.SkipsOf(term);
        if (!blocks || s.marked.size() >= blocks->size()) return nullptr;
        if (!markedSorted) std::sort(s.marked.begin(), s.marked.end());
        markedSorted = true;
        return &s.marked;
    };
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t w = order[k];
        const TQueryTerm& q = words[w];
        left -= most[w];
        const bool single = q.forms.size() == 1;
        for (const TForm& f : q.forms) {
            follow(f.term, stillFollowed(f.term), [&](uint32_t d, const TFieldCounts& tf) {
                uint8_t& state = s.state[d];
                if (state != kFollowed) {
                    if (closed || state == kDropped || !listable[d]) return;
                    state = kFollowed;
                    s.touched.push_back(d);
                }
                float p, sol;
                blend(d, tf, p, sol);
                const float whole = f.factor * bm.Saturate(p + sol);
                if (single) {
                    s.bound[d] += q.weight * whole;
                    highest = std::max(highest, s.bound[d]);
                    return;
                }
                if (s.wordF[d] == 0) s.words.push_back(d);
                s.wordF[d] = std::max(s.wordF[d], whole);
            });
        }
        for (const uint32_t d : s.words) {
            s.bound[d] += q.weight * s.wordF[d];
            highest = std::max(highest, s.bound[d]);
            s.wordF[d] = 0;
        }
        s.words.clear();
        // Worth a look only when an entry already beats what the words left can add.
        if (k + 1 == order.size() || (!closed && static_cast<double>(highest) <= left)) continue;
        floor = std::max(floor, floorOfBest(floor));
        if (left < floor) {
            // The entries still followed, once closed, are those left of the followed then.
            const bool closing = !closed;
            closed = true;
            for (const uint32_t d : closing ? s.touched : s.followed)
                if (s.state[d] == kFollowed &&
                    static_cast<double>(s.bound[d]) * (1 + kSlack) + left <= floor)
                    s.state[d] = kDropped;
            if (closing) {
                for (const uint32_t d : s.touched)
                    if (s.state[d] == kFollowed) s.followed.push_back(d);
                std::sort(s.followed.begin(), s.followed.end());
            } else {
                std::erase_if(s.followed, [&](uint32_t d) { return s.state[d] != kFollowed; });
            }
        }
    }
    floor = std::max(floor, floorOfBest(floor));

    // Then the exact scores of the entries that may be listed, word by word in the query's
    // order as the formula adds them: each word keeps, per entry, the best of its forms.
    for (const uint32_t d : s.touched)
        if (s.state[d] == kFollowed &&
            (floor == 0 || static_cast<double>(s.bound[d]) * (1 + kSlack) > floor)) {
            s.state[d] = kKept;
            s.candidates.push_back(d);
        }
    std::sort(s.candidates.begin(), s.candidates.end());
    for (const TQueryTerm& q : words) {
        for (const TForm& f : q.forms) {
            follow(f.term, &s.candidates, [&](uint32_t d, const TFieldCounts& tf) {
                if (s.state[d] != kKept) return;
                float p, sol;
                blend(d, tf, p, sol);
                const float whole = f.factor * bm.Saturate(p + sol);
                const float problem = p == 0 ? 0.0f : sol == 0 ? whole : f.factor * bm.Saturate(p);
                const float solution = sol == 0 ? 0.0f
                                       : p == 0 ? whole
                                                : f.factor * bm.Saturate(sol);
                if (s.wordF[d] == 0) s.words.push_back(d);
                s.wordF[d] = std::max(s.wordF[d], whole);
                s.wordP[d] = std::max(s.wordP[d], problem);
                s.wordS[d] = std::max(s.wordS[d], solution);
            });
        }
        for (const uint32_t d : s.words) {
            s.acc[d] += q.weight * s.wordF[d];
            s.accP[d] += q.weight * s.wordP[d];
            s.accS[d] += q.weight * s.wordS[d];
            s.wordF[d] = s.wordP[d] = s.wordS[d] = 0;
        }
        s.words.clear();
    }

    float top = 0;
    for (const uint32_t d : s.candidates)
        top = std::max(top, s.acc[d]);
    for (const uint32_t d : s.candidates) {
        const float score = s.acc[d];
        const float percent = std::min(100.0f, 100.0f * score / reachable);
        if (score >= fparams.relativeCut * top && percent >= fparams.minPercent)
            hits.push_back(TBestMatchHit{d, score, percent, s.accP[d] >= s.accS[d] ? 'P' : 'S'});
        s.acc[d] = s.accP[d] = s.accS[d] = 0;
    }
    for (const uint32_t d : s.touched) {
        s.bound[d] = 0;
        s.state[d] = kUntouched;
    }
    for (const uint32_t d : s.marked)
        s.candidate[d] = 0;
    s.touched.clear();
    s.marked.clear();
    s.candidates.clear();
    s.followed.clear();
    GiveScratch(std::move(scratch));

    auto better = [](const TBestMatchHit& a, const TBestMatchHit& b) {
        return a.score != b.score ? a.score > b.score : a.doc < b.doc;
    };
    if (hits.size() > fparams.limit) {
        std::partial_sort(hits.begin(), hits.begin() + fparams.limit, hits.end(), better);
        hits.resize(fparams.limit);
    } else {
        std::sort(hits.begin(), hits.end(), better);
    }
    std::lock_guard lock(impl.recentLock);
    if (impl.recent.size() == TImpl::kRecent) impl.recent.erase(impl.recent.begin());
    impl.recent.push_back(TImpl::TRecent{impl.generation, std::move(key), hits});
    return hits;
}

size_t TBestMatchIndex::MemoryUsage() const {
    const TImpl& impl = *fimpl;
    size_t bytes = flive.capacity() + impl.docs.capacity() * sizeof(TImpl::TDoc) +
                   impl.terms.capacity() * sizeof(TImpl::TTerm) +
                   (impl.sorted.capacity() + impl.unsorted.capacity()) * sizeof(uint32_t) +
                   impl.dict.MemoryUsage();
    for (const TImpl::TTerm& t : impl.terms)
        bytes += t.postings.capacity();
    for (const std::vector<TSkip>& blocks : impl.skips)
        bytes += sizeof(blocks) + blocks.capacity() * sizeof(TSkip);
    std::lock_guard lock(impl.scratchLock);
    for (const auto& s : impl.scratchPool)
        bytes += s->Bytes();
    return bytes;
}
