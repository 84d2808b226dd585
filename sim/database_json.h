#pragma once

#include "sim/device_database.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vireo::sim {

// The database file: UTF-8 JSON, keys written in this order, lists in list order.
//
//   satellites   [{index, prev, next, flags, lo_high, lo_low, name, name_hex}]
//                SatelliteRecord bytes 0, 1, 2, 3, 4-5, 6-7, 8-39.
//   transponders [{index, satellite, prev, next, frequency, symbol_rate,
//                  modulation, pilot, polarisation, fec, label}]
//                TpRecord bytes 0, 1, 2, 3, 4-5, 6-7, 8, 9, 10, 11; label is
//                the text the manager derives ("12380 H 27500").
//   tv, radio    [{index, link, next, tp, pcr_pid, video_pid, teletext_pid,
//                  scrambled, module, audio: [{type, pid}] x 3, audio_choice,
//                  name, name_hex, label}]
//                ProgramRecord bytes 0, 1, 2, 3, 4-5, 6-7 bits 3-15 (bits 0-2
//                are the kind, given by the list), 8-9, 10, 11, 12-17 (each
//                audio: bits 0-2 type, bits 3-15 PID), 18, the name after byte
//                20; label is the manager's tree label ("P 005:$ News").
//                Byte 19 is not kept: the simulator sends it as 0.
//   playing      {index, kind}        PlayingRecord byte 0 and byte 6 bits 0-2;
//                                     index 255 = nothing plays (kind 0).
//   system       "40 hex digits"      the 20-byte SystemRecord, lowercase.
//   volume       {level, muted}       VolumeState bits 0-3 and bit 7.
//   version      [4 numbers]          loader major, minor, software major, minor.
//
// Every index, link and next value is a number, 255 meaning none. Names are
// converted to GBK and must fit 31 bytes. A name is written as its display
// text (control bytes as \r, \n, \t or \xNN, half a GBK character as
// \xNN), followed by name_hex, its bytes in hex, when that text does not
// give them back; name_hex is written only then, and when read it is the
// name and "name" is not needed.
//
// Reading is lenient where the list order already says it: prev/next of
// satellites and transponders and index/next of programs may be left out,
// label is ignored, numbers may also be strings ("0x1FFF"), and a missing
// list or setting is empty or zero (volume 8, not muted; nothing plays).
// The head of a snapshot document ("format", "taken_at", "device") is
// ignored. Other unknown keys and an inconsistent database are errors.

nlohmann::ordered_json DatabaseToJsonValue(const DeviceDatabase& db);

// Pretty-printed with two-space indents and a final newline; the same
// database always gives the same text.
std::string DatabaseToJson(const DeviceDatabase& db);

// nullopt with the reason in *error when the text is not a valid database.
std::optional<DeviceDatabase> DatabaseFromJson(std::string_view text, std::string* error);

std::optional<DeviceDatabase> LoadDatabaseFile(const std::string& path, std::string* error);

} // namespace vireo::sim
