#include "bench/standinwords.h"

#include "textsearch/uPorterStem.h"

namespace {

bool IsWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Calls visit(lowered, place) for every run of letters and digits.
template <class Visit>
void ForEachRun(std::string_view text, Visit visit) {
    size_t i = 0;
    while (i < text.size()) {
        if (!IsWordByte(text[i])) {
            ++i;
            continue;
        }
        const size_t begin = i;
        std::string lowered;
        for (; i < text.size() && IsWordByte(text[i]); ++i) {
            const char c = text[i];
            lowered += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        visit(std::move(lowered),
              TWordPlace{static_cast<uint32_t>(begin), static_cast<uint32_t>(i)});
    }
}

}  // namespace

TTextWords StandInReadWords(std::string_view utf8) {
    TTextWords out;
    out.language = "english";
    ForEachRun(utf8, [&](std::string lowered, TWordPlace place) {
        out.words.push_back(TWord{PorterStem(lowered), "", place});
    });
    return out;
}

std::vector<TQueryWord> StandInReadQueryWords(std::string_view utf8,
                                              std::span<const std::string> /*languages*/,
                                              bool caretAtEnd) {
    std::vector<TQueryWord> out;
    std::string last;
    ForEachRun(utf8, [&](std::string lowered, TWordPlace place) {
        TQueryWord word;
        word.terms.push_back(PorterStem(lowered));
        word.place = place;
        out.push_back(std::move(word));
        last = std::move(lowered);
    });
    if (caretAtEnd && !out.empty() && out.back().place.end == utf8.size())
        out.back().prefix = std::move(last);
    return out;
}
