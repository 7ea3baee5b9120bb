// The words of a text as Best match reads them: Unicode words of any script, folded, with their
// accents optional, stemmed in the language of their text. (Classic reads its own words, with
// EncodeCV, from the stored bytes; nothing here changes them.)
//
// A text (UTF-8; the program hands over its stored texts in that form) gives its words in
// order, each with the place it stands in the text, so that an excerpt can be cut around the
// words that matched and those words drawn bold. Every word gives one term, its `term`: folded
// by full Unicode case folding, stripped of its accents and stemmed. A word that had accents also
// gives `exact`, the same stem with them kept, so that typing the accents can weigh more than
// leaving them out, and leaving them out still finds the word.
//
// A word is a run of letters, digits and combining marks of any script. Everything else
// separates words, apostrophes, hyphens and dots included, as in the term vectors: "don't" is
// "don" and "t", "e-mail" is "e" and "mail", "1.2.3" is three words. So an ASCII English text
// gives exactly the terms of its term vector, and "l'ordinateur" finds "ordinateur". Only the
// soft hyphen, the zero-width joiners and the middle dot (Catalan "l·l") join letters on either
// side of them into one word. A word whose stem is empty (the English "ing") is left out.
//
// The language of a text is told per script without any setting: by its common words and, for
// Cyrillic, by letters only one language has; see languages.h. A Latin text with no common
// word of any language is stemmed as English. English words keep the Porter stems of the term
// vectors; the other languages use the Snowball stemmers; a language or script without one is
// read unstemmed.
//
// Scripts written without spaces (Chinese, Japanese, Korean, Thai, Lao, Khmer, Myanmar) give
// overlapping pairs of characters as terms (a run of one character gives that character), each
// placed on the bytes of its pair; a character there is a code point with its combining marks.
//
// Thread safety: plain functions of their arguments; they may run on any thread at once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Where a word stands: bytes [begin, end) of the text it was read from.
struct TWordPlace {
    uint32_t begin = 0;
    uint32_t end = 0;
};

// One word of a text.
struct TWord {
    std::string term;   // UTF-8: folded, without accents, stemmed
    std::string exact;  // UTF-8: folded and stemmed with its accents, when they differ; else ""
    TWordPlace place;   // in the text read
};

struct TTextWords {
    std::vector<TWord> words;  // in the order they stand
    // The Snowball algorithm the words of the text's main script (the one most of its words are
    // in) were stemmed with ("english", "russian", ...); "" when they were not stemmed (a
    // language or script without a stemmer, pairs of characters, digits only).
    std::string language;
};

// The words of a text (valid UTF-8; an ill-formed sequence separates words).
TTextWords ReadWords(std::string_view utf8);
// The same into `out`, which is replaced but keeps its room, for a caller that reads many texts.
void ReadWords(std::string_view utf8, TTextWords& out);

// One word of a typed query and the terms that may stand for it: any of `terms` matches it
// (a query too short to tell its language is stemmed in each language asked for), `exact` when
// not empty weighs more, and `prefix`, set on the word the caret stands at the end of, also
// matches every stored term that begins with it.
struct TQueryWord {
    std::vector<std::string> terms;  // distinct, best guess first
    std::string exact;
    std::string prefix;  // folded, without accents, unstemmed; "" unless the word is being typed
    TWordPlace place;    // in the query text
};

// The words of a typed query (valid UTF-8), in order; pairs of characters give one word each.
// languages: the Snowball algorithms of the texts the knowledge base holds (TTextWords::language;
// "" is ignored), tried in their order for a word whose language the query does not tell; the
// default language of the word's script is tried after them, and the unstemmed word last.
// caretAtEnd: the caret stands at the end of the query, so a last word that reaches the end is
// still being typed and gets a prefix (a run of one character without spaces too).
std::vector<TQueryWord> ReadQueryWords(std::string_view utf8,
                                       std::span<const std::string> languages, bool caretAtEnd);

// The languages whose words are stemmed, in English, sorted (for the help window).
std::vector<std::string> StemmedLanguageNames();
