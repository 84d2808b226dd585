#pragma once

// Rows of the language table that the fleet view, the search across devices
// and the inventory export use, all counted from one base.
namespace vireo::fleet_text {

inline constexpr int kFleetRowBase = 215;

inline constexpr int Fleet = kFleetRowBase + 0;
inline constexpr int Device = kFleetRowBase + 1;
inline constexpr int State = kFleetRowBase + 2;
inline constexpr int Lock = kFleetRowBase + 3;
inline constexpr int Intensity = kFleetRowBase + 4;
inline constexpr int Quality = kFleetRowBase + 5;
inline constexpr int Playing = kFleetRowBase + 6;
inline constexpr int Loader = kFleetRowBase + 7;
inline constexpr int Software = kFleetRowBase + 8;
inline constexpr int LastRefresh = kFleetRowBase + 9;
inline constexpr int Reconnects = kFleetRowBase + 10;
inline constexpr int Alarms = kFleetRowBase + 11;
inline constexpr int LastLog = kFleetRowBase + 12;
inline constexpr int NotConnected =
    kFleetRowBase + 13; // NotConnected .. Failed in FleetState order
inline constexpr int Locked = kFleetRowBase + 19;
inline constexpr int Unlocked = kFleetRowBase + 20;
inline constexpr int Connect = kFleetRowBase + 21;
inline constexpr int Disconnect = kFleetRowBase + 22;
inline constexpr int Renew = kFleetRowBase + 23;
inline constexpr int QuerySignalOn = kFleetRowBase + 24;
inline constexpr int QuerySignalOff = kFleetRowBase + 25;
inline constexpr int AcknowledgeAlarms = kFleetRowBase + 26;
inline constexpr int Filter = kFleetRowBase + 27;
inline constexpr int SearchMenu = kFleetRowBase + 28;
inline constexpr int Search = kFleetRowBase + 29;
inline constexpr int ModeAny = kFleetRowBase + 30; // Any, Name, Frequency, PID in SearchMode order
inline constexpr int Kind = kFleetRowBase + 34;
inline constexpr int Path = kFleetRowBase + 35;
inline constexpr int Satellite = kFleetRowBase + 36; // Satellite .. Radio program in hit order
inline constexpr int ExportCsv = kFleetRowBase + 40;
inline constexpr int ExportJson = kFleetRowBase + 41;
inline constexpr int NothingToExport = kFleetRowBase + 42;
inline constexpr int CannotWrite = kFleetRowBase + 43;
inline constexpr int HitGone = kFleetRowBase + 44;
inline constexpr int Results = kFleetRowBase + 45;
inline constexpr int Ticked = kFleetRowBase + 46;
inline constexpr int FleetMenu = kFleetRowBase + 47;

} // namespace vireo::fleet_text
