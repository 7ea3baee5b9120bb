// A label that acts as a link: a click on it, or a screen reader's press, emits activated.
// Screen readers are told it is a link, not text.
//
// Threads: user-interface thread only.
#pragma once

#include <QLabel>

class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    TLinkLabel(const QString& text, QWidget* parent);

signals:
    void activated();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
