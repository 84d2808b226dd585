// Throughput of the frame splitter on a long stream of valid, corrupted and
// split frames with garbage between them, fed in socket-sized reads.
#include "link/frame_splitter.h"
#include "link/request_frame.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using namespace vireo;

namespace {

std::vector<uint8_t> makeStream(size_t targetBytes, size_t& validFrames)
{
    std::mt19937 rng(42);
    std::vector<uint8_t> stream;
    stream.reserve(targetBytes + 256);
    validFrames = 0;
    while (stream.size() < targetBytes) {
        const int kind = static_cast<int>(rng() % 10);
        if (kind == 0) { // garbage
            const size_t n = 1 + rng() % 16;
            for (size_t i = 0; i < n; ++i) {
                stream.push_back(static_cast<uint8_t>(rng()));
            }
            continue;
        }
        // Payload sizes of real replies: status, signal, records, programs with names.
        static const size_t sizes[] = {2, 2, 12, 20, 27, 36, 4, 1, 40, 60};
        const size_t payload = sizes[rng() % 10];
        std::vector<uint8_t> frame(payload + kFrameOverhead + 2);
        for (size_t i = 0; i < payload; ++i) {
            frame[3 + i] = static_cast<uint8_t>(rng());
        }
        FinishFrame(frame.data(), static_cast<uint8_t>(0x11 + rng() % 0x50),
                    static_cast<uint8_t>(payload + 2));
        if (kind == 1) { // corrupted
            frame[3 + rng() % (payload + 2)] ^= 0x5A;
        } else {
            ++validFrames;
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

} // namespace

int main()
{
    size_t validFrames = 0;
    const std::vector<uint8_t> stream = makeStream(32u << 20, validFrames);
    std::mt19937 rng(7);
    std::vector<size_t> reads;
    for (size_t pos = 0; pos < stream.size();) {
        const size_t n =
            std::min<size_t>(1 + rng() % FrameSplitter::kReceiveBufferSize, stream.size() - pos);
        reads.push_back(n);
        pos += n;
    }

    double best = 1e30;
    size_t dispatched = 0;
    for (int round = 0; round < 5; ++round) {
        dispatched = 0;
        FrameSplitter splitter([&](const uint8_t*, uint8_t) { ++dispatched; });
        const auto start = std::chrono::steady_clock::now();
        size_t pos = 0;
        for (size_t n : reads) {
            splitter.SplitFrames(stream.data() + pos, n);
            pos += n;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
    }
    std::printf("split_throughput %.1f MB/s\n", stream.size() / best / 1e6);
    std::printf("frames_per_second %.0f frames/s\n", dispatched / best);
    std::fprintf(stderr, "stream %zu bytes, %zu valid frames written, %zu dispatched\n",
                 stream.size(), validFrames, dispatched);
    return 0;
}
