// The work queue and its worker. Push and Pop hold the queue lock for one list operation each.
// The worker loop clears its wake-up flag, tries one Pop, and then either hands the item to the
// handler (and at once tries again), waits for the next Push's wake-up when the queue was empty,
// or retries after 10 ms when the lock was not obtained. Clearing the flag before looking at the
// queue means a Push that lands after the look always finds the worker about to be woken. The
// handler's exceptions of the system's base class, and other std::exceptions, are dropped.
#include "textsearch/helix.h"

#include <chrono>
#include <exception>
#include <utility>

#include "port/errors.h"

namespace {
constexpr int kQueueLockTimeoutMs = 3000;
constexpr std::chrono::milliseconds kNoLockRetry{10};
}  // namespace

THelixThread::~THelixThread() {
    Terminate();
    WaitFor();
}

void THelixThread::Start() {
    fthread = std::thread([this] { Execute(); });
}

void THelixThread::Terminate() {
    {
        std::lock_guard<std::mutex> guard(fsignalmutex);
        fterminated = true;
    }
    fsignal.notify_all();
}

void THelixThread::WaitFor() {
    if (fthread.joinable() && fthread.get_id() != std::this_thread::get_id())
        fthread.join();
}

void THelixThread::Wake() {
    {
        std::lock_guard<std::mutex> guard(fsignalmutex);
        fwoken = true;
    }
    fsignal.notify_one();
}

void THelixThread::ClearWake() {
    std::lock_guard<std::mutex> guard(fsignalmutex);
    fwoken = false;
}

void THelixThread::Idle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(fsignalmutex);
    const auto signalled = [this] { return fwoken || fterminated; };
    if (limit.count() > 0)
        fsignal.wait_for(guard, limit, signalled);
    else
        fsignal.wait(guard, signalled);
}

bool THelixThread::Terminated() {
    std::lock_guard<std::mutex> guard(fsignalmutex);
    return fterminated;
}

void THelixThread::Execute() {
    while (!Terminated()) {
        ClearWake();
        TObject* item = nullptr;
        switch (fhelix.TryPop(kQueueLockTimeoutMs, item)) {
            case THelix::TPopResult::Item:
                Process(item);
                break;
            case THelix::TPopResult::Empty:
                Idle(std::chrono::milliseconds::zero());
                break;
            case THelix::TPopResult::NoLock:
                Idle(kNoLockRetry);
                break;
        }
    }
}

void THelixThread::Process(TObject* item) {
    const TOnProcessWorkItem handler = fhelix.OnProcessWorkItem();
    auto* processor = dynamic_cast<THelixProcessor*>(item);
    try {
        if (handler)
            handler(fhelix, processor ? processor->WorkItem : item);
    } catch (const Exception&) {
        // Dropped by design: the worker has nowhere to report to.
    } catch (const std::exception&) {
    }
    if (processor) {
        // Set even when the handler threw or the lock is not obtained: the producer must learn
        // that its item is done either way.
        TLockGuard guard(processor->lock, kQueueLockTimeoutMs);
        processor->ready.store(true);
    }
}

THelix::THelix() {
    finternalthread = std::make_unique<THelixThread>(*this);
    finternalthread->Start();
}

THelix::~THelix() {
    Stop();
}

bool THelix::Push(TObject* WorkItem) {
    {
        TLockGuard guard(flock, kQueueLockTimeoutMs);
        if (!guard)
            return false;
        fqueue.push_back(WorkItem);
    }
    finternalthread->Wake();
    return true;
}

bool THelix::Pop(int msTimeout, TObject*& WorkItem) {
    return TryPop(msTimeout, WorkItem) == TPopResult::Item;
}

THelix::TPopResult THelix::TryPop(int msTimeout, TObject*& WorkItem) {
    WorkItem = nullptr;
    TLockGuard guard(flock, msTimeout);
    if (!guard)
        return TPopResult::NoLock;
    if (fqueue.empty())
        return TPopResult::Empty;
    WorkItem = fqueue.front();
    fqueue.pop_front();
    return TPopResult::Item;
}

void THelix::SetOnProcessWorkItem(TOnProcessWorkItem handler) {
    std::lock_guard<std::mutex> guard(fprocmutex);
    fproc = std::move(handler);
}

TOnProcessWorkItem THelix::OnProcessWorkItem() const {
    std::lock_guard<std::mutex> guard(fprocmutex);
    return fproc;
}

void THelix::Stop() {
    finternalthread->Terminate();
    finternalthread->WaitFor();
}

std::vector<TObject*> THelix::TakeQueued(int msTimeout) {
    TLockGuard guard(flock, msTimeout);
    if (!guard)
        return {};
    std::vector<TObject*> items(fqueue.begin(), fqueue.end());
    fqueue.clear();
    return items;
}
