// TMutexLock names itself after a fresh GUID and delegates the locking to the platform's robust
// recursive timed mutex, which also hands an abandoned lock to the next taker.
#include "textsearch/locks.h"

#include "port/mutex.h"

TMutexLock::TMutexLock() : fid(NewGuid()), fname(GuidToString(fid)) {
    auto mutex = std::make_unique<TimedRecursiveMutex>();
    if (mutex->Valid())
        fmutex = std::move(mutex);
}

TMutexLock::~TMutexLock() = default;

bool TMutexLock::Lock(int msTimeout) {
    return fmutex && fmutex->Lock(msTimeout);
}

void TMutexLock::Unlock() {
    if (fmutex)
        fmutex->Unlock();
}
