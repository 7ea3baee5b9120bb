// Room for the large arrays a search pass fills on every keystroke (its hits, their order, the
// sort's keys). Blocks of kLargeRoomBytes and more are asked of the system as transparent huge
// pages where it offers them: writing into fresh room then takes one page fault per 2 MB instead
// of one per 4 KB, which at a million stored texts was most of the first passes after start-up.
// Smaller blocks come from the ordinary heap.
// Thread safety: as operator new and delete.
#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

inline constexpr std::size_t kLargeRoomBytes = std::size_t{2} << 20;

// Throws std::bad_alloc when the system has no room.
void* AllocateLargeRoom(std::size_t bytes);
// REQUIRES: p came from AllocateLargeRoom(bytes), with the same bytes.
void FreeLargeRoom(void* p, std::size_t bytes) noexcept;
// Asked between steps of a long preparation: true when it should give way.
using TGiveWay = std::function<bool()>;
// Has the system fault in the pages of a block from AllocateLargeRoom(bytes) now, without
// changing its contents, so that writing into it later costs no page fault. Works in steps of a
// few MB, asking giveWay (when set) before each; false when it gave way. Small blocks, whose
// faults cost little, are left as they are.
bool PrefaultLargeRoom(void* p, std::size_t bytes, const TGiveWay& giveWay = {});

template <class T>
struct TLargeRoomAllocator {
    using value_type = T;
    TLargeRoomAllocator() = default;
    template <class U>
    TLargeRoomAllocator(const TLargeRoomAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateLargeRoom(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { FreeLargeRoom(p, n * sizeof(T)); }
    friend bool operator==(const TLargeRoomAllocator&, const TLargeRoomAllocator&) { return true; }
};

template <class T>
using TLargeVector = std::vector<T, TLargeRoomAllocator<T>>;

// Gives v room for n elements in all, its pages faulted in; false when it gave way.
template <class T>
bool PrefaultRoom(TLargeVector<T>& v, std::size_t n, const TGiveWay& giveWay = {}) {
    if (v.capacity() < n) v.reserve(n);
    return PrefaultLargeRoom(v.data(), v.capacity() * sizeof(T), giveWay);
}

// A fixed array of elements left unwritten until used, so that its pages are only taken as they
// are written.
template <class T>
class TLargeArray {
    static_assert(std::is_trivially_default_constructible_v<T> &&
                  std::is_trivially_destructible_v<T>);

public:
    TLargeArray() = default;
    explicit TLargeArray(std::size_t n)
        : fdata(static_cast<T*>(AllocateLargeRoom(n * sizeof(T)))), fsize(n) {}
    ~TLargeArray() {
        if (fdata) FreeLargeRoom(fdata, fsize * sizeof(T));
    }
    TLargeArray(TLargeArray&& other) noexcept
        : fdata(std::exchange(other.fdata, nullptr)), fsize(std::exchange(other.fsize, 0)) {}
    TLargeArray& operator=(TLargeArray&& other) noexcept {
        std::swap(fdata, other.fdata);
        std::swap(fsize, other.fsize);
        return *this;
    }

    T* data() const { return fdata; }
    std::size_t size() const { return fsize; }
    T& operator[](std::size_t i) const { return fdata[i]; }

private:
    T* fdata = nullptr;
    std::size_t fsize = 0;
};
