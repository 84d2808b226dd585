#include "history/silence_store.h"

#include "history/history_database.h"
#include "history/sqlite_statement.h"

#include <sqlite3.h>

namespace vireo {

bool Silence::Covers(const std::string& address, const std::string& group) const
{
    return kind == Target::Device ? target == address : !group.empty() && target == group;
}

bool SilenceStore::Add(HistoryDatabase& database, Silence& silence, std::string* error)
{
    SqliteStatement insert(database.Handle(),
                           "INSERT INTO silences(kind, target, until_ms, reason, by, created_ms, "
                           "ended_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, 0)");
    if (!insert.Valid()) {
        if (error != nullptr) {
            *error = sqlite3_errmsg(database.Handle());
        }
        return false;
    }
    insert.Bind(1, static_cast<int64_t>(silence.kind))
        .Bind(2, silence.target)
        .Bind(3, silence.untilMs)
        .Bind(4, silence.reason)
        .Bind(5, silence.by)
        .Bind(6, silence.createdMs);
    if (insert.Run() != SQLITE_DONE) {
        if (error != nullptr) {
            *error = sqlite3_errmsg(database.Handle());
        }
        return false;
    }
    silence.id = sqlite3_last_insert_rowid(database.Handle());
    silence.endedMs = 0;
    return true;
}

bool SilenceStore::End(HistoryDatabase& database, int64_t id, int64_t nowMs)
{
    SqliteStatement end(database.Handle(),
                        "UPDATE silences SET ended_ms = ?2 WHERE id = ?1 AND ended_ms = 0 "
                        "AND until_ms > ?2");
    if (!end.Valid()) {
        return false;
    }
    end.Bind(1, id).Bind(2, nowMs);
    return end.Run() == SQLITE_DONE && sqlite3_changes(database.Handle()) == 1;
}

std::vector<Silence> SilenceStore::Running(HistoryDatabase& database, int64_t nowMs)
{
    std::vector<Silence> list;
    SqliteStatement read(database.Handle(),
                         "SELECT id, kind, target, until_ms, reason, by, created_ms FROM silences "
                         "WHERE ended_ms = 0 AND until_ms > ?1 ORDER BY id LIMIT 10000");
    if (!read.Valid()) {
        return list;
    }
    read.Bind(1, nowMs);
    while (read.Step() == SQLITE_ROW) {
        Silence s;
        s.id = read.Int(0);
        s.kind = read.Int(1) == static_cast<int64_t>(Silence::Target::Group)
                     ? Silence::Target::Group
                     : Silence::Target::Device;
        s.target = read.Text(2);
        s.untilMs = read.Int(3);
        s.reason = read.Text(4);
        s.by = read.Text(5);
        s.createdMs = read.Int(6);
        list.push_back(std::move(s));
    }
    return list;
}

bool IsSilenced(const std::vector<Silence>& silences, const std::string& address,
                const std::string& group, int64_t nowMs)
{
    for (const Silence& silence : silences) {
        if (silence.Running(nowMs) && silence.Covers(address, group)) {
            return true;
        }
    }
    return false;
}

} // namespace vireo
