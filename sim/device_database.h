#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo::sim {

// What a simulated IRD holds. Every list is kept in the device's list order:
// satellites and transponders in the order of their previous/next chains
// (one transponder chain over all satellites), programs by index. Names are
// GBK bytes, as the device stores and sends them.
inline constexpr uint8_t kNone = 0xFF;      // "no index" in every record
inline constexpr size_t kMaxItems = 255;    // indices 0..254
inline constexpr size_t kMaxNameBytes = 31; // a name and its NUL fill a 32-byte field
inline constexpr uint16_t kMaxPid = 0x1FFF; // 13-bit PIDs next to kind/type bits

inline constexpr uint8_t kKindTv = 1;
inline constexpr uint8_t kKindRadio = 2;

struct Satellite
{
    uint8_t index = 0;
    uint8_t prev = kNone;
    uint8_t next = kNone;
    uint8_t flags = 0; // LNB power bits 0-1, 22K bits 2-3, DiSEqC bit 4, port bits 5-7
    uint16_t loHigh = 0;
    uint16_t loLow = 0;
    std::string name;

    bool operator==(const Satellite&) const = default;
};

struct Transponder
{
    uint8_t index = 0;
    uint8_t satellite = 0;
    uint8_t prev = kNone;
    uint8_t next = kNone;
    uint16_t frequency = 0;
    uint16_t symbolRate = 0;
    uint8_t modulation = 0; // 0 QPSK_S2, 1 8PSK_S2, 2 QPSK_S, 3 8PSK_S
    uint8_t pilot = 0;
    uint8_t polarisation = 0; // 0 vertical, anything else horizontal
    uint8_t fec = 0;          // 0xFF = not valid

    bool operator==(const Transponder&) const = default;
};

struct Audio
{
    uint8_t type = 0; // 3 bits: 1 audio, 4 AC3
    uint16_t pid = 0; // 13 bits

    bool operator==(const Audio&) const = default;
};

struct Program
{
    uint8_t index = 0;
    uint8_t link = 0;     // the number other programs' next link names this one by
    uint8_t next = kNone; // link number of the following program
    uint8_t tp = 0;
    uint16_t pcrPid = 0;
    uint16_t videoPid = 0; // 13 bits; the kind fills the low 3 bits on the wire
    uint16_t teletextPid = 0;
    uint8_t scrambled = 0;
    uint8_t module = 0; // 0 none, 1 lower module, 2 upper module
    std::array<Audio, 3> audio{};
    uint8_t audioChoice = 0; // bits 0-3 selected audio, 0xF0 = all audios descrambled
    std::string name;

    bool operator==(const Program&) const = default;
};

struct Playing
{
    uint8_t index = kNone;
    uint8_t kind = 0;

    bool operator==(const Playing&) const = default;
};

struct Volume
{
    uint8_t level = 8; // 0..15
    bool muted = false;

    bool operator==(const Volume&) const = default;
};

struct DeviceDatabase
{
    std::vector<Satellite> satellites;
    std::vector<Transponder> transponders;
    std::vector<Program> tv;
    std::vector<Program> radio;
    Playing playing;
    std::array<uint8_t, 20> system{};
    Volume volume;
    std::array<uint8_t, 4> version{};

    std::vector<Program>& Programs(uint8_t kind) { return kind == kKindTv ? tv : radio; }
    const std::vector<Program>& Programs(uint8_t kind) const
    {
        return kind == kKindTv ? tv : radio;
    }

    bool operator==(const DeviceDatabase&) const = default;
};

// Lookups; nullptr when there is no such record (any kind but TV/radio finds none).
const Satellite* FindSatellite(const DeviceDatabase& db, uint8_t index);
const Transponder* FindTransponder(const DeviceDatabase& db, uint8_t index);
const Program* FindProgram(const DeviceDatabase& db, uint8_t kind, uint8_t index);
Program* FindProgram(DeviceDatabase& db, uint8_t kind, uint8_t index);

// Everything that breaks the device's list rules, one line each; empty when the
// database is consistent: chains match the list order, indices are unique and
// below 0xFF, transponders and programs name existing parents, program indices
// run 0, 1, 2, ... with each next link naming the following program's link
// number, names fit their field, the playing program exists.
std::vector<std::string> CheckDatabase(const DeviceDatabase& db);

// Rewrites the previous/next indices of satellites and transponders and the
// index and next link of programs from the list order. Link numbers stay.
void RelinkDatabase(DeviceDatabase& db);

// Labels the manager derives for its tree: "1234 H 567" for a transponder,
// "P 005:$ News" for a program (index + 1, "$" when scrambled, the name as
// DisplayText shows it).
std::string TransponderLabel(const Transponder& tp);
std::string ProgramLabel(const Program& program);

// Wire forms of the records.
std::array<uint8_t, 40> EncodeSatellite(const Satellite& sat);
std::array<uint8_t, 12> EncodeTransponder(const Transponder& tp);
std::array<uint8_t, 20> EncodeProgram(const Program& program, uint8_t kind);
uint8_t EncodeVolume(const Volume& volume);

// Satellite and transponder records as requests carry them. Names stop at the
// first NUL or at the end of the field.
Satellite DecodeSatellite(const uint8_t* record40);
Transponder DecodeTransponder(const uint8_t* record12);

} // namespace vireo::sim
