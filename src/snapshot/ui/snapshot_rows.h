#pragma once

// The language rows of the snapshot commands, all counted from one base.
namespace vireo::ui::snapshot_row {

inline constexpr int kSnapshotRowBase = 270;

inline constexpr int SaveSnapshot = kSnapshotRowBase + 0;    // "Save Snapshot..."
inline constexpr int CompareSnapshot = kSnapshotRowBase + 1; // "Compare with Snapshot..."
inline constexpr int ApplySnapshot = kSnapshotRowBase + 2;   // "Apply Snapshot..."
inline constexpr int FileFilter = kSnapshotRowBase + 3;      // "Snapshot (*.json)"
inline constexpr int NotRead = kSnapshotRowBase + 4;
inline constexpr int Saved = kSnapshotRowBase + 5;       // "Snapshot saved: "
inline constexpr int CannotWrite = kSnapshotRowBase + 6; // "Can't write "
inline constexpr int CannotRead = kSnapshotRowBase + 7;  // "Can't read the snapshot: "
inline constexpr int DiffTitle = kSnapshotRowBase + 8;   // "Differences with "
inline constexpr int NoDifferences = kSnapshotRowBase + 9;
inline constexpr int OnlyInSnapshot = kSnapshotRowBase + 10;
inline constexpr int OnlyOnDevice = kSnapshotRowBase + 11;
inline constexpr int Changed = kSnapshotRowBase + 12;
inline constexpr int Item = kSnapshotRowBase + 13;
inline constexpr int Snapshot = kSnapshotRowBase + 14;
inline constexpr int Device = kSnapshotRowBase + 15;
inline constexpr int Satellites = kSnapshotRowBase + 16;
inline constexpr int Transponders = kSnapshotRowBase + 17;
inline constexpr int TvPrograms = kSnapshotRowBase + 18;
inline constexpr int RadioPrograms = kSnapshotRowBase + 19;
inline constexpr int SystemSettings = kSnapshotRowBase + 20;
inline constexpr int NothingToDo = kSnapshotRowBase + 21;
inline constexpr int ApplyQuestion = kSnapshotRowBase + 22;
inline constexpr int Reading = kSnapshotRowBase + 23; // "Reading the device..."
inline constexpr int Matches = kSnapshotRowBase + 24;
inline constexpr int StoppedAt = kSnapshotRowBase + 25; // "Stopped at: "
inline constexpr int StillDiffers = kSnapshotRowBase + 26;
inline constexpr int Close = kSnapshotRowBase + 27;
inline constexpr int SetSystem = kSnapshotRowBase + 28; // "Set System Settings"
inline constexpr int Cannot = kSnapshotRowBase + 29;    // "Cannot: "
inline constexpr int ApplyToSelected = kSnapshotRowBase + 30;

// Rows of the table every window uses.
inline constexpr int kRowApply = 114;
inline constexpr int kRowDeleteSatellite = 82;
inline constexpr int kRowAddSatellite = 83;
inline constexpr int kRowAddTp = 84;
inline constexpr int kRowDeleteTp = 85;
inline constexpr int kRowModifyTp = 86;
inline constexpr int kRowLnbSet = 81;

} // namespace vireo::ui::snapshot_row
