#include "ui/widgets/longtask.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <exception>
#include <thread>

namespace {

// The dialog stays away for work that ends in a moment.
constexpr int kShowAfterMs = 400;
constexpr int kPollMs = 50;
// The bar's range; the work's own units can exceed an int.
constexpr int kSteps = 1000;

}  // namespace

void RunLongTask(QWidget* parent, const TLongTask& task,
                 const std::function<void(const TProgress&)>& work) {
    std::atomic<uint64_t> done{0}, total{0};
    std::atomic<bool> cancelled{false}, finished{false};
    std::exception_ptr failure;

    const TProgress progress = [&](uint64_t d, uint64_t t) {
        done.store(d);
        total.store(t);
        return !cancelled.load();
    };
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        finished.store(true);
    });

    QProgressDialog dialog(task.label, task.cancellable ? QObject::tr("Cancel") : QString(), 0,
                           kSteps, parent);
    dialog.setWindowTitle(task.title);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(kShowAfterMs);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished.load()) {
            loop.quit();
            return;
        }
        const uint64_t t = total.load();
        if (t == 0) {
            dialog.setMaximum(0);  // a busy bar until the work knows its size
        } else {
            dialog.setMaximum(kSteps);
            dialog.setValue(static_cast<int>(std::min<uint64_t>(done.load(), t) * kSteps / t));
        }
    });
    QObject::connect(&dialog, &QProgressDialog::canceled, &loop, [&] {
        cancelled.store(true);
        dialog.setLabelText(QObject::tr("Cancelling..."));
    });
    poll.start(kPollMs);
    if (!finished.load()) loop.exec();
    poll.stop();
    worker.join();
    dialog.close();
    if (failure) std::rethrow_exception(failure);
}
