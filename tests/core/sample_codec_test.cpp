#include "history/sample_block.h"
#include "history/sample_codec.h"

#include <gtest/gtest.h>
#include <random>

namespace vireo {
namespace {

constexpr int64_t kMinute = 30'000'000; // a minute index
constexpr int64_t kBase = kMinute * kMsPerMinute;

bool same(const SignalSample& a, const SignalSample& b)
{
    return a.timeMs == b.timeMs && a.locked == b.locked && a.playing == b.playing &&
           a.intensity == b.intensity && a.quality == b.quality;
}

// Every kind of minute comes back exactly as it went in, and a steady
// signal costs about a byte a report or less.
TEST(SampleCodec, MinutesComeBackExactly)
{
    std::mt19937 random(7);
    auto jitter = [&](int spread) {
        return std::uniform_int_distribution<int>(-spread, spread)(random);
    };
    struct Case
    {
        const char* name;
        std::vector<SignalSample> samples;
        double maxBytesPerSample;
    };
    std::vector<Case> cases;
    {
        Case c{"a report a second, a fade and +-2 quality", {}, 0.7};
        for (int s = 0; s < 60; ++s) {
            c.samples.push_back({kBase + s * 1000, true, true, 80 - s / 20, 70 + jitter(2)});
        }
        cases.push_back(c);
    }
    {
        Case c{"polling jitter, a lock lost, a jump and the extremes", {}, 3.0};
        int64_t t = kBase + 37;
        for (int s = 0; s < 60; ++s) {
            t += 1000 + jitter(40);
            const bool locked = s < 20 || s > 30;
            c.samples.push_back({std::min(t, kBase + kMsPerMinute - 1), locked, s % 7 != 0,
                                 locked ? 255 : 0, locked ? 90 + jitter(9) : 0});
        }
        cases.push_back(c);
    }
    {
        Case c{"ten reports a second, and a long silence", {}, 2.0};
        for (int n = 0; n < 300; ++n) {
            c.samples.push_back({kBase + n * 100, true, true, 50, 50 + n % 3});
        }
        c.samples.push_back({kBase + kMsPerMinute - 1, false, false, 1, 2});
        cases.push_back(c);
    }
    cases.push_back({"one report", {{kBase + 59'999, true, false, 3, 4}}, 10.0});
    cases.push_back({"none", {}, 0.0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = SampleCodec::Encode(kMinute, c.samples);
        std::vector<SignalSample> back;
        ASSERT_TRUE(SampleCodec::Decode(kMinute, bytes, back));
        ASSERT_EQ(back.size(), c.samples.size());
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_TRUE(same(back[i], c.samples[i])) << i;
        }
        if (!c.samples.empty()) {
            EXPECT_LE(static_cast<double>(bytes.size()) / c.samples.size(), c.maxBytesPerSample);
        }
        // Cut short: what is there is read, the fault is told.
        if (bytes.size() > 4) {
            back.clear();
            EXPECT_FALSE(SampleCodec::Decode(kMinute, bytes.substr(0, bytes.size() - 3), back));
            EXPECT_LT(back.size(), c.samples.size());
        }
    }
}

// Blocks of the older formats (5 bytes a report; changes report by report)
// read as before, and a block written after one holds its reports and the
// new ones in time order.
TEST(SampleCodec, OlderFormatBlocksReadAndConvertOnWrite)
{
    const std::string changes("\x01\xff\x00\x04\x01\xf4\x3c\x46\xc4\xc6\x46\xdf\x00\xfd\x4b"
                              "\xf7\xff\xfd\x68",
                              19);
    std::vector<SignalSample> older;
    ASSERT_TRUE(SampleCodec::Decode(kMinute, changes, older));
    ASSERT_EQ(older.size(), 4u);
    EXPECT_TRUE(same(older[0], {kBase + 500, true, true, 60, 70}));
    EXPECT_TRUE(same(older[1], {kBase + 1'500, true, true, 60, 71}));
    EXPECT_TRUE(same(older[2], {kBase + 2'600, false, true, 58, 0}));
    EXPECT_TRUE(same(older[3], {kBase + 59'999, true, false, 255, 90}));

    const uint8_t plain[] = {0x10, 0x27, 60, 70, 3,  // 10,000 ms, locked and playing
                             0xE8, 0x03, 61, 71, 0}; // 1,000 ms (arrived late), neither
    const std::string_view stored(reinterpret_cast<const char*>(plain), sizeof plain);
    std::vector<SignalSample> read;
    ASSERT_TRUE(SampleCodec::Decode(kMinute, stored, read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_TRUE(same(read[0], {kBase + 10'000, true, true, 60, 70}));
    EXPECT_TRUE(same(read[1], {kBase + 1'000, false, false, 61, 71}));

    SampleBlock block;
    block.minute = kMinute;
    block.Append({kBase + 5'000, true, false, 62, 72});
    block.Append({kBase - 5, true, false, 300, -4}); // clamped into the minute and 0-255
    std::vector<SignalSample> merged;
    ASSERT_TRUE(SampleCodec::Decode(kMinute, block.Encode(stored), merged));
    std::vector<int64_t> times;
    for (const auto& s : merged) {
        times.push_back(s.timeMs - kBase);
    }
    EXPECT_EQ(times, (std::vector<int64_t>{0, 1'000, 5'000, 10'000}));
    EXPECT_EQ(merged[0].intensity, 255);
    EXPECT_EQ(merged[0].quality, 0);
    EXPECT_EQ(block.intensityMax, 255);
}

} // namespace
} // namespace vireo
