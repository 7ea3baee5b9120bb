// How the results panel draws.
//
// Every repaint lays the list out from scratch in the off-screen image: background, the ruler
// (score-position layout), the rows, the band and bold ruler texts on top, then one copy to the
// screen. Only the rows that can reach the image are drawn. That is exact because every row has
// the same height (the larger of the icon height and the caption's line height, plus the excerpt's
// line height, plus 4), so row k starts at first + k * height; rows more than a row away from the
// image cannot touch its pixels, and the rows near it are drawn in the same order as a drawing of
// all rows would draw them.
//
// The values a drawing of all rows would leave behind are computed without drawing them: the
// scroll height is arithmetic; the hit test divides the hover point's distance from the first row
// by the row height and tests that one caption; the scroll width needs the widest caption and
// excerpt of the pass, which are measured once per pass and font with per-character advance tables
// (TTextWidths), valid because the canvas fonts have kerning and optional shaping switched off.
#include "textsearch/renderpanel/vrenderpanel.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "colors.h"
#include "port/localformat.h"

namespace renderpanel {

namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252. The five undefined bytes keep their C1
// code points.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t CodePoint(unsigned char c) {
    return c >= 0x80 && c <= 0x9F ? kHigh1252[c - 0x80] : static_cast<char16_t>(c);
}

// A tab's width depends on where it starts: it advances to the next tab stop. Control characters
// and the soft hyphen take no width, which the probe in TTextWidths confirms for each font.
constexpr unsigned char kTab = '\t';

// Longer texts are measured whole, which keeps the sums in Advance64 far from overflow.
constexpr std::size_t kLongText = std::size_t{1} << 20;
// Advances at or above this (in 1/64 pixel) are treated as not additive, for the same reason.
constexpr std::uint64_t kHugeAdvance = std::uint64_t{1} << 20;

}  // namespace

QString FromWindows1252(std::string_view text) {
    QString result(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
    QChar* out = result.data();
    for (unsigned char c : text)
        *out++ = QChar(CodePoint(c));
    return result;
}

QFont CanvasFont(const QFont& font) {
    QFont canvas = font;
    canvas.setKerning(false);
    canvas.setStyleStrategy(QFont::StyleStrategy(canvas.styleStrategy() | QFont::PreferNoShaping));
    return canvas;
}

TTextWidths::TTextWidths(const QFont& font, const QPaintDevice* device) : fmetrics(font, device) {
    const QFontMetricsF exact(font, device);
    std::string probe;
    for (int c = 0; c < 256; ++c) {
        const auto byte = static_cast<unsigned char>(c);
        const double advance = exact.horizontalAdvance(QString(QChar(CodePoint(byte)))) * 64.0;
        const double whole = std::nearbyint(advance);
        const bool additive = byte != kTab && whole == advance && whole >= 0 &&
                              whole < static_cast<double>(kHugeAdvance);
        fadvance[byte] = additive ? static_cast<std::uint64_t>(whole) : kNotAdditive;
        if (additive) probe += static_cast<char>(byte);
        // One tab from the line's start spans one tab stop distance.
        if (byte == kTab && whole == advance && whole > 0 &&
            whole < static_cast<double>(kHugeAdvance))
            ftab64 = static_cast<std::int64_t>(whole);
    }
    // The tables hold only if the layout engine sums advances the same way; a probe of every
    // additive character, forwards and backwards, would show kerning or ligatures.
    fadditive = true;
    const std::string backwards(probe.rbegin(), probe.rend());
    const std::string controls = "\r\nLine\x01 two\x1b\x7f\r\n th\xadree\x81\x8d\x90\x9d\r\n\xad";
    for (const std::string& text :
         {probe, backwards, controls, std::string("The quick brown fox, ffi fl")}) {
        const std::int64_t sum = Advance64(text);
        if (sum < 0 || Round64(sum) != fmetrics.horizontalAdvance(FromWindows1252(text))) {
            fadditive = false;
            break;
        }
    }
}

std::int64_t TTextWidths::Advance64(std::string_view text, std::int64_t* upperbound64) const {
    if (upperbound64) *upperbound64 = -1;
    if (!fadditive || text.size() >= kLongText) return -1;
    std::uint64_t sum = 0;
    for (unsigned char c : text)
        sum += fadvance[c];
    if (sum < kNotAdditive) return static_cast<std::int64_t>(sum);
    // A tab ends at the next tab stop after the point where it starts (allowing for that point's
    // rounding), so it adds less than two tab distances; a pixel more covers the final rounding.
    if (upperbound64 && ftab64 > 0)
        *upperbound64 = static_cast<std::int64_t>(sum % kNotAdditive) +
                        static_cast<std::int64_t>(sum / kNotAdditive) * 2 * ftab64 + 64;
    return -1;
}

int TTextWidths::Width(std::string_view text) const {
    const std::int64_t sum = Advance64(text);
    return sum >= 0 ? Round64(sum) : fmetrics.horizontalAdvance(FromWindows1252(text));
}

}  // namespace renderpanel

using renderpanel::FromWindows1252;
using renderpanel::TTextWidths;

namespace {

// Round to the nearest integer, halves to even; values that are not numbers or lie beyond the
// int range (a corrupt score) are pinned instead of overflowing.
int RoundToInt(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v);
    if (r <= static_cast<double>(INT_MIN / 2)) return INT_MIN / 2;
    if (r >= static_cast<double>(INT_MAX / 2)) return INT_MAX / 2;
    return static_cast<int>(r);
}

int ClampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// Floor of a / b for b > 0.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// Index into the caption prefix cache for a score: Round(Proximity * 1000) when it is 0 to 1000,
// else -1.
constexpr int kPrefixes = 1001;
int PrefixIndex(float Proximity) {
    const double scaled = static_cast<double>(Proximity) * 1000.0;
    if (!(scaled >= 0 && scaled < kPrefixes)) return -1;
    // Adding and taking away 2^52 rounds to an integer, halves to even, in the default rounding
    // mode, without the library call that nearbyint is (this runs once per hit and pass).
    constexpr double kShift = 4503599627370496.0;
    const double r = (scaled + kShift) - kShift;
    return r >= 0 && r < kPrefixes ? static_cast<int>(r) : -1;
}

// The value in the shortest general decimal form of at most 15 significant digits, with the
// user's decimal separator.
std::string FormatGeneral(double value) {
    if (value == 0) value = 0;  // no "-0"
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string result(text, ec == std::errc() ? end : text);
    const char separator = DecimalSeparator();
    std::replace(result.begin(), result.end(), '.', separator);
    return result;
}

QFont RegularStyle(QFont font) {
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

// One point larger (one pixel for a font sized in pixels).
QFont Larger(QFont font) {
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() + 1);
    else if (font.pixelSize() > 0)
        font.setPixelSize(font.pixelSize() + 1);
    return font;
}

QString FontKey(const QFont& font, const QPaintDevice& device) {
    return font.key() + QLatin1Char('@') + QString::number(device.logicalDpiX()) +
           QLatin1Char('x') + QString::number(device.logicalDpiY());
}

// Text with its top-left corner at (x, y) on one line, over a background of its extent.
void TextOut(QPainter& canvas, const QFontMetrics& metrics, int x, std::int64_t y,
             const QString& text, const QColor& colour, const QColor& background) {
    const int top = ClampToInt(y);
    canvas.fillRect(x, top, metrics.horizontalAdvance(text), metrics.height(), background);
    canvas.setPen(colour);
    canvas.drawText(x, top + metrics.ascent(), text);
}

}  // namespace

vRenderPanel::vRenderPanel(QWidget* Owner) : QFrame(Owner), fColor(cBGCOLOR) {
    setFrameStyle(QFrame::NoFrame);
    // The panel paints every pixel it owns; the mouse is tracked for the hover highlight.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    fbuffer = QImage(1, 1, QImage::Format_RGB888);
}

vRenderPanel::~vRenderPanel() = default;

TcvResults* vRenderPanel::Hover(int x, int y) {
    hoverx = x;
    hovery = y;
    return selected;
}

void vRenderPanel::Scroll(int x, int y) {
    fview = QPoint(x, y);
    update();
}

void vRenderPanel::SetScorePosition(bool ScorePosition) {
    fScorePosition = ScorePosition;
    update();
}

void vRenderPanel::SetAutoScroll(bool AutoScroll) {
    fAutoScroll = AutoScroll;
    update();
}

void vRenderPanel::SetDocIcon(const QImage* DocIcon) {
    fdocicon = DocIcon;
    update();
}

void vRenderPanel::SetColor(const QColor& Color) {
    fColor = Color;
    update();
}

void vRenderPanel::SetStorage(TScoretree<TcvResults>* Storage) {
    fStorage = Storage;
    StorageChanged();
}

void vRenderPanel::StorageChanged() {
    frows.clear();
    fmemoryorder.clear();
    frowscount = -1;
    if (fpasswidths) fpasswidths->fontkey.clear();
    selected = nullptr;
}

void vRenderPanel::RebuildRows() {
    StorageChanged();
    if (!fStorage) return;
    const int count = fStorage->Count();
    fStorage->Prepare();
    frows.reserve(static_cast<std::size_t>(count));
    // Hits are made in insertion order and usually lie in memory in that order, so the pass over
    // all of them for their widths walks insertion order: in score order every hit and text
    // would be a cache miss.
    fmemoryorder.assign(static_cast<std::size_t>(count), nullptr);
    bool indexed = true;
    for (int p = count - 1; p >= 0; --p) {
        const psnode<TcvResults> node = fStorage->Items(p);
        if (!node || !node->data) continue;
        frows.push_back(node->data);
        if (node->index < 0 || node->index >= count ||
            fmemoryorder[static_cast<std::size_t>(node->index)])
            indexed = false;
        else
            fmemoryorder[static_cast<std::size_t>(node->index)] = node->data;
    }
    if (indexed)
        std::erase(fmemoryorder, nullptr);
    else
        fmemoryorder = frows;
    frowscount = count;
}

std::string vRenderPanel::ScoreText(float Proximity) {
    return FormatGeneral(std::nearbyint(static_cast<double>(Proximity) * 1000.0) / 10.0);
}

const std::string& vRenderPanel::CaptionPrefix(float Proximity) {
    const int index = PrefixIndex(Proximity);
    if (index < 0) {
        fscratchprefix = ScoreText(Proximity) + "%: ";
        return fscratchprefix;
    }
    std::string& prefix = fprefixes[static_cast<std::size_t>(index)];
    if (prefix.empty()) prefix = ScoreText(Proximity) + "%: ";
    return prefix;
}

QString vRenderPanel::Caption(const TcvResults& r) {
    return FromWindows1252(CaptionPrefix(r.Proximity)) + FromWindows1252(r.Title);
}

const TTextWidths& vRenderPanel::WidthsFor(const QFont& font) {
    const QString key = FontKey(font, fbuffer);
    auto found = fwidths.find(key);
    if (found == fwidths.end()) {
        // Text size changes make new fonts; old tables are rarely needed again.
        if (fwidths.size() >= 16) fwidths.clear();
        found = fwidths.emplace(key, std::make_unique<TTextWidths>(font, &fbuffer)).first;
    }
    return *found->second;
}

const vRenderPanel::TPassWidths& vRenderPanel::PassWidths(const QFont& bold, const QFont& italic) {
    const QString key = FontKey(bold, fbuffer) + QLatin1Char('|') + FontKey(italic, fbuffer);
    if (fpasswidths && fpasswidths->fontkey == key) return *fpasswidths;
    const TTextWidths& captions = WidthsFor(bold);
    const TTextWidths& excerpts = WidthsFor(italic);
    // The object and its vectors are reused from pass to pass: freeing and taking back megabytes
    // for every pass costs more than the little that is done with them.
    if (!fpasswidths) fpasswidths = std::make_unique<TPassWidths>();
    TPassWidths& widths = *fpasswidths;
    widths.fontkey.clear();
    widths.maxcaption = 0;
    widths.maxexcerpt = 0;
    widths.excerptwidths.assign(fmemoryorder.size(), 0);
    widths.unmeasured.clear();
    widths.scorewidth = -1;
    fpendingcaptions.clear();

    // Advance of each caption prefix, measured the first time a score needs it.
    constexpr std::int64_t kUnknown = -2;
    fprefixadvance.assign(kPrefixes, kUnknown);
    for (std::size_t k = 0; k < fmemoryorder.size(); ++k) {
        const TcvResults& r = *fmemoryorder[k];
        const int index = PrefixIndex(r.Proximity);
        std::int64_t prefix;
        if (index >= 0) {
            std::int64_t& cached = fprefixadvance[static_cast<std::size_t>(index)];
            if (cached == kUnknown) cached = captions.Advance64(CaptionPrefix(r.Proximity));
            prefix = cached;
        } else {
            prefix = captions.Advance64(CaptionPrefix(r.Proximity));
        }
        std::int64_t bound;
        const std::int64_t title = captions.Advance64(r.Title, &bound);
        if (prefix >= 0 && title >= 0)
            widths.maxcaption = std::max(widths.maxcaption, TTextWidths::Round64(prefix + title));
        else
            fpendingcaptions.push_back(
                {k, prefix >= 0 && bound >= 0 ? TTextWidths::Round64(prefix + bound) : INT64_MAX});
        const std::int64_t excerpt = excerpts.Advance64(r.excerpt, &bound);
        if (excerpt >= 0) {
            widths.excerptwidths[k] = TTextWidths::Round64(excerpt);
            widths.maxexcerpt = std::max(widths.maxexcerpt, widths.excerptwidths[k]);
        } else {
            widths.excerptwidths[k] = kUnmeasured;
            widths.unmeasured.push_back({k, bound >= 0 ? TTextWidths::Round64(bound) : INT64_MAX});
        }
    }

    // Texts the tables cannot sum (tabs) are laid out by Qt, but only those whose bound could
    // still make them the widest, largest bound first.
    const auto byboundlargestfirst = [](const TBound& a, const TBound& b) {
        return a.bound > b.bound;
    };
    std::sort(fpendingcaptions.begin(), fpendingcaptions.end(), byboundlargestfirst);
    for (const TBound& pending : fpendingcaptions) {
        if (pending.bound <= widths.maxcaption) break;
        widths.maxcaption =
            std::max(widths.maxcaption,
                     captions.Metrics().horizontalAdvance(Caption(*fmemoryorder[pending.row])));
    }
    std::sort(widths.unmeasured.begin(), widths.unmeasured.end(), byboundlargestfirst);
    auto measured = widths.unmeasured.begin();
    for (; measured != widths.unmeasured.end() && measured->bound > widths.maxexcerpt; ++measured) {
        int& width = widths.excerptwidths[measured->row];
        width = excerpts.Metrics().horizontalAdvance(
            FromWindows1252(fmemoryorder[measured->row]->excerpt));
        widths.maxexcerpt = std::max(widths.maxexcerpt, width);
    }
    widths.unmeasured.erase(widths.unmeasured.begin(), measured);
    widths.fontkey = key;
    return widths;
}

// Max over the rows of excerpt width minus the row's score offset, which is all that the
// score-position layout's excerpt extents need besides the panel's width and view offset.
// Excerpts left unmeasured are measured only when their bound could raise the maximum.
std::int64_t vRenderPanel::ScorePositionExcerptMax(float pixelspercent, int W,
                                                   const QFontMetrics& italic) {
    TPassWidths& widths = *fpasswidths;
    if (widths.scorewidth == W) return widths.scoremax;
    const auto offset = [&](std::size_t k) {
        return RoundToInt(static_cast<double>(pixelspercent) *
                          static_cast<double>(fmemoryorder[k]->Proximity) * 100.0);
    };
    std::int64_t best = INT64_MIN;
    for (std::size_t k = 0; k < fmemoryorder.size(); ++k)
        if (widths.excerptwidths[k] != kUnmeasured)
            best = std::max(best, std::int64_t{widths.excerptwidths[k]} - offset(k));
    for (auto pending = widths.unmeasured.begin(); pending != widths.unmeasured.end();) {
        if (pending->bound != INT64_MAX && pending->bound - offset(pending->row) <= best) {
            ++pending;
            continue;
        }
        int& width = widths.excerptwidths[pending->row];
        width = italic.horizontalAdvance(FromWindows1252(fmemoryorder[pending->row]->excerpt));
        best = std::max(best, std::int64_t{width} - offset(pending->row));
        pending = widths.unmeasured.erase(pending);
    }
    widths.scorewidth = W;
    widths.scoremax = best;
    return best;
}

void vRenderPanel::DrawPanel() {
    const int W = width();
    const int H = height();
    if (W <= 0 || H <= 0) return;
    const float pixelspercent = static_cast<float>(W) / 100.0f;
    if (fbuffer.width() != W || fbuffer.height() != H)
        fbuffer = QImage(W, H, QImage::Format_RGB888);
    if (DecimalSeparator() != fprefixseparator) {
        fprefixes.assign(kPrefixes, std::string());
        fprefixseparator = DecimalSeparator();
    }
    if (fStorage && fStorage->Count() != frowscount) RebuildRows();

    QPainter canvas(&fbuffer);
    const QFont regular = RegularStyle(renderpanel::CanvasFont(font()));
    QFont boldregular = regular;
    boldregular.setBold(true);
    const QFontMetrics regularmetrics(regular, &fbuffer);
    QColor fontcolour = palette().color(foregroundRole());
    const QColor black(0, 0, 0);
    const QColor shade = Darker(fColor, 20);

    canvas.fillRect(0, 0, W, H, fColor);
    const int docw = fdocicon ? fdocicon->width() : 0;
    const int doch = fdocicon ? fdocicon->height() : 16;

    int vx = fview.x();
    const int vy = fview.y();
    if (fStorage && fAutoScroll && fStorage->Count() > 0) {
        const psnode<TcvResults> best = fStorage->Items(fStorage->Count() - 1);
        if (best && best->data) {
            vx = W - 2 -
                 RoundToInt(static_cast<double>(pixelspercent) *
                            static_cast<double>(best->data->Proximity) * 100.0);
            fview.setX(vx);
        }
    }

    // The ruler: per-cent labels with a line down from the middle of each number.
    const auto rulerx = [&](int i) {
        return W + 2 -
               RoundToInt(static_cast<double>(i) * static_cast<double>(pixelspercent) * 10.0) - vx;
    };
    if (fScorePosition) {
        canvas.setFont(regular);
        for (int i = 10; i >= 1; --i) {
            const int x = rulerx(i);
            const QString label = QString::number(i) + QStringLiteral("0%");
            TextOut(canvas, regularmetrics, x, 2, label, fontcolour, shade);
            const int xmod =
                regularmetrics.horizontalAdvance(QString::number(i) + QLatin1Char('0')) / 2;
            canvas.setPen(QPen(shade, i == 10 ? 3 : 1, Qt::SolidLine, Qt::FlatCap));
            canvas.drawLine(x + xmod, 2 + regularmetrics.height(), x + xmod, H);
        }
    }

    // The rows.
    std::int64_t y = fScorePosition ? 2 : 0;
    bool rowsdrawn = false;
    if (fStorage) {
        const std::int64_t first =
            std::int64_t{regularmetrics.height()} + (fScorePosition ? 14 : 2) - vy;
        selected = nullptr;
        const QFont bold = Larger(boldregular);
        QFont underlined = bold;
        underlined.setUnderline(true);
        QFont italic = regular;
        italic.setItalic(true);
        const QFontMetrics boldmetrics(bold, &fbuffer);
        const QFontMetrics underlinedmetrics(underlined, &fbuffer);
        const QFontMetrics italicmetrics(italic, &fbuffer);
        const std::int64_t rowheight =
            std::max(doch, boldmetrics.height()) + italicmetrics.height() + 4;
        const auto n = static_cast<std::int64_t>(frows.size());
        const auto rowx = [&](const TcvResults& r) {
            return fScorePosition ? W + 2 -
                                        RoundToInt(static_cast<double>(pixelspercent) *
                                                   static_cast<double>(r.Proximity) * 100.0) -
                                        vx
                                  : 2 - vx;
        };

        // Hit test: only the row whose caption line spans hovery can hold the point.
        const std::int64_t fromfirst = std::int64_t{hovery} - first;
        if (fromfirst >= 0 && fromfirst / rowheight < n &&
            fromfirst % rowheight <= boldmetrics.height()) {
            TcvResults* r = frows[static_cast<std::size_t>(fromfirst / rowheight)];
            const std::int64_t x = rowx(*r);
            if (boldmetrics.horizontalAdvance(Caption(*r)) + x + docw + 4 >= hoverx && hoverx >= x)
                selected = r;
        }

        // Rows from one above the image to one below it.
        const std::int64_t from = std::max<std::int64_t>(0, FloorDiv(-first, rowheight) - 1);
        const std::int64_t to = std::min<std::int64_t>(n - 1, FloorDiv(H - first, rowheight) + 1);
        const QColor hottrack = QGuiApplication::palette().color(QPalette::Link);
        for (std::int64_t k = from; k <= to; ++k) {
            const TcvResults& r = *frows[static_cast<std::size_t>(k)];
            const std::int64_t top = first + k * rowheight;
            const int x = rowx(r);
            if (fdocicon) canvas.drawImage(QPoint(x, ClampToInt(top)), *fdocicon);
            const bool hot = &r == selected;
            canvas.setFont(hot ? underlined : bold);
            TextOut(canvas, hot ? underlinedmetrics : boldmetrics, x + docw + 4, top, Caption(r),
                    hot ? hottrack : black, fColor);
            canvas.setFont(italic);
            TextOut(canvas, italicmetrics, x + docw + 12,
                    top + std::max(doch, boldmetrics.height()), FromWindows1252(r.excerpt), black,
                    fColor);
        }

        // The widths every row would have recorded.
        if (n > 0) {
            const TPassWidths& widths = PassWidths(bold, italic);
            std::int64_t widest = widths.maxcaption;
            if (selected)
                widest = std::max<std::int64_t>(
                    widest, underlinedmetrics.horizontalAdvance(Caption(*selected)));
            const std::int64_t excerpts =
                fScorePosition ? std::int64_t{W} + 2 - vx + docw + 12 +
                                     ScorePositionExcerptMax(pixelspercent, W, italicmetrics)
                               : std::int64_t{2} - vx + docw + 12 + widths.maxexcerpt;
            widest = std::max(widest, excerpts);
            if (widest > fscrollwidth) fscrollwidth = ClampToInt(widest);
            rowsdrawn = true;
            fontcolour = black;
        }
        y = first + n * rowheight;
    }
    fscrollheight = ClampToInt(y + H);

    // The band over rows scrolled up under the ruler, then the ruler's labels again in bold. The
    // band's height follows the font the rows left behind (italic after any row).
    if (fScorePosition) {
        QFont last = regular;
        last.setItalic(rowsdrawn);
        const QFontMetrics lastmetrics(last, &fbuffer);
        canvas.fillRect(0, 0, W, lastmetrics.height() + 4, shade);
        const QFontMetrics boldregularmetrics(boldregular, &fbuffer);
        canvas.setFont(boldregular);
        for (int i = 10; i >= 1; --i)
            TextOut(canvas, boldregularmetrics, rulerx(i), 2,
                    QString::number(i) + QStringLiteral("0%"), fontcolour, shade);
    }
}

void vRenderPanel::paintEvent(QPaintEvent* event) {
    (void)event;
    DrawPanel();
    {
        QPainter screen(this);
        screen.drawImage(0, 0, fbuffer);
    }
    emit OnPaint(this);
}

void vRenderPanel::enterEvent(QEnterEvent* event) {
    QFrame::enterEvent(event);
    emit OnMouseEnter(this);
}

void vRenderPanel::leaveEvent(QEvent* event) {
    QFrame::leaveEvent(event);
    emit OnMouseLeave(this);
}

void vRenderPanel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit mouseMoved(at.x(), at.y());
}

void vRenderPanel::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit mousePressed(event->button(), at.x(), at.y());
}
