// The application-wide cursor: one override on the application at most, so that the hourglass
// and the hand over a hit never undo each other. The hourglass shows while work the user waits
// for runs (any number of pieces at once), else the hand while the mouse is over a hit, else
// every widget shows its own cursor.
// User-interface thread only.
#pragma once

namespace AppCursor {

// The mouse is over a hit (or no longer is).
void SetHand(bool over);
// One more piece of work the user waits for has begun, or ended.
void BeginWait();
void EndWait();

}  // namespace AppCursor

// The hourglass for one scope.
class TWaitCursor {
public:
    TWaitCursor() { AppCursor::BeginWait(); }
    ~TWaitCursor() { AppCursor::EndWait(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
