// A literal drawing of the results panel: every step in order, every hit drawn and measured with
// QFontMetrics, positions fetched one by one from the tree. Slow on purpose; the panel's drawing
// must give the same image, selection, scroll height and scroll width. Hit texts are UTF-8.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>

#include "textsearch/searchhit.h"
#include "textsearch/scoretree.h"

class vRenderPanel;

struct TReferenceInput {
    int W = 0;
    int H = 0;
    QFont font;         // the panel's font
    QColor colour;      // the panel's colour
    QColor fontcolour;  // the panel's text colour
    bool scoreposition = false;
    bool autoscroll = false;
    const QImage* docicon = nullptr;
    TScoretree<TcvResults>* storage = nullptr;
    int hoverx = 0;
    int hovery = 0;
    const TcvResults* current = nullptr;  // the keyboard's current hit, drawn as the hovered one
    bool focused = false;                 // the panel has the focus: a frame along its edges
    QColor focuscolour;
    qreal ratio = 1;  // device pixels per logical pixel of the image
};

// What a drawing leaves behind; scrollwidth and view carry over from one drawing to the next.
struct TReferenceState {
    QImage buffer;
    QPoint view;
    int scrollwidth = 0;
    int scrollheight = 0;
    TcvResults* selected = nullptr;
};

// The input as the panel stands (its current hit, focus and pixel ratio too), with the hover
// point the caller last gave it.
TReferenceInput ReferenceInputOf(const vRenderPanel& panel, int hoverx, int hovery);

void ReferenceDraw(const TReferenceInput& in, TReferenceState& state);
