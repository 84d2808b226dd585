#include "dialogs/word_field.h"

#include <cstdint>

namespace vireo {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

WordField ReadWordField(std::string_view text)
{
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return {0, WordFault::NotInteger};
    }
    // Digits past the 16-bit range only need to be known as too many; the
    // running value is held at its first step above the limit.
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return {0, WordFault::NotInteger};
        }
        if (value <= UINT16_MAX) {
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    if (value > UINT16_MAX || (negative && value != 0)) {
        return {0, WordFault::OutOfRange};
    }
    return {static_cast<uint16_t>(value), WordFault::None};
}

std::string WordFaultMessage(WordFault fault, std::string_view text)
{
    const std::string quoted = "'" + std::string(text) + "'";
    switch (fault) {
    case WordFault::NotInteger:
        return quoted + " is not a valid integer value";
    case WordFault::OutOfRange:
        return quoted + " is out of range (0 to 65535)";
    case WordFault::None:
        break;
    }
    return {};
}

} // namespace vireo
