#include "lang/display_text.h"

#include "lang/gbk_text.h"

namespace vireo {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F;
}

bool isLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool isTrail(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

void appendEscape(std::string& out, unsigned char byte)
{
    switch (byte) {
    case '\r':
        out += "\\r";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        out += "\\x";
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0x0F];
    }
}

std::string hexOf(std::string_view bytes)
{
    std::string out;
    out.reserve(2 * bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0x0F];
    }
    return out;
}

} // namespace

std::string DisplayText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (isLead(byte)) {
            if (i + 1 < text.size() && isTrail(static_cast<unsigned char>(text[i + 1]))) {
                out += text.substr(i, 2);
                ++i;
            } else {
                appendEscape(out, byte);
            }
        } else if (isControl(byte)) {
            appendEscape(out, byte);
        } else {
            out += text[i];
        }
    }
    return out;
}

JsonName NameForJson(std::string_view gbk)
{
    JsonName name;
    name.text = GbkToUtf8(DisplayText(gbk));
    if (Utf8ToGbk(name.text) != gbk) {
        name.hex = hexOf(gbk);
    }
    return name;
}

} // namespace vireo
