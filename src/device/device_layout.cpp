#include "device/device_layout.h"

namespace vireo {

namespace {
constexpr int kLogSideMargin = 12;
constexpr int kLogBottomMargin = 50;
constexpr int kQueryFromLogRight = 170;
constexpr int kQueryRoomNeeded = 200;
constexpr int kShowRadioFromQuery = 80;
constexpr int kTvTreeFrame = 11;
} // namespace

int TvTreeWidth(int width, double treeRatio, bool showRadio, int treeSplitterWidth)
{
    if (showRadio) {
        return static_cast<int>(width * treeRatio);
    }
    return width - treeSplitterWidth - kTvTreeFrame;
}

DeviceLayout ComputeDeviceLayout(const DeviceLayoutInput& in)
{
    DeviceLayout out;
    out.tabHeight = static_cast<int>(in.height * in.tabRatio);
    out.logWidth = in.width - kLogSideMargin;
    out.logHeight = in.height - out.tabHeight - kLogBottomMargin;
    out.queryLeft = out.logWidth - kQueryRoomNeeded > kMinQueryLeft
                        ? out.logWidth - kQueryFromLogRight
                        : kMinQueryLeft;
    out.showRadioLeft = out.queryLeft + kShowRadioFromQuery;
    out.tvTreeWidth = TvTreeWidth(in.width, in.treeRatio, in.showRadio, in.treeSplitterWidth);
    return out;
}

double RatioAfterSplitterMove(int part, int whole, double previous)
{
    if (whole <= 0) {
        return previous;
    }
    return static_cast<double>(part) / whole;
}

} // namespace vireo
