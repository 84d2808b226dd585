#pragma once

#include "database/records.h"
#include "link/device_view.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vireo {

class DatabaseHost;
class ListManager;

// The "System Setting" page's side of the system record and the volume: what
// the page shows of them and the requests its controls send.

using SystemWire = std::array<uint8_t, SystemRecord::kWireSize>;

// What the page's basic settings show of a held record. A word of 204800000
// or more holds no valid polling interval and shows 0.
SystemSettings ReadSystemSettings(const SystemRecord& record);

// The held bytes with the page's settings written into them: the polling
// interval into bits 11-31 of the first word, the flag bits into bytes 0 and
// 1. A group with no button selected (-1) keeps the held bits, so settings
// the page cannot show are never changed behind the operator's back.
SystemWire WriteSystemSettings(const SystemWire& held, const SystemSettings& page);

// What the page asks of the record.
namespace system_choice {
inline constexpr int Satellite = 0; // signal source "LNB IN"
inline constexpr int Asi = 1;       // signal source "ASI IN"
inline constexpr int Apply = 9;     // the page's basic settings
} // namespace system_choice

// Results of the page's requests.
namespace system_result {
inline constexpr int Ok = 0;         // sent, or nothing to send
inline constexpr int Disconnect = 9; // a reset or a signal-source change was sent
inline constexpr int NoRecord = 11;  // no record held: nothing sent
inline constexpr int Unknown = 8;    // no such volume action or choice: nothing sent
} // namespace system_result

struct SystemRequest
{
    bool send = false;
    SystemWire bytes{};
    int result = system_result::Ok;
};

// The SetSystemInfo record for a factory reset (`reset`, which overrides the
// choice), a signal source (choice 0 or 1) or the page's settings (choice 9).
// Everything else stays as held. Settings equal to the held record send
// nothing. Without a held record nothing is sent: the device's settings are
// not known, and a record made up of zeros would overwrite them (the signal
// source among them).
SystemRequest BuildSystemRequest(const std::optional<SystemRecord>& held, bool reset, int choice,
                                 const SystemSettings& page = {});

// Builds the request from the database's held record and sends it as
// SetSystemInfo through `host`; returns the request's result.
int SendSystemRequest(const ListManager& database, DatabaseHost& host, bool reset, int choice,
                      const SystemSettings& page = {});

// Volume actions of the page and the SetVolume byte each sends.
namespace volume_action {
inline constexpr int Ask = 1;
inline constexpr int Mute = 2;
inline constexpr int SoundOn = 3;
inline constexpr int Down = 4;
inline constexpr int Up = 5;
} // namespace volume_action

std::optional<uint8_t> VolumeCommandByte(int action);
// Sends SetVolume with the action's byte: 0 queued, 1 refused by the queue,
// or 8 for an unknown action, which sends nothing.
int SendVolumeCommand(DatabaseHost& host, int action);

inline constexpr int kVolumeMax = 15;

// Grey bar and the caption "Volumn" (sound on) while muted; green bar and
// "Silence" otherwise.
VolumeDisplay MakeVolumeDisplay(const VolumeState& volume);
// The log line of a shown volume: "Silence", or "Pronounce:volume" and the
// volume in decimal.
std::string VolumeLogText(const VolumeState& volume);

} // namespace vireo
