#pragma once

#include "history/history_types.h"
#include "history/sqlite_statement.h"

#include <array>
#include <cstdint>

namespace vireo {

// The statements of one retention step, in the order a step runs them. Each
// deletes at most ?2 rows older than ?1 (a minute for the sample tables, a
// time in ms for the others), and each finds its rows through an index that
// leads on that column, so a step costs the same on a day's file as on a
// year's, and one that finds nothing returns after a single index probe.
inline constexpr std::array<const char*, 5> kPruneStatements = {
    "DELETE FROM sample_blocks WHERE (device, minute) IN "
    "(SELECT device, minute FROM sample_blocks WHERE minute < ?1 ORDER BY minute LIMIT ?2)",
    "DELETE FROM sample_minutes WHERE (device, minute) IN "
    "(SELECT device, minute FROM sample_minutes WHERE minute < ?1 ORDER BY minute LIMIT ?2)",
    "DELETE FROM events WHERE id IN "
    "(SELECT id FROM events WHERE t < ?1 ORDER BY t LIMIT ?2)",
    "DELETE FROM periods WHERE id IN (SELECT id FROM periods "
    "WHERE end_ms > 0 AND end_ms < ?1 ORDER BY end_ms LIMIT ?2)",
    "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms "
    "WHERE cleared_ms > 0 AND cleared_ms < ?1 ORDER BY cleared_ms LIMIT ?2)",
};

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

// Runs retention steps on one connection (the writer's). A step deletes from
// the first table that has rows due, at most `stepRows` of them, in one
// statement (its own transaction unless one is open).
class RetentionPruner
{
public:
    enum class Outcome {
        Done,   // nothing (more) is due
        More,   // rows were deleted; more may be due
        Failed, // busy, full or an I/O error: the next step tries again
    };

    Outcome Step(sqlite3* db, const RetentionPolicy& policy, int64_t nowMs);

private:
    sqlite3* m_db = nullptr;
    SqliteStatement m_statements[kPruneStatements.size()];
};

} // namespace vireo
