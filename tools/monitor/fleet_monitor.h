#pragma once

#include "device_sample.h"
#include "monitored_device.h"

#include <atomic>
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
    // Called by the supervising thread before each pass (tests stall it here).
    std::function<void()> beforeTend;
};

// What a change of the watched set did.
struct FleetChange
{
    std::vector<std::string> added;   // addresses
    std::vector<std::string> removed; // addresses
};

// Every IRD the monitor watches, with the one thread that supervises them.
// The set may change while it runs (a reload): added devices start, removed
// ones stop, the others go on untouched.
class FleetMonitor
{
public:
    using DevicePtr = std::shared_ptr<MonitoredDevice>;
    using DeviceList = std::vector<DevicePtr>;

    explicit FleetMonitor(FleetOptions options);
    ~FleetMonitor();
    FleetMonitor(const FleetMonitor&) = delete;
    FleetMonitor& operator=(const FleetMonitor&) = delete;

    // Adds a device, started at once when the fleet runs. A second machine
    // with an address already watched is refused: one IRD takes one session.
    DevicePtr Add(const ChosenMachine& machine);
    // Stops and drops the device at `address`; false when none is watched.
    bool Remove(const std::string& address);
    // Makes the watched set the machines given (by address): the new ones
    // added, those missing removed, the others kept with their sessions.
    FleetChange Sync(const std::vector<ChosenMachine>& machines);

    // Prepares every device before it starts (its history recorder, its
    // alarms); applied at once to the devices already added.
    void SetPrepare(std::function<void(MonitoredDevice&)> prepare);

    // The devices now, in the order they were added; safe from any thread.
    DeviceList Devices() const;

    void Start();
    // Ends every session (all asked first, then joined) and the supervisor.
    void Stop();

    std::vector<DeviceSample> Samples() const;
    // The sample of the device at `address`, if watched.
    std::optional<DeviceSample> Sample(const std::string& address) const;
    DevicePtr Find(const std::string& address) const;

    // Steady-clock milliseconds when the supervisor last finished a pass
    // over every device; 0 before the first.
    int64_t LastPassMs() const { return m_lastPassMs; }
    // The supervisor's pause between passes.
    std::chrono::milliseconds TendInterval() const { return m_options.tendInterval; }
    // True once every device now watched has tried to connect at least once.
    bool EveryDeviceTried() const;

    static int64_t SteadyMs();

private:
    void supervise();

    FleetOptions m_options;
    SessionContext m_context;

    mutable std::mutex m_listMutex; // m_devices, m_prepare, m_running
    std::shared_ptr<const DeviceList> m_devices;
    std::function<void(MonitoredDevice&)> m_prepare;
    bool m_running = false;

    // Held by the supervisor through a pass, so a device removed is never
    // tended while it is stopped.
    std::mutex m_passMutex;
    std::atomic<int64_t> m_lastPassMs{0};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_stopped = false;
    std::thread m_supervisor;
};

} // namespace vireo
