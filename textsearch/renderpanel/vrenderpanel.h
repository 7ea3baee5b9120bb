// vRenderPanel: the custom-drawn list of search hits. Each hit takes two lines, a bold caption
// (score in per cent and title) and an italic excerpt below it, best hit first. The panel draws
// into an off-screen 24-bit image at the screen's pixel ratio and copies it to the screen.
//
// Pointing: Hover stores a point for the next drawing, which marks the hit whose caption lies
// under it and underlines it in the hot-track colour; Hover hands that hit back on its next call.
// HitAt answers the same question at once, without drawing. Keyboard: the panel takes the focus
// (Tab, click) and keeps a current hit, drawn as the hovered one is; arrows, page keys, Home and
// End move it, Enter or Space activate it, Esc asks to leave; while the panel has the focus a
// frame in the palette's highlight colour runs along its edges. Besides this ranked layout there is
// a score-position layout that places every hit horizontally by its score under a per-cent ruler
// (scoreposition.h). Screen readers see a list whose items are the hits (panelaccessible.h).
//
// Scrolling: the panel is scrolled by its owner through SetViewPoint. It tells its owner what a
// scroll bar needs (ListHeight, RowHeight, PageHeight; SetUpScrollBar does it all, and
// scrollMetricsChanged says when to do it again) and asks for the view offsets it wants by
// scrollRequested: the wheel (QApplication::wheelScrollLines rows a notch) and a current hit
// moved out of view. The owner applies them, typically by setting its scroll bar's value.
//
// Ownership: the panel owns its off-screen image and its per-pass caches only. Storage (the score
// tree) and the hits it refers to belong to the caller, as does DocIcon. The caches hold pointers
// to the current hits; they are dropped by StorageChanged, which the owner of the tree calls after
// every change of the tree or its hits and before the next paint, and by SetStorage.
//
// Texts: a hit's Title and excerpt are UTF-8.
//
// Thread safety: a widget; every member is for the user-interface thread only.
//
// Cost: a repaint draws and measures only the rows near the view; the list's geometry is
// arithmetic (panellayout.h) and the hit test finds its row by division. The widest caption and
// excerpt (ScrollWidth) are measured when asked for, once per pass and font.
#pragma once

#include <QFrame>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "textsearch/bestmatch/bestrow.h"
#include "textsearch/searchhit.h"
#include "textsearch/renderpanel/panellayout.h"
#include "textsearch/renderpanel/passwidths.h"
#include "textsearch/renderpanel/textwidths.h"
#include "textsearch/scoretext.h"
#include "textsearch/scoretree.h"

class QScrollBar;

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
    // The hit whose caption contains the point (panel client coordinates, borders included), as
    // the next drawing would find it; null for none. Does not draw.
    TcvResults* HitAt(QPoint point) const;

    // Height of the whole list measured from the current view offset: the first pixel row below
    // the last hit plus the panel's height.
    int ScrollHeight() const;
    // Widest caption or excerpt extent of the list as it stands (measured when asked, once per
    // pass, font and layout) and of every state it was asked in before; never decreases.
    int ScrollWidth() const;
    // Sets the view offset and schedules a repaint.
    void Scroll(int x, int y);
    QPoint ScrollPos() const { return fview; }

    QPoint ViewPoint() const { return fview; }
    void SetViewPoint(QPoint ViewPoint) { fview = ViewPoint; }

    // What a vertical scroll bar over the list needs. ListHeight: the list's whole height,
    // whatever the view offset (rows and the space above them); RowHeight: one row, the arrow
    // step; PageHeight: the panel's height, the page step and the thumb's share; MaxViewY: the
    // offset that shows the last row at the bottom, max(0, ListHeight - PageHeight).
    int ListHeight() const;
    int RowHeight() const;
    int PageHeight() const { return height(); }
    int MaxViewY() const;
    // Range 0..MaxViewY, page step PageHeight, single step RowHeight. Run it again on
    // scrollMetricsChanged. A position beyond the new maximum moves back to it.
    void SetUpScrollBar(QScrollBar& bar) const;

    // Score-position layout (ruler, band, hits placed by score); on after construction.
    bool ScorePosition() const { return fScorePosition; }
    void SetScorePosition(bool ScorePosition);
    // Scrolls horizontally so that the best hit starts at the left edge (score-position layout).
    bool AutoScroll() const { return fAutoScroll; }
    void SetAutoScroll(bool AutoScroll);
    // Optional icon drawn left of every caption; not owned.
    const QImage* DocIcon() const { return fdocicon; }
    void SetDocIcon(const QImage* DocIcon);

    // The hits to draw; not owned; may be null. Setting it drops the per-pass caches and the
    // bold words.
    TScoretree<TcvResults>* Storage() const { return fStorage; }
    void SetStorage(TScoretree<TcvResults>* Storage);
    // Words to draw bold in the excerpts (Best match's matched words): bold[i] holds the byte
    // ranges, in order, of the excerpt of hits[i], where hits is the array the tree's hits lie
    // in. Not owned; kept until the next SetStorage. A hit outside hits has none.
    void SetBold(std::span<const TcvResults> hits, std::span<const std::vector<TBoldRange>> bold);
    // REQUIRES: called after the tree or its hits have changed, before the next paint. Drops
    // every pointer into the previous hits, including the selected one. The current hit becomes
    // the best hit when the panel has the focus, none otherwise.
    void StorageChanged();

    // The hits in drawing order (row 0 = best hit). Rows are built from Storage on demand.
    int Count() const;
    const TcvResults* Row(int row) const;
    // A row's caption as drawn, its excerpt, and its area in panel client coordinates (caption
    // and excerpt across the panel's width).
    QString CaptionText(int row) const;
    QString ExcerptText(int row) const;
    QRect RowRect(int row) const;
    // The row whose area contains the point, or -1.
    int RowAt(QPoint point) const;

    // The keyboard's current hit: a row, or -1 for none.
    int CurrentRow() const { return fcurrent; }
    const TcvResults* Current() const { return Row(fcurrent); }
    // Moves the current hit (clamped to the rows; -1 for none), repaints, tells screen readers
    // and asks for the view offset that shows it (scrollRequested).
    void SetCurrentRow(int row);

    // Background colour; cream after construction.
    QColor Color() const { return fColor; }
    void SetColor(const QColor& Color);

    // Draws the list into the off-screen image (hit test and all) without waiting for the panel
    // to be painted on screen, which a hidden or minimised window is not.
    void DrawPanel();

    // The off-screen image of the last drawing (24 bits per pixel, at the widget's pixel ratio:
    // devicePixelRatio() tells it; its logical size is the panel's).
    const QImage& BufferBitmap() const { return fbuffer; }

    // The score as the caption writes it: Round(Proximity * 1000) / 10 (halves to even) in the
    // shortest general form with the user's decimal separator: 0.87549 -> "87.5", 1 -> "100".
    static std::string ScoreText(float Proximity) { return ::ScoreText(Proximity); }

signals:
    // After every drawing, with the panel as sender.
    void OnPaint(vRenderPanel* Sender);
    void OnMouseEnter(vRenderPanel* Sender);
    void OnMouseLeave(vRenderPanel* Sender);
    // The panel's own mouse events, in panel client coordinates.
    void mouseMoved(int x, int y);
    void mousePressed(Qt::MouseButton button, int x, int y);
    // Enter or Space on the current hit: open it, as a click on it does.
    void activated(const TcvResults* hit);
    // Esc: the user wants to leave the list.
    void escapePressed();
    // The view offset the panel wants (0..MaxViewY): after a wheel turn, or to show the current
    // hit. The owner applies it (SetViewPoint and a repaint, or its scroll bar's value).
    void scrollRequested(int viewy);
    // ListHeight, RowHeight, PageHeight or MaxViewY may have changed (new hits, size, font,
    // layout): a scroll bar set up by SetUpScrollBar wants setting up again.
    void scrollMetricsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct TStyle;  // the fonts of one widget font and their metrics

    void DropRows() const;
    void RebuildRows() const;
    // The hit of row `row` (0 = best). REQUIRES: 0 <= row < Count().
    TcvResults* RowAt(std::int64_t row) const;
    // The rows' hits in insertion order (the order the pass over all widths walks), made when
    // first asked for after a change.
    const std::vector<TcvResults*>& MemoryOrder() const;
    const TStyle& Style() const;
    renderpanel::TPanelLayout Layout() const;
    int ViewX() const;
    std::int64_t RowX(const TcvResults& r, int vx) const;
    int HitRow(QPoint point) const;
    void UpdateScrollWidth() const;
    // The bold ranges of a hit's excerpt; empty for none.
    std::span<const TBoldRange> BoldOf(const TcvResults& r) const;
    // Draws an excerpt in italics, its bold ranges in bold italics.
    void DrawExcerpt(QPainter& canvas, const TStyle& style, int x, std::int64_t top,
                     const TcvResults& r, const QColor& colour) const;
    const renderpanel::TTextWidths& WidthsFor(const QFont& font) const;
    void SetCurrent(int row, bool show);
    void MoveCurrent(int row);
    void NotifyCurrent() const;

    QImage fbuffer;
    TScoretree<TcvResults>* fStorage = nullptr;
    std::span<const TcvResults> fboldHits;
    std::span<const std::vector<TBoldRange>> fbold;
    QPoint fview{0, 0};
    const QImage* fdocicon = nullptr;
    int hoverx = 0;
    int hovery = 0;
    TcvResults* selected = nullptr;
    int fcurrent = -1;
    int fwheelremainder = 0;  // eighths of a degree of wheel turn not yet scrolled
    bool fAutoScroll = false;
    bool fScorePosition = true;
    QColor fColor;

    // Caches, filled on demand by const readers too. Invariant, as of the last StorageChanged:
    // frowscount is fStorage->Count(), or -1 when the rows must be made again; when every node
    // of fStorage has a hit (fdirect), row r is the hit at position Count() - 1 - r of the
    // prepared tree, read there (a constant-time read) rather than copied out for every pass;
    // otherwise frows holds the non-null hits in drawing order (best first).
    mutable bool fdirect = false;
    mutable std::vector<TcvResults*> frows;
    // The same hits in insertion order; fmemoryorderready when made since the last change.
    mutable std::vector<TcvResults*> fmemoryorder;
    mutable bool fmemoryorderready = false;
    mutable int frowscount = -1;
    mutable std::unique_ptr<TStyle> fstyle;
    mutable renderpanel::TCaptionPrefixes fprefixes;
    mutable renderpanel::TPassWidths fpasswidths;
    mutable int fscrollwidth = 0;
    // Width tables by font key; they depend on the font only, not on the pass.
    mutable std::vector<std::pair<QString, std::unique_ptr<renderpanel::TTextWidths>>> fwidths;
};
