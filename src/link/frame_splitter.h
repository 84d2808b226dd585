#pragma once

#include "link/request_frame.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace vireo {

// Cuts the byte stream from an IRD into frames. Bytes before a start byte are
// dropped; a start byte that leads to no valid frame (bad length, bad CRC, no
// end byte within 150 bytes) is dropped alone and the search goes on with the
// next byte, so the receiver resynchronises on the next 0x88. A frame cut
// across reads waits in the reassembly buffer for the next read.
//
// Owned by one session thread; not safe for concurrent use.
class FrameSplitter
{
public:
    static constexpr size_t kReceiveBufferSize = 1024;
    static constexpr size_t kReassemblySize = 6144;

    // Called for each valid frame, in stream order, with the frame (kept in the
    // last-frame buffer) and its length byte L; the frame is L + 4 bytes long.
    using Dispatch = std::function<void(const uint8_t* frame, uint8_t length)>;

    explicit FrameSplitter(Dispatch dispatch, const std::atomic<bool>* stopping = nullptr);

    // Consumes a received chunk. `searchStart` is where, counted from the start
    // byte, the search for the end byte begins (1 for a fresh read).
    void SplitFrames(const uint8_t* data, size_t count, size_t searchStart = 1);

    // Forgets any incomplete frame (the session thread is starting anew).
    void Reset();

    // Called when the stream has gone quiet with bytes still waiting: a stray
    // start byte whose length byte looks plausible would otherwise hold every
    // frame behind it until 150 more bytes arrive, which a quiet IRD never
    // sends. If a complete, valid frame starts at a later start byte of the
    // waiting bytes, the bytes before it are dropped and the rest is split as
    // usual. Returns true when something was dropped.
    bool FlushStuck();

    bool HasPending() const { return m_pending; }
    size_t PendingLength() const { return m_pendingLength; }

    bool FrameReady() const { return m_frameReady; }
    const uint8_t* LastFrame() const { return m_lastFrame.data(); }
    uint8_t LastLength() const { return m_lastLength; }
    size_t LastSize() const { return m_lastSize; }

private:
    // Scans data[0..count) and returns how many leading bytes are left over as an
    // incomplete frame starting at `pendingStart` (0 when nothing is left).
    size_t scan(const uint8_t* data, size_t count, size_t searchStart, size_t& pendingStart);
    bool stopping() const;

    Dispatch m_dispatch;
    const std::atomic<bool>* m_stopping;
    std::array<uint8_t, kReassemblySize> m_reassembly{};
    size_t m_pendingLength = 0;
    bool m_pending = false;
    std::array<uint8_t, kMaxFrameSize> m_lastFrame{};
    uint8_t m_lastLength = 0;
    size_t m_lastSize = 0;
    bool m_frameReady = false;
};

} // namespace vireo
