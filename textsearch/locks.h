// TMutexLock: a recursive lock with a time-out on every acquire. One thread owns it at a time;
// the owner may lock it again and it is free after as many Unlocks as Locks. A lock whose owner
// thread ended while holding it passes to the next taker, whose Lock reports success. Each lock
// carries a fresh GUID (`fid`) and its 38-character text form (`fname`) as its name.
//
// TLockGuard takes a TMutexLock for one scope and gives it back only if it obtained it, so that
// no error path leaves the lock held.
//
// Ownership: a TMutexLock owns its mutex. Thread safety: Lock and Unlock may be called from any
// thread; an Unlock by a thread that does not own the lock changes nothing.
#pragma once

#include <memory>
#include <string>

#include "port/guid.h"
#include "textsearch/object.h"

class TimedRecursiveMutex;

class TMutexLock : public TObject {
  public:
    TMutexLock();
    ~TMutexLock() override;
    TMutexLock(const TMutexLock&) = delete;
    TMutexLock& operator=(const TMutexLock&) = delete;

    // True when the calling thread owns the lock within msTimeout milliseconds (negative counts
    // as 0), including the takeover of an abandoned lock; false on time-out or when the mutex
    // could not be created.
    bool Lock(int msTimeout);
    void Unlock();

    TGUID fid;
    std::string fname;

  private:
    // Null when the mutex could not be created: every Lock then fails at once.
    std::unique_ptr<TimedRecursiveMutex> fmutex;
};

class TLockGuard {
  public:
    TLockGuard(TMutexLock& lock, int msTimeout) : flock(lock), fowns(lock.Lock(msTimeout)) {}
    ~TLockGuard() {
        if (fowns)
            flock.Unlock();
    }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

    bool Owns() const { return fowns; }
    explicit operator bool() const { return fowns; }

  private:
    TMutexLock& flock;
    const bool fowns;
};
