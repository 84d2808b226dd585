#include "sim/request_checker.h"

#include "link/crc16.h"
#include "link/request_frame.h"

#include <algorithm>

namespace vireo::sim {

void RequestChecker::broken(size_t& malformed)
{
    ++malformed;
    m_skipping = true;
    m_pending.erase(m_pending.begin());
}

size_t RequestChecker::Feed(std::span<const uint8_t> bytes)
{
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    size_t malformed = 0;
    while (!m_pending.empty()) {
        if (m_pending[0] != kFrameStart) {
            if (!m_skipping) {
                ++malformed; // stray bytes where a frame should start
                m_skipping = true;
            }
            const auto next = std::find(m_pending.begin(), m_pending.end(), kFrameStart);
            m_pending.erase(m_pending.begin(), next);
            continue;
        }
        m_skipping = false;
        if (m_pending.size() < 3) {
            break; // code and length still to come
        }
        const std::optional<size_t> payload = RequestPayloadLength(m_pending[1]);
        const size_t length = m_pending[2];
        if (!payload || length != *payload + 2) {
            broken(malformed);
            continue;
        }
        const size_t size = length + kFrameOverhead;
        if (m_pending.size() < size) {
            break;
        }
        const uint16_t crc =
            static_cast<uint16_t>(m_pending[size - 3] | (m_pending[size - 2] << 8));
        if (m_pending[size - 1] != kFrameEnd || !CheckCrc(m_pending.data() + 1, length, crc)) {
            broken(malformed);
            continue;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(size));
    }
    return malformed;
}

size_t RequestChecker::Finish()
{
    const bool unfinished = !m_pending.empty();
    m_pending.clear();
    m_skipping = false;
    return unfinished ? 1 : 0;
}

} // namespace vireo::sim
