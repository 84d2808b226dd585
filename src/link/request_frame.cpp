#include "link/request_frame.h"

#include "link/crc16.h"
#include "link/message_code.h"

#include <cstring>

namespace vireo {

namespace {

// How many bytes of the caller's record a request copies (0: none).
size_t callerRecordLength(uint8_t code)
{
    switch (code) {
    case msg::SetSystemInfo:
    case msg::MultiDescramble:
    case msg::DeleteProgram:
    case msg::SelectAudio:
        return 20;
    case msg::SetSatellite:
    case msg::AddSatellite:
        return 40;
    case msg::AddTp:
    case msg::DeleteTp:
    case msg::ModifyTp:
    case msg::ScanTp:
        return 12;
    case msg::ScanSatellite:
    case msg::DeleteSatellite:
        return 8;
    default:
        return 0;
    }
}

// The audio choice byte of a SelectAudio request: 250 descrambles every audio,
// 251 returns to the single choice, anything else picks an audio (low nibble).
std::optional<uint8_t> rewriteAudioByte(uint8_t current, int a)
{
    uint8_t value;
    if (a == 250) {
        value = static_cast<uint8_t>((current & 0x0F) | 0xF0);
    } else if (a == 251) {
        value = static_cast<uint8_t>(current & 0x0F);
    } else {
        value = static_cast<uint8_t>((current & 0xF0) | (a & 0x0F));
    }
    switch (value) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0xF0:
    case 0xF1:
    case 0xF2:
        return value;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<size_t> RequestPayloadLength(uint8_t code)
{
    switch (code) {
    case msg::SetSystemInfo:
    case msg::QueryProgram:
    case msg::PlayProgram:
    case msg::MultiDescramble:
    case msg::DeleteProgram:
    case msg::SelectAudio:
        return 20;
    case msg::SetVolume:
        return 1;
    case msg::QueryVersion:
    case msg::QuerySystemInfo:
    case msg::StopScan:
    case msg::QuerySignal:
    case msg::StartUpgrade:
    case msg::Reboot:
    case msg::UpdateAll:
        return 0;
    case msg::SetSatellite:
    case msg::AddSatellite:
        return 40;
    case msg::QueryTp:
    case msg::AddTp:
    case msg::DeleteTp:
    case msg::ModifyTp:
    case msg::ScanTp:
        return 12;
    case msg::ScanSatellite:
    case msg::DeleteSatellite:
    case msg::QuerySatellite:
        return 8;
    default:
        return std::nullopt;
    }
}

void FinishFrame(uint8_t* frame, uint8_t code, uint8_t length)
{
    frame[0] = kFrameStart;
    frame[1] = code;
    frame[2] = length;
    const uint16_t crc = Crc16(frame + 1, length);
    frame[length + 1] = static_cast<uint8_t>(crc & 0xFF);
    frame[length + 2] = static_cast<uint8_t>(crc >> 8);
    frame[length + 3] = kFrameEnd;
}

std::optional<RequestFrame> ComposeRequest(uint8_t code, int a, int b,
                                           std::span<const uint8_t> data)
{
    const std::optional<size_t> payloadLength = RequestPayloadLength(code);
    if (!payloadLength) {
        return std::nullopt;
    }
    RequestFrame frame;
    uint8_t* payload = frame.bytes.data() + 3;

    const size_t recordLength = callerRecordLength(code);
    if (recordLength > 0) {
        if (data.size() < recordLength) {
            return std::nullopt;
        }
        std::memcpy(payload, data.data(), recordLength);
    }

    switch (code) {
    case msg::SetVolume:
        payload[0] = static_cast<uint8_t>(a);
        break;
    case msg::QueryTp:
        payload[0] = static_cast<uint8_t>(a);
        payload[1] = static_cast<uint8_t>(b);
        break;
    case msg::QuerySatellite:
        payload[0] = static_cast<uint8_t>(a);
        break;
    case msg::QueryProgram:
    case msg::PlayProgram:
        payload[0] = static_cast<uint8_t>(a);
        payload[6] = static_cast<uint8_t>(b & 0x07);
        break;
    case msg::MultiDescramble:
        payload[11] = static_cast<uint8_t>(a);
        break;
    case msg::SelectAudio: {
        const std::optional<uint8_t> audio = rewriteAudioByte(payload[18], a);
        if (!audio) {
            return std::nullopt;
        }
        payload[18] = *audio;
        break;
    }
    default:
        break;
    }

    frame.length = static_cast<uint8_t>(*payloadLength + 2);
    FinishFrame(frame.bytes.data(), code, frame.length);
    return frame;
}

} // namespace vireo
