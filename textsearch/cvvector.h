// Term vectors: which word stems a text holds and how often, as an ordered list of `term=count`
// lines plus the vector's Euclidean length.
//
// TFasterStringList is an ordered list of byte-string lines kept in insertion order (never
// sorted, duplicates allowed). A line's name is the part before its first '='; a line without
// '=' has an empty name. Lookups by name ignore ASCII letter case and the first matching line
// wins. TcvVector adds `magnitude`, set only by EncodeCV (a vector read back from its stored text
// has magnitude 0 and nothing recomputes it).
//
// Stored text form: every line followed by CR LF. Reading cuts at CR LF, a lone CR or a lone LF,
// keeps empty lines, adds no line for a final break and stops at a NUL byte. Stored knowledge
// bases hold this form, so it and the terms EncodeCV makes must never change.
//
// Ownership: a list owns its lines (copies); EncodeCV returns a vector that the caller owns.
// Thread safety: none of its own; distinct objects may be used on distinct threads, and const
// member functions may run concurrently on one object while nobody changes it. The free
// functions touch only their arguments.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textsearch/object.h"

class TFasterStringList : public TObject {
public:
    int Count() const { return static_cast<int>(flines.size()); }
    // REQUIRES: 0 <= i < Count().
    const std::string& operator[](int i) const { return flines[static_cast<size_t>(i)]; }
    const std::vector<std::string>& Lines() const { return flines; }

    void Add(std::string line) { flines.push_back(std::move(line)); }
    void Clear() { flines.clear(); }
    void Assign(const TFasterStringList& other);

    // The value of the first line whose name equals name (ASCII case ignored): the line from
    // its (length(name)+2)-th character on, so for a line without '=' (empty name) the line from
    // its second character. Empty when no line matches.
    std::string Values(std::string_view name) const;
    // Replaces the first line with that name by name=value in place, or appends it when none
    // matches; an empty value deletes the matching line instead.
    void SetValue(std::string_view name, std::string_view value);

    // REQUIRES: 0 <= i < Count().
    std::string Names(int i) const;
    std::string ValueFromIndex(int i) const;

    // The stored text form: every line followed by CR LF.
    std::string Text() const;
    // Replaces all lines by those of a stored text (see the header comment).
    void SetText(std::string_view text);

    // The index of the first line that begins with S, ASCII case ignored, or -1. It compares
    // beginnings, not names: a line 'then=1' is found for 'the', 'then' and 'th'.
    int FastIndexOfName(std::string_view S) const;

private:
    // The index of the first line named name, or -1.
    int IndexOfName(std::string_view name) const;

    std::vector<std::string> flines;
};

class TcvVector : public TFasterStringList {
public:
    float magnitude = 0;
};

// The term vector of text: one line term=count per distinct stem, in order of first occurrence,
// with magnitude set. Terms found by InStopList(stoplist, term) are left out.
std::unique_ptr<TcvVector> EncodeCV(std::string_view text, const TcvVector* stoplist = nullptr);

// text with every byte that is not an ASCII letter or digit replaced by a space, NUL bytes
// dropped; a single space when nothing is left.
std::string StripNonAlphaNum(std::string_view AText);

// The term of one token: trimmed of bytes <= 32, A-Z lower-cased, stemmed.
std::string Prepared(std::string_view token);

// Whether term counts as a stop word: false without a stop list, otherwise whether a line of
// the stop list begins with term.
bool InStopList(const TcvVector* stoplist, std::string_view term);

// The Euclidean length of CV over all its lines; weight is not read. Raises EConvertError for a
// count that is not a valid integer (the value is converted as it stands, so an empty one fails).
float Magnitude(const TcvVector& CV, const TcvVector* weight = nullptr);
