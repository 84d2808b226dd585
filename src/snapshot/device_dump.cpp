#include "snapshot/device_dump.h"

#include "log/address_text.h"
#include "snapshot/headless_device.h"

namespace vireo {

DumpResult RunDeviceDump(const DumpOptions& options)
{
    DumpResult result;
    if (!IsValidIPv4Text(options.address)) {
        result.exitCode = 1;
        result.reason = "not an IPv4 address: " + options.address;
        return result;
    }
    HeadlessDevice device(options.address, options.verbose);
    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    if (!device.Connect()) {
        result.exitCode = 2;
        result.reason = "cannot connect to " + options.address + ": " + device.LastLogLine();
        return result;
    }
    std::shared_ptr<ListManager> db;
    const DeviceRead::Outcome outcome = device.ReadFirst(deadline, &db);
    if (outcome != DeviceRead::Outcome::Complete) {
        result.exitCode = outcome == DeviceRead::Outcome::LinkLost ? 2 : 3;
        result.reason = device.Reason(outcome, options.timeLimit);
        return result;
    }
    result.json = DatabaseJson(*db, SnapshotHeader{options.address, options.name});
    return result;
}

} // namespace vireo
