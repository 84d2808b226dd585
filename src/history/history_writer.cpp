#include "history/history_writer.h"

#include "history/history_database.h"
#include "history/sample_block.h"
#include "history/sqlite_statement.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
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
struct RetentionRecord
{};

using Record = std::variant<SampleRecord, EventRecord, PeriodRecord, HistoryWriter::AlarmRow,
                            HistoryWriter::RuleRow, RenameRecord, RetentionRecord>;

using Clock = std::chrono::steady_clock;

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
    std::thread thread;

    std::mutex devicesMutex;
    std::vector<DeviceKey> devices; // handle - 1
    std::map<std::string, DeviceHandle> handles;

    // --- writer thread only ---
    std::vector<int64_t> deviceIds; // handle - 1 -> row id, 0 unknown
    // The reports of this batch by device and minute: appended to what is
    // stored, so that two processes recording the same device add up.
    std::map<std::pair<DeviceHandle, int64_t>, SampleBlock> pending;
    struct Span
    {
        int64_t firstMs = INT64_MAX;
        int64_t lastMs = INT64_MIN;
    };
    std::unordered_map<DeviceHandle, Span> spans; // times recorded in this batch
    Clock::time_point pausedUntil{};
    bool diskFull = false; // the last commit failed for a full disk
    int64_t nextPruneMs = 0;

    bool ended = false; // the thread has ended (mutex)

    bool Push(HistoryWriter& w, Record record, bool mayDrop);
    void Run(HistoryWriter& w);
    // One transaction of records; false when it failed (rolled back).
    bool Commit(HistoryWriter& w, std::vector<Record>& batch, bool& retention, int& sqliteError);
    void Apply(HistoryWriter& w, Record& record, bool& retention);
    void AddSample(const SampleRecord& record);
    bool WriteBlocks();
    int64_t DeviceRow(DeviceHandle handle);
    // One pruning step; true when there was nothing (more) to prune.
    bool PruneStep(const RetentionPolicy& policy, int64_t nowMs);
    void Touch(DeviceHandle handle, int64_t firstMs, int64_t lastMs);

    SqliteStatement insertBlock, insertSummary, insertEvent, beginPeriod, endPeriod, upsertAlarm,
        upsertRule, deleteRule, touchDevice, renameDevice;
    SqliteStatement pruneBlocks, pruneSummaries, pruneEvents, prunePeriods, pruneAlarms;
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
    if (m_options.maxPageCount > 0) {
        const std::string limit = "PRAGMA max_page_count=" + std::to_string(m_options.maxPageCount);
        m_impl->database->Exec(limit.c_str());
    }
    Impl& d = *m_impl;
    d.insertBlock.Prepare(db, "INSERT INTO sample_blocks VALUES(?1, ?2, ?3) "
                              "ON CONFLICT(device, minute) DO UPDATE SET "
                              "data = CAST(data || excluded.data AS BLOB)");
    d.insertSummary.Prepare(
        db, "INSERT INTO sample_minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
            "ON CONFLICT(device, minute) DO UPDATE SET n = n + excluded.n, "
            "locked_n = locked_n + excluded.locked_n, i_min = min(i_min, excluded.i_min), "
            "i_sum = i_sum + excluded.i_sum, i_max = max(i_max, excluded.i_max), "
            "q_min = min(q_min, excluded.q_min), q_sum = q_sum + excluded.q_sum, "
            "q_max = max(q_max, excluded.q_max)");
    d.insertEvent.Prepare(db, "INSERT INTO events(device, t, kind, code, detail) "
                              "VALUES(?1, ?2, ?3, ?4, ?5)");
    d.beginPeriod.Prepare(db, "INSERT INTO periods(device, kind, begin_ms) VALUES(?1, ?2, ?3)");
    d.endPeriod.Prepare(db, "UPDATE periods SET end_ms = max(begin_ms, ?3) "
                            "WHERE device = ?1 AND kind = ?2 AND end_ms IS NULL");
    d.upsertAlarm.Prepare(db,
                          "INSERT INTO alarms(id, device, rule, severity, raised_ms, cleared_ms, "
                          "ack_ms, ack_by, detail) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
                          "ON CONFLICT(id) DO UPDATE SET cleared_ms = excluded.cleared_ms, "
                          "ack_ms = excluded.ack_ms, ack_by = excluded.ack_by, "
                          "detail = excluded.detail");
    d.upsertRule.Prepare(db, "INSERT OR REPLACE INTO alarm_rules VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    d.deleteRule.Prepare(db, "DELETE FROM alarm_rules WHERE address = ?1 AND rule = ?2");
    d.touchDevice.Prepare(db, "UPDATE devices SET first_ms = min(coalesce(first_ms, ?2), ?2), "
                              "last_ms = max(coalesce(last_ms, ?3), ?3) WHERE id = ?1");
    d.renameDevice.Prepare(db, "UPDATE devices SET name = ?2 WHERE id = ?1");
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
    m_impl->Push(*this, RenameRecord{device, name}, false);
}

bool HistoryWriter::Impl::Push(HistoryWriter& w, Record record, bool mayDrop)
{
    {
        std::lock_guard lock(mutex);
        if (stop || ended) {
            w.m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        if (mayDrop && (w.m_paused.load(std::memory_order_relaxed) ||
                        queue.size() >= w.m_options.queueCapacity)) {
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
    return m_impl->Push(*this, SampleRecord{device, sample}, true);
}

bool HistoryWriter::Event(DeviceHandle device, int64_t timeMs, int kind, int code,
                          std::string detail)
{
    return m_impl->Push(*this, EventRecord{device, timeMs, kind, code, std::move(detail)}, true);
}

bool HistoryWriter::PeriodBegin(DeviceHandle device, PeriodKind kind, int64_t timeMs)
{
    return m_impl->Push(*this, PeriodRecord{device, kind, timeMs, true}, false);
}

bool HistoryWriter::PeriodEnd(DeviceHandle device, PeriodKind kind, int64_t timeMs)
{
    return m_impl->Push(*this, PeriodRecord{device, kind, timeMs, false}, false);
}

bool HistoryWriter::Alarm(AlarmRow row)
{
    return m_impl->Push(*this, std::move(row), false);
}

bool HistoryWriter::Rule(RuleRow row)
{
    return m_impl->Push(*this, std::move(row), false);
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
    if (m_impl->Push(*this, RetentionRecord{}, false)) {
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
    for (;;) {
        bool stopping;
        uint64_t taken;
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
        }

        if (!batch.empty()) {
            const auto now = Clock::now();
            if (w.m_paused && now < pausedUntil) {
                // A full disk: what was queued before the pause is let go.
                w.m_dropped.fetch_add(taken, std::memory_order_relaxed);
            } else {
                bool retention = false;
                int error = SQLITE_OK;
                if (Commit(w, batch, retention, error)) {
                    w.m_paused = false;
                    if (diskFull && w.m_log) {
                        w.m_log("history: recording resumed");
                    }
                    diskFull = false;
                    w.m_committed.fetch_add(taken, std::memory_order_relaxed);
                    if (retention) {
                        const int64_t nowMs = w.m_clock.NowMs();
                        for (int step = 0; step < 100000 && !PruneStep(options.retention, nowMs);
                             ++step) {
                        }
                    }
                } else {
                    w.m_dropped.fetch_add(taken, std::memory_order_relaxed);
                    if (error == SQLITE_FULL) {
                        pausedUntil = now + std::chrono::milliseconds(options.fullDiskRetryMs);
                        w.m_paused = true;
                        if (!diskFull && w.m_log) {
                            // Once: the retries that follow stay quiet.
                            w.m_log("history: the disk is full; recording paused");
                        }
                        diskFull = true;
                    } else if (w.m_log) {
                        w.m_log(std::string("history: a batch could not be written: ") +
                                sqlite3_errstr(error));
                    }
                }
            }
            batch.clear();
        }
        if (w.m_paused && Clock::now() >= pausedUntil) {
            w.m_paused = false; // try again with the next batch
        }
        {
            std::lock_guard lock(mutex);
            done += taken;
        }
        flushed.notify_all();

        const auto now = Clock::now();
        if (now >= nextTick) {
            nextTick = now + std::chrono::milliseconds(options.tickMs);
            const int64_t nowMs = w.m_clock.NowMs();
            for (const auto& ticker : tickersCopy) {
                ticker(nowMs);
            }
            if (!w.m_paused && nowMs >= nextPruneMs) {
                nextPruneMs = nowMs + options.retention.stepEveryMs;
                PruneStep(options.retention, nowMs);
            }
        }
        if (stopping) {
            std::lock_guard lock(mutex);
            if (queue.empty()) {
                ended = true;
                break;
            }
        }
    }
    flushed.notify_all();
}

bool HistoryWriter::Impl::Commit(HistoryWriter& w, std::vector<Record>& batch, bool& retention,
                                 int& sqliteError)
{
    sqlite3* db = database->Handle();
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteError = rc;
        return false;
    }
    for (Record& record : batch) {
        Apply(w, record, retention);
    }
    if (!WriteBlocks()) {
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
        id = database->DeviceId(key.address, key.name);
        if (id != 0) {
            // Periods a killed program left open end at the device's last
            // record, not at whatever this run records first.
            SqliteStatement close(database->Handle(),
                                  "UPDATE periods SET end_ms = max(begin_ms, coalesce((SELECT "
                                  "last_ms FROM devices WHERE id = ?1), begin_ms)) "
                                  "WHERE device = ?1 AND end_ms IS NULL");
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

void HistoryWriter::Impl::Apply(HistoryWriter& w, Record& record, bool& retention)
{
    auto noteTime = [this](DeviceHandle handle, int64_t timeMs) {
        Span& span = spans[handle];
        span.firstMs = std::min(span.firstMs, timeMs);
        span.lastMs = std::max(span.lastMs, timeMs);
    };
    if (auto* sample = std::get_if<SampleRecord>(&record)) {
        AddSample(*sample);
        noteTime(sample->device, sample->sample.timeMs);
    } else if (auto* event = std::get_if<EventRecord>(&record)) {
        if (const int64_t id = DeviceRow(event->device)) {
            insertEvent.Bind(1, id).Bind(2, event->timeMs).Bind(3, int64_t{event->kind});
            insertEvent.Bind(4, int64_t{event->code}).Bind(5, event->detail).Run();
            noteTime(event->device, event->timeMs);
        }
    } else if (auto* period = std::get_if<PeriodRecord>(&record)) {
        if (const int64_t id = DeviceRow(period->device)) {
            const auto kind = static_cast<int64_t>(period->kind);
            // A period of the kind still open (a crash, a recorder that went
            // away) ends where the new one begins.
            endPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs).Run();
            if (period->begin) {
                beginPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs).Run();
            }
            noteTime(period->device, period->timeMs);
        }
    } else if (auto* alarm = std::get_if<AlarmRow>(&record)) {
        if (const int64_t id = DeviceRow(alarm->device)) {
            upsertAlarm.Bind(1, alarm->id).Bind(2, id).Bind(3, int64_t{alarm->rule});
            upsertAlarm.Bind(4, int64_t{alarm->severity}).Bind(5, alarm->raisedMs);
            upsertAlarm.Bind(6, alarm->clearedMs).Bind(7, alarm->acknowledgedMs);
            upsertAlarm.Bind(8, alarm->acknowledgedBy).Bind(9, alarm->detail).Run();
        }
    } else if (auto* rule = std::get_if<RuleRow>(&record)) {
        if (rule->remove) {
            deleteRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule}).Run();
        } else {
            upsertRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule});
            upsertRule.Bind(3, int64_t{rule->enabled ? 1 : 0}).Bind(4, int64_t{rule->threshold});
            upsertRule.Bind(5, int64_t{rule->raiseAfterS}).Bind(6, int64_t{rule->clearAfterS});
            upsertRule.Run();
        }
    } else if (auto* rename = std::get_if<RenameRecord>(&record)) {
        if (const int64_t id = DeviceRow(rename->device)) {
            renameDevice.Bind(1, id).Bind(2, rename->name).Run();
        }
    } else if (std::holds_alternative<RetentionRecord>(record)) {
        retention = true;
    }
    (void)w;
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
        insertBlock.Bind(1, id)
            .Bind(2, block.minute)
            .BindBlob(3, block.data.data(), block.data.size());
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
    sqlite3* db = database->Handle();
    const int64_t rawBefore = SampleBlock::MinuteOf(nowMs - policy.rawMs);
    const int64_t summaryBefore = SampleBlock::MinuteOf(nowMs - policy.summaryMs);
    const int64_t keepFrom = nowMs - policy.summaryMs;
    if (pruneBlocks.Get() == nullptr) {
        pruneBlocks.Prepare(db, "DELETE FROM sample_blocks WHERE (device, minute) IN "
                                "(SELECT device, minute FROM sample_blocks WHERE minute < ?1 "
                                "LIMIT ?2)");
        pruneSummaries.Prepare(db, "DELETE FROM sample_minutes WHERE (device, minute) IN "
                                   "(SELECT device, minute FROM sample_minutes WHERE minute < ?1 "
                                   "LIMIT ?2)");
        pruneEvents.Prepare(db, "DELETE FROM events WHERE id IN "
                                "(SELECT id FROM events WHERE t < ?1 LIMIT ?2)");
        prunePeriods.Prepare(db, "DELETE FROM periods WHERE id IN (SELECT id FROM periods "
                                 "WHERE end_ms IS NOT NULL AND end_ms < ?1 LIMIT ?2)");
        pruneAlarms.Prepare(db, "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms "
                                "WHERE cleared_ms <> 0 AND cleared_ms < ?1 LIMIT ?2)");
    }
    const int64_t limit = policy.stepRows;
    struct Step
    {
        SqliteStatement* statement;
        int64_t before;
    };
    const Step steps[] = {{&pruneBlocks, rawBefore},
                          {&pruneSummaries, summaryBefore},
                          {&pruneEvents, keepFrom},
                          {&prunePeriods, keepFrom},
                          {&pruneAlarms, keepFrom}};
    for (const Step& step : steps) {
        if (step.statement->Bind(1, step.before).Bind(2, limit).Run() != SQLITE_DONE) {
            return true; // busy or full: the next step tries again
        }
        if (sqlite3_changes(db) > 0) {
            return false; // one table per step; more may remain
        }
    }
    return true;
}

} // namespace vireo
