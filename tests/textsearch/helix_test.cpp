// The work queue: order and one-at-a-time handling, Pop and Push against the lock, exceptions
// from the handler, the completion wrapper, shutdown with items still queued, and an idle worker
// that really sleeps.
#include "textsearch/helix.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "port/errors.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A work item that reports its own destruction, so a test can tell dropped from freed.
struct TItem : TObject {
    explicit TItem(int id, std::atomic<int>* freed = nullptr) : id(id), freed(freed) {}
    ~TItem() override {
        if (freed)
            ++*freed;
    }
    int id;
    std::atomic<int>* freed;
};

// What the handler saw, in order, with a wait for a given count.
class TRecorder {
  public:
    void Add(int id) {
        {
            std::lock_guard<std::mutex> g(fm);
            fids.push_back(id);
        }
        fcv.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock<std::mutex> g(fm);
        return fcv.wait_for(g, limit, [&] { return fids.size() >= count; });
    }
    std::vector<int> Ids() {
        std::lock_guard<std::mutex> g(fm);
        return fids;
    }

  private:
    std::mutex fm;
    std::condition_variable fcv;
    std::vector<int> fids;
};

// A gate the handler can wait at until the test opens it.
class TGate {
  public:
    void Open() {
        {
            std::lock_guard<std::mutex> g(fm);
            fopen = true;
        }
        fcv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> g(fm);
        fcv.wait(g, [&] { return fopen; });
    }

  private:
    std::mutex fm;
    std::condition_variable fcv;
    bool fopen = false;
};

int IdOf(TObject* item) {
    return static_cast<TItem*>(item)->id;
}

TEST(Helix, HandsItemsOutInOrderOneAtATimeOnTheWorker) {
    TRecorder seen;
    std::atomic<int> inflight{0}, maxinflight{0};
    std::atomic<bool> onworker{true};
    const auto caller = std::this_thread::get_id();
    std::vector<std::unique_ptr<TItem>> items;
    for (int id = 1; id <= 3; ++id)
        items.push_back(std::make_unique<TItem>(id));

    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix& h, TObject*& item) {
        EXPECT_EQ(&h, &helix);
        if (std::this_thread::get_id() == caller)
            onworker = false;
        const int now = ++inflight;
        if (now > maxinflight)
            maxinflight = now;
        std::this_thread::sleep_for(20ms);
        seen.Add(IdOf(item));
        --inflight;
    });
    for (auto& item : items)
        ASSERT_TRUE(helix.Push(item.get()));
    ASSERT_TRUE(seen.WaitFor(3));
    EXPECT_EQ(seen.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(maxinflight, 1);
    EXPECT_TRUE(onworker);
}

TEST(Helix, PopOnAnEmptyQueueGivesNull) {
    THelix helix;
    TItem stale(9);
    TObject* item = &stale;
    EXPECT_FALSE(helix.Pop(3000, item));
    EXPECT_EQ(item, nullptr);
}

TEST(Helix, PushGivesUpAfterThreeSecondsWhileAnotherThreadHoldsTheLock) {
    TRecorder seen;
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix&, TObject*& item) { seen.Add(IdOf(item)); });

    TGate release;
    std::atomic<bool> held{false};
    std::thread holder([&] {
        held = helix.Lock(0);
        release.Wait();
        helix.UnLock();
    });
    while (!held)
        std::this_thread::yield();

    TItem refused(1), accepted(2);
    const auto start = Clock::now();
    EXPECT_FALSE(helix.Push(&refused));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 3000ms);
    EXPECT_LT(waited, 4500ms);
    release.Open();
    holder.join();

    // The owner's own hold does not block its pushes: the lock is recursive.
    ASSERT_TRUE(helix.Lock(0));
    EXPECT_TRUE(helix.Push(&accepted));
    helix.UnLock();
    ASSERT_TRUE(seen.WaitFor(1));
    EXPECT_FALSE(seen.WaitFor(2, 100ms));
    EXPECT_EQ(seen.Ids(), (std::vector<int>{2}));
}

TEST(Helix, ThrowingHandlerDoesNotStopTheWorker) {
    TRecorder seen;
    // Declared before the queue, so they outlive a handler still running when the test ends.
    TItem a(1), b(2), c(3), d(4);
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix&, TObject*& item) {
        seen.Add(IdOf(item));
        if (IdOf(item) == 1)
            throw Exception("dropped");
        if (IdOf(item) == 2)
            throw EConvertError("'x' is not a valid integer value");
        if (IdOf(item) == 3)
            throw std::runtime_error("dropped too");
    });
    for (TItem* item : {&a, &b, &c, &d})
        ASSERT_TRUE(helix.Push(item));
    ASSERT_TRUE(seen.WaitFor(4));
    EXPECT_EQ(seen.Ids(), (std::vector<int>{1, 2, 3, 4}));
}

TEST(Helix, WrapperReportsItsItemDone) {
    THelix helix;
    std::atomic<int> calls{0};
    helix.SetOnProcessWorkItem([&](THelix&, TObject*& item) {
        ++calls;
        EXPECT_EQ(IdOf(item), 5);  // the inner item, not the wrapper
        if (calls == 2)
            throw Exception("second one fails");
    });
    TItem inner(5);
    for (int round = 0; round < 2; ++round) {
        THelixProcessor wrapper;
        wrapper.WorkItem = &inner;
        ASSERT_TRUE(helix.Push(&wrapper));
        const auto deadline = Clock::now() + 10s;
        while (!wrapper.ready && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(wrapper.ready) << "round " << round;
        // The worker may still be releasing the wrapper's lock.
        TLockGuard done(wrapper.lock, 3000);
        EXPECT_TRUE(done.Owns());
    }
    EXPECT_EQ(calls, 2);
}

TEST(Helix, DestructionFinishesTheItemInHandAndDropsTheRest) {
    std::atomic<int> freed{0};
    std::vector<std::unique_ptr<TItem>> items;
    for (int id = 1; id <= 4; ++id)
        items.push_back(std::make_unique<TItem>(id, &freed));
    TRecorder started, finished;
    TGate gate;
    auto helix = std::make_unique<THelix>();
    helix->SetOnProcessWorkItem([&](THelix&, TObject*& item) {
        started.Add(IdOf(item));
        gate.Wait();
        finished.Add(IdOf(item));
    });
    for (auto& item : items)
        ASSERT_TRUE(helix->Push(item.get()));
    ASSERT_TRUE(started.WaitFor(1));

    // Open the gate only once the destructor is surely waiting for the worker.
    std::thread opener([&] {
        std::this_thread::sleep_for(200ms);
        gate.Open();
    });
    helix.reset();
    opener.join();
    EXPECT_EQ(started.Ids(), (std::vector<int>{1}));
    EXPECT_EQ(finished.Ids(), (std::vector<int>{1}));
    EXPECT_EQ(freed, 0) << "the queue freed an item";
}

TEST(Helix, StoppedQueueHandsTheRestBackToTheOwner) {
    TRecorder seen;
    TGate gate;
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix&, TObject*& item) {
        seen.Add(IdOf(item));
        gate.Wait();
    });
    TItem a(1), b(2), c(3), late(4);
    for (TItem* item : {&a, &b, &c})
        ASSERT_TRUE(helix.Push(item));
    ASSERT_TRUE(seen.WaitFor(1));
    std::thread opener([&] {
        std::this_thread::sleep_for(200ms);
        gate.Open();
    });
    helix.Stop();
    opener.join();
    EXPECT_TRUE(helix.Push(&late));  // queued, never handed out
    const std::vector<TObject*> rest = helix.TakeQueued();
    EXPECT_EQ(rest, (std::vector<TObject*>{&b, &c, &late}));
    EXPECT_TRUE(helix.TakeQueued().empty());
    EXPECT_EQ(seen.Ids(), (std::vector<int>{1}));
}

TEST(Helix, HandlerMayBeReplacedWhileItemsFlow) {
    std::atomic<int> first{0}, second{0};
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix&, TObject*&) { ++first; });
    std::vector<std::unique_ptr<TItem>> items;
    for (int id = 0; id < 300; ++id)
        items.push_back(std::make_unique<TItem>(id));
    std::atomic<bool> pushing{true};
    std::thread swapper([&] {
        for (int round = 0; pushing; ++round) {
            if (round % 2)
                helix.SetOnProcessWorkItem([&](THelix&, TObject*&) { ++first; });
            else
                helix.SetOnProcessWorkItem([&](THelix&, TObject*&) { ++second; });
            std::this_thread::yield();
        }
    });
    for (auto& item : items)
        ASSERT_TRUE(helix.Push(item.get()));
    const auto deadline = Clock::now() + 10s;
    while (first + second < 300 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    pushing = false;
    swapper.join();
    EXPECT_EQ(first + second, 300);
}

// An idle worker waits for the next push instead of polling: between two items half a second
// apart it should hardly be switched out at all (polling every 10 ms would be some 50 times).
TEST(Helix, IdleWorkerSleepsUntilPushed) {
    std::vector<long> switches;
    std::mutex m;
    TRecorder seen;
    THelix helix;
    helix.SetOnProcessWorkItem([&](THelix&, TObject*& item) {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        {
            std::lock_guard<std::mutex> g(m);
            switches.push_back(usage.ru_nvcsw + usage.ru_nivcsw);
        }
        seen.Add(IdOf(item));
    });
    TItem a(1), b(2);
    ASSERT_TRUE(helix.Push(&a));
    ASSERT_TRUE(seen.WaitFor(1));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(helix.Push(&b));
    ASSERT_TRUE(seen.WaitFor(2));
    std::lock_guard<std::mutex> g(m);
    EXPECT_LT(switches[1] - switches[0], 10);
}

}  // namespace
