// Scheduling hints for the calling thread.
// Thread safety: each call concerns only the thread that makes it.
#pragma once

// Lowers the calling thread's scheduling priority a little (a niceness of 5), so that it yields
// the processors to the program's other threads; threads it starts afterwards inherit it. Best
// effort: returns false, and leaves the priority as it was, where the system does not allow it.
bool LowerCurrentThreadPriority() noexcept;
