#include "dialogs/satellite_fields.h"

#include <gtest/gtest.h>
#include <string>

using namespace vireo;

namespace {

SatelliteWire storedSatellite()
{
    SatelliteWire r{};
    r[0] = 5;    // index
    r[1] = 4;    // previous
    r[2] = 0xFF; // last
    r[3] = 0x0D; // Close, 22K value 3, no DiSEqC
    r[4] = 0x68; // high 10600
    r[5] = 0x29;
    r[6] = 0x16; // low 9750
    r[7] = 0x26;
    const std::string name = "Asia 7";
    std::copy(name.begin(), name.end(), r.begin() + 8);
    return r;
}

SatelliteFields fields(const char* high, const char* low)
{
    SatelliteFields f = NewSatelliteFields();
    f.highLo = high;
    f.lowLo = low;
    return f;
}

} // namespace

TEST(WordField, ReadsWholeNumbersOfSixteenBits)
{
    EXPECT_EQ(ReadWordField("10600").value, 10600);
    EXPECT_EQ(ReadWordField(" 65535 ").value, 65535);
    EXPECT_EQ(ReadWordField("+12").value, 12);
    EXPECT_TRUE(ReadWordField("-0").Ok());
    for (const char* bad : {"", "  ", "12a", "1 2", "0x10", "1.5", "-", "\xb2\xe2"}) {
        EXPECT_EQ(ReadWordField(bad).fault, WordFault::NotInteger) << bad;
    }
    // Too big is refused, never cut to its low 16 bits.
    for (const char* big : {"65536", "70000", "99999999999999999999", "-1"}) {
        EXPECT_EQ(ReadWordField(big).fault, WordFault::OutOfRange) << big;
    }
    EXPECT_EQ(WordFaultMessage(WordFault::NotInteger, ""), "'' is not a valid integer value");
    EXPECT_EQ(WordFaultMessage(WordFault::OutOfRange, "70000"),
              "'70000' is out of range (0 to 65535)");
}

TEST(SatelliteFields, FlagsByteFromTheThreeLists)
{
    // Port C: DiSEqC in use plus port 3 in bits 5-7.
    EXPECT_EQ(BuildLnbFlags(0, 0, 3, 0), 0x70);
    EXPECT_EQ(BuildLnbFlags(1, 1, 3, 0), 0x75);
    EXPECT_EQ(BuildLnbFlags(0, 0, 4, 0), 0x90);
    // Back to Close clears bits 4-7 whatever was stored.
    EXPECT_EQ(BuildLnbFlags(1, 0, 0, 0xFF), 0x01);
    // Open writes 1 over a stored 22K value of 3.
    EXPECT_EQ(BuildLnbFlags(0, 1, 0, 0x0C), 0x04);
    // A list without a selection keeps its stored bits, and only those.
    EXPECT_EQ(BuildLnbFlags(kNoChoice, 0, 0, 0xF3), 0x03);
    EXPECT_EQ(BuildLnbFlags(0, kNoChoice, 0, 0xFF), 0x0C);
    EXPECT_EQ(BuildLnbFlags(0, 0, kNoChoice, 0xEF), 0xE0);
}

TEST(SatelliteFields, FieldsFromAStoredRecord)
{
    SatelliteWire r = storedSatellite();
    SatelliteFields f = SatelliteFieldsFromRecord(r);
    EXPECT_EQ(f.highLo, "10600");
    EXPECT_EQ(f.lowLo, "9750");
    EXPECT_EQ(f.lnbPower, 1);
    EXPECT_EQ(f.tone22k, kNoChoice); // value 3 has no item
    EXPECT_EQ(f.diseqc, 0);
    EXPECT_EQ(f.name, "Asia 7");

    r[3] = 0x90 | 0x04; // Port D, Open
    r[4] = 0xFF;
    r[5] = 0xFF;
    f = SatelliteFieldsFromRecord(r);
    EXPECT_EQ(f.highLo, "65535"); // unsigned
    EXPECT_EQ(f.tone22k, 1);
    EXPECT_EQ(f.diseqc, 4);
    r[3] = 0xF0; // port 7
    EXPECT_EQ(SatelliteFieldsFromRecord(r).diseqc, kNoChoice);
}

TEST(SatelliteFields, SetAndAddRecordBytes)
{
    const SatelliteWire stored = storedSatellite();
    SatelliteFields f = fields("11300", "10750");
    f.lnbPower = 1;
    f.tone22k = 1;
    f.diseqc = 2;
    f.name = "  Sky";

    const SatelliteRequest set = BuildSatelliteRequest(SatDialogMode::Set, stored, f);
    ASSERT_TRUE(set.Ok());
    const SatelliteWire& s = set.record;
    EXPECT_EQ(s[0], 5);
    EXPECT_EQ(s[1], 4);
    EXPECT_EQ(s[2], 0xFF);
    EXPECT_EQ(s[3], 0x01 | 0x04 | 0x10 | 0x40);
    EXPECT_EQ(s[4], 11300 & 0xFF);
    EXPECT_EQ(s[5], 11300 >> 8);
    EXPECT_EQ(s[6], 10750 & 0xFF);
    EXPECT_EQ(s[7], 10750 >> 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[8])), "Sky"); // leading blanks gone
    for (size_t i = 8 + 3; i < s.size(); ++i) {
        EXPECT_EQ(s[i], 0) << i; // the old name is cleared
    }

    const SatelliteRequest add = BuildSatelliteRequest(SatDialogMode::Add, stored, f);
    ASSERT_TRUE(add.Ok());
    EXPECT_EQ(add.record[0], 0);
    EXPECT_EQ(add.record[1], 0);
    EXPECT_EQ(add.record[2], 0);
    EXPECT_EQ(add.record[3], s[3]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&add.record[8])), "  Sky");
}

TEST(SatelliteFields, BadFrequenciesStopTheRequest)
{
    const SatelliteWire stored = storedSatellite();
    // A new satellite's empty fields: the high frequency is reported first.
    SatelliteRequest r = BuildSatelliteRequest(SatDialogMode::Add, stored, NewSatelliteFields());
    EXPECT_EQ(r.badField, SatelliteField::HighLo);
    EXPECT_EQ(r.fault, WordFault::NotInteger);

    r = BuildSatelliteRequest(SatDialogMode::Set, stored, fields("10600", "70000"));
    EXPECT_EQ(r.badField, SatelliteField::LowLo);
    EXPECT_EQ(r.fault, WordFault::OutOfRange);
    EXPECT_FALSE(r.Ok());

    EXPECT_TRUE(BuildSatelliteRequest(SatDialogMode::Set, stored, fields("0", "65535")).Ok());
}

TEST(SatelliteFields, NamesFitTheFieldWithItsZero)
{
    const std::string ascii(40, 'N');
    EXPECT_EQ(SatelliteNameForRecord(ascii, SatDialogMode::Add), std::string(31, 'N'));

    // 30 ASCII bytes and then a two-byte character would end at byte 32: the
    // character is left out whole, not halved.
    const std::string mixed = std::string(30, 'a') + "\xb2\xe2" + "b";
    EXPECT_EQ(SatelliteNameForRecord(mixed, SatDialogMode::Add), std::string(30, 'a'));

    // Sixteen Chinese characters are 32 bytes: fifteen fit.
    std::string chinese;
    for (int i = 0; i < 16; ++i) {
        chinese += "\xb2\xe2";
    }
    EXPECT_EQ(SatelliteNameForRecord(chinese, SatDialogMode::Set).size(), 30u);

    // Set mode strips the blanks before cutting, so they cost no room.
    EXPECT_EQ(SatelliteNameForRecord("  " + std::string(31, 'x'), SatDialogMode::Set),
              std::string(31, 'x'));
    EXPECT_EQ(SatelliteNameForRecord("   ", SatDialogMode::Set), "");

    SatelliteFields f = fields("1", "1");
    f.name = std::string(33, 'z');
    const SatelliteRequest r = BuildSatelliteRequest(SatDialogMode::Add, {}, f);
    EXPECT_EQ(r.record[8 + 30], 'z');
    EXPECT_EQ(r.record[39], 0); // the terminating zero
}
