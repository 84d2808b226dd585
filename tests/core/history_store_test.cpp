#include "history/device_recorder.h"
#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_service.h"
#include "history/history_writer.h"
#include "history/sample_block.h"
#include "temp_dir.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace vireo {
namespace {

constexpr int64_t kT0 = 1'800'000'000'000; // a whole minute
constexpr int64_t kS = kMsPerSecond;

HistoryWriter::Options quickWriter()
{
    HistoryWriter::Options options;
    options.batchMs = 5;
    options.tickMs = 5;
    return options;
}

struct Rig
{
    TempDir dir;
    std::filesystem::path file = dir.path() / kHistoryFileName;
    ManualClock clock{kT0};
    std::unique_ptr<HistoryWriter> writer;
    HistoryWriter::DeviceHandle device = 0;

    explicit Rig(HistoryWriter::Options options = quickWriter(), HistoryLogCallback log = {})
    {
        EXPECT_TRUE(HistoryDatabase::Open(file).database);
        writer = std::make_unique<HistoryWriter>(file, clock, options, std::move(log));
        device = writer->RegisterDevice({"10.0.0.7", "Uplink"});
    }
    std::unique_ptr<HistoryQuery> Query()
    {
        writer->Flush();
        return HistoryQuery::Open(file);
    }
};

TEST(HistoryStore, SeriesFoldsReportsFineAndByMinute)
{
    Rig rig;
    // Three minutes of one report a second: intensity climbs 0..59 within
    // each minute, quality is 50, the second minute is unlocked throughout.
    for (int m = 0; m < 3; ++m) {
        for (int s = 0; s < 60; ++s) {
            rig.writer->Sample(rig.device, {kT0 + m * kMsPerMinute + s * kS, m != 1, true, s, 50});
        }
    }
    // A late report for the first minute after the third began.
    rig.writer->Sample(rig.device, {kT0 + 500, true, true, 99, 10});
    auto q = rig.Query();
    ASSERT_TRUE(q);

    const TimeRange all{kT0, kT0 + 3 * kMsPerMinute};
    const auto samples = q->Samples("10.0.0.7", all);
    ASSERT_EQ(samples.size(), 181u);
    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                               [](auto& a, auto& b) { return a.timeMs < b.timeMs; }));
    EXPECT_EQ(samples[1].intensity, 99); // the late one, in its place

    // Fine: 3 minutes in at most 360 points -> buckets of 500 ms, one
    // report each; in 90 points, buckets of 2 s fold two reports each.
    EXPECT_EQ(q->Series("10.0.0.7", all, 360).size(), 181u);
    const auto twos = q->Series("10.0.0.7", all, 90);
    ASSERT_EQ(twos.size(), 90u);
    EXPECT_EQ(twos[0].count, 3);
    EXPECT_EQ(twos[0].intensityMax, 99);
    EXPECT_EQ(twos[1].count, 2);
    EXPECT_DOUBLE_EQ(twos[1].intensityMean, 2.5);

    // Coarse: one point per minute, folded by the database.
    const auto minutes = q->Series("10.0.0.7", all, 3);
    ASSERT_EQ(minutes.size(), 3u);
    EXPECT_EQ(minutes[0].count, 61);
    EXPECT_EQ(minutes[0].intensityMin, 0);
    EXPECT_EQ(minutes[0].intensityMax, 99);
    EXPECT_EQ(minutes[0].qualityMin, 10);
    EXPECT_NEAR(minutes[1].intensityMean, 29.5, 1e-9);
    EXPECT_DOUBLE_EQ(minutes[1].lockedShare, 0.0);
    EXPECT_DOUBLE_EQ(minutes[2].lockedShare, 1.0);
    EXPECT_EQ(minutes[2].timeMs, kT0 + 2 * kMsPerMinute);

    // A week at most ~2,000 points; nothing outside the reports.
    const auto week = q->Series("10.0.0.7", {kT0 - 7 * kMsPerDay, kT0 + kMsPerDay});
    EXPECT_LE(week.size(), 3u);
    EXPECT_TRUE(q->Series("10.9.9.9", all).empty());

    std::ostringstream csv;
    ASSERT_TRUE(q->ExportCsv("10.0.0.7", {kT0, kT0 + 2 * kS}, csv));
    EXPECT_EQ(csv.str(), "time,time_ms,locked,playing,intensity,quality\n"
                         "2027-01-15T08:00:00.000Z,1800000000000,1,1,0,50\n"
                         "2027-01-15T08:00:00.500Z,1800000000500,1,1,99,10\n"
                         "2027-01-15T08:00:01.000Z,1800000001000,1,1,1,50\n");
}

TEST(HistoryStore, TwoProgramsRecordingOneDeviceAddUp)
{
    Rig rig;
    HistoryWriter other(rig.file, rig.clock, quickWriter()); // the monitor, say
    const auto device = other.RegisterDevice({"10.0.0.7", "Uplink"});
    for (int s = 0; s < 40; ++s) {
        (s % 2 ? other.Sample(device, {kT0 + s * kS, true, true, 80, 70})
               : rig.writer->Sample(rig.device, {kT0 + s * kS, false, true, 10, 20}));
        if (s % 8 == 7) {
            other.Flush();
            rig.writer->Flush();
        }
    }
    other.Flush();
    auto q = rig.Query();
    EXPECT_EQ(q->Samples("10.0.0.7", {kT0, kT0 + kMsPerMinute}).size(), 40u);
    const auto minute = q->Series("10.0.0.7", {kT0, kT0 + kMsPerMinute}, 1);
    ASSERT_EQ(minute.size(), 1u);
    EXPECT_EQ(minute[0].count, 40);
    EXPECT_EQ(minute[0].intensityMin, 10);
    EXPECT_EQ(minute[0].intensityMax, 80);
    EXPECT_DOUBLE_EQ(minute[0].lockedShare, 0.5);
}

TEST(HistoryStore, RetentionKeepsSummariesAfterTheReportsGo)
{
    HistoryWriter::Options options = quickWriter();
    options.retention.stepRows = 7; // many small steps
    Rig rig(options);
    const int64_t day = kMsPerDay;
    for (int64_t start : {kT0, kT0 + 200 * day, kT0 + 500 * day}) {
        for (int s = 0; s < 600; s += 5) {
            rig.writer->Sample(rig.device, {start + s * kS, true, true, 60, 70});
        }
        rig.writer->Event(rig.device, start, 0, 0, "");
    }
    rig.clock.Set(kT0 + 500 * day + 20 * kS);
    rig.writer->RunRetentionNow();
    auto q = rig.Query();

    auto within = [](int64_t from) { return TimeRange{from, from + 10 * kMsPerMinute}; };
    // Kept raw: the last 14 days.
    EXPECT_EQ(q->Samples("10.0.0.7", within(kT0 + 500 * day)).size(), 120u);
    // 300 days old: reports gone, minutes kept, plotted from the summaries.
    EXPECT_TRUE(q->Samples("10.0.0.7", within(kT0 + 200 * day)).empty());
    const auto old = q->Series("10.0.0.7", within(kT0 + 200 * day));
    ASSERT_EQ(old.size(), 10u);
    EXPECT_EQ(old[0].count, 12);
    EXPECT_EQ(old[0].intensityMean, 60);
    std::ostringstream csv;
    ASSERT_TRUE(q->ExportCsv("10.0.0.7", within(kT0 + 200 * day), csv));
    const std::string text = csv.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
    EXPECT_NE(text.find(",1.000,,60.0,70.0\n"), std::string::npos);
    // 500 days old: nothing at all.
    EXPECT_TRUE(q->Series("10.0.0.7", within(kT0)).empty());
    EXPECT_EQ(q->Events("10.0.0.7", {kT0, kT0 + 1000 * day}).size(), 2u);
}

TEST(HistoryStore, AvailabilityOutagesAndDisconnectedTime)
{
    Rig rig;
    auto recorder = std::make_shared<DeviceRecorder>(
        std::shared_ptr<HistoryWriter>(rig.writer.get(), [](HistoryWriter*) {}), nullptr,
        DeviceKey{"10.0.0.7", "Uplink"});
    using K = DeviceEvent::Kind;
    auto event = [&](int64_t s, K kind) { recorder->OnEvent({kind, kT0 + s * kS, 0, {}}); };
    auto signal = [&](int64_t s, bool locked) {
        recorder->OnSignal({kT0 + s * kS, locked, true, 50, locked ? 60 : 0});
    };
    // Connected 0-30 s (unlocked 10-22 s), link lost 30-40 s, connected
    // 40-60 s (unlocked 50-52 s), then disconnected by the operator.
    event(0, K::Connected);
    signal(1, true);
    signal(10, false);
    signal(22, true);
    event(30, K::LinkLost);
    event(40, K::Reconnected);
    signal(41, true);
    signal(50, false);
    signal(52, true);
    event(60, K::Disconnected);
    auto q = rig.Query();
    const std::string a = "10.0.0.7";

    struct Case
    {
        int64_t from, to;
        int64_t connected, locked;
        std::vector<std::pair<int64_t, int64_t>> outages;
    };
    const Case cases[] = {
        {0, 100, 50, 36, {{10, 22}, {30, 40}, {50, 52}}},
        {15, 35, 15, 8, {{15, 22}, {30, 35}}},
        {22, 30, 8, 8, {}},
        {70, 90, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + "-" + std::to_string(c.to));
        const TimeRange range{kT0 + c.from * kS, kT0 + c.to * kS};
        const Availability av = q->AvailabilityOf(a, range);
        EXPECT_EQ(av.connectedMs, c.connected * kS);
        EXPECT_EQ(av.lockedMs, c.locked * kS);
        const auto outages = q->Outages(a, range);
        ASSERT_EQ(outages.size(), c.outages.size());
        for (size_t i = 0; i < outages.size(); ++i) {
            EXPECT_EQ(outages[i].beginMs, kT0 + c.outages[i].first * kS);
            EXPECT_EQ(outages[i].DurationMs(), (c.outages[i].second - c.outages[i].first) * kS);
        }
    }
    // The 10 s without a link count against it.
    EXPECT_NEAR(q->AvailabilityOf(a, {kT0, kT0 + 100 * kS}).Share(), 36.0 / 60, 1e-9);
    const auto gaps = q->DisconnectedPeriods(a, {kT0 - 100 * kS, kT0 + 100 * kS});
    ASSERT_EQ(gaps.size(), 1u); // the device's record runs 0-60 s
    EXPECT_EQ(gaps[0].beginMs, kT0 + 30 * kS);
    EXPECT_EQ(gaps[0].endMs, kT0 + 40 * kS);
    EXPECT_EQ(q->Events(a, {kT0, kT0 + 100 * kS}).size(), 4u);
}

TEST(HistoryStore, OlderSchemaIsMigratedWithItsReports)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    {
        // A file as the first schema wrote it: one row per report.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        std::string error;
        ASSERT_TRUE(HistoryDatabase::Migrate(db, 0, &error)) << error;
        std::string sql = "PRAGMA user_version=1; BEGIN; INSERT INTO devices(id, address, name) "
                          "VALUES(1, '10.0.0.9', 'Old');";
        for (int s = 0; s < 90; ++s) {
            sql += "INSERT INTO samples VALUES(1, " + std::to_string(kT0 + s * kS) + ", " +
                   (s < 30 ? "1" : "0") + ", 1, " + std::to_string(s) + ", 40);";
        }
        sql += "COMMIT;";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    auto opened = HistoryDatabase::Open(file);
    ASSERT_TRUE(opened.database) << opened.error;
    EXPECT_EQ(opened.previousVersion, 1);
    EXPECT_EQ(opened.database->UserVersion(), kHistorySchemaVersion);
    opened.database.reset();

    auto q = HistoryQuery::Open(file);
    const TimeRange range{kT0, kT0 + 2 * kMsPerMinute};
    const auto samples = q->Samples("10.0.0.9", range);
    ASSERT_EQ(samples.size(), 90u);
    EXPECT_EQ(samples[89].intensity, 89);
    EXPECT_FALSE(samples[89].locked);
    const auto minutes = q->Series("10.0.0.9", range, 2);
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_DOUBLE_EQ(minutes[0].lockedShare, 0.5);
}

TEST(HistoryStore, DamagedFileIsMovedAsideAndANewOneStarted)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string(8192, 'x');
    }
    std::vector<std::string> lines;
    HistoryService::Options options;
    options.file = file;
    options.log = [&](const std::string& line) { lines.push_back(line); };
    HistoryService service(options);
    ASSERT_TRUE(service.Ok()) << service.Error();
    ASSERT_FALSE(service.MovedAside().empty());
    EXPECT_NE(service.MovedAside().filename().string().find("History.sqlite.corrupt-"),
              std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(service.MovedAside()), 8192u);
    ASSERT_EQ(lines.size(), 1u);

    auto recorder = service.MakeRecorder({"10.0.0.3", "New"});
    recorder->OnSignal({kT0, true, true, 1, 2});
    service.Writer().Flush();
    EXPECT_EQ(service.OpenQuery()->Samples("10.0.0.3", {kT0, kT0 + 1}).size(), 1u);
}

TEST(HistoryStore, KilledWriterLeavesEveryCommittedBatch)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        ManualClock clock(kT0);
        HistoryWriter::Options options;
        options.batchRows = 5000;
        HistoryWriter writer(file, clock, options);
        const auto device = writer.RegisterDevice({"10.0.0.5", "Child"});
        for (int64_t n = 0;; ++n) {
            writer.Sample(device, {kT0 + n * 100, true, true, 50, 50});
            if (n % 5000 == 4999) {
                writer.Flush();
                const int64_t committed = n + 1;
                if (write(pipeFds[1], &committed, sizeof committed) != sizeof committed) {
                    _exit(1);
                }
            }
        }
    }
    close(pipeFds[1]);
    int64_t committed = 0;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(read(pipeFds[0], &committed, sizeof committed),
                  static_cast<ssize_t>(sizeof committed));
    }
    kill(child, SIGKILL); // in the middle of the next batches
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    EXPECT_TRUE(WIFSIGNALED(status));

    auto opened = HistoryDatabase::Open(file);
    ASSERT_TRUE(opened.database) << opened.error;
    EXPECT_TRUE(opened.movedAside.empty());
    opened.database.reset();
    const auto samples = HistoryQuery::Open(file)->Samples("10.0.0.5", {kT0, kT0 + 1'000'000'000});
    EXPECT_GE(static_cast<int64_t>(samples.size()), committed);
}

TEST(HistoryStore, FullDiskPausesRecordingWithOneLine)
{
    HistoryWriter::Options options = quickWriter();
    options.maxPageCount = 64; // 256 KB
    options.fullDiskRetryMs = 60000;
    std::vector<std::string> lines;
    std::mutex linesMutex;
    Rig rig(options, [&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    int refused = 0;
    for (int round = 0; round < 20; ++round) {
        for (int n = 0; n < 10000; ++n) {
            const int64_t t = kT0 + (round * 10000 + n) * kS;
            refused += rig.writer->Sample(rig.device, {t, true, true, n % 100, 50}) ? 0 : 1;
        }
        rig.writer->Flush();
    }
    EXPECT_TRUE(rig.writer->Paused());
    EXPECT_GT(refused, 0);
    EXPECT_GT(rig.writer->Dropped(), 0u);
    std::lock_guard lock(linesMutex);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("full"), std::string::npos);
    // What was committed before the disk filled is there and readable.
    EXPECT_FALSE(rig.Query()->Samples("10.0.0.7", {kT0, kT0 + 10 * kMsPerMinute}).empty());
}

} // namespace
} // namespace vireo
