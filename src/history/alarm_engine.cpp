#include "history/alarm_engine.h"

#include "history/history_writer.h"
#include "lang/language_table.h"

#include <algorithm>
#include <deque>
#include <random>

namespace vireo {

namespace {

// The timed state of one warning rule of one device.
struct Condition
{
    int64_t holdingSince = 0; // the condition holds since (0: it does not)
    int64_t absentSince = 0;  // it has been absent since (0: it is not, or no alarm)
    int64_t alarmId = 0;      // the active alarm, 0 when none
};

enum class Reading { Holds, Absent, Between };

constexpr AlarmRuleKind kTimedRules[] = {AlarmRuleKind::Unlocked, AlarmRuleKind::LowQuality,
                                         AlarmRuleKind::LinkLost};

} // namespace

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
        bool haveSignal = false;
        bool locked = false;
        int quality = 0;
        std::string version;
        Condition conditions[3]; // by kTimedRules
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
        if (!device.attached) {
            return; // nobody reports for it: its alarms wait as they are
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
        if (!rules.ForDevice(device.key.address).Rule(kind).enabled) {
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

AlarmEngine::AlarmEngine(const HistoryClock& clock, HistoryWriter* writer)
    : m_impl(std::make_unique<Impl>(clock, writer))
{}

AlarmEngine::~AlarmEngine() = default;

void AlarmEngine::SetRules(AlarmRuleBook rules)
{
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        if (HistoryWriter* writer = m_impl->writer) {
            auto store = [writer](const std::string& address, const AlarmRuleSet& set) {
                for (const AlarmRule& r : set.rules) {
                    writer->Rule({address, static_cast<int>(r.kind), r.enabled, r.threshold,
                                  r.raiseAfterS, r.clearAfterS, false});
                }
            };
            store({}, rules.Global());
            for (const auto& [address, set] : rules.Overrides()) {
                store(address, set);
            }
            for (const auto& [address, set] : m_impl->rules.Overrides()) {
                if (!rules.Override(address)) {
                    for (const AlarmRule& r : set.rules) {
                        writer->Rule({address, static_cast<int>(r.kind), false, 0, 0, 0, true});
                    }
                }
            }
        }
        m_impl->rules = std::move(rules);
        const int64_t now = m_impl->clock.NowMs();
        for (auto& [address, device] : m_impl->devices) {
            m_impl->Evaluate(device, now, notices);
        }
    }
    m_impl->Tell(notices);
}

void AlarmEngine::LoadRules(AlarmRuleBook rules)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->rules = std::move(rules);
}

AlarmRuleBook AlarmEngine::Rules() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->rules;
}

void AlarmEngine::AddObserver(std::shared_ptr<AlarmObserver> observer)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->observers.push_back(std::move(observer));
}

void AlarmEngine::RemoveObserver(const AlarmObserver* observer)
{
    std::lock_guard lock(m_impl->mutex);
    std::erase_if(m_impl->observers, [observer](const auto& o) { return o.get() == observer; });
}

void AlarmEngine::AttachDevice(const DeviceKey& key, AlarmLogSink log)
{
    std::lock_guard lock(m_impl->mutex);
    Impl::Device& device = m_impl->DeviceFor(key.address);
    device.key = key;
    device.log = std::move(log);
    device.attached = true;
    if (m_impl->writer != nullptr) {
        device.handle = m_impl->writer->RegisterDevice(key);
    }
}

void AlarmEngine::DetachDevice(const std::string& address)
{
    std::lock_guard lock(m_impl->mutex);
    auto it = m_impl->devices.find(address);
    if (it != m_impl->devices.end()) {
        // Its alarms stay as they are; a device attached again goes on with them.
        it->second.attached = false;
        it->second.log = {};
    }
}

void AlarmEngine::RenameDevice(const std::string& address, const std::string& name)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->DeviceFor(address).key.name = name;
}

void AlarmEngine::OnSignal(const std::string& address, const DeviceSignal& signal)
{
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        Impl::Device& device = m_impl->DeviceFor(address);
        device.connected = true; // a report comes over a live link
        device.linkLost = false;
        device.haveSignal = true;
        device.locked = signal.locked;
        device.quality = signal.quality;
        m_impl->Evaluate(device, m_impl->clock.NowMs(), notices);
    }
    m_impl->Tell(notices);
}

void AlarmEngine::OnEvent(const std::string& address, const DeviceEvent& event)
{
    using Kind = DeviceEvent::Kind;
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        Impl::Device& device = m_impl->DeviceFor(address);
        const int64_t now = m_impl->clock.NowMs();
        switch (event.kind) {
        case Kind::Connected:
        case Kind::Reconnected:
            device.connected = true;
            device.linkLost = false;
            device.haveSignal = false; // until the first report on this link
            break;
        case Kind::Disconnected:
            device.connected = false;
            device.linkLost = false;
            device.haveSignal = false;
            break;
        case Kind::LinkLost:
            device.connected = false;
            device.linkLost = true;
            device.haveSignal = false;
            break;
        case Kind::Restarted:
            m_impl->RaiseInformation(device, AlarmRuleKind::Restarted, now, {}, notices);
            break;
        case Kind::VersionReported:
            if (!device.version.empty() && device.version != event.detail) {
                m_impl->RaiseInformation(device, AlarmRuleKind::VersionChanged, now,
                                         device.version + " -> " + event.detail, notices);
            }
            device.version = event.detail;
            break;
        default:
            break;
        }
        m_impl->Evaluate(device, now, notices);
    }
    m_impl->Tell(notices);
}

void AlarmEngine::Tick()
{
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        const int64_t now = m_impl->clock.NowMs();
        for (auto& [address, device] : m_impl->devices) {
            m_impl->Evaluate(device, now, notices);
        }
    }
    m_impl->Tell(notices);
}

bool AlarmEngine::Acknowledge(int64_t id, const std::string& who)
{
    std::vector<Impl::Notice> notices;
    bool done;
    {
        std::lock_guard lock(m_impl->mutex);
        done = m_impl->AcknowledgeLocked(id, who, m_impl->clock.NowMs(), notices);
    }
    m_impl->Tell(notices);
    return done;
}

int AlarmEngine::AcknowledgeAll(const std::string& address, const std::string& who)
{
    std::vector<Impl::Notice> notices;
    int count = 0;
    {
        std::lock_guard lock(m_impl->mutex);
        std::vector<std::pair<int64_t, int64_t>> due; // oldest first: (raised, id)
        for (const auto& [id, alarm] : m_impl->active) {
            if (!alarm.Acknowledged() && (address.empty() || alarm.address == address)) {
                due.emplace_back(alarm.raisedMs, id);
            }
        }
        for (const Alarm& alarm : m_impl->cleared) {
            if (!alarm.Acknowledged() && (address.empty() || alarm.address == address)) {
                due.emplace_back(alarm.raisedMs, alarm.id);
            }
        }
        std::sort(due.begin(), due.end());
        const int64_t now = m_impl->clock.NowMs();
        for (const auto& [raised, id] : due) {
            count += m_impl->AcknowledgeLocked(id, who, now, notices) ? 1 : 0;
        }
    }
    m_impl->Tell(notices);
    return count;
}

std::vector<Alarm> AlarmEngine::Active() const
{
    std::lock_guard lock(m_impl->mutex);
    std::vector<Alarm> list;
    for (const auto& [id, alarm] : m_impl->active) {
        list.push_back(alarm);
    }
    std::sort(list.begin(), list.end(),
              [](const Alarm& a, const Alarm& b) { return a.raisedMs > b.raisedMs; });
    return list;
}

std::vector<Alarm> AlarmEngine::Recent(size_t limit) const
{
    std::vector<Alarm> list = Active();
    std::lock_guard lock(m_impl->mutex);
    for (size_t i = 0; i < m_impl->cleared.size() && i < limit; ++i) {
        list.push_back(m_impl->cleared[i]);
    }
    return list;
}

bool AlarmEngine::HasUnacknowledged(const std::string& address) const
{
    std::lock_guard lock(m_impl->mutex);
    return std::any_of(m_impl->active.begin(), m_impl->active.end(), [&](const auto& entry) {
        return entry.second.address == address && !entry.second.Acknowledged();
    });
}

void AlarmEngine::Restore(std::vector<Alarm> activeAlarms)
{
    std::lock_guard lock(m_impl->mutex);
    for (Alarm& alarm : activeAlarms) {
        if (!alarm.Active()) {
            continue;
        }
        Impl::Device& device = m_impl->DeviceFor(alarm.address);
        if (device.key.name.empty()) {
            device.key.name = alarm.deviceName;
        }
        for (size_t i = 0; i < std::size(kTimedRules); ++i) {
            if (kTimedRules[i] == alarm.rule && device.conditions[i].alarmId == 0) {
                device.conditions[i].alarmId = alarm.id;
            }
        }
        m_impl->active.emplace(alarm.id, std::move(alarm));
    }
}

void AlarmEngine::RestoreVersion(const std::string& address, std::string version)
{
    std::lock_guard lock(m_impl->mutex);
    Impl::Device& device = m_impl->DeviceFor(address);
    if (device.version.empty()) {
        device.version = std::move(version);
    }
}

std::string AlarmEngine::LogLine(const Alarm& alarm, bool raised)
{
    std::string line = GetLangText(raised ? history_row::AlarmRaised : history_row::AlarmCleared);
    line += AlarmRuleText(alarm.rule);
    if (!alarm.detail.empty()) {
        line += " (" + alarm.detail + ")";
    }
    return line;
}

} // namespace vireo
