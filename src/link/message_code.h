#pragma once

#include <cstdint>

namespace vireo {

// Message codes of the common frame (byte 1). Several codes serve both
// directions under two names: a request from the manager and the IRD's answer.
namespace msg {
inline constexpr uint8_t SetSystemInfo = 0x11;
inline constexpr uint8_t SystemInfo = 0x11;
inline constexpr uint8_t SetVolume = 0x12;
inline constexpr uint8_t VolumeInfo = 0x12;
inline constexpr uint8_t QueryVersion = 0x13;
inline constexpr uint8_t VersionInfo = 0x13;
inline constexpr uint8_t QuerySystemInfo = 0x1A;
inline constexpr uint8_t SetSatellite = 0x21;
inline constexpr uint8_t SatelliteInfo = 0x21;
inline constexpr uint8_t QueryTp = 0x22;
inline constexpr uint8_t TpInfo = 0x22;
inline constexpr uint8_t AddTp = 0x23;
inline constexpr uint8_t DeleteTp = 0x24;
inline constexpr uint8_t ModifyTp = 0x25;
inline constexpr uint8_t ScanSatellite = 0x26;
inline constexpr uint8_t ScanTp = 0x27;
inline constexpr uint8_t AddSatellite = 0x28;
inline constexpr uint8_t DeleteSatellite = 0x29;
inline constexpr uint8_t QuerySatellite = 0x2A;
inline constexpr uint8_t StopScan = 0x2B;
inline constexpr uint8_t QueryProgram = 0x31;
inline constexpr uint8_t ProgramInfo = 0x31;
inline constexpr uint8_t PlayProgram = 0x32;
inline constexpr uint8_t PlayingInfo = 0x32;
inline constexpr uint8_t MultiDescramble = 0x33;
inline constexpr uint8_t DeleteProgram = 0x34;
inline constexpr uint8_t SelectAudio = 0x35;
inline constexpr uint8_t AudioInfo = 0x35;
inline constexpr uint8_t QuerySignal = 0x61;
inline constexpr uint8_t SignalStatus = 0x61;
inline constexpr uint8_t StatusReply = 0x63;
inline constexpr uint8_t StartUpgrade = 0x65;
inline constexpr uint8_t Reboot = 0x66;
inline constexpr uint8_t UpdateAll = 0x6A;

// Requests that change something on the device at the operator's word, as
// against the queries a refresh or the signal poll sends.
constexpr bool IsOperatorCommand(uint8_t code)
{
    switch (code) {
    case SetSystemInfo:
    case SetVolume:
    case SetSatellite:
    case AddTp:
    case DeleteTp:
    case ModifyTp:
    case ScanSatellite:
    case ScanTp:
    case AddSatellite:
    case DeleteSatellite:
    case StopScan:
    case PlayProgram:
    case MultiDescramble:
    case DeleteProgram:
    case SelectAudio:
    case StartUpgrade:
    case Reboot:
        return true;
    default:
        return false;
    }
}
} // namespace msg

} // namespace vireo
