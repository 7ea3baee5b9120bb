// TBestMatchIndex: Best match, the ranking of entries (a problem and its solution under one ID)
// by how well their words answer a typed query, beside Classic's ranking of texts.
//
// Entries get the ids 0, 1, 2, ... in the order added (load order), never reused; removing one
// takes its counts out of every statistic at once, so the weights always describe the live
// entries (see bm25f.h for the formula). A search scores every entry that shares a term with the
// query, keeping for each query word its best-scoring form (the stems a word may have, its
// accented form, and for the word being typed the stored terms it begins), and lists the best
// entries that clearly match: those that share at least one term that is not common, best first,
// equal scores in load order.
//
// Postings are kept per term as varint-coded gaps between doc ids, each followed by one byte of
// counts (three small counts packed, larger ones after it); a removed entry's postings stay until
// a quarter of the entries are removed, then every list is rewritten without them.
//
// Ownership: the index copies what it needs from the texts it is given.
// Thread safety: Add, AddWords, AddBatch, Remove and SetParams need exclusive access; Search and
// the other const members may run concurrently with each other (each search takes its working
// room from a pool under a lock of its own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "textsearch/bestmatch/bm25f.h"
#include "textsearch/imagestream.h"
#include "textsearch/words/words.h"

// An entry's two texts, UTF-8.
struct TEntryText {
    std::string_view problem;
    std::string_view solution;
};

// An entry's words, read once, as the index takes them.
struct TEntryWords {
    TTextWords problem;
    TTextWords solution;
    uint32_t titleEnd = 0;  // the problem's words that begin before this byte are its title
};

// ReadWords, or a stand-in with its contract: replaces `out` with the words of the text.
using TWordReader = void (*)(std::string_view utf8, TTextWords& out);

// The words of both texts; the title is the problem's first line.
TEntryWords ReadEntryWords(TWordReader reader, const TEntryText& entry);
void ReadEntryWords(TWordReader reader, const TEntryText& entry, TEntryWords& out);
// The byte where the first line of text ends (its first CR or LF, or its end).
uint32_t FirstLineEnd(std::string_view text);

// One text's terms as the index counts them, read once and kept beside the text in the store, so
// that loading needs no word reader: each distinct term (and accented form) in the order first
// met, with its counts in the text's two fields (a problem: its title and the rest; a solution:
// none and its words), the fields' lengths in words, and the text's language.
// Text is std::string for terms owned, std::string_view for terms viewed.
template <class Text>
struct TTextTermsOf {
    struct TTerm {
        Text text;
        uint32_t title = 0, body = 0;
    };
    std::vector<TTerm> terms;
    uint32_t titleWords = 0, bodyWords = 0;
    Text language;
};
using TTextTerms = TTextTermsOf<std::string>;

// The terms of a text (UTF-8), a problem or a solution, as adding its entry counts them.
void CountTextTerms(TWordReader reader, std::string_view utf8, bool problem, TTextTerms& out);
// The terms as text, for the store: a first line naming the form (kTextTermsForm), the language
// and the lengths, then a line per term. Decode gives false for anything else, which the caller
// then reads from the text again; a reader whose words change must change the form's name.
inline constexpr std::string_view kTextTermsForm = "bm1";
std::string EncodeTextTerms(const TTextTerms& terms);

// A text's terms as adding an entry takes them: views of a TTextTerms, or of its encoded form,
// which must outlive the view.
struct TTextTermsView : TTextTermsOf<std::string_view> {
    void View(const TTextTerms& owned);
};
// EncodeTextTerms undone without copying a term: out views `encoded`.
bool DecodeTextTerms(std::string_view encoded, TTextTermsView& out);

// An entry's two texts' terms; a text the entry lacks counts as an empty one.
struct TEntryTerms {
    const TTextTermsView* problem = nullptr;
    const TTextTermsView* solution = nullptr;
};

struct TBestMatchHit {
    uint32_t doc = 0;
    float score = 0;
    float percent = 0;  // 0 to 100: of the score of an entry that held every kept query word fully
    char text = 'P';    // the text that matched best: 'P' problem, 'S' solution
};

class TBestMatchIndex {
public:
    using DocId = uint32_t;

    explicit TBestMatchIndex(TWordReader reader, TBestMatchParams params = {});
    ~TBestMatchIndex();
    TBestMatchIndex(const TBestMatchIndex&) = delete;
    TBestMatchIndex& operator=(const TBestMatchIndex&) = delete;

    DocId Add(const TEntryText& entry);
    DocId AddWords(const TEntryWords& words);
    // Adds the entries in order, as that many calls of Add would, reading their words on two
    // threads. Returns the id of the first.
    DocId AddBatch(std::span<const TEntryText> entries);
    // Adds the entries in order from their texts' terms, as AddBatch would from their texts,
    // a slice at a time: both threads merge a slice's two texts and look its terms up, then this
    // one adds its new terms and posts it while the helper starts on the next. The lists keep
    // the room they grew with until Trim.
    DocId AddTermsBatch(std::span<const TEntryTerms> entries);
    void Trim();

    // Takes the entry out of every statistic and every later search. Given the texts it was
    // added with, only its own terms are visited; otherwise (or given other texts) every posting
    // list is read to find them. Unknown or removed ids are ignored.
    void Remove(DocId id, const TEntryText& entry);
    void Remove(DocId id);
    // Remove(id) of each, in one pass over every posting list instead of one per entry: for
    // many entries whose texts are not at hand (another program's writes taken in at once).
    void RemoveMany(std::span<const DocId> ids);

    size_t LiveCount() const { return fstats.entries; }
    // Ids given so far, live or not.
    size_t DocCount() const { return flive.size(); }
    bool IsLive(DocId id) const { return id < flive.size() && flive[id] != 0; }
    const TBestMatchStats& Stats() const { return fstats; }
    // The number of live entries holding the term, 0 for an unknown one.
    uint32_t DocumentFrequency(std::string_view term) const;

    // The stemming languages of the live texts (TTextWords::language), the commonest first: what
    // ReadQueryWords is to try for a query whose language it cannot tell.
    std::vector<std::string> Languages() const;

    const TBestMatchParams& Params() const { return fparams; }
    void SetParams(const TBestMatchParams& params);

    // The best entries for the query's words (ReadQueryWords), best first.
    std::vector<TBestMatchHit> Search(std::span<const TQueryWord> query) const;

    // Everything the index holds, for Restore in a later run (the working room of searches is
    // left out). The form is this version's: an image's keeper names the version beside it.
    void Save(TImageWriter& out) const;
    // Replaces the index by what Save wrote. False, leaving the index as it was, when the bytes
    // are not such an image (short, or not fitting together).
    bool Restore(TImageReader& in);

    // Bytes held, for measurements (the working room of searches included).
    size_t MemoryUsage() const;

    class TImpl;

private:
    struct TScratch;

    std::unique_ptr<TScratch> TakeScratch() const;
    void GiveScratch(std::unique_ptr<TScratch> scratch) const;
    // The rest of a removal once the lists' document frequencies are down.
    void Forget(DocId id);

    TWordReader freader;
    TBestMatchParams fparams;
    TBestMatchStats fstats;
    std::unique_ptr<TImpl> fimpl;
    std::vector<uint8_t> flive;  // per doc id: 1 while the entry is live
};
