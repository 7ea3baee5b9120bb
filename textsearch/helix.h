// THelix: a first-in-first-out work queue served by one worker thread, which takes the items
// off one at a time and hands each to the OnProcessWorkItem handler. The queue's lock is also the
// owner's lock for its own shared data (Lock/UnLock, or a TLockGuard on QueueLock()); it is
// recursive, so a handler may take it and call code that takes it again.
//
// Ownership: THelix owns its worker thread, its lock and the list of queued pointers, never the
// items. Whoever handles an item frees it; items still queued when the worker stops are neither
// handed out nor freed, and the owner may collect them with TakeQueued to free them itself. The
// owner (the engine, for its searches; the windows' session, for its reads and writes) destroys
// the THelix with itself; destruction stops the worker once the item in hand is done.
//
// Thread safety: Push, Pop, Lock, UnLock, TakeQueued and SetOnProcessWorkItem may be called from
// any thread. Stop and the destructor belong to the owner's thread and must not be called from
// the handler; a derived class whose state the handler uses calls Stop in its own destructor.
// The handler runs on the worker thread without the queue lock held.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "textsearch/locks.h"
#include "textsearch/object.h"

class THelix;

// The handler gets the item by reference; what it leaves there is of no further interest to the
// queue.
using TOnProcessWorkItem = std::function<void(THelix& Helix, TObject*& WorkItem)>;

// A wrapper a producer may queue instead of a bare item to learn when the item has been handled:
// the handler gets the inner WorkItem, and afterwards the worker sets `ready` (also when the
// handler threw), holding `lock` if it can get it within 3000 ms. `ready` is atomic, so it may be
// read without the lock. The wrapper and its item belong to the producer; before freeing a wrapper
// whose `ready` it has seen true, the producer takes and releases `lock` once, since the worker may
// still be releasing it.
class THelixProcessor : public TObject {
  public:
    TMutexLock lock;
    std::atomic<bool> ready{false};
    TObject* WorkItem = nullptr;
};

// The worker thread of one THelix. Created by THelix once the lock and the queue exist, then
// started; it waits on a condition variable while the queue is empty, so an idle worker costs
// nothing.
class THelixThread {
  public:
    explicit THelixThread(THelix& helix) : fhelix(helix) {}
    // Asks the loop to end and waits for it.
    ~THelixThread();
    THelixThread(const THelixThread&) = delete;
    THelixThread& operator=(const THelixThread&) = delete;

    void Start();
    // Asks the loop to end at its next test: after the item in hand, or at once when idle, or
    // after a lock wait of at most 3000 ms. Does not wait.
    void Terminate();
    // Waits for the loop's end; does nothing on the worker thread itself or when not running.
    void WaitFor();
    // Tells an idle worker that an item was queued.
    void Wake();

    THelix& Helix() const { return fhelix; }

  private:
    void Execute();
    void Process(TObject* item);
    // Forgets earlier wake-ups; called before each look at the queue, so none is lost.
    void ClearWake();
    // Sleeps until a wake-up or termination (or until `limit` when positive).
    void Idle(std::chrono::milliseconds limit);
    bool Terminated();

    THelix& fhelix;
    std::mutex fsignalmutex;
    std::condition_variable fsignal;
    bool fwoken = false;       // guarded by fsignalmutex
    bool fterminated = false;  // guarded by fsignalmutex
    std::thread fthread;
};

class THelix {
  public:
    THelix();
    // Stops the worker (Stop) and drops, without freeing, what is still queued.
    virtual ~THelix();
    THelix(const THelix&) = delete;
    THelix& operator=(const THelix&) = delete;

    // The queue lock, for the owner's own shared data.
    bool Lock(int msTimeout) { return flock.Lock(msTimeout); }
    void UnLock() { flock.Unlock(); }
    TMutexLock& QueueLock() { return flock; }

    // Appends the item if the lock is obtained within 3000 ms; false means the item was not
    // queued and still belongs to the caller.
    virtual bool Push(TObject* WorkItem);
    // Takes the oldest item, waiting at most msTimeout ms for the lock (the worker passes 3000).
    // False, with WorkItem null, when the queue is empty or the lock was not obtained.
    bool Pop(int msTimeout, TObject*& WorkItem);

    // Safe against the running worker: an item already being handled finishes with the handler
    // it started with; the next item gets the new one.
    void SetOnProcessWorkItem(TOnProcessWorkItem handler);
    TOnProcessWorkItem OnProcessWorkItem() const;

    // Stops the worker after the item in hand and waits for it; items pushed afterwards are
    // queued but never handed out. Idempotent.
    void Stop();
    // Removes and returns every queued item, oldest first, so that the owner can free them;
    // empty when the lock is not obtained within msTimeout ms.
    std::vector<TObject*> TakeQueued(int msTimeout = 3000);

  private:
    friend class THelixThread;
    enum class TPopResult { Item, Empty, NoLock };
    TPopResult TryPop(int msTimeout, TObject*& WorkItem);

    TMutexLock flock;
    std::deque<TObject*> fqueue;  // guarded by flock; oldest first
    mutable std::mutex fprocmutex;
    TOnProcessWorkItem fproc;  // guarded by fprocmutex
    // Last, so that it is built after the state it serves and ended before that goes away.
    std::unique_ptr<THelixThread> finternalthread;
};
