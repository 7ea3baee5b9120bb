// TKeptRoom: the room of a vector kept from one use to the next, so that a search that fills
// hundreds of thousands of elements writes into memory it already has instead of faulting fresh
// pages in on every keystroke.
// Thread safety: Take and Give may be called from any threads; whoever takes the room has it to
// itself, and a second taker meanwhile starts with none.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "port/largeroom.h"

template <class T>
class TKeptRoom {
public:
    // The kept room, empty; or no room when another holds it.
    TLargeVector<T> Take() {
        std::lock_guard lock(fmutex);
        return std::exchange(froom, {});
    }
    // Keeps the larger of room and the room kept.
    void Give(TLargeVector<T>& room) {
        room.clear();
        std::lock_guard lock(fmutex);
        if (room.capacity() > froom.capacity()) froom.swap(room);
    }

    // Gives the kept room space for n elements, its pages faulted in now. False when it gave way.
    bool Prefault(std::size_t n, const TGiveWay& giveWay = {}) {
        TLargeVector<T> room = Take();
        const bool done = PrefaultRoom(room, n, giveWay);
        Give(room);
        return done;
    }

private:
    std::mutex fmutex;
    TLargeVector<T> froom;  // empty, with capacity; fmutex
};
