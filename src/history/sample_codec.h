#pragma once

#include "history/history_types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// The stored form of one device's reports within one minute, compressed the
// way time-series stores do: after the first report, each time is the change
// of its step from the one before (a steady pace costs a bit), each of the
// flags, intensity and quality is "as before" in a bit or a short change,
// and only a jump takes a whole value.
//
// Layout: byte 0 the format (1), byte 1 0xFF (a block of the first format,
// 5 bytes a report, can never have it there: its second byte is the high
// byte of ms into the minute, below 0xEB), then a bit stream, most
// significant bit first: the count (16 bits), the first report (ms into the
// minute 16, intensity 8, quality 8, flags 2), then per report:
//   time:   0 same step | 10 +7-bit change | 110 +10-bit change | 111 +16-bit ms
//   flags:  0 same | 1 +2 bits
//   values: 0 same | 10 +sign (1) | 110 +sign (2) | 1110 +4-bit change | 1111 +8 bits
// (changes as zigzag numbers). Reports are stored in time order.
class SampleCodec
{
public:
    static constexpr uint8_t kFormat = 1;
    static constexpr uint8_t kMarker = 0xFF;
    // A block of the first format: 5 bytes a report (ms into the minute as
    // 16 bits little-endian, intensity, quality, flags), in arrival order.
    static constexpr size_t kPlainBytesPerSample = 5;
    static constexpr uint8_t kLockedFlag = 1;
    static constexpr uint8_t kPlayingFlag = 2;

    // `samples` of minute `minute`, in time order (times outside the minute
    // are clamped into it, values to 0-255).
    static std::string Encode(int64_t minute, const std::vector<SignalSample>& samples);
    // Appends the reports of a stored block (either format) to `out`; false
    // when the block is cut short (what was read stays).
    static bool Decode(int64_t minute, std::string_view bytes, std::vector<SignalSample>& out);
};

} // namespace vireo
