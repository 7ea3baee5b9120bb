// The languages the word reader tells apart, how it tells them, and their stemmers.
//
// A language belongs to one script group (Serbian to two: it is written in Latin and Cyrillic
// letters). A text's words of each script group are counted against the common words of that
// group's languages (and, for Cyrillic, against letters only one language has): the language
// with most of them is the text's language for that script; with none of them, the group's
// default (English for Latin, Russian for Cyrillic, the only stemmed language of the other
// groups). A language without a Snowball stemmer (Polish, Czech, Ukrainian, Bulgarian, Persian,
// Hebrew...) is still told apart, so that its words stay unstemmed instead of being cut by the
// stemmer of a neighbour. English words are stemmed by the Porter stemmer of the term vectors,
// so that they give the stems the vectors hold.
//
// Thread safety: the tables are built once, on first use; every thread has its own stemmers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "textsearch/words/fold.h"

struct TLanguage {
    const char* name;       // in English, for people
    const char* algorithm;  // the Snowball algorithm, "" for a language read unstemmed
    TScriptGroup group;
    const char* commonWords;  // space-separated, as written; compared in their bare form
    const char* letters;      // letters only this language of its group has (UTF-8)
};

std::span<const TLanguage> Languages();

// The index in Languages() of the language a group's words have when nothing tells it, or -1
// when the group has no stemmed language.
int DefaultLanguage(TScriptGroup group);
// The index of the language of that algorithm in that group, or -1.
int LanguageOf(std::string_view algorithm, TScriptGroup group);

using TLanguageSet = uint64_t;  // bit i: Languages()[i]

// The languages a word (its bare form) is a common word of.
TLanguageSet CommonWordLanguages(std::string_view bare);
// The languages a letter (folded) belongs to alone in its group.
TLanguageSet LetterLanguages(char32_t c);

// Stems word in place in a language (its index); a language without a stemmer leaves it.
// English stems only ASCII words; a stem that would cut a character in two is not taken.
void StemInPlace(int language, std::string& word);
