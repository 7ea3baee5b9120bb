// The accessible list and its items. Items are made on demand, one per row asked for, and cached
// by row in the list, as Qt's own item views do, so that a screen reader walking a long list
// does not make the same interface twice and the ids it holds stay the same between queries.
#include "textsearch/renderpanel/panelaccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <unordered_map>
#include <utility>

#include "textsearch/renderpanel/vrenderpanel.h"

namespace renderpanel {

namespace {

class TPanelItemAccessible : public QAccessibleInterface {
public:
    TPanelItemAccessible(vRenderPanel* panel, int row) : fpanel(panel), frow(row) {}

    bool isValid() const override { return fpanel && frow >= 0 && frow < fpanel->Count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return fpanel ? fpanel->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return fpanel ? QAccessible::queryAccessibleInterface(fpanel.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        switch (t) {
            case QAccessible::Name:
                return fpanel->CaptionText(frow);
            case QAccessible::Description:
                return fpanel->ExcerptText(frow);
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect area = fpanel->RowRect(frow);
        return QRect(fpanel->mapToGlobal(area.topLeft()), area.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.selectable = true;
        if (frow == fpanel->CurrentRow()) {
            state.selected = true;
            state.focused = fpanel->hasFocus();
        }
        if (!fpanel->RowRect(frow).intersects(fpanel->rect())) state.offscreen = true;
        return state;
    }

    int Row() const { return frow; }
    const vRenderPanel* Panel() const { return fpanel.data(); }

private:
    QPointer<vRenderPanel> fpanel;
    int frow;
};

class TPanelAccessible : public QAccessibleWidget {
public:
    explicit TPanelAccessible(vRenderPanel* panel) : QAccessibleWidget(panel, QAccessible::List) {}
    ~TPanelAccessible() override { DropItems(); }

    int childCount() const override { return Panel()->Count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        const auto found = fitems.find(index);
        if (found != fitems.end()) {
            if (QAccessibleInterface* item = QAccessible::accessibleInterface(found->second))
                return item;
        }
        auto* item = new TPanelItemAccessible(Panel(), index);
        fitems[index] = QAccessible::registerAccessibleInterface(item);
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* item = dynamic_cast<const TPanelItemAccessible*>(child);
        return item && item->Panel() == Panel() && item->isValid() ? item->Row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const int row = Panel()->RowAt(Panel()->mapFromGlobal(QPoint(x, y)));
        return row >= 0 ? child(row) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return Panel()->hasFocus() && Panel()->CurrentRow() >= 0 ? child(Panel()->CurrentRow())
                                                                 : nullptr;
    }

    void DropItems() {
        for (const auto& [row, id] : fitems)
            QAccessible::deleteAccessibleInterface(id);
        fitems.clear();
    }

private:
    vRenderPanel* Panel() const { return static_cast<vRenderPanel*>(widget()); }

    mutable std::unordered_map<int, QAccessible::Id> fitems;
};

TAccessibleEventSink gsink = nullptr;

bool Listened() {
    return gsink || QAccessible::isActive();
}

void Send(QAccessibleEvent& event) {
    if (gsink)
        gsink(&event);
    else
        QAccessible::updateAccessibility(&event);
}

QAccessibleInterface* PanelFactory(const QString& classname, QObject* object) {
    if (classname == QLatin1String(vRenderPanel::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new TPanelAccessible(static_cast<vRenderPanel*>(object));
    return nullptr;
}

}  // namespace

void InstallPanelAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(PanelFactory);
        return true;
    }();
    (void)installed;
}

TAccessibleEventSink SetAccessibleEventSink(TAccessibleEventSink sink) {
    return std::exchange(gsink, sink);
}

void NotifyRowsReplaced(vRenderPanel* panel) {
    // Items are dropped even when no reader listens: one that was asked for once must not go on
    // under the same id as the item of another hit.
    if (auto* list = dynamic_cast<TPanelAccessible*>(QAccessible::queryAccessibleInterface(panel)))
        list->DropItems();
    if (!Listened()) return;
    // Bridges differ in which of the two they act on.
    QAccessibleTableModelChangeEvent reset(panel, QAccessibleTableModelChangeEvent::ModelReset);
    Send(reset);
    QAccessibleEvent reorder(panel, QAccessible::ObjectReorder);
    Send(reorder);
}

void NotifyCurrentMoved(vRenderPanel* panel, int row) {
    if (!Listened() || row < 0) return;
    if (panel->hasFocus()) {
        QAccessibleEvent focus(panel, QAccessible::Focus);
        focus.setChild(row);
        Send(focus);
    }
    QAccessibleEvent selection(panel, QAccessible::Selection);
    selection.setChild(row);
    Send(selection);
}

}  // namespace renderpanel
