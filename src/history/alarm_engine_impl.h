#pragma once

// The state of AlarmEngine, shared by its source files; not for other users.

#include "history/alarm_engine.h"
#include "history/history_writer.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <random>

namespace vireo {

// The timed state of one warning rule of one device.
struct Condition
{
    int64_t holdingSince = 0; // the condition holds since (0: it does not)
    int64_t absentSince = 0;  // it has been absent since (0: it is not, or no alarm)
    int64_t alarmId = 0;      // the active alarm, 0 when none
};

enum class Reading { Holds, Absent, Between };

inline constexpr AlarmRuleKind kTimedRules[] = {AlarmRuleKind::Unlocked, AlarmRuleKind::LowQuality,
                                                AlarmRuleKind::LinkLost};

struct AlarmEngine::Impl
{
    struct Device
    {
        DeviceKey key;
        AlarmLogSink log;
        HistoryWriter::DeviceHandle handle = 0;
        bool attached = false;
        bool connected = false;
        bool linkLost = false;
        bool everConnected = false; // since the program started watching
        bool haveSignal = false;
        bool locked = false;
        int quality = 0;
        std::string version;
        Condition conditions[3]; // by kTimedRules
        // Who evaluates the device's alarms among the programs sharing the
        // history: unknown until the first lease answer (this one does).
        enum class Lease { Unknown, Held, Elsewhere } lease = Lease::Unknown;
    };

    // What the observers and log sinks hear once the lock is let go.
    struct Notice
    {
        enum class What { Raised, Cleared, Acknowledged } what;
        Alarm alarm;
        AlarmLogSink log;
    };

    const HistoryClock& clock;
    HistoryWriter* writer;
    mutable std::mutex mutex;
    AlarmRuleBook rules;
    std::map<std::string, Device> devices;
    std::map<int64_t, Alarm> active;
    std::deque<Alarm> cleared; // newest first
    std::vector<std::shared_ptr<AlarmObserver>> observers;
    std::mt19937_64 random{std::random_device{}()};
    // Leases are in use: RetainDevices waits for the first lease answers.
    bool leasing = false;
    std::optional<std::vector<std::string>> retainPending;

    static constexpr size_t kClearedKept = 500;

    Impl(const HistoryClock& c, HistoryWriter* w) : clock(c), writer(w) {}

    Device& DeviceFor(const std::string& address)
    {
        Device& device = devices[address];
        if (device.key.address.empty()) {
            device.key.address = address;
        }
        return device;
    }

    void Store(const Alarm& alarm, const Device& device)
    {
        if (writer == nullptr) {
            return;
        }
        HistoryWriter::AlarmRow row;
        row.id = alarm.id;
        row.device = device.handle != 0 ? device.handle : writer->RegisterDevice(device.key);
        row.rule = static_cast<int>(alarm.rule);
        row.severity = static_cast<int>(alarm.severity);
        row.raisedMs = alarm.raisedMs;
        row.clearedMs = alarm.clearedMs;
        row.acknowledgedMs = alarm.acknowledgedMs;
        row.acknowledgedBy = alarm.acknowledgedBy;
        row.detail = alarm.detail;
        writer->Alarm(std::move(row));
    }

    int64_t Raise(Device& device, AlarmRuleKind rule, int64_t now, std::string detail,
                  std::vector<Notice>& notices)
    {
        Alarm alarm;
        // Random ids: another process sharing the history raises its own.
        do {
            alarm.id = static_cast<int64_t>(random() >> 1);
        } while (alarm.id == 0 || active.count(alarm.id) != 0);
        alarm.address = device.key.address;
        alarm.deviceName = device.key.name;
        alarm.rule = rule;
        alarm.severity = rules.ForDevice(device.key.address).Rule(rule).Severity();
        alarm.raisedMs = now;
        alarm.detail = std::move(detail);
        active.emplace(alarm.id, alarm);
        Store(alarm, device);
        notices.push_back({Notice::What::Raised, alarm, device.log});
        return alarm.id;
    }

    void Clear(Device& device, int64_t id, int64_t now, std::vector<Notice>& notices)
    {
        auto it = active.find(id);
        if (it == active.end()) {
            return;
        }
        Alarm alarm = it->second;
        active.erase(it);
        alarm.clearedMs = std::max(now, alarm.raisedMs);
        Store(alarm, device);
        cleared.push_front(alarm);
        if (cleared.size() > kClearedKept) {
            cleared.pop_back();
        }
        notices.push_back({Notice::What::Cleared, std::move(alarm), device.log});
    }

    Reading Read(const Device& device, const AlarmRule& rule) const
    {
        // Without a link nothing is known of the signal: an alarm of it
        // raised before the loss stays until the device reports again.
        if (device.linkLost && rule.kind != AlarmRuleKind::LinkLost) {
            return Reading::Between;
        }
        switch (rule.kind) {
        case AlarmRuleKind::Unlocked:
            return device.connected && device.haveSignal && !device.locked ? Reading::Holds
                                                                           : Reading::Absent;
        case AlarmRuleKind::LowQuality:
            if (!device.connected || !device.haveSignal || !device.locked) {
                return Reading::Absent;
            }
            if (device.quality < rule.threshold) {
                return Reading::Holds;
            }
            return device.quality >= rule.threshold + AlarmRule::kQualityHysteresis
                       ? Reading::Absent
                       : Reading::Between;
        case AlarmRuleKind::LinkLost:
            return device.linkLost ? Reading::Holds : Reading::Absent;
        default:
            return Reading::Absent;
        }
    }

    std::string Detail(const Device& device, AlarmRuleKind rule) const
    {
        if (rule == AlarmRuleKind::LowQuality) {
            return "quality " + std::to_string(device.quality) + " %";
        }
        return {};
    }

    void Evaluate(Device& device, int64_t now, std::vector<Notice>& notices)
    {
        if (!device.attached || device.lease == Device::Lease::Elsewhere) {
            return; // nobody reports for it, or another program evaluates it
        }
        const AlarmRuleSet set = rules.ForDevice(device.key.address);
        for (size_t i = 0; i < std::size(kTimedRules); ++i) {
            const AlarmRule& rule = set.Rule(kTimedRules[i]);
            Condition& c = device.conditions[i];
            const Reading reading = rule.enabled ? Read(device, rule) : Reading::Absent;
            if (c.alarmId == 0) {
                if (reading != Reading::Holds) {
                    c.holdingSince = 0;
                    continue;
                }
                if (c.holdingSince == 0) {
                    c.holdingSince = now;
                }
                if (now - c.holdingSince >= rule.raiseAfterS * kMsPerSecond) {
                    c.alarmId = Raise(device, rule.kind, now, Detail(device, rule.kind), notices);
                    c.absentSince = 0;
                }
                continue;
            }
            if (!active.count(c.alarmId)) {
                c = Condition{}; // cleared from outside
                continue;
            }
            if (reading != Reading::Absent) {
                c.absentSince = 0;
                continue;
            }
            if (c.absentSince == 0) {
                c.absentSince = now;
            }
            const int64_t clearAfter = rule.enabled ? rule.clearAfterS * kMsPerSecond : 0;
            if (now - c.absentSince >= clearAfter) {
                Clear(device, c.alarmId, now, notices);
                c = Condition{};
            }
        }
    }

    void RaiseInformation(Device& device, AlarmRuleKind kind, int64_t now, std::string detail,
                          std::vector<Notice>& notices)
    {
        if (!rules.ForDevice(device.key.address).Rule(kind).enabled ||
            device.lease == Device::Lease::Elsewhere) {
            return;
        }
        for (const auto& [id, alarm] : active) {
            if (alarm.address == device.key.address && alarm.rule == kind &&
                !alarm.Acknowledged()) {
                return; // one waiting for the operator is enough
            }
        }
        Raise(device, kind, now, std::move(detail), notices);
    }

    bool AcknowledgeLocked(int64_t id, const std::string& who, int64_t now,
                           std::vector<Notice>& notices)
    {
        auto it = active.find(id);
        if (it != active.end()) {
            if (it->second.Acknowledged()) {
                return false;
            }
            it->second.acknowledgedMs = now;
            it->second.acknowledgedBy = who;
            Device& device = DeviceFor(it->second.address);
            Alarm alarm = it->second;
            Store(alarm, device);
            notices.push_back({Notice::What::Acknowledged, alarm, {}});
            if (alarm.severity == AlarmSeverity::Information) {
                // A fact needs no more than the operator's word.
                Clear(device, id, now, notices);
            }
            return true;
        }
        for (Alarm& alarm : cleared) {
            if (alarm.id == id) {
                if (alarm.Acknowledged()) {
                    return false;
                }
                alarm.acknowledgedMs = now;
                alarm.acknowledgedBy = who;
                Store(alarm, DeviceFor(alarm.address));
                notices.push_back({Notice::What::Acknowledged, alarm, {}});
                return true;
            }
        }
        return false;
    }

    // Makes `alarm` (active) the one a timed rule of its device holds.
    void Adopt(const Alarm& alarm)
    {
        Device& device = DeviceFor(alarm.address);
        if (device.key.name.empty()) {
            device.key.name = alarm.deviceName;
        }
        for (size_t i = 0; i < std::size(kTimedRules); ++i) {
            if (kTimedRules[i] == alarm.rule && device.conditions[i].alarmId == 0) {
                device.conditions[i].alarmId = alarm.id;
            }
        }
    }

    // Clears the active alarms of devices not in `addresses`, but for those
    // another program evaluates.
    void Retain(const std::vector<std::string>& addresses, std::vector<Notice>& notices)
    {
        auto kept = [&](const std::string& address) {
            return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
        };
        const int64_t now = clock.NowMs();
        std::vector<std::pair<std::string, int64_t>> gone;
        for (const auto& [id, alarm] : active) {
            auto device = devices.find(alarm.address);
            const bool elsewhere =
                device != devices.end() && device->second.lease == Device::Lease::Elsewhere;
            if (!kept(alarm.address) && !elsewhere) {
                gone.emplace_back(alarm.address, id);
            }
        }
        for (const auto& [address, id] : gone) {
            Clear(DeviceFor(address), id, now, notices);
        }
        std::erase_if(devices, [&](const auto& entry) {
            return !entry.second.attached && !kept(entry.first) &&
                   entry.second.lease != Device::Lease::Elsewhere;
        });
    }

    void Tell(std::vector<Notice>& notices)
    {
        if (notices.empty()) {
            return;
        }
        std::vector<std::shared_ptr<AlarmObserver>> copy;
        {
            std::lock_guard lock(mutex);
            copy = observers;
        }
        for (Notice& n : notices) {
            if (n.log && n.what != Notice::What::Acknowledged) {
                n.log(LogLine(n.alarm, n.what == Notice::What::Raised));
            }
            for (const auto& o : copy) {
                switch (n.what) {
                case Notice::What::Raised:
                    o->OnAlarmRaised(n.alarm);
                    break;
                case Notice::What::Cleared:
                    o->OnAlarmCleared(n.alarm);
                    break;
                case Notice::What::Acknowledged:
                    o->OnAlarmAcknowledged(n.alarm);
                    break;
                }
            }
        }
    }
};

} // namespace vireo
