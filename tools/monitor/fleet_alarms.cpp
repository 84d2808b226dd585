#include "fleet_alarms.h"

#include "link/device_observer.h"

namespace vireo {

FleetAlarms::FleetAlarms(const AlarmEngine& engine) : m_rules(engine.Rules())
{
    for (const Alarm& alarm : engine.Active()) {
        OnAlarmRaised(alarm);
    }
}

const char* FleetAlarms::RuleLabel(AlarmRuleKind kind)
{
    switch (kind) {
    case AlarmRuleKind::Unlocked:
        return "unlocked";
    case AlarmRuleKind::LowQuality:
        return "low_quality";
    case AlarmRuleKind::LinkLost:
        return "link_lost";
    case AlarmRuleKind::Restarted:
        return "restarted";
    case AlarmRuleKind::VersionChanged:
        return "version_changed";
    }
    return "unknown";
}

bool FleetAlarms::published(AlarmRuleKind kind)
{
    return AlarmRule{kind}.Severity() == AlarmSeverity::Warning;
}

void FleetAlarms::SetRules(AlarmRuleBook rules)
{
    std::lock_guard lock(m_mutex);
    m_rules = std::move(rules);
}

void FleetAlarms::SetSilences(std::vector<Silence> silences)
{
    std::lock_guard lock(m_mutex);
    m_silences = std::move(silences);
}

std::vector<Silence> FleetAlarms::Silences() const
{
    std::lock_guard lock(m_mutex);
    return m_silences;
}

bool FleetAlarms::Silenced(const std::string& address, const std::string& group) const
{
    std::lock_guard lock(m_mutex);
    return IsSilenced(m_silences, address, group, DeviceObservers::NowMs());
}

std::vector<std::string> FleetAlarms::WatchedRules(const std::string& address) const
{
    std::vector<std::string> rules;
    AlarmRuleSet set;
    {
        std::lock_guard lock(m_mutex);
        set = m_rules.ForDevice(address);
    }
    for (const AlarmRule& rule : set.rules) {
        if (rule.enabled && published(rule.kind)) {
            rules.emplace_back(RuleLabel(rule.kind));
        }
    }
    return rules;
}

std::vector<std::string> FleetAlarms::ActiveRules(const std::string& address) const
{
    std::vector<std::string> rules;
    std::lock_guard lock(m_mutex);
    const auto it = m_active.find(address);
    if (it != m_active.end()) {
        for (AlarmRuleKind kind : it->second) {
            rules.emplace_back(RuleLabel(kind));
        }
    }
    return rules;
}

void FleetAlarms::OnAlarmRaised(const Alarm& alarm)
{
    if (!published(alarm.rule) || !alarm.Active()) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_active[alarm.address].insert(alarm.rule);
}

void FleetAlarms::OnAlarmCleared(const Alarm& alarm)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_active.find(alarm.address);
    if (it != m_active.end()) {
        it->second.erase(alarm.rule);
    }
}

} // namespace vireo
