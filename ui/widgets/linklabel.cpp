#include "ui/widgets/linklabel.h"

#include <QAccessibleWidget>
#include <QMouseEvent>

namespace {

class TLinkAccessible : public QAccessibleWidget {
public:
    explicit TLinkAccessible(TLinkLabel* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        QString value = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && value.isEmpty())
            value = static_cast<const TLinkLabel*>(object())->text();
        return value;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            emit static_cast<TLinkLabel*>(object())->activated();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* LinkFactory(const QString& classname, QObject* object) {
    if (classname == QLatin1String(TLinkLabel::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new TLinkAccessible(static_cast<TLinkLabel*>(object));
    return nullptr;
}

}  // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    static const bool installed = [] {
        QAccessible::installFactory(LinkFactory);
        return true;
    }();
    (void)installed;
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit activated();
}
