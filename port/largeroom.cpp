#include "port/largeroom.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// Huge pages are 2 MB on the processors this runs on; a block is aligned to that, so that all of
// it can be mapped by them.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t Rounded(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

void* AllocateLargeRoom(std::size_t bytes) {
#if defined(__linux__)
    if (bytes >= kLargeRoomBytes) {
        const std::size_t size = Rounded(bytes);
        // One huge page more than needed, whose unaligned ends are given back.
        void* const mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
        if (aligned > start) munmap(mapped, aligned - start);
        const std::size_t tail = kHugePage - (aligned - start);
        if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
        void* const room = reinterpret_cast<void*>(aligned);
        // A hint: where the system declines, the room works with ordinary pages.
        madvise(room, size, MADV_HUGEPAGE);
        return room;
    }
#endif
    return ::operator new(bytes);
}

void FreeLargeRoom(void* p, std::size_t bytes) noexcept {
#if defined(__linux__)
    if (bytes >= kLargeRoomBytes) {
        munmap(p, Rounded(bytes));
        return;
    }
#endif
    ::operator delete(p);
}

bool PrefaultLargeRoom(void* p, std::size_t bytes, const TGiveWay& giveWay) {
    if (p == nullptr || bytes < kLargeRoomBytes) return true;
#if defined(__linux__)
    // A step is short enough for a caller to give way within a few milliseconds.
    constexpr std::size_t kStep = 4 * kHugePage;
    char* const room = static_cast<char*>(p);
    const std::size_t size = Rounded(bytes);
    for (std::size_t at = 0; at < size; at += kStep) {
        if (giveWay && giveWay()) return false;
        const std::size_t step = std::min(kStep, size - at);
#if defined(MADV_POPULATE_WRITE)
        if (madvise(room + at, step, MADV_POPULATE_WRITE) == 0) continue;
#endif
        // Kernels before 5.14: each page read and written back. Nothing else writes the room
        // meanwhile, since it belongs to the caller.
        volatile char* const page = room + at;
        for (std::size_t offset = 0; offset < step; offset += 4096)
            page[offset] = page[offset];
    }
#endif
    return true;
}
