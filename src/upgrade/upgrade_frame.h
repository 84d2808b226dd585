#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vireo::upgrade {

// The frame of a firmware upgrade, both ways, big-endian:
//   0  2  frame type
//   2  2  payload length (an UpgradeStatus frame holds its status here)
//   4  n  payload
// No markers, no checksum.
inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kMaxPayload = 16384; // a longer incoming payload is refused
inline constexpr size_t kBlockSize = 1024;

namespace frame_type {
inline constexpr uint16_t DeviceId = 0;     // IRD: handshake answer, or "announce again"
inline constexpr uint16_t Ready = 1;        // manager: handshake answer received
inline constexpr uint16_t BlockRequest = 2; // IRD: the next block, please
inline constexpr uint16_t Block = 3;        // manager: 1 to 1024 bytes of the image
inline constexpr uint16_t Status = 4;       // IRD: 0 success, else failure (in the length field)
inline constexpr uint16_t Report = 5;       // IRD: accepted and ignored
inline constexpr uint16_t Hello = 15;       // manager: opens the handshake
inline constexpr uint16_t Progress = 18;    // IRD: share written; manager: acknowledgement
} // namespace frame_type

// What is upgraded; the code is also the frame type of the announcement.
namespace upgrade_type {
inline constexpr int Main = 6;
inline constexpr int LoaderMain = 8;
inline constexpr int Data = 10;
inline constexpr int Key = 12;
inline constexpr int Fpga = 14;
inline constexpr int DataBase = 16;
inline constexpr int Parameter = 17;
inline constexpr int LoaderMainFpga = 19;
inline constexpr int Loader = 20;
inline constexpr int None = 500; // no type chosen
} // namespace upgrade_type

bool IsUpgradeType(int type);
// "Data" and "Key" announce the data length alone; the others the version too.
bool AnnouncesLengthOnly(int type);

// Loader major, loader minor, software major, software minor: the first four
// bytes of an upgrade file, and the device's own version.
using VersionId = std::array<uint8_t, 4>;

// A whole frame with `payload` (at most 65535 bytes).
std::vector<uint8_t> EncodeFrame(uint16_t type, std::span<const uint8_t> payload = {});
// The same into `out` (replacing what it held), so a sender can reuse one
// buffer for every block.
void EncodeFrameInto(std::vector<uint8_t>& out, uint16_t type, std::span<const uint8_t> payload);
// An UpgradeStatus frame: the status in the length field, no payload.
std::vector<uint8_t> EncodeStatus(uint16_t status);
// The announcement's payload: the version value (the four version bytes read
// as a little-endian number, so written big-endian they go in reverse order)
// and the data length, or for Data and Key the data length alone.
std::vector<uint8_t> AnnouncePayload(int type, const VersionId& version, uint32_t dataLength);

struct FrameHeader
{
    uint16_t type = 0;
    uint16_t length = 0; // the status, for an UpgradeStatus frame
    // Bytes of payload that follow this header: none for a status frame.
    size_t PayloadSize() const { return type == frame_type::Status ? 0 : length; }
};
FrameHeader ParseHeader(const uint8_t* header);

// A received frame reduced to its type and value: DeviceId its 4-byte payload
// as a big-endian number, Status its status, Progress its 2-byte payload;
// other types (and payloads too short to hold their value) carry 0.
struct UpgradeFrame
{
    uint16_t type = 0;
    uint32_t value = 0;
};
UpgradeFrame DecodeFrame(const FrameHeader& header, std::span<const uint8_t> payload);

} // namespace vireo::upgrade
