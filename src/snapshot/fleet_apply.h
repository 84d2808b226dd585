#pragma once

#include "link/link_timing.h"
#include "snapshot/apply_runner.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vireo {

class HeadlessDevice;

// The devices one snapshot is applied to, reached one at a time: the
// desktop hands over its windows' sessions, the tools connect headless
// sessions of their own.
class ApplyTargets
{
public:
    virtual ~ApplyTargets() = default;
    virtual size_t Count() const = 0;
    virtual std::string Name(size_t i) const = 0; // UTF-8, for reports
    // Reaches device `i`: its reader and, when already read, its database.
    // nullopt with the reason in *why when the device cannot be reached.
    virtual std::optional<DeviceRead> Open(size_t i, std::shared_ptr<ListManager>* database,
                                           std::string* why) = 0;
    // Device `i` is done with (its connection may go).
    virtual void Close(size_t /*i*/) {}
};

class FleetApplyListener : public ApplyListener
{
public:
    // Device `i` of `count` begins.
    virtual void OnDevice(size_t /*i*/, size_t /*count*/, const std::string& /*name*/) {}
};

struct FleetApplyResult
{
    struct Device
    {
        std::string name;
        ApplyResult result;
        std::string unreachable; // why it could not be reached, if so
        bool Ok() const { return unreachable.empty() && result.matches; }
    };
    std::vector<Device> devices; // those tried, in order
    size_t count = 0;            // those asked for
    bool AllMatch() const { return devices.size() == count && (count == 0 || devices.back().Ok()); }
};

// Applies `wanted` to every target in order, one device at a time, and
// stops at the first device that cannot be reached or does not match the
// snapshot afterwards: the operator looks at that device before the same
// snapshot goes to the rest. `cancel` is checked between devices (and by
// each target's reader within one).
// `options` serves every device, each with its own name as the address of
// its before-state and journal.
FleetApplyResult ApplyToDevices(const Snapshot& wanted, unsigned sections, ApplyTargets& targets,
                                ApplyRunner::Limits limits, FleetApplyListener* listener = nullptr,
                                const std::atomic<bool>* cancel = nullptr,
                                const ApplyRunOptions& options = {});

// Targets reached by headless sessions of their own, one connected at a time.
class HeadlessTargets : public ApplyTargets
{
public:
    HeadlessTargets(std::vector<std::string> addresses, bool verbose,
                    std::chrono::milliseconds readLimit, LinkTiming timing = {});
    ~HeadlessTargets() override;

    size_t Count() const override { return m_addresses.size(); }
    std::string Name(size_t i) const override { return m_addresses[i]; }
    std::optional<DeviceRead> Open(size_t i, std::shared_ptr<ListManager>* database,
                                   std::string* why) override;
    void Close(size_t i) override;

private:
    std::vector<std::string> m_addresses;
    const bool m_verbose;
    const std::chrono::milliseconds m_readLimit;
    const LinkTiming m_timing;
    std::unique_ptr<HeadlessDevice> m_device; // the one connected now
};

} // namespace vireo
