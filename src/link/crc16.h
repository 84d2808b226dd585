#pragma once

#include <cstddef>
#include <cstdint>

namespace vireo {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. Computed most significant bit first through a 256-entry table.
uint16_t Crc16(const uint8_t* data, size_t count);

bool CheckCrc(const uint8_t* data, size_t count, uint16_t expected);

} // namespace vireo
