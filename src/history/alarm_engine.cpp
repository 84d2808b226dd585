#include "history/alarm_engine.h"

#include "history/alarm_engine_impl.h"
#include "history/history_writer.h"
#include "lang/language_table.h"

#include <algorithm>
#include <deque>
#include <random>

namespace vireo {

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

void AlarmEngine::ReaddressDevice(const std::string& from, const std::string& to)
{
    std::lock_guard lock(m_impl->mutex);
    auto it = m_impl->devices.find(from);
    if (from == to || it == m_impl->devices.end() || m_impl->devices.count(to) != 0) {
        return;
    }
    Impl::Device device = std::move(it->second);
    m_impl->devices.erase(it);
    device.key.address = to;
    m_impl->devices.emplace(to, std::move(device));
    for (auto& [id, alarm] : m_impl->active) {
        if (alarm.address == from) {
            alarm.address = to;
        }
    }
}

void AlarmEngine::RetainDevices(const std::vector<std::string>& addresses)
{
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        if (m_impl->leasing) {
            // Which devices other programs evaluate is known at the next
            // lease answer; their alarms are theirs to clear.
            m_impl->retainPending = addresses;
        } else {
            m_impl->Retain(addresses, notices);
        }
    }
    m_impl->Tell(notices);
}

void AlarmEngine::OnSignal(const std::string& address, const DeviceSignal& signal)
{
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        Impl::Device& device = m_impl->DeviceFor(address);
        device.connected = true; // a report comes over a live link
        device.everConnected = true;
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
            device.everConnected = true;
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
        case Kind::ConnectFailed:
            if (!device.everConnected) {
                // Never reached since the program started: out of reach as
                // surely as after a loss. (After an operator's disconnect,
                // e.g. a restart asked for, a failed attempt is no loss.)
                device.linkLost = true;
            }
            break;
        case Kind::Restarted:
            // Asked for (code 0) or found out (code 1: it came back from a
            // loss with its counters from zero): both wait for the operator.
            m_impl->RaiseInformation(device, AlarmRuleKind::Restarted, now, event.detail, notices);
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
        m_impl->Adopt(alarm);
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
