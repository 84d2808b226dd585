#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vireo {

// Common frame: 0x88, code, L, payload (L - 2 bytes), CRC low, CRC high, 0x99.
// L counts the code byte, the length byte and the payload; the CRC covers the
// L bytes from the code on.
inline constexpr uint8_t kFrameStart = 0x88;
inline constexpr uint8_t kFrameEnd = 0x99;
inline constexpr size_t kFrameOverhead = 4;  // start, CRC (2), end
inline constexpr size_t kMaxFrameSize = 150; // largest frame a receiver accepts
inline constexpr size_t kMaxRequestSize =
    46; // largest request the manager builds (40-byte payload)

struct RequestFrame
{
    std::array<uint8_t, kMaxRequestSize> bytes{};
    uint8_t length = 0; // L

    size_t size() const { return size_t{length} + kFrameOverhead; }
    std::span<const uint8_t> view() const { return {bytes.data(), size()}; }
};

// Payload length of a request code, or nullopt for a code the manager never sends.
std::optional<size_t> RequestPayloadLength(uint8_t code);

// Builds the request frame for `code` with the two small arguments and the
// caller's record. Returns nullopt when the request is not sendable: an
// unknown code, a SelectAudio whose rewritten byte 18 is not a valid choice,
// or a code that copies a caller record while `data` is missing or shorter
// than that record.
std::optional<RequestFrame> ComposeRequest(uint8_t code, int a = 0, int b = 0,
                                           std::span<const uint8_t> data = {});

// Writes start byte, code, L, CRC and end byte around a payload already placed
// at offset 3 of `frame` (L = payload length + 2).
void FinishFrame(uint8_t* frame, uint8_t code, uint8_t length);

} // namespace vireo
