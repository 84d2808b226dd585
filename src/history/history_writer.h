#pragma once

#include "history/history_clock.h"
#include "history/history_types.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vireo {

class HistoryDatabase;

// How long the history keeps what. Raw reports go after `rawMs`; the
// per-minute summaries (min, mean, max, locked share) stay for `summaryMs`.
// Pruning deletes at most `stepRows` rows per step, one step per
// `stepEveryMs`, so a large backlog never holds the writer for long.
struct RetentionPolicy
{
    int64_t rawMs = 14 * kMsPerDay;
    int64_t summaryMs = 400 * kMsPerDay;
    int stepRows = 2000;
    int64_t stepEveryMs = 1000;
};

// What the writer reports to the program's log (one line per fault, plain
// ASCII): a full disk, a failed write, a dropped backlog.
using HistoryLogCallback = std::function<void(const std::string& line)>;

// The one writer of a process. Any thread hands it records; they wait in a
// bounded queue (full: the record is dropped and counted, the caller never
// waits) and the writer thread commits them in batches, one transaction per
// batch. The same thread prunes old rows in small steps and calls the tickers
// (alarm rules that fire on time, not on reports) at a steady pace.
//
// Devices are named by a handle from RegisterDevice, so that no caller waits
// for the disk to learn a device's row id; the writer resolves it.
class HistoryWriter
{
public:
    struct Options
    {
        size_t queueCapacity = 1 << 18; // records waiting; more are dropped
        int64_t batchMs = 250;          // longest wait before a commit
        size_t batchRows = 20000;       // records per transaction at most
        int64_t tickMs = 250;           // pace of the tickers
        RetentionPolicy retention;
        // After a full disk: how long recording pauses before it tries again.
        int64_t fullDiskRetryMs = 60000;
        // A limit on the file's pages (0: none); tests play a full disk with it.
        int64_t maxPageCount = 0;
    };

    using DeviceHandle = int32_t;

    // A new row or a change of an alarm (see AlarmEngine).
    struct AlarmRow
    {
        int64_t id = 0; // chosen by the engine, unique across processes
        DeviceHandle device = 0;
        int rule = 0;
        int severity = 0;
        int64_t raisedMs = 0;
        int64_t clearedMs = 0; // 0 while active
        int64_t acknowledgedMs = 0;
        std::string acknowledgedBy;
        std::string detail;
    };

    // One alarm rule row; `device` 0 is the global default.
    struct RuleRow
    {
        std::string address; // empty: the global rule
        int rule = 0;
        bool enabled = true;
        int threshold = 0;
        int raiseAfterS = 0;
        int clearAfterS = 0;
        bool remove = false; // drop the device's override of this rule
    };

    // Opens its own connection to `file` (which HistoryDatabase::Open has
    // created and migrated) and starts the writer thread.
    HistoryWriter(std::filesystem::path file, const HistoryClock& clock, Options options,
                  HistoryLogCallback log = {});
    ~HistoryWriter(); // Stop()
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // False when the connection could not be opened (nothing is recorded).
    bool Running() const { return m_running.load(); }

    // Names a device; the same address gives the same handle. Never blocks
    // on the disk.
    DeviceHandle RegisterDevice(const DeviceKey& key);
    void RenameDevice(DeviceHandle device, const std::string& name);

    // Each returns false when the record was dropped (queue full, stopped or
    // recording paused).
    bool Sample(DeviceHandle device, const SignalSample& sample);
    bool Event(DeviceHandle device, int64_t timeMs, int kind, int code, std::string detail);
    bool PeriodBegin(DeviceHandle device, PeriodKind kind, int64_t timeMs);
    bool PeriodEnd(DeviceHandle device, PeriodKind kind, int64_t timeMs);
    bool Alarm(AlarmRow row);
    bool Rule(RuleRow row);

    // Called on the writer thread every `tickMs` with the clock's time. Add
    // before records flow; a ticker returns quickly.
    void AddTicker(std::function<void(int64_t nowMs)> ticker);

    // Blocks until everything queued before the call is committed (or
    // dropped). For tests, benchmarks and shutdown; never on the UI thread.
    void Flush();
    // Commits what is queued and ends the thread. Idempotent.
    void Stop();

    uint64_t Dropped() const { return m_dropped.load(); }
    uint64_t Committed() const { return m_committed.load(); }
    // Recording is paused after a full disk (SQLITE_FULL) until a retry works.
    bool Paused() const { return m_paused.load(); }

    // Prunes everything that is due by the clock now, on the writer thread,
    // and returns when done (tests with a moved clock).
    void RunRetentionNow();

private:
    struct Impl; // queue, connection, prepared statements, device table
    std::unique_ptr<Impl> m_impl;
    const HistoryClock& m_clock;
    Options m_options;
    HistoryLogCallback m_log;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_paused{false};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_committed{0};
};

} // namespace vireo
