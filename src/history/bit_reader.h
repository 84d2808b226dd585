#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

// Bits read back in the order a BitWriter wrote them.
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

    bool Get64(int bits, uint64_t& value) // bits <= 64
    {
        value = 0;
        uint32_t part = 0;
        while (bits > 0) {
            const int n = std::min(bits, 24);
            if (!Get(n, part)) {
                return false;
            }
            value = (value << n) | part;
            bits -= n;
        }
        return true;
    }

private:
    std::string_view m_in;
    size_t m_next = 0;
    uint64_t m_word = 0;
    int m_have = 0;
};

} // namespace vireo
