#pragma once

#include "device_sample.h"
#include "monitored_device.h"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vireo {

struct FleetOptions
{
    MonitorTiming timing;
    std::filesystem::path deviceLogs; // per-device rotated log files; none when empty
    uint16_t port = DeviceSession::kIrdPort;
    std::chrono::milliseconds tendInterval{250};
    // Receives one line per event (a device up, its link lost...), from the
    // supervising thread.
    std::function<void(const std::string&)> log;
};

// Every IRD the monitor watches, with the one thread that supervises them.
class FleetMonitor
{
public:
    explicit FleetMonitor(FleetOptions options);
    ~FleetMonitor();
    FleetMonitor(const FleetMonitor&) = delete;
    FleetMonitor& operator=(const FleetMonitor&) = delete;

    // Adds a device (before Start). A second machine with an address already
    // watched is refused: one IRD takes one session.
    MonitoredDevice* Add(const ChosenMachine& machine);
    const std::vector<std::unique_ptr<MonitoredDevice>>& Devices() const { return m_devices; }

    void Start();
    // Ends every session (all asked first, then joined) and the supervisor.
    void Stop();

    std::vector<DeviceSample> Samples() const;
    // The sample of the device at `address`, if watched.
    std::optional<DeviceSample> Sample(const std::string& address) const;
    MonitoredDevice* Find(const std::string& address) const;

private:
    void supervise();

    FleetOptions m_options;
    SessionContext m_context;
    std::vector<std::unique_ptr<MonitoredDevice>> m_devices;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_stopped = false;
    std::thread m_supervisor;
};

} // namespace vireo
