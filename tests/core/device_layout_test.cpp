#include "device/device_layout.h"

#include <gtest/gtest.h>

using namespace vireo;

namespace {

DeviceLayoutInput sized(int width, int height)
{
    DeviceLayoutInput in;
    in.width = width;
    in.height = height;
    in.treeSplitterWidth = 3;
    return in;
}

} // namespace

// The log pane is the window width less 12; the check boxes follow its right
// edge only while it leaves them more than 400 pixels from the left.
TEST(DeviceLayout, CheckBoxesStayAt400And480UntilTheLogPaneIsWiderThan600)
{
    struct Case
    {
        int width;
        int queryLeft;
    };
    const Case cases[] = {
        {300, 400},       // far too narrow
        {612, 400},       // log pane 600: 600 - 200 is not above 400
        {613, 601 - 170}, // log pane 601
        {1012, 1000 - 170},
    };
    for (const Case& c : cases) {
        const DeviceLayout layout = ComputeDeviceLayout(sized(c.width, 600));
        EXPECT_EQ(layout.logWidth, c.width - 12) << c.width;
        EXPECT_EQ(layout.queryLeft, c.queryLeft) << c.width;
        EXPECT_EQ(layout.showRadioLeft, c.queryLeft + 80) << c.width;
    }
}

TEST(DeviceLayout, TabAreaAndLogHeightTruncateTheRatio)
{
    DeviceLayoutInput in = sized(800, 601);
    const DeviceLayout layout = ComputeDeviceLayout(in); // 601 * 2/3 = 400.67
    EXPECT_EQ(layout.tabHeight, 400);
    EXPECT_EQ(layout.logHeight, 601 - 400 - 50);

    in.tabRatio = 0.25;
    EXPECT_EQ(ComputeDeviceLayout(in).tabHeight, 150);
}

TEST(DeviceLayout, HiddenRadioTreeGivesTheTvTreeTheWholeTab)
{
    DeviceLayoutInput in = sized(901, 500);
    in.treeRatio = 0.3;
    in.showRadio = false;
    for (const int width : {901, 640, 1500}) {
        in.width = width;
        EXPECT_EQ(ComputeDeviceLayout(in).tvTreeWidth, width - 3 - 11) << width;
    }

    in.width = 901;
    in.showRadio = true;
    EXPECT_EQ(ComputeDeviceLayout(in).tvTreeWidth, 270); // 270.3 truncated
    in.treeSplitterWidth = 8;
    in.showRadio = false;
    EXPECT_EQ(ComputeDeviceLayout(in).tvTreeWidth, 901 - 8 - 11);
}

TEST(DeviceLayout, SplitterMovesStoreTheirFractionUnlessTheWindowHasNoSize)
{
    EXPECT_DOUBLE_EQ(RatioAfterSplitterMove(300, 600, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(RatioAfterSplitterMove(150, 600, 0.5), 0.25);
    EXPECT_DOUBLE_EQ(RatioAfterSplitterMove(150, 0, 0.4), 0.4);
    EXPECT_DOUBLE_EQ(RatioAfterSplitterMove(150, -5, 0.4), 0.4);
}
