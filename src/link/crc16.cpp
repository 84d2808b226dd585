#include "link/crc16.h"

#include <array>

namespace vireo {

namespace {

constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        }
        table[i] = static_cast<uint16_t>(c);
    }
    return table;
}

// Built once, by the compiler.
constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

} // namespace

uint16_t Crc16(const uint8_t* data, size_t count)
{
    uint16_t c = 0;
    for (size_t i = 0; i < count; ++i) {
        c = static_cast<uint16_t>(kCrcTable[((c >> 8) ^ data[i]) & 0xFF] ^ (c << 8));
    }
    return c;
}

bool CheckCrc(const uint8_t* data, size_t count, uint16_t expected)
{
    return Crc16(data, count) == expected;
}

} // namespace vireo
