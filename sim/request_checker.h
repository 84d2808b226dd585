#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vireo::sim {

// Checks what a manager writes on the common-frame link. A manager writes
// each request whole, one after another, so every frame must start where the
// previous one ended, carry a code it sends, the length that code has, a good
// CRC and the end byte. Anything else (a torn or stale frame, stray bytes) is
// counted as a malformed frame and the check goes on at the next start byte;
// one broken frame may count more than once, a well-formed stream never does.
class RequestChecker
{
public:
    // Takes the next bytes received; returns the malformed frames found in them.
    size_t Feed(std::span<const uint8_t> bytes);
    // The peer closed the link: an unfinished frame left over is malformed.
    size_t Finish();

private:
    // Counts one broken frame and drops its start byte.
    void broken(size_t& malformed);

    std::vector<uint8_t> m_pending;
    // The bytes up to the next start byte belong to the broken frame counted.
    bool m_skipping = false;
};

} // namespace vireo::sim
