// How the results panel draws and answers.
//
// Every repaint lays the list out from scratch in the off-screen image: background, the ruler
// (score-position layout), the rows, the band and bold ruler texts on top, the focus frame, then
// one copy to the screen. Only the rows near the view are drawn (TPanelLayout::DrawnRows), which
// gives exactly the pixels of a drawing of every row: rows further away cannot touch the image,
// and the rows near it are drawn in the order a drawing of all rows would draw them.
//
// Everything else is computed, not drawn: the hit under a point (HitAt), the list's height and
// the scroll bar's figures come from the layout's arithmetic; the widest caption and excerpt
// (ScrollWidth) from TPassWidths, once per pass and font, when someone asks.
//
// The image is made at the widget's device pixel ratio with that ratio set on it, so every
// coordinate stays logical and the text is rasterised at the screen's resolution; at ratio 1 it
// is the plain 24-bit image of old, pixel for pixel.
#include "textsearch/renderpanel/vrenderpanel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "textsearch/renderpanel/colors.h"
#include "textsearch/renderpanel/canvas.h"
#include "textsearch/renderpanel/panelaccessible.h"
#include "textsearch/renderpanel/scoreposition.h"

using renderpanel::ClampToInt;
using renderpanel::FromUtf8;
using renderpanel::TPanelLayout;
using renderpanel::TScorePosition;
using renderpanel::TTextWidths;

namespace {

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

// Width of the focus frame drawn along the panel's edges while it has the focus.
constexpr int kFocusFrame = 2;

}  // namespace

// The fonts drawn with for one widget font: regular (ruler), bold regular (ruler on the band),
// bold one point larger (captions), the same underlined (hot captions), italic (excerpts); with
// their metrics on the off-screen image, which supply its resolution only.
struct vRenderPanel::TStyle {
    TStyle(const QFont& widgetfont, const QPaintDevice& device)
        : source(widgetfont),
          regular(RegularStyle(renderpanel::CanvasFont(widgetfont))),
          boldregular(WithBold(regular)),
          bold(Larger(boldregular)),
          underlined(WithUnderline(bold)),
          italic(WithItalic(regular)),
          bolditalic(WithBold(italic)),
          regularmetrics(regular, &device),
          boldregularmetrics(boldregular, &device),
          boldmetrics(bold, &device),
          underlinedmetrics(underlined, &device),
          italicmetrics(italic, &device),
          bolditalicmetrics(bolditalic, &device),
          passkey(FontKey(bold, device) + QLatin1Char('|') + FontKey(italic, device)) {}

    static QFont WithBold(QFont f) {
        f.setBold(true);
        return f;
    }
    static QFont WithUnderline(QFont f) {
        f.setUnderline(true);
        return f;
    }
    static QFont WithItalic(QFont f) {
        f.setItalic(true);
        return f;
    }

    QFont source;
    QFont regular;
    QFont boldregular;
    QFont bold;
    QFont underlined;
    QFont italic;
    QFont bolditalic;  // matched words in excerpts
    QFontMetrics regularmetrics;
    QFontMetrics boldregularmetrics;
    QFontMetrics boldmetrics;
    QFontMetrics underlinedmetrics;
    QFontMetrics italicmetrics;
    QFontMetrics bolditalicmetrics;
    QString passkey;
};

vRenderPanel::vRenderPanel(QWidget* Owner) : QFrame(Owner), fColor(cBGCOLOR) {
    setFrameStyle(QFrame::NoFrame);
    // The panel paints every pixel it owns; the mouse is tracked for the hover highlight.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    renderpanel::InstallPanelAccessibility();
    setAccessibleName(QStringLiteral("Similar Problems/Solutions"));
    setAccessibleDescription(
        QStringLiteral("Stored problems and solutions like the one being typed, most similar "
                       "first. Each item is the similarity in per cent and the entry's title; "
                       "its description is the text that follows. Enter opens the entry."));
    fbuffer = QImage(1, 1, QImage::Format_RGB888);
}

vRenderPanel::~vRenderPanel() = default;

TcvResults* vRenderPanel::Hover(int x, int y) {
    hoverx = x;
    hovery = y;
    return selected;
}

TcvResults* vRenderPanel::HitAt(QPoint point) const {
    const int row = HitRow(point);
    return row >= 0 ? RowAt(row) : nullptr;
}

void vRenderPanel::Scroll(int x, int y) {
    fview = QPoint(x, y);
    update();
}

void vRenderPanel::SetScorePosition(bool ScorePosition) {
    fScorePosition = ScorePosition;
    update();
    emit scrollMetricsChanged();
}

void vRenderPanel::SetAutoScroll(bool AutoScroll) {
    fAutoScroll = AutoScroll;
    update();
}

void vRenderPanel::SetDocIcon(const QImage* DocIcon) {
    fdocicon = DocIcon;
    update();
    emit scrollMetricsChanged();
}

void vRenderPanel::SetColor(const QColor& Color) {
    fColor = Color;
    update();
}

void vRenderPanel::SetStorage(TScoretree<TcvResults>* Storage) {
    fStorage = Storage;
    fboldHits = {};
    fbold = {};
    StorageChanged();
}

void vRenderPanel::SetBold(std::span<const TcvResults> hits,
                           std::span<const std::vector<TBoldRange>> bold) {
    fboldHits = hits;
    fbold = bold;
    update();
}

std::span<const TBoldRange> vRenderPanel::BoldOf(const TcvResults& r) const {
    if (fbold.empty() || &r < fboldHits.data() || &r >= fboldHits.data() + fboldHits.size())
        return {};
    const size_t i = static_cast<size_t>(&r - fboldHits.data());
    return i < fbold.size() ? std::span<const TBoldRange>(fbold[i]) : std::span<const TBoldRange>();
}

void vRenderPanel::DrawExcerpt(QPainter& canvas, const TStyle& style, int x, std::int64_t top,
                               const TcvResults& r, const QColor& colour) const {
    const TTextWidths& italicwidths = WidthsFor(style.italic);
    const TTextWidths& boldwidths = WidthsFor(style.bolditalic);
    const std::string_view text = r.excerpt;
    // Pieces in turn, plain and bold, each drawn where the one before ended; the line's
    // background is the taller font's, so the pieces sit on one baseline.
    const int height = std::max(style.italicmetrics.height(), style.bolditalicmetrics.height());
    const int ascent = std::max(style.italicmetrics.ascent(), style.bolditalicmetrics.ascent());
    size_t at = 0;
    auto piece = [&](size_t end, bool bold) {
        if (end <= at) return;
        const std::string_view part = text.substr(at, end - at);
        const int width = (bold ? boldwidths : italicwidths).Width(part);
        const int y = renderpanel::ClampToInt(top);
        canvas.fillRect(x, y, width, height, fColor);
        canvas.setFont(bold ? style.bolditalic : style.italic);
        canvas.setPen(colour);
        canvas.drawText(x, y + ascent, FromUtf8(part));
        x += width;
        at = end;
    };
    for (const TBoldRange& b : BoldOf(r)) {
        if (b.begin < at || b.end > text.size() || b.begin >= b.end) continue;
        piece(b.begin, false);
        piece(b.end, true);
    }
    piece(text.size(), false);
    canvas.setFont(style.italic);
}

void vRenderPanel::StorageChanged() {
    DropRows();
    selected = nullptr;
    fcurrent = -1;
    renderpanel::NotifyRowsReplaced(this);
    // The keyboard user in the list stays with it: at its best hit.
    if (hasFocus()) MoveCurrent(0);
    update();
    emit scrollMetricsChanged();
}

void vRenderPanel::DropRows() const {
    frows.clear();
    fmemoryorder.clear();
    fdirect = false;
    fmemoryorderready = false;
    frowscount = -1;
    fpasswidths.Invalidate();
}

void vRenderPanel::RebuildRows() const {
    DropRows();
    if (!fStorage) return;
    const int count = fStorage->Count();
    fStorage->Prepare();
    frowscount = count;
    // A search pass has a hit on every node: its rows are read through the prepared tree. Copying
    // them out walked all of a pass's hits in score order, a cache miss each, on every pass.
    fdirect = fStorage->NullPayloads() == 0;
    if (fdirect) return;
    frows.reserve(static_cast<std::size_t>(count));
    for (int p = count - 1; p >= 0; --p) {
        const psnode<TcvResults> node = fStorage->Items(p);
        if (node && node->data) frows.push_back(node->data);
    }
}

TcvResults* vRenderPanel::RowAt(std::int64_t row) const {
    if (fdirect) return fStorage->Items(frowscount - 1 - static_cast<int>(row))->data;
    return frows[static_cast<std::size_t>(row)];
}

const std::vector<TcvResults*>& vRenderPanel::MemoryOrder() const {
    const int count = Count();
    if (!fmemoryorderready) {
        // Hits are made in insertion order and usually lie in memory in that order, so the pass
        // over all of them for their widths walks insertion order: in score order every hit and
        // text would be a cache miss.
        fmemoryorder.clear();
        fmemoryorder.reserve(static_cast<std::size_t>(count));
        for (int i = 0; fStorage && i < fStorage->Count(); ++i) {
            if (TcvResults* hit = fStorage->Inserted(i)) fmemoryorder.push_back(hit);
        }
        fmemoryorderready = true;
    }
    return fmemoryorder;
}

int vRenderPanel::Count() const {
    if (!fStorage) return 0;
    if (fStorage->Count() != frowscount) RebuildRows();
    return fdirect ? frowscount : static_cast<int>(frows.size());
}

const TcvResults* vRenderPanel::Row(int row) const {
    return row >= 0 && row < Count() ? RowAt(row) : nullptr;
}

QString vRenderPanel::CaptionText(int row) const {
    const TcvResults* r = Row(row);
    if (!r) return {};
    fprefixes.Refresh();
    return fprefixes.Caption(*r);
}

QString vRenderPanel::ExcerptText(int row) const {
    const TcvResults* r = Row(row);
    return r ? FromUtf8(r->excerpt) : QString();
}

QRect vRenderPanel::RowRect(int row) const {
    if (!Row(row)) return {};
    const TPanelLayout layout = Layout();
    return QRect(0, ClampToInt(layout.RowTop(row)), width(), ClampToInt(layout.RowHeight()));
}

int vRenderPanel::RowAt(QPoint point) const {
    if (point.x() < 0 || point.x() >= width()) return -1;
    return static_cast<int>(Layout().RowAtY(point.y()));
}

const vRenderPanel::TStyle& vRenderPanel::Style() const {
    if (!fstyle || fstyle->source != font()) fstyle = std::make_unique<TStyle>(font(), fbuffer);
    return *fstyle;
}

TPanelLayout vRenderPanel::Layout() const {
    const TStyle& style = Style();
    renderpanel::TRowMetrics metrics;
    metrics.firstrow = style.regularmetrics.height() + (fScorePosition ? 14 : 2);
    metrics.captionheight = style.boldmetrics.height();
    metrics.iconheight = fdocicon ? fdocicon->height() : 16;
    metrics.excerptheight = style.italicmetrics.height();
    return TPanelLayout(metrics, Count(), fview.y(), height());
}

int vRenderPanel::ListHeight() const {
    if (!fStorage) return fScorePosition ? 2 : 0;
    return ClampToInt(Layout().ListHeight());
}

int vRenderPanel::ScrollHeight() const {
    return ClampToInt(std::int64_t{ListHeight()} - (fStorage ? fview.y() : 0) + height());
}

int vRenderPanel::RowHeight() const {
    return ClampToInt(Layout().RowHeight());
}

int vRenderPanel::MaxViewY() const {
    return std::max(0, ListHeight() - height());
}

void vRenderPanel::SetUpScrollBar(QScrollBar& bar) const {
    bar.setSingleStep(std::max(1, RowHeight()));
    bar.setPageStep(std::max(1, PageHeight()));
    bar.setRange(0, MaxViewY());
}

// The horizontal view offset a drawing uses: the automatic scroll's when it is on.
int vRenderPanel::ViewX() const {
    if (fStorage && fAutoScroll && fStorage->Count() > 0) {
        const psnode<TcvResults> best = fStorage->Items(fStorage->Count() - 1);
        if (best && best->data) return TScorePosition::AutoScrollX(width(), best->data->Proximity);
    }
    return fview.x();
}

std::int64_t vRenderPanel::RowX(const TcvResults& r, int vx) const {
    return fScorePosition ? TScorePosition(width(), vx).RowX(r.Proximity) : 2 - vx;
}

int vRenderPanel::HitRow(QPoint point) const {
    if (!fStorage) return -1;
    const TStyle& style = Style();
    const int vx = ViewX();
    const int docw = fdocicon ? fdocicon->width() : 0;
    fprefixes.Refresh();
    const TTextWidths& captionwidths = WidthsFor(style.bold);
    return static_cast<int>(Layout().HitAt(point.x(), point.y(), [&](std::int64_t row) {
        const TcvResults& r = *RowAt(row);
        const std::int64_t x = RowX(r, vx);
        return renderpanel::TSpan{x, x + docw + 4 + fprefixes.Width(r, captionwidths)};
    }));
}

const TTextWidths& vRenderPanel::WidthsFor(const QFont& font) const {
    const QString key = FontKey(font, fbuffer);
    for (const auto& [fontkey, widths] : fwidths)
        if (fontkey == key) return *widths;
    // Text size changes make new fonts; old tables are rarely needed again.
    if (fwidths.size() >= 16) fwidths.clear();
    fwidths.emplace_back(key, std::make_unique<TTextWidths>(font, &fbuffer));
    return *fwidths.back().second;
}

int vRenderPanel::ScrollWidth() const {
    UpdateScrollWidth();
    return fscrollwidth;
}

// The extents a drawing of every row would record: every caption (the hot ones underlined) and
// every excerpt at its place.
void vRenderPanel::UpdateScrollWidth() const {
    const int W = width();
    if (!fStorage || W <= 0 || height() <= 0 || Count() == 0) return;
    const TStyle& style = Style();
    if (!fpasswidths.ValidFor(style.passkey))
        fpasswidths.Measure(style.passkey, MemoryOrder(), fprefixes, WidthsFor(style.bold),
                            WidthsFor(style.italic));
    std::int64_t widest = fpasswidths.MaxCaption();
    for (const TcvResults* hot : {static_cast<const TcvResults*>(selected), Current()})
        if (hot)
            widest = std::max<std::int64_t>(
                widest, fprefixes.Width(*hot, WidthsFor(style.underlined)));
    const int vx = ViewX();
    const int docw = fdocicon ? fdocicon->width() : 0;
    const std::int64_t excerpts =
        fScorePosition ? std::int64_t{W} + 2 - vx + docw + 12 +
                             fpasswidths.ScorePositionExcerptMax(
                                 MemoryOrder(), TScorePosition(W, vx), W, style.italicmetrics)
                       : std::int64_t{2} - vx + docw + 12 + fpasswidths.MaxExcerpt();
    widest = std::max(widest, excerpts);
    if (widest > fscrollwidth) fscrollwidth = ClampToInt(widest);
}

void vRenderPanel::DrawPanel() {
    const int W = width();
    const int H = height();
    if (W <= 0 || H <= 0) return;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(W * ratio)),
                       static_cast<int>(std::ceil(H * ratio)));
    if (fbuffer.size() != pixels || fbuffer.devicePixelRatio() != ratio) {
        fbuffer = QImage(pixels, QImage::Format_RGB888);
        fbuffer.setDevicePixelRatio(ratio);
    }
    fprefixes.Refresh();
    const TStyle& style = Style();
    const TPanelLayout layout = Layout();
    // The whole image, also the part of a device pixel that a fractional ratio leaves over.
    fbuffer.fill(fColor);

    QPainter canvas(&fbuffer);
    QColor fontcolour = palette().color(foregroundRole());
    const QColor black(0, 0, 0);
    const QColor shade = Darker(fColor, 20);
    const int docw = fdocicon ? fdocicon->width() : 0;
    const int doch = fdocicon ? fdocicon->height() : 16;
    const int vx = ViewX();
    fview.setX(vx);
    const TScorePosition placement(W, vx);
    if (fScorePosition)
        placement.DrawRuler(canvas, style.regular, style.regularmetrics, H, fontcolour, shade);

    bool rowsdrawn = false;
    if (fStorage) {
        const int hit = HitRow(QPoint(hoverx, hovery));
        selected = hit >= 0 ? RowAt(hit) : nullptr;
        const QColor hottrack = QGuiApplication::palette().color(QPalette::Link);
        const renderpanel::TRowRange drawn = layout.DrawnRows();
        // Widths from the advance tables: measuring each text with Qt would lay it out a second
        // time, which was half of drawing a pass.
        const TTextWidths& captionwidths = WidthsFor(style.bold);
        const TTextWidths& underlinedwidths = WidthsFor(style.underlined);
        const TTextWidths& excerptwidths = WidthsFor(style.italic);
        for (std::int64_t k = drawn.first; k <= drawn.last; ++k) {
            const TcvResults& r = *RowAt(k);
            const std::int64_t top = layout.RowTop(k);
            const int x = ClampToInt(RowX(r, vx));
            if (fdocicon) canvas.drawImage(QPoint(x, ClampToInt(top)), *fdocicon);
            const bool hot = &r == selected || k == fcurrent;
            canvas.setFont(hot ? style.underlined : style.bold);
            renderpanel::TextOut(canvas, hot ? style.underlinedmetrics : style.boldmetrics,
                                 x + docw + 4, top, fprefixes.Caption(r),
                                 fprefixes.Width(r, hot ? underlinedwidths : captionwidths),
                                 hot ? hottrack : black, fColor);
            const std::int64_t excerpttop = top + std::max(doch, style.boldmetrics.height());
            if (BoldOf(r).empty()) {
                canvas.setFont(style.italic);
                renderpanel::TextOut(canvas, style.italicmetrics, x + docw + 12, excerpttop,
                                     FromUtf8(r.excerpt), excerptwidths.Width(r.excerpt), black,
                                     fColor);
            } else {
                DrawExcerpt(canvas, style, x + docw + 12, excerpttop, r, black);
            }
        }
        if (Count() > 0) {
            rowsdrawn = true;
            fontcolour = black;
        }
    }

    // The band over rows scrolled up under the ruler, then the ruler's labels again in bold. The
    // band's height follows the font the rows left behind (italic after any row).
    if (fScorePosition)
        placement.DrawBand(canvas,
                           (rowsdrawn ? style.italicmetrics : style.regularmetrics).height() + 4,
                           style.boldregular, style.boldregularmetrics, fontcolour, shade);

    if (hasFocus()) {
        const QColor focus = palette().color(QPalette::Highlight);
        canvas.fillRect(0, 0, W, kFocusFrame, focus);
        canvas.fillRect(0, H - kFocusFrame, W, kFocusFrame, focus);
        canvas.fillRect(0, 0, kFocusFrame, H, focus);
        canvas.fillRect(W - kFocusFrame, 0, kFocusFrame, H, focus);
    }
}

void vRenderPanel::SetCurrentRow(int row) {
    SetCurrent(row, true);
}

void vRenderPanel::SetCurrent(int row, bool show) {
    const int n = Count();
    const int target = row < 0 || n == 0 ? -1 : std::min(row, n - 1);
    if (target != fcurrent) {
        fcurrent = target;
        update();
        renderpanel::NotifyCurrentMoved(this, fcurrent);
    }
    if (fcurrent < 0 || !show) return;
    const int viewy = ClampToInt(Layout().ViewYShowing(fcurrent));
    if (viewy != fview.y()) emit scrollRequested(viewy);
}

// A key's move, kept inside the list and brought into view.
void vRenderPanel::MoveCurrent(int row) {
    const int n = Count();
    if (n > 0) SetCurrent(std::clamp(row, 0, n - 1), true);
}

void vRenderPanel::paintEvent(QPaintEvent* event) {
    (void)event;
    DrawPanel();
    {
        QPainter screen(this);
        // In bands of a few dozen lines: a larger draw is split by Qt over its thread pool and
        // waited for, a wake-up of another thread per part, which on busy processors can hold
        // the window up for milliseconds. Whole device pixels only: other ratios draw at once.
        constexpr int kBandLines = 64;
        const qreal ratio = fbuffer.devicePixelRatio();
        const int step = static_cast<int>(ratio);
        if (ratio == step && step >= 1) {
            for (int top = 0; top < fbuffer.height(); top += kBandLines * step) {
                const int lines = std::min(kBandLines * step, fbuffer.height() - top);
                screen.drawImage(QRect(0, top / step, fbuffer.width() / step, lines / step),
                                 fbuffer, QRect(0, top, fbuffer.width(), lines));
            }
        } else {
            screen.drawImage(0, 0, fbuffer);
        }
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
    // A clicked hit becomes the current one, so the keyboard goes on from there; the list does
    // not move under the pointer.
    const int row = HitRow(at);
    if (row >= 0) SetCurrent(row, false);
    emit mousePressed(event->button(), at.x(), at.y());
}

void vRenderPanel::keyPressEvent(QKeyEvent* event) {
    const int first = static_cast<int>(Layout().FirstVisibleRow());
    const int page = static_cast<int>(std::min<std::int64_t>(Layout().PageRows(), INT_MAX / 2));
    const bool none = fcurrent < 0;
    switch (event->key()) {
        case Qt::Key_Up:
            MoveCurrent(none ? first : fcurrent - 1);
            break;
        case Qt::Key_Down:
            MoveCurrent(none ? first : fcurrent + 1);
            break;
        case Qt::Key_PageUp:
            MoveCurrent(none ? first : fcurrent - page);
            break;
        case Qt::Key_PageDown:
            MoveCurrent(none ? first : fcurrent + page);
            break;
        case Qt::Key_Home:
            MoveCurrent(0);
            break;
        case Qt::Key_End:
            MoveCurrent(Count() - 1);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (const TcvResults* hit = Current()) emit activated(hit);
            break;
        case Qt::Key_Escape:
            emit escapePressed();
            break;
        default:
            QFrame::keyPressEvent(event);
            return;
    }
    event->accept();
}

void vRenderPanel::wheelEvent(QWheelEvent* event) {
    std::int64_t down;  // pixels
    if (!event->pixelDelta().isNull()) {
        down = -std::int64_t{event->pixelDelta().y()};
    } else {
        // A notch is 120 eighths of a degree and scrolls wheelScrollLines rows; finer wheels add
        // up until they make whole pixels.
        const std::int64_t notch =
            std::int64_t{QApplication::wheelScrollLines()} * std::max(1, RowHeight());
        fwheelremainder += std::int64_t{event->angleDelta().y()} * notch;
        const std::int64_t up = fwheelremainder / 120;
        fwheelremainder -= up * 120;
        down = -up;
    }
    event->accept();
    const int viewy =
        ClampToInt(std::clamp<std::int64_t>(fview.y() + down, 0, std::int64_t{MaxViewY()}));
    if (viewy != fview.y()) emit scrollRequested(viewy);
}

void vRenderPanel::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    // Tabbing in starts at the first hit in view, without moving the list; a click makes its own
    // hit current.
    if (fcurrent < 0 && event->reason() != Qt::MouseFocusReason)
        SetCurrent(static_cast<int>(Layout().FirstVisibleRow()), false);
    else
        renderpanel::NotifyCurrentMoved(this, fcurrent);
    update();
}

void vRenderPanel::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    update();
}

void vRenderPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    emit scrollMetricsChanged();
}

void vRenderPanel::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange) emit scrollMetricsChanged();
}
