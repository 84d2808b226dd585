#pragma once

#include <chrono>

namespace vireo {

// The link's time limits are given in the device protocol's own units (whole
// seconds for replies, milliseconds for connect delays). `unit` is how long
// one protocol millisecond lasts on the clock: 1 ms in the product; tests
// shrink it so that a four-time-out scenario runs in milliseconds while every
// limit keeps its proportions.
struct LinkTiming
{
    std::chrono::microseconds unit{1000};

    std::chrono::microseconds Scaled(long protocolMilliseconds) const
    {
        return unit * protocolMilliseconds;
    }
};

} // namespace vireo
