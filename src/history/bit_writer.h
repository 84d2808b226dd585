#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

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
    void Put64(uint64_t value, int bits) // bits <= 64
    {
        while (bits > 24) {
            bits -= 24;
            Put(static_cast<uint32_t>(value >> bits), 24);
        }
        Put(static_cast<uint32_t>(value), bits);
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

} // namespace vireo
