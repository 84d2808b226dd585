#include "history/history_writer.h"

#include "history/history_database.h"
#include "history/sample_block.h"
#include "history/sqlite_statement.h"
#include "history/writer_registry.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <sqlite3.h>
#include <thread>
#include <unordered_map>
#include <variant>

namespace vireo {

namespace {

struct SampleRecord
{
    HistoryWriter::DeviceHandle device;
    SignalSample sample;
};
struct EventRecord
{
    HistoryWriter::DeviceHandle device;
    int64_t timeMs;
    int kind;
    int code;
    std::string detail;
};
struct PeriodRecord
{
    HistoryWriter::DeviceHandle device;
    PeriodKind kind;
    int64_t timeMs;
    bool begin;
};
struct RenameRecord
{
    HistoryWriter::DeviceHandle device;
    std::string name;
};
struct ReaddressRecord
{
    HistoryWriter::DeviceHandle device;
    std::string address;
};
struct RetentionRecord
{};

using Record = std::variant<SampleRecord, EventRecord, PeriodRecord, HistoryWriter::AlarmRow,
                            HistoryWriter::RuleRow, RenameRecord, ReaddressRecord, RetentionRecord>;

using Clock = std::chrono::steady_clock;

uint64_t rulesIn(const std::vector<Record>& records)
{
    return static_cast<uint64_t>(std::count_if(records.begin(), records.end(), [](const Record& r) {
        return std::holds_alternative<HistoryWriter::RuleRow>(r);
    }));
}

} // namespace

struct HistoryWriter::Impl
{
    std::filesystem::path file;
    std::unique_ptr<HistoryDatabase> database;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable flushed;
    std::vector<Record> queue;
    uint64_t enqueued = 0; // records accepted so far
    uint64_t done = 0;     // of those, committed or given up
    bool flushWanted = false;
    bool stop = false;
    std::vector<std::function<void(int64_t)>> tickers;
    std::vector<std::function<void(HistoryDatabase&, int64_t, int64_t)>> syncs;
    std::thread thread;

    std::mutex devicesMutex;
    std::vector<DeviceKey> devices;              // handle - 1; the address as registered
    std::map<std::string, DeviceHandle> handles; // by the address now

    // --- writer thread only ---
    std::vector<int64_t> deviceIds; // handle - 1 -> row id, 0 unknown
    int rowError = SQLITE_OK;       // why the last DeviceRow gave 0
    // Devices whose periods an earlier run left open were closed (once a run).
    std::set<std::string> leftoversClosed;
    // Devices that moved since they registered: the address of their row.
    std::unordered_map<DeviceHandle, std::string> movedTo;
    // The reports of this batch by device and minute: appended to what is
    // stored, so that two processes recording the same device add up.
    std::map<std::pair<DeviceHandle, int64_t>, SampleBlock> pending;
    struct Span
    {
        int64_t firstMs = INT64_MAX;
        int64_t lastMs = INT64_MIN;
    };
    std::unordered_map<DeviceHandle, Span> spans; // times recorded in this batch
    Clock::time_point pausedUntil{};              // no commit before (a pause, a retry)
    bool failureLogged = false;                   // the fault of a failing run is logged once
    int64_t pageLimit = 0;                        // the max_page_count in force
    // Records other than samples that a failed commit left, oldest first:
    // they go with the next commit that works.
    std::vector<Record> held;
    int64_t nextPruneMs = 0;

    bool ended = false; // the thread has ended (mutex)

    // When a record may be turned away (and counted).
    enum class Drop { WhenPausedOrFull, WhenFull, Never };
    bool Push(HistoryWriter& w, Record record, Drop drop);
    void Run(HistoryWriter& w);
    // One transaction of records; false when it failed (rolled back).
    bool Commit(HistoryWriter& w, std::vector<Record>& batch, bool& retention, int& sqliteError);
    // The SQLite result of writing one record.
    int Apply(Record& record, bool& retention);
    // Keeps what a failed or paused batch holds except its samples (dropped,
    // counted), within the bound.
    void Hold(HistoryWriter& w, std::vector<Record>& batch);
    void Resumed(HistoryWriter& w);
    // Beats the writer's row and calls the syncs.
    void Sync(HistoryWriter& w, int64_t nowMs);
    // Gives the device row `id` the address; SQLite's result.
    int Readdress(int64_t id, const std::string& address);
    void Failed(HistoryWriter& w, int error, Clock::time_point now);
    void AddSample(const SampleRecord& record);
    bool WriteBlocks();
    int64_t DeviceRow(DeviceHandle handle);
    // One pruning step; true when there was nothing (more) to prune.
    bool PruneStep(const RetentionPolicy& policy, int64_t nowMs);
    void Touch(DeviceHandle handle, int64_t firstMs, int64_t lastMs);

    SqliteStatement readBlock, insertBlock, insertSummary, insertEvent, beginPeriod, endPeriod,
        upsertAlarm, upsertRule, deleteRule, touchDevice, renameDevice;
    RetentionPruner pruner;
    WriterRegistry registry;
};

HistoryWriter::HistoryWriter(std::filesystem::path file, const HistoryClock& clock, Options options,
                             HistoryLogCallback log)
    : m_impl(std::make_unique<Impl>()), m_clock(clock), m_options(options), m_log(std::move(log))
{
    m_impl->file = std::move(file);
    auto opened = HistoryDatabase::Open(m_impl->file, false);
    if (!opened.database) {
        if (m_log) {
            m_log("history: cannot open " + m_impl->file.string() + ": " + opened.error);
        }
        m_impl->ended = true; // records are turned away
        return;
    }
    m_impl->database = std::move(opened.database);
    sqlite3* db = m_impl->database->Handle();
    m_maxPages = m_options.maxPageCount;
    Impl& d = *m_impl;
    // A block is read back and written whole: another program's reports of
    // the minute (or this one's of an earlier batch) and these add up.
    d.readBlock.Prepare(db, "SELECT data FROM sample_blocks WHERE device = ?1 AND minute = ?2");
    d.insertBlock.Prepare(db, "INSERT OR REPLACE INTO sample_blocks VALUES(?1, ?2, ?3)");
    d.insertSummary.Prepare(
        db, "INSERT INTO sample_minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
            "ON CONFLICT(device, minute) DO UPDATE SET n = n + excluded.n, "
            "locked_n = locked_n + excluded.locked_n, i_min = min(i_min, excluded.i_min), "
            "i_sum = i_sum + excluded.i_sum, i_max = max(i_max, excluded.i_max), "
            "q_min = min(q_min, excluded.q_min), q_sum = q_sum + excluded.q_sum, "
            "q_max = max(q_max, excluded.q_max)");
    d.insertEvent.Prepare(db, "INSERT INTO events(device, t, kind, code, detail, writer) "
                              "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    // Periods are this writer's own: another program's outages of the same
    // device are its business.
    d.beginPeriod.Prepare(db, "INSERT INTO periods(device, kind, begin_ms, writer) "
                              "VALUES(?1, ?2, ?3, ?4)");
    d.endPeriod.Prepare(db, "UPDATE periods SET end_ms = max(begin_ms, ?3) "
                            "WHERE writer = ?4 AND device = ?1 AND kind = ?2 AND end_ms IS NULL");
    d.upsertAlarm.Prepare(db,
                          "INSERT INTO alarms(id, device, rule, severity, raised_ms, cleared_ms, "
                          "ack_ms, ack_by, detail) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
                          "ON CONFLICT(id) DO UPDATE SET "
                          // Never from a stale copy: a clear or an acknowledgement
                          // another program stored stays as it is.
                          "cleared_ms = CASE WHEN cleared_ms <> 0 THEN cleared_ms "
                          "ELSE excluded.cleared_ms END, "
                          "ack_ms = CASE WHEN ack_ms <> 0 THEN ack_ms ELSE excluded.ack_ms END, "
                          "ack_by = CASE WHEN ack_ms <> 0 THEN ack_by ELSE excluded.ack_by END, "
                          "detail = excluded.detail");
    d.upsertRule.Prepare(db, "INSERT OR REPLACE INTO alarm_rules VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    d.deleteRule.Prepare(db, "DELETE FROM alarm_rules WHERE address = ?1 AND rule = ?2");
    d.touchDevice.Prepare(db, "UPDATE devices SET first_ms = min(coalesce(first_ms, ?2), ?2), "
                              "last_ms = max(coalesce(last_ms, ?3), ?3) WHERE id = ?1");
    d.renameDevice.Prepare(db, "UPDATE devices SET name = ?2 WHERE id = ?1");
    d.registry.Register(db, WriterRegistry::ThisProcess(m_options.program), m_clock.NowMs());
    m_writerId = d.registry.Id();
    m_running = true;
    d.thread = std::thread([this] { m_impl->Run(*this); });
}

HistoryWriter::~HistoryWriter()
{
    Stop();
}

HistoryWriter::DeviceHandle HistoryWriter::RegisterDevice(const DeviceKey& key)
{
    std::lock_guard lock(m_impl->devicesMutex);
    auto it = m_impl->handles.find(key.address);
    if (it != m_impl->handles.end()) {
        m_impl->devices[it->second - 1].name = key.name;
        return it->second;
    }
    m_impl->devices.push_back(key);
    const auto handle = static_cast<DeviceHandle>(m_impl->devices.size());
    m_impl->handles.emplace(key.address, handle);
    return handle;
}

void HistoryWriter::RenameDevice(DeviceHandle device, const std::string& name)
{
    {
        std::lock_guard lock(m_impl->devicesMutex);
        if (device < 1 || device > static_cast<DeviceHandle>(m_impl->devices.size())) {
            return;
        }
        m_impl->devices[device - 1].name = name;
    }
    m_impl->Push(*this, RenameRecord{device, name}, Impl::Drop::Never);
}

void HistoryWriter::ReaddressDevice(DeviceHandle device, const std::string& address)
{
    {
        std::lock_guard lock(m_impl->devicesMutex);
        if (device < 1 || device > static_cast<DeviceHandle>(m_impl->devices.size()) ||
            address.empty()) {
            return;
        }
        std::erase_if(m_impl->handles,
                      [device](const auto& entry) { return entry.second == device; });
        m_impl->handles[address] = device;
    }
    m_impl->Push(*this, ReaddressRecord{device, address}, Impl::Drop::Never);
}

bool HistoryWriter::Impl::Push(HistoryWriter& w, Record record, Drop drop)
{
    {
        std::lock_guard lock(mutex);
        if (stop || ended) {
            w.m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        const bool full = queue.size() >= w.m_options.queueCapacity;
        const bool paused = w.m_paused.load(std::memory_order_relaxed);
        if ((drop == Drop::WhenPausedOrFull && (paused || full)) ||
            (drop == Drop::WhenFull && full)) {
            w.m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        queue.push_back(std::move(record));
        ++enqueued;
        if (queue.size() < w.m_options.batchRows) {
            return true;
        }
    }
    wake.notify_one();
    return true;
}

bool HistoryWriter::Sample(DeviceHandle device, const SignalSample& sample)
{
    return m_impl->Push(*this, SampleRecord{device, sample}, Impl::Drop::WhenPausedOrFull);
}

bool HistoryWriter::Event(DeviceHandle device, int64_t timeMs, int kind, int code,
                          std::string detail)
{
    return m_impl->Push(*this, EventRecord{device, timeMs, kind, code, std::move(detail)},
                        Impl::Drop::WhenFull);
}

bool HistoryWriter::PeriodBegin(DeviceHandle device, PeriodKind kind, int64_t timeMs)
{
    return m_impl->Push(*this, PeriodRecord{device, kind, timeMs, true}, Impl::Drop::Never);
}

bool HistoryWriter::PeriodEnd(DeviceHandle device, PeriodKind kind, int64_t timeMs)
{
    return m_impl->Push(*this, PeriodRecord{device, kind, timeMs, false}, Impl::Drop::Never);
}

bool HistoryWriter::Alarm(AlarmRow row)
{
    return m_impl->Push(*this, std::move(row), Impl::Drop::Never);
}

bool HistoryWriter::Rule(RuleRow row)
{
    m_rulesInFlight.fetch_add(1);
    return m_impl->Push(*this, std::move(row), Impl::Drop::Never);
}

void HistoryWriter::SetMaxPageCount(int64_t pages)
{
    m_maxPages = pages;
    m_impl->wake.notify_one();
}

void HistoryWriter::AddSync(std::function<void(HistoryDatabase&, int64_t, int64_t)> sync)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->syncs.push_back(std::move(sync));
}

void HistoryWriter::AddTicker(std::function<void(int64_t)> ticker)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->tickers.push_back(std::move(ticker));
}

void HistoryWriter::Flush()
{
    Impl& d = *m_impl;
    std::unique_lock lock(d.mutex);
    if (d.ended) {
        return;
    }
    const uint64_t target = d.enqueued;
    d.flushWanted = true;
    d.wake.notify_one();
    d.flushed.wait(lock, [&] { return d.done >= target || d.ended; });
}

void HistoryWriter::RunRetentionNow()
{
    if (m_impl->Push(*this, RetentionRecord{}, Impl::Drop::Never)) {
        Flush();
    }
}

void HistoryWriter::Stop()
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        d.stop = true;
    }
    d.wake.notify_one();
    if (d.thread.joinable()) {
        d.thread.join();
    }
    m_running = false;
}

// --- the writer thread ---

void HistoryWriter::Impl::Run(HistoryWriter& w)
{
    const Options& options = w.m_options;
    auto nextTick = Clock::now();
    std::vector<Record> batch;
    std::vector<std::function<void(int64_t)>> tickersCopy;
    bool lastTry = true;
    auto nextSync = Clock::now();
    for (;;) {
        bool stopping;
        [[maybe_unused]] uint64_t taken;
        {
            std::unique_lock lock(mutex);
            // A batch waits for batchMs or batchRows, whichever comes first;
            // the tick keeps its pace meanwhile.
            const auto batchDue = Clock::now() + std::chrono::milliseconds(options.batchMs);
            auto wakeAt = std::min(batchDue, nextTick);
            wake.wait_until(lock, wakeAt, [&] {
                return stop || flushWanted || queue.size() >= options.batchRows;
            });
            stopping = stop;
            flushWanted = false;
            if (queue.size() > options.batchRows) {
                batch.assign(std::make_move_iterator(queue.begin()),
                             std::make_move_iterator(queue.begin() + options.batchRows));
                queue.erase(queue.begin(), queue.begin() + options.batchRows);
                flushWanted = true; // the rest goes at once
            } else {
                batch.swap(queue);
            }
            taken = batch.size();
            tickersCopy = tickers;
            // Counted as done once taken: a Flush never waits for a full disk.
            done += taken;
        }

        const int64_t maxPages = w.m_maxPages.load();
        if (maxPages != pageLimit) {
            pageLimit = maxPages;
            // SQLite's own ceiling stands for none.
            const std::string limit =
                "PRAGMA max_page_count=" + std::to_string(maxPages > 0 ? maxPages : 4294967294LL);
            database->Exec(limit.c_str());
        }
        const auto now = Clock::now();
        const bool retryDue = !held.empty() && now >= pausedUntil;
        if (!batch.empty() || retryDue) {
            if (w.m_paused && now < pausedUntil) {
                Hold(w, batch); // samples go, the rest waits for the disk
            } else {
                // What waited goes first: a period's end after its begin.
                if (!held.empty()) {
                    batch.insert(batch.begin(), std::make_move_iterator(held.begin()),
                                 std::make_move_iterator(held.end()));
                    held.clear();
                }
                bool retention = false;
                int error = SQLITE_OK;
                if (Commit(w, batch, retention, error)) {
                    Resumed(w);
                    w.m_committed.fetch_add(batch.size(), std::memory_order_relaxed);
                    w.m_rulesInFlight.fetch_sub(rulesIn(batch));
                    if (retention) {
                        const int64_t nowMs = w.m_clock.NowMs();
                        for (int step = 0; step < 100000 && !PruneStep(options.retention, nowMs);
                             ++step) {
                        }
                    }
                } else {
                    Failed(w, error, now);
                    Hold(w, batch);
                }
            }
            w.m_pending.store(held.size(), std::memory_order_relaxed);
            batch.clear();
        }
        flushed.notify_all();

        const auto tickNow = Clock::now();
        if (tickNow >= nextTick) {
            nextTick = tickNow + std::chrono::milliseconds(options.tickMs);
            const int64_t nowMs = w.m_clock.NowMs();
            for (const auto& ticker : tickersCopy) {
                ticker(nowMs);
            }
            if (!w.m_paused && tickNow >= nextSync) {
                nextSync = tickNow + std::chrono::milliseconds(options.syncMs);
                Sync(w, nowMs);
            }
            if (!w.m_paused && held.empty() && nowMs >= nextPruneMs) {
                nextPruneMs = nowMs + options.retention.stepEveryMs;
                PruneStep(options.retention, nowMs);
            }
        }
        if (stopping) {
            std::lock_guard lock(mutex);
            if (queue.empty() && (held.empty() || !lastTry)) {
                ended = true;
                break;
            }
            if (queue.empty()) {
                lastTry = false; // one more commit of what waits, then the end
                pausedUntil = {};
                w.m_paused = false;
            }
        }
    }
    registry.End(database->Handle(), w.m_clock.NowMs());
    if (!held.empty()) {
        w.m_lost.fetch_add(held.size(), std::memory_order_relaxed);
        if (w.m_log) {
            w.m_log("history: " + std::to_string(held.size()) +
                    " alarm, period and event records could not be written before the end");
        }
        held.clear();
        w.m_pending = 0;
    }
    flushed.notify_all();
}

void HistoryWriter::Impl::Sync(HistoryWriter& w, int64_t nowMs)
{
    const int rc = registry.Beat(database->Handle(), nowMs, w.m_options.writerDeadMs);
    w.m_writerId = registry.Id();
    if (rc != SQLITE_OK) {
        return; // busy or full: the next beat tries again
    }
    std::vector<std::function<void(HistoryDatabase&, int64_t, int64_t)>> copy;
    {
        std::lock_guard lock(mutex);
        copy = syncs;
    }
    for (const auto& sync : copy) {
        sync(*database, registry.Id(), nowMs);
    }
}

void HistoryWriter::Impl::Hold(HistoryWriter& w, std::vector<Record>& batch)
{
    uint64_t samples = 0;
    for (Record& record : batch) {
        if (std::holds_alternative<SampleRecord>(record)) {
            ++samples;
        } else if (!std::holds_alternative<RetentionRecord>(record)) {
            held.push_back(std::move(record));
        }
    }
    w.m_dropped.fetch_add(samples, std::memory_order_relaxed);
    const size_t capacity = std::max<size_t>(w.m_options.heldCapacity, 1);
    if (held.size() <= capacity) {
        return;
    }
    // Over the bound: events go first, oldest first; alarms, periods and
    // rules only when nothing else is left to let go. Each is counted.
    size_t excess = held.size() - capacity;
    uint64_t lost = 0;
    for (auto it = held.begin(); excess > 0 && it != held.end();) {
        if (std::holds_alternative<EventRecord>(*it)) {
            it = held.erase(it);
            --excess;
            ++lost;
        } else {
            ++it;
        }
    }
    if (excess > 0) {
        std::vector<Record> gone(std::make_move_iterator(held.begin()),
                                 std::make_move_iterator(held.begin() + excess));
        w.m_rulesInFlight.fetch_sub(rulesIn(gone));
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(excess));
        lost += excess;
    }
    w.m_lost.fetch_add(lost, std::memory_order_relaxed);
}

void HistoryWriter::Impl::Resumed(HistoryWriter& w)
{
    if (w.m_paused && w.m_log) {
        w.m_log("history: recording resumed");
    }
    w.m_paused = false;
    w.m_pauseReason = PauseReason::None;
    w.m_pausedSinceMs = 0;
    pausedUntil = {};
    failureLogged = false;
}

void HistoryWriter::Impl::Failed(HistoryWriter& w, int error, Clock::time_point now)
{
    w.m_writeErrors.fetch_add(1, std::memory_order_relaxed);
    deviceIds.clear(); // rows made in the rolled-back transaction are gone
    const int primary = error & 0xFF;
    if (primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) {
        const PauseReason reason =
            primary == SQLITE_FULL ? PauseReason::DiskFull : PauseReason::IoError;
        pausedUntil = now + std::chrono::milliseconds(w.m_options.fullDiskRetryMs);
        if (!w.m_paused) {
            w.m_pausedSinceMs = w.m_clock.NowMs();
            w.m_pauseReason = reason;
            w.m_paused = true;
            if (w.m_log) {
                // Once: the retries that follow stay quiet.
                w.m_log(reason == PauseReason::DiskFull
                            ? "history: the disk is full; recording paused"
                            : std::string("history: the file cannot be written (") +
                                  sqlite3_errstr(error) + "); recording paused");
            }
        }
        return;
    }
    // Busy (another program held the file too long) or a passing fault: the
    // records that matter go with the next batch.
    pausedUntil = now + std::chrono::milliseconds(w.m_options.batchMs);
    if (!failureLogged && w.m_log) {
        w.m_log(std::string("history: a batch could not be written: ") + sqlite3_errstr(error));
        failureLogged = true;
    }
}

bool HistoryWriter::Impl::Commit(HistoryWriter& /*w*/, std::vector<Record>& batch, bool& retention,
                                 int& sqliteError)
{
    sqlite3* db = database->Handle();
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteError = rc;
        return false;
    }
    for (Record& record : batch) {
        rc = Apply(record, retention);
        if (rc != SQLITE_OK) {
            break;
        }
    }
    if (rc != SQLITE_OK) {
        pending.clear();
    } else if (!WriteBlocks()) {
        rc = sqlite3_errcode(db);
    } else {
        for (const auto& [handle, span] : spans) {
            Touch(handle, span.firstMs, span.lastMs);
        }
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    spans.clear();
    if (rc != SQLITE_OK) {
        sqliteError = rc == SQLITE_DONE ? SQLITE_ERROR : rc;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

int64_t HistoryWriter::Impl::DeviceRow(DeviceHandle handle)
{
    if (handle < 1) {
        return 0;
    }
    if (deviceIds.size() < static_cast<size_t>(handle)) {
        deviceIds.resize(handle, 0);
    }
    int64_t& id = deviceIds[handle - 1];
    if (id == 0) {
        DeviceKey key;
        {
            std::lock_guard lock(devicesMutex);
            if (static_cast<size_t>(handle) > devices.size()) {
                return 0;
            }
            key = devices[handle - 1];
        }
        if (auto moved = movedTo.find(handle); moved != movedTo.end()) {
            key.address = moved->second;
        }
        id = database->DeviceId(key.address, key.name);
        if (id == 0) {
            rowError = sqlite3_errcode(database->Handle());
        } else if (leftoversClosed.insert(key.address).second) {
            // Periods a killed program of an older version (no writer of
            // record) left open end at the device's last record; those of
            // known writers are ended with their writer (WriterRegistry).
            SqliteStatement close(database->Handle(),
                                  "UPDATE periods SET end_ms = max(begin_ms, coalesce((SELECT "
                                  "last_ms FROM devices WHERE id = ?1), begin_ms)) "
                                  "WHERE writer = 0 AND device = ?1 AND end_ms IS NULL");
            close.Bind(1, id).Run();
        }
    }
    return id;
}

void HistoryWriter::Impl::Touch(DeviceHandle handle, int64_t firstMs, int64_t lastMs)
{
    const int64_t id = DeviceRow(handle);
    if (id != 0) {
        touchDevice.Bind(1, id).Bind(2, firstMs).Bind(3, lastMs).Run();
    }
}

int HistoryWriter::Impl::Apply(Record& record, bool& retention)
{
    auto noteTime = [this](DeviceHandle handle, int64_t timeMs) {
        Span& span = spans[handle];
        span.firstMs = std::min(span.firstMs, timeMs);
        span.lastMs = std::max(span.lastMs, timeMs);
    };
    // A device row that cannot be made fails the record; an unknown handle
    // is a caller's slip and is let go.
    int rc = SQLITE_DONE;
    auto row = [&](DeviceHandle handle) {
        rowError = SQLITE_OK;
        const int64_t id = DeviceRow(handle);
        if (id == 0 && rowError != SQLITE_OK) {
            rc = rowError;
        }
        return id;
    };
    if (auto* sample = std::get_if<SampleRecord>(&record)) {
        AddSample(*sample);
        noteTime(sample->device, sample->sample.timeMs);
    } else if (auto* event = std::get_if<EventRecord>(&record)) {
        if (const int64_t id = row(event->device)) {
            insertEvent.Bind(1, id).Bind(2, event->timeMs).Bind(3, int64_t{event->kind});
            insertEvent.Bind(4, int64_t{event->code}).Bind(5, event->detail);
            rc = insertEvent.Bind(6, registry.Id()).Run();
            noteTime(event->device, event->timeMs);
        }
    } else if (auto* period = std::get_if<PeriodRecord>(&record)) {
        if (const int64_t id = row(period->device)) {
            const auto kind = static_cast<int64_t>(period->kind);
            // A period of the kind still open (a crash, a recorder that went
            // away) ends where the new one begins.
            const int64_t writer = registry.Id();
            rc = endPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs).Bind(4, writer).Run();
            if (period->begin && rc == SQLITE_DONE) {
                beginPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs);
                rc = beginPeriod.Bind(4, writer).Run();
            }
            noteTime(period->device, period->timeMs);
        }
    } else if (auto* alarm = std::get_if<AlarmRow>(&record)) {
        if (const int64_t id = row(alarm->device)) {
            upsertAlarm.Bind(1, alarm->id).Bind(2, id).Bind(3, int64_t{alarm->rule});
            upsertAlarm.Bind(4, int64_t{alarm->severity}).Bind(5, alarm->raisedMs);
            upsertAlarm.Bind(6, alarm->clearedMs).Bind(7, alarm->acknowledgedMs);
            rc = upsertAlarm.Bind(8, alarm->acknowledgedBy).Bind(9, alarm->detail).Run();
        }
    } else if (auto* rule = std::get_if<RuleRow>(&record)) {
        if (rule->remove) {
            rc = deleteRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule}).Run();
        } else {
            upsertRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule});
            upsertRule.Bind(3, int64_t{rule->enabled ? 1 : 0}).Bind(4, int64_t{rule->threshold});
            upsertRule.Bind(5, int64_t{rule->raiseAfterS}).Bind(6, int64_t{rule->clearAfterS});
            rc = upsertRule.Run();
        }
    } else if (auto* rename = std::get_if<RenameRecord>(&record)) {
        if (const int64_t id = row(rename->device)) {
            rc = renameDevice.Bind(1, id).Bind(2, rename->name).Run();
        }
    } else if (auto* readdress = std::get_if<ReaddressRecord>(&record)) {
        if (const int64_t id = row(readdress->device)) {
            rc = Readdress(id, readdress->address);
            movedTo[readdress->device] = readdress->address;
            leftoversClosed.insert(readdress->address);
        }
    } else if (std::holds_alternative<RetentionRecord>(record)) {
        retention = true;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int HistoryWriter::Impl::Readdress(int64_t id, const std::string& address)
{
    sqlite3* db = database->Handle();
    const int64_t holder = database->FindDevice(address);
    if (holder == id) {
        return SQLITE_DONE;
    }
    if (holder != 0) {
        // A device that used the address before keeps its history under a
        // name of its own; the device moving in goes on with its row.
        SqliteStatement aside(db,
                              "UPDATE devices SET address = address || '~' || id WHERE id = ?1");
        const int rc = aside.Bind(1, holder).Run();
        if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    SqliteStatement move(db, "UPDATE devices SET address = ?2 WHERE id = ?1");
    return move.Bind(1, id).Bind(2, address).Run();
}

void HistoryWriter::Impl::AddSample(const SampleRecord& record)
{
    const int64_t minute = SampleBlock::MinuteOf(record.sample.timeMs);
    SampleBlock& block = pending[{record.device, minute}];
    block.minute = minute;
    block.Append(record.sample);
}

bool HistoryWriter::Impl::WriteBlocks()
{
    auto write = [this](DeviceHandle handle, const SampleBlock& block) {
        const int64_t id = DeviceRow(handle);
        if (id == 0 || block.count == 0) {
            return true;
        }
        readBlock.Bind(1, id).Bind(2, block.minute);
        const int read = readBlock.Step();
        if (read != SQLITE_ROW && read != SQLITE_DONE) {
            readBlock.Reset();
            return false;
        }
        const std::string data = block.Encode(read == SQLITE_ROW ? readBlock.Blob(0) : "");
        readBlock.Reset();
        insertBlock.Bind(1, id).Bind(2, block.minute).BindBlob(3, data.data(), data.size());
        if (insertBlock.Run() != SQLITE_DONE) {
            return false;
        }
        insertSummary.Bind(1, id).Bind(2, block.minute).Bind(3, int64_t{block.count});
        insertSummary.Bind(4, int64_t{block.lockedCount}).Bind(5, int64_t{block.intensityMin});
        insertSummary.Bind(6, block.intensitySum).Bind(7, int64_t{block.intensityMax});
        insertSummary.Bind(8, int64_t{block.qualityMin}).Bind(9, block.qualitySum);
        insertSummary.Bind(10, int64_t{block.qualityMax});
        return insertSummary.Run() == SQLITE_DONE;
    };
    bool ok = true;
    for (const auto& [key, block] : pending) {
        ok = ok && write(key.first, block);
    }
    pending.clear();
    return ok;
}

bool HistoryWriter::Impl::PruneStep(const RetentionPolicy& policy, int64_t nowMs)
{
    return pruner.Step(database->Handle(), policy, nowMs) != RetentionPruner::Outcome::More;
}

} // namespace vireo
