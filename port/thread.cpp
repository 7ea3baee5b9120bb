#include "port/thread.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

bool LowerCurrentThreadPriority() noexcept {
#if defined(__linux__)
    // On Linux a niceness belongs to a thread, named by its kernel id.
    constexpr int kBackgroundNice = 5;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNice) == 0;
#else
    return false;
#endif
}
