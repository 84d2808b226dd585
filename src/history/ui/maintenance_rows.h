#pragma once

#include "ui/gbk_text.h"

#include <QString>

namespace vireo::ui {

// The rows of the language table of the alarms window's maintenance
// (silencing a device's alarms), counted from the first of them.
inline constexpr int kMaintenanceRowBase = 359;

enum class MaintenanceText {
    Button = 0,   // "Maintenance..."
    Duration = 1, // "Silence the alarms of this IRD for (hours):"
    Reason = 2,   // "Reason:"
};

inline QString MaintenanceLang(MaintenanceText text)
{
    return LangText(kMaintenanceRowBase + static_cast<int>(text));
}

} // namespace vireo::ui
