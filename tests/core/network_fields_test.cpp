#include "dialogs/network_fields.h"

#include <gtest/gtest.h>
#include <string>

using namespace vireo;
using Key = DottedKeyFilter::Key;

namespace {

// Feeds typed characters through the filter; returns the characters it lets
// through.
std::string typeThrough(DottedKeyFilter& filter, const std::string& typed)
{
    std::string passed;
    for (const char c : typed) {
        const Key key = c == '.' ? Key::Dot : (c >= '0' && c <= '9') ? Key::Digit : Key::Other;
        if (filter.Accept(key)) {
            passed += c;
        }
    }
    return passed;
}

} // namespace

TEST(DottedKeyFilter, DotMovesOnOnlyFromAPartlyTypedGroup)
{
    DottedKeyFilter filter;
    EXPECT_EQ(typeThrough(filter, "1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(filter.DigitCount(), 10); // three groups rounded up to 3, plus one

    filter.Reset();
    // After a full group the field has already moved on: the dot is dropped.
    EXPECT_EQ(typeThrough(filter, "192.168.001.010"), "192168001010");

    filter.Reset();
    EXPECT_FALSE(filter.Accept(Key::Dot)); // nothing typed yet
    EXPECT_EQ(filter.DigitCount(), 0);
}

TEST(DottedKeyFilter, BackspaceAndEscapeAdjustTheCount)
{
    DottedKeyFilter filter;
    typeThrough(filter, "12");
    EXPECT_TRUE(filter.Accept(Key::Backspace));
    EXPECT_EQ(filter.DigitCount(), 1);
    filter.Accept(Key::Backspace);
    filter.Accept(Key::Backspace);
    EXPECT_EQ(filter.DigitCount(), 0); // never below zero
    typeThrough(filter, "12");
    EXPECT_TRUE(filter.Accept(Key::Escape));
    EXPECT_EQ(filter.DigitCount(), 0);
    EXPECT_TRUE(filter.Accept(Key::Other));
    EXPECT_EQ(filter.DigitCount(), 0);
}

TEST(AddressField, NormalisesGroupsReadAsDecimalNumbers)
{
    EXPECT_EQ(NormaliseAddressField("1  .2  .3  .4  "), "1.2.3.4");
    EXPECT_EQ(NormaliseAddressField("192.168.001.010"), "192.168.1.10");
    EXPECT_EQ(NormaliseAddressField("192.168.  1.005"), "192.168.1.5");
    EXPECT_EQ(NormaliseAddressField("   .   .   .   "), "0.0.0.0");
    EXPECT_EQ(NormaliseAddressField("1 2.3x4.   .9  "), "1.3.0.9"); // stops at a non-digit
    EXPECT_EQ(NormaliseAddressField(""), "0.0.0.0");
    EXPECT_EQ(NormaliseAddressField("300.1  .1  .1  "), "300.1.1.1"); // no range check here
}

TEST(AddressField, FindsGroupsThatCannotBeAnAddress)
{
    EXPECT_EQ(FirstBadAddressGroup("192.168.001.010", true), -1);
    EXPECT_EQ(FirstBadAddressGroup("10 .256.1  .1  ", false), 1);
    EXPECT_EQ(FirstBadAddressGroup("10 .   .1  .1  ", false), -1);
    EXPECT_EQ(FirstBadAddressGroup("10 .   .1  .1  ", true), 1);
    EXPECT_EQ(FirstBadAddressGroup("10 .1  .1  .999", true), 3);
}

TEST(MacField, ReadsHexadecimalPairsAndCountsOtherCharactersAsZero)
{
    const auto mac = ReadMacField("0A.1b.FF.G1.  .z9");
    EXPECT_EQ(mac, (std::array<uint8_t, 6>{0x0A, 0x1B, 0xFF, 0x01, 0x00, 0x09}));
}

TEST(MacField, FindsGroupsWithoutTwoHexadecimalDigits)
{
    EXPECT_EQ(FirstBadMacGroup("0A.1b.FF.01.00.e9"), -1);
    EXPECT_EQ(FirstBadMacGroup("0A.1b.FF.G1.00.e9"), 3);
    EXPECT_EQ(FirstBadMacGroup("0A.1 .FF.01.00.e9"), 1); // half typed
    EXPECT_EQ(FirstBadMacGroup("0A.1b.FF.01.00.  "), 5); // blank
    EXPECT_EQ(FirstBadMacGroup("0A.1b"), 2);             // cut short
}

TEST(NetworkRecord, ReplacesAddressMaskAndMacAndAsksTheDeviceToApplyThem)
{
    SystemRecordBytes stored{};
    for (size_t i = 0; i < stored.size(); ++i) {
        stored[i] = static_cast<uint8_t>(0xA0 + i);
    }
    const std::string address = FormatAddressField(stored.data() + 4);
    const std::string mask = FormatAddressField(stored.data() + 8);
    const std::string mac = FormatMacField(stored.data() + 12);
    EXPECT_EQ(address, "164.165.166.167");
    EXPECT_EQ(mac, "ac.ad.ae.af.b0.b1");

    // Unchanged fields: nothing to send.
    SystemRecordBytes record = BuildNetworkRecord(stored, address, mask, mac);
    EXPECT_FALSE(NetworkSettingsDiffer(record, stored));
    EXPECT_EQ(record[18], 1);

    // Only the MAC changed: the address and mask bytes stay as stored.
    record = BuildNetworkRecord(stored, address, mask, "00.11.22.33.44.55");
    EXPECT_TRUE(NetworkSettingsDiffer(record, stored));
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 12, stored.begin()));
    EXPECT_EQ(record[12], 0x00);
    EXPECT_EQ(record[17], 0x55);
    EXPECT_EQ(record[18], 1);
    EXPECT_EQ(record[19], stored[19]);

    record = BuildNetworkRecord(stored, "10 .0  .0  .9  ", "255.255.255.0  ", mac);
    EXPECT_EQ(record[4], 10);
    EXPECT_EQ(record[7], 9);
    EXPECT_EQ(record[11], 0);
}
