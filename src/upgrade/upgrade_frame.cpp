#include "upgrade/upgrade_frame.h"

namespace vireo::upgrade {

namespace {
void putBig16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putBig32(std::vector<uint8_t>& out, uint32_t value)
{
    putBig16(out, value >> 16);
    putBig16(out, value & 0xFFFF);
}
} // namespace

bool IsUpgradeType(int type)
{
    switch (type) {
    case upgrade_type::Main:
    case upgrade_type::LoaderMain:
    case upgrade_type::Data:
    case upgrade_type::Key:
    case upgrade_type::Fpga:
    case upgrade_type::DataBase:
    case upgrade_type::Parameter:
    case upgrade_type::LoaderMainFpga:
    case upgrade_type::Loader:
        return true;
    default:
        return false;
    }
}

bool AnnouncesLengthOnly(int type)
{
    return type == upgrade_type::Data || type == upgrade_type::Key;
}

void EncodeFrameInto(std::vector<uint8_t>& out, uint16_t type, std::span<const uint8_t> payload)
{
    out.clear();
    putBig16(out, type);
    putBig16(out, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> EncodeFrame(uint16_t type, std::span<const uint8_t> payload)
{
    std::vector<uint8_t> frame;
    frame.reserve(kHeaderSize + payload.size());
    EncodeFrameInto(frame, type, payload);
    return frame;
}

std::vector<uint8_t> EncodeStatus(uint16_t status)
{
    std::vector<uint8_t> frame;
    putBig16(frame, frame_type::Status);
    putBig16(frame, status);
    return frame;
}

std::vector<uint8_t> AnnouncePayload(int type, const VersionId& version, uint32_t dataLength)
{
    std::vector<uint8_t> payload;
    if (!AnnouncesLengthOnly(type)) {
        const uint32_t value = uint32_t(version[0]) | uint32_t(version[1]) << 8 |
                               uint32_t(version[2]) << 16 | uint32_t(version[3]) << 24;
        putBig32(payload, value);
    }
    putBig32(payload, dataLength);
    return payload;
}

FrameHeader ParseHeader(const uint8_t* header)
{
    return {static_cast<uint16_t>(header[0] << 8 | header[1]),
            static_cast<uint16_t>(header[2] << 8 | header[3])};
}

UpgradeFrame DecodeFrame(const FrameHeader& header, std::span<const uint8_t> payload)
{
    UpgradeFrame frame{header.type, 0};
    if (header.type == frame_type::Status) {
        frame.value = header.length;
    } else if (header.type == frame_type::DeviceId && payload.size() >= 4) {
        frame.value = uint32_t(payload[0]) << 24 | uint32_t(payload[1]) << 16 |
                      uint32_t(payload[2]) << 8 | payload[3];
    } else if (header.type == frame_type::Progress && payload.size() >= 2) {
        frame.value = uint32_t(payload[0]) << 8 | payload[1];
    }
    return frame;
}

} // namespace vireo::upgrade
