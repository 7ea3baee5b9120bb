// Texts are paired into entries as they come; an entry whose texts changed leaves the index at
// once and waits, with every other new or changed entry, for Settle, which adds them in one batch
// (a full load comes in many small batches of texts, and an entry's two texts may lie in two).
#include "core/bestsearch.h"

#include <algorithm>

#include "core/searchindex.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestrow.h"

namespace {

std::unique_ptr<TBestMatchIndex> NewIndex() {
    return std::make_unique<TBestMatchIndex>(TWordReader{ReadWords});
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
}

void TBestSearch::Unindex(size_t place) {
    TEntry& entry = *fentries[place];
    if (entry.doc != kNoEntryDoc) {
        findex->Remove(entry.doc, TEntryText{entry.problem, entry.solution});
        entry.doc = kNoEntryDoc;
    }
    if (!entry.dirty) {
        entry.dirty = true;
        fdirty.push_back(place);
    }
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
        const bool problem = t.texttype == "P";
        // Kept for the life of the entry: without the room the conversion reserved.
        std::string& text = problem ? entry.problem : entry.solution;
        text = Utf8FromStored(t.stored);
        text.shrink_to_fit();
        (problem ? entry.hasProblem : entry.hasSolution) = true;
    }
}

void TBestSearch::RemoveText(std::string_view ID, std::string_view texttype) {
    const auto it = fbyID.find(ID);
    if (it == fbyID.end()) return;
    TEntry& entry = *fentries[it->second];
    const bool problem = texttype == "P";
    if (!(problem ? entry.hasProblem : entry.hasSolution)) return;
    Unindex(it->second);
    (problem ? entry.problem : entry.solution).clear();
    (problem ? entry.hasProblem : entry.hasSolution) = false;
}

void TBestSearch::RemoveEntry(std::string_view ID) {
    const auto it = fbyID.find(ID);
    if (it == fbyID.end()) return;
    const size_t place = it->second;
    Unindex(place);
    fbyID.erase(it);          // before the entry that holds its key
    fentries[place].reset();  // Settle passes over it
}

void TBestSearch::Settle() {
    if (fdirty.empty()) return;
    std::vector<size_t> places;
    for (const size_t place : fdirty) {
        TEntry* entry = fentries[place].get();
        if (!entry) continue;
        entry->dirty = false;
        if (entry->hasProblem || entry->hasSolution) places.push_back(place);
    }
    fdirty.clear();
    // In the order entries were first seen, which is load order for a full load. The index
    // reads their words on both processors, a slice at a time.
    std::sort(places.begin(), places.end());
    std::vector<TEntryText> texts;
    texts.reserve(places.size());
    for (const size_t place : places)
        texts.push_back(TEntryText{fentries[place]->problem, fentries[place]->solution});
    const uint32_t first = findex->AddBatch(texts);
    fentryOfDoc.resize(first + places.size());
    for (size_t i = 0; i < places.size(); ++i) {
        fentries[places[i]]->doc = first + static_cast<uint32_t>(i);
        fentryOfDoc[first + i] = places[i];
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

    // Each row's ID, text type, title and excerpt lie back to back in one chunk, as the index
    // lays out Classic's, so that a hit knows its text type the same way.
    struct TPlaced {
        size_t id, type, title, excerpt, end;
    };
    std::vector<TPlaced> placed;
    placed.reserve(found.size());
    auto chunk = std::make_shared<std::string>();
    pass->bold.reserve(found.size());
    for (const TBestMatchHit& hit : found) {
        const TEntry& entry = *fentries[fentryOfDoc[hit.doc]];
        TBestRow row =
            MakeBestRow(ReadWords, TEntryText{entry.problem, entry.solution}, words, hit.text);
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
