#pragma once

#include "device/device_content.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vireo {

// The network dialog's masked fields hold fixed-width groups: an address or
// mask field is "ddd.ddd.ddd.ddd" (groups at 0, 4, 8 and 12), a MAC field
// "hh.hh.hh.hh.hh.hh" (groups at 0, 3, ... 15). Blanks stand for digits not
// typed.
inline constexpr size_t kAddressGroups = 4;
inline constexpr size_t kMacGroups = 6;
inline constexpr size_t kMacGroupStride = 3;

// Counts the digits typed into an address field so that a '.' moves on to
// the next group only while the current one is partly typed. One counter
// serves both address fields; entering either starts it again.
class DottedKeyFilter
{
public:
    enum class Key {
        Digit,
        Backspace,
        Escape,
        Dot,
        Other,
    };

    void Reset() { m_digits = 0; }
    // True when the key passes on to the field, false when it is discarded.
    bool Accept(Key key);
    int DigitCount() const { return m_digits; }

private:
    int m_digits = 0;
};

// One group of an address field read as a decimal number: leading blanks are
// skipped and reading stops at the first non-digit. `hasDigits` tells whether
// any digit was read (a group without digits reads as 0).
struct GroupValue
{
    unsigned value = 0;
    bool hasDigits = false;
};
GroupValue ReadAddressGroup(std::string_view field, size_t group);

// "%d.%d.%d.%d" of the four groups; always succeeds.
std::string NormaliseAddressField(std::string_view field);

// The first group (0-3) above 255, or -1. With `requireDigits`, a group
// without any digit counts as bad as well.
int FirstBadAddressGroup(std::string_view field, bool requireDigits);

// The six MAC groups, each two characters read as hexadecimal (first the high
// nibble); any character that is not a hexadecimal digit counts as 0.
std::array<uint8_t, kMacGroups> ReadMacField(std::string_view field);

// The first MAC group (0-5) that does not hold two hexadecimal digits (blank,
// half typed or holding another character), or -1.
int FirstBadMacGroup(std::string_view field);

// Field texts for bytes of a system record: "%03d.%03d.%03d.%03d" and
// "%02x.%02x.%02x.%02x.%02x.%02x".
std::string FormatAddressField(const uint8_t* four);
std::string FormatMacField(const uint8_t* six);

// The SetSystemInfo payload for the fields: the stored record with the
// address (bytes 4-7), mask (8-11) and MAC (12-17) replaced, each address
// group kept to its low 8 bits, and byte 18 set to 1.
SystemRecordBytes BuildNetworkRecord(const SystemRecordBytes& stored, std::string_view address,
                                     std::string_view mask, std::string_view mac);

// True when bytes 4 to 17 (address, mask, MAC) differ.
bool NetworkSettingsDiffer(const SystemRecordBytes& a, const SystemRecordBytes& b);

} // namespace vireo
