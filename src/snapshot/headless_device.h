#pragma once

#include "device/device_core.h"
#include "link/device_view.h"
#include "log/log_buffer.h"
#include "snapshot/device_read.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

// One IRD driven by the manager's own device session without a window: the
// command-line tools' device. A refresh the device asks for is run by
// whoever waits on it; everything else the link shows is dropped, except
// the last log line, kept for the one-line reason of a failure.
class HeadlessDevice
{
public:
    // `verbose`: every log line of the session to standard error.
    HeadlessDevice(const std::string& address, bool verbose, LinkTiming timing = {});
    ~HeadlessDevice();
    HeadlessDevice(const HeadlessDevice&) = delete;
    HeadlessDevice& operator=(const HeadlessDevice&) = delete;

    // Connects, starts the session and its first full refresh.
    bool Connect();
    // Waits for the first complete database (after Connect).
    DeviceRead::Outcome ReadFirst(std::chrono::steady_clock::time_point deadline,
                                  std::shared_ptr<ListManager>* database);
    // The reader of this device, for a caller that refreshes it again.
    DeviceRead Reader(const std::atomic<bool>* cancel = nullptr);

    DeviceCore& Core() { return m_core; }
    std::string LastLogLine() const;
    // One line saying why `outcome` is not Complete.
    std::string Reason(DeviceRead::Outcome outcome, std::chrono::milliseconds timeLimit) const;

private:
    class View : public NullDeviceView
    {
    public:
        void PostRefresh() override { refreshWanted = true; }
        std::atomic<bool> refreshWanted{false};
    };

    class LastLine : public LogPaneObserver
    {
    public:
        explicit LastLine(bool echo) : m_echo(echo) {}
        void OnLogLineAdded(const std::string& line) override;
        void OnLogCleared() override {}
        std::string Get() const;

    private:
        const bool m_echo;
        mutable std::mutex m_mutex;
        std::string m_last;
    };

    const std::string m_address;
    SessionContext m_context;
    View m_view;
    LastLine m_lastLine;
    DeviceCore m_core;
};

} // namespace vireo
