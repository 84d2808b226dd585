#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_service.h"
#include "temp_dir.h"
#include "wait_for.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace vireo {
namespace {

constexpr int64_t kT0 = 1'800'000'000'000;
constexpr int64_t kS = kMsPerSecond;

// The disk fills while the device is connected; it loses its link, the
// link-lost alarm rises, the device comes back and the alarm clears, all
// while nothing can be written. Once space returns, the file holds all of it.
TEST(HistoryFaults, AnOutageDuringAFullDiskIsWrittenOnceSpaceReturns)
{
    using K = DeviceEvent::Kind;
    TempDir dir;
    ManualClock clock(kT0);
    HistoryService::Options options;
    options.file = dir.path() / kHistoryFileName;
    options.clock = &clock;
    options.writer.batchMs = 5;
    options.writer.tickMs = 5;
    options.writer.fullDiskRetryMs = 60000; // no retry but when space returns
    std::vector<std::string> lines;
    std::mutex linesMutex;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    };
    HistoryService service(options);
    ASSERT_TRUE(service.Ok()) << service.Error();
    const std::string address = "10.0.0.7";
    auto recorder = service.MakeRecorder({address, "Uplink"});
    recorder->OnEvent({K::Connected, clock.NowMs(), 0, {}});
    recorder->OnSignal({clock.NowMs(), true, true, 70, 60});
    service.Writer().Flush();

    service.Writer().SetMaxPageCount(1); // no page more than the file has
    // Reports over many minutes need new pages: the disk is full.
    for (int s = 1; s <= 86400 && !service.Status().paused; ++s) {
        clock.Set(kT0 + s * kS);
        recorder->OnSignal({clock.NowMs(), true, true, 70, s % 5 * 10});
        if (s % 60 == 0) {
            service.Writer().Flush();
        }
    }
    HistoryStatus status = service.Status();
    ASSERT_TRUE(status.paused);
    EXPECT_EQ(status.reason, "disk full");
    EXPECT_GT(status.pausedSinceMs, 0);
    const int64_t lostAt = clock.NowMs() + kS;
    clock.Set(lostAt);
    recorder->OnEvent({K::LinkLost, lostAt, 0, {}});
    clock.Advance(15 * kS); // past the rule's 10 s
    ASSERT_TRUE(waitFor([&] { return !service.Alarms().Active().empty(); }));
    const int64_t backAt = clock.NowMs() + 5 * kS;
    clock.Set(backAt);
    recorder->OnEvent({K::Reconnected, backAt, 0, {}});
    recorder->OnSignal({backAt, true, true, 70, 60});
    clock.Advance(5 * kS); // past the clear time
    ASSERT_TRUE(waitFor([&] { return service.Alarms().Active().empty(); }));
    service.Writer().Flush();
    status = service.Status();
    EXPECT_TRUE(status.paused);
    EXPECT_GT(status.pendingRecords, 3u); // periods, events, the alarm's raise and clear
    EXPECT_GT(status.samplesDropped, 0u);
    EXPECT_GT(status.writeErrors, 0u);

    service.Writer().SetMaxPageCount(0); // space returns
    ASSERT_TRUE(waitFor([&] {
        service.Writer().Flush();
        return !service.Status().paused && service.Status().pendingRecords == 0;
    }));
    EXPECT_EQ(service.Status().recordsLost, 0u);
    auto q = service.OpenQuery();
    const TimeRange all{kT0, clock.NowMs() + kS};
    const auto alarms = q->Alarms(address, all);
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].rule, AlarmRuleKind::LinkLost);
    EXPECT_GT(alarms[0].clearedMs, alarms[0].raisedMs);
    const auto lost = q->Periods(address, all, PeriodKind::LinkLost);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].beginMs, lostAt);
    EXPECT_EQ(lost[0].endMs, backAt);
    EXPECT_FALSE(lost[0].open);
    // The connected period ends at the loss; a new one begins on return.
    const auto connected = q->Periods(address, all, PeriodKind::Connected);
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_EQ(connected[0].endMs, lostAt);
    EXPECT_EQ(connected[1].beginMs, backAt);
    int linkEvents = 0;
    for (const auto& e : q->Events(address, all)) {
        linkEvents +=
            e.kind == static_cast<int>(K::LinkLost) || e.kind == static_cast<int>(K::Reconnected);
    }
    EXPECT_EQ(linkEvents, 2);
    std::lock_guard lock(linesMutex);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](auto& l) { return l.find("disk is full") != std::string::npos; }),
              1);
}

// Another program holds the file longer than a commit waits: the batches go
// again once it lets go, and not a report is lost.
TEST(HistoryFaults, ABusyFileDelaysRecordsAndLosesNone)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    ManualClock clock(kT0);
    HistoryWriter::Options options;
    options.batchMs = 5;
    options.busyTimeoutMs = 20;
    HistoryWriter writer(file, clock, options);
    const auto device = writer.RegisterDevice({"10.0.0.7", "Uplink"});
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    // The writer's own first commits (its writer row) may hold the file a moment.
    sqlite3_busy_timeout(other, 5000);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (int s = 0; s < 300; ++s) {
        writer.Sample(device, {kT0 + s * kS, true, true, 50, s % 100});
    }
    writer.Event(device, kT0, static_cast<int>(DeviceEvent::Kind::Connected), 0, "");
    ASSERT_TRUE(waitFor([&] { return writer.WriteErrors() >= 2; }));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    writer.Flush();
    EXPECT_EQ(writer.Dropped(), 0u);
    auto q = HistoryQuery::Open(file);
    EXPECT_EQ(q->Samples("10.0.0.7", {kT0, kT0 + 300 * kS}).size(), 300u);
    EXPECT_EQ(q->Events("10.0.0.7", {kT0, kT0 + kS}).size(), 1u);
}

// A file another program holds locked is busy, not damaged: opening fails
// and the file stays where it is; a file that is no database moves aside.
TEST(HistoryFaults, OnlyAFileSqliteCallsDamagedIsMovedAside)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "PRAGMA journal_mode=DELETE; CREATE TABLE t(x); BEGIN EXCLUSIVE; "
                           "INSERT INTO t VALUES(1);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    auto busy = HistoryDatabase::Open(file, true, 50);
    EXPECT_FALSE(busy.database);
    EXPECT_TRUE(busy.movedAside.empty());
    EXPECT_NE(busy.error.find("locked"), std::string::npos) << busy.error;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    auto opened = HistoryDatabase::Open(file);
    ASSERT_TRUE(opened.database) << opened.error;
    EXPECT_TRUE(opened.movedAside.empty());
    opened.database.reset();
    EXPECT_EQ(HistoryDatabase::QuickCheck(file), HistoryDatabase::Check::Sound);
}

// A file damaged inside (its first pages sound) opens at once; a program that
// ended without closing it has it checked in the background, and the damage
// is told, the file kept where it is and recording going on.
TEST(HistoryFaults, DamageInsideIsFoundInTheBackgroundAndTheFileKept)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    {
        auto opened = HistoryDatabase::Open(file);
        ASSERT_TRUE(opened.database);
        ASSERT_TRUE(opened.database->Exec(
            "INSERT INTO devices(id, address) VALUES(1, '10.0.0.1');"
            "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 5000) "
            "INSERT INTO events(device, t, kind, detail) SELECT 1, x, 3, hex(randomblob(20)) "
            "FROM n; PRAGMA wal_checkpoint(TRUNCATE);"));
    }
    const auto size = std::filesystem::file_size(file);
    ASSERT_GT(size, 40000u);
    {
        std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 3 * 4096 + 100));
        out << std::string(600, '\x5a');
        std::ofstream wal(file.string() + "-wal", std::ios::binary);
        wal << std::string(64, '\0'); // left by a program that was killed
    }
    HistoryService::Options options;
    options.file = file;
    std::vector<std::string> lines;
    std::mutex linesMutex;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    };
    HistoryService service(options);
    ASSERT_TRUE(service.Ok()) << service.Error();
    EXPECT_TRUE(service.MovedAside().empty());
    // The damage is in the status first, then in its log line.
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(linesMutex);
        return service.Status().damaged && !lines.empty();
    }));
    EXPECT_TRUE(std::filesystem::exists(file));
    std::lock_guard lock(linesMutex);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("damaged"), std::string::npos);
}

} // namespace
} // namespace vireo
