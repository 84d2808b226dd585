#pragma once

// The language rows of a snapshot's apply, all counted from one base.
namespace vireo::apply_row {

inline constexpr int kApplyRowBase = 362;

inline constexpr int SatellitesCounted = kApplyRowBase + 0; // "Satellites: %1 added, ..."
inline constexpr int TpsCounted = kApplyRowBase + 1;        // "TPs: %1 added, ..."
inline constexpr int SettingsChanged = kApplyRowBase + 2;
inline constexpr int ProgramsLost = kApplyRowBase + 3; // "... lost ...: %1"
inline constexpr int AllowLoss = kApplyRowBase + 4;
inline constexpr int ShowPlan = kApplyRowBase + 5;
inline constexpr int Resume = kApplyRowBase + 6;
inline constexpr int RollBack = kApplyRowBase + 7;
inline constexpr int PartlyApplied = kApplyRowBase + 8; // "%1 steps done, %2 left."
inline constexpr int StateSaved = kApplyRowBase + 9;    // "... saved: " + path
inline constexpr int Journal = kApplyRowBase + 10;      // "Apply journal: " + path
inline constexpr int Refused = kApplyRowBase + 11;      // "... (status %1)"
inline constexpr int LinkLost = kApplyRowBase + 12;
inline constexpr int NoAnswer = kApplyRowBase + 13;
inline constexpr int Cancelled = kApplyRowBase + 14;
inline constexpr int Left = kApplyRowBase + 15; // "Left: "
inline constexpr int SnapshotMenu = kApplyRowBase + 16;
inline constexpr int NotSaved = kApplyRowBase + 17;
inline constexpr int PlanFor = kApplyRowBase + 18; // "Plan for " + device
inline constexpr int ApplyShownPlan = kApplyRowBase + 19;
inline constexpr int NotKept = kApplyRowBase + 20;
inline constexpr int ReadFailed = kApplyRowBase + 21;
inline constexpr int NoSatellite = kApplyRowBase + 22;
inline constexpr int LossNotAllowed = kApplyRowBase + 23;
inline constexpr int JournalFailed = kApplyRowBase + 24;
inline constexpr int FieldPollingInterval = kApplyRowBase + 25;
inline constexpr int FieldScreenRatio = kApplyRowBase + 26;
inline constexpr int FieldMenuLanguage = kApplyRowBase + 27;
inline constexpr int FieldOutputType = kApplyRowBase + 28;
inline constexpr int FieldTsOutput = kApplyRowBase + 29;
inline constexpr int FieldTsLength = kApplyRowBase + 30;

} // namespace vireo::apply_row
