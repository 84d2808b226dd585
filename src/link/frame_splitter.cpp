#include "link/frame_splitter.h"

#include "link/crc16.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vireo {

FrameSplitter::FrameSplitter(Dispatch dispatch, const std::atomic<bool>* stopping)
    : m_dispatch(std::move(dispatch)), m_stopping(stopping)
{}

bool FrameSplitter::stopping() const
{
    return m_stopping != nullptr && m_stopping->load(std::memory_order_relaxed);
}

void FrameSplitter::Reset()
{
    m_reassembly.fill(0);
    m_pendingLength = 0;
    m_pending = false;
}

bool FrameSplitter::FlushStuck()
{
    if (!m_pending || m_pendingLength < 2) {
        return false;
    }
    const uint8_t* data = m_reassembly.data();
    const size_t count = m_pendingLength;
    for (size_t j = 1; j < count; ++j) {
        if (data[j] != kFrameStart || j + 2 >= count) {
            continue;
        }
        const size_t length = data[j + 2];
        const size_t end = j + length + 3;
        if (length < 2 || end >= count || data[end] != kFrameEnd) {
            continue;
        }
        const uint16_t crc = static_cast<uint16_t>(data[end - 2] | (data[end - 1] << 8));
        if (!CheckCrc(data + j + 1, length, crc)) {
            continue;
        }
        // A whole frame waits behind a start byte that began none: drop what
        // comes before it and split the rest.
        std::vector<uint8_t> rest(data + j, data + count);
        m_pending = false;
        m_pendingLength = 0;
        SplitFrames(rest.data(), rest.size());
        return true;
    }
    return false;
}

void FrameSplitter::SplitFrames(const uint8_t* data, size_t count, size_t searchStart)
{
    while (count > 0) {
        if (stopping()) {
            return;
        }
        if (!m_pending) {
            size_t pendingStart = 0;
            const size_t left = scan(data, count, searchStart, pendingStart);
            if (left > 0) {
                std::memmove(m_reassembly.data(), data + pendingStart, left);
                m_pendingLength = left;
                m_pending = true;
            }
            return;
        }
        // An incomplete frame waits: append as much of the chunk as the
        // reassembly buffer holds and scan the joined bytes. A pending frame is
        // never longer than 149 bytes, so every pass makes progress.
        const size_t take = std::min(count, m_reassembly.size() - m_pendingLength);
        std::memcpy(m_reassembly.data() + m_pendingLength, data, take);
        const size_t joined = m_pendingLength + take;
        m_pending = false;
        m_pendingLength = 0;
        data += take;
        count -= take;
        searchStart = 1;

        size_t pendingStart = 0;
        const size_t left = scan(m_reassembly.data(), joined, 1, pendingStart);
        if (left > 0) {
            std::memmove(m_reassembly.data(), m_reassembly.data() + pendingStart, left);
            m_pendingLength = left;
            m_pending = true;
        }
    }
}

size_t FrameSplitter::scan(const uint8_t* data, size_t count, size_t searchStart,
                           size_t& pendingStart)
{
    size_t pos = 0; // first byte not yet consumed
    size_t k = searchStart;
    while (pos < count) {
        if (stopping()) {
            return 0;
        }
        const uint8_t* startByte =
            static_cast<const uint8_t*>(std::memchr(data + pos, kFrameStart, count - pos));
        if (startByte == nullptr) {
            return 0; // no start byte: the rest is dropped
        }
        const size_t i = static_cast<size_t>(startByte - data);
        const size_t window = std::min(count - i, kMaxFrameSize);
        if (i + 2 < count && data[i + 2] > kMaxFrameSize - kFrameOverhead) {
            // The length byte announces a frame longer than any accepted: this
            // start byte can never begin a frame, so give it up now rather than
            // after 150 more bytes.
            pos = i + 1;
            k = 1;
            continue;
        }

        size_t e = 0;
        bool found = false;
        for (size_t j = i + k; j < i + window; ++j) {
            if (data[j] == kFrameEnd) {
                e = j;
                found = true;
                break;
            }
        }
        if (!found) {
            if (window == kMaxFrameSize) {
                pos = i + 1; // 150 bytes without an end byte: give up this start byte
                k = 1;
                continue;
            }
            pendingStart = i; // the data ran out first: wait for the next read
            return window;
        }

        // m is what the length byte should hold if this 0x99 ends the frame.
        const long m = static_cast<long>(e - i) - 3;
        if (m < 0 || m < data[i + 2]) {
            // The 0x99 lies inside the frame: look for the next one.
            k = e - i + 1;
            pos = i;
            continue;
        }
        if (m > data[i + 2] || m < 2) {
            // Wrong length, or a length too short to hold the code and itself.
            pos = i + 1;
            k = 1;
            continue;
        }
        const uint16_t received = static_cast<uint16_t>(data[e - 2] | (data[e - 1] << 8));
        if (!CheckCrc(data + i + 1, static_cast<size_t>(m), received)) {
            pos = i + 1;
            k = 1;
            continue;
        }
        const size_t frameSize = static_cast<size_t>(m) + kFrameOverhead;
        std::memcpy(m_lastFrame.data(), data + i, frameSize);
        m_lastLength = static_cast<uint8_t>(m);
        m_lastSize = frameSize;
        m_frameReady = true;
        if (m_dispatch) {
            m_dispatch(m_lastFrame.data(), m_lastLength);
        }
        pos = e + 1;
        k = 1;
    }
    return 0;
}

} // namespace vireo
