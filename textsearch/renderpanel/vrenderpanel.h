// vRenderPanel: the custom-drawn list of search hits. Each hit takes two lines, a bold caption
// (score in per cent and title) and an italic excerpt below it, best hit first. The panel draws
// into an off-screen 24-bit image and copies it to the screen; while drawing it hit-tests the last
// point given to Hover and marks the hit whose caption lies under it, which it underlines in the
// hot-track colour and which Hover hands back on its next call. Besides this ranked layout there is
// a score-position layout that places every hit horizontally by its score under a per-cent ruler.
//
// Ownership: the panel owns its off-screen image and its per-pass caches only. Storage (the score
// tree) and the hits it refers to belong to the caller, as does DocIcon. The caches hold pointers
// to the current hits; they are dropped by StorageChanged, which the owner of the tree calls after
// every change of the tree or its hits and before the next paint, and by SetStorage.
//
// Thread safety: a widget; every member is for the user-interface thread only.
//
// Cost: a repaint draws and measures only the rows near the view. The whole list's height is
// arithmetic (every row has the same height), the hit test finds its row by division, and the
// widest caption and excerpt of a pass are measured once per pass and font with TTextWidths.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "searchhit.h"
#include "textsearch/scoretree.h"

namespace renderpanel {

// The Windows-1252 text of a hit as a QString: bytes 0x80-0x9F through the code page's table
// (undefined bytes keep their C1 code points, as the code page's own conversion does), every other
// byte as Latin-1.
QString FromWindows1252(std::string_view text);

// The font the panel draws and measures with for a given widget font: the same face and size
// with kerning and optional shaping (ligatures) switched off, so that the width of a text is the
// sum of the widths of its characters and can be computed without laying every text out.
QFont CanvasFont(const QFont& font);

// Exact text widths for one font on one paint device, computed from per-character advances.
// Width(text) equals QFontMetrics(font, device).horizontalAdvance(FromWindows1252(text)).
// A tab's advance depends on where it starts, so for a text with tabs Advance64 gives up (with
// an upper bound on request) and Width measures the whole text with QFontMetrics. A font for
// which the per-character sums do not reproduce QFontMetrics on probe texts is measured with
// QFontMetrics throughout.
//
// Thread safety: immutable after construction; used on the user-interface thread.
class TTextWidths {
public:
    // REQUIRES: font is a CanvasFont. The device only supplies its resolution.
    TTextWidths(const QFont& font, const QPaintDevice* device);

    // Sum of the advances of the characters of text in 1/64 pixel, or -1 when the sum would not
    // be its width (a tab, an unsuitable font). Then *upperbound64, if given, receives a bound on
    // the width in 1/64 pixel, or -1 when there is none.
    std::int64_t Advance64(std::string_view text, std::int64_t* upperbound64 = nullptr) const;

    // A width in 1/64 pixel rounded to whole pixels the way the layout engine rounds it.
    static int Round64(std::int64_t advance64) { return static_cast<int>((advance64 + 32) >> 6); }

    // Width in pixels of text.
    int Width(std::string_view text) const;

    const QFontMetrics& Metrics() const { return fmetrics; }
    bool Additive() const { return fadditive; }

private:
    static constexpr std::uint64_t kNotAdditive = std::uint64_t{1} << 40;

    QFontMetrics fmetrics;
    // Advance of every byte in 1/64 pixel; kNotAdditive for the tab, so that one table look-up a
    // byte both sums the widths and counts the tabs.
    std::array<std::uint64_t, 256> fadvance{};
    std::int64_t ftab64 = 0;  // tab stop distance in 1/64 pixel; 0 if unknown
    bool fadditive = false;
};

}  // namespace renderpanel

class vRenderPanel : public QFrame {
    Q_OBJECT

public:
    explicit vRenderPanel(QWidget* Owner = nullptr);
    ~vRenderPanel() override;
    vRenderPanel(const vRenderPanel&) = delete;
    vRenderPanel& operator=(const vRenderPanel&) = delete;

    // Stores the point (panel client coordinates) for the next drawing's hit test and returns the
    // hit that the last drawing found under the point stored before; neither draws nor hit-tests.
    TcvResults* Hover(int x, int y);

    // Height of the whole list as the last drawing laid it out, measured from the current view
    // offset: the first pixel row below the last hit plus the panel's height.
    int ScrollHeight() const { return fscrollheight; }
    // Widest caption or excerpt extent that any drawing so far has laid out; never decreases.
    int ScrollWidth() const { return fscrollwidth; }
    // Sets the view offset and schedules a repaint.
    void Scroll(int x, int y);
    QPoint ScrollPos() const { return fview; }

    QPoint ViewPoint() const { return fview; }
    void SetViewPoint(QPoint ViewPoint) { fview = ViewPoint; }

    // Score-position layout (ruler, band, hits placed by score); on after construction.
    bool ScorePosition() const { return fScorePosition; }
    void SetScorePosition(bool ScorePosition);
    // Scrolls horizontally so that the best hit starts at the left edge (score-position layout).
    bool AutoScroll() const { return fAutoScroll; }
    void SetAutoScroll(bool AutoScroll);
    // Optional icon drawn left of every caption; not owned.
    const QImage* DocIcon() const { return fdocicon; }
    void SetDocIcon(const QImage* DocIcon);

    // The hits to draw; not owned; may be null. Setting it drops the per-pass caches.
    TScoretree<TcvResults>* Storage() const { return fStorage; }
    void SetStorage(TScoretree<TcvResults>* Storage);
    // REQUIRES: called after the tree or its hits have changed, before the next paint. Drops
    // every pointer into the previous hits, including the selected one.
    void StorageChanged();

    // Background colour; cream after construction.
    QColor Color() const { return fColor; }
    void SetColor(const QColor& Color);

    // Draws the list into the off-screen image (hit test, scroll extents and all) without
    // waiting for the panel to be painted on screen, which a hidden or minimised window is not.
    void DrawPanel();

    // The off-screen image of the last drawing (24 bits per pixel).
    const QImage& BufferBitmap() const { return fbuffer; }

    // The score as the caption writes it: Round(Proximity * 1000) / 10 (halves to even) in the
    // shortest general form with the user's decimal separator: 0.87549 -> "87.5", 1 -> "100".
    static std::string ScoreText(float Proximity);

signals:
    // After every drawing, with the panel as sender.
    void OnPaint(vRenderPanel* Sender);
    void OnMouseEnter(vRenderPanel* Sender);
    void OnMouseLeave(vRenderPanel* Sender);
    // The panel's own mouse events, in panel client coordinates.
    void mouseMoved(int x, int y);
    void mousePressed(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // A text not measured yet, by its hit's place in fmemoryorder, with a bound on its width.
    struct TBound {
        std::size_t row;
        std::int64_t bound;  // pixels; INT64_MAX when there is no bound
    };
    static constexpr int kUnmeasured = -1;
    // Widest texts of the current pass in one pair of fonts.
    struct TPassWidths {
        QString fontkey;     // bold and italic font keys of the widths; empty: not valid
        int maxcaption = 0;  // widest caption (bold)
        int maxexcerpt = 0;  // widest excerpt (italic)
        // Per hit of fmemoryorder, for the score-position layout; kUnmeasured for the excerpts
        // listed in `unmeasured`, whose bounds showed they cannot be the widest in this layout.
        std::vector<int> excerptwidths;
        std::vector<TBound> unmeasured;
        int scorewidth = -1;        // panel width the next value belongs to; -1: none
        std::int64_t scoremax = 0;  // max over rows of excerpt width - score offset, at scorewidth
    };

    void RebuildRows();
    const renderpanel::TTextWidths& WidthsFor(const QFont& font);
    const TPassWidths& PassWidths(const QFont& bold, const QFont& italic);
    std::int64_t ScorePositionExcerptMax(float pixelspercent, int W, const QFontMetrics& italic);
    const std::string& CaptionPrefix(float Proximity);
    QString Caption(const TcvResults& r);

    QImage fbuffer;
    TScoretree<TcvResults>* fStorage = nullptr;
    QPoint fview{0, 0};
    const QImage* fdocicon = nullptr;
    int hoverx = 0;
    int hovery = 0;
    TcvResults* selected = nullptr;
    int fscrollheight = 0;
    int fscrollwidth = 0;
    bool fAutoScroll = false;
    bool fScorePosition = true;
    QColor fColor;

    // Per-pass caches. Invariant: frows holds the non-null hits of fStorage in drawing order
    // (best first) as of the last StorageChanged; frowscount is fStorage->Count() then, or -1 when
    // the rows must be rebuilt.
    std::vector<TcvResults*> frows;
    // The same hits in insertion order (the order the pass over all widths walks).
    std::vector<TcvResults*> fmemoryorder;
    int frowscount = -1;
    std::unique_ptr<TPassWidths> fpasswidths;
    // Scratch of PassWidths, kept to reuse its memory.
    std::vector<TBound> fpendingcaptions;
    std::vector<std::int64_t> fprefixadvance;
    // Caption prefixes ("87.5%: ") by Round(Proximity * 1000), made with fprefixseparator.
    std::vector<std::string> fprefixes;
    char fprefixseparator = 0;
    std::string fscratchprefix;  // prefix of a score outside 0..1000
    // Width tables by font key; they depend on the font only, not on the pass.
    std::map<QString, std::unique_ptr<renderpanel::TTextWidths>> fwidths;
};
