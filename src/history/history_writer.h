#pragma once

#include "history/history_clock.h"
#include "history/history_types.h"
#include "history/retention_pruner.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vireo {

class HistoryDatabase;

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
        // After a full disk or an I/O error: how long recording pauses before
        // it tries again.
        int64_t fullDiskRetryMs = 60000;
        // Alarm, period, event and rule records a failed commit keeps for the
        // next one; past it events go first, then the oldest (counted in Lost).
        size_t heldCapacity = 20000;
        // A limit on the file's pages (0: none); tests play a full disk with it.
        int64_t maxPageCount = 0;
        // How long a commit waits for another program holding the file; a
        // batch that still finds it busy goes again, samples and all, while
        // the queue has room.
        int busyTimeoutMs = 5000;
        // The program, as its writer row names it ("vireo", "vireo-monitor").
        std::string program = "vireo";
        // Pace of the writer row's beat and of the syncs (AddSync).
        int64_t syncMs = 1000;
        // A writer not seen for this long is dead (its process on this host
        // being gone is enough).
        int64_t writerDeadMs = 15000;
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
    // The device answers at `address` now: its history goes on in its row,
    // which takes the new address (a row that had it before keeps its
    // history as "address~id"); RegisterDevice(address) gives this handle.
    void ReaddressDevice(DeviceHandle device, const std::string& address);

    // Each returns false when the record was dropped: a sample when the
    // queue is full or recording paused, any record once stopped. Records
    // other than samples are never turned away while running; a commit that
    // fails keeps them for the next one (see heldCapacity).
    bool Sample(DeviceHandle device, const SignalSample& sample);
    bool Event(DeviceHandle device, int64_t timeMs, int kind, int code, std::string detail);
    bool PeriodBegin(DeviceHandle device, PeriodKind kind, int64_t timeMs);
    bool PeriodEnd(DeviceHandle device, PeriodKind kind, int64_t timeMs);
    bool Alarm(AlarmRow row);
    bool Rule(RuleRow row);

    // A limit on the file's pages from the next commit on (0: none); the
    // file never shrinks below its size. A paused recording tries again at
    // once. Tests play a full disk with it.
    void SetMaxPageCount(int64_t pages);

    // Called on the writer thread every `syncMs` (not while paused), after
    // the writer's row was marked seen, with the writer's connection (no
    // transaction open), its writer id and the clock's time. A sync may read
    // and write the file (leases, what other programs changed); it returns
    // quickly. Add before records flow.
    void AddSync(std::function<void(HistoryDatabase& db, int64_t writerId, int64_t nowMs)> sync);
    // This run's row in the file's writers (0 until it could be written).
    int64_t WriterId() const { return m_writerId.load(); }
    // Rule records queued or held, not committed yet: a sync that reloads
    // the rules from the file waits until there are none.
    uint64_t RulesInFlight() const { return m_rulesInFlight.load(); }

    // Called on the writer thread every `tickMs` with the clock's time. Add
    // before records flow; a ticker returns quickly.
    void AddTicker(std::function<void(int64_t nowMs)> ticker);

    // Blocks until everything queued before the call is committed (or
    // dropped). For tests, benchmarks and shutdown; never on the UI thread.
    void Flush();
    // Commits what is queued and ends the thread. Idempotent.
    void Stop();

    enum class PauseReason { None, DiskFull, IoError };

    // Samples not recorded (queue full, paused, failed commit).
    uint64_t Dropped() const { return m_dropped.load(); }
    uint64_t Committed() const { return m_committed.load(); }
    // Recording is paused after a full disk (SQLITE_FULL) or an I/O error
    // until a retry works; samples are dropped meanwhile, the rest waits.
    bool Paused() const { return m_paused.load(); }
    PauseReason Reason() const { return m_pauseReason.load(); }
    int64_t PausedSinceMs() const { return m_pausedSinceMs.load(); }
    uint64_t WriteErrors() const { return m_writeErrors.load(); }
    // Alarm, period and event records waiting for a commit that works.
    uint64_t Pending() const { return m_pending.load(); }
    // Such records let go: past the bound, or still waiting at Stop.
    uint64_t Lost() const { return m_lost.load(); }

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
    std::atomic<PauseReason> m_pauseReason{PauseReason::None};
    std::atomic<int64_t> m_pausedSinceMs{0};
    std::atomic<uint64_t> m_writeErrors{0};
    std::atomic<uint64_t> m_pending{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<int64_t> m_maxPages{0};
    std::atomic<int64_t> m_writerId{0};
    std::atomic<uint64_t> m_rulesInFlight{0};
};

} // namespace vireo
