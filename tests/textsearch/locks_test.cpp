// The lock with time-out: recursion, exclusion of other threads, the length of a failed wait,
// takeover of a lock whose owner thread ended, its GUID name, and the guard.
#include "textsearch/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Whether another thread can take the lock within msTimeout; it gives the lock back if it can.
bool LockFromOtherThread(TMutexLock& lock, int msTimeout) {
    bool got = false;
    std::thread other([&] {
        got = lock.Lock(msTimeout);
        if (got)
            lock.Unlock();
    });
    other.join();
    return got;
}

TEST(MutexLock, RecursiveForItsOwnerExclusiveForOthers) {
    TMutexLock lock;
    ASSERT_TRUE(lock.Lock(0));
    ASSERT_TRUE(lock.Lock(0));
    EXPECT_FALSE(LockFromOtherThread(lock, 0));
    lock.Unlock();
    EXPECT_FALSE(LockFromOtherThread(lock, 50)) << "free after only one of two unlocks";
    lock.Unlock();
    EXPECT_TRUE(LockFromOtherThread(lock, 0));
}

TEST(MutexLock, UnlockByANonOwnerChangesNothing) {
    TMutexLock lock;
    ASSERT_TRUE(lock.Lock(0));
    std::thread([&] { lock.Unlock(); }).join();
    EXPECT_FALSE(LockFromOtherThread(lock, 0));
    lock.Unlock();
    lock.Unlock();  // one too many: harmless
    EXPECT_TRUE(LockFromOtherThread(lock, 0));
}

TEST(MutexLock, FailedWaitLastsTheTimeOut) {
    TMutexLock lock;
    ASSERT_TRUE(lock.Lock(0));
    bool got = true;
    Clock::duration waited{};
    std::thread other([&] {
        const auto start = Clock::now();
        got = lock.Lock(300);
        waited = Clock::now() - start;
    });
    other.join();
    EXPECT_FALSE(got);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));

    // A negative time-out is a single attempt.
    const auto start = Clock::now();
    EXPECT_FALSE(LockFromOtherThread(lock, -5));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250));
    lock.Unlock();
}

TEST(MutexLock, WaiterGetsTheLockWhenItIsReleased) {
    TMutexLock lock;
    ASSERT_TRUE(lock.Lock(0));
    bool got = false;
    std::thread other([&] {
        got = lock.Lock(5000);
        if (got)
            lock.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto released = Clock::now();
    lock.Unlock();
    other.join();
    EXPECT_TRUE(got);
    EXPECT_LT(Clock::now() - released, std::chrono::milliseconds(1000));
}

TEST(MutexLock, AbandonedLockPassesToTheNextTaker) {
    TMutexLock lock;
    std::thread([&] {
        ASSERT_TRUE(lock.Lock(0));
        ASSERT_TRUE(lock.Lock(0));  // ends holding it twice
    }).join();
    ASSERT_TRUE(lock.Lock(1000));
    // The taker holds it once, like any fresh owner, and it stays usable.
    EXPECT_FALSE(LockFromOtherThread(lock, 0));
    ASSERT_TRUE(lock.Lock(0));
    lock.Unlock();
    EXPECT_FALSE(LockFromOtherThread(lock, 0));
    lock.Unlock();
    EXPECT_TRUE(LockFromOtherThread(lock, 0));
}

TEST(MutexLock, NamedAfterAFreshGuid) {
    TMutexLock a, b;
    ASSERT_EQ(a.fname.size(), 38u);
    EXPECT_EQ(a.fname, GuidToString(a.fid));
    EXPECT_NE(a.fname, b.fname);
    EXPECT_EQ(a.fname.front(), '{');
    EXPECT_EQ(a.fname.back(), '}');
    for (std::size_t i = 1; i < 37; ++i) {
        const char c = a.fname[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            EXPECT_EQ(c, '-') << "at " << i;
        } else {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(c))
                << "at " << i << ": " << c;
        }
    }
}

TEST(LockGuard, UnlocksOnlyWhatItLocked) {
    TMutexLock lock;
    {
        TLockGuard guard(lock, 0);
        ASSERT_TRUE(guard.Owns());
        EXPECT_FALSE(LockFromOtherThread(lock, 0));
    }
    EXPECT_TRUE(LockFromOtherThread(lock, 0));

    // A guard that did not get the lock must not release the holder's.
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        held = lock.Lock(0);
        while (!release)
            std::this_thread::yield();
        lock.Unlock();
    });
    while (!held)
        std::this_thread::yield();
    bool owned = true;
    {
        TLockGuard guard(lock, 10);
        owned = guard.Owns();
    }
    EXPECT_FALSE(owned);
    EXPECT_FALSE(lock.Lock(0)) << "the failed guard released the holder's lock";
    release = true;
    holder.join();
    EXPECT_TRUE(lock.Lock(0));
    lock.Unlock();
}

}  // namespace
