#include "ui/widgets/appcursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <optional>

namespace {

int gwaits = 0;
bool ghand = false;

// Sets the one override to what the state asks for.
void Apply() {
    std::optional<Qt::CursorShape> wanted;
    if (gwaits > 0) {
        wanted = Qt::WaitCursor;
    } else if (ghand) {
        wanted = Qt::PointingHandCursor;
    }
    const QCursor* current = QGuiApplication::overrideCursor();
    if (!wanted) {
        if (current) QGuiApplication::restoreOverrideCursor();
    } else if (!current) {
        QGuiApplication::setOverrideCursor(*wanted);
    } else if (current->shape() != *wanted) {
        QGuiApplication::changeOverrideCursor(*wanted);
    }
}

}  // namespace

namespace AppCursor {

void SetHand(bool over) {
    ghand = over;
    Apply();
}

void BeginWait() {
    ++gwaits;
    Apply();
}

void EndWait() {
    if (gwaits > 0) --gwaits;
    Apply();
}

}  // namespace AppCursor
