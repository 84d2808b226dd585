#pragma once

#include "history/history_types.h"
#include "history/sqlite_statement.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace vireo {

// The statements of retention, each answered from an index (a test holds
// them to it), so a step costs the same on a day's file as on a year's.
// The sample tables are kept by device and minute: they are pruned a device
// at a time (?1 the device, ?2 the first minute kept, ?3 the most rows), so
// the rows a step deletes lie together in the file. The other tables are
// pruned by time (?1 the first time kept, ?2 the most rows).
inline constexpr std::array<const char*, 6> kPruneStatements = {
    "SELECT id FROM devices WHERE id > ?1 ORDER BY id LIMIT ?2",
    "DELETE FROM sample_blocks WHERE device = ?1 AND minute < ?2 AND minute IN "
    "(SELECT minute FROM sample_blocks WHERE device = ?1 AND minute < ?2 ORDER BY minute "
    "LIMIT ?3)",
    "DELETE FROM sample_minutes WHERE device = ?1 AND minute < ?2 AND minute IN "
    "(SELECT minute FROM sample_minutes WHERE device = ?1 AND minute < ?2 ORDER BY minute "
    "LIMIT ?3)",
    "DELETE FROM events WHERE id IN "
    "(SELECT id FROM events WHERE t < ?1 ORDER BY t LIMIT ?2)",
    "DELETE FROM periods WHERE id IN (SELECT id FROM periods "
    "WHERE end_ms > 0 AND end_ms < ?1 ORDER BY end_ms LIMIT ?2)",
    "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms "
    "WHERE cleared_ms > 0 AND cleared_ms < ?1 ORDER BY cleared_ms LIMIT ?2)",
};

// How long the history keeps what. Raw reports go after `rawMs`; the
// per-minute summaries (min, mean, max, locked share) stay for `summaryMs`.
// A step deletes at most `stepRows` rows and looks at most at
// `devicesPerStep` devices; one step runs per `stepEveryMs`, so a large
// backlog never holds the writer for long.
struct RetentionPolicy
{
    int64_t rawMs = 14 * kMsPerDay;
    int64_t summaryMs = 400 * kMsPerDay;
    int stepRows = 2000;
    int devicesPerStep = 64;
    int64_t stepEveryMs = 1000;
};

// Runs retention steps on one connection (the writer's). Each statement of a
// step is its own transaction unless one is open. The devices are visited in
// turn, a few per step, so every device is looked at every few seconds.
class RetentionPruner
{
public:
    enum class Outcome {
        Done,   // nothing due in a whole pass over the devices, nor elsewhere
        More,   // rows were deleted, or the pass is not through
        Failed, // busy, full or an I/O error: the next step tries again
    };

    Outcome Step(sqlite3* db, const RetentionPolicy& policy, int64_t nowMs);

private:
    bool prepare(sqlite3* db);
    // The next device in turn, 0 when the list is through (a new round).
    int64_t nextDevice(int batch);

    sqlite3* m_db = nullptr;
    SqliteStatement m_statements[kPruneStatements.size()];
    std::vector<int64_t> m_queue; // devices of the round still to visit
    size_t m_queued = 0;          // of m_queue, visited
    int64_t m_cursor = 0;         // the last device taken into the queue
    int64_t m_clean = 0;          // devices in a row found with nothing due
    int64_t m_passCount = 0;      // devices visited in this pass
    int64_t m_deviceCount = -1;   // devices of the last whole pass (-1: none yet)
};

} // namespace vireo
