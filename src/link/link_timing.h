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

    // A lost link is tried again at once (a service: after 1 s), then
    // after 1 s, 2, 4... up to this cap (protocol ms). Without `reconnectForever` the session gives
    // up after the first failed attempt and ends disconnected, as a window does for its operator; a
    // service keeps trying, the pause held at the cap and lengthened by up to a quarter,
    // differently for each address.
    long reconnectMaxMs = 30000;
    bool reconnectForever = false;
    // A window's session that gave up after its reconnect keeps watching the
    // device in the background: one connect attempt after 1 s, then 2, 4...
    // up to `watchMaxMs` (protocol ms), until the device answers, the
    // operator disconnects or the window closes. Observers keep seeing the
    // link lost meanwhile, not a disconnect.
    bool watchAfterGivingUp = false;
    long watchMaxMs = 60000;
    // Time between two signal queries of an idle link (protocol ms); 0 leaves
    // it to the window's Query Signal choice (about 3 s ticked, 10 s not).
    long signalPollMs = 0;

    std::chrono::microseconds Scaled(long protocolMilliseconds) const
    {
        return unit * protocolMilliseconds;
    }
};

} // namespace vireo
