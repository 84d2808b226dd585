#pragma once

#include "history/alarm_engine.h"
#include "history/silence_store.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vireo {

// The alarms of every device as the monitor publishes them: for each device
// the rules it is watched by and those active now, kept up to date from the
// engine's raises and clears so a scrape of a thousand devices never walks
// the engine's list.
//
// Only rules that clear by themselves are published. Information alarms
// (restart, version change) stay active until an operator acknowledges
// them, which nobody does on a headless monitor: they are recorded in the
// history but would be a metric stuck at 1.
class FleetAlarms : public AlarmObserver
{
public:
    // Takes the rules in force and the alarms already active (restored from
    // the history).
    explicit FleetAlarms(const AlarmEngine& engine);

    // New rules (a reload, or a change another program made).
    void SetRules(AlarmRuleBook rules);
    // The maintenance windows now known (re-read from the history regularly).
    void SetSilences(std::vector<Silence> silences);
    std::vector<Silence> Silences() const;
    // True when a running silence covers the device now.
    bool Silenced(const std::string& address, const std::string& group) const;

    // Label values of the rules watching `address`, and of those active.
    std::vector<std::string> WatchedRules(const std::string& address) const;
    std::vector<std::string> ActiveRules(const std::string& address) const;

    // The label value of a rule ("unlocked", "low_quality", "link_lost"...).
    static const char* RuleLabel(AlarmRuleKind kind);

    void OnAlarmRaised(const Alarm& alarm) override;
    void OnAlarmCleared(const Alarm& alarm) override;

private:
    static bool published(AlarmRuleKind kind);

    mutable std::mutex m_mutex;
    AlarmRuleBook m_rules;
    std::vector<Silence> m_silences;
    std::map<std::string, std::set<AlarmRuleKind>> m_active;
};

} // namespace vireo
