#include "database/records.h"

#include "lang/display_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vireo {

namespace {

bool isGbkLead(uint8_t byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

} // namespace

size_t GbkFit(std::span<const uint8_t> text, size_t maxBytes)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t width = 1;
        if (isGbkLead(text[at])) {
            if (at + 1 >= text.size()) {
                break; // a lead byte without its trail byte
            }
            width = 2;
        }
        if (at + width > maxBytes) {
            break;
        }
        at += width;
    }
    return at;
}

std::string ReadName(std::span<const uint8_t> bytes, size_t maxBytes)
{
    const auto nul = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    const auto text = bytes.first(static_cast<size_t>(nul - bytes.begin()));
    const size_t length = GbkFit(text, maxBytes);
    return std::string(reinterpret_cast<const char*>(text.data()), length);
}

std::string SatelliteRecord::Name() const
{
    return ReadName(std::span(wire).subspan(kHeaderSize), kMaxName);
}

std::string SatelliteRecord::DisplayName() const
{
    return DisplayText(Name());
}

std::unique_ptr<SatelliteRecord> SatelliteRecord::Decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kHeaderSize) {
        return nullptr;
    }
    auto record = std::make_unique<SatelliteRecord>();
    std::memcpy(record->wire.data(), payload.data(), kHeaderSize);
    const std::string name = ReadName(payload.subspan(kHeaderSize), kMaxName);
    std::memcpy(record->wire.data() + kHeaderSize, name.data(), name.size());
    return record;
}

void TpRecord::BuildLabel()
{
    char text[kLabelSize];
    std::snprintf(text, sizeof text, Horizontal() ? "%d H %d" : "%d V %d", int{Frequency()},
                  int{SymbolRate()});
    label = text;
}

std::unique_ptr<TpRecord> TpRecord::Decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kWireSize) {
        return nullptr;
    }
    auto record = std::make_unique<TpRecord>();
    std::memcpy(record->wire.data(), payload.data(), kWireSize);
    record->BuildLabel();
    return record;
}

void ProgramRecord::BuildLabel()
{
    char head[16];
    std::snprintf(head, sizeof head, "P %03d:%c ", int{Index()} + 1, Scrambled() ? '$' : ' ');
    label = head;
    label += DisplayText(name);
}

std::unique_ptr<ProgramRecord> ProgramRecord::Decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kWireSize) {
        return nullptr;
    }
    auto record = std::make_unique<ProgramRecord>();
    std::memcpy(record->wire.data(), payload.data(), kWireSize);
    record->name = ReadName(payload.subspan(kWireSize), kMaxName);
    record->BuildLabel();
    return record;
}

uint32_t SystemRecord::PollingInterval() const
{
    const uint32_t word = Word();
    return word >= kPollingWordLimit ? 0 : word >> 11;
}

std::string VersionRecord::Text() const
{
    char text[64];
    std::snprintf(text, sizeof text, "Loader: V%d.%d\tSoftware: V%d.%d", int{bytes[0]},
                  int{bytes[1]}, int{bytes[2]}, int{bytes[3]});
    return text;
}

} // namespace vireo
