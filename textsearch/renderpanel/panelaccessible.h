// What screen readers see of the results panel: a list (QAccessible::List, named by the panel's
// accessible name) whose children are its hits in drawing order (QAccessible::ListItem), each
// named by its caption - score, "%: ", title - and described by its excerpt. The keyboard's
// current hit is the selected item, and the focused one while the panel has the focus.
//
// Ownership: Qt's accessibility cache owns the interfaces. The list keeps the ids of the items it
// made and deletes them when the hits are replaced and when it goes itself; an item refers to its
// panel weakly and to its hit only by row, so a stale item reads as invalid, never as freed memory.
//
// User-interface thread only.
#pragma once

class QAccessibleEvent;
class vRenderPanel;

namespace renderpanel {

// Registers the factory that gives every vRenderPanel its interface; idempotent.
void InstallPanelAccessibility();

// A pass replaced the hits: the items made so far are dropped and screen readers are told that
// the list's children changed.
void NotifyRowsReplaced(vRenderPanel* panel);

// The current hit moved to row (>= 0): it is the selected item and, when the panel has the
// focus, the focused one.
void NotifyCurrentMoved(vRenderPanel* panel, int row);

// Where the panel's events go: to QAccessible::updateAccessibility while accessibility is active
// (a screen reader listens), nowhere otherwise. A test puts a function of its own here to see
// them on any platform; nullptr restores the default. Returns the previous one.
using TAccessibleEventSink = void (*)(QAccessibleEvent* event);
TAccessibleEventSink SetAccessibleEventSink(TAccessibleEventSink sink);

}  // namespace renderpanel
