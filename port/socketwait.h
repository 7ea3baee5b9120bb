// Waiting for a network socket with a time-out, and a way for another thread to cut the wait
// short (a background thread that must stop, or that is asked for something).
//
// Thread safety: Wake may be called on any thread at any time; Wait and Drain on the thread
// that owns the waker.
#pragma once

#include <chrono>

class TWaker {
public:
    TWaker();
    ~TWaker();
    TWaker(const TWaker&) = delete;
    TWaker& operator=(const TWaker&) = delete;

    // Ends the current or the next wait.
    void Wake();
    // Forgets wakes already given.
    void Drain();
    // Waits up to timeout; true when woken meanwhile.
    bool Sleep(std::chrono::milliseconds timeout);

    int Fd() const { return ffd; }

private:
    int ffd = -1;
};

enum class TSocketReady { Ready, Woken, TimedOut };

// Waits until socket is ready for reading (or writing, with forWrite), waker (if any) is woken,
// or timeout passes. A failed socket counts as ready: the next call on it reports the failure.
TSocketReady WaitForSocket(int socket, bool forWrite, TWaker* waker,
                           std::chrono::milliseconds timeout);
