#pragma once

#include "lang/language_table.h"
#include "link/basic_content.h"
#include "link/device_session.h"
#include "log/log_buffer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vireo::test {

// Records what the session asks of its window.
class RecordingView : public DeviceView
{
public:
    void SetSystemTabEnabled(bool enabled) override { add("systemTab", enabled); }
    void SetSignalSourceEnabled(bool enabled) override { add("signalSource", enabled); }
    void SetSignalGauges(int intensity, int quality, bool showText) override
    {
        add("gauges " + std::to_string(intensity) + " " + std::to_string(quality), showText);
    }
    void SetToolbarLinked(bool linked) override { add("toolbarLinked", linked); }
    void SetToolbarRefreshEnabled(bool enabled) override { add("toolbarRefresh", enabled); }
    void SetMachineState(int code) override { add("machineState " + std::to_string(code), true); }
    void ShowSignal(const SignalDisplay& signal) override
    {
        if (signal.grey) {
            add("signal grey", signal.showText);
        } else if (signal.setValues) {
            add("signal " + std::to_string(signal.intensity) + " " + std::to_string(signal.quality),
                signal.showText);
        } else {
            add("signal unchanged", signal.showText);
        }
    }
    void ShowSystemSettings(const SystemSettings& s) override
    {
        add("settings " + std::to_string(s.tsLength204 ? 204 : 188) + " " +
                std::to_string(s.tsOutput) + " " + std::to_string(s.language) + " " +
                (s.ratio4To3 ? "4:3" : "16:9") + " " + std::to_string(s.outputType) + " " +
                std::to_string(s.polling),
            true);
    }
    void ShowVolume(const VolumeDisplay& v) override
    {
        add("volume " + std::to_string(v.volume) + " rgb " + std::to_string(v.red) + "," +
                std::to_string(v.green) + "," + std::to_string(v.blue) + " row " +
                std::to_string(v.captionRow),
            v.muted);
    }
    void PostRefresh() override { add("postRefresh", true); }
    void PostAddressCheck(std::array<uint8_t, 4> a) override
    {
        add("postAddressCheck " + std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                std::to_string(a[2]) + "." + std::to_string(a[3]),
            true);
    }

    void ShowUpgradeProgress(const UpgradeProgress& p) override
    {
        using Stage = UpgradeProgress::Stage;
        const char* stage = p.stage == Stage::Sending   ? "sending"
                            : p.stage == Stage::Writing ? "writing"
                                                        : "idle";
        add("upgrade " + std::string(stage) + " " + std::to_string(p.blocksSent) + "/" +
                std::to_string(p.blocksTotal) + " " + std::to_string(p.percent),
            true);
    }
    void ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed) override
    {
        add("notice " + text, true);
        dismissed();
    }

    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    bool WaitFor(const std::string& call,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            return std::find(m_calls.begin(), m_calls.end(), call) != m_calls.end();
        });
    }

private:
    void add(const std::string& what, bool value)
    {
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back(what + (value ? " 1" : " 0"));
        }
        m_changed.notify_all();
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_calls;
};

// Keeps every log line's message (the text after the prefix) and lets a test
// wait for lines instead of sleeping.
class RecordingPane : public LogPaneObserver
{
public:
    void OnLogLineAdded(const std::string& line) override
    {
        const size_t cut = line.find("): ");
        {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(cut == std::string::npos ? line : line.substr(cut + 3));
        }
        m_changed.notify_all();
    }
    void OnLogCleared() override {}
    void OnLogTextAppended(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lines.empty()) {
            m_lines.emplace_back();
        }
        m_lines.back() += text;
    }

    bool WaitFor(const std::string& message, int count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return countLocked(message) >= count; });
    }
    int Count(const std::string& message) const
    {
        std::lock_guard lock(m_mutex);
        return countLocked(message);
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    int countLocked(const std::string& message) const
    {
        int n = 0;
        for (const auto& l : m_lines) {
            n += l == message ? 1 : 0;
        }
        return n;
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

// Polls `condition` every 2 ms until it holds or `timeout` passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One device session wired to recording doubles, named by its caption.
struct SessionHarness
{
    explicit SessionHarness(const std::string& caption, LinkTiming timing = {})
        : log(caption, "no-such-logs-folder"), session(context, log, view, content, timing)
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        log.SetObserver(&pane);
    }
    ~SessionHarness()
    {
        session.Teardown();
        log.SetObserver(nullptr);
    }

    SessionContext context;
    LogBuffer log;
    RecordingView view;
    RecordingPane pane;
    BasicContent content;
    DeviceSession session;
};

} // namespace vireo::test
