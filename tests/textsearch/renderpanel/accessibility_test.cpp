// What a screen reader gets from the panel through Qt's accessibility interfaces: a named list
// whose items are the hits, the current one focused and selected, items that never outlive the
// hits they name, and the events that say when the hits are replaced and the current hit moves.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QKeyEvent>
#include <vector>

#include "tests/textsearch/renderpanel/panelfixture.h"
#include "textsearch/renderpanel/panelaccessible.h"

namespace {

using AccessibilityTest = PanelTest;

void Down(vRenderPanel& panel) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(&panel, &down);
}

TEST_F(AccessibilityTest, TheListNamesItsHitsAndMarksTheCurrentOne) {
    hits.Add(0.5f, "Mail stuck...", "Clear the outbox");
    hits.Add(0.9f, "Drucker \xE2\x80\x93 offline...", "Restart the spooler service");
    panel->StorageChanged();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(panel.get());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("Similar Problems/Solutions"));
    EXPECT_FALSE(list->text(QAccessible::Description).isEmpty());
    EXPECT_TRUE(list->state().focusable);
    ASSERT_EQ(list->childCount(), 2);

    QAccessibleInterface* best = list->child(0);
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(best->role(), QAccessible::ListItem);
    EXPECT_EQ(best->text(QAccessible::Name), QString::fromUtf8("90%: Drucker \u2013 offline..."));
    EXPECT_EQ(best->text(QAccessible::Description), QStringLiteral("Restart the spooler service"));
    EXPECT_EQ(best->parent(), list);
    EXPECT_EQ(list->child(0), best);  // the same interface each time
    EXPECT_EQ(list->indexOfChild(list->child(1)), 1);
    EXPECT_EQ(list->child(2), nullptr);
    // Where the second hit is on screen, the second item is.
    const QRect second = list->child(1)->rect();
    EXPECT_EQ(second.topLeft(), panel->mapToGlobal(panel->RowRect(1).topLeft()));
    EXPECT_EQ(list->childAt(second.center().x(), second.center().y()), list->child(1));
    EXPECT_FALSE(best->state().selected);
    EXPECT_EQ(list->focusChild(), nullptr);

    // Tab in: the best hit is current, focused and selected.
    Focus();
    EXPECT_TRUE(best->state().focused);
    EXPECT_TRUE(best->state().selected);
    EXPECT_FALSE(list->child(1)->state().selected);
    EXPECT_EQ(list->focusChild(), best);
    Down(*panel);
    EXPECT_TRUE(list->child(1)->state().focused);
    EXPECT_TRUE(list->child(1)->state().selected);
    EXPECT_FALSE(best->state().selected);
    // Away from the list the current hit stays selected, no longer focused.
    editor->setFocus();
    EXPECT_TRUE(list->child(1)->state().selected);
    EXPECT_FALSE(list->child(1)->state().focused);
}

TEST_F(AccessibilityTest, ItemsOutliveNeitherTheirHitsNorTheirPanel) {
    AddVariedHits(hits, 30, 14);
    panel->StorageChanged();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(panel.get());
    ASSERT_EQ(list->childCount(), 30);
    const QAccessible::Id old = QAccessible::uniqueId(list->child(29));

    hits.Clear();
    AddVariedHits(hits, 5, 15);
    panel->StorageChanged();
    EXPECT_EQ(QAccessible::accessibleInterface(old), nullptr);  // the item a reader held is gone
    ASSERT_EQ(list->childCount(), 5);
    EXPECT_EQ(list->child(4)->text(QAccessible::Name), panel->CaptionText(4));
    EXPECT_EQ(list->child(4)->text(QAccessible::Description), panel->ExcerptText(4));

    const QAccessible::Id last = QAccessible::uniqueId(list->child(0));
    panel.reset();
    EXPECT_EQ(QAccessible::accessibleInterface(last), nullptr);
}

// The events are seen through the panel's event sink, which on a desktop hands them to the
// platform's accessibility bridge (the offscreen platform has none).
struct TEventSeen {
    QAccessible::Event type;
    int child;
    bool reset;
};
std::vector<TEventSeen> gEvents;

TEST_F(AccessibilityTest, EventsTellOfNewHitsAndOfTheCurrentOne) {
    struct TSink {
        renderpanel::TAccessibleEventSink previous =
            renderpanel::SetAccessibleEventSink([](QAccessibleEvent* event) {
                gEvents.push_back(
                    {event->type(), event->child(),
                     event->type() == QAccessible::TableModelChanged &&
                         static_cast<QAccessibleTableModelChangeEvent*>(event)->modelChangeType() ==
                             QAccessibleTableModelChangeEvent::ModelReset});
            });
        ~TSink() { renderpanel::SetAccessibleEventSink(previous); }
    } sink;
    const auto seen = [](QAccessible::Event type, int child) {
        for (const TEventSeen& e : gEvents)
            if (e.type == type && e.child == child) return true;
        return false;
    };

    AddVariedHits(hits, 10, 18);
    gEvents.clear();
    panel->StorageChanged();
    bool reset = false;
    for (const TEventSeen& e : gEvents)
        reset |= e.reset;
    EXPECT_TRUE(reset);
    EXPECT_TRUE(seen(QAccessible::ObjectReorder, -1));
    EXPECT_FALSE(seen(QAccessible::Selection, 0));  // the list has no focus: no current hit

    Focus();
    EXPECT_TRUE(seen(QAccessible::Focus, 0));
    EXPECT_TRUE(seen(QAccessible::Selection, 0));
    gEvents.clear();
    Down(*panel);
    EXPECT_TRUE(seen(QAccessible::Focus, 1));
    EXPECT_TRUE(seen(QAccessible::Selection, 1));
    // A new pass while the list has the focus brings the reader to the best hit.
    gEvents.clear();
    panel->StorageChanged();
    EXPECT_TRUE(seen(QAccessible::Focus, 0));
    // Away from the list, the current hit moves without taking the reader's focus.
    editor->setFocus();
    gEvents.clear();
    panel->SetCurrentRow(3);
    EXPECT_TRUE(seen(QAccessible::Selection, 3));
    EXPECT_FALSE(seen(QAccessible::Focus, 3));
}

}  // namespace
