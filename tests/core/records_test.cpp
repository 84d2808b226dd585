#include "database/records.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vireo;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int value : values) {
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

std::vector<uint8_t> Append(std::vector<uint8_t> head, const std::string& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(GbkTextTest, CutsOnlyAtCharacterBoundaries)
{
    const std::string chinese = "\xD6\xD0\xCE\xC4"; // two double-byte characters
    struct Case
    {
        std::string text;
        size_t max;
        size_t expected;
    } cases[] = {
        {"abc", 31, 3},
        {"abc", 2, 2},
        {chinese, 4, 4},
        {chinese, 3, 2},            // the second character would be cut in half
        {chinese, 1, 0},            // so would the first
        {"a" + chinese, 4, 3},      // a, then one whole character
        {"ab\xD6", 31, 2},          // a lead byte with no trail byte left
        {"\x80\xFF", 31, 2},        // neither byte starts a pair
        {"\xFE\x41\x81\x40", 3, 2}, // lead bytes at both ends of the range
    };
    for (const auto& c : cases) {
        const auto* data = reinterpret_cast<const uint8_t*>(c.text.data());
        EXPECT_EQ(GbkFit({data, c.text.size()}, c.max), c.expected) << c.text << " / " << c.max;
    }
}

TEST(SatelliteRecordTest, DecodesHeaderAndName)
{
    auto record = SatelliteRecord::Decode(Append(Bytes({3, 0xFF, 5, 0xB5, 0x2A, 0x2C, 0x6C, 0x26}),
                                                 std::string("AsiaSat 7\0junk", 14)));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Index(), 3);
    EXPECT_EQ(record->PreviousIndex(), 0xFF);
    EXPECT_EQ(record->NextIndex(), 5);
    EXPECT_EQ(record->LnbPower(), 1);
    EXPECT_EQ(record->Tone22k(), 1);
    EXPECT_TRUE(record->DiseqcOn());
    EXPECT_EQ(record->DiseqcPort(), 5);
    EXPECT_EQ(record->HighLo(), 11306);
    EXPECT_EQ(record->LowLo(), 9836);
    EXPECT_EQ(record->Name(), "AsiaSat 7");
    // What follows the NUL never reaches the record: the wire bytes are what a
    // SetSatellite sends back.
    EXPECT_EQ(record->wire[8 + 9], 0);
    EXPECT_EQ(record->wire[8 + 10], 0);
}

TEST(SatelliteRecordTest, HostilePayloadsNeverOverrunTheNameField)
{
    const auto header = Bytes({1, 0, 2, 0, 0, 0, 0, 0});
    const std::string forty(40, 'x');
    const std::string gbk31 = std::string(30, 'a') + "\xD6\xD0"; // 32 bytes, last char whole
    struct Case
    {
        const char* what;
        std::vector<uint8_t> payload;
        bool made;
        std::string name;
    } cases[] = {
        {"7 bytes", Bytes({1, 0, 2, 0, 0, 0, 0}), false, ""},
        {"empty", {}, false, ""},
        {"header only", header, true, ""},
        {"no NUL", Append(header, "Astra"), true, "Astra"},
        {"40 characters", Append(header, forty), true, std::string(31, 'x')},
        {"double-byte character across the limit", Append(header, gbk31), true,
         std::string(30, 'a')},
        {"lone lead byte at the end", Append(header, "Hot\xB0"), true, "Hot"},
    };
    for (const auto& c : cases) {
        auto record = SatelliteRecord::Decode(c.payload);
        ASSERT_EQ(record != nullptr, c.made) << c.what;
        if (record) {
            EXPECT_EQ(record->Name(), c.name) << c.what;
            EXPECT_EQ(record->wire[39], 0) << c.what;
        }
    }
}

TEST(TpRecordTest, DecodesFieldsAndLabelsByPolarisation)
{
    struct Case
    {
        uint8_t polarisation;
        const char* label;
    } cases[] = {{1, "1234 H 567"}, {0x80, "1234 H 567"}, {0, "1234 V 567"}};
    for (const auto& c : cases) {
        auto record = TpRecord::Decode(
            Bytes({7, 2, 6, 8, 0xD2, 0x04, 0x37, 0x02, 1, 1, c.polarisation, 4, 0xEE}));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->label, c.label);
        EXPECT_EQ(record->Index(), 7);
        EXPECT_EQ(record->SatelliteIndex(), 2);
        EXPECT_EQ(record->PreviousIndex(), 6);
        EXPECT_EQ(record->NextIndex(), 8);
        EXPECT_EQ(record->Modulation(), 1);
        EXPECT_EQ(record->Fec(), 4);
    }
    EXPECT_EQ(TpRecord::Decode(Bytes({7, 2, 6, 8, 0xD2, 0x04, 0x37, 0x02, 1, 1, 1})), nullptr);
    auto widest = TpRecord::Decode(Bytes({0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->label, "65535 V 65535");
}

TEST(ProgramRecordTest, DecodesFieldsAndBuildsTheLabel)
{
    // index 4, link 9, next 0xFF, TP 2, PCR 0x200, TV with video 0x200,
    // teletext 0, scrambled, module 2, audio 1 AC3 PID 0x28A, choice 0xF1.
    auto payload = Bytes(
        {4, 9, 0xFF, 2, 0x00, 0x02, 0x01, 0x10, 0, 0, 1, 2, 0x54, 0x14, 0, 0, 0, 0, 0xF1, 0x77});
    auto record = ProgramRecord::Decode(Append(payload, std::string("News\0", 5)));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->label, "P 005:$ News");
    EXPECT_EQ(record->Kind(), 1);
    EXPECT_EQ(record->VideoPid(), 0x200);
    EXPECT_EQ(record->PcrPid(), 0x200);
    EXPECT_EQ(record->Audio(0) >> 3, 0x28A);
    EXPECT_EQ(record->Audio(0) & 7, 4);
    EXPECT_EQ(record->ModuleState(), 2);
    EXPECT_EQ(record->AudioChoice(), 0xF1);
    EXPECT_EQ(record->wire[19], 0x77);

    payload[0] = 0;
    payload[10] = 0;
    EXPECT_EQ(ProgramRecord::Decode(payload)->label, "P 001:  "); // no name at all
}

TEST(ProgramRecordTest, LabelHoldsAtMost31NameCharacters)
{
    const std::vector<uint8_t> head(20, 0);
    const std::string gbk = std::string(30, 'b') + "\xC4\xE3"; // a double-byte char at 31-32
    struct Case
    {
        const char* what;
        std::string name;
        size_t labelLength;
        std::string labelName;
    } cases[] = {
        {"31 characters", std::string(31, 'a'), 39, std::string(31, 'a')},
        {"50 characters", std::string(50, 'a'), 39, std::string(31, 'a')},
        {"character across the limit", gbk, 38, std::string(30, 'b')},
        {"no NUL before the end", "Sport", 13, "Sport"},
    };
    for (const auto& c : cases) {
        auto record = ProgramRecord::Decode(Append(head, c.name));
        ASSERT_TRUE(record) << c.what;
        EXPECT_EQ(record->label.size(), c.labelLength) << c.what;
        EXPECT_EQ(record->label.substr(8), c.labelName) << c.what;
        EXPECT_LT(record->label.size(), ProgramRecord::kLabelSize) << c.what;
    }
    EXPECT_EQ(ProgramRecord::Decode(std::vector<uint8_t>(19, 0)), nullptr);
}

TEST(ProgramRecordTest, PidPresenceRule)
{
    struct Case
    {
        uint16_t field;
        bool present;
    } cases[] = {{0, false},     {7, false},      {8, true},      {0x1001, true},
                 {0xFFF7, true}, {0xFFF8, false}, {0xFFFF, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(PidPresent(c.field), c.present) << c.field;
    }
}

TEST(SystemRecordTest, FieldsOfTwoReports)
{
    SystemRecord plain;
    plain.wire = {0x00, 0x80, 0x0C, 0x00};
    EXPECT_EQ(plain.PollingInterval(), 400u);
    EXPECT_EQ(plain.MenuLanguage(), 0);
    EXPECT_EQ(plain.ScreenRatio(), 0);
    EXPECT_EQ(plain.SignalSource(), 0);
    EXPECT_EQ(plain.OutputType(), 0);
    EXPECT_EQ(plain.TsOutput(), 0);
    EXPECT_EQ(plain.TsLength(), 188);
    EXPECT_FALSE(plain.Reset());

    SystemRecord other;
    other.wire = {0x26, 0x05, 0, 0,    192,  168,  1,    20,   255, 255,
                  255,  0,    0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 1,   9};
    EXPECT_EQ(other.TsLength(), 204);
    EXPECT_EQ(other.TsOutput(), 1);
    EXPECT_EQ(other.MenuLanguage(), 1);
    EXPECT_EQ(other.ScreenRatio(), 1);
    EXPECT_EQ(other.OutputType(), 1);
    EXPECT_EQ(other.Ip(), (std::array<uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(other.Mask(), (std::array<uint8_t, 4>{255, 255, 255, 0}));
    EXPECT_EQ(other.Mac(), (std::array<uint8_t, 6>{0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(other.AddressChanged(), 1);
}

TEST(SystemRecordTest, PollingIntervalAbove99999ShowsZero)
{
    struct Case
    {
        uint32_t word;
        uint32_t interval;
    } cases[] = {{99999u << 11, 99999},
                 {(99999u << 11) | 0x7FF, 99999},
                 {204800000u, 0},
                 {0xFFFFFFFFu, 0},
                 {0x7FF, 0}};
    for (const auto& c : cases) {
        SystemRecord record;
        for (int i = 0; i < 4; ++i) {
            record.wire[i] = static_cast<uint8_t>(c.word >> (8 * i));
        }
        EXPECT_EQ(record.PollingInterval(), c.interval) << c.word;
    }
}

TEST(VersionRecordTest, Text)
{
    VersionRecord version{{1, 2, 3, 14}};
    EXPECT_EQ(version.Text(), "Loader: V1.2\tSoftware: V3.14");
}

} // namespace
