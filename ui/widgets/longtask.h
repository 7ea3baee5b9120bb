// A long piece of work (a backup, an export, an import, a copy to the server) run on a thread of
// its own while the user-interface thread shows its progress, so the window keeps painting and
// the user can cancel. The work is given a TProgress to report through; a progress dialog with
// Cancel appears when the work takes more than a moment, and the call returns when the work has
// ended, however it ended.
//
// Threads: call on the user-interface thread. The work runs on its own thread and must not
// touch any widget.
#pragma once

#include <QString>
#include <functional>

#include "core/store/knowledgestore.h"

class QWidget;

struct TLongTask {
    QString title;  // the dialog's caption
    QString label;  // what is being done, above the bar
    bool cancellable = true;
};

// Runs work and waits for it, showing task's dialog over parent while it runs. Raises what work
// raised. The dialog's Cancel makes the progress given to work return false from then on.
void RunLongTask(QWidget* parent, const TLongTask& task,
                 const std::function<void(const TProgress&)>& work);
