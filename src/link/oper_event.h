#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vireo {

// One request: its frame and its retry state. Events are recycled through the
// process-wide OperEventPool.
struct OperEvent
{
    static constexpr size_t kFrameCapacity = 52;

    std::array<uint8_t, kFrameCapacity> frame{};
    int length = 0; // the frame's length byte L
    int size = 0;   // L + 4
    bool ready = false;
    bool sent = false;
    bool waiting = false;
    int timeoutAllowance = 1;
    int retries = 3;
    // The device asked for this request again (statuses 1, 2, 35): it gets a
    // fresh set of sends at most kMaxResendRequests times, so a device that
    // asks for every request again cannot keep one going forever.
    static constexpr int kMaxResendRequests = 3;
    int resendRequests = 0;
    OperEvent* next = nullptr;

    // Bookkeeping of the queue that owns the event (guarded by its locks).
    bool standing = false; // the queue's reusable QuerySignal event
    // Queued or in flight. The session thread clears it when it lets go of
    // the standing poll (under the operation lock only), and a pusher reads
    // it under the queue lock before reusing that event: the store that
    // clears it publishes the re-armed state.
    std::atomic<bool> inUse{false};

    uint8_t Code() const { return frame[1]; }
    uint8_t PayloadByte(size_t i) const { return frame[3 + i]; }

    // Back to a fresh event: no frame, allowance 1, three sends.
    void Reset();
    // A standing event between uses: frame kept, state fresh.
    void Rearm();
};

// The free list of events shared by every session of the program. Allocation
// is refused while the program shuts down or the requesting window closes.
class OperEventPool
{
public:
    OperEventPool() = default;
    ~OperEventPool();
    OperEventPool(const OperEventPool&) = delete;
    OperEventPool& operator=(const OperEventPool&) = delete;

    OperEvent* Alloc(bool windowClosing);
    void Release(OperEvent* event);

    // The program is closing: allocations are refused and released events freed.
    void SetShuttingDown(bool value);
    bool ShuttingDown() const;

    size_t FreeCount() const;
    size_t LiveCount() const; // events handed out and not yet returned
    // Every event the pool has made is on its free list exactly once: none
    // handed out, none released twice, the list unbroken.
    bool AllReturned() const;

private:
    mutable std::mutex m_mutex;
    OperEvent* m_free = nullptr;
    size_t m_freeCount = 0;
    size_t m_live = 0;
    size_t m_made = 0; // events that exist, free or handed out
    bool m_shuttingDown = false;
};

} // namespace vireo
