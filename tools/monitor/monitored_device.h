#pragma once

#include "app/settings_file.h"
#include "device/device_core.h"
#include "device_sample.h"
#include "link/device_observer.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vireo {

// How the monitor runs every device's session.
struct MonitorTiming
{
    LinkTiming link;                               // signal poll and reconnect pauses set
    std::chrono::milliseconds refreshRetry{60000}; // an incomplete refresh is started again
};

// The link timing of a monitored device: the signal polled every
// `pollSeconds`, a lost link tried again forever, at most every 60 s.
LinkTiming MonitorLinkTiming(int pollSeconds,
                             std::chrono::microseconds unit = std::chrono::microseconds{1000});

// One IRD watched by the monitor: a windowless device core whose session
// connects by itself and keeps reconnecting, plus what the monitor publishes
// of it. Tend() is called regularly by one supervising thread; Sample() and
// DatabaseJsonText() from any thread.
class MonitoredDevice
{
public:
    // Per-device log lines go to `logsFolder` (rotated files), or nowhere
    // when that is no folder.
    MonitoredDevice(SessionContext& context, const ChosenMachine& machine,
                    const MonitorTiming& timing, const std::filesystem::path& logsFolder,
                    uint16_t port = DeviceSession::kIrdPort);
    ~MonitoredDevice();
    MonitoredDevice(const MonitoredDevice&) = delete;
    MonitoredDevice& operator=(const MonitoredDevice&) = delete;

    const std::string& Address() const { return m_address; }
    const std::string& Name() const { return m_name; } // GBK, as the settings file has it
    // The machine's group (UTF-8); set before Start, or by a reload.
    void SetGroup(std::string group);
    std::string Group() const;
    // True once the session has tried to connect at least once (whatever came of it).
    bool Tried() const;

    DeviceSession& Session() { return m_core.Session(); }
    // Observers of the device (history, alarms); added before Start().
    DeviceObservers& Observers() { return m_core.Session().Observers(); }
    // Fills in the alarm rules of a sample (none by default).
    using AlarmSource = std::function<void(DeviceSample& sample)>;
    void SetAlarmSource(AlarmSource source);

    // Starts the session: it connects on its own thread and reads the database.
    void Start();
    // One supervising step: runs the refreshes the device asks for or a
    // restored link needs, and returns one line per change worth logging
    // ("up", "link lost"...), empty when none.
    std::vector<std::string> Tend();
    // Asks the session to end without waiting; Teardown() then joins it.
    void RequestStop();
    void Teardown();

    DeviceSample Sample() const;
    // The database in the vireo-dump schema; empty while none has been read.
    std::string DatabaseJsonText();

private:
    class View;
    class SignalKeeper;

    const std::string m_address;
    const std::string m_name;
    const std::string m_nameUtf8; // as every sample carries it
    const MonitorTiming m_timing;
    std::unique_ptr<View> m_view;
    std::shared_ptr<SignalKeeper> m_signal;
    DeviceCore m_core;

    // Supervising thread only.
    using Clock = std::chrono::steady_clock;
    int m_seenRestored = 0;
    bool m_wasUp = false;
    bool m_wasLinked = false;
    bool m_toldUnreachable = false; // the first connect failed, and it was logged
    static constexpr std::chrono::seconds kFirstRestartPause{1};
    Clock::time_point m_restartAt{};
    Clock::duration m_restartPause = kFirstRestartPause;
    Clock::time_point m_refreshStarted{};
    std::weak_ptr<ListManager> m_countedDatabase;

    mutable std::mutex m_mutex; // what Sample() reads beside the session's atomics
    int64_t m_lastRefreshMs = 0;
    bool m_up = false;
    AlarmSource m_alarms;
    std::string m_group;
};

} // namespace vireo
