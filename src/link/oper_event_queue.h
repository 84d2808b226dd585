#pragma once

#include "link/oper_event.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>

namespace vireo {

// What the queue needs of the session that owns it.
class OperQueueOwner
{
public:
    virtual ~OperQueueOwner() = default;
    virtual bool IsStopping() const = 0;      // the session thread must leave its loop
    virtual bool IsWindowClosing() const = 0; // the window is being torn down
    virtual OperEventPool& Pool() = 0;
    // The session's operation lock and the event in flight it guards.
    virtual std::mutex& OperLock() = 0;
    virtual OperEvent*& CurrentSlot() = 0;
    // Releases the event in flight (takes the operation lock).
    virtual void ReleaseCurrent() = 0;
    // A StopScan has overtaken a running scan: stop waiting for its reply.
    virtual void OnScanPreempted() = 0;
    // A request with `code` was dropped before an answer could end it: not
    // queued (pool empty, not sendable, queue closed, refused during a scan)
    // or thrown out of the queue.
    virtual void OnRequestDropped(uint8_t code) = 0;
    virtual void Log(std::string_view text) = 0;
};

// The first-in, first-out list of requests of one session. Any thread may
// push; the session thread pops. Lock order: the queue lock, then the
// session's operation lock, then the pool's lock.
class OperEventQueue
{
public:
    explicit OperEventQueue(OperQueueOwner& owner);
    ~OperEventQueue();
    OperEventQueue(const OperEventQueue&) = delete;
    OperEventQueue& operator=(const OperEventQueue&) = delete;

    // Composes and queues a request. Returns true only when the pool gave no
    // event; false otherwise, also for a request that was silently dropped.
    bool Push(uint8_t code, int a = 0, int b = 0, std::span<const uint8_t> data = {});
    OperEvent* Pop();
    // Pops the head and makes it the owner's request in flight in one step,
    // under the queue lock and the operation lock, so that no other thread
    // ever finds the event neither queued nor in flight. Returns it; null
    // when the owner stops, the queue is empty or a request is in flight.
    OperEvent* TakeNext();
    // Gives an event back: the standing poll event is re-armed and kept, any
    // other returns to the pool.
    void Release(OperEvent* event);
    void Clear();
    // Closes the queue and returns everything it holds to the pool.
    void Destroy();

    bool IsEmpty() const;
    bool IsClosed() const;
    size_t QueuedCount() const;
    const OperEvent* StandingPoll() const;

    // Facts the reply dispatcher needs about what has been asked.
    std::atomic<bool> allSatQuery{false};
    std::atomic<bool> allTpQuery{false};
    std::atomic<bool> allTvQuery{false};
    std::atomic<bool> allRadioQuery{false};
    std::atomic<bool> satScanRunning{false};
    std::atomic<bool> tpScanRunning{false};

private:
    // Both with the queue lock held.
    bool enqueueLocked(OperEvent* event);
    OperEvent* popLocked();
    void logTaken(uint8_t code);
    void returnToPool(OperEvent* event);
    // Back to the pool unanswered, from the queue or instead of entering it.
    void drop(OperEvent* event);

    OperQueueOwner& m_owner;
    mutable std::mutex m_mutex;
    OperEvent* m_head = nullptr;
    OperEvent* m_tail = nullptr;
    size_t m_count = 0;
    bool m_closed = false;
    OperEvent* m_standingPoll = nullptr;
};

// Label of the log line written when a request is taken for sending, or -1.
int PopLogRow(uint8_t code);

// Sends allowed for a new request: 1 for requests that must not repeat.
int InitialRetries(uint8_t code);

} // namespace vireo
