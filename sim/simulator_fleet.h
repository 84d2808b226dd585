#pragma once

#include "sim/simulator.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vireo::sim {

// A run of loopback addresses, "127.0.1.1-127.0.1.200". Addresses ending in
// .0 or .255 are left out: no IRD on a LAN takes a network or broadcast
// address.
struct AddressRange
{
    uint32_t first = 0; // host byte order
    uint32_t last = 0;

    std::vector<std::string> Addresses() const;
};

inline constexpr size_t kMaxFleetAddresses = 8192;

// nullopt with the reason in *error unless both ends are 127.x.y.z, the
// first is not above the last and the run holds 1 to kMaxFleetAddresses
// addresses that are served.
std::optional<AddressRange> ParseAddressRange(const std::string& text, std::string* error);

// 127.0.1.5 -> 0x7F000105; 0 for text that is not an IPv4 address.
uint32_t AddressNumber(const std::string& address);

// Many simulated IRDs in one process: a Simulator per address, each with a
// database of its own, all listening sockets served by one thread that
// polls them together (a connection still has its thread while it lasts).
// Options and faults are the same for every device; each draws its faults
// from a seed of its own, and its log lines start with its address.
//
//     SimulatorFleet fleet(QuietOptions());
//     fleet.Start(*ParseAddressRange("127.0.1.1-127.0.1.200", nullptr), 8888,
//                 [](const std::string&, uint32_t n) { return GenerateDatabase(...); });
class SimulatorFleet
{
public:
    // The database of the device at `address` (its AddressNumber is `number`).
    using DatabaseFor = std::function<DeviceDatabase(const std::string& address, uint32_t number)>;

    explicit SimulatorFleet(SimulatorOptions options = {});
    ~SimulatorFleet();
    SimulatorFleet(const SimulatorFleet&) = delete;
    SimulatorFleet& operator=(const SimulatorFleet&) = delete;

    // Binds every address of `range` on `port` (0: a free port each, see
    // Device(i).Port()). False with the reason in *error when one cannot be
    // bound; then none is left listening.
    bool Start(const AddressRange& range, uint16_t port, const DatabaseFor& databaseFor,
               std::string* error = nullptr);
    void Stop(); // ends every connection and the serving thread within milliseconds
    bool Running() const { return m_running; }

    size_t Size() const { return m_devices.size(); }
    Simulator& Device(size_t i) { return *m_devices[i]; }
    const std::string& Address(size_t i) const { return m_addresses[i]; }

    void SetFaults(const FaultOptions& faults); // every device, from its next request on
    SimulatorStats Stats() const;               // summed over the devices

private:
    void serve();
    void closeDescriptors();

    const SimulatorOptions m_options;
    std::vector<std::unique_ptr<Simulator>> m_devices;
    std::vector<std::string> m_addresses;
    int m_stopFd = -1; // eventfd shared by every device and connection
    int m_reapFd = -1; // eventfd, a connection of some device has finished
    bool m_running = false;
    std::thread m_server;
};

} // namespace vireo::sim
