#include "history/sample_codec.h"

#include <algorithm>

namespace vireo {

namespace {

// Bits gathered in a word and handed out a byte at a time.
class BitWriter
{
public:
    explicit BitWriter(std::string& out) : m_out(out) {}
    void Put(uint32_t value, int bits) // bits <= 24
    {
        m_word = (m_word << bits) | (value & ((1u << bits) - 1));
        m_used += bits;
        while (m_used >= 8) {
            m_used -= 8;
            m_out.push_back(static_cast<char>((m_word >> m_used) & 0xFF));
        }
    }
    void Finish()
    {
        if (m_used > 0) {
            m_out.push_back(static_cast<char>((m_word << (8 - m_used)) & 0xFF));
            m_used = 0;
        }
    }

private:
    std::string& m_out;
    uint64_t m_word = 0;
    int m_used = 0;
};

class BitReader
{
public:
    explicit BitReader(std::string_view in) : m_in(in) {}
    // False once the stream is through.
    bool Get(int bits, uint32_t& value) // bits <= 24
    {
        while (m_have < bits) {
            if (m_next >= m_in.size()) {
                return false;
            }
            m_word = (m_word << 8) | static_cast<uint8_t>(m_in[m_next++]);
            m_have += 8;
        }
        m_have -= bits;
        value = static_cast<uint32_t>((m_word >> m_have) & ((1u << bits) - 1));
        return true;
    }

private:
    std::string_view m_in;
    size_t m_next = 0;
    uint64_t m_word = 0;
    int m_have = 0;
};

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

} // namespace

std::string SampleCodec::Encode(int64_t minute, const std::vector<SignalSample>& samples)
{
    std::string out;
    out.push_back(static_cast<char>(kFormat));
    out.push_back(static_cast<char>(kMarker));
    BitWriter w(out);
    const size_t count = std::min<size_t>(samples.size(), 0xFFFF);
    w.Put(static_cast<uint32_t>(count), 16);
    int64_t previousMs = 0, step = kSteadyStepMs;
    int intensity = 0, quality = 0;
    uint8_t flags = 0;
    for (size_t i = 0; i < count; ++i) {
        const SignalSample& s = samples[i];
        const int64_t ms =
            std::clamp<int64_t>(s.timeMs - minute * kMsPerMinute, 0, kMsPerMinute - 1);
        const int in = std::clamp(s.intensity, 0, 255);
        const int q = std::clamp(s.quality, 0, 255);
        const uint8_t f = flagsOf(s);
        if (i == 0) {
            w.Put(static_cast<uint32_t>(ms), 16);
            w.Put(static_cast<uint32_t>(in), 8);
            w.Put(static_cast<uint32_t>(q), 8);
            w.Put(f, 2);
        } else {
            const int64_t thisStep = ms - previousMs;
            const int64_t change = thisStep - step;
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
                w.Put(static_cast<uint32_t>(ms), 16);
            }
            step = thisStep;
            if (f == flags) {
                w.Put(0, 1);
            } else {
                w.Put(1, 1);
                w.Put(f, 2);
            }
            putValue(w, intensity, in);
            putValue(w, quality, q);
        }
        previousMs = ms;
        intensity = in;
        quality = q;
        flags = f;
    }
    w.Finish();
    return out;
}

bool SampleCodec::Decode(int64_t minute, std::string_view bytes, std::vector<SignalSample>& out)
{
    if (bytes.size() < 2 || static_cast<uint8_t>(bytes[1]) != kMarker) {
        return decodePlain(minute, bytes, out);
    }
    if (static_cast<uint8_t>(bytes[0]) != kFormat) {
        return false; // a format of a newer program
    }
    BitReader r(bytes.substr(2));
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

} // namespace vireo
