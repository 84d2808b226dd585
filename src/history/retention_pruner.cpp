#include "history/retention_pruner.h"

#include "history/sample_block.h"

namespace vireo {

bool RetentionPruner::prepare(sqlite3* db)
{
    if (db != m_db) {
        m_db = db;
        for (size_t i = 0; i < kPruneStatements.size(); ++i) {
            m_statements[i].Prepare(db, kPruneStatements[i]);
        }
    }
    for (const auto& statement : m_statements) {
        if (!statement.Valid()) {
            return false;
        }
    }
    return true;
}

int64_t RetentionPruner::nextDevice(int batch)
{
    if (m_queued >= m_queue.size()) {
        m_queue.clear();
        m_queued = 0;
        SqliteStatement& list = m_statements[0];
        list.Bind(1, m_cursor).Bind(2, int64_t{batch});
        while (list.Step() == SQLITE_ROW) {
            m_queue.push_back(list.Int(0));
        }
        list.Reset();
        if (m_queue.empty()) {
            m_cursor = 0; // through the list: the next call starts over
            return 0;
        }
        m_cursor = m_queue.back();
    }
    return m_queue[m_queued];
}

RetentionPruner::Outcome RetentionPruner::Step(sqlite3* db, const RetentionPolicy& policy,
                                               int64_t nowMs)
{
    if (!prepare(db)) {
        return Outcome::Failed;
    }
    const int64_t rows = std::max(policy.stepRows, 1);
    const int64_t rawBefore = SampleBlock::MinuteOf(nowMs - policy.rawMs);
    const int64_t summaryBefore = SampleBlock::MinuteOf(nowMs - policy.summaryMs);
    const int visits = std::max(policy.devicesPerStep, 1);
    for (int visit = 0; visit < visits; ++visit) {
        const int64_t device = nextDevice(visits);
        if (device == 0) {
            m_deviceCount = m_passCount; // a pass is through
            m_passCount = 0;
            break;
        }
        int changes = 0;
        for (size_t i : {size_t{1}, size_t{2}}) {
            SqliteStatement& prune = m_statements[i];
            prune.Bind(1, device).Bind(2, i == 1 ? rawBefore : summaryBefore).Bind(3, rows);
            if (prune.Run() != SQLITE_DONE) {
                return Outcome::Failed;
            }
            changes += sqlite3_changes(db);
        }
        if (changes > 0) {
            m_clean = 0;
            if (changes < rows) {
                ++m_queued; // this device is through
                ++m_passCount;
            }
            return Outcome::More; // one device's rows per step
        }
        ++m_queued;
        ++m_passCount;
        ++m_clean;
    }
    const int64_t keepFrom = nowMs - policy.summaryMs;
    for (size_t i = 3; i < kPruneStatements.size(); ++i) {
        SqliteStatement& prune = m_statements[i];
        if (prune.Bind(1, keepFrom).Bind(2, rows).Run() != SQLITE_DONE) {
            return Outcome::Failed;
        }
        if (sqlite3_changes(db) > 0) {
            return Outcome::More;
        }
    }
    return m_deviceCount >= 0 && m_clean >= m_deviceCount ? Outcome::Done : Outcome::More;
}

} // namespace vireo
