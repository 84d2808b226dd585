#include "lang/display_text.h"

#include <gtest/gtest.h>
#include <string>

using namespace vireo;

namespace {

TEST(DisplayText, EscapesControlBytesAndHalfCharactersOnly)
{
    const std::string zhong = "\xD6\xD0"; // 中
    const struct
    {
        std::string in;
        std::string shown;
    } cases[] = {
        {"CCTV-1 " + zhong, "CCTV-1 " + zhong},
        {"C:\\x0a", "C:\\x0a"}, // a backslash of the text stays
        {"Evil\r\n(1.2.3.4:A)", "Evil\\r\\n(1.2.3.4:A)"},
        {"a\tb\x1b[2J\x7f", "a\\tb\\x1b[2J\\x7f"},
        {std::string("n\0l", 3), "n\\x00l"},
        {"Hot\xB0", "Hot\\xb0"},             // lead byte at the end
        {"\xB0\n", "\\xb0\\n"},              // lead byte before a control byte
        {"\xB0:" + zhong, "\\xb0:" + zhong}, // and before a byte no trail can be
        {"\xB0\x7F", "\\xb0\\x7f"},          // 0x7F is no trail byte either
        {"\x81\x5C\xFE\x40\xB0\xFE", "\x81\x5C\xFE\x40\xB0\xFE"}, // whole pairs, trail 0x5C too
        {"\x80\xFF", "\x80\xFF"},                                 // neither starts a pair
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayText(c.in), c.shown) << c.in;
    }
}

// Whatever two bytes a name holds, its display text has no control byte and
// ends on a character boundary: text after it is read as it was written.
TEST(DisplayText, NeverBreaksALineNorSwallowsWhatFollows)
{
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const std::string shown =
                DisplayText(std::string{static_cast<char>(a), static_cast<char>(b)});
            for (const char c : shown) {
                const auto byte = static_cast<unsigned char>(c);
                ASSERT_FALSE(byte < 0x20 || byte == 0x7F) << a << " " << b;
            }
            size_t at = 0;
            while (at < shown.size()) {
                const auto byte = static_cast<unsigned char>(shown[at]);
                at += byte >= 0x81 && byte <= 0xFE ? 2 : 1;
            }
            ASSERT_EQ(at, shown.size()) << a << " " << b;
        }
    }
}

TEST(DisplayText, JsonNamesCarryTheirBytesWhenTheTextLosesThem)
{
    const struct
    {
        std::string name;
        std::string text;
        std::string hex;
    } cases[] = {
        {"News", "News", ""},           {"\xD6\xD0\xCC\xEC", "中天", ""},
        {"A\\n", "A\\n", ""}, // written as it stands: the text is the name
        {"A\r\n", "A\\r\\n", "410d0a"}, {"Hot\xB0\x09", "Hot\\xb0\\t", "486f74b009"},
        {"\xFF", "\xEF\xBF\xBD", "ff"}, // not GBK: U+FFFD, and the byte in hex
    };
    for (const auto& c : cases) {
        const JsonName name = NameForJson(c.name);
        EXPECT_EQ(name.text, c.text) << c.name;
        EXPECT_EQ(name.hex, c.hex) << c.name;
    }
}

} // namespace
