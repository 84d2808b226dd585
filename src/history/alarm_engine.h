#pragma once

#include "history/alarm_rules.h"
#include "history/history_clock.h"
#include "history/history_types.h"
#include "link/device_observer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vireo {

class HistoryWriter;

// One alarm: raised by a rule for a device, cleared when the condition ended
// (information alarms: when acknowledged), acknowledged by an operator.
struct Alarm
{
    int64_t id = 0; // unique across processes sharing the history
    std::string address;
    std::string deviceName; // GBK
    AlarmRuleKind rule = AlarmRuleKind::Unlocked;
    AlarmSeverity severity = AlarmSeverity::Warning;
    int64_t raisedMs = 0;
    int64_t clearedMs = 0; // 0 while active
    int64_t acknowledgedMs = 0;
    std::string acknowledgedBy; // empty while not acknowledged
    std::string detail;         // e.g. "quality 12 %", "version 2.1 -> 2.2"

    bool Active() const { return clearedMs == 0; }
    bool Acknowledged() const { return acknowledgedMs != 0; }
};

// Who shows alarms (the alarms dock, the tree mark, the monitor). Calls come
// from the thread that evaluated the rule (a session thread or the writer's
// tick); an observer copies what it needs and returns at once.
class AlarmObserver
{
public:
    virtual ~AlarmObserver() = default;
    virtual void OnAlarmRaised(const Alarm& /*alarm*/) {}
    virtual void OnAlarmCleared(const Alarm& /*alarm*/) {}
    virtual void OnAlarmAcknowledged(const Alarm& /*alarm*/) {}
};

// Writes one line into a device's log (its LogBuffer), GBK text.
using AlarmLogSink = std::function<void(const std::string& line)>;

// The alarm state machine of every device of a process. Reports and events
// come in from DeviceRecorder. A device never connected since the program
// started watching it whose connection attempts fail (ConnectFailed) counts
// as a lost link from the first failure, so the link-lost rule raises after
// its time as for a link lost later; Tick (the writer's ticker, or a test) makes
// time-based rules fire when no report comes, e.g. after a link loss. Every
// raise, clear and acknowledgement is stored through the writer (when one
// is given) and told to the observers; raise and clear also go to the
// device's log sink. Thread-safe.
class AlarmEngine
{
public:
    // `writer` may be null (nothing stored).
    AlarmEngine(const HistoryClock& clock, HistoryWriter* writer);
    ~AlarmEngine();
    AlarmEngine(const AlarmEngine&) = delete;
    AlarmEngine& operator=(const AlarmEngine&) = delete;

    void SetRules(AlarmRuleBook rules); // also stored through the writer
    AlarmRuleBook Rules() const;
    // Rules read from the history: in force at once, not written back.
    void LoadRules(AlarmRuleBook rules);

    void AddObserver(std::shared_ptr<AlarmObserver> observer);
    void RemoveObserver(const AlarmObserver* observer);

    // A device the engine watches; `log` receives its raise and clear lines.
    void AttachDevice(const DeviceKey& key, AlarmLogSink log = {});
    void DetachDevice(const std::string& address);
    void RenameDevice(const std::string& address, const std::string& name);
    // The device at `from` answers at `to` now: its state and its alarms
    // (active ones included) go with it. Nothing happens when `to` is
    // already watched or `from` is unknown.
    void ReaddressDevice(const std::string& from, const std::string& to);
    // The devices the program has (its machine list, its monitor targets).
    // Alarms still active for any other device (restored from an earlier
    // run, or left by a device that was deleted) are cleared now, and such
    // devices are forgotten. Call at start-up once the devices are known and
    // whenever the list changes.
    void RetainDevices(const std::vector<std::string>& addresses);

    void OnSignal(const std::string& address, const DeviceSignal& signal);
    void OnEvent(const std::string& address, const DeviceEvent& event);
    // Evaluates the time-based rules at the clock's time.
    void Tick();

    // Acknowledges an alarm by id: false when unknown or already done.
    bool Acknowledge(int64_t id, const std::string& who);
    // Acknowledges every unacknowledged alarm of `address` (all devices when
    // empty); returns how many.
    int AcknowledgeAll(const std::string& address, const std::string& who);

    std::vector<Alarm> Active() const;
    // Active ones and the last `limit` cleared ones, newest first.
    std::vector<Alarm> Recent(size_t limit = 200) const;
    bool HasUnacknowledged(const std::string& address) const;

    // Active alarms the history holds from an earlier run (a desktop that
    // restarts keeps showing them). Called once before devices attach.
    void Restore(std::vector<Alarm> active);
    // The version a device last reported in an earlier run, so that a change
    // made meanwhile is noticed at its first report.
    void RestoreVersion(const std::string& address, std::string version);

    // --- programs sharing one history (see AlarmSharing) ---
    // From now on a device's alarms are evaluated here only while this
    // program holds its lease (before the first answer it does).
    void UseLeases();
    // The devices attached here (the leases this program asks for).
    std::vector<DeviceKey> Attached() const;
    // The lease answers: the devices this program evaluates, and those
    // another program does (their alarms come in through Merge).
    void SetLeases(const std::vector<std::string>& held, const std::vector<std::string>& elsewhere);
    // Alarms as the history holds them (active ones and recent ones): what
    // other programs raised, cleared or acknowledged is taken in and told
    // to the observers; nothing is written back.
    void Merge(const std::vector<Alarm>& stored);

    // The log line of a raise or clear, as the device log shows it (in the
    // interface language).
    static std::string LogLine(const Alarm& alarm, bool raised);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace vireo
