#include "device/address_change.h"

namespace vireo {

bool IsUsableDeviceAddress(const std::array<uint8_t, 4>& address)
{
    return address[0] != 0 && address[0] < 224;
}

std::string CaptionName(std::string_view caption)
{
    const size_t colon = caption.find(':');
    if (colon == std::string_view::npos) {
        return {};
    }
    return std::string(caption.substr(colon + 1));
}

std::string CaptionForReportedAddress(const std::array<uint8_t, 4>& address,
                                      std::string_view currentCaption)
{
    std::string caption;
    for (size_t i = 0; i < address.size(); ++i) {
        if (i > 0) {
            caption += '.';
        }
        caption += std::to_string(address[i]);
    }
    caption += ':';
    caption += CaptionName(currentCaption);
    return caption;
}

} // namespace vireo
