#pragma once

#include "history/history_types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// The stored form of one device's reports within one minute, compressed the
// way time-series stores do, column by column: the times as steps, then the
// flags, the intensities and the qualities. Each column is stored either as
// its changes report by report (a steady pace or an unchanged value costs a
// bit, only a jump a whole value) or packed (its lowest value and spread,
// then the values above the lowest as digits of base spread + 1, as many to
// a 64-bit group as fit: a quality jittering over five levels costs 2.33
// bits, an unchanged column nothing a report), whichever is shorter.
//
// Layout: byte 0 the format (2), byte 1 0xFF (a block of the plain format,
// 5 bytes a report, can never have it there: its second byte is the high
// byte of ms into the minute, below 0xEB), then a bit stream, most
// significant bit first: the count (16 bits), then when there are reports
//   times:  the first ms into the minute (16), and from two reports on
//           0 + per step: 0 same step | 10 +7-bit change | 110 +10-bit change
//                         | 111 +16-bit ms
//           or 1 + the steps packed (16-bit fields)
//   flags (2 bits), intensity (8), quality (8), each:
//           0 + first value + per report: flags 0 same | 1 +2 bits;
//               values 0 same | 10 +sign (1) | 110 +sign (2)
//               | 1110 +4-bit change | 1111 +8 bits
//           or 1 + packed: lowest value, 0 (all the same) or 1 + spread,
//               then groups of digits, as few bits each as hold base^digits
// (changes as zigzag numbers). Reports are stored in time order. Format 1
// (every column as changes, interleaved report by report) is still read.
class SampleCodec
{
public:
    static constexpr uint8_t kFormat = 2;
    static constexpr uint8_t kChangesFormat = 1;
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
