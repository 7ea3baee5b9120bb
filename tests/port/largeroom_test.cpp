#include "port/largeroom.h"

#include <gtest/gtest.h>

#include <cstdint>

// Room either side of the huge-page threshold holds what is written into it, prefaulting leaves
// it as it was, and large blocks are aligned so that huge pages can map all of them.
TEST(LargeRoom, HoldsWhatIsWrittenAtEverySizeAndPrefaultingKeepsIt) {
    for (const std::size_t bytes : {std::size_t{1}, kLargeRoomBytes - 1, kLargeRoomBytes,
                                    kLargeRoomBytes + 4097, 3 * kLargeRoomBytes}) {
        TLargeArray<uint8_t> room(bytes);
        for (std::size_t i = 0; i < bytes; ++i)
            room[i] = static_cast<uint8_t>(i * 7 + 1);
        // Small blocks are left alone; large ones give way when asked to.
        EXPECT_EQ(PrefaultLargeRoom(room.data(), bytes, [] { return true; }),
                  bytes < kLargeRoomBytes)
            << bytes;
        EXPECT_TRUE(PrefaultLargeRoom(room.data(), bytes, [] { return false; })) << bytes;
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            wrong += room[i] != static_cast<uint8_t>(i * 7 + 1);
        EXPECT_EQ(wrong, 0u) << bytes;
        if (bytes >= kLargeRoomBytes) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(room.data()) % kLargeRoomBytes, 0u);
        }
    }
    // A vector that grows through the threshold keeps its elements in each new block.
    TLargeVector<uint32_t> v;
    for (uint32_t i = 0; i < kLargeRoomBytes; ++i)
        v.push_back(i);
    std::size_t wrong = 0;
    for (uint32_t i = 0; i < v.size(); ++i)
        wrong += v[i] != i;
    EXPECT_EQ(wrong, 0u);
}
