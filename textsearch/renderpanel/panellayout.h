// TPanelLayout: where the rows of the results list lie, as plain arithmetic. Every row has the
// same height (the larger of the icon's and the caption's line height, plus the excerpt's line
// height, plus a 4-pixel gap), so row k starts at first + k * height, and every question the
// panel asks - which rows to draw, which caption is under a point, how tall the list is, where to
// scroll to show a row - is a multiplication or a division, whatever the number of rows.
//
// Coordinates: "view" coordinates have 0 at the panel's top edge; "list" coordinates have 0 at
// the list's top, which the view shows at offset viewy (view y = list y - viewy).
//
// A value type without Qt; copy freely.
#pragma once

#include <algorithm>
#include <cstdint>

namespace renderpanel {

struct TRowMetrics {
    int firstrow = 0;       // list y of the first caption (what lies above it: margin, ruler)
    int captionheight = 0;  // line height of the caption font: the hit test's caption box
    int iconheight = 16;    // height of the icon beside each caption (16 without one)
    int excerptheight = 0;  // line height of the excerpt font
};

// Pixels from left to right, both included.
struct TSpan {
    std::int64_t left = 0;
    std::int64_t right = -1;
};

// Rows first to last, both included; empty when first > last.
struct TRowRange {
    std::int64_t first = 0;
    std::int64_t last = -1;
    bool Empty() const { return first > last; }
};

class TPanelLayout {
public:
    // REQUIRES: rows >= 0; the metrics' heights >= 0.
    TPanelLayout(const TRowMetrics& metrics, std::int64_t rows, int viewy, int viewheight)
        : fmetrics(metrics), frows(rows), fviewy(viewy), fviewheight(viewheight) {}

    std::int64_t Rows() const { return frows; }
    std::int64_t RowHeight() const {
        return std::int64_t{std::max(fmetrics.iconheight, fmetrics.captionheight)} +
               fmetrics.excerptheight + 4;
    }
    // View y of the top of row k's caption.
    std::int64_t RowTop(std::int64_t k) const { return First() + k * RowHeight(); }
    // List y of the first pixel row below the last row's gap: the list's whole height, whatever
    // the view offset.
    std::int64_t ListHeight() const { return fmetrics.firstrow + frows * RowHeight(); }
    // The largest useful view offset: it shows the last row's gap at the panel's bottom edge.
    std::int64_t MaxViewY() const { return std::max<std::int64_t>(0, ListHeight() - fviewheight); }

    // Rows with at least one pixel row in the view.
    TRowRange VisibleRows() const {
        return Clamped({FloorDiv(-First(), RowHeight()),
                        FloorDiv(std::int64_t{fviewheight} - First() - 1, RowHeight())});
    }
    // The rows a drawing of the view draws: one more on each side than could reach it, so that
    // it gives the pixels that a drawing of every row gives.
    TRowRange DrawnRows() const {
        return Clamped({FloorDiv(-First(), RowHeight()) - 1,
                        FloorDiv(std::int64_t{fviewheight} - First(), RowHeight()) + 1});
    }
    // The first row whose top is in the view or below it, or -1 without rows.
    std::int64_t FirstVisibleRow() const {
        if (frows == 0) return -1;
        return std::clamp<std::int64_t>(-FloorDiv(First(), RowHeight()), 0, frows - 1);
    }
    // Whole rows in one view height, at least one: the step of a page key.
    std::int64_t PageRows() const { return std::max<std::int64_t>(1, fviewheight / RowHeight()); }

    // The view offset nearest to the present one (taken into 0..MaxViewY) that shows row k whole,
    // its top no higher than the first row's top at offset 0; a row taller than the view shows its
    // top.
    std::int64_t ViewYShowing(std::int64_t k) const {
        const std::int64_t top = fmetrics.firstrow + k * RowHeight();
        std::int64_t viewy = std::clamp<std::int64_t>(fviewy, 0, MaxViewY());
        if (top + RowHeight() - viewy > fviewheight) viewy = top + RowHeight() - fviewheight;
        if (top - viewy < fmetrics.firstrow) viewy = top - fmetrics.firstrow;
        return std::clamp<std::int64_t>(viewy, 0, MaxViewY());
    }

    // The row whose area (caption, excerpt and gap) spans view y, or -1.
    std::int64_t RowAtY(std::int64_t y) const {
        const std::int64_t row = FloorDiv(y - First(), RowHeight());
        return row >= 0 && row < frows ? row : -1;
    }
    // The row whose caption box spans view y (its top and bottom rows included), or -1.
    std::int64_t CaptionRowAt(std::int64_t y) const {
        const std::int64_t fromfirst = y - First();
        if (fromfirst < 0 || fromfirst / RowHeight() >= frows ||
            fromfirst % RowHeight() > fmetrics.captionheight)
            return -1;
        return fromfirst / RowHeight();
    }
    // The row whose caption box contains the view point (x, y), or -1. spanof(row) gives the
    // horizontal extent of that row's caption box (TSpan, both ends included); it is called for
    // one row at most.
    template <class SpanOf>
    std::int64_t HitAt(std::int64_t x, std::int64_t y, SpanOf&& spanof) const {
        const std::int64_t row = CaptionRowAt(y);
        if (row < 0) return -1;
        const TSpan span = spanof(row);
        return x >= span.left && x <= span.right ? row : -1;
    }

private:
    std::int64_t First() const { return std::int64_t{fmetrics.firstrow} - fviewy; }
    TRowRange Clamped(TRowRange range) const {
        return {std::max<std::int64_t>(0, range.first), std::min(frows - 1, range.last)};
    }
    // Floor of a / b for b > 0.
    static std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
        const std::int64_t q = a / b;
        return (a % b != 0 && a < 0) ? q - 1 : q;
    }

    TRowMetrics fmetrics;
    std::int64_t frows;
    int fviewy;
    int fviewheight;
};

}  // namespace renderpanel
