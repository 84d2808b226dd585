#pragma once

#include "database/program_tree.h"
#include "device/database_content.h"
#include "link/device_session.h"
#include "log/log_buffer.h"
#include "upgrade/upgrade_transfer.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

// A device window without widgets: log buffer, the two program tree models,
// the database content and the session, wired together. Tools and tests run
// a device through it; the desktop window wires the same parts around its
// widgets.
class DeviceCore
{
public:
    DeviceCore(SessionContext& context, DeviceView& view, std::string caption,
               LinkTiming timing = {}, std::filesystem::path logsFolder = kLogsFolder,
               uint16_t port = DeviceSession::kIrdPort,
               std::shared_ptr<DeviceObserver> observer = nullptr);
    ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    DeviceSession& Session() { return m_session; }
    LogBuffer& LogPane() { return m_log; }
    ProgramTree& TvTree() { return m_tvTree; }
    ProgramTree& RadioTree() { return m_radioTree; }
    DatabaseContent& Content() { return *m_content; }
    std::shared_ptr<ListManager> Database() const { return m_content->Database(); }
    bool Loaded() const { return m_content->DataLoaded(); }
    UpgradeTransfer& Upgrade() { return *m_upgrade; }

    // The observer given at construction (e.g. the device's history
    // recorder), null when none. A DeviceRecorder also gets this device's
    // log for its alarm lines, until Teardown.
    const std::shared_ptr<DeviceObserver>& Observer() const { return m_observer; }

    // Ends the session and frees the database (the window's teardown).
    void Teardown();

private:
    LogBuffer m_log;
    ProgramTree m_tvTree;
    ProgramTree m_radioTree;
    std::unique_ptr<DatabaseContent> m_content;
    std::unique_ptr<UpgradeTransfer> m_upgrade; // its thread belongs to the session
    std::shared_ptr<DeviceObserver> m_observer;
    // The log as the recorder's alarm lines reach it; cut at Teardown, as
    // the recorder may outlive this core.
    struct LogGate
    {
        std::mutex mutex;
        LogBuffer* log = nullptr;
    };
    std::shared_ptr<LogGate> m_logGate;
    DeviceSession m_session; // last: it stops before the rest goes
};

} // namespace vireo
