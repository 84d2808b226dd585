// Feeds arbitrary bytes to the frame splitter twice: in one piece and cut into
// chunks whose sizes come from the input. Every dispatched frame must be a
// well-formed frame, and the cut must not change which frames come out.
#include "link/crc16.h"
#include "link/frame_splitter.h"
#include "link/request_frame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using vireo::FrameSplitter;

namespace {

using Frames = std::vector<std::vector<uint8_t>>;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void checkFrame(const uint8_t* frame, uint8_t length)
{
    const size_t size = size_t{length} + vireo::kFrameOverhead;
    check(length >= 2);
    check(size <= vireo::kMaxFrameSize);
    check(frame[0] == vireo::kFrameStart);
    check(frame[size - 1] == vireo::kFrameEnd);
    check(frame[2] == length);
    const uint16_t crc = static_cast<uint16_t>(frame[size - 3] | (frame[size - 2] << 8));
    check(vireo::Crc16(frame + 1, length) == crc);
    // Re-encoding the payload gives the same bytes.
    std::vector<uint8_t> again(frame, frame + size);
    vireo::FinishFrame(again.data(), frame[1], length);
    check(std::memcmp(again.data(), frame, size) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const uint8_t chunkSeed = data[0];
    ++data;
    --size;

    Frames whole;
    FrameSplitter one([&](const uint8_t* f, uint8_t length) {
        checkFrame(f, length);
        whole.emplace_back(f, f + length + vireo::kFrameOverhead);
    });
    one.SplitFrames(data, size);

    Frames pieces;
    FrameSplitter cut([&](const uint8_t* f, uint8_t length) {
        checkFrame(f, length);
        pieces.emplace_back(f, f + length + vireo::kFrameOverhead);
    });
    size_t pos = 0;
    uint32_t state = chunkSeed * 2654435761u + 1;
    while (pos < size) {
        state = state * 1103515245u + 12345u;
        const size_t chunk = 1 + (state >> 16) % (chunkSeed % 2 ? 7 : 200);
        const size_t n = chunk < size - pos ? chunk : size - pos;
        cut.SplitFrames(data + pos, n);
        pos += n;
    }
    check(whole == pieces);
    check(one.HasPending() == cut.HasPending());
    return 0;
}
