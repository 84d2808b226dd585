#pragma once

namespace vireo::outage_rows {

// The language-table rows of honest outages (the background watch of a lost
// device, the paused history, the availability report), counted from the
// first of them: moving them is changing this base.
inline constexpr int kOutageRowBase = 347;

inline constexpr int Watching = kOutageRowBase + 0;      // "Link lost: the device is watched, ..."
inline constexpr int Unreachable = kOutageRowBase + 1;   // "The device still does not answer, ..."
inline constexpr int Attempts = kOutageRowBase + 2;      // " attempts"
inline constexpr int HistoryPaused = kOutageRowBase + 3; // "History paused: "
inline constexpr int Since = kOutageRowBase + 4;         // " since "
inline constexpr int NotRecorded = kOutageRowBase + 5;   // " samples not recorded"
inline constexpr int ExportReport = kOutageRowBase + 6;  // "Export Report..."
inline constexpr int ReportSaved = kOutageRowBase + 7;   // "Report saved: "
inline constexpr int ReportFailed = kOutageRowBase + 8;  // "The report could not be written: "
inline constexpr int Waiting = kOutageRowBase + 9;       // " records waiting for the disk"
inline constexpr int Shift = kOutageRowBase + 10;        // "Shift (8 h)"
inline constexpr int Report = kOutageRowBase + 11;       // "Report:"

} // namespace vireo::outage_rows
