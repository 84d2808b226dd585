#include "history/alarm_engine.h"
#include "history/history_database.h"
#include "history/history_query.h"
#include "history/history_service.h"
#include "history/history_writer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

constexpr int64_t kT0 = 1'800'000'000'000;
constexpr char kAddress[] = "10.0.0.7";

struct Counting : AlarmObserver
{
    std::vector<std::string> heard;
    void OnAlarmRaised(const Alarm& a) override { heard.push_back(std::string("+") + name(a)); }
    void OnAlarmCleared(const Alarm& a) override { heard.push_back(std::string("-") + name(a)); }
    void OnAlarmAcknowledged(const Alarm& a) override
    {
        heard.push_back(std::string("ack ") + name(a) + " " + a.acknowledgedBy);
    }
    static const char* name(const Alarm& a) { return AlarmRuleName(a.rule); }
};

// One step of a scenario: move the clock, then do one thing.
struct Step
{
    int64_t afterMs;
    enum What { Signal, Event, Tick, AckAll } what;
    bool locked = true;
    int quality = 60;
    DeviceEvent::Kind event = DeviceEvent::Kind::Connected;
    std::string detail = {};
};

struct Scenario
{
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> heard; // what the observer heard, in order
    size_t activeAtEnd;
};

Step signal(int64_t after, bool locked, int quality = 60)
{
    return {after, Step::Signal, locked, quality};
}
Step event(int64_t after, DeviceEvent::Kind kind, std::string detail = {})
{
    return {after, Step::Event, true, 60, kind, std::move(detail)};
}
Step tick(int64_t after)
{
    return {after, Step::Tick};
}

TEST(AlarmEngine, RulesRaiseClearAndAcknowledgeWithHysteresis)
{
    using K = DeviceEvent::Kind;
    const Scenario scenarios[] = {
        {"an unlock shorter than 5 s raises nothing",
         {event(0, K::Connected), signal(0, false), signal(4900, false), signal(100, true),
          tick(10000)},
         {},
         0},
        {"unlocked 5 s raises; a 2 s relock does not clear; 3 s does",
         {event(0, K::Connected), signal(0, false), signal(5000, false), signal(1000, true),
          signal(2000, false), signal(1000, true), tick(2999), tick(1)},
         {"+signal unlocked", "-signal unlocked"},
         0},
        {"quality between the threshold and its margin keeps the alarm",
         {event(0, K::Connected), signal(0, true, 20), tick(10000), signal(0, true, 32),
          tick(10000), signal(0, true, 35), tick(2999), tick(1)},
         {"+low signal quality", "-low signal quality"},
         0},
        {"a lost link raises on the tick alone and clears once back",
         {event(0, K::Connected), signal(0, true), event(1000, K::LinkLost), tick(9999), tick(1),
          event(5000, K::Reconnected), tick(3000)},
         {"+link lost", "-link lost"},
         0},
        {"a device never reached is a lost link from its first failed attempt",
         {event(0, K::ConnectFailed), tick(5000), event(0, K::ConnectFailed), tick(4999), tick(1),
          event(5000, K::Connected), signal(0, true), tick(3000)},
         {"+link lost", "-link lost"},
         0},
        {"an operator's disconnect is no lost link, nor the failed attempts after it",
         {event(0, K::Connected), event(0, K::Disconnected), event(1000, K::ConnectFailed),
          tick(60000)},
         {},
         0},
        {"a restart and a new version wait for the operator",
         {event(0, K::Connected),
          event(0, K::VersionReported, "V1"),
          event(0, K::Restarted),
          event(100, K::VersionReported, "V1"),
          event(100, K::VersionReported, "V2"),
          event(0, K::Restarted),
          {0, Step::AckAll}},
         {"+device restarted", "+version changed", "ack device restarted ops", "-device restarted",
          "ack version changed ops", "-version changed"},
         0},
        {"acknowledging a warning leaves it active until it clears",
         {event(0, K::Connected), signal(0, false), signal(5000, false), {0, Step::AckAll}},
         {"+signal unlocked", "ack signal unlocked ops"},
         1},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        ManualClock clock(kT0);
        AlarmEngine engine(clock, nullptr);
        auto observer = std::make_shared<Counting>();
        engine.AddObserver(observer);
        std::vector<std::string> logLines;
        engine.AttachDevice({kAddress, "Uplink"},
                            [&](const std::string& line) { logLines.push_back(line); });
        for (const Step& step : s.steps) {
            clock.Advance(step.afterMs);
            switch (step.what) {
            case Step::Signal:
                engine.OnSignal(kAddress, {clock.NowMs(), step.locked, true, 50, step.quality});
                break;
            case Step::Event:
                engine.OnEvent(kAddress, {step.event, clock.NowMs(), 0, step.detail});
                break;
            case Step::Tick:
                engine.Tick();
                break;
            case Step::AckAll:
                engine.AcknowledgeAll({}, "ops");
                break;
            }
        }
        EXPECT_EQ(observer->heard, s.heard);
        EXPECT_EQ(engine.Active().size(), s.activeAtEnd);
        // Raise and clear each leave one line in the device's log.
        size_t raisesAndClears = 0;
        for (const auto& h : s.heard) {
            raisesAndClears += h[0] == '+' || h[0] == '-' ? 1 : 0;
        }
        EXPECT_EQ(logLines.size(), raisesAndClears);
    }
}

TEST(AlarmEngine, AlarmsAndRulesAreStoredInTheHistory)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    ManualClock clock(kT0);
    HistoryWriter writer(file, clock, {});
    AlarmEngine engine(clock, &writer);
    engine.AttachDevice({kAddress, "Uplink"});

    AlarmRuleBook rules;
    AlarmRuleSet strict = rules.Global();
    strict.Rule(AlarmRuleKind::Unlocked).raiseAfterS = 1;
    strict.Rule(AlarmRuleKind::LowQuality).enabled = false;
    rules.SetOverride(kAddress, strict);
    engine.SetRules(rules);

    engine.OnEvent(kAddress, {DeviceEvent::Kind::Connected, kT0, 0, {}});
    engine.OnSignal(kAddress, {kT0, false, true, 0, 0});
    clock.Advance(1000);
    engine.Tick();
    ASSERT_EQ(engine.Active().size(), 1u);
    const int64_t id = engine.Active()[0].id;
    EXPECT_TRUE(engine.HasUnacknowledged(kAddress));
    clock.Advance(500);
    EXPECT_TRUE(engine.Acknowledge(id, "night shift"));
    EXPECT_FALSE(engine.Acknowledge(id, "again"));
    EXPECT_FALSE(engine.HasUnacknowledged(kAddress));
    writer.Flush();

    auto q = HistoryQuery::Open(file);
    const auto active = q->ActiveAlarms();
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(active[0].id, id);
    EXPECT_EQ(active[0].address, kAddress);
    EXPECT_EQ(active[0].raisedMs, kT0 + 1000);
    EXPECT_EQ(active[0].acknowledgedMs, kT0 + 1500);
    EXPECT_EQ(active[0].acknowledgedBy, "night shift");

    // Another program reading the same file uses the same rules.
    auto db = HistoryDatabase::Open(file, false);
    const AlarmRuleBook loaded = AlarmRuleBook::Load(*db.database);
    EXPECT_EQ(loaded.Global(), AlarmRuleSet::Defaults());
    EXPECT_EQ(loaded.ForDevice(kAddress), strict);
    EXPECT_EQ(loaded.ForDevice("10.0.0.8"), AlarmRuleSet::Defaults());

    // Dropping the override removes its rows.
    rules.ClearOverride(kAddress);
    engine.SetRules(rules);
    writer.Flush();
    EXPECT_FALSE(AlarmRuleBook::Load(*db.database).Override(kAddress));
}

TEST(AlarmEngine, AVersionChangedWhileTheProgramWasOffIsNoticed)
{
    TempDir dir;
    HistoryService::Options options;
    options.file = dir.path() / kHistoryFileName;
    const DeviceKey key{kAddress, "Uplink"};
    auto report = [&](HistoryService& service, const char* version) {
        auto recorder = service.MakeRecorder(key);
        recorder->OnEvent({DeviceEvent::Kind::Connected, kT0, 0, {}});
        recorder->OnEvent({DeviceEvent::Kind::VersionReported, kT0 + 1, 0, version});
    };
    {
        HistoryService first(options);
        report(first, "V1");
    }
    HistoryService second(options);
    report(second, "V2");
    const auto active = second.Alarms().Active();
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(active[0].rule, AlarmRuleKind::VersionChanged);
    EXPECT_EQ(active[0].detail, "V1 -> V2");
}

} // namespace
} // namespace vireo
