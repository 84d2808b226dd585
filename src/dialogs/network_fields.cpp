#include "dialogs/network_fields.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vireo {

namespace {

constexpr size_t kAddressGroupWidth = 3;
constexpr size_t kAddressGroupStride = 4;
constexpr size_t kAddressOffset = 4;
constexpr size_t kMaskOffset = 8;
constexpr size_t kMacOffset = 12;
constexpr size_t kApplyOffset = 18;

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

char charAt(std::string_view text, size_t pos)
{
    return pos < text.size() ? text[pos] : ' ';
}

} // namespace

bool DottedKeyFilter::Accept(Key key)
{
    switch (key) {
    case Key::Digit:
        ++m_digits;
        return true;
    case Key::Backspace:
        m_digits = std::max(0, m_digits - 1);
        return true;
    case Key::Escape:
        m_digits = 0;
        return true;
    case Key::Dot:
        if (m_digits % 3 != 0) {
            // The group is partly typed: the dot moves the field to the next one.
            m_digits += 3 - m_digits % 3;
            return true;
        }
        // The field has already moved past the full group.
        return false;
    case Key::Other:
        return true;
    }
    return true;
}

GroupValue ReadAddressGroup(std::string_view field, size_t group)
{
    GroupValue result;
    const size_t start = group * kAddressGroupStride;
    size_t pos = start;
    const size_t end = start + kAddressGroupWidth;
    while (pos < end && charAt(field, pos) == ' ') {
        ++pos;
    }
    while (pos < end) {
        const char c = charAt(field, pos);
        if (c < '0' || c > '9') {
            break;
        }
        result.value = result.value * 10 + static_cast<unsigned>(c - '0');
        result.hasDigits = true;
        ++pos;
    }
    return result;
}

std::string NormaliseAddressField(std::string_view field)
{
    std::string text;
    for (size_t g = 0; g < kAddressGroups; ++g) {
        if (g > 0) {
            text += '.';
        }
        text += std::to_string(ReadAddressGroup(field, g).value);
    }
    return text;
}

int FirstBadAddressGroup(std::string_view field, bool requireDigits)
{
    for (size_t g = 0; g < kAddressGroups; ++g) {
        const GroupValue v = ReadAddressGroup(field, g);
        if (v.value > 255 || (requireDigits && !v.hasDigits)) {
            return static_cast<int>(g);
        }
    }
    return -1;
}

std::array<uint8_t, kMacGroups> ReadMacField(std::string_view field)
{
    std::array<uint8_t, kMacGroups> mac{};
    for (size_t g = 0; g < kMacGroups; ++g) {
        const size_t pos = g * kMacGroupStride;
        mac[g] = static_cast<uint8_t>(hexValue(charAt(field, pos)) << 4 |
                                      hexValue(charAt(field, pos + 1)));
    }
    return mac;
}

int FirstBadMacGroup(std::string_view field)
{
    for (size_t g = 0; g < kMacGroups; ++g) {
        const size_t pos = g * kMacGroupStride;
        if (!std::isxdigit(static_cast<unsigned char>(charAt(field, pos))) ||
            !std::isxdigit(static_cast<unsigned char>(charAt(field, pos + 1)))) {
            return static_cast<int>(g);
        }
    }
    return -1;
}

std::string FormatAddressField(const uint8_t* four)
{
    char text[32];
    std::snprintf(text, sizeof text, "%03d.%03d.%03d.%03d", four[0], four[1], four[2], four[3]);
    return text;
}

std::string FormatMacField(const uint8_t* six)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02x.%02x.%02x.%02x.%02x.%02x", six[0], six[1], six[2],
                  six[3], six[4], six[5]);
    return text;
}

SystemRecordBytes BuildNetworkRecord(const SystemRecordBytes& stored, std::string_view address,
                                     std::string_view mask, std::string_view mac)
{
    SystemRecordBytes record = stored;
    for (size_t g = 0; g < kAddressGroups; ++g) {
        record[kAddressOffset + g] = static_cast<uint8_t>(ReadAddressGroup(address, g).value);
        record[kMaskOffset + g] = static_cast<uint8_t>(ReadAddressGroup(mask, g).value);
    }
    const auto macBytes = ReadMacField(mac);
    std::copy(macBytes.begin(), macBytes.end(), record.begin() + kMacOffset);
    record[kApplyOffset] = 1;
    return record;
}

bool NetworkSettingsDiffer(const SystemRecordBytes& a, const SystemRecordBytes& b)
{
    return !std::equal(a.begin() + kAddressOffset, a.begin() + kApplyOffset,
                       b.begin() + kAddressOffset);
}

} // namespace vireo
