// The drawing written out step by step as the panel's behaviour is described, with the canvas's
// font, font colour and brush kept as state the way a canvas keeps them.
#include "tests/textsearch/renderpanel/referencedraw.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <cmath>

#include "textsearch/renderpanel/colors.h"
#include "port/localformat.h"
#include "textsearch/renderpanel/vrenderpanel.h"

namespace {

int Round(double v) {
    return static_cast<int>(std::nearbyint(v));
}

struct TCanvas {
    QPainter& painter;
    const QPaintDevice& device;
    QFont font;
    QColor fontcolour;
    QColor brush;
    QColor pen;
    int penwidth = 1;

    QSize Extent(const QString& text) const {
        const QFontMetrics m(font, &device);
        return QSize(m.horizontalAdvance(text), m.height());
    }
    void TextOut(int x, int y, const QString& text) {
        const QFontMetrics m(font, &device);
        painter.fillRect(x, y, m.horizontalAdvance(text), m.height(), brush);
        painter.setFont(font);
        painter.setPen(fontcolour);
        painter.drawText(x, y + m.ascent(), text);
    }
    void Line(int x1, int y1, int x2, int y2) {
        painter.setPen(QPen(pen, penwidth, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(x1, y1, x2, y2);
    }
    void SetStyle(bool bold, bool italic, bool underline) {
        font.setBold(bold);
        font.setItalic(italic);
        font.setUnderline(underline);
    }
};

QString LiteralScoreText(float proximity) {
    QString text = QString::number(std::nearbyint(proximity * 1000.0) / 10, 'g', 15);
    text.replace(QLatin1Char('.'), QLatin1Char(DecimalSeparator()));
    return text;
}

}  // namespace

TReferenceInput ReferenceInputOf(const vRenderPanel& panel, int hoverx, int hovery) {
    TReferenceInput in;
    in.W = panel.width();
    in.H = panel.height();
    in.font = panel.font();
    in.colour = panel.Color();
    in.fontcolour = panel.palette().color(panel.foregroundRole());
    in.scoreposition = panel.ScorePosition();
    in.autoscroll = panel.AutoScroll();
    in.docicon = panel.DocIcon();
    in.storage = panel.Storage();
    in.hoverx = hoverx;
    in.hovery = hovery;
    in.current = panel.Current();
    in.focused = panel.hasFocus();
    in.focuscolour = panel.palette().color(QPalette::Highlight);
    in.ratio = panel.devicePixelRatioF();
    return in;
}

void ReferenceDraw(const TReferenceInput& in, TReferenceState& state) {
    const int W = in.W;
    const int H = in.H;
    const float pixelspercent = static_cast<float>(W) / 100.0f;
    state.buffer = QImage(static_cast<int>(std::ceil(W * in.ratio)),
                          static_cast<int>(std::ceil(H * in.ratio)), QImage::Format_RGB888);
    state.buffer.setDevicePixelRatio(in.ratio);
    // The whole image: a fractional ratio leaves part of a device pixel beyond W x H.
    state.buffer.fill(in.colour);
    QPainter painter(&state.buffer);
    TCanvas canvas{painter, state.buffer, renderpanel::CanvasFont(in.font), in.fontcolour, {}, {}};
    canvas.brush = canvas.pen = in.colour;
    painter.fillRect(0, 0, W, H, canvas.brush);
    const int docw = in.docicon ? in.docicon->width() : 0;
    const int doch = in.docicon ? in.docicon->height() : 16;
    canvas.pen = canvas.brush = Darker(in.colour, 20);
    canvas.SetStyle(false, false, false);
    int& vx = state.view.rx();
    const int vy = state.view.y();
    if (in.storage && in.autoscroll && in.storage->Count() > 0) {
        const TcvResults* best = in.storage->Items(in.storage->Count() - 1)->data;
        vx = W - 2 - Round(double{pixelspercent} * best->Proximity * 100.0);
    }
    int y = 0;
    const auto ruler = [&](bool lines) {
        for (int i = 10; i >= 1; --i) {
            canvas.penwidth = i == 10 ? 3 : 1;
            const int x = W + 2 - Round(i * double{pixelspercent} * 10.0) - vx;
            const QString label = QString::number(i) + "0%";
            canvas.TextOut(x, 2, label);
            y = 2;
            if (!lines) continue;
            const int xmod = canvas.Extent(QString::number(i) + "0").width() / 2;
            canvas.Line(x + xmod, 2 + canvas.Extent(label).height(), x + xmod, H);
        }
    };
    if (in.scoreposition) ruler(true);
    canvas.brush = in.colour;
    if (in.storage) {
        y = canvas.Extent("0123456789").height() + (in.scoreposition ? 14 : 2);
        y -= vy;
        state.selected = nullptr;
        for (int p = in.storage->Count() - 1; p >= 0; --p) {
            const psnode<TcvResults> node = in.storage->Items(p);
            if (!node || !node->data) continue;
            TcvResults* r = node->data;
            const int x = in.scoreposition
                              ? W + 2 - Round(double{pixelspercent} * r->Proximity * 100.0) - vx
                              : 2 - vx;
            if (in.docicon) painter.drawImage(QPoint(x, y), *in.docicon);
            canvas.font.setPointSizeF(canvas.font.pointSizeF() + 1);
            canvas.SetStyle(true, false, false);
            canvas.fontcolour = Qt::black;
            const QString cap =
                LiteralScoreText(r->Proximity) + "%: " + QString::fromUtf8(r->Title);
            const QSize capsize = canvas.Extent(cap);
            if (capsize.width() + x + docw + 4 >= in.hoverx && in.hoverx >= x &&
                capsize.height() + y >= in.hovery && in.hovery >= y)
                state.selected = r;
            if (r == state.selected || r == in.current) {
                canvas.SetStyle(true, false, true);
                canvas.fontcolour = QGuiApplication::palette().color(QPalette::Link);
            }
            canvas.TextOut(x + docw + 4, y, cap);
            canvas.fontcolour = Qt::black;
            if (canvas.Extent(cap).width() > state.scrollwidth)
                state.scrollwidth = canvas.Extent(cap).width();
            canvas.SetStyle(false, false, false);
            y += std::max(doch, canvas.Extent(cap).height());
            canvas.font.setPointSizeF(canvas.font.pointSizeF() - 1);
            canvas.SetStyle(false, true, false);
            const QString excerpt = QString::fromUtf8(r->excerpt);
            if (x + docw + 12 + canvas.Extent(excerpt).width() > state.scrollwidth)
                state.scrollwidth = x + docw + 12 + canvas.Extent(excerpt).width();
            canvas.TextOut(x + docw + 12, y, excerpt);
            y += canvas.Extent(excerpt).height() + 4;
        }
    }
    state.scrollheight = y + H;
    canvas.brush = Darker(in.colour, 20);
    if (in.scoreposition)
        painter.fillRect(0, 0, W, canvas.Extent("100%").height() + 4, canvas.brush);
    canvas.pen = canvas.brush = Darker(in.colour, 20);
    canvas.SetStyle(true, false, false);
    if (in.scoreposition) ruler(false);
    if (in.focused) {
        painter.fillRect(0, 0, W, 2, in.focuscolour);
        painter.fillRect(0, H - 2, W, 2, in.focuscolour);
        painter.fillRect(0, 0, 2, H, in.focuscolour);
        painter.fillRect(W - 2, 0, 2, H, in.focuscolour);
    }
}
