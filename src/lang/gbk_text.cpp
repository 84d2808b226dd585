#include "lang/gbk_text.h"

#include <cerrno>
#include <iconv.h>

namespace vireo {

namespace {

// One conversion through iconv. On an invalid or incomplete sequence,
// `onBadByte` decides: it may append a replacement and return true to skip
// the byte, or return false to give up.
template <typename OnBadByte>
std::optional<std::string> convert(const char* to, const char* from, std::string_view in,
                                   OnBadByte onBadByte)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string out;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            if (!onBadByte(out)) {
                iconv_close(cd);
                return std::nullopt;
            }
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8)
{
    return convert("GBK", "UTF-8", utf8, [](std::string&) { return false; });
}

std::string GbkToUtf8(std::string_view gbk)
{
    return convert("UTF-8", "GBK", gbk,
                   [](std::string& out) {
                       out += "\xEF\xBF\xBD";
                       return true;
                   })
        .value_or(std::string{});
}

std::string CutGbk(std::string_view gbk, size_t maxBytes)
{
    size_t end = 0;
    while (end < gbk.size()) {
        const auto lead = static_cast<unsigned char>(gbk[end]);
        const size_t width = lead >= 0x81 && lead <= 0xFE && end + 1 < gbk.size() ? 2 : 1;
        if (end + width > maxBytes) {
            break;
        }
        end += width;
    }
    return std::string(gbk.substr(0, end));
}

} // namespace vireo
