// TKeptRoom: the room of a vector kept from one use to the next, so that a search that fills
// hundreds of thousands of elements writes into memory it already has instead of faulting fresh
// pages in on every keystroke.
// Thread safety: Take and Give may be called from any threads; whoever takes the room has it to
// itself, and a second taker meanwhile starts with none.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

template <class T>
class TKeptRoom {
public:
    // The kept room, empty; or no room when another holds it.
    std::vector<T> Take() {
        std::lock_guard lock(fmutex);
        return std::exchange(froom, {});
    }
    // Keeps the larger of room and the room kept.
    void Give(std::vector<T>& room) {
        room.clear();
        std::lock_guard lock(fmutex);
        if (room.capacity() > froom.capacity()) froom.swap(room);
    }

private:
    std::mutex fmutex;
    std::vector<T> froom;  // empty, with capacity; fmutex
};
