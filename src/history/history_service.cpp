#include "history/history_service.h"

#include "history/alarm_sharing.h"

#include <sqlite3.h>

namespace vireo {

HistoryService::HistoryService(Options options) : m_file(std::move(options.file))
{
    if (options.clock == nullptr) {
        m_ownClock = std::make_unique<HistoryClock>();
        m_clock = m_ownClock.get();
    } else {
        m_clock = options.clock;
    }
    auto opened = HistoryDatabase::Open(m_file, true);
    m_movedAside = opened.movedAside;
    if (!opened.database) {
        m_error = opened.error;
        if (options.log) {
            options.log("history: cannot open " + m_file.string() + ": " + m_error);
        }
    } else if (!m_movedAside.empty() && options.log) {
        options.log("history: " + m_file.string() + " was damaged; moved aside as " +
                    m_movedAside.string() + " and started anew");
    }
    AlarmRuleBook rules;
    std::vector<Alarm> active;
    std::vector<std::pair<std::string, std::string>> versions;
    if (opened.database) {
        rules = AlarmRuleBook::Load(*opened.database);
        opened.database.reset(); // the writer and the queries have their own
        if (auto query = HistoryQuery::Open(m_file)) {
            active = query->ActiveAlarms();
            versions = query->LastVersions();
        }
        m_writer = std::make_shared<HistoryWriter>(m_file, *m_clock, options.writer, options.log);
        m_ok = m_writer->Running();
    }
    if (!m_writer) {
        // Turns every record away; the fault is logged already.
        m_writer = std::make_shared<HistoryWriter>(m_file, *m_clock, options.writer);
    }
    m_alarms = std::make_shared<AlarmEngine>(*m_clock, m_writer.get());
    if (m_ok) {
        // Loaded rules go in without being written back.
        std::weak_ptr<AlarmEngine> engine = m_alarms;
        m_writer->AddTicker([engine](int64_t) {
            if (auto alarms = engine.lock()) {
                alarms->Tick();
            }
        });
        // Other programs writing the file: one of them evaluates a device's
        // alarms, the others read them; rules and acknowledgements travel.
        m_alarms->UseLeases();
        auto sharing = std::make_shared<AlarmSharing>(engine, m_writer.get());
        m_writer->AddSync([sharing](HistoryDatabase& db, int64_t writerId, int64_t nowMs) {
            sharing->Sync(db, writerId, nowMs);
        });
    }
    m_alarms->Restore(std::move(active));
    for (auto& [address, version] : versions) {
        m_alarms->RestoreVersion(address, std::move(version));
    }
    m_alarms->LoadRules(std::move(rules));
    if (m_ok && opened.uncleanEnd) {
        // The last program ended without closing the file (or another one
        // holds it): the whole file is read once, apart from the recording.
        m_checkThread = std::thread([this, log = options.log] { checkInBackground(log); });
    }
}

void HistoryService::checkInBackground(const HistoryLogCallback& log)
{
    std::string detail;
    const auto outcome = HistoryDatabase::QuickCheck(
        m_file,
        [this](sqlite3* db) {
            std::lock_guard lock(m_checkMutex);
            m_checking = db;
            if (db != nullptr && m_checkStopped) {
                sqlite3_interrupt(db);
            }
        },
        &detail);
    if (outcome == HistoryDatabase::Check::Damaged) {
        m_damaged = true;
        if (log) {
            log("history: " + m_file.string() + " is damaged (" + detail +
                "); recording goes on, copy the file and start a new one");
        }
    }
}

HistoryService::~HistoryService()
{
    Stop();
}

std::shared_ptr<DeviceRecorder> HistoryService::MakeRecorder(const DeviceKey& key)
{
    return std::make_shared<DeviceRecorder>(m_ok ? m_writer : nullptr, m_alarms, key);
}

HistoryStatus HistoryService::Status() const
{
    HistoryStatus status;
    status.open = m_ok;
    if (!m_writer) {
        return status;
    }
    status.paused = m_writer->Paused();
    if (status.paused) {
        status.reason =
            m_writer->Reason() == HistoryWriter::PauseReason::IoError ? "I/O error" : "disk full";
        status.pausedSinceMs = m_writer->PausedSinceMs();
    }
    status.samplesDropped = m_writer->Dropped();
    status.writeErrors = m_writer->WriteErrors();
    status.pendingRecords = m_writer->Pending();
    status.recordsLost = m_writer->Lost();
    status.damaged = m_damaged.load();
    return status;
}

std::unique_ptr<HistoryQuery> HistoryService::OpenQuery() const
{
    return m_ok ? HistoryQuery::Open(m_file) : nullptr;
}

void HistoryService::Stop()
{
    {
        std::lock_guard lock(m_checkMutex);
        m_checkStopped = true;
        if (m_checking != nullptr) {
            sqlite3_interrupt(m_checking);
        }
    }
    if (m_checkThread.joinable()) {
        m_checkThread.join();
    }
    if (m_writer) {
        m_writer->Stop();
    }
}

} // namespace vireo
