// The results panel on the offscreen platform: captions, hit test, order, scroll extents, the
// score-position layout, events, and pixel identity with a literal drawing of every row.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <random>

#include "colors.h"
#include "tests/panel/panelapp.h"
#include "tests/panel/referencedraw.h"
#include "textsearch/renderpanel/vrenderpanel.h"

namespace {

TEST(Colors, DarkerRoundsEachComponentHalfAwayFromZero) {
    EXPECT_EQ(Darker(cBGCOLOR, 20), QColor(204, 201, 192));
    EXPECT_EQ(Darker(cBGCOLOR, 0), cBGCOLOR);
    EXPECT_EQ(Darker(cBGCOLOR, 100), QColor(0, 0, 0));
    // 1 * 50% = 0.5 and 3 * 50% = 1.5 round up; 5 * 10% = 0.5 rounds up as well.
    EXPECT_EQ(Darker(QColor(1, 3, 5), 50), QColor(0, 1, 2));
    EXPECT_EQ(Darker(QColor(1, 3, 5), 10), QColor(1, 3, 4));
    // Out of range percentages are pinned instead of wrapping the bytes.
    EXPECT_EQ(Darker(QColor(10, 20, 30), 150), QColor(0, 0, 0));
    EXPECT_EQ(Darker(QColor(10, 20, 30), -5), QColor(10, 20, 30));
    EXPECT_EQ(Darker(QPalette::Window, 20),
              Darker(QGuiApplication::palette().color(QPalette::Window), 20));
}

TEST(TextWidths, EqualFontMetricsForEveryByteAndMixedTexts) {
    const QImage device(1, 1, QImage::Format_RGB888);
    std::mt19937 random(7);
    for (const double points : {8.0, 10.0, 11.0, 15.0}) {
        for (int style = 0; style < 4; ++style) {
            QFont font = renderpanel::CanvasFont(PanelFont(points));
            font.setBold(style & 1);
            font.setItalic(style & 2);
            const renderpanel::TTextWidths widths(font, &device);
            const QFontMetrics metrics(font, &device);
            // The fast path must be the one taken for the program's font.
            EXPECT_TRUE(widths.Additive()) << points << " " << style;
            for (int c = 0; c < 256; ++c) {
                const std::string text(1, static_cast<char>(c));
                ASSERT_EQ(widths.Width(text),
                          metrics.horizontalAdvance(renderpanel::FromWindows1252(text)))
                    << "byte " << c;
            }
            for (int n = 0; n < 300; ++n) {
                std::string text;
                const std::size_t length = random() % 120;
                // Mostly printable bytes, now and then a tab, line break or soft hyphen.
                for (std::size_t i = 0; i < length; ++i)
                    text += static_cast<char>(random() % 9 == 0 ? "\t\r\n\xad\x81"[random() % 5]
                                                                : 0x20 + random() % 0xE0);
                const int exact = metrics.horizontalAdvance(renderpanel::FromWindows1252(text));
                ASSERT_EQ(widths.Width(text), exact) << text;
                // Texts the tables cannot sum still get a bound that holds.
                std::int64_t bound;
                if (widths.Advance64(text, &bound) < 0) {
                    ASSERT_GE(bound, 0) << text;
                    ASSERT_GE(renderpanel::TTextWidths::Round64(bound), exact) << text;
                }
            }
        }
    }
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = std::make_unique<vRenderPanel>();
        panel->setFont(PanelFont(10));
        panel->resize(320, 400);
        panel->SetScorePosition(false);
        panel->SetStorage(&hits.tree);
        QObject::connect(panel.get(), &vRenderPanel::OnPaint, [this](vRenderPanel* sender) {
            EXPECT_EQ(sender, panel.get());
            ++paints;
        });
        panel->show();
        // repaint() paints at once only on an exposed window.
        for (int i = 0; i < 1000 && !panel->windowHandle()->isExposed(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(panel->windowHandle()->isExposed());
    }

    void Paint() {
        const int before = paints;
        panel->repaint();
        ASSERT_EQ(paints, before + 1);
    }

    // The hit under a point, as the main window finds it: hover, repaint, hover again.
    TcvResults* HitAt(int x, int y) {
        panel->Hover(x, y);
        Paint();
        return panel->Hover(x, y);
    }

    // Top of the first caption with the main window's settings (no ruler, no scroll).
    int FirstTop() const {
        return QFontMetrics(renderpanel::CanvasFont(panel->font()), &panel->BufferBitmap())
                   .height() +
               2;
    }

    QFontMetrics CaptionMetrics() const {
        QFont bold = renderpanel::CanvasFont(panel->font());
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() + 1);
        return QFontMetrics(bold, &panel->BufferBitmap());
    }

    // Paints with the hover point and checks every result against the literal drawing.
    void ExpectLikeReference(int hoverx, int hovery, const std::string& what) {
        panel->Hover(hoverx, hovery);
        reference.view = panel->ViewPoint();
        Paint();
        ReferenceDraw(ReferenceInputOf(*panel, hoverx, hovery), reference);
        const QImage& drawn = panel->BufferBitmap();
        if (drawn != reference.buffer) {
            drawn.save(QString::fromStdString("/tmp/panel_drawn.png"));
            reference.buffer.save(QString::fromStdString("/tmp/panel_reference.png"));
            ADD_FAILURE() << what << ": image differs (saved /tmp/panel_drawn.png)";
        }
        EXPECT_EQ(panel->Hover(hoverx, hovery), reference.selected) << what;
        EXPECT_EQ(panel->ScrollHeight(), reference.scrollheight) << what;
        EXPECT_EQ(panel->ScrollWidth(), reference.scrollwidth) << what;
        EXPECT_EQ(panel->ViewPoint(), reference.view) << what;
    }

    // Declared before the panel, so that the panel goes first.
    THitSet hits;
    std::unique_ptr<vRenderPanel> panel;
    int paints = 0;
    TReferenceState reference;
};

TEST_F(PanelTest, CaptionsRoundTheScoreHalfToEven) {
    EXPECT_EQ(vRenderPanel::ScoreText(0.87549f), "87.5");
    EXPECT_EQ(vRenderPanel::ScoreText(0.9f), "90");
    EXPECT_EQ(vRenderPanel::ScoreText(1.0f), "100");
    EXPECT_EQ(vRenderPanel::ScoreText(0.0625f), "6.2");  // 62.5 is a tie: to even
    EXPECT_EQ(vRenderPanel::ScoreText(0.0635f), "6.4");  // 63.5 (not exact in float) rounds up
    EXPECT_EQ(vRenderPanel::ScoreText(0.3f), "30");
    EXPECT_EQ(vRenderPanel::ScoreText(-0.0f), "0");

    // The drawn caption is that text, "%: " and the title: its width is what the hit test uses.
    TcvResults* hit = hits.Add(0.87549f, "Paper jam...", "excerpt");
    panel->StorageChanged();
    const int width = CaptionMetrics().horizontalAdvance(QStringLiteral("87.5%: Paper jam..."));
    EXPECT_EQ(HitAt(6 + width, FirstTop()), hit);
    EXPECT_EQ(HitAt(7 + width, FirstTop()), nullptr);
}

TEST_F(PanelTest, HitTestBoundsAreInclusiveAndSpareTheExcerpt) {
    TcvResults* first = hits.Add(0.9f, "Printer offline...", "Restart the spooler service");
    TcvResults* second = hits.Add(0.5f, "Mail stuck...", "Clear the outbox");
    panel->StorageChanged();
    const int top = FirstTop();
    const QFontMetrics caption = CaptionMetrics();
    const int right = 6 + caption.horizontalAdvance(QStringLiteral("90%: Printer offline..."));

    EXPECT_EQ(HitAt(2, top), first);
    EXPECT_EQ(HitAt(1, top), nullptr);
    EXPECT_EQ(HitAt(right, top + 3), first);
    EXPECT_EQ(HitAt(right + 1, top + 3), nullptr);
    EXPECT_EQ(HitAt(10, top - 1), nullptr);
    EXPECT_EQ(HitAt(10, top + caption.height()), first);  // the caption's last row still counts
    EXPECT_EQ(HitAt(10, top + caption.height() + 1), nullptr);  // the excerpt line does not
    const int rowheight =
        std::max(16, caption.height()) +
        QFontMetrics(renderpanel::CanvasFont(panel->font()), &panel->BufferBitmap()).height() + 4;
    EXPECT_EQ(HitAt(10, top + rowheight - 1), nullptr);
    EXPECT_EQ(HitAt(10, top + rowheight), second);
    EXPECT_EQ(HitAt(10, top + 2 * rowheight), nullptr);  // below the last row

    // Hover only stores the point: the selection stays that of the last drawing.
    const int before = paints;
    EXPECT_EQ(panel->Hover(2, top), nullptr);
    EXPECT_EQ(panel->Hover(400, 400), nullptr);
    EXPECT_EQ(paints, before);

    // A new tree drops the selection at once.
    EXPECT_EQ(HitAt(2, top), first);
    panel->StorageChanged();
    EXPECT_EQ(panel->Hover(2, top), nullptr);
}

TEST_F(PanelTest, EqualScoresDrawTheLaterInsertedFirst) {
    TcvResults* earlier = hits.Add(0.5f, "Earlier...", "");
    TcvResults* later = hits.Add(0.5f, "Later...", "");
    TcvResults* best = hits.Add(0.75f, "Best...", "");
    hits.tree.insert(0.6f, nullptr);  // a node without a hit takes no row
    panel->StorageChanged();
    const int top = FirstTop();
    const int rowheight =
        std::max(16, CaptionMetrics().height()) +
        QFontMetrics(renderpanel::CanvasFont(panel->font()), &panel->BufferBitmap()).height() + 4;
    EXPECT_EQ(HitAt(2, top), best);
    EXPECT_EQ(HitAt(2, top + rowheight), later);
    EXPECT_EQ(HitAt(2, top + 2 * rowheight), earlier);
}

TEST_F(PanelTest, ScrollHeightFollowsTheListAndTheViewOffset) {
    const int H = panel->height();
    Paint();
    EXPECT_EQ(panel->ScrollHeight(), FirstTop() + H);  // empty tree
    panel->Scroll(0, 30);
    EXPECT_EQ(panel->ScrollPos(), QPoint(0, 30));
    Paint();
    EXPECT_EQ(panel->ScrollHeight(), FirstTop() - 30 + H);

    AddVariedHits(hits, 50, 3);
    panel->StorageChanged();
    Paint();
    const int scrolled = panel->ScrollHeight();
    panel->Scroll(0, 0);
    Paint();
    EXPECT_EQ(panel->ScrollHeight(), scrolled + 30);

    panel->SetStorage(nullptr);
    Paint();
    EXPECT_EQ(panel->ScrollHeight(), H);
    panel->SetScorePosition(true);
    Paint();
    EXPECT_EQ(panel->ScrollHeight(), 2 + H);
}

TEST_F(PanelTest, ScrollWidthNeverShrinks) {
    hits.Add(0.8f, std::string(40, 'W') + "...", std::string(100, 'M'));
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "long hits");
    const int widest = panel->ScrollWidth();
    EXPECT_GT(widest, 0);

    hits.Clear();
    hits.Add(0.3f, "ab...", "c");
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "short hits");
    EXPECT_EQ(panel->ScrollWidth(), widest);
    hits.Clear();
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "no hits");
    EXPECT_EQ(panel->ScrollWidth(), widest);
}

// Texts with tabs are measured by Qt, and only when they could be the widest; these must still
// count exactly.
TEST_F(PanelTest, TextsWithTabsCountInTheScrollWidth) {
    hits.Add(0.5f, "T\t\t\t\t\t\t\t\t\t\t\t\t...", "");
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "tabbed caption");
    EXPECT_GT(panel->ScrollWidth(), 12 * 80);
}

TEST_F(PanelTest, TabbedExcerptSkippedInTheRankedLayoutCountsInTheScorePositionLayout) {
    // D's bound lies below C's width, so the ranked layout never measures it; placed by its low
    // score further right, D is the widest extent of the score-position layout.
    const std::string wide(100, 'W');
    hits.Add(1.0f, "C...", wide);
    QFont italic = renderpanel::CanvasFont(panel->font());
    italic.setItalic(true);
    const QFontMetrics metrics(italic, &panel->BufferBitmap());
    const int count = (metrics.horizontalAdvance(QString::fromStdString(wide)) - 500) /
                      metrics.horizontalAdvance(QStringLiteral("W"));
    hits.Add(0.26f, "D...", "\t\t\t" + std::string(static_cast<std::size_t>(count), 'W'));
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "ranked");
    const int ranked = panel->ScrollWidth();
    panel->resize(800, 400);
    panel->SetScorePosition(true);
    ExpectLikeReference(0, 0, "score position");
    EXPECT_GT(panel->ScrollWidth(), ranked + 100);
}

TEST_F(PanelTest, ScorePositionDrawsRulerAndBand) {
    panel->SetScorePosition(true);
    hits.Add(0.5f, "Half...", "");
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "score position");
    const QImage& image = panel->BufferBitmap();
    const QColor shade = Darker(cBGCOLOR, 20);
    const int W = panel->width();
    const int H = panel->height();
    EXPECT_EQ(image.pixelColor(0, 0), shade);  // the band
    EXPECT_EQ(image.pixelColor(W - 1, 1), shade);
    // The 50% line runs down from the middle of "50" to the bottom.
    const QFontMetrics regular(renderpanel::CanvasFont(panel->font()), &image);
    const int x = W + 2 - qRound(5 * W / 100.0 * 10) + regular.horizontalAdvance("50") / 2;
    EXPECT_EQ(image.pixelColor(x, H - 1), shade);
    EXPECT_EQ(image.pixelColor(x + 2, H - 1), cBGCOLOR);
    // The band is as tall as a line plus 4, and the rows start below it.
    const int bandheight = QFontMetrics(
                               [&] {
                                   QFont italic = renderpanel::CanvasFont(panel->font());
                                   italic.setItalic(true);
                                   return italic;
                               }(),
                               &image)
                               .height() +
                           4;
    EXPECT_EQ(image.pixelColor(0, bandheight - 1), shade);
    EXPECT_EQ(image.pixelColor(0, bandheight), cBGCOLOR);
}

TEST_F(PanelTest, HoveredCaptionIsUnderlinedInTheHotTrackColour) {
    hits.Add(0.9f, "Printer offline...", "Restart the spooler service");
    panel->StorageChanged();
    const QColor hottrack = QGuiApplication::palette().color(QPalette::Link);
    const auto hotpixels = [&] {
        int count = 0;
        const QImage& image = panel->BufferBitmap();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y) == hottrack;
        return count;
    };
    HitAt(0, 0);
    EXPECT_EQ(hotpixels(), 0);
    HitAt(10, FirstTop() + 2);
    EXPECT_GT(hotpixels(), 0);
    // The underline is a line of that colour across the caption (ending a pixel short of it).
    const QImage& image = panel->BufferBitmap();
    const int right = 4 + CaptionMetrics().horizontalAdvance("90%: Printer offline...");
    bool underline = false;
    for (int y = FirstTop(); y <= FirstTop() + CaptionMetrics().height(); ++y)
        underline |= image.pixelColor(6, y) == hottrack && image.pixelColor(right, y) == hottrack;
    EXPECT_TRUE(underline);
}

TEST_F(PanelTest, EventsReachTheirSignals) {
    int entered = 0;
    int left = 0;
    QPoint moved;
    QPoint pressed;
    Qt::MouseButton button = Qt::NoButton;
    QObject::connect(panel.get(), &vRenderPanel::OnMouseEnter,
                     [&](vRenderPanel* sender) { entered += sender == panel.get(); });
    QObject::connect(panel.get(), &vRenderPanel::OnMouseLeave,
                     [&](vRenderPanel* sender) { left += sender == panel.get(); });
    QObject::connect(panel.get(), &vRenderPanel::mouseMoved, [&](int x, int y) { moved = {x, y}; });
    QObject::connect(panel.get(), &vRenderPanel::mousePressed,
                     [&](Qt::MouseButton b, int x, int y) {
                         button = b;
                         pressed = {x, y};
                     });
    QEnterEvent enter(QPointF(5, 6), QPointF(5, 6), QPointF(5, 6));
    QCoreApplication::sendEvent(panel.get(), &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(panel.get(), &leave);
    QMouseEvent move(QEvent::MouseMove, QPointF(12, 34), QPointF(12, 34), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &move);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(56, 78), QPointF(56, 78), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &press);
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(moved, QPoint(12, 34));
    EXPECT_EQ(pressed, QPoint(56, 78));
    EXPECT_EQ(button, Qt::RightButton);
}

// The drawing of the rows near the view gives exactly what a drawing of every row gives, in
// both layouts, with and without an icon, scrolled anywhere, at several text sizes and widths.
TEST_F(PanelTest, DrawsExactlyLikeTheFullRedraw) {
    AddVariedHits(hits, 1200, 11);
    hits.Add(1.0f, "Perfect...", "");
    // The widest texts have tabs, which the width tables leave to Qt.
    hits.Add(0.3f, "Wide\t\t\t\ttitle...", "x\t\t\t\t\t\t\t\t\t\ty");
    hits.tree.insert(0.4f, nullptr);
    panel->StorageChanged();
    QImage icon(20, 24, QImage::Format_RGB888);
    icon.fill(QColor(40, 90, 160));

    std::mt19937 random(5);
    for (const double points : {10.0, 8.0, 15.0}) {
        panel->setFont(PanelFont(points));
        for (int layout = 0; layout < 4; ++layout) {
            panel->SetScorePosition(layout & 1);
            panel->SetDocIcon(layout & 2 ? &icon : nullptr);
            panel->SetAutoScroll(layout == 3);
            panel->resize(layout == 1 ? 500 : 320, 380);
            const int last = std::max(0, panel->ScrollHeight() - panel->height());
            for (const int vy : {0, 7, -25, 333, last / 2, last - 3, last + 500}) {
                panel->Scroll(0, vy);
                const int hx = random() % 400;
                const int hy = random() % 380;
                const std::string what = "points " + std::to_string(points) + " layout " +
                                         std::to_string(layout) + " vy " + std::to_string(vy);
                ExpectLikeReference(hx, hy, what);
                // And once on a caption, so that a hit is selected and underlined.
                ExpectLikeReference(8, 30 + hy % 200, what + " on a caption");
            }
        }
    }

    // A new, smaller pass keeps the width and lays out anew.
    hits.Clear();
    AddVariedHits(hits, 40, 12);
    panel->StorageChanged();
    panel->Scroll(0, 0);
    ExpectLikeReference(8, 40, "second pass");
}

}  // namespace
