#include "history/sample_block.h"

#include <algorithm>

namespace vireo {

void SampleBlock::Append(const SignalSample& sample)
{
    SignalSample s = sample;
    s.timeMs = std::clamp<int64_t>(sample.timeMs, minute * kMsPerMinute,
                                   minute * kMsPerMinute + kMsPerMinute - 1);
    s.intensity = std::clamp(sample.intensity, 0, 255);
    s.quality = std::clamp(sample.quality, 0, 255);
    samples.push_back(s);
    if (count == 0) {
        intensityMin = intensityMax = s.intensity;
        qualityMin = qualityMax = s.quality;
    } else {
        intensityMin = std::min(intensityMin, s.intensity);
        intensityMax = std::max(intensityMax, s.intensity);
        qualityMin = std::min(qualityMin, s.quality);
        qualityMax = std::max(qualityMax, s.quality);
    }
    ++count;
    lockedCount += s.locked ? 1 : 0;
    intensitySum += s.intensity;
    qualitySum += s.quality;
}

std::string SampleBlock::Encode(std::string_view stored) const
{
    const auto earlier = [](const SignalSample& a, const SignalSample& b) {
        return a.timeMs < b.timeMs;
    };
    if (stored.empty() && std::is_sorted(samples.begin(), samples.end(), earlier)) {
        return SampleCodec::Encode(minute, samples); // the usual minute: nothing to merge
    }
    std::vector<SignalSample> all;
    if (!stored.empty()) {
        SampleCodec::Decode(minute, stored, all);
    }
    all.insert(all.end(), samples.begin(), samples.end());
    // Blocks of the first format kept arrival order; every report goes in
    // its place, those of the same time in the order they came.
    std::stable_sort(all.begin(), all.end(), earlier);
    return SampleCodec::Encode(minute, all);
}

} // namespace vireo
