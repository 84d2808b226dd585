#include "history/retention_pruner.h"

#include "history/sample_block.h"

namespace vireo {

RetentionPruner::Outcome RetentionPruner::Step(sqlite3* db, const RetentionPolicy& policy,
                                               int64_t nowMs)
{
    if (db != m_db) {
        m_db = db;
        for (size_t i = 0; i < kPruneStatements.size(); ++i) {
            m_statements[i].Prepare(db, kPruneStatements[i]);
        }
    }
    const int64_t keepFrom = nowMs - policy.summaryMs;
    const int64_t before[kPruneStatements.size()] = {SampleBlock::MinuteOf(nowMs - policy.rawMs),
                                                     SampleBlock::MinuteOf(keepFrom), keepFrom,
                                                     keepFrom, keepFrom};
    for (size_t i = 0; i < kPruneStatements.size(); ++i) {
        SqliteStatement& statement = m_statements[i];
        if (!statement.Valid() ||
            statement.Bind(1, before[i]).Bind(2, int64_t{policy.stepRows}).Run() != SQLITE_DONE) {
            return Outcome::Failed;
        }
        if (sqlite3_changes(db) > 0) {
            return Outcome::More; // one table per step
        }
    }
    return Outcome::Done;
}

} // namespace vireo
