#include "devices_json.h"
#include "exposition_parser.h"
#include "fleet_history.h"
#include "fleet_monitor.h"
#include "http_client.h"
#include "http_endpoint.h"
#include "lang/language_table.h"
#include "metrics_text.h"
#include "promtool.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

using namespace std::chrono_literals;

namespace vireo::test {
namespace {

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string Series(const std::string& family, const std::string& address, const std::string& name,
                   const std::string& extra = {})
{
    return family + "{address=\"" + address + "\",name=\"" + name + "\"" + extra + "}";
}

TEST(MetricsText, LabelValuesSurviveTheFormatAndEveryFamilyIsAnnounced)
{
    const std::vector<std::string> names = {
        "plain", "back\\slash", "say \"hi\"", "two\nlines", "\xe4\xb8\xad\xe6\x96\x87", ""};
    std::vector<DeviceSample> devices;
    for (size_t i = 0; i < names.size(); ++i) {
        DeviceSample d;
        d.address = "10.0.0." + std::to_string(i + 1);
        d.name = names[i];
        d.up = d.linked = i % 2 == 0;
        d.haveSignal = d.up;
        d.locked = true;
        d.intensity = static_cast<int>(i * 20);
        d.quality = 100;
        d.reconnects = i;
        d.lastRefreshMs = i == 0 ? 0 : 1700000000123;
        d.loader = "1.2";
        d.software = i == 1 ? "" : "3.\"4\"";
        d.alarmRules = {"unlocked", "low_quality"};
        if (i == 2) {
            d.alarms = {"low_quality", "retired"};
        }
        devices.push_back(d);
    }
    const std::string text = RenderMetrics(devices);
    const Exposition page = ParseExposition(text);
    ASSERT_EQ(page.error, "") << text;
    PromtoolAccepts(text);

    const std::map<std::string, std::string> families = {
        {"vireo_ird_up", "gauge"},
        {"vireo_ird_signal_locked", "gauge"},
        {"vireo_ird_signal_intensity_ratio", "gauge"},
        {"vireo_ird_signal_quality_ratio", "gauge"},
        {"vireo_ird_connect_attempts_total", "counter"},
        {"vireo_ird_reconnects_total", "counter"},
        {"vireo_ird_requests_total", "counter"},
        {"vireo_ird_request_timeouts_total", "counter"},
        {"vireo_ird_last_refresh_timestamp_seconds", "gauge"},
        {"vireo_ird_info", "gauge"},
        {"vireo_ird_alarm_active", "gauge"},
        {"vireo_ird_alarm_silenced", "gauge"},
        {"vireo_monitor_devices", "gauge"}};
    EXPECT_EQ(page.types, families);

    for (size_t i = 0; i < names.size(); ++i) {
        const std::string address = devices[i].address;
        SCOPED_TRACE(address);
        EXPECT_EQ(page.Value(Series("vireo_ird_up", address, names[i])), i % 2 == 0 ? 1 : 0);
        EXPECT_EQ(page.Has(Series("vireo_ird_signal_locked", address, names[i])), i % 2 == 0);
        EXPECT_EQ(page.Value(Series("vireo_ird_reconnects_total", address, names[i])), i);
        EXPECT_EQ(page.Has(Series("vireo_ird_last_refresh_timestamp_seconds", address, names[i])),
                  i != 0);
        EXPECT_EQ(page.Value(Series("vireo_ird_info", address, names[i],
                                    ",loader=\"1.2\",software=\"" + devices[i].software + "\"")),
                  1);
    }
    EXPECT_DOUBLE_EQ(page.Value(Series("vireo_ird_signal_intensity_ratio", "10.0.0.5", names[4])),
                     0.8);
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_quality_ratio", "10.0.0.1", "plain")), 1);
    EXPECT_DOUBLE_EQ(
        page.Value(Series("vireo_ird_last_refresh_timestamp_seconds", "10.0.0.2", names[1])),
        1700000000.123);
    auto alarm = [&](size_t device, const std::string& rule) {
        return page.Value(Series("vireo_ird_alarm_active", devices[device].address, names[device],
                                 ",rule=\"" + rule + "\""));
    };
    EXPECT_EQ(alarm(2, "low_quality"), 1);
    EXPECT_EQ(alarm(2, "unlocked"), 0);
    EXPECT_EQ(alarm(2, "retired"), 1);
    EXPECT_EQ(alarm(0, "low_quality"), 0);
    EXPECT_EQ(page.Value("vireo_monitor_devices"), 6);

    // A site for every series, a group and a MAC where known; a silenced
    // alarm leaves the active family for its own.
    devices[2].silenced = {"low_quality"};
    devices[3].group = "Up \"links\"";
    devices[3].mac = "00:1a:2b:3c:4d:5e";
    const std::string sited = RenderMetrics(devices, "paris-1");
    const Exposition site = ParseExposition(sited);
    ASSERT_EQ(site.error, "") << sited;
    PromtoolAccepts(sited);
    const std::string at = ",site=\"paris-1\"";
    auto rule = [&](const std::string& family, const std::string& r) {
        return site.Value(Series(family, devices[2].address, names[2], at + ",rule=\"" + r + "\""));
    };
    EXPECT_EQ(rule("vireo_ird_alarm_active", "low_quality"), 0);
    EXPECT_EQ(rule("vireo_ird_alarm_silenced", "low_quality"), 1);
    EXPECT_EQ(rule("vireo_ird_alarm_active", "retired"), 1);
    EXPECT_FALSE(site.Has(Series("vireo_ird_alarm_silenced", devices[2].address, names[2],
                                 at + ",rule=\"unlocked\"")));
    const std::string group = at + ",group=\"" + devices[3].group + "\"";
    EXPECT_EQ(site.Value(Series("vireo_ird_up", devices[3].address, names[3], group)), 0);
    EXPECT_EQ(site.Value(Series("vireo_ird_info", devices[3].address, names[3],
                                group + ",loader=\"1.2\",software=\"" + devices[3].software +
                                    "\",mac=\"00:1a:2b:3c:4d:5e\"")),
              1);
}

TEST(ListenAddress, AcceptsHostAndPortOnly)
{
    struct Case
    {
        std::string text;
        bool ok;
        uint16_t port;
    };
    for (const Case& c : {Case{"127.0.0.1:9464", true, 9464}, Case{"0.0.0.0:1", true, 1},
                          Case{"localhost:65535", true, 65535}, Case{"127.0.0.1:65536", false, 0},
                          Case{"127.0.0.1:0", false, 0}, Case{"127.0.0.1:", false, 0},
                          Case{":9464", false, 0}, Case{"9464", false, 0},
                          Case{"127.0.0.1:94a4", false, 0}, Case{"example.org:80", false, 0}}) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(ParseListenAddress(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

// Three IRDs of a fleet: two answer from the start, the third is down. The
// monitor publishes what the simulators report, notices a killed IRD and
// counts the reconnect when it comes back, and picks up the late one.
TEST(FleetMonitor, PublishesWhatTheDevicesReportAndFollowsTheirLinks)
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    const auto db = sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value();
    auto options = [](int intensity, int quality) {
        sim::SimulatorOptions o = sim::QuietOptions();
        o.signal = {static_cast<uint8_t>(intensity), static_cast<uint8_t>(quality)};
        return o;
    };
    const std::string a = "127.0.175.1", b = "127.0.175.2", late = "127.0.175.3";
    auto simA = std::make_unique<sim::Simulator>(db, options(78, 64));
    sim::Simulator simB(db, options(55, 7));
    ASSERT_TRUE(simA->Start(a, 8888));
    ASSERT_TRUE(simB.Start(b, 8888));

    FleetOptions fleetOptions;
    fleetOptions.timing.link = MonitorLinkTiming(1, 200us); // 1 s is 200 ms here
    fleetOptions.tendInterval = 20ms;
    FleetMonitor fleet(fleetOptions);
    // GBK names, one with the characters the format escapes.
    ASSERT_NE(fleet.Add({0, a, true, true, "\xd6\xd0\"1\"\\"}), nullptr);
    ASSERT_NE(fleet.Add({1, b, true, true, "B"}), nullptr);
    ASSERT_NE(fleet.Add({2, late, true, true, "Late"}), nullptr);
    EXPECT_EQ(fleet.Add({3, b, true, true, "again"}), nullptr);

    // History and alarms, with a link-lost alarm raised and cleared at once.
    const auto folder = std::filesystem::temp_directory_path() / "vireo-monitor-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    HistoryService::Options historyOptions;
    historyOptions.file = folder / "History.sqlite";
    HistoryService history(historyOptions);
    ASSERT_TRUE(history.Ok()) << history.Error();
    AlarmRuleBook rules;
    AlarmRuleSet global = AlarmRuleSet::Defaults();
    global.Rule(AlarmRuleKind::LinkLost).raiseAfterS = 0;
    global.Rule(AlarmRuleKind::LinkLost).clearAfterS = 0;
    global.Rule(AlarmRuleKind::Unlocked).raiseAfterS = 0;
    global.Rule(AlarmRuleKind::Unlocked).clearAfterS = 0;
    rules.SetGlobal(global);
    history.Alarms().SetRules(rules);
    std::vector<std::string> alarmLines;
    std::mutex alarmLinesMutex;
    RecordFleet(fleet, history, [&](const std::string& line) {
        std::lock_guard lock(alarmLinesMutex);
        alarmLines.push_back(line);
    });
    fleet.Start();

    HttpEndpoint http(fleet);
    std::string error;
    ASSERT_TRUE(http.Bind("127.0.0.1", 19464, &error)) << error;
    HttpEndpoint second(fleet);
    EXPECT_FALSE(second.Bind("127.0.0.1", 19464, &error));
    EXPECT_NE(error.find("19464"), std::string::npos);
    http.Start();

    const std::string nameA = "\xe4\xb8\xad\"1\"\\";
    Exposition page;
    auto scrape = [&] {
        const HttpReply res = HttpGet(19464, "/metrics");
        if (res.status != 200) {
            return false;
        }
        EXPECT_NE(res.headers.find(std::string("Content-Type: ") + kMetricsContentType),
                  std::string::npos)
            << res.headers;
        page = ParseExposition(res.body);
        EXPECT_EQ(page.error, "") << res.body;
        return page.error.empty();
    };
    auto upAndSignalled = [&](const std::string& address, const std::string& name) {
        return scrape() && page.Value(Series("vireo_ird_up", address, name)) == 1 &&
               page.Has(Series("vireo_ird_signal_locked", address, name));
    };
    ASSERT_TRUE(WaitFor([&] { return upAndSignalled(a, nameA) && upAndSignalled(b, "B"); }));
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_intensity_ratio", a, nameA)), 0.78);
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_quality_ratio", a, nameA)), 0.64);
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_intensity_ratio", b, "B")), 0.55);
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_quality_ratio", b, "B")), 0.07);
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_locked", b, "B")), 1);
    EXPECT_EQ(page.Value(Series("vireo_ird_up", late, "Late")), 0);
    EXPECT_GE(page.Value(Series("vireo_ird_requests_total", a, nameA)), 2); // refresh and signal
    EXPECT_GT(page.Value(Series("vireo_ird_last_refresh_timestamp_seconds", a, nameA)), 1.7e9);
    const auto version = db.version;
    const std::string versions =
        ",loader=\"" + std::to_string(version[0]) + "." + std::to_string(version[1]) +
        "\",software=\"" + std::to_string(version[2]) + "." + std::to_string(version[3]) + "\"";
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", db.system[12], db.system[13],
                  db.system[14], db.system[15], db.system[16], db.system[17]);
    EXPECT_EQ(page.Value(Series("vireo_ird_info", b, "B", versions + ",mac=\"" + mac + "\"")), 1);
    EXPECT_GE(page.Value(Series("vireo_ird_connect_attempts_total", late, "Late")), 1);
    EXPECT_EQ(page.Value("vireo_monitor_devices"), 3);

    // The JSON side: the list, one device's database, an unknown device.
    const HttpReply list = HttpGet(19464, "/api/devices");
    ASSERT_EQ(list.status, 200);
    const auto devices = nlohmann::json::parse(list.body);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]["name"], nameA);
    EXPECT_EQ(devices[0]["state"], "up");
    EXPECT_EQ(devices[1]["signal"]["intensity"], 55);
    EXPECT_EQ(devices[2]["state"], "connecting");
    const HttpReply database = HttpGet(19464, "/api/devices/" + a);
    ASSERT_EQ(database.status, 200);
    EXPECT_EQ(nlohmann::json::parse(database.body)["tv"].size(), 6u);
    EXPECT_EQ(HttpGet(19464, "/api/devices/127.0.175.9").status, 404);
    EXPECT_EQ(HttpGet(19464, "/healthz").status, 200);

    // A killed IRD goes down and loses its signal samples; back, it is up
    // again with the reconnect counted.
    simA->Stop();
    simA.reset();
    ASSERT_TRUE(
        WaitFor([&] { return scrape() && page.Value(Series("vireo_ird_up", a, nameA)) == 0; }));
    EXPECT_FALSE(page.Has(Series("vireo_ird_signal_locked", a, nameA)));
    EXPECT_EQ(page.Value(Series("vireo_ird_reconnects_total", a, nameA)), 0);
    const std::string linkLost = ",rule=\"link_lost\"";
    ASSERT_TRUE(WaitFor([&] {
        return scrape() && page.Value(Series("vireo_ird_alarm_active", a, nameA, linkLost)) == 1;
    }));
    EXPECT_EQ(page.Value(Series("vireo_ird_alarm_active", b, "B", linkLost)), 0);
    simA = std::make_unique<sim::Simulator>(db, options(78, 64));
    ASSERT_TRUE(simA->Start(a, 8888));
    ASSERT_TRUE(WaitFor([&] {
        return upAndSignalled(a, nameA) &&
               page.Value(Series("vireo_ird_alarm_active", a, nameA, linkLost)) == 0;
    }));
    EXPECT_EQ(page.Value(Series("vireo_ird_reconnects_total", a, nameA)), 1);
    {
        std::lock_guard lock(alarmLinesMutex);
        // Raised and cleared, each one line (the IRD down from the start
        // has its own link-lost lines).
        EXPECT_EQ(std::count_if(alarmLines.begin(), alarmLines.end(),
                                [&](const std::string& line) {
                                    return line.rfind(a + " " + nameA + ": ", 0) == 0;
                                }),
                  2);
    }

    // The IRD that was down at the start is connected once it answers; its
    // signal has no lock for its first seconds, then keeps it.
    sim::SimulatorOptions lateOptions = options(90, 90);
    lateOptions.signalScript = sim::ParseSignalScript("4 0 0 0\n1000 90 90 1\n", nullptr).value();
    sim::Simulator simLate(db, lateOptions);
    ASSERT_TRUE(simLate.Start(late, 8888));
    const std::string unlocked = ",rule=\"unlocked\"";
    ASSERT_TRUE(WaitFor([&] {
        return scrape() &&
               page.Value(Series("vireo_ird_alarm_active", late, "Late", unlocked)) == 1;
    }));
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_locked", late, "Late")), 0);
    ASSERT_TRUE(WaitFor([&] {
        return upAndSignalled(late, "Late") &&
               page.Value(Series("vireo_ird_signal_locked", late, "Late")) == 1 &&
               page.Value(Series("vireo_ird_alarm_active", late, "Late", unlocked)) == 0;
    }));
    EXPECT_EQ(page.Value(Series("vireo_ird_signal_intensity_ratio", late, "Late")), 0.9);
    EXPECT_EQ(page.Value(Series("vireo_ird_reconnects_total", late, "Late")), 0);

    // A session that ends by itself (as after a link error it cannot go on
    // from) is started again.
    fleet.Find(b)->Session().RequestDisconnect();
    ASSERT_TRUE(
        WaitFor([&] { return scrape() && page.Value(Series("vireo_ird_up", b, "B")) == 0; }));
    ASSERT_TRUE(WaitFor([&] { return upAndSignalled(b, "B"); }));
    PromtoolAccepts(RenderMetrics(fleet.Samples()));

    http.Stop();
    fleet.Stop();
    history.Stop();
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vireo::test
