#include "history/history_database.h"
#include "history/history_service.h"
#include "history/sqlite_statement.h"
#include "temp_dir.h"
#include "wait_for.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vireo {
namespace {

using K = DeviceEvent::Kind;
using Steady = std::chrono::steady_clock;
constexpr char kAddress[] = "10.0.0.50";

HistoryService::Options quickService(const std::filesystem::path& file, const char* program)
{
    HistoryService::Options options;
    options.file = file;
    options.writer.batchMs = 10;
    options.writer.tickMs = 10;
    options.writer.syncMs = 100;
    options.writer.writerDeadMs = 3000;
    options.writer.program = program;
    return options;
}

int64_t nowMs()
{
    return DeviceObservers::NowMs();
}

// What a child program saw, written to its pipe as it ends.
struct ChildReport
{
    bool rulesArrived = false; // the other program's rule change reached it
    bool ackArrived = false;   // the acknowledgement reached it (either way)
    uint64_t writeErrors = 0, recordsLost = 0, samplesDropped = 0;
};

// One program recording the device: connected, lost at 1.5 s, back at 4 s,
// ends at 6.5 s (times from `start`). The "editor" sets a 1 s link-lost rule
// at 0.1 s; the other one acknowledges at 3.5 s.
ChildReport runProgram(const std::filesystem::path& file, bool editor, Steady::time_point start)
{
    HistoryService service(quickService(file, editor ? "editor" : "acker"));
    auto recorder = service.MakeRecorder({kAddress, "Shared"});
    auto at = [&](int ms) { std::this_thread::sleep_until(start + std::chrono::milliseconds(ms)); };
    ChildReport report;
    recorder->OnEvent({K::Connected, nowMs(), 0, {}});
    int t = 0;
    auto signalUntil = [&](int until) {
        for (; t < until; t += 100) {
            at(t);
            recorder->OnSignal({nowMs(), true, true, 70, 60});
        }
    };
    at(100);
    if (editor) {
        AlarmRuleBook rules;
        AlarmRuleSet set = rules.Global();
        set.Rule(AlarmRuleKind::LinkLost).raiseAfterS = 1;
        set.Rule(AlarmRuleKind::LinkLost).clearAfterS = 1;
        rules.SetGlobal(set);
        service.Alarms().SetRules(rules);
    }
    signalUntil(1500);
    recorder->OnEvent({K::LinkLost, nowMs(), 0, {}});
    at(3500);
    report.rulesArrived =
        service.Alarms().Rules().Global().Rule(AlarmRuleKind::LinkLost).raiseAfterS == 1;
    if (!editor) {
        service.Alarms().AcknowledgeAll({}, "acker");
    }
    t = 4000;
    recorder->OnEvent({K::Reconnected, nowMs(), 0, {}});
    signalUntil(6500);
    for (const Alarm& a : service.Alarms().Recent()) {
        report.ackArrived = report.ackArrived || a.acknowledgedBy == "acker";
    }
    recorder.reset();
    service.Stop();
    const HistoryStatus status = service.Status();
    report.writeErrors = status.writeErrors;
    report.recordsLost = status.recordsLost;
    report.samplesDropped = status.samplesDropped;
    return report;
}

pid_t spawn(int fd, std::function<ChildReport()> body)
{
    const pid_t child = fork();
    if (child == 0) {
        const ChildReport report = body();
        _exit(write(fd, &report, sizeof report) == sizeof report ? 0 : 1);
    }
    return child;
}

// Two programs (real processes) record the same device on one file through
// an outage: one alarm row, raised by whichever holds the lease; the rule
// edited in one and the acknowledgement made in the other reach both; each
// program's periods are its own and closed by it; nothing failed.
TEST(HistoryWriters, TwoProgramsShareOneFileAndOneTruth)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const auto start = Steady::now() + std::chrono::milliseconds(200);
    const pid_t a = spawn(fds[1], [&] { return runProgram(file, true, start); });
    const pid_t b = spawn(fds[1], [&] { return runProgram(file, false, start); });
    close(fds[1]);
    for (pid_t child : {a, b}) {
        ChildReport report;
        ASSERT_EQ(read(fds[0], &report, sizeof report), static_cast<ssize_t>(sizeof report));
        EXPECT_TRUE(report.rulesArrived);
        EXPECT_TRUE(report.ackArrived);
        EXPECT_EQ(report.writeErrors, 0u);
        EXPECT_EQ(report.recordsLost, 0u);
        EXPECT_EQ(report.samplesDropped, 0u);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    close(fds[0]);

    auto db = HistoryDatabase::Open(file);
    ASSERT_TRUE(db.database);
    sqlite3* h = db.database->Handle();
    SqliteStatement alarms(h, "SELECT count(*), min(cleared_ms > 0), min(ack_by) FROM alarms");
    ASSERT_EQ(alarms.Step(), SQLITE_ROW);
    EXPECT_EQ(alarms.Int(0), 1);
    EXPECT_EQ(alarms.Int(1), 1);
    EXPECT_EQ(alarms.Text(2), "acker");
    // Per writer: two connected periods and one link-lost, all closed by
    // their writer, none left to the other.
    SqliteStatement periods(h, "SELECT w.program, p.kind, count(*), sum(p.end_ms IS NULL), "
                               "sum(p.ended_with_writer) FROM periods p JOIN writers w "
                               "ON w.id = p.writer GROUP BY p.writer, p.kind ORDER BY 1, 2");
    std::vector<std::string> rows;
    while (periods.Step() == SQLITE_ROW) {
        rows.push_back(periods.Text(0) + " " + std::to_string(periods.Int(1)) + " " +
                       std::to_string(periods.Int(2)) + " " + std::to_string(periods.Int(3)) + " " +
                       std::to_string(periods.Int(4)));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"acker 1 2 0 0", "acker 3 1 0 0", "editor 1 2 0 0",
                                              "editor 3 1 0 0"}));
}

// A program killed outright: its lease is taken over and its open periods
// are ended at its last sighting, marked, by the program that goes on.
TEST(HistoryWriters, AKilledWritersLeaseAndPeriodsAreTakenOver)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    ASSERT_TRUE(HistoryDatabase::Open(file).database);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        HistoryService service(quickService(file, "killed"));
        AlarmRuleBook rules;
        AlarmRuleSet set = rules.Global();
        set.Rule(AlarmRuleKind::Unlocked).raiseAfterS = 0;
        rules.SetGlobal(set);
        service.Alarms().SetRules(rules);
        auto recorder = service.MakeRecorder({kAddress, "Shared"});
        recorder->OnEvent({K::Connected, nowMs(), 0, {}});
        recorder->OnSignal({nowMs(), true, true, 70, 60});
        // A device only this program watches, with an alarm up.
        auto own = service.MakeRecorder({"10.0.0.51", "Own"});
        own->OnEvent({K::Connected, nowMs(), 0, {}});
        own->OnSignal({nowMs(), false, true, 10, 0});
        service.Writer().Flush();
        waitFor([&] { return !service.Alarms().Attached().empty(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a lease answer
        const char ready = 1;
        if (write(fds[1], &ready, 1) != 1) {
            _exit(1);
        }
        for (;;) {
            recorder->OnSignal({nowMs(), true, true, 70, 60});
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    char ready = 0;
    ASSERT_EQ(read(fds[0], &ready, 1), 1);
    HistoryService::Options options = quickService(file, "survivor");
    HistoryService service(options);
    auto recorder = service.MakeRecorder({kAddress, "Shared"});
    recorder->OnEvent({K::Connected, nowMs(), 0, {}});
    recorder->OnEvent({K::LinkLost, nowMs(), 0, {}});
    // The devices this program has: the other program's alarm of a device
    // it evaluates is not this one's to clear.
    service.Alarms().RetainDevices({kAddress});
    // The lost link is not this program's to raise while the other holds
    // the device's lease; the other's alarm is shown here.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto shown = service.Alarms().Active();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].address, "10.0.0.51");
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    close(fds[1]);
    AlarmRuleBook rules;
    AlarmRuleSet set = rules.Global();
    set.Rule(AlarmRuleKind::LinkLost).raiseAfterS = 1;
    rules.SetGlobal(set);
    service.Alarms().SetRules(rules);
    ASSERT_TRUE(waitFor([&] { return service.Alarms().Active().size() == 2; }, 5000));
    service.Writer().Flush();

    auto db = HistoryDatabase::Open(file);
    ASSERT_TRUE(db.database);
    sqlite3* h = db.database->Handle();
    SqliteStatement own(h, "SELECT count(*) FROM alarms WHERE cleared_ms = 0");
    ASSERT_EQ(own.Step(), SQLITE_ROW);
    EXPECT_EQ(own.Int(0), 2); // the killed program's alarm stays for whoever takes it
    SqliteStatement lease(h, "SELECT w.program FROM alarm_leases l JOIN writers w "
                             "ON w.id = l.writer JOIN devices d ON d.id = l.device "
                             "WHERE d.address = '10.0.0.50'");
    ASSERT_EQ(lease.Step(), SQLITE_ROW);
    EXPECT_EQ(lease.Text(0), "survivor");
    SqliteStatement killed(h, "SELECT count(*), sum(p.end_ms IS NULL), sum(p.ended_with_writer), "
                              "max(w.ended_ms > 0) FROM periods p JOIN writers w "
                              "ON w.id = p.writer WHERE w.program = 'killed'");
    ASSERT_EQ(killed.Step(), SQLITE_ROW);
    EXPECT_EQ(killed.Int(0), 3); // its connected periods and the unlocked one
    EXPECT_EQ(killed.Int(1), 0);
    EXPECT_EQ(killed.Int(2), 3);
    EXPECT_EQ(killed.Int(3), 1);
}

} // namespace
} // namespace vireo
