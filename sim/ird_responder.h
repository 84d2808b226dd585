#pragma once

#include "sim/device_database.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vireo::sim {

// Status values of a StatusReply that the simulated IRD sends by itself.
namespace status {
inline constexpr uint8_t kOk = 0;
inline constexpr uint8_t kOutOfManage = 7; // unknown request, bad argument, list full
inline constexpr uint8_t kNoMatch = 12;    // the asked item does not exist
inline constexpr uint8_t kNoTransponders = 16;
inline constexpr uint8_t kNoPrograms = 17;
inline constexpr uint8_t kNoSatellites = 18;
inline constexpr uint8_t kProgramNotFound = 29; // DeleteProgram
inline constexpr uint8_t kNoTvPrograms = 40;
inline constexpr uint8_t kScanNoNewPrograms = 33;
inline constexpr uint8_t kScanNoPrograms = 34;
inline constexpr uint8_t kNoRadioPrograms = 41;
} // namespace status

struct ReplyFrame
{
    std::vector<uint8_t> bytes;
    bool burst = false; // a data frame (or empty-list status) of an UpdateAll burst
};

struct SignalLevel
{
    uint8_t intensity = 78; // 0..99
    uint8_t quality = 64;   // 0..99
    bool locked = true;
};

// A complete frame around `payload`.
// The status that accepts StartUpgrade and hands the link to the upgrade.
inline constexpr uint8_t kStatusUpgradeAccepted = 175;

std::vector<uint8_t> BuildFrame(uint8_t code, std::span<const uint8_t> payload);
std::vector<uint8_t> BuildStatusReply(uint8_t echoedCode, uint8_t statusValue);

// The simulated IRD's answer to one request frame (start byte to end byte),
// with the request's changes applied to `db`:
//  - queries get their data frames; an all-item query (index 0xFF) and every
//    QuerySatellite end with StatusReply 0; a list the device does not have
//    is reported with status 16, 17, 18, 40 or 41; an index it does not hold
//    with status 12;
//  - UpdateAll gets system, volume, version, satellites, transponders, TV
//    programs, radio programs and the playing program, then StatusReply 0;
//  - commands answer with the changed record (SetVolume, SetSystemInfo,
//    SetSatellite, AddSatellite, AddTp, ModifyTp, PlayProgram, MultiDescramble,
//    SelectAudio) or with a StatusReply (deletes: 0, or 12/29 when unknown;
//    StopScan, Reboot: 0; StartUpgrade: 175, after which the connection
//    carries the upgrade; a scan finds one new TV program, 0,
//    or reports 33 (list full) or 34 (nothing to scan));
//  - a code the manager never sends, or a request too short for its code,
//    gets status 7.
// A SetSystemInfo with byte 18 set stores the new address, mask and MAC and
// reports the change (byte 18 = 1) once; the simulator keeps listening where
// it was started, as a loopback device cannot take a LAN address.
std::vector<ReplyFrame> AnswerRequest(DeviceDatabase& db, std::span<const uint8_t> frame,
                                      const SignalLevel& signal);

// Name of a message code for logs ("QueryTp", "StatusReply"), by direction;
// "0x7E" for a code outside the catalogue.
std::string MessageName(uint8_t code, bool fromManager);

// "88 61 02 59 18 99"
std::string HexBytes(std::span<const uint8_t> bytes);

} // namespace vireo::sim
