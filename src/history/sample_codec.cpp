#include "history/sample_codec.h"

#include "history/bit_reader.h"
#include "history/bit_writer.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

namespace vireo {

namespace {

uint32_t zigzag(int32_t v)
{
    return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31);
}
int32_t unzigzag(uint32_t v)
{
    return static_cast<int32_t>(v >> 1) ^ -static_cast<int32_t>(v & 1);
}

uint8_t flagsOf(const SignalSample& s)
{
    return static_cast<uint8_t>((s.locked ? SampleCodec::kLockedFlag : 0) |
                                (s.playing ? SampleCodec::kPlayingFlag : 0));
}

void putValue(BitWriter& w, int previous, int value)
{
    const int change = value - previous;
    if (change == 0) {
        w.Put(0, 1);
    } else if (change == 1 || change == -1) {
        w.Put(0b10, 2);
        w.Put(change < 0 ? 1 : 0, 1);
    } else if (change == 2 || change == -2) {
        w.Put(0b110, 3);
        w.Put(change < 0 ? 1 : 0, 1);
    } else if (change >= -8 && change <= 7) {
        w.Put(0b1110, 4);
        w.Put(zigzag(change), 4);
    } else {
        w.Put(0b1111, 4);
        w.Put(static_cast<uint32_t>(value), 8);
    }
}

bool getValue(BitReader& r, int previous, int& value)
{
    uint32_t bit = 0, v = 0;
    int ones = 0;
    while (ones < 4) {
        if (!r.Get(1, bit)) {
            return false;
        }
        if (bit == 0) {
            break;
        }
        ++ones;
    }
    switch (ones) {
    case 0:
        value = previous;
        return true;
    case 1:
    case 2:
        if (!r.Get(1, v)) {
            return false;
        }
        value = previous + (v ? -ones : ones);
        return true;
    case 3:
        if (!r.Get(4, v)) {
            return false;
        }
        value = previous + unzigzag(v);
        return true;
    default:
        if (!r.Get(8, v)) {
            return false;
        }
        value = static_cast<int>(v);
        return true;
    }
}

constexpr int64_t kSteadyStepMs = 1000; // the step a first change is taken from

bool decodePlain(int64_t minute, std::string_view bytes, std::vector<SignalSample>& out)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    constexpr size_t n = SampleCodec::kPlainBytesPerSample;
    for (size_t i = 0; i + n <= bytes.size(); i += n) {
        SignalSample s;
        s.timeMs = minute * kMsPerMinute + (p[i] | (p[i + 1] << 8));
        s.intensity = p[i + 2];
        s.quality = p[i + 3];
        s.locked = (p[i + 4] & SampleCodec::kLockedFlag) != 0;
        s.playing = (p[i + 4] & SampleCodec::kPlayingFlag) != 0;
        out.push_back(s);
    }
    return bytes.size() % n == 0;
}

// Format 1: each report as changes from the one before.
bool decodeChanges(int64_t minute, BitReader& r, std::vector<SignalSample>& out)
{
    constexpr uint8_t kLockedFlag = SampleCodec::kLockedFlag;
    constexpr uint8_t kPlayingFlag = SampleCodec::kPlayingFlag;
    uint32_t count = 0, v = 0;
    if (!r.Get(16, count)) {
        return false;
    }
    int64_t ms = 0, step = kSteadyStepMs;
    int intensity = 0, quality = 0;
    uint32_t flags = 0;
    const int64_t base = minute * kMsPerMinute;
    for (uint32_t i = 0; i < count; ++i) {
        if (i == 0) {
            uint32_t first = 0, in = 0, q = 0;
            if (!r.Get(16, first) || !r.Get(8, in) || !r.Get(8, q) || !r.Get(2, flags)) {
                return false;
            }
            ms = first;
            intensity = static_cast<int>(in);
            quality = static_cast<int>(q);
        } else {
            uint32_t bit = 0;
            int ones = 0;
            while (ones < 3) {
                if (!r.Get(1, bit)) {
                    return false;
                }
                if (bit == 0) {
                    break;
                }
                ++ones;
            }
            const int64_t previousMs = ms;
            if (ones == 0) {
                ms += step;
            } else if (ones < 3) {
                if (!r.Get(ones == 1 ? 7 : 10, v)) {
                    return false;
                }
                ms += step + unzigzag(v);
            } else {
                if (!r.Get(16, v)) {
                    return false;
                }
                ms = v;
            }
            step = ms - previousMs;
            if (!r.Get(1, bit) || (bit && !r.Get(2, flags))) {
                return false;
            }
            if (!getValue(r, intensity, intensity) || !getValue(r, quality, quality)) {
                return false;
            }
        }
        SignalSample s;
        s.timeMs = base + ms;
        s.intensity = intensity;
        s.quality = quality;
        s.locked = (flags & kLockedFlag) != 0;
        s.playing = (flags & kPlayingFlag) != 0;
        out.push_back(s);
    }
    return true;
}

// Format 2, column by column (see the header). A column is either its
// changes report by report (as format 1 codes them) or packed: its lowest
// value, its spread, and the values above the lowest as digits of base
// spread + 1, as many to a 64-bit group as fit (five qualities jittering
// over five levels cost 2.33 bits each). The encoder takes the shorter.

constexpr int kCountBits = 16;
constexpr int kMsBits = 16;

int valueChangeBits(int change)
{
    if (change == 0) {
        return 1;
    }
    if (change == 1 || change == -1) {
        return 3;
    }
    if (change == 2 || change == -2) {
        return 4;
    }
    return change >= -8 && change <= 7 ? 8 : 12;
}

int stepChangeBits(int64_t change)
{
    if (change == 0) {
        return 1;
    }
    if (change >= -64 && change < 64) {
        return 9;
    }
    return change >= -512 && change < 512 ? 13 : 19;
}

// How many digits of base `radix` go into a group, and the group's bits.
int groupOf(uint64_t radix, size_t left, int& bits)
{
    uint64_t power = 1;
    int digits = 0;
    while (static_cast<size_t>(digits) < left && power <= UINT64_MAX / radix) {
        power *= radix;
        ++digits;
    }
    bits = 64 - std::countl_zero(power - 1);
    return digits;
}

int64_t packedBits(uint64_t radix, size_t n)
{
    int64_t total = 0;
    while (radix > 1 && n > 0) {
        int bits = 0;
        const int digits = groupOf(radix, n, bits);
        total += bits;
        n -= static_cast<size_t>(digits);
    }
    return total;
}

// Header of a packed column: the lowest value, then 0 for no spread or 1 and
// the spread.
int64_t packedHeaderBits(int width, int64_t spread)
{
    return width + 1 + (spread > 0 ? width : 0);
}

void putPacked(BitWriter& w, const std::vector<int64_t>& values, size_t from, int width,
               int64_t low, int64_t spread)
{
    w.Put64(static_cast<uint64_t>(low), width);
    w.Put(spread > 0 ? 1 : 0, 1);
    if (spread == 0) {
        return;
    }
    w.Put64(static_cast<uint64_t>(spread), width);
    const uint64_t radix = static_cast<uint64_t>(spread) + 1;
    size_t i = from;
    while (i < values.size()) {
        int bits = 0;
        const int digits = groupOf(radix, values.size() - i, bits);
        uint64_t group = 0;
        for (int d = digits - 1; d >= 0; --d) {
            group = group * radix + static_cast<uint64_t>(values[i + d] - low);
        }
        w.Put64(group, bits);
        i += static_cast<size_t>(digits);
    }
}

bool getPacked(BitReader& r, std::vector<int64_t>& values, size_t from, int width)
{
    uint64_t low = 0, spread = 0;
    uint32_t any = 0;
    if (!r.Get64(width, low) || !r.Get(1, any)) {
        return false;
    }
    if (any == 0) {
        std::fill(values.begin() + from, values.end(), static_cast<int64_t>(low));
        return true;
    }
    if (!r.Get64(width, spread)) {
        return false;
    }
    const uint64_t radix = spread + 1;
    size_t i = from;
    while (i < values.size()) {
        int bits = 0;
        const int digits = groupOf(radix, values.size() - i, bits);
        uint64_t group = 0;
        if (!r.Get64(bits, group)) {
            return false;
        }
        for (int d = 0; d < digits; ++d) {
            values[i + d] = static_cast<int64_t>(low + group % radix);
            group /= radix;
        }
        if (group != 0) {
            return false; // digits beyond the spread: not a block we wrote
        }
        i += static_cast<size_t>(digits);
    }
    return true;
}

void lowAndSpread(const std::vector<int64_t>& values, size_t from, int64_t& low, int64_t& spread)
{
    const auto [min, max] = std::minmax_element(values.begin() + from, values.end());
    low = *min;
    spread = *max - *min;
}

// A value column of `width` bits (flags 2, intensity and quality 8).
void putValues(BitWriter& w, const std::vector<int64_t>& values, int width, bool flags)
{
    int64_t low = 0, spread = 0;
    lowAndSpread(values, 0, low, spread);
    int64_t changes = width;
    for (size_t i = 1; i < values.size(); ++i) {
        const int change = static_cast<int>(values[i] - values[i - 1]);
        changes += flags ? (change == 0 ? 1 : 3) : valueChangeBits(change);
    }
    const int64_t packed = packedHeaderBits(width, spread) + packedBits(spread + 1, values.size());
    if (packed < changes) {
        w.Put(1, 1);
        putPacked(w, values, 0, width, low, spread);
        return;
    }
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(values[0]), width);
    for (size_t i = 1; i < values.size(); ++i) {
        if (flags) {
            if (values[i] == values[i - 1]) {
                w.Put(0, 1);
            } else {
                w.Put(1, 1);
                w.Put(static_cast<uint32_t>(values[i]), 2);
            }
        } else {
            putValue(w, static_cast<int>(values[i - 1]), static_cast<int>(values[i]));
        }
    }
}

bool getValues(BitReader& r, std::vector<int64_t>& values, int width, bool flags)
{
    uint32_t mode = 0, v = 0;
    if (!r.Get(1, mode)) {
        return false;
    }
    if (mode == 1) {
        return getPacked(r, values, 0, width) &&
               std::all_of(values.begin(), values.end(),
                           [width](int64_t value) { return value < (int64_t{1} << width); });
    }
    if (!r.Get(width, v)) {
        return false;
    }
    values[0] = v;
    for (size_t i = 1; i < values.size(); ++i) {
        if (flags) {
            uint32_t bit = 0;
            if (!r.Get(1, bit) || (bit && !r.Get(2, v))) {
                return false;
            }
            values[i] = bit ? v : values[i - 1];
        } else {
            int value = 0;
            if (!getValue(r, static_cast<int>(values[i - 1]), value) || value < 0 || value > 255) {
                return false;
            }
            values[i] = value;
        }
    }
    return true;
}

// The time column: the first report's ms into the minute, then the steps.
void putTimes(BitWriter& w, const std::vector<int64_t>& ms)
{
    w.Put(static_cast<uint32_t>(ms[0]), kMsBits);
    if (ms.size() < 2) {
        return;
    }
    std::vector<int64_t> steps(ms.size());
    int64_t changes = 0, step = kSteadyStepMs;
    for (size_t i = 1; i < ms.size(); ++i) {
        steps[i] = ms[i] - ms[i - 1];
        changes += stepChangeBits(steps[i] - step);
        step = steps[i];
    }
    int64_t low = 0, spread = 0;
    lowAndSpread(steps, 1, low, spread);
    const int64_t packed =
        packedHeaderBits(kMsBits, spread) + packedBits(spread + 1, ms.size() - 1);
    if (low >= 0 && packed < changes) {
        w.Put(1, 1);
        putPacked(w, steps, 1, kMsBits, low, spread);
        return;
    }
    w.Put(0, 1);
    step = kSteadyStepMs;
    for (size_t i = 1; i < ms.size(); ++i) {
        const int64_t change = steps[i] - step;
        if (change == 0) {
            w.Put(0, 1);
        } else if (change >= -64 && change < 64) {
            w.Put(0b10, 2);
            w.Put(zigzag(static_cast<int32_t>(change)), 7);
        } else if (change >= -512 && change < 512) {
            w.Put(0b110, 3);
            w.Put(zigzag(static_cast<int32_t>(change)), 10);
        } else {
            w.Put(0b111, 3);
            w.Put(static_cast<uint32_t>(ms[i]), kMsBits);
        }
        step = steps[i];
    }
}

bool getTimes(BitReader& r, std::vector<int64_t>& ms)
{
    uint32_t first = 0, mode = 0, v = 0;
    if (!r.Get(kMsBits, first)) {
        return false;
    }
    ms[0] = first;
    if (ms.size() < 2) {
        return first < kMsPerMinute;
    }
    if (!r.Get(1, mode)) {
        return false;
    }
    if (mode == 1) {
        if (!getPacked(r, ms, 1, kMsBits)) {
            return false;
        }
        for (size_t i = 1; i < ms.size(); ++i) {
            ms[i] += ms[i - 1]; // steps to times
            if (ms[i] >= kMsPerMinute) {
                return false;
            }
        }
    } else {
        int64_t step = kSteadyStepMs;
        for (size_t i = 1; i < ms.size(); ++i) {
            uint32_t bit = 0;
            int ones = 0;
            while (ones < 3) {
                if (!r.Get(1, bit)) {
                    return false;
                }
                if (bit == 0) {
                    break;
                }
                ++ones;
            }
            if (ones == 0) {
                ms[i] = ms[i - 1] + step;
            } else if (ones < 3) {
                if (!r.Get(ones == 1 ? 7 : 10, v)) {
                    return false;
                }
                ms[i] = ms[i - 1] + step + unzigzag(v);
            } else {
                if (!r.Get(kMsBits, v)) {
                    return false;
                }
                ms[i] = v;
            }
            if (ms[i] < 0 || ms[i] >= kMsPerMinute) {
                return false; // not a block we wrote
            }
            step = ms[i] - ms[i - 1];
        }
    }
    return std::all_of(ms.begin(), ms.end(), [](int64_t t) { return t >= 0 && t < kMsPerMinute; });
}

} // namespace

std::string SampleCodec::Encode(int64_t minute, const std::vector<SignalSample>& samples)
{
    std::string out;
    out.reserve(16 + samples.size()); // about a byte a report at most, mostly less
    out.push_back(static_cast<char>(kFormat));
    out.push_back(static_cast<char>(kMarker));
    BitWriter w(out);
    const size_t count = std::min<size_t>(samples.size(), 0xFFFF);
    w.Put(static_cast<uint32_t>(count), kCountBits);
    if (count > 0) {
        std::vector<int64_t> ms(count), flags(count), intensity(count), quality(count);
        for (size_t i = 0; i < count; ++i) {
            const SignalSample& s = samples[i];
            ms[i] = std::clamp<int64_t>(s.timeMs - minute * kMsPerMinute, 0, kMsPerMinute - 1);
            flags[i] = flagsOf(s);
            intensity[i] = std::clamp(s.intensity, 0, 255);
            quality[i] = std::clamp(s.quality, 0, 255);
        }
        putTimes(w, ms);
        putValues(w, flags, 2, true);
        putValues(w, intensity, 8, false);
        putValues(w, quality, 8, false);
    }
    w.Finish();
    return out;
}

bool SampleCodec::Decode(int64_t minute, std::string_view bytes, std::vector<SignalSample>& out)
{
    if (bytes.size() < 2 || static_cast<uint8_t>(bytes[1]) != kMarker) {
        return decodePlain(minute, bytes, out);
    }
    const auto format = static_cast<uint8_t>(bytes[0]);
    BitReader r(bytes.substr(2));
    if (format == kChangesFormat) {
        return decodeChanges(minute, r, out);
    }
    if (format != kFormat) {
        return false; // a format of a newer program
    }
    uint32_t count = 0;
    if (!r.Get(kCountBits, count)) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    std::vector<int64_t> ms(count), flags(count), intensity(count), quality(count);
    if (!getTimes(r, ms) || !getValues(r, flags, 2, true) || !getValues(r, intensity, 8, false) ||
        !getValues(r, quality, 8, false)) {
        return false; // cut short or damaged: nothing of it is trusted
    }
    const int64_t base = minute * kMsPerMinute;
    for (size_t i = 0; i < count; ++i) {
        SignalSample s;
        s.timeMs = base + ms[i];
        s.intensity = static_cast<int>(intensity[i]);
        s.quality = static_cast<int>(quality[i]);
        s.locked = (flags[i] & kLockedFlag) != 0;
        s.playing = (flags[i] & kPlayingFlag) != 0;
        out.push_back(s);
    }
    return true;
}

} // namespace vireo
