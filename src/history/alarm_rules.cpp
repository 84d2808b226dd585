#include "history/alarm_rules.h"

#include "history/history_database.h"
#include "history/sqlite_statement.h"
#include "lang/language_table.h"

namespace vireo {

AlarmSeverity AlarmRule::Severity() const
{
    return kind == AlarmRuleKind::Restarted || kind == AlarmRuleKind::VersionChanged
               ? AlarmSeverity::Information
               : AlarmSeverity::Warning;
}

AlarmRuleSet AlarmRuleSet::Defaults()
{
    AlarmRuleSet set;
    set.Rule(AlarmRuleKind::Unlocked) = {AlarmRuleKind::Unlocked, true, 0, 5, 3};
    set.Rule(AlarmRuleKind::LowQuality) = {AlarmRuleKind::LowQuality, true, 30, 10, 3};
    set.Rule(AlarmRuleKind::LinkLost) = {AlarmRuleKind::LinkLost, true, 0, 10, 3};
    set.Rule(AlarmRuleKind::Restarted) = {AlarmRuleKind::Restarted, true, 0, 0, 0};
    set.Rule(AlarmRuleKind::VersionChanged) = {AlarmRuleKind::VersionChanged, true, 0, 0, 0};
    return set;
}

AlarmRuleSet AlarmRuleBook::ForDevice(const std::string& address) const
{
    auto it = m_overrides.find(address);
    return it != m_overrides.end() ? it->second : m_global;
}

std::optional<AlarmRuleSet> AlarmRuleBook::Override(const std::string& address) const
{
    auto it = m_overrides.find(address);
    if (it == m_overrides.end()) {
        return std::nullopt;
    }
    return it->second;
}

void AlarmRuleBook::SetOverride(const std::string& address, const AlarmRuleSet& rules)
{
    m_overrides[address] = rules;
}

void AlarmRuleBook::ClearOverride(const std::string& address)
{
    m_overrides.erase(address);
}

AlarmRuleBook AlarmRuleBook::Load(HistoryDatabase& database)
{
    AlarmRuleBook book;
    SqliteStatement read(database.Handle(), "SELECT address, rule, enabled, threshold, raise_s, "
                                            "clear_s FROM alarm_rules ORDER BY address");
    if (!read.Valid()) {
        return book;
    }
    while (read.Step() == SQLITE_ROW) {
        const int kind = static_cast<int>(read.Int(1));
        if (kind < 1 || kind > kAlarmRuleKindCount) {
            continue; // a rule of a newer program
        }
        const std::string address = read.Text(0);
        AlarmRule rule{static_cast<AlarmRuleKind>(kind), read.Int(2) != 0,
                       static_cast<int>(read.Int(3)), static_cast<int>(read.Int(4)),
                       static_cast<int>(read.Int(5))};
        if (address.empty()) {
            book.m_global.Rule(rule.kind) = rule;
        } else {
            auto [it, added] = book.m_overrides.try_emplace(address, book.m_global);
            it->second.Rule(rule.kind) = rule;
        }
    }
    // Overrides were seeded from the global rules read so far; rows sort the
    // global ones (empty address) first, so every seed is complete.
    return book;
}

std::string AlarmRuleText(AlarmRuleKind kind)
{
    return GetLangText(history_row::RuleNames + static_cast<int>(kind) - 1);
}

const char* AlarmRuleName(AlarmRuleKind kind)
{
    switch (kind) {
    case AlarmRuleKind::Unlocked:
        return "signal unlocked";
    case AlarmRuleKind::LowQuality:
        return "low signal quality";
    case AlarmRuleKind::LinkLost:
        return "link lost";
    case AlarmRuleKind::Restarted:
        return "device restarted";
    case AlarmRuleKind::VersionChanged:
        return "version changed";
    }
    return "alarm";
}

} // namespace vireo
