// The fleet rows, the search across devices and the inventory.

#include "core/fake_database_host.h"
#include "fleet/device_search.h"
#include "fleet/fleet_alarms.h"
#include "fleet/fleet_model.h"
#include "fleet/inventory.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace vireo;
using namespace vireo::testing;

namespace {

// A database as a refresh leaves it: two satellites, three TPs, TV and radio.
struct Device
{
    explicit Device(const std::string& caption) : ref{0, caption, nullptr}
    {
        ref.database = std::make_shared<ListManager>(host);
        ListManager& db = *ref.database;
        const auto load = [&](int (ListManager::*op)(const uint8_t*, size_t),
                              const std::vector<uint8_t>& payload) {
            (db.*op)(payload.data(), payload.size());
        };
        load(&ListManager::LoadSatellite, SatellitePayload(7, 0xFF, 40, "Astra 19.2E"));
        // GBK: "中星6B" and a character whose trail byte is 'a' (0x81 0x61).
        load(&ListManager::LoadSatellite, SatellitePayload(40, 7, 0xFF,
                                                           "\xD6\xD0\xD0\xC7"
                                                           "6B \x81\x61"));
        load(&ListManager::LoadTp, TpPayload(3, 7, 0xFF, 9, 11778, 27500, 1));
        load(&ListManager::LoadTp, TpPayload(9, 7, 3, 20, 12188, 27500, 0));
        load(&ListManager::LoadTp, TpPayload(20, 40, 9, 0xFF, 3840, 27500, 1));
        ProgramFields news = Program(0, 3, 1, 1);
        news.name = "BBC World NEWS";
        news.video = 0x200;
        news.pcr = 0x200;
        news.audio1 = 0x201 << 3 | 1;
        ProgramFields chinese = Program(1, 20, 1);
        chinese.name = "\xBA\xFE\xC4\xCF\xCE\xC0\xCA\xD3"; // 湖南卫视
        chinese.video = 1000;
        chinese.pcr = 1000;
        chinese.audio1 = 1001 << 3 | 1;
        ProgramFields radio = Program(0, 9, 2);
        radio.name = "News, \"Talk\"";
        radio.video = 0;
        radio.pcr = 0x300;
        radio.audio1 = 0x300 << 3 | 1;
        for (const ProgramFields& p : {news, chinese, radio}) {
            load(&ListManager::LoadProgram, ProgramPayload(p));
        }
        std::vector<uint8_t> playing(20, 0);
        playing[0] = 1;
        playing[6] = 1;
        load(&ListManager::StorePlaying, playing);
        load(&ListManager::StoreVersion, {1, 6, 2, 29});
    }

    LanguageScope language;
    FakeDatabaseHost host;
    DeviceDatabaseRef ref;
};

class CountingObserver : public FleetModelObserver
{
public:
    void RowsChanged() override { ++changes; }
    void RowAdded(size_t row) override { added.push_back(row); }
    void RowRemoved(size_t row) override { removed.push_back(row); }
    std::atomic<int> changes{0};
    std::vector<size_t> added, removed;
};

DeviceEvent event(DeviceEvent::Kind kind, std::string detail = {}, int code = 0)
{
    return {kind, 1000, code, std::move(detail)};
}

} // namespace

TEST(FleetModel, RowsFollowTheDevicesReportsAndCoalesceChanges)
{
    Device device("127.0.160.1:Uplink");
    FleetModel model;
    CountingObserver observer;
    model.SetObserver(&observer);

    std::string lastLog = "first line";
    const auto connected =
        model.AddMachine(11, "127.0.160.1:Uplink", true,
                         {[&] { return device.ref.database; }, [&] { return lastLog; }});
    const auto never = model.AddMachine(12, "127.0.160.2:Spare", false, {});
    const auto lost = model.AddMachine(13, "127.0.160.3:Spare", false, {});
    EXPECT_EQ(observer.added, (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(model.TakeChanged(), (std::vector<size_t>{0, 1, 2}));

    // Hundreds of reports from several threads: one call until the next drain.
    observer.changes = 0;
    model.NoteConnecting(11);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                connected->OnSignal({0, true, true, 80, i % 100});
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    connected->OnEvent(event(DeviceEvent::Kind::Connected));
    connected->OnEvent(event(DeviceEvent::Kind::RefreshComplete));
    connected->OnSignal({0, true, true, 81, 77});
    EXPECT_EQ(observer.changes, 1);
    EXPECT_EQ(model.TakeChanged(), (std::vector<size_t>{0}));

    const FleetRow row = model.Row(0);
    EXPECT_EQ(row.state, FleetState::Refreshed);
    EXPECT_TRUE(row.signalKnown && row.locked);
    EXPECT_EQ(row.intensity, 81);
    EXPECT_EQ(row.quality, 77);
    EXPECT_EQ(row.lastRefreshMs, 1000);
    EXPECT_EQ(row.playing, "\xBA\xFE\xC4\xCF\xCE\xC0\xCA\xD3");
    EXPECT_EQ(row.loader, "1.6");
    EXPECT_EQ(row.software, "2.29");
    EXPECT_EQ(row.lastLog, "first line");
    EXPECT_TRUE(row.ticked);

    // A machine that never connected keeps its empty row.
    EXPECT_EQ(model.Row(1).state, FleetState::NotConnected);
    EXPECT_FALSE(model.Row(1).signalKnown);
    EXPECT_TRUE(model.Row(1).playing.empty());

    // State changes, each after the one before.
    const struct
    {
        DeviceEvent event;
        FleetState state;
        const char* reason;
        int reconnects;
    } steps[] = {
        {event(DeviceEvent::Kind::ConnectFailed, "refused"), FleetState::Failed, "refused", 0},
        {event(DeviceEvent::Kind::Connected), FleetState::Connected, "", 0},
        {event(DeviceEvent::Kind::LinkLost, "no answer"), FleetState::Failed, "no answer", 0},
        {event(DeviceEvent::Kind::Reconnected), FleetState::Connected, "", 1},
        {event(DeviceEvent::Kind::UpgradeStarted), FleetState::Upgrading, "", 1},
        {event(DeviceEvent::Kind::UpgradeEnded, "bad image", 3), FleetState::Failed, "bad image",
         1},
        {event(DeviceEvent::Kind::Reconnected), FleetState::Connected, "", 2},
        {event(DeviceEvent::Kind::CommandSent, "Play"), FleetState::Connected, "", 2},
        {event(DeviceEvent::Kind::Disconnected), FleetState::NotConnected, "", 2},
    };
    for (const auto& step : steps) {
        lost->OnEvent(step.event);
        model.TakeChanged();
        const FleetRow r = model.Row(2);
        EXPECT_EQ(r.state, step.state) << static_cast<int>(step.event.kind);
        EXPECT_EQ(r.reason, step.reason) << static_cast<int>(step.event.kind);
        EXPECT_EQ(r.reconnects, step.reconnects);
    }
    EXPECT_FALSE(model.Row(2).signalKnown);

    // Removed while its device still reports: later rows move up, the late
    // report is dropped.
    model.RemoveMachine(12);
    EXPECT_EQ(observer.removed, (std::vector<size_t>{1}));
    observer.changes = 0;
    never->OnSignal({0, true, true, 50, 50});
    EXPECT_EQ(observer.changes, 0);
    EXPECT_EQ(model.RowOf(13), 1);
    EXPECT_EQ(model.RowOf(12), -1);
    model.SetActiveAlarms(13, 2);
    EXPECT_EQ(model.TakeChanged(), (std::vector<size_t>{1}));
    EXPECT_EQ(model.Row(1).activeAlarms, 2);
    model.SetObserver(nullptr);
}

TEST(DeviceSearch, FindsByNameFrequencyAndPidAcrossDevices)
{
    Device first("127.0.160.1:Same");
    Device second("127.0.160.2:Same"); // the same name on another device
    first.ref.node = 1;
    second.ref.node = 2;
    const std::vector<DeviceDatabaseRef> devices = {
        first.ref, {3, "127.0.160.3:Gone", nullptr}, second.ref};
    using Kind = SearchHit::Kind;
    using Match = SearchHit::Match;
    const struct
    {
        const char* text;
        SearchMode mode;
        size_t hitsPerDevice;
        Kind kind;
        Match match;
        const char* path; // satellite > transponder > program of the first hit
    } cases[] = {
        {"news", SearchMode::Any, 2, Kind::TvProgram, Match::Name,
         "Astra 19.2E > 11778 H 27500 > BBC World NEWS"},
        {"ASTRA", SearchMode::Name, 1, Kind::Satellite, Match::Name, "Astra 19.2E >  > "},
        {"\xC4\xCF\xCE\xC0", SearchMode::Any, 1, Kind::TvProgram, Match::Name, // 南卫
         "\xD6\xD0\xD0\xC7"
         "6B \x81\x61 > 3840 H 27500 > \xBA\xFE\xC4\xCF\xCE\xC0\xCA\xD3"},
        {"6b", SearchMode::Any, 1, Kind::Satellite, Match::Name, ""},
        {"3840", SearchMode::Any, 1, Kind::Transponder, Match::Frequency,
         "\xD6\xD0\xD0\xC7"
         "6B \x81\x61 > 3840 H 27500 > "},
        {"12188", SearchMode::Frequency, 1, Kind::Transponder, Match::Frequency, ""},
        {"200h", SearchMode::Any, 1, Kind::TvProgram, Match::Pid, ""},
        {"0x201", SearchMode::Pid, 1, Kind::TvProgram, Match::Pid, ""}, // an audio PID
        {"1000", SearchMode::Pid, 1, Kind::TvProgram, Match::Pid, ""},
        {"768", SearchMode::Any, 1, Kind::RadioProgram, Match::Pid, ""},
        {"a", SearchMode::Name, 2, Kind::Satellite, Match::Name, ""}, // not the trail byte 0x61
        {"1FFFh", SearchMode::Pid, 0, Kind::TvProgram, Match::Pid, ""},
        {"Arte", SearchMode::Any, 0, Kind::TvProgram, Match::Name, ""},
    };
    for (const auto& c : cases) {
        const auto query = ParseSearch(c.text, c.mode);
        ASSERT_TRUE(query) << c.text;
        const std::vector<SearchHit> hits = SearchDevices(devices, *query);
        ASSERT_EQ(hits.size(), 2 * c.hitsPerDevice) << c.text;
        if (hits.empty()) {
            continue;
        }
        EXPECT_EQ(hits.front().node, 1u) << c.text;
        EXPECT_EQ(hits.back().node, 2u) << c.text;
        EXPECT_EQ(hits.front().kind, c.kind) << c.text;
        EXPECT_EQ(hits.front().match, c.match) << c.text;
        if (*c.path != '\0') {
            const SearchHit& h = hits.front();
            EXPECT_EQ(h.satellite + " > " + h.transponder + " > " + h.program, c.path) << c.text;
        }
    }
    // "a" matched "Astra" and "Talk"... of the satellites only Astra.
    const auto a = SearchDevices(devices, *ParseSearch("a", SearchMode::Name));
    EXPECT_EQ(a[0].satelliteIndex, 7);
    EXPECT_EQ(a[1].kind, Kind::RadioProgram);

    for (const auto& [text, mode] : {std::pair{"", SearchMode::Any},
                                     {"  ", SearchMode::Name},
                                     {"abc", SearchMode::Frequency},
                                     {"2000h", SearchMode::Pid},
                                     {"12x", SearchMode::Pid}}) {
        EXPECT_FALSE(ParseSearch(text, mode)) << text;
    }
    EXPECT_EQ(SearchDevices(devices, *ParseSearch("news", SearchMode::Any), 3).size(), 3u);
}

TEST(Inventory, OneCsvRowPerProgramWithPathAndPids)
{
    Device device("127.0.160.1:Head, end");
    const std::string csv = InventoryCsv({device.ref, {2, "127.0.160.2:Off", nullptr}});
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBF"
                        "Device,Kind,Number,Program,",
                        0),
              0u);
    EXPECT_NE(csv.find("\"127.0.160.1:Head, end\",TV,1,BBC World NEWS,Astra 19.2E,"
                       "11778 H 27500,512,513,512,,no\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",TV,2,湖南卫视,中星6B "), std::string::npos) << csv;
    EXPECT_NE(csv.find(",Radio,1,\"News, \"\"Talk\"\"\",Astra 19.2E,12188 V 27500,,768,768,,no"),
              std::string::npos)
        << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
}

TEST(FleetModel, ActiveAlarmsFollowTheEngineByAddress)
{
    ManualClock clock(1'800'000'000'000);
    AlarmEngine engine(clock, nullptr);
    FleetModel model;
    model.AddMachine(1, "127.0.160.5:Uplink", true, {});
    model.AddMachine(2, "127.0.160.6:Other", true, {});
    auto link = std::make_shared<FleetAlarmLink>(model, engine);
    engine.AddObserver(link);
    engine.AttachDevice({"127.0.160.5", "Uplink"});

    // Unlocked for 5 s raises; relocked for 3 s clears.
    engine.OnEvent("127.0.160.5", {DeviceEvent::Kind::Connected, 0, 0, {}});
    engine.OnSignal("127.0.160.5", {0, false, true, 40, 10});
    clock.Advance(5000);
    engine.OnSignal("127.0.160.5", {0, false, true, 40, 10});
    model.TakeChanged();
    EXPECT_EQ(model.Row(0).activeAlarms, 1);
    EXPECT_EQ(model.Row(1).activeAlarms, 0);
    // A window opened later for the same address shows the count at once.
    model.AddMachine(3, "127.000.160.005:Again", false, {});
    EXPECT_EQ(model.Row(2).activeAlarms, 1);

    engine.OnSignal("127.0.160.5", {0, true, true, 80, 70});
    clock.Advance(3000);
    engine.Tick();
    model.TakeChanged();
    EXPECT_EQ(model.Row(0).activeAlarms, 0);
    EXPECT_EQ(model.Row(2).activeAlarms, 0);
    engine.RemoveObserver(link.get());
}
