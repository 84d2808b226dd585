// The signal history: reports a second through the writer, a week's plot
// query, and the size of a device-day of one-second reports.

#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_writer.h"
#include "history/retention_pruner.h"
#include "history/sample_block.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <string>
#include <vector>

using namespace vireo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kT0 = 1'800'000'000'000;

std::filesystem::path freshFile(const std::filesystem::path& folder, const char* name)
{
    const auto file = folder / name;
    for (const char* tail : {"", "-wal", "-shm"}) {
        std::filesystem::remove(file.string() + tail);
    }
    HistoryDatabase::Open(file);
    return file;
}

// One report a second for `seconds`, of each of `devices` devices.
void record(HistoryWriter& writer, int devices, int64_t seconds)
{
    std::vector<HistoryWriter::DeviceHandle> handles;
    for (int d = 0; d < devices; ++d) {
        handles.push_back(writer.RegisterDevice({"10.1.0." + std::to_string(d + 1), "Bench"}));
    }
    for (int64_t s = 0; s < seconds; ++s) {
        for (auto h : handles) {
            const int v = static_cast<int>((s * 7 + h) % 90);
            writer.Sample(h, {kT0 + s * 1000 + h, v > 5, true, v, 90 - v});
        }
        if (s % 20000 == 19999) {
            writer.Flush(); // keeps the queue short of its bound
        }
    }
    writer.Flush();
}

int64_t fileBytes(const std::filesystem::path& file)
{
    auto db = HistoryDatabase::Open(file, false);
    db.database->Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    db.database.reset();
    return static_cast<int64_t>(std::filesystem::file_size(file));
}

// A monitor's file of 1,000 devices x 16 days (a block and a summary per
// device and minute, events, periods and alarms), made by direct inserts in
// the layout of schema version 2 and migrated; then retention steps on it:
// those that delete (2 days are past the raw retention) and one that finds
// nothing due.
void prune(const std::filesystem::path& folder)
{
    constexpr int kDevices = 1000;
    constexpr int64_t kMinutes = 16 * 24 * 60;
    const auto file = folder / "prune.sqlite";
    for (const char* tail : {"", "-wal", "-shm"}) {
        std::filesystem::remove(file.string() + tail);
    }
    const int64_t firstMinute = kT0 / kMsPerMinute;
    {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        std::string error;
        sqlite3_exec(db,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                     "PRAGMA cache_size=-262144; BEGIN",
                     nullptr, nullptr, nullptr);
        if (!HistoryDatabase::Migrate(db, 0, &error) || !HistoryDatabase::Migrate(db, 1, &error)) {
            std::fprintf(stderr, "prune: %s\n", error.c_str());
            sqlite3_close(db);
            return;
        }
        const std::string fill =
            "WITH RECURSIVE d(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM d WHERE id < " +
            std::to_string(kDevices) +
            "), m(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM m WHERE x < " +
            std::to_string(kMinutes - 1) + ") ";
        const std::string first = std::to_string(firstMinute);
        const std::string t0 = std::to_string(kT0);
        const std::string sql =
            "INSERT INTO devices(id, address) " + fill +
            "SELECT id, '10.9.' || (id / 256) || '.' || (id % 256) FROM d;" + fill +
            "INSERT INTO sample_blocks SELECT id, " + first + " + x, zeroblob(60) FROM d, m;" +
            fill + "INSERT INTO sample_minutes SELECT id, " + first +
            " + x, 60, 60, 50, 3000, 50, 60, 3600, 60 FROM d, m;" + fill +
            "INSERT INTO events(device, t, kind) SELECT id, " + t0 +
            " + x * 600000, 3 FROM d, m WHERE x % 10 = 0;" + fill +
            "INSERT INTO periods(device, kind, begin_ms, end_ms) SELECT id, 1, " + t0 +
            " + x * 600000, " + t0 + " + x * 600000 + 300000 FROM d, m WHERE x % 10 = 0;" + fill +
            "INSERT INTO alarms(id, device, rule, severity, raised_ms, cleared_ms) SELECT "
            "id * 100000 + x, id, 3, 2, " +
            t0 + " + x * 60000, " + t0 +
            " + x * 60000 + 30000 FROM d, m WHERE x % 60 = 0;"
            "PRAGMA user_version=2; COMMIT;";
        const auto start = Clock::now();
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "prune: %s\n", sqlite3_errmsg(db));
        }
        sqlite3_close(db);
        std::fprintf(stderr, "prune: file made in %.1f s\n",
                     std::chrono::duration<double>(Clock::now() - start).count());
    }
    auto start = Clock::now();
    auto opened = HistoryDatabase::Open(file, false);
    if (!opened.database) {
        std::fprintf(stderr, "prune: %s\n", opened.error.c_str());
        return;
    }
    std::printf("history_migrate %.1f s\n",
                std::chrono::duration<double>(Clock::now() - start).count());
    std::printf("history_prune_file %.0f MB\n",
                static_cast<double>(std::filesystem::file_size(file)) / (1 << 20));
    sqlite3* db = opened.database->Handle();
    RetentionPruner pruner;
    RetentionPolicy policy; // raw 14 days: 2 days of blocks are due
    const int64_t now = kT0 + 16 * kMsPerDay;
    std::vector<double> deleting;
    for (int step = 0; step < 40; ++step) {
        start = Clock::now();
        pruner.Step(db, policy, now);
        deleting.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    RetentionPolicy nothing;
    nothing.rawMs = 30 * kMsPerDay;
    std::vector<double> idle;
    for (int step = 0; step < 40; ++step) {
        start = Clock::now();
        pruner.Step(db, nothing, now);
        idle.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(deleting.begin(), deleting.end());
    std::sort(idle.begin(), idle.end());
    const double deletingMedian = deleting[deleting.size() / 2];
    const double idleMedian = idle[idle.size() / 2];
    std::printf("history_prune_step %.2f ms\n", std::max(deletingMedian, idleMedian));
    std::printf("history_prune_step_idle %.3f ms\n", idleMedian);
    std::printf("history_prune_step_max %.2f ms\n", deleting.back());
}

} // namespace

int main(int argc, char** argv)
{
    // "quick": leaves out the retention benchmark (minutes to make its file).
    // VIREO_BENCH_KEEP in the environment keeps the files made.
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    const auto folder = std::filesystem::temp_directory_path() / "vireo-history-bench";
    std::filesystem::create_directories(folder);
    HistoryClock clock;

    {
        // 10 devices x 60,000 s through the writer.
        const auto file = freshFile(folder, "insert.sqlite");
        HistoryWriter writer(file, clock, {});
        const auto start = Clock::now();
        record(writer, 10, 60000);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("history_insert_rate %.0f samples/s\n", 600000 / seconds);
        if (writer.Dropped() != 0) {
            std::fprintf(stderr, "dropped %llu\n",
                         static_cast<unsigned long long>(writer.Dropped()));
        }
    }
    {
        const auto file = freshFile(folder, "week.sqlite");
        {
            HistoryWriter writer(file, clock, {});
            record(writer, 1, 7 * 86400);
        }
        auto query = HistoryQuery::Open(file);
        const TimeRange week{kT0, kT0 + 7 * kMsPerDay};
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            const auto start = Clock::now();
            if (query->Series("10.1.0.1", week).empty()) {
                return 1;
            }
            times.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("history_query_7d %.2f ms\n", times[times.size() / 2]);
    }
    {
        const auto emptyFile = freshFile(folder, "empty.sqlite");
        const int64_t empty = fileBytes(emptyFile);
        const auto file = freshFile(folder, "day.sqlite");
        {
            HistoryWriter writer(file, clock, {});
            record(writer, 1, 86400);
        }
        std::printf("history_bytes_per_device_day %.0f KB\n", (fileBytes(file) - empty) / 1024.0);
        // A realistic day: intensity fading slowly down and back, quality
        // jittering +-2 around its level, three outages of two minutes.
        const auto real = freshFile(folder, "real.sqlite");
        {
            HistoryWriter writer(real, clock, {});
            const auto h = writer.RegisterDevice({"10.1.1.1", "Bench"});
            uint32_t seed = 12345;
            auto jitter = [&seed] {
                seed = seed * 1103515245u + 12345u;
                return static_cast<int>((seed >> 16) % 5) - 2;
            };
            for (int64_t s = 0; s < 86400; ++s) {
                const bool out = (s % 28800) >= 14400 && (s % 28800) < 14520;
                const int level = 80 - static_cast<int>(std::abs(s - 43200) / 4320);
                writer.Sample(
                    h, {kT0 + s * 1000, !out, true, out ? 20 : level, out ? 0 : 70 + jitter()});
                if (s % 20000 == 19999) {
                    writer.Flush();
                }
            }
        }
        std::printf("history_bytes_per_sample %.2f bytes\n", (fileBytes(real) - empty) / 86400.0);
        // What the compression costs the writer: a day of minute blocks
        // encoded and decoded again.
        std::vector<SampleBlock> minutes(1440);
        for (int64_t s = 0; s < 86400; ++s) {
            SampleBlock& block = minutes[s / 60];
            block.minute = SampleBlock::MinuteOf(kT0) + s / 60;
            block.Append({kT0 + s * 1000, true, true, 70 - static_cast<int>(s / 8000),
                          70 + static_cast<int>(s * 7919 % 5) - 2});
        }
        const auto start = Clock::now();
        size_t decoded = 0;
        for (const SampleBlock& block : minutes) {
            const std::string bytes = block.Encode();
            SampleBlock::ForEachIn(block.minute, bytes, [&](const SignalSample&) { ++decoded; });
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("history_codec_rate %.0f samples/s\n", decoded / seconds);
    }
    if (!quick) {
        prune(folder);
    }
    if (std::getenv("VIREO_BENCH_KEEP") == nullptr) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
