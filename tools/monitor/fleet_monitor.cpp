#include "fleet_monitor.h"

#include "lang/gbk_text.h"

namespace vireo {

FleetMonitor::FleetMonitor(FleetOptions options) : m_options(std::move(options)) {}

FleetMonitor::~FleetMonitor()
{
    Stop();
}

MonitoredDevice* FleetMonitor::Add(const ChosenMachine& machine)
{
    if (Find(machine.address) != nullptr) {
        return nullptr;
    }
    m_devices.push_back(std::make_unique<MonitoredDevice>(m_context, machine, m_options.timing,
                                                          m_options.deviceLogs, m_options.port));
    return m_devices.back().get();
}

MonitoredDevice* FleetMonitor::Find(const std::string& address) const
{
    for (const auto& device : m_devices) {
        if (device->Address() == address) {
            return device.get();
        }
    }
    return nullptr;
}

void FleetMonitor::Start()
{
    for (const auto& device : m_devices) {
        device->Start();
    }
    m_supervisor = std::thread(&FleetMonitor::supervise, this);
}

void FleetMonitor::supervise()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        for (const auto& device : m_devices) {
            for (const std::string& line : device->Tend()) {
                if (m_options.log) {
                    m_options.log(device->Address() + " " + GbkToUtf8(device->Name()) + ": " +
                                  line);
                }
            }
        }
        lock.lock();
        m_wake.wait_for(lock, m_options.tendInterval, [this] { return m_stopping; });
    }
}

void FleetMonitor::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            return;
        }
        m_stopped = true;
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_supervisor.joinable()) {
        m_supervisor.join();
    }
    // Every session is asked to end before any is waited for, so a thousand
    // of them end in about the time of one.
    for (const auto& device : m_devices) {
        device->RequestStop();
    }
    for (const auto& device : m_devices) {
        device->Teardown();
    }
}

std::vector<DeviceSample> FleetMonitor::Samples() const
{
    std::vector<DeviceSample> samples;
    samples.reserve(m_devices.size());
    for (const auto& device : m_devices) {
        samples.push_back(device->Sample());
    }
    return samples;
}

std::optional<DeviceSample> FleetMonitor::Sample(const std::string& address) const
{
    if (MonitoredDevice* device = Find(address)) {
        return device->Sample();
    }
    return std::nullopt;
}

} // namespace vireo
