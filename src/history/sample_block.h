#pragma once

#include "history/history_types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// The reports of one device within one minute, as stored: one row per device
// and minute holds them all in a blob of 5 bytes per report (ms into the
// minute as 16 bits little-endian, intensity, quality, flags), beside a row
// of the minute's summary. A minute is the time in ms divided by 60,000.
struct SampleBlock
{
    static constexpr size_t kBytesPerSample = 5;
    static constexpr uint8_t kLockedFlag = 1;
    static constexpr uint8_t kPlayingFlag = 2;

    int64_t minute = 0;
    std::string data;

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

    void Append(const SignalSample& sample);
    // Calls `f(SignalSample)` for every report, in stored order.
    template <typename F> void ForEach(F&& f) const { ForEachIn(minute, data, f); }
    template <typename F> static void ForEachIn(int64_t minuteIndex, std::string_view bytes, F&& f)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
        for (size_t i = 0; i + kBytesPerSample <= bytes.size(); i += kBytesPerSample) {
            SignalSample s;
            s.timeMs = minuteIndex * kMsPerMinute + (p[i] | (p[i + 1] << 8));
            s.intensity = p[i + 2];
            s.quality = p[i + 3];
            s.locked = (p[i + 4] & kLockedFlag) != 0;
            s.playing = (p[i + 4] & kPlayingFlag) != 0;
            f(s);
        }
    }
};

} // namespace vireo
