#include "ui/widgets/uipanel.h"

#include <QPaintEvent>
#include <QPainter>
#include <QSplitter>

void SetUpPanes(QSplitter* splitter, QWidget* fixed, QWidget* rest, int fixedSize, int restSize) {
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(fixed);
    splitter->addWidget(rest);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({fixedSize, restSize});
}

TPanel::TPanel(QWidget* parent, QSize designSize) : QFrame(parent), fdesign(designSize) {
    resize(designSize);
    // The panel fills every pixel itself in paintEvent.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPanel::Place(QWidget* child, QRect rect, unsigned anchors) {
    child->setParent(this);
    fplaced.push_back(TPlaced{child, rect, anchors});
    child->setGeometry(PlaceFor(fplaced.back()));
}

void TPanel::SetColor(QColor color) {
    fcolor = color;
    update();
}

void TPanel::SetCaption(const QString& caption) {
    fcaption = caption;
    update();
}

QRect TPanel::PlaceFor(const TPlaced& p) const {
    const int dw = width() - fdesign.width();
    const int dh = height() - fdesign.height();
    QRect r = p.rect;
    // Anchored to both sides: stretch; to the far side only: move; otherwise stay.
    if ((p.anchors & akLeft) && (p.anchors & akRight))
        r.setWidth(r.width() + dw);
    else if (p.anchors & akRight)
        r.moveLeft(r.left() + dw);
    if ((p.anchors & akTop) && (p.anchors & akBottom))
        r.setHeight(r.height() + dh);
    else if (p.anchors & akBottom)
        r.moveTop(r.top() + dh);
    return r;
}

void TPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    for (const TPlaced& p : fplaced)
        p.child->setGeometry(PlaceFor(p));
}

void TPanel::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Without a colour of its own the panel shows the window colour it inherits.
    const QColor color = fcolor ? *fcolor : palette().color(QPalette::Window);
    painter.fillRect(event->rect(), color);
    if (!fcaption.isEmpty()) {
        painter.setPen(Qt::black);
        painter.setFont(font());
        painter.drawText(rect().adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, fcaption);
    }
    QFrame::paintEvent(event);
}
