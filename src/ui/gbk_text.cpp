#include "ui/gbk_text.h"

#include "lang/language_table.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cerrno>
#include <iconv.h>

namespace vireo::ui {

namespace {

constexpr const char* kCodec = "GBK";

// Qt reaches GBK through ICU; a Qt built without ICU has no GBK and the
// C library's iconv does the work instead.
bool qtHasGbk()
{
    static const bool has = QStringDecoder(kCodec).isValid() && QStringEncoder(kCodec).isValid();
    return has;
}

std::string iconvConvert(const char* to, const char* from, std::string_view input)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    std::string output;
    std::string chunk(4 * input.size() + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char* out = chunk.data();
        size_t outLeft = chunk.size();
        const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(chunk.data(), chunk.size() - outLeft);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or truncated sequence: keep it visible as '?' and go on.
            output += '?';
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return output;
}

} // namespace

QString FromGbk(std::string_view bytes)
{
    if (bytes.empty()) {
        return {};
    }
    if (qtHasGbk()) {
        QStringDecoder decoder(kCodec);
        return decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    return FromGbkIconv(bytes);
}

std::string ToGbk(const QString& text)
{
    if (text.isEmpty()) {
        return {};
    }
    if (qtHasGbk()) {
        QStringEncoder encoder(kCodec);
        const QByteArray bytes = encoder(text);
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    return ToGbkIconv(text);
}

QString FromGbkIconv(std::string_view bytes)
{
    return QString::fromStdString(iconvConvert("UTF-8", kCodec, bytes));
}

std::string ToGbkIconv(const QString& text)
{
    return iconvConvert(kCodec, "UTF-8", text.toStdString());
}

QString LangText(int row)
{
    return FromGbk(GetLangText(row));
}

size_t GbkLength(const QString& text)
{
    return ToGbk(text).size();
}

} // namespace vireo::ui
