#include "port/mutex.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <thread>

struct TimedRecursiveMutex::Impl {
    pthread_mutex_t mutex;
    // The owner and its lock depth, so that an Unlock from any other thread stops here instead
    // of relying on the mutex's EPERM. Only the owner writes its own id; depth is read and
    // written by the owner alone, under the mutex.
    std::atomic<std::thread::id> owner{};
    int depth = 0;
};

TimedRecursiveMutex::TimedRecursiveMutex() : fimpl(std::make_unique<Impl>()) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return;
    const bool configured = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0;
    fvalid = configured && pthread_mutex_init(&fimpl->mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
}

TimedRecursiveMutex::~TimedRecursiveMutex() {
    if (fvalid) pthread_mutex_destroy(&fimpl->mutex);
}

// The deadline is measured on the monotonic clock, so that setting the system time cannot stretch
// a bounded wait. ThreadSanitizer does not intercept pthread_mutex_clocklock (it would miss the
// lock's ordering and report false races), so that build keeps the wall-clock timedlock.
#if defined(__SANITIZE_THREAD__)
constexpr clockid_t kLockClock = CLOCK_REALTIME;
#else
constexpr clockid_t kLockClock = CLOCK_MONOTONIC;
#endif

bool TimedRecursiveMutex::Lock(int msTimeout) noexcept {
    if (!fvalid) return false;
    if (msTimeout < 0) msTimeout = 0;
    // One attempt first: a free or own mutex needs no clock, and ThreadSanitizer models an
    // abandoned owner's takeover only on this call, not on the timed one.
    int rc = pthread_mutex_trylock(&fimpl->mutex);
    if (rc != EBUSY || msTimeout == 0) return Acquired(rc);
    timespec deadline;
    clock_gettime(kLockClock, &deadline);
    deadline.tv_sec += msTimeout / 1000;
    deadline.tv_nsec += static_cast<long>(msTimeout % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
#if defined(__SANITIZE_THREAD__)
    rc = pthread_mutex_timedlock(&fimpl->mutex, &deadline);
#else
    rc = pthread_mutex_clocklock(&fimpl->mutex, kLockClock, &deadline);
#endif
    return Acquired(rc);
}

bool TimedRecursiveMutex::Acquired(int rc) noexcept {
    if (rc == EOWNERDEAD) {
        // The previous owner ended while holding it: the mutex passes to us, held once.
        pthread_mutex_consistent(&fimpl->mutex);
        fimpl->depth = 0;
    } else if (rc != 0) {
        return false;
    }
    ++fimpl->depth;
    fimpl->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return true;
}

void TimedRecursiveMutex::Unlock() noexcept {
    if (!fvalid) return;
    if (fimpl->owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
    if (--fimpl->depth == 0) fimpl->owner.store(std::thread::id(), std::memory_order_relaxed);
    pthread_mutex_unlock(&fimpl->mutex);
}
