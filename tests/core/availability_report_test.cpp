#include "history/availability_report.h"
#include "history/device_recorder.h"
#include "history/history_database.h"
#include "history/history_writer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vireo {
namespace {

constexpr int64_t kDay0 = 1'796'774'400'000; // 2026-12-09T00:00:00Z
constexpr int64_t kS = kMsPerSecond;

int64_t at(int h, int m, int s = 0)
{
    return kDay0 + ((h * 60 + m) * 60 + s) * kS;
}

TEST(AvailabilityReport, AScriptedDayOfThreeOutagesIsReportedExactly)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    ManualClock clock{kDay0};
    HistoryWriter::Options options;
    options.batchMs = 5;
    auto writer = std::make_shared<HistoryWriter>(file, clock, options);
    auto engine = std::make_shared<AlarmEngine>(clock, writer.get());
    auto recorder =
        std::make_shared<DeviceRecorder>(writer, engine, DeviceKey{"10.9.0.1", "Uplink"});
    using K = DeviceEvent::Kind;
    const auto event = [&](int64_t t, K kind) {
        clock.Set(t);
        recorder->OnEvent({kind, t, 0, {}});
    };
    const auto signal = [&](int64_t t, bool locked, int quality) {
        clock.Set(t);
        recorder->OnSignal({t, locked, true, 60, quality});
    };
    const auto tick = [&](int64_t t) {
        clock.Set(t);
        engine->Tick();
    };

    // The day: a report every 10 min at quality 70, and three outages: a
    // 3 s loss of lock (no alarm: it holds 5 s), 3.5 min without a link
    // (alarmed after 10 s, acknowledged by alice 60 s later) and 10 min
    // without lock (alarmed after 5 s, never acknowledged).
    event(at(0, 0), K::Connected);
    for (int64_t t = at(0, 0); t < at(24, 0); t += 600 * kS) {
        if (t == at(2, 0)) {
            signal(t, false, 40);
            signal(at(2, 0, 3), true, 70);
        } else if (t == at(9, 30)) {
            signal(t, true, 70);
            event(t, K::LinkLost);
            tick(at(9, 30, 10));
            clock.Set(at(9, 31, 10));
            ASSERT_EQ(engine->AcknowledgeAll("10.9.0.1", "alice"), 1);
            event(at(9, 33, 30), K::Reconnected);
            signal(at(9, 33, 30), true, 70);
            tick(at(9, 33, 33));
        } else if (t == at(17, 0)) {
            signal(t, false, 25);
            tick(at(17, 0, 5));
        } else if (t == at(17, 10)) {
            signal(t, true, 70);
            tick(at(17, 10, 3));
        } else {
            signal(t, true, 70);
        }
    }
    event(at(24, 0), K::Disconnected);
    recorder.reset();
    writer->Flush();

    auto query = HistoryQuery::Open(file);
    ASSERT_TRUE(query);
    const AvailabilityReport report = ReadAvailabilityReport(*query, {at(0, 0), at(24, 0)});
    ASSERT_EQ(report.devices.size(), 1u);
    const AvailabilityRow& row = report.devices[0];
    EXPECT_EQ(row.address, "10.9.0.1");
    EXPECT_EQ(row.name, "Uplink");
    EXPECT_EQ(row.watchedMs, 86400 * kS);
    EXPECT_EQ(row.outages, 3);
    EXPECT_EQ(row.outageMs, (3 + 210 + 600) * kS);
    EXPECT_EQ(row.longestOutageMs, 600 * kS);
    EXPECT_DOUBLE_EQ(row.availability, (86400.0 - 813) / 86400);
    EXPECT_EQ(row.lowestQuality, 25);
    EXPECT_EQ(row.alarmsRaised, 2);
    EXPECT_EQ(row.alarmsAcknowledged, 1);
    ASSERT_EQ(report.alarms.size(), 2u);
    EXPECT_EQ(report.alarms[0].rule, AlarmRuleKind::LinkLost);
    EXPECT_EQ(report.alarms[0].raisedMs, at(9, 30, 10));
    EXPECT_EQ(report.alarms[0].clearedMs, at(9, 33, 33));
    EXPECT_EQ(report.alarms[0].acknowledgedBy, "alice");
    EXPECT_EQ(report.alarms[0].AcknowledgedAfterMs(), 60 * kS);
    EXPECT_EQ(report.alarms[1].rule, AlarmRuleKind::Unlocked);
    EXPECT_EQ(report.alarms[1].raisedMs, at(17, 0, 5));
    EXPECT_EQ(report.alarms[1].AcknowledgedAfterMs(), -1);

    // The same in each format.
    const std::string csv = RenderAvailabilityReport(report, ReportFormat::Csv);
    EXPECT_NE(csv.find("\r\n10.9.0.1,Uplink,99.059,86400,3,813,600,25,2,1\r\n"), std::string::npos)
        << csv;
    EXPECT_NE(csv.find("10.9.0.1,Uplink,link lost,2026-12-09T09:30:10Z,2026-12-09T09:33:33Z,"
                       "2026-12-09T09:31:10Z,alice,60\r\n"),
              std::string::npos)
        << csv;
    const auto json = nlohmann::json::parse(RenderAvailabilityReport(report, ReportFormat::Json));
    EXPECT_EQ(json["devices"][0]["outageMs"], 813 * kS);
    EXPECT_EQ(json["alarms"][0]["acknowledgedAfterMs"], 60 * kS);
    EXPECT_TRUE(json["alarms"][1]["acknowledgedMs"].is_null());
    const std::string html = RenderAvailabilityReport(report, ReportFormat::Html);
    EXPECT_NE(html.find("<td>10.9.0.1</td><td>Uplink</td><td>99.059</td>"), std::string::npos);

    // A shift that cuts the link-lost outage: clipped to it.
    const AvailabilityReport shift = ReadAvailabilityReport(*query, {at(6, 0), at(9, 32)});
    EXPECT_EQ(shift.devices[0].outages, 1);
    EXPECT_EQ(shift.devices[0].outageMs, 120 * kS);
    EXPECT_EQ(shift.devices[0].alarmsRaised, 1);
}

TEST(AvailabilityReport, NamesAreEscapedAndAnUnwatchedDeviceHasNoAvailability)
{
    DeviceHistoryFacts quiet;
    quiet.key = {"10.9.0.2", "A \"B\", <C>"};
    const AvailabilityReport report = BuildAvailabilityReport({0, 1000}, {quiet});
    EXPECT_LT(report.devices[0].availability, 0);
    EXPECT_FALSE(report.devices[0].lowestQuality);
    EXPECT_NE(RenderAvailabilityReport(report, ReportFormat::Csv)
                  .find("10.9.0.2,\"A \"\"B\"\", <C>\",,0,0,0,0,,0,0"),
              std::string::npos);
    EXPECT_NE(
        RenderAvailabilityReport(report, ReportFormat::Html).find("A &quot;B&quot;, &lt;C&gt;"),
        std::string::npos);
    EXPECT_TRUE(nlohmann::json::parse(RenderAvailabilityReport(
        report, ReportFormat::Json))["devices"][0]["availability"]
                    .is_null());
}

TEST(AvailabilityReport, BoundsAreReadAsOperatorsWriteThem)
{
    const int64_t now = at(12, 0);
    struct Case
    {
        const char* text;
        std::optional<int64_t> ms;
    };
    const Case cases[] = {
        {"now", now},
        {"2026-12-09T06:00Z", at(6, 0)},
        {"2026-12-09 06:00:30Z", at(6, 0, 30)},
        {"2026-12-09Z", at(0, 0)},
        {"1796774400000", kDay0},
        {"2026-13-01", std::nullopt},
        {"2026-12-09T25:00", std::nullopt},
        {"2026-12-09T06:00junk", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseReportTime(c.text, now), c.ms) << c.text;
    }
    // Local time without a Z: whatever the zone, a date and its 06:00 are 6 h apart.
    EXPECT_EQ(*ParseReportTime("2026-12-09T06:00", now) - *ParseReportTime("2026-12-09", now),
              6 * 3600 * kS);
}

} // namespace
} // namespace vireo
