#include "exposition_parser.h"
#include "http_client.h"
#include "lang/language_table.h"
#include "link/device_observer.h"
#include "monitor_app.h"
#include "monitor_settings.h"
#include "promtool.h"
#include "shard.h"
#include "silence_text.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(Shards, EveryMachineFallsInExactlyOneShard)
{
    std::vector<std::string> addresses;
    for (int i = 0; i < 1000; ++i) {
        addresses.push_back("10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".7");
    }
    std::vector<int> owners(addresses.size(), 0);
    std::vector<size_t> sizes;
    for (unsigned k = 0; k < 3; ++k) {
        Shard shard;
        ASSERT_TRUE(ParseShard(std::to_string(k) + "/3", shard));
        size_t size = 0;
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (shard.Owns(addresses[i])) {
                ++owners[i];
                ++size;
            }
        }
        sizes.push_back(size);
    }
    for (size_t i = 0; i < addresses.size(); ++i) {
        ASSERT_EQ(owners[i], 1) << addresses[i];
    }
    for (size_t size : sizes) {
        EXPECT_GT(size, 280u); // an even split, give or take
    }
    // The address decides, not its spelling; the value is fixed for good
    // (monitors of different builds and hosts must agree).
    EXPECT_EQ(ShardHash("10.0.7.1"), ShardHash("010.000.007.001"));
    EXPECT_EQ(ShardHash("10.0.7.1"), 0xcc57daca0647612full); // fmix64(FNV-1a 64 of 0a 00 07 01)
    Shard shard;
    for (const char* bad : {"3/3", "1/0", "-1/3", "1", "a/3", "1/3/4", "0/1001", ""}) {
        EXPECT_FALSE(ParseShard(bad, shard)) << bad;
    }
    EXPECT_TRUE(ParseShard("0/1", shard));
    EXPECT_TRUE(shard.Owns("10.0.0.1"));
}

TEST(MonitorSection, SiteAndGroupsBesideTheDesktopsSections)
{
    const std::string file = "[Address]\r\nmachine=y10.0.0.1:A\r\nmachine=n10.0.0.2:B\r\n"
                             "[Monitor]\r\nsite=paris-1\r\ngroup=10.0.0.1:Uplinks\r\n"
                             "group=10.0.0.9:\r\ngroup=bad:X\r\ncolour=blue\r\n"
                             "group=10.0.0.2:" +
                             std::string(65, 'g') +
                             "\r\n[LANGUAGE]\r\nlanguage=1\r\ngroup=10.0.0.2:Not here\r\n";
    const MonitorSettings settings = ParseMonitorSection(file);
    EXPECT_EQ(settings.site, "paris-1");
    EXPECT_EQ(settings.groups, (std::map<std::string, std::string>{{"10.0.0.1", "Uplinks"}}));
    EXPECT_EQ(settings.warnings.size(), 4u);
    // The desktop reads the same file as before.
    const SettingsReadResult desktop = ParseSettings(file);
    ASSERT_EQ(desktop.machines.size(), 2u);
    EXPECT_EQ(desktop.machines[0].address, "10.0.0.1");
    EXPECT_EQ(desktop.languageIndex, 1);
}

TEST(SilencesFile, EntriesAreCheckedAndTimesRead)
{
    EXPECT_EQ(ParseTimeMs("1765400000"), 1765400000000);
    EXPECT_EQ(ParseTimeMs("2026-12-10T06:00:00Z"), 1796882400000);
    for (const char* bad : {"", "2026-12-10 06:00:00", "2026-12-10T06:00:00+01:00",
                            "2026-13-10T06:00:00Z", "soon", "-5"}) {
        EXPECT_FALSE(ParseTimeMs(bad)) << bad;
    }
    const fs::path file = fs::temp_directory_path() / "vireo-monitor-silences.yml";
    struct Case
    {
        std::string yaml;
        std::string error; // empty: accepted
    };
    const Case cases[] = {
        {"- device: 10.0.0.5\n  until: 2999-01-01T00:00:00Z\n  reason: LNB swap\n"
         "- group: Uplinks\n  until: 32503680000\n  reason: dish\n",
         ""},
        {"", ""},
        {"- device: 10.0.0.5\n  until: 2999-01-01T00:00:00Z\n", "entry 1: a reason is required"},
        {"- device: 10.0.0.5\n  group: G\n  until: 1\n  reason: r\n", "either device"},
        {"- device: 10.0.0.500\n  until: 1\n  reason: r\n", "no IPv4 address"},
        {"- group: G\n  until: tomorrow\n  reason: r\n", "until wants"},
        {"device: 10.0.0.5\n", "not a list"},
    };
    for (const Case& c : cases) {
        std::ofstream(file) << c.yaml;
        std::string error;
        const auto silences = LoadSilencesFile(file, &error);
        EXPECT_EQ(silences.has_value(), c.error.empty()) << c.yaml << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.yaml << error;
    }
    std::ofstream(file) << cases[0].yaml;
    const auto silences = LoadSilencesFile(file, nullptr).value();
    ASSERT_EQ(silences.size(), 2u);
    EXPECT_EQ(silences[1].kind, Silence::Target::Group);
    EXPECT_EQ(silences[1].untilMs, 32503680000000);
    EXPECT_EQ(silences[0].by, "file");
    fs::remove(file);
}

// A monitor of three IRDs reloaded while it runs, its health, its silences.
class MonitorAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        m_folder = fs::temp_directory_path() / "vireo-monitor-app";
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        const auto db = sim::GenerateDatabase({1, 2, 2, 1}, nullptr).value();
        for (int i = 1; i <= 4; ++i) {
            m_sims.push_back(std::make_unique<sim::Simulator>(db, sim::QuietOptions()));
            ASSERT_TRUE(m_sims.back()->Start(address(i), 8888));
        }
    }
    void TearDown() override
    {
        m_sims.clear();
        fs::remove_all(m_folder);
    }
    static std::string address(int i) { return "127.241.5." + std::to_string(i); }
    void settings(const std::vector<int>& machines, const std::string& monitor)
    {
        std::ofstream out(m_folder / "Vireo.ini", std::ios::binary);
        out << "[Address]\r\n";
        for (int i : machines) {
            out << "machine=y" << address(i) << ":IRD" << i << "\r\n";
        }
        out << "[LANGUAGE]\r\nlanguage=1\r\n[Monitor]\r\n" << monitor;
    }
    fs::path m_folder;
    std::vector<std::unique_ptr<sim::Simulator>> m_sims;
};

TEST_F(MonitorAppTest, ReloadKeepsWhatStaysHealthTellsAStallSilencesHoldAlarms)
{
    settings({1, 2, 3}, "site=paris\r\ngroup=127.241.5.1:Uplinks\r\n");
    std::ofstream(m_folder / "web.yml") << "";
    std::atomic<bool> stall{false};
    MonitorCommand command;
    command.settings = m_folder / "Vireo.ini";
    command.webConfig = m_folder / "web.yml";
    command.history = m_folder / "History.sqlite";
    command.lifecycle = true;
    command.host = "127.241.0.5";
    command.port = 0;
    command.pollSeconds = 1;
    command.timeUnit = 200us; // a second of the links is 200 ms
    command.tendInterval = 20ms;
    command.beforeTend = [&] {
        while (stall) {
            std::this_thread::sleep_for(10ms);
        }
    };
    command.version = "9.9.9";
    command.revision = "abc";
    MonitorApp app(command);
    std::string error;
    ASSERT_TRUE(app.Open(&error)) << error;
    AlarmRuleBook rules;
    AlarmRuleSet global = AlarmRuleSet::Defaults();
    global.Rule(AlarmRuleKind::LinkLost).raiseAfterS = 0;
    global.Rule(AlarmRuleKind::LinkLost).clearAfterS = 0;
    rules.SetGlobal(global);
    app.History().Alarms().SetRules(rules);
    app.Alarms().SetRules(rules);
    ASSERT_TRUE(app.Start(&error)) << error;
    std::atomic<bool> ticking{true};
    std::thread loop([&] {
        while (ticking) {
            app.Tick();
            std::this_thread::sleep_for(20ms);
        }
    });

    const uint16_t port = app.Port();
    auto get = [&](const std::string& path) { return Http(port, {.path = path}, "127.241.0.5"); };
    Exposition page;
    auto scrape = [&] {
        const HttpReply reply = get("/metrics");
        page = ParseExposition(reply.body);
        EXPECT_EQ(page.error, "");
        return reply.status == 200;
    };
    auto series = [&](const std::string& family, int i, const std::string& extra = {}) {
        return family + "{address=\"" + address(i) + "\",name=\"IRD" + std::to_string(i) +
               "\",site=\"paris\"" + (i == 1 ? ",group=\"Uplinks\"" : "") + extra + "}";
    };
    auto up = [&](int i) { return page.Value(series("vireo_ird_up", i)) == 1; };
    ASSERT_TRUE(WaitFor([&] { return scrape() && up(1) && up(2) && up(3); }));
    EXPECT_EQ(get("/readyz").status, 200);
    EXPECT_EQ(get("/healthz").status, 200);
    EXPECT_EQ(page.Value("vireo_monitor_build_info{version=\"9.9.9\",revision=\"abc\"}"), 1);
    EXPECT_EQ(page.Value("vireo_monitor_config_last_reload_successful"), 1);
    EXPECT_EQ(page.Value("vireo_history_paused{reason=\"\"}"), 0);
    EXPECT_GT(page.Value("process_start_time_seconds"), 1.7e9);
    EXPECT_GT(page.Value("process_open_fds"), 3);
    EXPECT_EQ(page.Value(series("vireo_ird_connect_attempts_total", 1)), 1);
    PromtoolAccepts(get("/metrics").body);
    const double requests = page.Value(series("vireo_ird_requests_total", 1));

    // Reload: the third goes, a fourth comes, the first keeps its session.
    settings({1, 2, 4}, "site=paris\r\ngroup=127.241.5.1:Uplinks\r\n");
    EXPECT_EQ(Http(port, {.method = "POST", .path = "/-/reload"}, "127.241.0.5").status, 200);
    ASSERT_TRUE(WaitFor([&] { return scrape() && up(4); }));
    EXPECT_FALSE(page.Has(series("vireo_ird_up", 3)));
    EXPECT_EQ(page.Value("vireo_monitor_devices{site=\"paris\"}"), 3);
    EXPECT_GE(page.Value(series("vireo_ird_requests_total", 1)), requests);
    EXPECT_EQ(page.Value(series("vireo_ird_connect_attempts_total", 1)), 1);
    EXPECT_EQ(page.Value(series("vireo_ird_up", 1)), 1);

    // A web config that does not parse: the reload fails, and says so; what
    // runs stays.
    std::ofstream(m_folder / "web.yml") << "basic_auth_users: [\n";
    settings({1}, "");
    const HttpReply failed = Http(port, {.method = "POST", .path = "/-/reload"}, "127.241.0.5");
    EXPECT_EQ(failed.status, 500);
    EXPECT_NE(failed.body.find("web.yml"), std::string::npos) << failed.body;
    ASSERT_TRUE(scrape());
    EXPECT_EQ(page.Value("vireo_monitor_config_last_reload_successful"), 0);
    EXPECT_EQ(page.Value("vireo_monitor_devices{site=\"paris\"}"), 3);
    EXPECT_EQ(app.Reload().empty(), false);
    std::ofstream(m_folder / "web.yml") << "";
    settings({1, 2, 4}, "site=paris\r\ngroup=127.241.5.1:Uplinks\r\n");
    EXPECT_EQ(app.Reload(), "");

    // The group in maintenance: its link-lost alarm is silenced, the other
    // device's is active. Setting one over HTTP wants a user.
    EXPECT_EQ(
        Http(port, {.method = "POST", .path = "/api/silences", .body = "{}"}, "127.241.0.5").status,
        403);
    Silence silence;
    silence.kind = Silence::Target::Group;
    silence.target = "Uplinks";
    silence.untilMs = DeviceObservers::NowMs() + 3600000;
    silence.reason = "dish work";
    silence.by = "test";
    ASSERT_EQ(app.AddSilence(silence), "");
    const auto silences = nlohmann::json::parse(get("/api/silences").body);
    ASSERT_EQ(silences.size(), 1u);
    EXPECT_EQ(silences[0]["group"], "Uplinks");
    m_sims[0].reset();
    m_sims[1].reset();
    const std::string linkLost = ",rule=\"link_lost\"";
    ASSERT_TRUE(WaitFor([&] {
        return scrape() && page.Value(series("vireo_ird_alarm_active", 2, linkLost)) == 1 &&
               page.Value(series("vireo_ird_alarm_silenced", 1, linkLost)) == 1;
    }));
    EXPECT_EQ(page.Value(series("vireo_ird_alarm_active", 1, linkLost)), 0);
    ASSERT_TRUE(app.EndSilence(silence.id));
    ASSERT_TRUE(scrape());
    EXPECT_EQ(page.Value(series("vireo_ird_alarm_active", 1, linkLost)), 1);

    // With a user in the web config, maintenance is set and ended over HTTP.
    std::ofstream(m_folder / "web.yml")
        << "basic_auth_users:\n  ops: "
           "$2y$04$4TogIk8qQpWGurOc8osG6ud/S671kKQK8w3PBHq29nIAGMK8dP9Ey\n";
    ASSERT_EQ(app.Reload(), "");
    HttpCall set{.method = "POST",
                 .path = "/api/silences",
                 .body = "{\"device\":\"" + address(2) + "\",\"until\":\"2999-01-01T00:00:00Z\"," +
                         "\"reason\":\"feed change\"}",
                 .user = "ops",
                 .password = "maint-pass"};
    EXPECT_EQ(Http(port, {.path = "/metrics"}, "127.241.0.5").status, 401);
    const HttpReply created = Http(port, set, "127.241.0.5");
    ASSERT_EQ(created.status, 201) << created.body;
    const int64_t id = nlohmann::json::parse(created.body)[0]["id"];
    EXPECT_EQ(nlohmann::json::parse(created.body)[0]["by"], "ops");
    set.body = "{\"device\":\"" + address(2) + "\",\"until\":\"soon\",\"reason\":\"x\"}";
    EXPECT_EQ(Http(port, set, "127.241.0.5").status, 400);
    set.body = "{\"group\":\"A\",\"until\":\"2999-01-01T00:00:00Z\",\"reason\":\"x\\ny\"}";
    EXPECT_EQ(Http(port, set, "127.241.0.5").status, 400);
    HttpCall end{.method = "DELETE",
                 .path = "/api/silences/" + std::to_string(id),
                 .user = "ops",
                 .password = "maint-pass"};
    EXPECT_EQ(Http(port, end, "127.241.0.5").status, 200);
    EXPECT_EQ(Http(port, end, "127.241.0.5").status, 404);
    std::ofstream(m_folder / "web.yml") << "";
    ASSERT_EQ(app.Reload(), "");

    // The supervising loop stalled for 3 poll intervals: unhealthy, and why.
    stall = true;
    ASSERT_TRUE(WaitFor([&] { return get("/healthz").status == 503; }, 5s));
    EXPECT_NE(get("/healthz").body.find("no progress"), std::string::npos);
    stall = false;
    ASSERT_TRUE(WaitFor([&] { return get("/healthz").status == 200; }, 5s));

    ticking = false;
    loop.join();
    app.Stop();
}

} // namespace
} // namespace vireo::test
