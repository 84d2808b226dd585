#include "snapshot/fleet_apply.h"

#include "log/address_text.h"
#include "snapshot/headless_device.h"

namespace vireo {

FleetApplyResult ApplyToDevices(const Snapshot& wanted, unsigned sections, ApplyTargets& targets,
                                ApplyRunner::Limits limits, FleetApplyListener* listener,
                                const std::atomic<bool>* cancel, const ApplyRunOptions& options)
{
    FleetApplyResult fleet;
    fleet.count = targets.Count();
    for (size_t i = 0; i < fleet.count; ++i) {
        if (cancel != nullptr && cancel->load()) {
            break;
        }
        FleetApplyResult::Device device;
        device.name = targets.Name(i);
        if (listener != nullptr) {
            listener->OnDevice(i, fleet.count, device.name);
        }
        std::shared_ptr<ListManager> database;
        std::optional<DeviceRead> reader = targets.Open(i, &database, &device.unreachable);
        if (reader) {
            if (cancel != nullptr && reader->cancel == nullptr) {
                reader->cancel = cancel;
            }
            ApplyRunOptions own = options;
            own.address = device.name;
            device.result =
                ApplyRunner(*reader, limits).Run(wanted, sections, database, listener, own);
        } else if (device.unreachable.empty()) {
            device.unreachable = "cannot be reached";
        }
        // The database belongs to the device's window or session: let go of
        // it before the target closes them.
        database.reset();
        reader.reset();
        targets.Close(i);
        const bool ok = device.Ok();
        fleet.devices.push_back(std::move(device));
        if (!ok) {
            break;
        }
    }
    return fleet;
}

HeadlessTargets::HeadlessTargets(std::vector<std::string> addresses, bool verbose,
                                 std::chrono::milliseconds readLimit, LinkTiming timing)
    : m_addresses(std::move(addresses)), m_verbose(verbose), m_readLimit(readLimit),
      m_timing(timing)
{}

HeadlessTargets::~HeadlessTargets() = default;

std::optional<DeviceRead> HeadlessTargets::Open(size_t i, std::shared_ptr<ListManager>* database,
                                                std::string* why)
{
    const std::string& address = m_addresses[i];
    if (!IsValidIPv4Text(address)) {
        *why = "not an IPv4 address";
        return std::nullopt;
    }
    m_device = std::make_unique<HeadlessDevice>(address, m_verbose, m_timing);
    if (!m_device->Connect()) {
        *why = "cannot connect: " + m_device->LastLogLine();
        return std::nullopt;
    }
    const DeviceRead::Outcome outcome =
        m_device->ReadFirst(std::chrono::steady_clock::now() + m_readLimit, database);
    if (outcome != DeviceRead::Outcome::Complete) {
        *why = m_device->Reason(outcome, m_readLimit);
        return std::nullopt;
    }
    return m_device->Reader();
}

void HeadlessTargets::Close(size_t)
{
    m_device.reset();
}

} // namespace vireo
