#include "history/writer_registry.h"

#include "history/sqlite_statement.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vireo {

namespace {

// Closes what writer `id` left open at `endMs` and lets its leases go.
int endWriter(sqlite3* db, int64_t id, int64_t endMs)
{
    SqliteStatement periods(db, "UPDATE periods SET end_ms = max(begin_ms, ?2), "
                                "ended_with_writer = 1 WHERE writer = ?1 AND end_ms IS NULL");
    SqliteStatement leases(db, "DELETE FROM alarm_leases WHERE writer = ?1");
    SqliteStatement row(db, "UPDATE writers SET ended_ms = max(?2, 1) WHERE id = ?1");
    for (SqliteStatement* s : {&periods, &row}) {
        const int rc = s->Bind(1, id).Bind(2, endMs).Run();
        if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    return leases.Bind(1, id).Run();
}

} // namespace

WriterRegistry::Identity WriterRegistry::ThisProcess(std::string program)
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return {std::move(program), host, static_cast<int64_t>(getpid())};
}

bool WriterRegistry::Register(sqlite3* db, const Identity& identity, int64_t nowMs)
{
    m_identity = identity;
    SqliteStatement insert(db, "INSERT INTO writers(program, host, pid, started_ms, seen_ms) "
                               "VALUES(?1, ?2, ?3, ?4, ?4)");
    if (insert.Bind(1, identity.program)
            .Bind(2, identity.host)
            .Bind(3, identity.pid)
            .Bind(4, nowMs)
            .Run() != SQLITE_DONE) {
        return false;
    }
    m_id = sqlite3_last_insert_rowid(db);
    return true;
}

int WriterRegistry::Beat(sqlite3* db, int64_t nowMs, int64_t deadAfterMs)
{
    if (m_id == 0 && !Register(db, m_identity, nowMs)) {
        return sqlite3_errcode(db);
    }
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        return rc;
    }
    // Seen again; a writer taken for dead while it could not write (a full
    // disk) is alive again.
    SqliteStatement seen(db, "UPDATE writers SET seen_ms = max(seen_ms, ?2), ended_ms = 0 "
                             "WHERE id = ?1");
    rc = seen.Bind(1, m_id).Bind(2, nowMs).Run();
    std::vector<std::pair<int64_t, int64_t>> dead; // id, last seen
    if (rc == SQLITE_DONE) {
        SqliteStatement others(db, "SELECT id, host, pid, seen_ms FROM writers "
                                   "WHERE ended_ms = 0 AND id <> ?1");
        others.Bind(1, m_id);
        while ((rc = others.Step()) == SQLITE_ROW) {
            const int64_t seenMs = others.Int(3);
            const bool gone = others.Text(1) == m_identity.host &&
                              others.Int(2) != m_identity.pid &&
                              kill(static_cast<pid_t>(others.Int(2)), 0) != 0 && errno == ESRCH;
            // A process gone from this host is dead once it missed a few
            // beats (a live one in another namespace of the same host name
            // keeps beating).
            if ((gone && nowMs - seenMs > deadAfterMs / 5) || nowMs - seenMs > deadAfterMs) {
                dead.emplace_back(others.Int(0), seenMs);
            }
        }
    }
    for (const auto& [id, seenMs] : dead) {
        if (rc != SQLITE_DONE) {
            break;
        }
        rc = endWriter(db, id, seenMs);
    }
    if (rc == SQLITE_DONE) {
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return rc;
}

int WriterRegistry::End(sqlite3* db, int64_t nowMs)
{
    if (m_id == 0) {
        return SQLITE_OK;
    }
    const int rc = endWriter(db, m_id, nowMs);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} // namespace vireo
