#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>

namespace vireo {

class HistoryDatabase;

// The conditions an alarm watches.
enum class AlarmRuleKind {
    Unlocked = 1,       // connected, no lock for raiseAfterS
    LowQuality = 2,     // locked, quality below threshold % for raiseAfterS
    LinkLost = 3,       // the link lost and not back for raiseAfterS
    Restarted = 4,      // the device restarted (information)
    VersionChanged = 5, // the device reports another version (information)
};
inline constexpr int kAlarmRuleKindCount = 5;

enum class AlarmSeverity {
    Warning = 1,     // a condition that clears by itself when it ends
    Information = 2, // a fact: active until acknowledged
};

// One rule. A condition raises its alarm once it has held for raiseAfterS
// without a break and clears it once it has been absent for clearAfterS
// (the hysteresis in time). LowQuality also wants quality back at
// threshold + kQualityHysteresis before the absence counts.
struct AlarmRule
{
    AlarmRuleKind kind = AlarmRuleKind::Unlocked;
    bool enabled = true;
    int threshold = 0; // LowQuality: percent
    int raiseAfterS = 0;
    int clearAfterS = 0;

    static constexpr int kQualityHysteresis = 5;

    AlarmSeverity Severity() const;
    bool operator==(const AlarmRule&) const = default;
};

// Every rule once, by kind.
struct AlarmRuleSet
{
    std::array<AlarmRule, kAlarmRuleKindCount> rules;

    // Unlocked 5 s, quality below 30 % for 10 s, link lost 10 s, both
    // information rules on; warnings clear after 3 s back to normal.
    static AlarmRuleSet Defaults();
    AlarmRule& Rule(AlarmRuleKind kind) { return rules[static_cast<int>(kind) - 1]; }
    const AlarmRule& Rule(AlarmRuleKind kind) const { return rules[static_cast<int>(kind) - 1]; }
    bool operator==(const AlarmRuleSet&) const = default;
};

// Global rules plus per-device overrides (by address). A device without an
// override of a rule uses the global one.
class AlarmRuleBook
{
public:
    AlarmRuleBook() : m_global(AlarmRuleSet::Defaults()) {}

    const AlarmRuleSet& Global() const { return m_global; }
    void SetGlobal(const AlarmRuleSet& rules) { m_global = rules; }

    // The rules in force for `address`.
    AlarmRuleSet ForDevice(const std::string& address) const;
    // The device's own rules, when it has any.
    std::optional<AlarmRuleSet> Override(const std::string& address) const;
    void SetOverride(const std::string& address, const AlarmRuleSet& rules);
    void ClearOverride(const std::string& address);
    const std::map<std::string, AlarmRuleSet>& Overrides() const { return m_overrides; }

    // Reads the rules stored in the history (defaults where none are).
    static AlarmRuleBook Load(HistoryDatabase& database);

private:
    AlarmRuleSet m_global;
    std::map<std::string, AlarmRuleSet> m_overrides;
};

// Language-table rows of the history's texts: the alarm log lines' openings,
// then the rule names in the order of AlarmRuleKind.
inline constexpr int kHistoryRowBase = 215;
namespace history_row {
inline constexpr int AlarmRaised = kHistoryRowBase + 0;  // "Alarm raised: "
inline constexpr int AlarmCleared = kHistoryRowBase + 1; // "Alarm cleared: "
inline constexpr int RuleNames = kHistoryRowBase + 2;    // + kind - 1: "signal unlocked"...
} // namespace history_row

// A short English name of a rule kind ("signal unlocked"), for files and
// services that are not translated.
const char* AlarmRuleName(AlarmRuleKind kind);
// The rule's name in the interface language (GBK), from the language table.
std::string AlarmRuleText(AlarmRuleKind kind);

} // namespace vireo
