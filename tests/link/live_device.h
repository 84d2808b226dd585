#pragma once

// A device window without widgets, connected to a simulated IRD of its own
// and fully refreshed: the rig of the tests that drive whole commands.

#include "device/device_core.h"
#include "session_harness.h"
#include "sim/simulator.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vireo::test {

struct LiveDevice
{
    // The simulator listens on `address`; the window is captioned
    // "address:name" and writes its log files to `logsFolder` (none by
    // default). `started` tells whether the refresh completed.
    LiveDevice(const std::string& address, const std::string& name, sim::DeviceDatabase db,
               sim::SimulatorOptions options, LinkTiming timing,
               const std::filesystem::path& logsFolder = "no-logs")
        : irb(std::move(db), std::move(options)),
          core(context, view, address + ":" + name, timing, logsFolder)
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        core.LogPane().SetObserver(&pane);
        started = irb.Start(address, 8888) && core.Session().ConnectAndStart() &&
                  WaitUntil([&] { return core.Loaded() && core.Session().CurrentCode() == 0; });
    }
    ~LiveDevice()
    {
        core.Teardown();
        core.LogPane().SetObserver(nullptr);
    }
    LiveDevice(const LiveDevice&) = delete;
    LiveDevice& operator=(const LiveDevice&) = delete;

    // The whole frames the IRD received with `code`, oldest first.
    std::vector<std::vector<uint8_t>> framesOf(uint8_t code) const
    {
        std::vector<std::vector<uint8_t>> out;
        for (auto& f : irb.ReceivedFrames()) {
            if (f[1] == code) {
                out.push_back(f);
            }
        }
        return out;
    }

    sim::Simulator irb;
    SessionContext context;
    RecordingView view;
    RecordingPane pane;
    DeviceCore core;
    bool started = false;
};

} // namespace vireo::test
