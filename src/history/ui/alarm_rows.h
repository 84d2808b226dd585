#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace vireo::ui {

// One alarm as the alarms window lists it.
struct AlarmRow
{
    int64_t id = 0;
    std::string address; // the device's caption, as its window has it
    std::string name;    // GBK
    QString ruleText;
    int64_t raisedMs = 0;
    int64_t clearedMs = 0; // 0: still active
    int64_t acknowledgedMs = 0;
    std::string acknowledgedBy; // GBK
    bool information = false;   // a notice (restart, version) rather than a fault

    bool Active() const { return clearedMs == 0; }
    bool Acknowledged() const { return acknowledgedMs != 0; }
};

} // namespace vireo::ui
