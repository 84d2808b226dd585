#include "history/history_writer.h"

#include "history/history_writer_impl.h"

namespace vireo {

using namespace writer_detail;

HistoryWriter::HistoryWriter(std::filesystem::path file, const HistoryClock& clock, Options options,
                             HistoryLogCallback log)
    : m_impl(std::make_unique<Impl>()), m_clock(clock), m_options(options), m_log(std::move(log))
{
    m_impl->file = std::move(file);
    auto opened = HistoryDatabase::Open(m_impl->file, false, m_options.busyTimeoutMs);
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

} // namespace vireo
