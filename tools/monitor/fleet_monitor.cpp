#include "fleet_monitor.h"

#include "lang/gbk_text.h"

#include <algorithm>
#include <set>

namespace vireo {

FleetMonitor::FleetMonitor(FleetOptions options)
    : m_options(std::move(options)), m_devices(std::make_shared<const DeviceList>())
{}

FleetMonitor::~FleetMonitor()
{
    Stop();
}

int64_t FleetMonitor::SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

FleetMonitor::DevicePtr FleetMonitor::Add(const ChosenMachine& machine)
{
    std::lock_guard lock(m_listMutex);
    for (const DevicePtr& device : *m_devices) {
        if (device->Address() == machine.address) {
            return nullptr;
        }
    }
    auto device = std::make_shared<MonitoredDevice>(m_context, machine, m_options.timing,
                                                    m_options.deviceLogs, m_options.port);
    if (m_prepare) {
        m_prepare(*device);
    }
    auto list = std::make_shared<DeviceList>(*m_devices);
    list->push_back(device);
    m_devices = std::move(list);
    if (m_running) {
        device->Start();
    }
    return device;
}

bool FleetMonitor::Remove(const std::string& address)
{
    DevicePtr gone;
    {
        std::lock_guard pass(m_passMutex);
        std::lock_guard lock(m_listMutex);
        auto list = std::make_shared<DeviceList>(*m_devices);
        for (auto it = list->begin(); it != list->end(); ++it) {
            if ((*it)->Address() == address) {
                gone = *it;
                list->erase(it);
                break;
            }
        }
        if (!gone) {
            return false;
        }
        m_devices = std::move(list);
    }
    gone->RequestStop();
    gone->Teardown();
    return true;
}

FleetChange FleetMonitor::Sync(const std::vector<ChosenMachine>& machines)
{
    FleetChange change;
    std::set<std::string> wanted;
    for (const ChosenMachine& machine : machines) {
        wanted.insert(machine.address);
    }
    for (const DevicePtr& device : Devices()) {
        if (wanted.count(device->Address()) == 0) {
            change.removed.push_back(device->Address());
        }
    }
    // Asked to stop together, so many removed devices take the time of one.
    std::vector<DevicePtr> stopping;
    {
        std::lock_guard pass(m_passMutex);
        std::lock_guard lock(m_listMutex);
        auto list = std::make_shared<DeviceList>();
        for (const DevicePtr& device : *m_devices) {
            if (wanted.count(device->Address()) != 0) {
                list->push_back(device);
            } else {
                stopping.push_back(device);
            }
        }
        m_devices = std::move(list);
    }
    for (const DevicePtr& device : stopping) {
        device->RequestStop();
    }
    for (const DevicePtr& device : stopping) {
        device->Teardown();
    }
    for (const ChosenMachine& machine : machines) {
        if (Find(machine.address) == nullptr && Add(machine) != nullptr) {
            change.added.push_back(machine.address);
        }
    }
    return change;
}

void FleetMonitor::SetPrepare(std::function<void(MonitoredDevice&)> prepare)
{
    std::lock_guard lock(m_listMutex);
    m_prepare = std::move(prepare);
    if (m_prepare) {
        for (const DevicePtr& device : *m_devices) {
            m_prepare(*device);
        }
    }
}

FleetMonitor::DeviceList FleetMonitor::Devices() const
{
    std::lock_guard lock(m_listMutex);
    return *m_devices;
}

FleetMonitor::DevicePtr FleetMonitor::Find(const std::string& address) const
{
    std::shared_ptr<const DeviceList> list;
    {
        std::lock_guard lock(m_listMutex);
        list = m_devices;
    }
    for (const DevicePtr& device : *list) {
        if (device->Address() == address) {
            return device;
        }
    }
    return nullptr;
}

bool FleetMonitor::EveryDeviceTried() const
{
    std::shared_ptr<const DeviceList> list;
    {
        std::lock_guard lock(m_listMutex);
        list = m_devices;
    }
    for (const DevicePtr& device : *list) {
        if (!device->Tried()) {
            return false;
        }
    }
    return true;
}

void FleetMonitor::Start()
{
    {
        std::lock_guard lock(m_listMutex);
        m_running = true;
        for (const DevicePtr& device : *m_devices) {
            device->Start();
        }
    }
    m_supervisor = std::thread(&FleetMonitor::supervise, this);
}

void FleetMonitor::supervise()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        if (m_options.beforeTend) {
            m_options.beforeTend();
        }
        {
            std::lock_guard pass(m_passMutex);
            for (const DevicePtr& device : Devices()) {
                for (const std::string& line : device->Tend()) {
                    if (m_options.log) {
                        m_options.log(device->Address() + " " + GbkToUtf8(device->Name()) + ": " +
                                      line);
                    }
                }
            }
        }
        m_lastPassMs = SteadyMs();
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
    const DeviceList devices = Devices();
    {
        std::lock_guard lock(m_listMutex);
        m_running = false;
    }
    // Every session is asked to end before any is waited for, so a thousand
    // of them end in about the time of one; thousands are collected by a
    // few threads side by side.
    for (const DevicePtr& device : devices) {
        device->RequestStop();
    }
    constexpr size_t kDevicesPerCollector = 500;
    const size_t collectors = std::min<size_t>(8, devices.size() / kDevicesPerCollector + 1);
    std::vector<std::thread> threads;
    for (size_t c = 1; c < collectors; ++c) {
        threads.emplace_back([&devices, c, collectors] {
            for (size_t i = c; i < devices.size(); i += collectors) {
                devices[i]->Teardown();
            }
        });
    }
    for (size_t i = 0; i < devices.size(); i += collectors) {
        devices[i]->Teardown();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::vector<DeviceSample> FleetMonitor::Samples() const
{
    std::shared_ptr<const DeviceList> list;
    {
        std::lock_guard lock(m_listMutex);
        list = m_devices;
    }
    std::vector<DeviceSample> samples;
    samples.reserve(list->size());
    for (const DevicePtr& device : *list) {
        samples.push_back(device->Sample());
    }
    return samples;
}

std::optional<DeviceSample> FleetMonitor::Sample(const std::string& address) const
{
    if (DevicePtr device = Find(address)) {
        return device->Sample();
    }
    return std::nullopt;
}

} // namespace vireo
