#pragma once

#include "ui/gbk_text.h"

#include <QString>

namespace vireo::ui {

// The rows of the language table that the history's windows use, counted
// from the first of them: moving them is changing this base. (The history's
// log lines have rows of their own, from history/alarm_rules.h.)
inline constexpr int kHistoryUiRowBase = 301;

enum class HistoryText {
    SignalHistory = 0,
    Range10Min = 1,
    Range1Hour = 2,
    Range24Hours = 3,
    Range7Days = 4,
    Range30Days = 5,
    Intensity = 6,
    Quality = 7,
    Unlocked = 8,
    Disconnected = 9,
    Availability = 10,
    Start = 11,
    End = 12,
    Duration = 13,
    ExportCsv = 14,
    NoData = 15,
    Alarms = 16,
    Device = 17,
    Rule = 18,
    Since = 19,
    Acknowledged = 20,
    Acknowledge = 21,
    ShowCleared = 22,
    AlarmRulesMenu = 23,
    AlarmRules = 24,
    RuleUnlocked = 25,
    RuleQualityLow = 26,
    RuleLinkLost = 27,
    RuleRestarted = 28,
    RuleVersionChanged = 29,
    GlobalDefaults = 30,
    Enabled = 31,
    Threshold = 32,
    HoldSeconds = 33,
    Override = 34,
    CorruptMoved = 35,
    CorruptRestarted = 36,
    ExportFailed = 37,
    AlarmsMenu = 38,
    AlarmsWindow = 39,
    Range = 40,
    Ongoing = 41,
    State = 42,
    HistoryUnavailable = 43,
    OutageCount = 44,
    ClearAfter = 45,
};

inline QString HistoryLang(HistoryText text)
{
    return LangText(kHistoryUiRowBase + static_cast<int>(text));
}

} // namespace vireo::ui
