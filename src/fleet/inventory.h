#pragma once

#include "fleet/device_search.h"

#include <string>
#include <vector>

namespace vireo {

// The programs of `devices` as CSV, UTF-8 with a byte-order mark (so that
// spreadsheets read the Chinese names), CR LF line ends: a header, then one
// row per program, TV before radio in list order, with its device, satellite,
// transponder and PIDs (decimal; several audio PIDs joined by spaces).
std::string InventoryCsv(const std::vector<DeviceDatabaseRef>& devices);

// The snapshot document of each of `devices` (the one vireo-dump writes),
// in one JSON array, UTF-8.
std::string InventoryJson(const std::vector<DeviceDatabaseRef>& devices);

// One CSV field: quoted when it holds a comma, quote or line end.
std::string CsvField(const std::string& text);

} // namespace vireo
