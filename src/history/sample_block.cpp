#include "history/sample_block.h"

#include <algorithm>

namespace vireo {

void SampleBlock::Append(const SignalSample& sample)
{
    const int64_t offset =
        std::clamp<int64_t>(sample.timeMs - minute * kMsPerMinute, 0, kMsPerMinute - 1);
    const int intensity = std::clamp(sample.intensity, 0, 255);
    const int quality = std::clamp(sample.quality, 0, 255);
    const char bytes[kBytesPerSample] = {
        static_cast<char>(offset & 0xFF), static_cast<char>((offset >> 8) & 0xFF),
        static_cast<char>(intensity), static_cast<char>(quality),
        static_cast<char>((sample.locked ? kLockedFlag : 0) | (sample.playing ? kPlayingFlag : 0))};
    data.append(bytes, kBytesPerSample);
    if (count == 0) {
        intensityMin = intensityMax = intensity;
        qualityMin = qualityMax = quality;
    } else {
        intensityMin = std::min(intensityMin, intensity);
        intensityMax = std::max(intensityMax, intensity);
        qualityMin = std::min(qualityMin, quality);
        qualityMax = std::max(qualityMax, quality);
    }
    ++count;
    lockedCount += sample.locked ? 1 : 0;
    intensitySum += intensity;
    qualitySum += quality;
}

} // namespace vireo
