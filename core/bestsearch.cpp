// Texts are paired into entries as they come; an entry whose texts changed leaves the index at
// once and waits, with every other new or changed entry, to be indexed. Entries go into the index
// in the order first seen (a full load's order, which ties are broken by), so an entry is indexed
// early (during a load, a batch at a time, which keeps what waits small) only once every entry
// waiting before it can be too; Settle indexes the rest.
#include "core/bestsearch.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "core/searchindex.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestrow.h"
#include "textsearch/helperthread.h"

namespace {

// Entries indexed at a time: their terms are held decoded meanwhile, as views of the rows; enough
// for the index to post one slice while it merges the next.
constexpr size_t kChunk = 1024;
// Entries indexed after which Settle trims the index's lists.
constexpr size_t kTrimAfter = 1024;
// Rows a pass makes on its own thread alone; more are shared with a helper.
constexpr size_t kRowsAlone = 16;

std::unique_ptr<TBestMatchIndex> NewIndex() {
    return std::make_unique<TBestMatchIndex>(TWordReader{ReadWords});
}

int TypeIndex(std::string_view texttype) {
    return texttype == "P" ? 0 : 1;
}

}  // namespace

TBestSearch::TBestSearch() : findex(NewIndex()) {}
TBestSearch::~TBestSearch() = default;

void TBestSearch::Clear() {
    findex = NewIndex();
    fentries.clear();
    fbyID.clear();
    fentryOfDoc.clear();
    fdirty.clear();
    fholding = false;
    fheld.clear();
    fread.clear();
    funtrimmed = 0;
    std::lock_guard lock(fsourcesLock);
    fsources.clear();
}

std::string TBestSearch::SourceKey(std::string_view ID, char text) {
    std::string key(ID);
    key += '\0';
    key += text;
    return key;
}

void TBestSearch::Unindex(size_t place) {
    TEntry& entry = *fentries[place];
    {
        std::lock_guard lock(fsourcesLock);
        if (!fsources.empty()) {
            fsources.erase(SourceKey(entry.ID, 'P'));
            fsources.erase(SourceKey(entry.ID, 'S'));
        }
    }
    if (entry.doc != kNoEntryDoc) {
        // Kept texts find the entry's terms at once; otherwise every list is looked through.
        if (freader && fholding) {
            fheld.push_back(entry.doc);
        } else if (freader) {
            findex->Remove(entry.doc);
        } else {
            findex->Remove(entry.doc, TEntryText{entry.problem, entry.solution});
        }
        entry.doc = kNoEntryDoc;
    }
    if (!entry.dirty) {
        entry.dirty = true;
        fdirty.push_back(place);
    }
}

bool TBestSearch::Complete(const TEntry& entry) const {
    if (!freader) return true;
    for (int type = 0; type < 2; ++type) {
        const bool has = type == 0 ? entry.hasProblem : entry.hasSolution;
        if (has && !entry.pending[type]) return false;
    }
    return true;
}

void TBestSearch::Add(std::span<const TText> texts) {
    for (const TText& t : texts) {
        auto it = fbyID.find(t.ID);
        if (it == fbyID.end()) {
            fentries.push_back(std::make_unique<TEntry>());
            fentries.back()->ID.assign(t.ID);
            it = fbyID.emplace(fentries.back()->ID, fentries.size() - 1).first;
        }
        Unindex(it->second);
        TEntry& entry = *fentries[it->second];
        const int type = TypeIndex(t.texttype);
        auto pending = std::make_unique<TPending>();
        pending->key = t.key;
        pending->bytes = t.stored.size();
        if (t.terms) {
            pending->terms.assign(*t.terms);
            pending->hasTerms = true;
        }
        if (!freader) {
            // Kept for the life of the entry: without the room the conversion reserved.
            std::string& text = type == 0 ? entry.problem : entry.solution;
            text = Utf8FromStored(t.stored);
            text.shrink_to_fit();
        } else if (!t.terms) {
            pending->utf8 = Utf8FromStored(t.stored);
            pending->hasText = true;
        }
        entry.pending[type] = std::move(pending);
        (type == 0 ? entry.hasProblem : entry.hasSolution) = true;
    }

    // The entries waiting that can go now: a prefix of them in increasing order, each complete,
    // all first seen before any entry still waiting.
    size_t ready = 0;
    while (ready < fdirty.size() && (ready == 0 || fdirty[ready] > fdirty[ready - 1]) &&
           (!fentries[fdirty[ready]] || Complete(*fentries[fdirty[ready]])))
        ++ready;
    if (ready == 0) return;
    size_t firstLeft = SIZE_MAX;
    for (size_t i = ready; i < fdirty.size(); ++i)
        firstLeft = std::min(firstLeft, fdirty[i]);
    ready = static_cast<size_t>(
        std::lower_bound(fdirty.begin(), fdirty.begin() + static_cast<ptrdiff_t>(ready),
                         firstLeft) -
        fdirty.begin());
    if (ready == 0) return;
    std::vector<size_t> places;
    for (size_t i = 0; i < ready; ++i) {
        TEntry* entry = fentries[fdirty[i]].get();
        if (!entry) continue;
        entry->dirty = false;
        if (entry->hasProblem || entry->hasSolution) places.push_back(fdirty[i]);
    }
    fdirty.erase(fdirty.begin(), fdirty.begin() + static_cast<ptrdiff_t>(ready));
    IndexEntries(places);
}

void TBestSearch::RemoveText(std::string_view ID, std::string_view texttype) {
    const auto it = fbyID.find(ID);
    if (it == fbyID.end()) return;
    TEntry& entry = *fentries[it->second];
    const int type = TypeIndex(texttype);
    if (!(type == 0 ? entry.hasProblem : entry.hasSolution)) return;
    Unindex(it->second);
    (type == 0 ? entry.problem : entry.solution).clear();
    entry.pending[type].reset();
    (type == 0 ? entry.hasProblem : entry.hasSolution) = false;
    // With no text left the entry goes, as a load would not have it: texts of it that come
    // again make it anew, after the entries there before, as a load orders them.
    if (!entry.hasProblem && !entry.hasSolution) {
        const size_t place = it->second;
        fbyID.erase(it);          // before the entry that holds its key
        fentries[place].reset();
    }
}

void TBestSearch::HoldRemovals() {
    fholding = true;
}

void TBestSearch::FlushRemovals() {
    fholding = false;
    findex->RemoveMany(fheld);
    fheld.clear();
}

void TBestSearch::RemoveEntry(std::string_view ID) {
    const auto it = fbyID.find(ID);
    if (it == fbyID.end()) return;
    const size_t place = it->second;
    Unindex(place);
    fbyID.erase(it);          // before the entry that holds its key
    fentries[place].reset();  // indexing passes over it
}

void TBestSearch::IndexEntries(std::span<const size_t> places) {
    struct TJob {
        const TPending* pending = nullptr;
        std::string_view kept;  // the kept text, without a reader
        bool problem = true;
        TTextTerms* owned = nullptr;  // the terms counted from the text
        TTextTermsView* out = nullptr;
        std::string record;  // the terms read, for the store to keep
        bool undecoded = false;  // its terms were not of this version's making
    };
    std::vector<TTextTerms>& terms = fcounted;
    std::vector<TTextTermsView>& views = fviews;
    terms.resize(std::min(2 * kChunk, 2 * places.size()));
    views.resize(terms.size());
    std::vector<TJob> jobs;
    std::vector<TEntryTerms> batch;
    for (size_t from = 0; from < places.size(); from += kChunk) {
        const std::span<const size_t> chunk =
            places.subspan(from, std::min(kChunk, places.size() - from));
        // Texts neither handed over nor kept (an entry indexed again with a text it had before)
        // are read back from the store, whose text stands for the row now.
        std::vector<std::string_view> missing;
        for (const size_t place : chunk) {
            const TEntry& e = *fentries[place];
            if ((e.hasProblem && !e.pending[0]) || (e.hasSolution && !e.pending[1]))
                missing.push_back(e.ID);
        }
        if (freader && !missing.empty()) {
            for (const size_t place : chunk) {
                TEntry& e = *fentries[place];
                for (int type = 0; type < 2; ++type)
                    if ((type == 0 ? e.hasProblem : e.hasSolution) && !e.pending[type]) {
                        e.pending[type] = std::make_unique<TPending>();
                        e.pending[type]->hasText = true;  // empty unless the store has it
                        e.pending[type]->key = -1;        // not one to keep terms for
                    }
            }
            std::vector<uint8_t> seen(2 * chunk.size(), 0);
            std::unordered_map<std::string_view, size_t> at;
            for (size_t i = 0; i < chunk.size(); ++i)
                at.emplace(fentries[chunk[i]]->ID, i);
            try {
                freader(missing, [&](std::string_view ID, std::string_view texttype,
                                     std::string_view stored) {
                    const auto it = at.find(ID);
                    if (it == at.end()) return;
                    const int type = TypeIndex(texttype);
                    TPending* p = fentries[chunk[it->second]]->pending[type].get();
                    if (seen[2 * it->second + type]++ || !p || p->key != -1) return;
                    p->utf8 = Utf8FromStored(stored);
                });
            } catch (const std::exception&) {
                // Indexed with what is at hand; the next load reads them again.
            }
        }

        jobs.clear();
        batch.clear();
        for (size_t i = 0; i < chunk.size(); ++i) {
            const TEntry& e = *fentries[chunk[i]];
            TEntryTerms entryTerms;
            for (int type = 0; type < 2; ++type) {
                if (!(type == 0 ? e.hasProblem : e.hasSolution)) continue;
                TJob job;
                job.pending = e.pending[type].get();
                if (!freader) job.kept = type == 0 ? e.problem : e.solution;
                job.problem = type == 0;
                job.owned = &terms[2 * i + type];
                job.out = &views[2 * i + type];
                (type == 0 ? entryTerms.problem : entryTerms.solution) = job.out;
                jobs.push_back(std::move(job));
            }
            batch.push_back(entryTerms);
        }
        // The words are read on both processors.
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t j; (j = next.fetch_add(1, std::memory_order_relaxed)) < jobs.size();) {
                TJob& job = jobs[j];
                const TPending* p = job.pending;
                if (p && p->hasTerms) {
                    if (DecodeTextTerms(p->terms, *job.out)) continue;
                    if (freader) {
                        job.undecoded = true;  // read from the text below
                        continue;
                    }
                }
                const std::string_view text = p && p->hasText ? std::string_view(p->utf8)
                                                              : job.kept;
                CountTextTerms(ReadWords, text, job.problem, *job.owned);
                job.out->View(*job.owned);
                if (fcollect && p && p->key >= 0) job.record = EncodeTextTerms(*job.owned);
            }
        };
        {
            THelperThread helper(work);
            work();
            helper.Join();
        }
        // Terms the store kept that this version cannot read: the texts are read instead.
        std::vector<std::string_view> undecoded;
        for (size_t i = 0, j = 0; i < chunk.size(); ++i) {
            const TEntry& e = *fentries[chunk[i]];
            for (int type = 0; type < 2; ++type)
                if ((type == 0 ? e.hasProblem : e.hasSolution) && jobs[j++].undecoded &&
                    (undecoded.empty() || undecoded.back() != e.ID))
                    undecoded.push_back(e.ID);
        }
        if (!undecoded.empty()) {
            std::unordered_map<std::string_view, size_t> at;
            for (size_t i = 0; i < chunk.size(); ++i)
                at.emplace(fentries[chunk[i]]->ID, i);
            std::vector<size_t> jobOf(2 * chunk.size(), SIZE_MAX);
            for (size_t i = 0, j = 0; i < chunk.size(); ++i) {
                const TEntry& e = *fentries[chunk[i]];
                for (int type = 0; type < 2; ++type)
                    if (type == 0 ? e.hasProblem : e.hasSolution) jobOf[2 * i + type] = j++;
            }
            std::vector<uint8_t> seen(2 * chunk.size(), 0);
            auto count = [&](TJob& job, std::string_view stored) {
                CountTextTerms(ReadWords, Utf8FromStored(stored), job.problem, *job.owned);
                job.out->View(*job.owned);
                if (fcollect && job.pending->key >= 0) {
                    job.record = EncodeTextTerms(*job.owned);
                    const_cast<TPending*>(job.pending)->bytes = stored.size();
                }
                job.undecoded = false;
            };
            try {
                freader(undecoded, [&](std::string_view ID, std::string_view texttype,
                                       std::string_view stored) {
                    const auto it = at.find(ID);
                    if (it == at.end()) return;
                    const size_t slot = 2 * it->second + TypeIndex(texttype);
                    if (seen[slot]++ || jobOf[slot] == SIZE_MAX) return;
                    if (jobs[jobOf[slot]].undecoded) count(jobs[jobOf[slot]], stored);
                });
            } catch (const std::exception&) {
                // Indexed with what is at hand; the next load reads them again.
            }
            for (TJob& job : jobs)
                if (job.undecoded) count(job, {});
        }
        for (size_t i = 0, j = 0; i < chunk.size(); ++i) {
            TEntry& e = *fentries[chunk[i]];
            for (int type = 0; type < 2; ++type) {
                if (!(type == 0 ? e.hasProblem : e.hasSolution)) continue;
                TJob& job = jobs[j++];
                if (!job.record.empty())
                    fread.push_back(TReadTerms{job.pending->key, e.ID, type == 0 ? "P" : "S",
                                               job.pending->bytes, std::move(job.record)});
            }
        }
        const uint32_t first = findex->AddTermsBatch(batch);
        fentryOfDoc.resize(first + chunk.size());
        for (size_t i = 0; i < chunk.size(); ++i) {
            TEntry& e = *fentries[chunk[i]];
            e.doc = first + static_cast<uint32_t>(i);
            fentryOfDoc[first + i] = chunk[i];
            e.pending[0].reset();
            e.pending[1].reset();
        }
    }
    funtrimmed += places.size();
}

bool TBestSearch::Save(TImageWriter& out) const {
    if (!freader || !fdirty.empty()) return false;
    uint64_t entries = 0;
    for (const auto& entry : fentries)
        entries += entry != nullptr;
    out.Put(entries);
    for (const auto& entry : fentries) {
        if (!entry) continue;
        out.PutString(entry->ID);
        out.Put<uint8_t>((entry->hasProblem ? 1 : 0) | (entry->hasSolution ? 2 : 0));
        out.Put<uint32_t>(entry->doc);
    }
    findex->Save(out);
    return true;
}

bool TBestSearch::Restore(TImageReader& in) {
    Clear();
    uint64_t entries = 0;
    bool ok = in.Get(entries) && entries <= in.Left();
    for (uint64_t i = 0; ok && i < entries; ++i) {
        auto entry = std::make_unique<TEntry>();
        uint8_t texts = 0;
        ok = in.GetString(entry->ID) && in.Get(texts) && in.Get(entry->doc) && texts <= 3;
        entry->hasProblem = texts & 1;
        entry->hasSolution = texts & 2;
        fentries.push_back(std::move(entry));
        ok = ok && fbyID.emplace(fentries.back()->ID, fentries.size() - 1).second;
    }
    ok = ok && findex->Restore(in);
    // Every live doc is one entry's, and every entry's doc is live.
    if (ok) fentryOfDoc.assign(findex->DocCount(), SIZE_MAX);
    for (size_t place = 0; ok && place < fentries.size(); ++place) {
        const uint32_t doc = fentries[place]->doc;
        if (doc == kNoEntryDoc) continue;
        ok = findex->IsLive(doc) && fentryOfDoc[doc] == SIZE_MAX;
        if (ok) fentryOfDoc[doc] = place;
    }
    for (size_t doc = 0; ok && doc < fentryOfDoc.size(); ++doc)
        ok = !findex->IsLive(static_cast<uint32_t>(doc)) || fentryOfDoc[doc] != SIZE_MAX;
    if (!ok) Clear();
    return ok;
}

void TBestSearch::Settle() {
    if (!fdirty.empty()) {
        std::vector<size_t> places;
        for (const size_t place : fdirty) {
            TEntry* entry = fentries[place].get();
            if (!entry) continue;
            entry->dirty = false;
            if (entry->hasProblem || entry->hasSolution) places.push_back(place);
        }
        fdirty.clear();
        // In the order entries were first seen, which is load order for a full load.
        std::sort(places.begin(), places.end());
        IndexEntries(places);
    }
    // The lists give back the room they grew with once a load or a large sync is in: trimming
    // after every batch would copy every list once a batch, and after every save the lists that
    // save grew.
    if (funtrimmed >= kTrimAfter) {
        findex->Trim();
        funtrimmed = 0;
    }
}

std::vector<std::string> TBestSearch::Languages() const {
    return findex->Languages();
}

size_t TBestSearch::MemoryUsage() const {
    size_t bytes = findex->MemoryUsage() + fentryOfDoc.capacity() * sizeof(size_t) +
                   fentries.capacity() * sizeof(void*) + fbyID.size() * 56;
    for (const auto& entry : fentries) {
        if (!entry) continue;
        bytes += sizeof(TEntry) + entry->problem.capacity() + entry->solution.capacity() +
                 entry->ID.capacity();
        for (const auto& p : entry->pending)
            if (p) bytes += sizeof(TPending) + p->terms.capacity() + p->utf8.capacity();
    }
    return bytes;
}

std::unique_ptr<TSearchPass> TBestSearch::Search(std::string_view storedQuery,
                                                 bool caretAtEnd) const {
    auto pass = std::make_unique<TSearchPass>();
    pass->tree = std::make_unique<TScoretree<TcvResults>>();
    const std::string query = Utf8FromStored(storedQuery);
    const std::vector<std::string> languages = Languages();
    const std::vector<TQueryWord> words = ReadQueryWords(query, languages, caretAtEnd);
    const std::vector<TBestMatchHit> found = findex->Search(words);

    // Each row's source: the last pass's when it listed the entry by the same text (a keystroke
    // later most rows are the same), otherwise made from the entry's texts.
    std::vector<std::string> keys(found.size());
    std::vector<std::shared_ptr<const TBestRowSource>> sources(found.size());
    {
        std::lock_guard lock(fsourcesLock);
        for (size_t i = 0; i < found.size(); ++i) {
            keys[i] = SourceKey(fentries[fentryOfDoc[found[i].doc]]->ID, found[i].text);
            if (const auto it = fsources.find(keys[i]); it != fsources.end())
                sources[i] = it->second;
        }
    }
    // The texts of the entries without one, read back from the store in one go (the first row
    // of each type, and only the types the entry has); a text it no longer has shows as empty.
    std::vector<std::string> texts;
    bool unread = false;  // the store failed: the sources made now are not kept
    if (freader) {
        texts.resize(2 * found.size());
        std::vector<std::string_view> IDs;
        std::unordered_map<std::string_view, size_t> at;
        for (size_t i = 0; i < found.size(); ++i) {
            if (sources[i]) continue;
            const TEntry& entry = *fentries[fentryOfDoc[found[i].doc]];
            if (at.emplace(entry.ID, i).second) IDs.push_back(entry.ID);
        }
        std::vector<uint8_t> seen(texts.size(), 0);
        try {
            if (!IDs.empty())
                freader(IDs, [&](std::string_view ID, std::string_view texttype,
                                 std::string_view stored) {
                    const auto it = at.find(ID);
                    if (it == at.end()) return;
                    const size_t slot = 2 * it->second + TypeIndex(texttype);
                    if (!seen[slot]++) texts[slot] = Utf8FromStored(stored);
                });
        } catch (const std::exception&) {
            unread = true;  // the rows show their scores without texts; the next pass reads them
        }
    }

    // Each row's ID, text type, title and excerpt lie back to back in one chunk, as the index
    // lays out Classic's, so that a hit knows its text type the same way.
    struct TPlaced {
        size_t id, type, title, excerpt, end;
    };
    std::vector<TPlaced> placed;
    placed.reserve(found.size());
    auto chunk = std::make_shared<std::string>();
    pass->bold.reserve(found.size());
    const TBestRowQuery rowQuery(words);  // once for every row: a paste has hundreds of words
    // The rows are made on both processors, each taking the next few; a source to be made reads
    // its text's words.
    std::vector<TBestRow> rows(found.size());
    std::atomic<size_t> nextRow{0};
    auto makeRows = [&] {
        constexpr size_t kTake = 4;
        for (size_t from; (from = nextRow.fetch_add(kTake, std::memory_order_relaxed)) <
                          found.size();)
            for (size_t i = from; i < std::min(found.size(), from + kTake); ++i) {
                if (!sources[i]) {
                    const TEntry& entry = *fentries[fentryOfDoc[found[i].doc]];
                    TEntryText text{entry.problem, entry.solution};
                    if (freader) {
                        text.problem = entry.hasProblem ? std::string_view(texts[2 * i])
                                                        : std::string_view();
                        text.solution = entry.hasSolution ? std::string_view(texts[2 * i + 1])
                                                          : std::string_view();
                    }
                    sources[i] = std::make_shared<const TBestRowSource>(
                        MakeBestRowSource(ReadWords, text, found[i].text));
                }
                rows[i] = MakeBestRow(*sources[i], rowQuery);
            }
    };
    if (found.size() > kRowsAlone) {
        THelperThread helper(makeRows);
        makeRows();
        helper.Join();
    } else {
        makeRows();
    }
    if (!unread) {
        std::unordered_map<std::string, std::shared_ptr<const TBestRowSource>> kept;
        for (size_t i = 0; i < found.size(); ++i)
            kept.emplace(std::move(keys[i]), std::move(sources[i]));
        std::lock_guard lock(fsourcesLock);
        fsources.swap(kept);
    }
    for (size_t i = 0; i < found.size(); ++i) {
        const TBestMatchHit& hit = found[i];
        const TEntry& entry = *fentries[fentryOfDoc[hit.doc]];
        TBestRow& row = rows[i];
        TPlaced p{};
        p.id = chunk->size();
        chunk->append(entry.ID);
        p.type = chunk->size();
        chunk->push_back(hit.text);
        p.title = chunk->size();
        chunk->append(row.title);
        p.excerpt = chunk->size();
        chunk->append(row.excerpt);
        p.end = chunk->size();
        placed.push_back(p);
        pass->bold.push_back(std::move(row.bold));
    }
    pass->texts.push_back(chunk);
    const std::string_view all = *chunk;
    pass->hits.reserve(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const TPlaced& p = placed[i];
        pass->hits.push_back(TcvResults{all.substr(p.id, p.type - p.id),
                                        all.substr(p.title, p.excerpt - p.title),
                                        {},
                                        all.substr(p.excerpt, p.end - p.excerpt),
                                        found[i].percent / 100.0f,
                                        nullptr});
    }
    // The panel lists equal keys last inserted first: the worst row goes in first, so that rows
    // of equal score keep the index's order.
    for (size_t i = found.size(); i-- > 0;)
        pass->tree->insert(pass->hits[i].Proximity, &pass->hits[i]);
    pass->tree->Prepare();
    return pass;
}
