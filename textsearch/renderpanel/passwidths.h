// The captions of the results list and the widest caption and excerpt of a pass.
//
// A caption is the score in per cent, "%: " and the hit's title. TCaptionPrefixes keeps the
// prefix ("87.5%: ") of every score a caption can show, so that a pass over hundreds of thousands
// of hits formats each score once. TPassWidths measures every caption and excerpt of a pass once
// per pair of fonts, with the advance tables of TTextWidths, leaving to QFontMetrics only the
// texts the tables cannot sum and whose bound says they could be the widest.
//
// Ownership: both hold no pointer into the hits between calls. User-interface thread only.
#pragma once

#include <QFontMetrics>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "textsearch/searchhit.h"

namespace renderpanel {

class TTextWidths;
class TScorePosition;

class TCaptionPrefixes {
public:
    // Starts over when the user's decimal separator has changed.
    void Refresh();
    // The prefix of a score: ScoreText + "%: ". For a score outside 0..1 the text is valid until
    // the next call.
    const std::string& Of(float Proximity);
    // Place of a score's prefix among the cached ones (Round(Proximity * 1000)), or -1.
    static int Index(float Proximity);
    static constexpr int kCount = 1001;

    // The whole caption of a hit, as drawn.
    QString Caption(const TcvResults& r);
    // Its width in pixels in the font of widths: summed from the advance tables where they can,
    // else laid out by Qt.
    int Width(const TcvResults& r, const TTextWidths& widths);

private:
    std::vector<std::string> fprefixes;
    char fseparator = 0;
    std::string fscratch;  // prefix of a score outside 0..1
};

class TPassWidths {
public:
    // True when the widths are those of the present pass in the fonts of key.
    bool ValidFor(const QString& key) const { return !fkey.isEmpty() && fkey == key; }
    // The pass or its hits changed.
    void Invalidate() { fkey.clear(); }

    // Measures the captions (captions font) and excerpts (excerpts font) of hits, which lie in
    // the order their memory does (the pass touches every hit and text once).
    void Measure(const QString& key, const std::vector<TcvResults*>& hits,
                 TCaptionPrefixes& prefixes, const TTextWidths& captions,
                 const TTextWidths& excerpts);
    int MaxCaption() const { return fmaxcaption; }
    int MaxExcerpt() const { return fmaxexcerpt; }

    // Max over the hits of excerpt width minus the hit's offset by score, which is all that the
    // score-position layout's excerpt extents need besides the panel's width and view offset.
    // Cached per width W. REQUIRES: Measure ran for the same hits.
    std::int64_t ScorePositionExcerptMax(const std::vector<TcvResults*>& hits,
                                         const TScorePosition& placement, int W,
                                         const QFontMetrics& italic);

private:
    // A text not measured yet, by its hit's index, with a bound on its width.
    struct TBound {
        std::size_t row;
        std::int64_t bound;  // pixels; INT64_MAX when there is no bound
    };
    static constexpr int kUnmeasured = -1;

    QString fkey;  // font keys of the widths; empty: not valid
    int fmaxcaption = 0;
    int fmaxexcerpt = 0;
    // Per hit, for the score-position layout; kUnmeasured for the excerpts listed in
    // funmeasured, whose bounds showed they cannot be the widest in the ranked layout.
    std::vector<int> fexcerptwidths;
    std::vector<TBound> funmeasured;
    int fscorewidth = -1;        // panel width fscoremax belongs to; -1: none
    std::int64_t fscoremax = 0;  // max over hits of excerpt width - score offset
    // Scratch, kept to reuse its memory from pass to pass.
    std::vector<TBound> fpendingcaptions;
    std::vector<std::int64_t> fprefixadvance;
};

}  // namespace renderpanel
