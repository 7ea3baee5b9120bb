// The results panel on the offscreen platform: captions, hit test, order, scroll extents, the
// score-position layout, events, and pixel identity with a literal drawing of every row.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWindow>
#include <random>

#include "textsearch/renderpanel/colors.h"
#include "tests/textsearch/renderpanel/panelfixture.h"

namespace {

// The colour of the logical pixel (x, y) of an image drawn at any device pixel ratio: that of the
// device pixel under the logical pixel's centre.
QColor At(const QImage& image, int x, int y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>((x + 0.5) * ratio),
                            static_cast<int>((y + 0.5) * ratio));
}

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
    EXPECT_EQ(At(image, 0, 0), shade);  // the band
    EXPECT_EQ(At(image, W - 1, 1), shade);
    // The 50% line runs down from the middle of "50" to the bottom.
    const QFontMetrics regular(renderpanel::CanvasFont(panel->font()), &image);
    const int x = W + 2 - qRound(5 * W / 100.0 * 10) + regular.horizontalAdvance("50") / 2;
    // (A one-pixel line is centred on its coordinate: at a ratio above 1 it begins left of it.)
    const auto line = [&](int x) {
        const qreal ratio = image.devicePixelRatio();
        return image.pixelColor(static_cast<int>(x * ratio), static_cast<int>((H - 0.5) * ratio));
    };
    EXPECT_EQ(line(x), shade);
    EXPECT_EQ(line(x + 2), cBGCOLOR);
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
    EXPECT_EQ(At(image, 0, bandheight - 1), shade);
    EXPECT_EQ(At(image, 0, bandheight), cBGCOLOR);
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
    // The underline is a line of that colour across the caption.
    const QImage& image = panel->BufferBitmap();
    const int right = 3 + CaptionMetrics().horizontalAdvance("90%: Printer offline...");
    bool underline = false;
    for (int y = FirstTop(); y <= FirstTop() + CaptionMetrics().height(); ++y)
        underline |= At(image, 6, y) == hottrack && At(image, right, y) == hottrack;
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

// Titles and excerpts in other scripts and emoji are measured whole, drawn as Qt draws them and
// hit-tested by the width Qt gives them.
TEST_F(PanelTest, OtherScriptsDrawAndMeasureLikeTheFullRedraw) {
    AddVariedHits(hits, 300, 21, true);
    hits.Add(0.99f, "\xF0\x9F\x96\xA8\xEF\xB8\x8F Drucker \xE2\x80\x93 \xCF\x83\xCF\x86...",
             "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA \xD0\xBF\xD1\x80\xD0\xB8");
    hits.Add(0.98f, "Bytes that are not UTF-8: \x80\xC0\xAF\xE2\x82...", "\xED\xA0\x80");
    panel->StorageChanged();
    std::mt19937 random(9);
    for (int layout = 0; layout < 2; ++layout) {
        panel->SetScorePosition(layout == 1);
        panel->resize(layout == 1 ? 600 : 320, 380);
        for (const int vy : {0, 150, 2000}) {
            panel->Scroll(0, vy);
            for (int point = 0; point < 4; ++point) {
                const int hx = point == 0 ? 8 : static_cast<int>(random() % 400);
                const int hy = static_cast<int>(random() % 380);
                ExpectLikeReference(hx, hy,
                                    "layout " + std::to_string(layout) + " vy " +
                                        std::to_string(vy) + " at " + std::to_string(hx) + "," +
                                        std::to_string(hy));
            }
        }
    }
}

// A panel that was never shown answers from arithmetic: the hit under a point, the list's
// height and the scroll bar's figures are those a drawing of every row gives.
TEST(PanelGeometry, AnswersWithoutDrawing) {
    THitSet hits;
    AddVariedHits(hits, 200, 4);
    vRenderPanel panel;
    panel.setFont(PanelFont(10));
    panel.resize(300, 350);
    panel.SetScorePosition(false);
    panel.SetStorage(&hits.tree);
    panel.Scroll(0, 240);
    int drawings = 0;
    QObject::connect(&panel, &vRenderPanel::OnPaint, [&] { ++drawings; });
    std::mt19937 random(3);
    for (int n = 0; n < 200; ++n) {
        const QPoint at(static_cast<int>(random() % 320), static_cast<int>(random() % 360));
        TReferenceState reference;
        reference.view = panel.ViewPoint();
        ReferenceDraw(ReferenceInputOf(panel, at.x(), at.y()), reference);
        ASSERT_EQ(panel.HitAt(at), reference.selected) << at.x() << "," << at.y();
        ASSERT_EQ(panel.ScrollHeight(), reference.scrollheight);
    }
    EXPECT_EQ(drawings, 0);
    // The list's height does not depend on where it is scrolled to.
    const int listheight = panel.ListHeight();
    EXPECT_EQ(panel.ScrollHeight(), listheight - 240 + panel.height());
    panel.Scroll(0, 0);
    EXPECT_EQ(panel.ListHeight(), listheight);
    EXPECT_EQ(panel.ScrollHeight(), listheight + panel.height());
}

TEST_F(PanelTest, TheScrollBarStopsAtTheLastHitAndStepsByRowsAndPages) {
    AddVariedHits(hits, 100, 5);
    panel->StorageChanged();
    QScrollBar bar(Qt::Vertical);
    panel->SetUpScrollBar(bar);
    const int H = panel->height();
    const int rowheight = panel->RowHeight();
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), panel->ListHeight() - H);
    EXPECT_EQ(bar.pageStep(), H);
    EXPECT_EQ(bar.singleStep(), rowheight);
    // At the bottom the last row's gap ends at the panel's bottom edge: its caption starts one
    // row height above it.
    panel->SetViewPoint(QPoint(0, bar.maximum()));
    EXPECT_EQ(panel->HitAt(QPoint(10, H - rowheight)), panel->Row(panel->Count() - 1));
    EXPECT_EQ(panel->HitAt(QPoint(10, H - rowheight - 1)), nullptr);
    EXPECT_EQ(panel->ScrollHeight(), 2 * H);

    // A pass with fewer hits pulls the position back; one that fits leaves nothing to scroll.
    bar.setValue(bar.maximum());
    QObject::connect(panel.get(), &vRenderPanel::scrollMetricsChanged,
                     [&] { panel->SetUpScrollBar(bar); });
    hits.Clear();
    AddVariedHits(hits, 20, 6);
    panel->StorageChanged();
    EXPECT_EQ(bar.maximum(), std::max(0, panel->ListHeight() - H));
    EXPECT_EQ(bar.value(), bar.maximum());
    hits.Clear();
    hits.Add(0.5f, "One...", "hit");
    panel->StorageChanged();
    EXPECT_EQ(bar.maximum(), 0);
    EXPECT_EQ(bar.value(), 0);

    // A larger text or a smaller panel changes the figures, and says so.
    AddVariedHits(hits, 100, 7);
    panel->StorageChanged();
    panel->setFont(PanelFont(14));
    EXPECT_GT(panel->RowHeight(), rowheight);
    EXPECT_EQ(bar.singleStep(), panel->RowHeight());
    panel->resize(320, 200);
    EXPECT_EQ(bar.pageStep(), 200);
    EXPECT_EQ(bar.maximum(), panel->ListHeight() - 200);
}

// The off-screen image is as fine as the screen: one pixel of it per device pixel.
TEST_F(PanelTest, TheImageHasTheScreensPixelRatio) {
    hits.Add(0.9f, "Printer offline...", "Restart the spooler service");
    panel->StorageChanged();
    Paint();
    const qreal ratio = panel->devicePixelRatioF();
    // The runs with a scale factor must have drawn at that ratio.
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    const QImage& image = panel->BufferBitmap();
    EXPECT_EQ(image.devicePixelRatio(), ratio);
    EXPECT_EQ(image.width(), static_cast<int>(std::ceil(panel->width() * ratio)));
    EXPECT_EQ(image.height(), static_cast<int>(std::ceil(panel->height() * ratio)));
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    // On the screen pixel for pixel, although it is copied there in bands (whole device pixels).
    if (ratio == std::floor(ratio)) {
        AddVariedHits(hits, 300, 3);
        panel->StorageChanged();
        const QImage screen = panel->grab().toImage().convertToFormat(QImage::Format_RGB888);
        EXPECT_EQ(screen, panel->BufferBitmap());
    }
}
