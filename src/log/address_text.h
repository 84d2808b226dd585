#pragma once

#include <cstddef>
#include <string_view>

namespace vireo {

// Longest address text a machine caption or the settings file may hold:
// four numbers of at most 3 digits and three dots.
inline constexpr size_t kMaxAddressLength = 15;

// True when `text` is exactly four decimal numbers separated by three dots,
// each from 0 to 255. A number with no digits counts as 0, so "10..0.1" is
// accepted. A number of more than 3 digits (even with leading zeros) or a text
// longer than kMaxAddressLength is rejected without being read further.
bool IsValidIPv4Text(std::string_view text);

} // namespace vireo
