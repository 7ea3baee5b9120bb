// A recursive mutex with timed acquisition whose owner may die while holding it: the next taker
// then inherits it (robust mutex), so a crashed thread can never freeze the program.
// Thread safety: all operations may be called from any thread; Unlock by a thread that does not
// own the mutex changes nothing.
#pragma once

#include <memory>

class TimedRecursiveMutex {
public:
    TimedRecursiveMutex();
    ~TimedRecursiveMutex();
    TimedRecursiveMutex(const TimedRecursiveMutex&) = delete;
    TimedRecursiveMutex& operator=(const TimedRecursiveMutex&) = delete;

    // False when the mutex could not be created; every Lock then fails at once.
    bool Valid() const noexcept { return fvalid; }
    // True when the calling thread owns the mutex within msTimeout milliseconds (a negative
    // time-out counts as 0).
    bool Lock(int msTimeout) noexcept;
    void Unlock() noexcept;

private:
    // Completes a lock attempt that returned rc; true when the calling thread now owns the mutex.
    bool Acquired(int rc) noexcept;

    struct Impl;
    std::unique_ptr<Impl> fimpl;
    bool fvalid = false;
};
