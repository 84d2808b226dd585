#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

// A drop-down list of a dialog that shows no selection (a stored value the
// list has no item for).
inline constexpr int kNoChoice = -1;

// The number edits of the satellite and transponder dialogs hold 16-bit
// values (frequencies and symbol rates go to the device as two bytes).
enum class WordFault {
    None,
    NotInteger, // not a whole decimal number, the empty text included
    OutOfRange, // a whole number, but below 0 or above 65535
};

struct WordField
{
    uint16_t value = 0;
    WordFault fault = WordFault::None;

    bool Ok() const { return fault == WordFault::None; }
};

// Reads a whole decimal number: blanks around it and a leading sign are
// allowed, nothing else. A value that does not fit 16 bits is refused rather
// than cut to its low bits.
WordField ReadWordField(std::string_view text);

// Writes `value` as the device's two bytes, least significant first.
inline void WriteLe16(uint8_t* bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

// The message for a refused field, quoting its text:
// "'%s' is not a valid integer value" or "'%s' is out of range (0 to 65535)".
std::string WordFaultMessage(WordFault fault, std::string_view text);

} // namespace vireo
