#pragma once

#include "history/alarm_engine.h"
#include "history/device_recorder.h"
#include "history/history_clock.h"
#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_writer.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vireo {

// The history of a program, created once at start-up (desktop, monitor):
// opens (and if need be repairs) the file, owns the writer and the alarm
// engine and hands out a recorder per device. Stop (or destruction) commits
// what is queued. Construction opens and migrates the file (a migration may
// take a while once): a window program builds it on a start-up worker, not
// on the UI thread. When the last program ended without closing the file,
// the whole file is checked on a thread of its own after construction; damage
// found shows in Status().damaged and the log, and recording goes on. Recorders should go before
// the service does; what they record after Stop is dropped.
class HistoryService
{
public:
    struct Options
    {
        std::filesystem::path file = kHistoryFileName;
        HistoryWriter::Options writer;
        // Null: the system clock. Must outlive the service.
        const HistoryClock* clock = nullptr;
        // One line per fault of the recorder (full disk, failed write).
        HistoryLogCallback log;
    };

    explicit HistoryService(Options options);
    ~HistoryService();
    HistoryService(const HistoryService&) = delete;
    HistoryService& operator=(const HistoryService&) = delete;

    // False when the file could not be opened; recorders then record nothing
    // and alarms still work in memory.
    bool Ok() const { return m_ok; }
    const std::string& Error() const { return m_error; }
    // Non-empty when the file failed its check on opening and was moved
    // here; a new history was started (tell the operator).
    const std::filesystem::path& MovedAside() const { return m_movedAside; }
    const std::filesystem::path& File() const { return m_file; }

    // A recorder for one device, to add to its DeviceSession's observers.
    std::shared_ptr<DeviceRecorder> MakeRecorder(const DeviceKey& key);

    // How recording stands now (paused, dropped, errors), from any thread.
    HistoryStatus Status() const;

    AlarmEngine& Alarms() { return *m_alarms; }
    HistoryWriter& Writer() { return *m_writer; }
    // A new read connection (for a worker thread); null on failure.
    std::unique_ptr<HistoryQuery> OpenQuery() const;

    void Stop();

private:
    std::unique_ptr<HistoryClock> m_ownClock;
    const HistoryClock* m_clock = nullptr;
    std::filesystem::path m_file;
    bool m_ok = false;
    std::string m_error;
    std::filesystem::path m_movedAside;
    std::shared_ptr<HistoryWriter> m_writer;
    std::shared_ptr<AlarmEngine> m_alarms;

    void checkInBackground(const HistoryLogCallback& log);
    std::thread m_checkThread;
    std::mutex m_checkMutex;
    sqlite3* m_checking = nullptr; // the check's connection while it runs
    bool m_checkStopped = false;
    std::atomic<bool> m_damaged{false};
};

} // namespace vireo
