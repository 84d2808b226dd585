#pragma once

namespace vireo {

// What the device window's layout depends on: its outer size, the two ratios
// the operator set by moving the splitters, the "Show Radio" box and the width
// of the splitter between the program trees.
struct DeviceLayoutInput
{
    int width = 0;               // outer width of the window
    int height = 0;              // outer height of the window
    double tabRatio = 2.0 / 3.0; // tab area height / window height
    double treeRatio = 0.5;      // TV tree width / window width
    bool showRadio = false;
    int treeSplitterWidth = 3;
};

// Where the window's parts go. All values in pixels.
struct DeviceLayout
{
    int tabHeight = 0;
    int logWidth = 0;
    int logHeight = 0;
    int queryLeft = 0;     // "Query Signal" check box
    int showRadioLeft = 0; // "Show Radio" check box
    int tvTreeWidth = 0;
};

// The check boxes never move left of this, so they stay clear of the gauges.
inline constexpr int kMinQueryLeft = 400;

// Fractions are truncated toward zero. Negative results (a window shrunk below
// its frame) are left as they come; the widget clamps what it applies.
DeviceLayout ComputeDeviceLayout(const DeviceLayoutInput& in);

// Width of the TV tree alone: the stored fraction while the radio tree shows,
// the whole tab (less the splitter and the frame) while it is hidden.
int TvTreeWidth(int width, double treeRatio, bool showRadio, int treeSplitterWidth);

// The ratio a splitter leaves behind when the operator moved it: `part` of
// `whole`. A whole of 0 or less keeps `previous`.
double RatioAfterSplitterMove(int part, int whole, double previous);

} // namespace vireo
