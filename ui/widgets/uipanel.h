// A plain panel as the windows' layouts use it: it paints its whole area in its own colour (or
// its parent's), may draw a caption, and keeps each child at the distances from its edges that
// the child's anchors name, measured at the panel's design size.
// User-interface thread only.
#pragma once

#include <QColor>
#include <QFrame>
#include <QRect>
#include <QString>
#include <optional>
#include <vector>

class QSplitter;

// Fills splitter with two panes: the first keeps its size when the window resizes, the second
// takes the change, as a pane aligned to one side does beside one that fills the rest.
void SetUpPanes(QSplitter* splitter, QWidget* fixed, QWidget* rest, int fixedSize, int restSize);

enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class TPanel : public QFrame {
    Q_OBJECT

public:
    // designSize: the size at which the children's places are given.
    TPanel(QWidget* parent, QSize designSize);

    // Places child at rect (design coordinates) and keeps it there by anchors.
    void Place(QWidget* child, QRect rect, unsigned anchors = akLeft | akTop);

    // A colour of its own; without one the panel takes its parent's window colour.
    void SetColor(QColor color);
    // A caption drawn left-aligned and vertically centred, as the section headers show it.
    void SetCaption(const QString& caption);
    QString Caption() const { return fcaption; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TPlaced {
        QWidget* child;
        QRect rect;
        unsigned anchors;
    };
    QRect PlaceFor(const TPlaced& placed) const;

    QSize fdesign;
    std::vector<TPlaced> fplaced;
    std::optional<QColor> fcolor;
    QString fcaption;
};
