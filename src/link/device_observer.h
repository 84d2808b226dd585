#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vireo {

// What happened to one device, for whoever keeps track of devices beside
// their window (signal history, alarms, the fleet view, the monitor). Every
// call comes from the thread that saw it happen (session thread, UI thread,
// upgrade thread): an observer returns quickly and never blocks on a window.
struct DeviceSignal
{
    int64_t timeMs = 0; // system clock, ms since the epoch
    bool locked = false;
    bool playing = false;
    int intensity = 0; // the device's percentage, 0-100
    int quality = 0;
};

struct DeviceEvent
{
    enum class Kind {
        Connected,       // the link is up and the session started
        ConnectFailed,   // a connect attempt failed (detail: why)
        Disconnected,    // ended on request (operator, restart, upgrade, window)
        LinkLost,        // the device stopped answering or closed the link
        Reconnected,     // the link came back after a loss
        RefreshComplete, // the whole database was read
        RefreshFailed,   // a refresh ended incomplete (detail: why)
        RequestTimeout,  // a request went unanswered (code: request code)
        CommandSent,     // an operator command (code: request code, detail: what)
        // The device's answer to a command in flight (code: status, 0 when it
        // answered with the changed record; request: the command's code;
        // detail: how it went).
        CommandAnswered,
        ScanStarted,
        ScanEnded,
        UpgradeStarted,  // detail: the file or type
        UpgradeEnded,    // code: 0 success, else failure; detail: result text
        VersionReported, // detail: "loader software" as the device reports them
        AddressChanged,  // detail: the new address
        // The device restarted. Code 0: asked for (a reboot, an upgrade); 1:
        // on its own, seen from the link (it closed the link and refused
        // connections before it answered again).
        Restarted,
    };
    Kind kind = Kind::Connected;
    int64_t timeMs = 0;
    int code = 0;
    std::string detail; // GBK, as the device or the log has it
    int request = 0;    // CommandAnswered: the code of the request answered
};

class DeviceObserver
{
public:
    virtual ~DeviceObserver() = default;
    virtual void OnSignal(const DeviceSignal& /*signal*/) {}
    virtual void OnEvent(const DeviceEvent& /*event*/) {}
};

// The observers of one device. Adding and removing may happen on any thread
// while reports are delivered; a removed observer gets no call once Remove
// has returned. An observer may act on the device from its call (send it a
// request, whose report then comes in the middle of the call), but adds or
// removes no observer of the same device from it.
class DeviceObservers
{
public:
    void Add(std::shared_ptr<DeviceObserver> observer)
    {
        std::lock_guard lock(m_mutex);
        m_observers.push_back(std::move(observer));
    }
    void Remove(const DeviceObserver* observer)
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_observers, [observer](const auto& o) { return o.get() == observer; });
    }
    void Signal(DeviceSignal signal)
    {
        if (signal.timeMs == 0) {
            signal.timeMs = NowMs();
        }
        std::lock_guard lock(m_mutex);
        for (const auto& o : m_observers) {
            o->OnSignal(signal);
        }
    }
    void Event(DeviceEvent::Kind kind, int code = 0, std::string detail = {}, int request = 0)
    {
        DeviceEvent event{kind, NowMs(), code, std::move(detail), request};
        std::lock_guard lock(m_mutex);
        for (const auto& o : m_observers) {
            o->OnEvent(event);
        }
    }
    static int64_t NowMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

private:
    // Held while a report is delivered, so Remove waits for a call in
    // progress; taken again by a report made from within that call.
    std::recursive_mutex m_mutex;
    std::vector<std::shared_ptr<DeviceObserver>> m_observers;
};

} // namespace vireo
