#pragma once

#include "database/program_tree.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vireo {

// Index value that names no record, in every record.
inline constexpr uint8_t kNoIndex = 0xFF;

// What a list, a query or a display is about.
namespace item_kind {
inline constexpr int Tv = 1;
inline constexpr int Radio = 2;
inline constexpr int Satellites = 3;
inline constexpr int Tps = 4;
inline constexpr int PlayingUnlocked = 5; // playing program, signal not locked or not playing
inline constexpr int PlayingLocked = 6;   // playing program, locked and playing correctly
inline constexpr int System = 7;
inline constexpr int Volume = 8;
inline constexpr int Version = 9;
} // namespace item_kind

// --- reading the IRD's bytes ---

inline uint16_t ReadLe16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
           (uint32_t{bytes[3]} << 24);
}

// Length of the longest prefix of the GBK text `text` that has at most
// `maxBytes` bytes and ends on a character boundary. A lead byte (0x81-0xFE)
// starts a two-byte character; a lead byte with nothing after it is half a
// character and never counts.
size_t GbkFit(std::span<const uint8_t> text, size_t maxBytes);

// A name as the IRD sends it: from the first byte up to its NUL, or up to the
// end of `bytes` when there is none, cut by GbkFit to at most `maxBytes`.
std::string ReadName(std::span<const uint8_t> bytes, size_t maxBytes);

// A field holding kind or type bits in its low three bits carries a PID only
// when it is neither 0 nor 0x1FFF.
inline bool PidPresent(uint16_t field)
{
    return field > 7 && field < 0xFFF8;
}

// --- records ---
//
// Each record keeps its wire bytes exactly as the IRD sent them (requests send
// them back unchanged) and reads its fields from them. Decoders return null
// for a payload too short to hold the record's fixed part; they never read
// past the payload's end.

struct SatelliteRecord
{
    static constexpr size_t kWireSize = 40;
    static constexpr size_t kHeaderSize = 8;
    static constexpr size_t kMaxName = 31; // the name field holds 31 bytes and the NUL

    std::array<uint8_t, kWireSize> wire{};
    TreeNodeId tvNode = kNoTreeNode;
    TreeNodeId radioNode = kNoTreeNode;

    uint8_t Index() const { return wire[0]; }
    uint8_t PreviousIndex() const { return wire[1]; }
    uint8_t NextIndex() const { return wire[2]; }
    void SetPreviousIndex(uint8_t index) { wire[1] = index; }
    void SetNextIndex(uint8_t index) { wire[2] = index; }
    int LnbPower() const { return wire[3] & 0x03; }       // 0 Auto, 1 Close
    int Tone22k() const { return (wire[3] >> 2) & 0x03; } // 0 Close, 1 Open
    bool DiseqcOn() const { return (wire[3] & 0x10) != 0; }
    int DiseqcPort() const { return wire[3] >> 5; } // 0 none, 1-4 Port A-D
    uint16_t HighLo() const { return ReadLe16(&wire[4]); }
    uint16_t LowLo() const { return ReadLe16(&wire[6]); }
    std::string Name() const;        // the IRD's bytes
    std::string DisplayName() const; // Name() as shown (DisplayText)

    // SatelliteInfo: 8 header bytes and the name. Null when under 8 bytes.
    static std::unique_ptr<SatelliteRecord> Decode(std::span<const uint8_t> payload);
};

struct TpRecord
{
    static constexpr size_t kWireSize = 12;
    static constexpr size_t kLabelSize = 32;

    std::array<uint8_t, kWireSize> wire{};
    std::string label; // "%d H %d" / "%d V %d", or "ASI TP" once shown in ASI mode
    TreeNodeId tvNode = kNoTreeNode;
    TreeNodeId radioNode = kNoTreeNode;

    uint8_t Index() const { return wire[0]; }
    uint8_t SatelliteIndex() const { return wire[1]; }
    uint8_t PreviousIndex() const { return wire[2]; }
    uint8_t NextIndex() const { return wire[3]; }
    void SetPreviousIndex(uint8_t index) { wire[2] = index; }
    void SetNextIndex(uint8_t index) { wire[3] = index; }
    uint16_t Frequency() const { return ReadLe16(&wire[4]); }
    uint16_t SymbolRate() const { return ReadLe16(&wire[6]); }
    uint8_t Modulation() const { return wire[8]; }
    uint8_t Pilot() const { return wire[9]; }
    bool Horizontal() const { return wire[10] != 0; }
    uint8_t Fec() const { return wire[11]; }

    void BuildLabel();

    // TpInfo: exactly 12 bytes used. Null when under 12 bytes.
    static std::unique_ptr<TpRecord> Decode(std::span<const uint8_t> payload);
};

struct ProgramRecord
{
    static constexpr size_t kWireSize = 20;
    // "P 001:$ " and 31 bytes fill the 39 of the label; only a name with bytes
    // shown as escapes (DisplayText) makes it longer.
    static constexpr size_t kLabelSize = 40;
    static constexpr size_t kMaxName = 31;

    std::array<uint8_t, kWireSize> wire{};
    std::string name;  // the IRD's bytes
    std::string label; // "P 005:$ News", the name as shown (DisplayText)
    TreeNodeId node = kNoTreeNode;

    uint8_t Index() const { return wire[0]; }
    void SetIndex(uint8_t index) { wire[0] = index; }
    uint8_t LinkNumber() const { return wire[1]; }
    uint8_t NextLink() const { return wire[2]; }
    void SetNextLink(uint8_t link) { wire[2] = link; }
    uint8_t TpIndex() const { return wire[3]; }
    uint16_t PcrPid() const { return ReadLe16(&wire[4]); }
    uint16_t KindAndVideo() const { return ReadLe16(&wire[6]); }
    int Kind() const { return wire[6] & 0x07; } // 1 TV, 2 radio
    uint16_t VideoPid() const { return KindAndVideo() >> 3; }
    uint16_t TeletextPid() const { return ReadLe16(&wire[8]); }
    bool Scrambled() const { return wire[10] != 0; }
    uint8_t ModuleState() const { return wire[11]; } // 0 none, 1 Module Down, 2 Module Up
    // Audio n (0, 1, 2): type in bits 0-2 (1 audio, 4 AC3), PID in bits 3-15.
    uint16_t Audio(int n) const { return ReadLe16(&wire[12 + 2 * n]); }
    uint8_t AudioChoice() const { return wire[18]; }

    // "P", a space, index + 1 in three digits, ":", "$" or a space, a space,
    // the display text of the name.
    void BuildLabel();

    // ProgramInfo and AudioInfo: 20 bytes and the name. Null when under 20 bytes.
    static std::unique_ptr<ProgramRecord> Decode(std::span<const uint8_t> payload);
};

// The playing program: the first 20 bytes of a program record, of which the
// index (0xFF: nothing plays) and the kind are used.
struct PlayingRecord
{
    std::array<uint8_t, 20> wire = MakeNone();

    uint8_t Index() const { return wire[0]; }
    int Kind() const { return wire[6] & 0x07; }

    static std::array<uint8_t, 20> MakeNone()
    {
        std::array<uint8_t, 20> bytes{};
        bytes[0] = kNoIndex;
        return bytes;
    }
};

struct SystemRecord
{
    static constexpr size_t kWireSize = 20;
    // A word from this value on holds a polling interval above 99999.
    static constexpr uint32_t kPollingWordLimit = 204800000;

    std::array<uint8_t, kWireSize> wire{};

    uint32_t Word() const { return ReadLe32(&wire[0]); }
    uint32_t PollingInterval() const;
    bool Reset() const { return (wire[0] & 0x01) != 0; }
    int ScreenRatio() const { return (wire[0] >> 1) & 0x01; }  // 1 4:3, 0 16:9
    int MenuLanguage() const { return (wire[0] >> 2) & 0x03; } // 0 Chinese, 1 English
    int SignalSource() const { return (wire[0] >> 4) & 0x01; } // 0 satellite, 1 ASI
    int OutputType() const { return wire[0] >> 5; }            // 0 1080I@50Hz ... 3 720P@60Hz
    int TsOutput() const { return wire[1] & 0x03; }            // 0 De-Scrambled, 1 Original, 2 Off
    int TsLength() const { return (wire[1] & 0x04) != 0 ? 204 : 188; }
    std::array<uint8_t, 4> Ip() const { return {wire[4], wire[5], wire[6], wire[7]}; }
    std::array<uint8_t, 4> Mask() const { return {wire[8], wire[9], wire[10], wire[11]}; }
    std::array<uint8_t, 6> Mac() const
    {
        return {wire[12], wire[13], wire[14], wire[15], wire[16], wire[17]};
    }
    uint8_t AddressChanged() const { return wire[18]; }
};

struct VolumeState
{
    uint8_t volume = 0; // 0 to 15
    uint8_t mute = 0;   // 0 or 1
};

struct VersionRecord
{
    std::array<uint8_t, 4> bytes{}; // loader major, minor, software major, minor

    // "Loader: V%d.%d\tSoftware: V%d.%d"
    std::string Text() const;
};

} // namespace vireo
