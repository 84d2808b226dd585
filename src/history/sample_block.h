#pragma once

#include "history/history_types.h"
#include "history/sample_codec.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// The reports of one device within one minute: stored as one row per device
// and minute holding them all in a compressed blob (SampleCodec), beside a
// row of the minute's summary. A minute is the time in ms divided by 60,000.
struct SampleBlock
{
    int64_t minute = 0;
    std::vector<SignalSample> samples; // as appended

    // The summary, kept up to date by Append.
    int count = 0;
    int lockedCount = 0;
    int intensityMin = 0, intensityMax = 0;
    int64_t intensitySum = 0;
    int qualityMin = 0, qualityMax = 0;
    int64_t qualitySum = 0;

    static int64_t MinuteOf(int64_t timeMs)
    {
        return timeMs >= 0 ? timeMs / kMsPerMinute : (timeMs - kMsPerMinute + 1) / kMsPerMinute;
    }

    // Adds a report (its time clamped into the minute, values to 0-255).
    void Append(const SignalSample& sample);
    // The stored form of these reports after `stored` (a block's blob as the
    // file has it, either format; may be empty), in time order.
    std::string Encode(std::string_view stored = {}) const;

    // Calls `f(SignalSample)` for every report of a stored block, in time
    // order (arrival order for a block of the first format).
    template <typename F> static void ForEachIn(int64_t minuteIndex, std::string_view bytes, F&& f)
    {
        std::vector<SignalSample> decoded;
        SampleCodec::Decode(minuteIndex, bytes, decoded);
        for (const SignalSample& s : decoded) {
            f(s);
        }
    }
};

} // namespace vireo
