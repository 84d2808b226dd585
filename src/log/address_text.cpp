#include "log/address_text.h"

namespace vireo {

bool IsValidIPv4Text(std::string_view text)
{
    if (text.size() > kMaxAddressLength) {
        return false;
    }
    int dots = 0;
    int digits = 0; // digits of the number being read
    int value = 0;
    for (const char c : text) {
        if (c == '.') {
            if (++dots > 3) {
                return false;
            }
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > 3) {
                return false;
            }
            value = value * 10 + (c - '0');
            if (value > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    return dots == 3;
}

} // namespace vireo
