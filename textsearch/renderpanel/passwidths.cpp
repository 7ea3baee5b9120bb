// Widths of a pass. Every caption and excerpt is summed from the advance tables in one walk in
// memory order; texts the tables cannot sum (tabs, characters outside the tables) wait with a
// bound on their width and are laid out by Qt only while that bound could still beat the widest
// so far, largest bound first.
#include "textsearch/renderpanel/passwidths.h"

#include <algorithm>
#include <climits>

#include "port/localformat.h"
#include "textsearch/renderpanel/scoreposition.h"
#include "textsearch/renderpanel/textwidths.h"
#include "textsearch/scoretext.h"

namespace renderpanel {

void TCaptionPrefixes::Refresh() {
    if (DecimalSeparator() == fseparator && !fprefixes.empty()) return;
    fprefixes.assign(kCount, std::string());
    fseparator = DecimalSeparator();
}

int TCaptionPrefixes::Index(float Proximity) {
    const double scaled = static_cast<double>(Proximity) * 1000.0;
    if (!(scaled >= 0 && scaled < kCount)) return -1;
    // Adding and taking away 2^52 rounds to an integer, halves to even, in the default rounding
    // mode, without the library call that nearbyint is (this runs once per hit and pass).
    constexpr double kShift = 4503599627370496.0;
    const double r = (scaled + kShift) - kShift;
    return r >= 0 && r < kCount ? static_cast<int>(r) : -1;
}

const std::string& TCaptionPrefixes::Of(float Proximity) {
    if (fprefixes.empty()) Refresh();
    const int index = Index(Proximity);
    if (index < 0) {
        fscratch = ScoreText(Proximity) + "%: ";
        return fscratch;
    }
    std::string& prefix = fprefixes[static_cast<std::size_t>(index)];
    if (prefix.empty()) prefix = ScoreText(Proximity) + "%: ";
    return prefix;
}

QString TCaptionPrefixes::Caption(const TcvResults& r) {
    return FromUtf8(Of(r.Proximity)) + FromUtf8(r.Title);
}

int TCaptionPrefixes::Width(const TcvResults& r, const TTextWidths& widths) {
    const std::int64_t prefix = widths.Advance64(Of(r.Proximity));
    const std::int64_t title = widths.Advance64(r.Title);
    if (prefix >= 0 && title >= 0) return TTextWidths::Round64(prefix + title);
    return widths.Metrics().horizontalAdvance(Caption(r));
}

void TPassWidths::Measure(const QString& key, const std::vector<TcvResults*>& hits,
                          TCaptionPrefixes& prefixes, const TTextWidths& captions,
                          const TTextWidths& excerpts) {
    // The vectors are reused from pass to pass: freeing and taking back megabytes for every pass
    // costs more than the little that is done with them.
    fkey.clear();
    fmaxcaption = 0;
    fmaxexcerpt = 0;
    fexcerptwidths.assign(hits.size(), 0);
    funmeasured.clear();
    fscorewidth = -1;
    fpendingcaptions.clear();
    prefixes.Refresh();

    // Advance of each caption prefix, measured the first time a score needs it.
    constexpr std::int64_t kUnknown = -2;
    fprefixadvance.assign(TCaptionPrefixes::kCount, kUnknown);
    for (std::size_t k = 0; k < hits.size(); ++k) {
        const TcvResults& r = *hits[k];
        const int index = TCaptionPrefixes::Index(r.Proximity);
        std::int64_t prefix;
        if (index >= 0) {
            std::int64_t& cached = fprefixadvance[static_cast<std::size_t>(index)];
            if (cached == kUnknown) cached = captions.Advance64(prefixes.Of(r.Proximity));
            prefix = cached;
        } else {
            prefix = captions.Advance64(prefixes.Of(r.Proximity));
        }
        std::int64_t bound;
        const std::int64_t title = captions.Advance64(r.Title, &bound);
        if (prefix >= 0 && title >= 0)
            fmaxcaption = std::max(fmaxcaption, TTextWidths::Round64(prefix + title));
        else
            fpendingcaptions.push_back(
                {k, prefix >= 0 && bound >= 0 ? TTextWidths::Round64(prefix + bound) : INT64_MAX});
        const std::int64_t excerpt = excerpts.Advance64(r.excerpt, &bound);
        if (excerpt >= 0) {
            fexcerptwidths[k] = TTextWidths::Round64(excerpt);
            fmaxexcerpt = std::max(fmaxexcerpt, fexcerptwidths[k]);
        } else {
            fexcerptwidths[k] = kUnmeasured;
            funmeasured.push_back({k, bound >= 0 ? TTextWidths::Round64(bound) : INT64_MAX});
        }
    }

    const auto byboundlargestfirst = [](const TBound& a, const TBound& b) {
        return a.bound > b.bound;
    };
    std::sort(fpendingcaptions.begin(), fpendingcaptions.end(), byboundlargestfirst);
    for (const TBound& pending : fpendingcaptions) {
        if (pending.bound <= fmaxcaption) break;
        fmaxcaption =
            std::max(fmaxcaption,
                     captions.Metrics().horizontalAdvance(prefixes.Caption(*hits[pending.row])));
    }
    std::sort(funmeasured.begin(), funmeasured.end(), byboundlargestfirst);
    auto measured = funmeasured.begin();
    for (; measured != funmeasured.end() && measured->bound > fmaxexcerpt; ++measured) {
        int& width = fexcerptwidths[measured->row];
        width = excerpts.Metrics().horizontalAdvance(FromUtf8(hits[measured->row]->excerpt));
        fmaxexcerpt = std::max(fmaxexcerpt, width);
    }
    funmeasured.erase(funmeasured.begin(), measured);
    fkey = key;
}

// Excerpts left unmeasured are measured only when their bound could raise the maximum.
std::int64_t TPassWidths::ScorePositionExcerptMax(const std::vector<TcvResults*>& hits,
                                                  const TScorePosition& placement, int W,
                                                  const QFontMetrics& italic) {
    if (fscorewidth == W) return fscoremax;
    const auto offset = [&](std::size_t k) { return placement.Offset(hits[k]->Proximity); };
    std::int64_t best = INT64_MIN;
    for (std::size_t k = 0; k < hits.size(); ++k)
        if (fexcerptwidths[k] != kUnmeasured)
            best = std::max(best, std::int64_t{fexcerptwidths[k]} - offset(k));
    for (auto pending = funmeasured.begin(); pending != funmeasured.end();) {
        if (pending->bound != INT64_MAX && pending->bound - offset(pending->row) <= best) {
            ++pending;
            continue;
        }
        int& width = fexcerptwidths[pending->row];
        width = italic.horizontalAdvance(FromUtf8(hits[pending->row]->excerpt));
        best = std::max(best, std::int64_t{width} - offset(pending->row));
        pending = funmeasured.erase(pending);
    }
    fscorewidth = W;
    fscoremax = best;
    return best;
}

}  // namespace renderpanel
