// The list's arithmetic against a walk down every row, the way a drawing of every row lays them
// out (each row: the larger of icon and caption height, then the excerpt line and a 4-pixel gap),
// over many random metrics, list lengths, view offsets and view heights.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "textsearch/renderpanel/panellayout.h"

namespace {

using renderpanel::TPanelLayout;
using renderpanel::TRowMetrics;

TEST(PanelLayout, AnswersAsAWalkDownEveryRow) {
    std::mt19937 random(17);
    for (int n = 0; n < 3000; ++n) {
        TRowMetrics m;
        m.firstrow = 2 + static_cast<int>(random() % 40);
        m.captionheight = static_cast<int>(random() % 30);
        m.iconheight = static_cast<int>(random() % 40);
        m.excerptheight = static_cast<int>(random() % 30);
        const std::int64_t rows = random() % 4 == 0 ? 0 : random() % 60;
        const int viewheight = 1 + static_cast<int>(random() % 400);
        const int viewy = static_cast<int>(random() % 2500) - 200;
        const TPanelLayout layout(m, rows, viewy, viewheight);
        const std::string what = "case " + std::to_string(n);

        // Tops and bottoms (first row below the gap) in view coordinates, as a drawing walks.
        std::vector<std::int64_t> top;
        std::int64_t y = m.firstrow - viewy;
        for (std::int64_t k = 0; k < rows; ++k) {
            top.push_back(y);
            y += std::max(m.iconheight, m.captionheight);
            y += m.excerptheight + 4;
        }
        const auto bottom = [&](std::int64_t k) {
            return k + 1 < rows ? top[static_cast<std::size_t>(k + 1)] : y;
        };
        ASSERT_EQ(layout.ListHeight(), y + viewy) << what;
        for (std::int64_t k = 0; k < rows; ++k) {
            ASSERT_EQ(layout.RowTop(k), top[static_cast<std::size_t>(k)]) << what;
            ASSERT_EQ(bottom(k) - top[static_cast<std::size_t>(k)], layout.RowHeight()) << what;
        }

        // Rows in view, the rows a drawing must draw, the first row starting in view.
        renderpanel::TRowRange visible{0, -1};
        bool any = false;
        for (std::int64_t k = 0; k < rows; ++k) {
            if (top[static_cast<std::size_t>(k)] < viewheight && bottom(k) > 0) {
                if (!any) visible.first = k;
                visible.last = k;
                any = true;
            }
        }
        const renderpanel::TRowRange got = layout.VisibleRows();
        if (any) {
            ASSERT_EQ(got.first, visible.first) << what;
            ASSERT_EQ(got.last, visible.last) << what;
        } else {
            ASSERT_TRUE(got.Empty()) << what;
        }
        const renderpanel::TRowRange drawn = layout.DrawnRows();
        for (std::int64_t k = 0; k < rows; ++k) {
            // Anything within a row's height of the view is drawn; nothing further away.
            const bool near = top[static_cast<std::size_t>(k)] < viewheight + layout.RowHeight() &&
                              bottom(k) > -layout.RowHeight();
            const bool isdrawn = k >= drawn.first && k <= drawn.last;
            if (near) {
                ASSERT_TRUE(isdrawn) << what << " row " << k;
            }
            if (isdrawn) {
                ASSERT_TRUE(top[static_cast<std::size_t>(k)] <
                                viewheight + 2 * layout.RowHeight() &&
                            bottom(k) > -2 * layout.RowHeight())
                    << what << " row " << k;
            }
        }
        std::int64_t firstvisible = rows > 0 ? rows - 1 : -1;
        for (std::int64_t k = rows - 1; k >= 0; --k)
            if (top[static_cast<std::size_t>(k)] >= 0) firstvisible = k;
        ASSERT_EQ(layout.FirstVisibleRow(), firstvisible) << what;
        ASSERT_GE(layout.PageRows(), 1);
        if (viewheight >= layout.RowHeight()) {
            ASSERT_LE(layout.PageRows() * layout.RowHeight(), viewheight) << what;
        }

        // Points: the caption box (both ends included) and the whole row.
        const auto span = [&](std::int64_t k) { return renderpanel::TSpan{k, 3 * k + 10}; };
        for (std::int64_t py = -5 - viewheight / 4; py < viewheight + 5; py += 1 + random() % 3) {
            std::int64_t caption = -1;
            std::int64_t row = -1;
            for (std::int64_t k = 0; k < rows; ++k) {
                const std::int64_t t = top[static_cast<std::size_t>(k)];
                if (py >= t && py <= t + m.captionheight) caption = k;
                if (py >= t && py < bottom(k)) row = k;
            }
            ASSERT_EQ(layout.CaptionRowAt(py), caption) << what << " y " << py;
            ASSERT_EQ(layout.RowAtY(py), row) << what << " y " << py;
            const std::int64_t px = static_cast<std::int64_t>(random() % 200) - 5;
            const bool inside =
                caption >= 0 && px >= span(caption).left && px <= span(caption).right;
            ASSERT_EQ(layout.HitAt(px, py, span), inside ? caption : -1) << what;
        }

        // Scrolling: the last offset puts the last gap at the bottom edge; showing a row moves
        // the view as little as possible to bring it whole below the first row's margin.
        const std::int64_t max = layout.MaxViewY();
        ASSERT_EQ(max, std::max<std::int64_t>(0, y + viewy - viewheight)) << what;
        if (rows == 0) continue;
        const std::int64_t k = random() % rows;
        const std::int64_t shown = layout.ViewYShowing(k);
        ASSERT_GE(shown, 0);
        ASSERT_LE(shown, max);
        const auto shows = [&](std::int64_t v) {
            const std::int64_t t = top[static_cast<std::size_t>(k)] + viewy - v;
            return t >= m.firstrow && t + layout.RowHeight() <= viewheight;
        };
        const std::int64_t from = std::clamp<std::int64_t>(viewy, 0, max);
        std::int64_t nearest = -1;
        for (std::int64_t v = 0; v <= max; ++v)
            if (shows(v) && (nearest < 0 || std::abs(v - from) < std::abs(nearest - from)))
                nearest = v;
        if (nearest >= 0) {
            ASSERT_TRUE(shows(shown)) << what << " row " << k;
            ASSERT_EQ(shown, nearest) << what << " row " << k;
        }
    }
}

}  // namespace
