#include "database/system_settings.h"

#include "database/database_host.h"
#include "database/list_manager.h"
#include "lang/language_table.h"
#include "link/message_code.h"

#include <algorithm>

namespace vireo {

namespace {

constexpr int kRowVolumeOn = 109;     // "Volumn": the button turns the sound on
constexpr int kRowSilence = 110;      // "Silence": the button mutes
constexpr int kRowSilenceLog = 208;   // "Silence"
constexpr int kRowPronounceLog = 209; // "Pronounce:volume"
constexpr uint32_t kPollingMax = 99999;
constexpr int kPollingShift = 11;
constexpr uint32_t kFlagBitsMask = (1u << kPollingShift) - 1;

// Replaces the bits of `mask` in `byte` by `value` (already in place).
void setBits(uint8_t& byte, uint8_t mask, uint8_t value)
{
    byte = static_cast<uint8_t>((byte & ~mask) | (value & mask));
}

} // namespace

SystemSettings ReadSystemSettings(const SystemRecord& record)
{
    SystemSettings s;
    s.tsLength204 = record.TsLength() == 204;
    s.tsOutput = record.TsOutput() <= 2 ? record.TsOutput() : -1;
    s.language = record.MenuLanguage() <= 1 ? record.MenuLanguage() : -1;
    s.ratio4To3 = record.ScreenRatio() == 1;
    s.outputType = record.OutputType() <= 3 ? record.OutputType() : -1;
    s.polling = static_cast<int>(record.PollingInterval());
    return s;
}

SystemWire WriteSystemSettings(const SystemWire& held, const SystemSettings& page)
{
    SystemWire out = held;
    const uint32_t polling =
        std::min<uint32_t>(static_cast<uint32_t>(std::max(page.polling, 0)), kPollingMax);
    const uint32_t word = (ReadLe32(held.data()) & kFlagBitsMask) | (polling << kPollingShift);
    out[0] = static_cast<uint8_t>(word);
    out[1] = static_cast<uint8_t>(word >> 8);
    out[2] = static_cast<uint8_t>(word >> 16);
    out[3] = static_cast<uint8_t>(word >> 24);

    setBits(out[1], 0x04, page.tsLength204 ? 0x04 : 0x00);
    if (page.tsOutput >= 0 && page.tsOutput <= 2) {
        setBits(out[1], 0x03, static_cast<uint8_t>(page.tsOutput));
    }
    if (page.language == 0 || page.language == 1) {
        setBits(out[0], 0x0C, static_cast<uint8_t>(page.language << 2));
    }
    setBits(out[0], 0x02, page.ratio4To3 ? 0x02 : 0x00);
    if (page.outputType >= 0 && page.outputType <= 3) {
        setBits(out[0], 0xE0, static_cast<uint8_t>(page.outputType << 5));
    }
    return out;
}

SystemRequest BuildSystemRequest(const std::optional<SystemRecord>& held, bool reset, int choice,
                                 const SystemSettings& page)
{
    SystemRequest request;
    if (!held) {
        request.result = system_result::NoRecord;
        return request;
    }
    request.bytes = held->wire;
    if (reset) {
        request.bytes[0] |= 0x01;
        request.send = true;
        request.result = system_result::Disconnect;
    } else if (choice == system_choice::Apply) {
        request.bytes = WriteSystemSettings(held->wire, page);
        request.send = request.bytes != held->wire;
    } else if (choice == system_choice::Satellite || choice == system_choice::Asi) {
        setBits(request.bytes[0], 0x10, static_cast<uint8_t>(choice << 4));
        request.send = true;
        request.result = system_result::Disconnect;
    } else {
        request.result = system_result::Unknown;
    }
    return request;
}

int SendSystemRequest(const ListManager& database, DatabaseHost& host, bool reset, int choice,
                      const SystemSettings& page)
{
    const SystemRequest request = BuildSystemRequest(database.System(), reset, choice, page);
    if (request.send) {
        host.SendRequest(msg::SetSystemInfo, 0, 0, request.bytes);
    }
    return request.result;
}

std::optional<uint8_t> VolumeCommandByte(int action)
{
    switch (action) {
    case volume_action::Ask:
    case volume_action::Up:
        return uint8_t{0x0A};
    case volume_action::Mute:
        return uint8_t{0xF0};
    case volume_action::SoundOn:
        return uint8_t{0x7F};
    case volume_action::Down:
        return uint8_t{0x05};
    default:
        return std::nullopt;
    }
}

int SendVolumeCommand(DatabaseHost& host, int action)
{
    const std::optional<uint8_t> byte = VolumeCommandByte(action);
    if (!byte) {
        return system_result::Unknown;
    }
    // The command byte travels as the request's first argument.
    return host.SendRequest(msg::SetVolume, *byte, 0, {}) ? 1 : 0;
}

VolumeDisplay MakeVolumeDisplay(const VolumeState& volume)
{
    VolumeDisplay d;
    d.volume = std::min<int>(volume.volume, kVolumeMax);
    d.muted = volume.mute != 0;
    if (d.muted) {
        d.red = d.green = d.blue = 128;
        d.captionRow = kRowVolumeOn;
    } else {
        d.green = 255;
        d.captionRow = kRowSilence;
    }
    return d;
}

std::string VolumeLogText(const VolumeState& volume)
{
    if (volume.mute != 0) {
        return GetLangText(kRowSilenceLog);
    }
    return GetLangText(kRowPronounceLog) + std::to_string(volume.volume);
}

} // namespace vireo
