#include "device/device_core.h"

#include "history/device_recorder.h"

namespace vireo {

namespace {

std::unique_ptr<DatabaseContent> makeContent(LogBuffer& log, DeviceView& view, ProgramTree& tv,
                                             ProgramTree& radio)
{
    return std::make_unique<DatabaseContent>(ContentHost{log, view, tv, radio});
}

} // namespace

DeviceCore::DeviceCore(SessionContext& context, DeviceView& view, std::string caption,
                       LinkTiming timing, std::filesystem::path logsFolder, uint16_t port,
                       std::shared_ptr<DeviceObserver> observer)
    : m_log(std::move(caption), std::move(logsFolder)),
      m_content(makeContent(m_log, view, m_tvTree, m_radioTree)), m_observer(std::move(observer)),
      m_session(context, m_log, view, *m_content, timing, port)
{
    if (auto* recorder = dynamic_cast<DeviceRecorder*>(m_observer.get())) {
        m_logGate = std::make_shared<LogGate>();
        m_logGate->log = &m_log;
        recorder->SetLogSink([gate = m_logGate](const std::string& line) {
            std::lock_guard lock(gate->mutex);
            if (gate->log != nullptr) {
                gate->log->AddLogLine(line);
            }
        });
    }
    if (m_observer) {
        m_session.Observers().Add(m_observer);
    }
    m_content->AttachSession(&m_session);
    m_upgrade = std::make_unique<UpgradeTransfer>(
        m_session, [content = m_content.get()] { return content->DeviceVersion(); });
}

DeviceCore::~DeviceCore()
{
    Teardown();
}

void DeviceCore::Teardown()
{
    m_session.RequestStop();
    m_session.Teardown();
    if (m_observer) {
        m_session.Observers().Remove(m_observer.get());
    }
    if (m_logGate) {
        std::lock_guard lock(m_logGate->mutex);
        m_logGate->log = nullptr;
    }
    m_content->DestroyDatabase();
}

} // namespace vireo
