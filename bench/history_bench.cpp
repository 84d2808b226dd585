// The signal history: reports a second through the writer, a week's plot
// query, and the size of a device-day of one-second reports.

#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_writer.h"

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

} // namespace

int main()
{
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
    }
    std::filesystem::remove_all(folder);
    return 0;
}
