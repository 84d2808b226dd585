#pragma once

#include "ui/gbk_text.h"

#include <QString>

namespace vireo::ui {

// The rows of the language table that the signal history and the alarms
// use, counted from the first of them: moving them is changing this base.
inline constexpr int kHistoryRowBase = 215;

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
    Outages = 11,
    Start = 12,
    End = 13,
    Duration = 14,
    ExportCsv = 15,
    NoData = 16,
    Alarms = 17,
    Device = 18,
    Rule = 19,
    Since = 20,
    Acknowledged = 21,
    Acknowledge = 22,
    ShowCleared = 23,
    AlarmRulesMenu = 24,
    AlarmRules = 25,
    RuleUnlocked = 26,
    RuleQualityLow = 27,
    RuleLinkLost = 28,
    RuleRestarted = 29,
    RuleVersionChanged = 30,
    AlarmRaised = 31,
    AlarmCleared = 32,
    GlobalDefaults = 33,
    Enabled = 34,
    Threshold = 35,
    HoldSeconds = 36,
    Override = 37,
    CorruptMoved = 38,
    CorruptRestarted = 39,
    ExportFailed = 40,
    Active = 41,
    Cleared = 42,
    AlarmsMenu = 43,
    AlarmsWindow = 44,
    Range = 45,
    Ongoing = 46,
    Time = 47,
    State = 48,
    HistoryUnavailable = 49,
    OutageCount = 50,
    ClearAfter = 51,
};

inline QString HistoryLang(HistoryText text)
{
    return LangText(kHistoryRowBase + static_cast<int>(text));
}

} // namespace vireo::ui
