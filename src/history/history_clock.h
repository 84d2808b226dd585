#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace vireo {

// The time the recorder, its retention and the alarm rules go by: ms since
// the epoch on the system clock. Tests hand in a ManualClock and move it.
class HistoryClock
{
public:
    virtual ~HistoryClock() = default;
    virtual int64_t NowMs() const
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};

// A clock that stands still until told to move. Safe to read from any thread.
class ManualClock : public HistoryClock
{
public:
    explicit ManualClock(int64_t startMs = 0) : m_nowMs(startMs) {}
    int64_t NowMs() const override { return m_nowMs.load(); }
    void Set(int64_t ms) { m_nowMs.store(ms); }
    void Advance(int64_t ms) { m_nowMs.fetch_add(ms); }

private:
    std::atomic<int64_t> m_nowMs;
};

} // namespace vireo
