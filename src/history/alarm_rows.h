#pragma once

#include "history/alarm_engine.h"
#include "history/sqlite_statement.h"

#include <vector>

namespace vireo {

// The alarms a statement selects, its columns in this order: id, address,
// device name, rule, severity, raised, cleared, acknowledged ms,
// acknowledged by, detail. Rows of a rule this program does not know (a
// newer program's) are left out.
std::vector<Alarm> ReadAlarmRows(SqliteStatement& read);

} // namespace vireo
