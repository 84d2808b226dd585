#include "device/address_change.h"

#include <gtest/gtest.h>

using namespace vireo;

TEST(AddressChange, UsableAddressesExcludeThisNetworkMulticastAndBroadcast)
{
    EXPECT_TRUE(IsUsableDeviceAddress({192, 168, 1, 20}));
    EXPECT_TRUE(IsUsableDeviceAddress({10, 0, 0, 1}));
    EXPECT_TRUE(IsUsableDeviceAddress({127, 0, 0, 1}));
    EXPECT_FALSE(IsUsableDeviceAddress({0, 0, 0, 0}));
    EXPECT_FALSE(IsUsableDeviceAddress({0, 1, 2, 3}));
    EXPECT_FALSE(IsUsableDeviceAddress({224, 0, 0, 1}));
    EXPECT_FALSE(IsUsableDeviceAddress({255, 255, 255, 255}));
}

TEST(AddressChange, NewCaptionKeepsTheNameAfterTheFirstColon)
{
    EXPECT_EQ(CaptionForReportedAddress({10, 0, 0, 9}, "192.168.1.20:Studio A"),
              "10.0.0.9:Studio A");
    EXPECT_EQ(CaptionForReportedAddress({10, 0, 0, 9}, "192.168.1.20:"), "10.0.0.9:");
    EXPECT_EQ(CaptionForReportedAddress({10, 0, 0, 9}, "192.168.1.20:a:b"), "10.0.0.9:a:b");
    EXPECT_EQ(CaptionForReportedAddress({1, 2, 3, 4}, "no colon"), "1.2.3.4:");
}
