#include "lang/language_table.h"
#include "link/message_code.h"
#include "link/oper_event_queue.h"
#include "link/request_frame.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace vireo;

namespace {

class FakeOwner : public OperQueueOwner
{
public:
    bool IsStopping() const override { return stopping; }
    bool IsWindowClosing() const override { return closing; }
    OperEventPool& Pool() override { return pool; }
    std::mutex& OperLock() override { return operLock; }
    OperEvent*& CurrentSlot() override { return current; }
    void ReleaseCurrent() override
    {
        std::lock_guard lock(operLock);
        if (current != nullptr) {
            if (current->standing) {
                current->Rearm();
            } else {
                pool.Release(current);
            }
            current = nullptr;
        }
    }
    void OnScanPreempted() override { ++preemptions; }
    void OnRequestDropped(uint8_t code) override { dropped.push_back(code); }
    void Log(std::string_view text) override { logs.emplace_back(text); }

    bool stopping = false;
    bool closing = false;
    OperEventPool pool;
    std::mutex operLock;
    OperEvent* current = nullptr;
    int preemptions = 0;
    std::vector<uint8_t> dropped;
    std::vector<std::string> logs;
};

class OperEventQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    void TearDown() override { DestroyLanguageTable(); }

    // Pops the head and makes it the request in flight.
    void popToCurrent()
    {
        OperEvent* e = queue.Pop();
        ASSERT_NE(e, nullptr);
        std::lock_guard lock(owner.operLock);
        owner.current = e;
        e->sent = e->waiting = true;
    }

    FakeOwner owner;
    OperEventQueue queue{owner};
};

} // namespace

TEST_F(OperEventQueueTest, FirstInFirstOutWithComposedFrames)
{
    EXPECT_FALSE(queue.Push(msg::QueryVersion));
    EXPECT_FALSE(queue.Push(msg::SetVolume, 0x0A));
    EXPECT_FALSE(queue.Push(0x77)); // unknown code: silently dropped
    EXPECT_EQ(queue.QueuedCount(), 2u);

    OperEvent* first = queue.Pop();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Code(), msg::QueryVersion);
    EXPECT_EQ(first->retries, 1);
    EXPECT_TRUE(first->ready);
    OperEvent* second = queue.Pop();
    ASSERT_NE(second, nullptr);
    const uint8_t volume[] = {0x88, 0x12, 0x03, 0x0A, 0x1A, 0xD9, 0x99};
    EXPECT_EQ(second->size, 7);
    EXPECT_EQ(std::vector<uint8_t>(second->frame.begin(), second->frame.begin() + 7),
              std::vector<uint8_t>(volume, volume + 7));
    EXPECT_EQ(second->retries, 3);
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_TRUE(queue.IsEmpty());
    queue.Release(first);
    queue.Release(second);
    EXPECT_EQ(owner.pool.LiveCount(), 0u);
}

TEST_F(OperEventQueueTest, OnePollWaitsAndTheStandingEventIsReused)
{
    queue.Push(msg::QuerySignal);
    queue.Push(msg::QuerySignal);
    EXPECT_EQ(queue.QueuedCount(), 1u);
    const OperEvent* standing = queue.StandingPoll();
    ASSERT_NE(standing, nullptr);

    OperEvent* e = queue.Pop();
    EXPECT_EQ(e, standing);
    queue.Push(msg::QuerySignal); // in flight: no second copy
    EXPECT_EQ(queue.QueuedCount(), 0u);
    queue.Release(e); // re-armed, kept
    EXPECT_EQ(owner.pool.LiveCount(), 1u);

    queue.Push(msg::QuerySignal);
    EXPECT_EQ(queue.Pop(), standing);
    queue.Release(e);
}

TEST_F(OperEventQueueTest, StopScanOvertakesARunningScan)
{
    const std::vector<uint8_t> scan(8, 1);
    queue.Push(msg::ScanSatellite, 0, 0, scan);
    popToCurrent();
    EXPECT_TRUE(queue.satScanRunning);
    EXPECT_EQ(owner.current->retries, 1);
    EXPECT_EQ(owner.logs.back(), "Satellite Scan");

    queue.Push(msg::QueryVersion);
    queue.Push(msg::DeleteTp, 0, 0, std::vector<uint8_t>(12, 2)); // dropped while the scan runs
    EXPECT_EQ(queue.QueuedCount(), 0u);
    EXPECT_EQ(owner.dropped, (std::vector<uint8_t>{msg::QueryVersion, msg::DeleteTp}));

    queue.Push(msg::StopScan);
    EXPECT_EQ(owner.preemptions, 1);
    EXPECT_EQ(owner.current, nullptr); // the scan was released
    OperEvent* next = queue.Pop();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->Code(), msg::StopScan);
    queue.Release(next);
    EXPECT_EQ(owner.pool.LiveCount(), 0u);
}

TEST_F(OperEventQueueTest, StopScanGoesToTheHeadAheadOfQueuedRequests)
{
    queue.Push(msg::ScanTp, 0, 0, std::vector<uint8_t>(12, 3));
    queue.Push(msg::QueryVersion); // queued before the scan was taken
    popToCurrent();
    queue.Push(msg::StopScan);
    OperEvent* first = queue.Pop();
    OperEvent* second = queue.Pop();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->Code(), msg::StopScan);
    EXPECT_EQ(second->Code(), msg::QueryVersion);
    queue.Release(first);
    queue.Release(second);
}

TEST_F(OperEventQueueTest, PopSetsQueryFlagsAndLogsLabels)
{
    queue.Push(msg::QueryProgram, 0xFF, 2);
    queue.Push(msg::QueryProgram, 0xFF, 1);
    queue.Push(msg::QueryProgram, 5, 1);
    queue.Push(msg::QueryTp, 0xFF, 0);
    queue.Push(msg::QuerySatellite, 0xFF);
    std::vector<OperEvent*> popped;
    for (OperEvent* e = queue.Pop(); e != nullptr; e = queue.Pop()) {
        popped.push_back(e);
    }
    EXPECT_EQ(popped.size(), 5u);
    EXPECT_TRUE(queue.allRadioQuery);
    EXPECT_TRUE(queue.allTvQuery);
    EXPECT_TRUE(queue.allTpQuery);
    EXPECT_TRUE(queue.allSatQuery);
    const std::vector<std::string> expected(3, "Request Program Information:");
    EXPECT_EQ(owner.logs, expected);
    for (OperEvent* e : popped) {
        queue.Release(e);
    }
}

TEST_F(OperEventQueueTest, RefusedAndDroppedPushes)
{
    owner.closing = true;
    EXPECT_TRUE(queue.Push(msg::QueryVersion)); // the pool refuses a closing window
    owner.closing = false;
    owner.pool.SetShuttingDown(true);
    EXPECT_TRUE(queue.Push(msg::QueryVersion));
    owner.pool.SetShuttingDown(false);

    owner.stopping = true;
    EXPECT_FALSE(queue.Push(msg::QueryVersion)); // composed but not queued
    EXPECT_EQ(queue.Pop(), nullptr);
    owner.stopping = false;
    EXPECT_EQ(queue.QueuedCount(), 0u);
    EXPECT_EQ(owner.pool.LiveCount(), 0u);

    queue.Push(msg::QueryVersion);
    queue.Push(msg::QuerySignal);
    queue.Destroy();
    EXPECT_TRUE(queue.IsClosed());
    EXPECT_FALSE(queue.Push(msg::DeleteProgram, 0, 0, std::vector<uint8_t>(20, 1)));
    EXPECT_EQ(queue.QueuedCount(), 0u);
    EXPECT_EQ(owner.pool.LiveCount(), 0u);
    // Every request that ended without an answer was reported: refused by the
    // pool twice, dropped while stopping, the two thrown out, the one after.
    EXPECT_EQ(owner.dropped,
              (std::vector<uint8_t>{msg::QueryVersion, msg::QueryVersion, msg::QueryVersion,
                                    msg::QueryVersion, msg::QuerySignal, msg::DeleteProgram}));
}

TEST_F(OperEventQueueTest, ClearKeepsAPollThatIsInFlight)
{
    queue.Push(msg::QuerySignal);
    popToCurrent();
    queue.Push(msg::QueryVersion);
    queue.Clear();
    EXPECT_EQ(queue.QueuedCount(), 0u);
    EXPECT_EQ(queue.StandingPoll(), nullptr);
    // The poll in flight is still valid and goes back to the pool on release.
    EXPECT_EQ(owner.current->Code(), msg::QuerySignal);
    EXPECT_EQ(owner.dropped, std::vector<uint8_t>{msg::QueryVersion});
    owner.ReleaseCurrent();
    EXPECT_EQ(owner.pool.LiveCount(), 0u);
}

TEST_F(OperEventQueueTest, TakeNextMakesTheHeadCurrentOnlyWithNothingInFlight)
{
    queue.Push(msg::QueryVersion);
    queue.Push(msg::StopScan);
    OperEvent* first = queue.TakeNext();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(owner.current, first);
    EXPECT_EQ(first->Code(), msg::QueryVersion);
    EXPECT_EQ(queue.TakeNext(), nullptr); // one request in flight at a time
    EXPECT_EQ(owner.current, first);
    EXPECT_EQ(queue.QueuedCount(), 1u);
    owner.ReleaseCurrent();
    OperEvent* second = queue.TakeNext();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Code(), msg::StopScan);
    EXPECT_EQ(owner.logs.back(), "Stop Scan");
    owner.ReleaseCurrent();
    EXPECT_EQ(queue.TakeNext(), nullptr);
    EXPECT_TRUE(owner.pool.AllReturned());
}

// A session thread taking and releasing requests while another thread
// pushes polls and requests and a third clears the queue, as a refresh does:
// the standing poll must never be handed back to the pool while it is queued
// or in flight, or the pool's links break.
TEST_F(OperEventQueueTest, TakingPushingAndClearingAtOnceKeepThePoolWhole)
{
    constexpr int kRounds = 20000;
    std::atomic<bool> done{false};
    std::atomic<int> malformed{0};
    std::thread session([&] {
        while (!done) {
            if (queue.TakeNext() != nullptr) {
                std::lock_guard lock(owner.operLock);
                if (owner.current != nullptr && owner.current->frame[0] != kFrameStart) {
                    ++malformed;
                }
            }
            owner.ReleaseCurrent();
        }
    });
    std::thread clearer([&] {
        for (int i = 0; i < kRounds; ++i) {
            queue.Clear();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        queue.Push(msg::QuerySignal);
        queue.Push(msg::QueryVersion);
    }
    clearer.join();
    done = true;
    session.join();
    queue.Destroy();
    EXPECT_EQ(malformed.load(), 0);
    EXPECT_TRUE(owner.pool.AllReturned());
}

TEST_F(OperEventQueueTest, ConcurrentPushersAndOnePopper)
{
    constexpr int kPerThread = 2000;
    std::atomic<int> popped{0};
    std::atomic<bool> done{false};
    std::thread popper([&] {
        while (!done || !queue.IsEmpty()) {
            if (OperEvent* e = queue.Pop()) {
                ++popped;
                queue.Release(e);
            }
        }
    });
    auto pusher = [&] {
        for (int i = 0; i < kPerThread; ++i) {
            queue.Push(msg::QueryVersion);
        }
    };
    std::thread a(pusher);
    std::thread b(pusher);
    a.join();
    b.join();
    done = true;
    popper.join();
    EXPECT_EQ(popped.load(), 2 * kPerThread);
    EXPECT_EQ(owner.pool.LiveCount(), 0u);
    EXPECT_LE(owner.pool.FreeCount(), static_cast<size_t>(2 * kPerThread));
}
