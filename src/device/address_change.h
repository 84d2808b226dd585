#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

// An address a device may sensibly report for itself: not 0.x.x.x ("this
// network"), not multicast or reserved (224 and up, the broadcast address
// included).
bool IsUsableDeviceAddress(const std::array<uint8_t, 4>& address);

// The part of a caption after its first ':' (empty when there is none).
std::string CaptionName(std::string_view caption);

// "a.b.c.d:" followed by the name part of `currentCaption`: the caption a
// device window takes when its IRD reports a new address.
std::string CaptionForReportedAddress(const std::array<uint8_t, 4>& address,
                                      std::string_view currentCaption);

} // namespace vireo
