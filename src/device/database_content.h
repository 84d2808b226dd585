#pragma once

#include "database/database_host.h"
#include "database/list_manager.h"
#include "device/device_content.h"
#include "device/log_buffer.h"
#include "link/reply_dispatcher.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

class DeviceSession;

// The device database of one device window with the reply dispatcher that
// fills it: what a window plugs into its session. It shows records in the
// window's two tree models, logs to its log pane and speaks to the window
// through DeviceView; the window tells it which tab it shows.
class DatabaseContent : public DeviceContent, public DatabaseHost
{
public:
    static constexpr int kSourceSatellite = 0;
    static constexpr int kSourceAsi = 1;
    static constexpr int kSourceUnknown = 9;
    static constexpr int kTabPrograms = 0;
    static constexpr int kTabSystem = 1;

    explicit DatabaseContent(const ContentHost& host);
    ~DatabaseContent() override;
    DatabaseContent(const DatabaseContent&) = delete;
    DatabaseContent& operator=(const DatabaseContent&) = delete;

    DeviceSession& Session() { return *m_session; }
    DeviceView& View() { return m_view; }

    // The database of the running session (null when none). Holding the
    // pointer keeps it alive even if a refresh replaces it meanwhile.
    std::shared_ptr<ListManager> Database() const;
    // Full refreshes in a row that ended without the device's settings.
    std::atomic<int> failedRefreshes{0};

    // Window state (set through DeviceContent by the window, or directly).
    std::atomic<bool> active{true};
    std::atomic<int> shownTab{kTabPrograms};
    std::atomic<bool> showRadio{false};
    std::atomic<int> signalSource{kSourceUnknown};
    // A program was (re)displayed: the next signal report logs both lines.
    std::atomic<bool> playingFirstReport{false};

    // The text that names the signal source in log lines ("LNB IN",
    // "ASI IN", or " Unknow" before the device reported it).
    std::string SignalSourceText() const;
    // How this host forgets its cached link-layer address of one IPv4
    // address (host byte order). After the device has taken a new address,
    // both its old and its new one are forgotten. None by default; the
    // desktop program's windows (DatabaseContentFactory) use the platform's.
    using NeighbourFlush = std::function<void(uint32_t address)>;
    void SetNeighbourCacheFlush(NeighbourFlush flush) { m_flush = std::move(flush); }

    // DeviceContent
    void AttachSession(DeviceSession* session) override { m_session = session; }
    void SetWindowState(bool isActive, int tab) override;
    void SetShowRadio(bool shown) override { showRadio = shown; }
    // The current database has completed a full refresh.
    bool DataLoaded() const override;
    std::optional<SystemRecordBytes> SystemRecord() const override;
    std::optional<std::array<uint8_t, 4>> DeviceVersion() const override;
    void ProgramsTabShown() override;
    void SystemTabShown() override;
    int ApplySystemSettings(const SystemSettings& page) override;
    int ChangeSignalSource(int source) override;
    int FactoryReset() override;
    int SendVolumeCommand(int action) override;
    void RedisplaySystemSettings() override;

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
    // A line for the log pane without the caption-and-time prefix.
    void LogRaw(std::string_view text) { m_log.AddRawLine(text); }
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
    void redisplay(std::initializer_list<int> kinds);
    int showSystemSettings(ListManager& db, bool force);
    int showVolume(ListManager& db, bool force);
    int systemRequest(bool reset, int choice, const SystemSettings& page);

    LogBuffer& m_log;
    DeviceView& m_view;
    ProgramTree& m_tvTree;
    ProgramTree& m_radioTree;
    DeviceSession* m_session = nullptr;
    mutable std::mutex m_databaseMutex;
    std::shared_ptr<ListManager> m_database;
    ReplyDispatcher m_dispatcher;
    NeighbourFlush m_flush;
    // A full refresh asked for while a reply is being handled runs after it.
    std::atomic<bool> m_refreshAfterDispatch{false};
    std::atomic<bool> m_dispatching{false};
};

// The factory a device window uses to plug the database into its session;
// its contents forget stale neighbour mappings the platform's way.
ContentFactory DatabaseContentFactory();

} // namespace vireo
