#pragma once

#include "database/database_host.h"
#include "database/list_manager.h"
#include "database/program_tree.h"
#include "device/log_buffer.h"
#include "link/device_session.h"
#include "link/reply_dispatcher.h"
#include "link/session_content.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

// Everything of one device window that is not a widget: the log pane's buffer,
// the two program tree models, the device session with its database and reply
// dispatcher, and the window state the core reads (active, tab, signal source,
// "Show Radio"). The widget window owns one, implements DeviceView and mirrors
// the trees and the log; tools run it with a view of their own.
class DeviceCore : public DatabaseHost, public SessionContent
{
public:
    static constexpr int kSourceSatellite = 0;
    static constexpr int kSourceAsi = 1;
    static constexpr int kSourceUnknown = 9;
    static constexpr int kTabPrograms = 0;
    static constexpr int kTabSystem = 1;

    DeviceCore(SessionContext& context, DeviceView& view, std::string caption,
               LinkTiming timing = {}, std::filesystem::path logsFolder = kLogsFolder,
               uint16_t port = DeviceSession::kIrdPort);
    ~DeviceCore() override;
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    DeviceSession& Session() { return m_session; }
    LogBuffer& LogPane() { return m_log; }
    DeviceView& View() { return m_view; }

    // The database of the running session (null when none). Holding the
    // pointer keeps it alive even if a refresh replaces it meanwhile.
    std::shared_ptr<ListManager> Database() const;
    // The database has completed a full refresh.
    std::atomic<bool> loaded{false};

    // Window state, set by the widget side.
    std::atomic<bool> active{true};
    std::atomic<int> shownTab{kTabPrograms};
    std::atomic<bool> showRadio{false};
    std::atomic<int> signalSource{kSourceUnknown};
    // A program was (re)displayed: the next signal report logs both lines.
    std::atomic<bool> playingFirstReport{false};
    std::atomic<bool> systemTabEnabled{false};

    // The text that names the signal source in log lines ("LNB IN",
    // "ASI IN", or " Unknow" before the device reported it).
    std::string SignalSourceText() const;
    // How this host drops stale address mappings after the device moved;
    // none by default (the desktop program plugs in the platform's way).
    void SetNeighbourCacheFlush(std::function<void()> flush) { m_flush = std::move(flush); }
    // Ends the session and frees the database (the window's teardown).
    void Teardown();

    // SessionContent
    void CreateDatabase() override;
    void EnsureDatabase() override;
    void DestroyDatabase() override;
    bool HasPlayingProgram() const override;
    void Dispatch(DeviceSession& session, uint8_t currentCode, const uint8_t* frame,
                  uint8_t length) override;

    // DatabaseHost
    bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) override;
    void RequestDisconnect() override;
    bool IsClosing() const override;
    void Log(std::string_view text) override;
    void ShowSignalSource(int value) override;
    bool SignalSourceIsAsi() const override;
    void PostAddressCheck(std::array<uint8_t, 4> address) override;
    void FlushNeighbourCache() override;
    int NumberMode() const override;
    bool ShouldDisplay(int kind) override;
    int ShowSystemItem(int kind, bool force) override;
    void SetShowRadio() override;
    void PlayingChanged() override;
    void StartFullRefresh() override;
    void PauseFor(long milliseconds) override;
    ProgramTree& TvTree() override { return m_tvTree; }
    ProgramTree& RadioTree() override { return m_radioTree; }

private:
    void replaceDatabase(bool onlyIfMissing);

    DeviceView& m_view;
    LogBuffer m_log;
    ProgramTree m_tvTree;
    ProgramTree m_radioTree;
    mutable std::mutex m_databaseMutex;
    std::shared_ptr<ListManager> m_database;
    ReplyDispatcher m_dispatcher;
    std::function<void()> m_flush;
    // A full refresh asked for while a reply is being handled runs after it.
    std::atomic<bool> m_refreshAfterDispatch{false};
    std::atomic<bool> m_dispatching{false};
    DeviceSession m_session; // last: it stops before the rest goes
};

} // namespace vireo
