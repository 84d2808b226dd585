#include "history/alarm_sharing.h"

#include "history/alarm_rows.h"
#include "history/history_database.h"
#include "history/sqlite_statement.h"

#include <algorithm>

namespace vireo {

namespace {

// How far back acknowledgements of cleared alarms are taken in.
constexpr int64_t kRecentMs = kMsPerDay;
constexpr int64_t kRecentLimit = 1000;

std::vector<Alarm> readAlarms(sqlite3* db, int64_t sinceMs)
{
    // Active ones by the cleared_ms index, recent ones by the raised_ms one.
    SqliteStatement read(db, "SELECT a.id, d.address, d.name, a.rule, a.severity, a.raised_ms, "
                             "a.cleared_ms, a.ack_ms, a.ack_by, a.detail FROM alarms a "
                             "JOIN devices d ON d.id = a.device WHERE a.id IN "
                             "(SELECT id FROM alarms WHERE cleared_ms = 0 UNION "
                             "SELECT id FROM (SELECT id FROM alarms WHERE raised_ms >= ?1 "
                             "ORDER BY raised_ms DESC LIMIT ?2))");
    read.Bind(1, sinceMs).Bind(2, kRecentLimit);
    return ReadAlarmRows(read);
}

} // namespace

AlarmSharing::AlarmSharing(std::weak_ptr<AlarmEngine> engine, HistoryWriter* writer)
    : m_engine(std::move(engine)), m_writer(writer)
{}

void AlarmSharing::Sync(HistoryDatabase& db, int64_t writerId, int64_t nowMs)
{
    auto engine = m_engine.lock();
    if (!engine || writerId == 0) {
        return;
    }
    Lease(db, *engine, writerId, nowMs);
    ReadBack(db, *engine, nowMs);
}

void AlarmSharing::Lease(HistoryDatabase& db, AlarmEngine& engine, int64_t writerId, int64_t nowMs)
{
    sqlite3* handle = db.Handle();
    const auto watched = engine.Attached();
    if (sqlite3_exec(handle, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return; // busy: the leases held stay held a while
    }
    // Taken when free, expired or already ours; renewed while ours.
    SqliteStatement take(handle, "INSERT INTO alarm_leases VALUES(?1, ?2, ?3) "
                                 "ON CONFLICT(device) DO UPDATE SET writer = excluded.writer, "
                                 "expires_ms = excluded.expires_ms "
                                 "WHERE writer = excluded.writer OR expires_ms < ?4");
    SqliteStatement holder(handle, "SELECT writer FROM alarm_leases WHERE device = ?1");
    std::vector<std::string> held, elsewhere;
    bool ok = true;
    for (const DeviceKey& key : watched) {
        const int64_t device = db.FindDevice(key.address);
        if (device == 0) {
            continue; // nothing recorded yet: evaluated here meanwhile
        }
        if (take.Bind(1, device).Bind(2, writerId).Bind(3, nowMs + kLeaseMs).Bind(4, nowMs).Run() !=
            SQLITE_DONE) {
            ok = false;
            break;
        }
        holder.Bind(1, device);
        if (holder.Step() == SQLITE_ROW) {
            (holder.Int(0) == writerId ? held : elsewhere).push_back(key.address);
        }
        holder.Reset();
    }
    // Devices this program does not watch but another one evaluates: their
    // alarms are that program's to clear.
    SqliteStatement others(handle,
                           "SELECT d.address FROM alarm_leases l JOIN devices d "
                           "ON d.id = l.device WHERE l.writer <> ?1 AND l.expires_ms >= ?2");
    others.Bind(1, writerId).Bind(2, nowMs);
    while (ok && others.Step() == SQLITE_ROW) {
        std::string address = others.Text(0);
        if (std::find(held.begin(), held.end(), address) == held.end() &&
            std::find(elsewhere.begin(), elsewhere.end(), address) == elsewhere.end()) {
            elsewhere.push_back(std::move(address));
        }
    }
    others.Reset();
    if (!ok || sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
    }
    engine.SetLeases(held, elsewhere);
}

void AlarmSharing::ReadBack(HistoryDatabase& db, AlarmEngine& engine, int64_t nowMs)
{
    // The writer's own commits leave its connection's data_version as it
    // is: a change means another program wrote.
    SqliteStatement version(db.Handle(), "PRAGMA data_version");
    if (version.Step() != SQLITE_ROW) {
        return;
    }
    const int64_t current = version.Int(0);
    version.Reset();
    if (current == m_dataVersion) {
        return;
    }
    if (m_writer != nullptr && m_writer->RulesInFlight() != 0) {
        return; // this program's own rule change goes first; then read again
    }
    m_dataVersion = current;
    AlarmRuleBook rules = AlarmRuleBook::Load(db);
    const AlarmRuleBook mine = engine.Rules();
    if (!(rules.Global() == mine.Global()) || rules.Overrides() != mine.Overrides()) {
        engine.LoadRules(std::move(rules));
    }
    engine.Merge(readAlarms(db.Handle(), nowMs - kRecentMs));
}

} // namespace vireo
