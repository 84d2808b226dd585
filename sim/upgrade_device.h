#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vireo::sim {

// How the simulated IRD behaves while it is upgraded. Block numbers count
// from 0: "at block k" means instead of (or before) asking for block k.
struct UpgradeFaults
{
    int deviceIdAtBlock = -1;        // answer with a device id once: the manager announces again
    int unknownTypeAtBlock = -1;     // send one frame of an unknown type (99) first
    bool unknownTypeAtHello = false; // answer the first hello with an unknown type (99)
    int closeAtBlock = -1;           // close the connection
    int oversizedAtBlock = -1;       // a frame with a 16385-byte payload instead
    bool splitFrames = false;        // each frame written in two pieces, 2 ms apart
    bool extraBlockRequest = false;  // ask once more after the last block
    uint16_t transferStatus = 0;     // status once the image is complete (0: taken)
    // What the device reports while writing, one frame per acknowledgement:
    // a percentage, or -1 for a frame the manager does not expect (a report).
    std::vector<int> writing = {25, 50, 75, 100};
    int writeStepMs = 0;      // time each report takes
    int blockStepMs = 0;      // time each block request takes
    uint16_t finalStatus = 0; // status when writing ends (0: upgraded)

    bool operator==(const UpgradeFaults&) const = default;
};

// What the device has seen of upgrades, over all connections.
struct UpgradeRecord
{
    int hellos = 0;
    int readies = 0;
    int acknowledgements = 0;                        // progress frames from the manager
    std::vector<std::vector<uint8_t>> announcements; // whole frames, as received
    std::vector<size_t> blockSizes;                  // of the current image
    std::vector<uint8_t> image;                      // the current image, as received
    std::optional<std::array<uint8_t, 4>> installed; // version taken by a finished upgrade
};

// The device side of an upgrade on one connection, without the socket: each
// frame received gives the frames to send back, and whether the device then
// closes the connection (it restarts after an upgrade, or a fault asks so).
class UpgradeDevice
{
public:
    explicit UpgradeDevice(UpgradeFaults faults) : m_faults(std::move(faults)) {}

    struct Step
    {
        std::vector<std::vector<uint8_t>> frames;
        int pauseMs = 0;    // before the frames go out
        bool close = false; // after they went out
        // A finished upgrade installs the announced version (when one was
        // announced) and restarts the device.
        std::optional<std::array<uint8_t, 4>> install;
        bool restarted = false;
    };
    Step Receive(uint16_t type, std::span<const uint8_t> payload, UpgradeRecord& record);
    const UpgradeFaults& Faults() const { return m_faults; }

private:
    void askForBlock(Step& step, const UpgradeRecord& record);

    enum class State { Idle, Announced, Transferred, Writing, Done };
    UpgradeFaults m_faults;
    State m_state = State::Idle;
    size_t m_expected = 0;
    std::array<uint8_t, 4> m_version{};
    bool m_versionAnnounced = false;
    bool m_deviceIdSent = false;
    bool m_unknownSent = false;
    bool m_unknownHelloSent = false;
    bool m_extraAsked = false;
    size_t m_writingStep = 0;
};

} // namespace vireo::sim
