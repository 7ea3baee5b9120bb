#include "port/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

struct TimedRecursiveMutex::Impl {
    pthread_mutex_t mutex;
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

bool TimedRecursiveMutex::Lock(int msTimeout) noexcept {
    if (!fvalid) return false;
    if (msTimeout < 0) msTimeout = 0;
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += msTimeout / 1000;
    deadline.tv_nsec += static_cast<long>(msTimeout % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    const int rc = pthread_mutex_timedlock(&fimpl->mutex, &deadline);
    if (rc == 0) return true;
    if (rc == EOWNERDEAD) {
        // The previous owner ended while holding it: the mutex passes to us.
        pthread_mutex_consistent(&fimpl->mutex);
        return true;
    }
    return false;
}

void TimedRecursiveMutex::Unlock() noexcept {
    if (fvalid) pthread_mutex_unlock(&fimpl->mutex);  // EPERM for a non-owner: nothing changes
}
