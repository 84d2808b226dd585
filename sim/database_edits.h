#pragma once

#include "sim/device_database.h"

#include <cstdint>
#include <optional>

namespace vireo::sim {

// The changes the IRD's commands make to its lists. Each keeps the database
// consistent: previous/next indices and next links follow the new list order,
// program indices run 0, 1, 2, ... again after a removal, and the playing
// program follows its renumbering (or stops when it is removed).

// Appends a satellite under the lowest free index; nullopt when 255 are held.
std::optional<uint8_t> AddSatellite(DeviceDatabase& db, Satellite sat);
// Takes the LNB settings and name of an existing satellite; false when unknown.
bool UpdateSatellite(DeviceDatabase& db, const Satellite& sat);
// Removes a satellite with its transponders and their programs.
bool DeleteSatellite(DeviceDatabase& db, uint8_t index);

// Adds a transponder after the last one of its satellite, under the lowest
// free index; nullopt when the satellite is unknown or 255 are held.
std::optional<uint8_t> AddTransponder(DeviceDatabase& db, Transponder tp);
// Takes the tuning values of an existing transponder; false when unknown.
bool UpdateTransponder(DeviceDatabase& db, const Transponder& tp);
// Removes a transponder with its programs.
bool DeleteTransponder(DeviceDatabase& db, uint8_t index);

bool DeleteProgram(DeviceDatabase& db, uint8_t kind, uint8_t index);

// Volume command bytes: 0x0A up (the manager also sends it to ask), 0x05 down,
// 0xF0 mute, 0x7F sound on; anything else leaves the volume as it is.
void ApplyVolumeCommand(Volume& volume, uint8_t command);

// Numbers satellites and transponders 0, 1, 2... in list order, the
// references to them following.
void RenumberDatabase(DeviceDatabase& db);

} // namespace vireo::sim
