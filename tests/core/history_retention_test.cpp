#include "history/history_database.h"
#include "history/retention_pruner.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vireo {
namespace {

// Every retention statement finds its rows through an index (a key or an
// index of the table): none reads a whole table, whatever the file's size.
TEST(HistoryRetention, EveryPruneStatementIsAnsweredFromAnIndex)
{
    TempDir dir;
    auto opened = HistoryDatabase::Open(dir.path() / kHistoryFileName);
    ASSERT_TRUE(opened.database) << opened.error;
    sqlite3* db = opened.database->Handle();
    for (const char* sql : kPruneStatements) {
        const std::string explain = std::string("EXPLAIN QUERY PLAN ") + sql;
        SqliteStatement plan(db, explain.c_str());
        ASSERT_TRUE(plan.Valid()) << sql << ": " << sqlite3_errmsg(db);
        plan.Bind(1, int64_t{1000}).Bind(2, int64_t{10});
        std::string steps;
        while (plan.Step() == SQLITE_ROW) {
            steps += plan.Text(3) + "\n";
        }
        EXPECT_EQ(steps.find("SCAN"), std::string::npos) << sql << "\n" << steps;
        EXPECT_NE(steps.find("SEARCH"), std::string::npos) << sql << "\n" << steps;
        EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << sql << "\n" << steps;
    }
}

} // namespace
} // namespace vireo
