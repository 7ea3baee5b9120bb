#include "port/socketwait.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TWaker::TWaker() : ffd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (ffd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWaker::~TWaker() {
    close(ffd);
}

void TWaker::Wake() {
    const uint64_t one = 1;
    // A full counter already means "woken"; nothing else can fail here.
    [[maybe_unused]] const ssize_t written = write(ffd, &one, sizeof one);
}

void TWaker::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(ffd, &count, sizeof count);
}

bool TWaker::Sleep(std::chrono::milliseconds timeout) {
    pollfd fd{ffd, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(timeout.count()));
    return ready > 0;
}

TSocketReady WaitForSocket(int socket, bool forWrite, TWaker* waker,
                           std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                     {waker ? waker->Fd() : -1, POLLIN, 0}};
    const int ready = poll(fds, waker ? 2 : 1, static_cast<int>(timeout.count()));
    if (ready < 0) return errno == EINTR ? TSocketReady::TimedOut : TSocketReady::Ready;
    if (ready == 0) return TSocketReady::TimedOut;
    if (waker && fds[1].revents) return TSocketReady::Woken;
    return TSocketReady::Ready;
}
