#include "device/device_core.h"

#include "lang/language_table.h"

#include <thread>

namespace vireo {

namespace {
constexpr int kRowLnbIn = 111;
constexpr int kRowAsiIn = 112;
constexpr int kRowUnknownSource = 197;
} // namespace

DeviceCore::DeviceCore(SessionContext& context, DeviceView& view, std::string caption,
                       LinkTiming timing, std::filesystem::path logsFolder, uint16_t port)
    : m_view(view), m_log(std::move(caption), std::move(logsFolder)),
      m_session(context, m_log, view, *this, timing, port)
{}

DeviceCore::~DeviceCore()
{
    Teardown();
}

void DeviceCore::Teardown()
{
    m_session.RequestStop();
    m_session.Teardown();
    DestroyDatabase();
}

std::shared_ptr<ListManager> DeviceCore::Database() const
{
    std::lock_guard lock(m_databaseMutex);
    return m_database;
}

void DeviceCore::replaceDatabase(bool onlyIfMissing)
{
    std::shared_ptr<ListManager> old;
    {
        std::lock_guard lock(m_databaseMutex);
        if (onlyIfMissing && m_database) {
            return;
        }
        old = std::move(m_database);
        m_database = std::make_shared<ListManager>(*this);
        loaded = false;
    }
    // The old database (and its tree nodes) goes when its last user lets go;
    // usually right here, outside the lock.
    old.reset();
}

void DeviceCore::CreateDatabase()
{
    replaceDatabase(false);
}

void DeviceCore::EnsureDatabase()
{
    replaceDatabase(true);
}

void DeviceCore::DestroyDatabase()
{
    std::shared_ptr<ListManager> old;
    {
        std::lock_guard lock(m_databaseMutex);
        old = std::move(m_database);
        loaded = false;
    }
    old.reset();
}

bool DeviceCore::HasPlayingProgram() const
{
    const std::shared_ptr<ListManager> db = Database();
    return db && db->HasPlayingProgram();
}

void DeviceCore::Dispatch(DeviceSession&, uint8_t currentCode, const uint8_t* frame, uint8_t length)
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db) {
        return;
    }
    m_dispatching = true;
    m_dispatcher.Dispatch(*this, *db, currentCode, frame, length);
    m_dispatching = false;
    // A refresh the reply asked for replaces the database: only now that the
    // reply is done with it.
    if (m_refreshAfterDispatch.exchange(false)) {
        m_session.RefreshIrd();
    }
}

std::string DeviceCore::SignalSourceText() const
{
    switch (signalSource.load()) {
    case kSourceSatellite:
        return GetLangText(kRowLnbIn);
    case kSourceAsi:
        return GetLangText(kRowAsiIn);
    default:
        return GetLangText(kRowUnknownSource);
    }
}

// --- DatabaseHost ---

bool DeviceCore::SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data)
{
    return m_session.SendRequest(code, a, b, data);
}

void DeviceCore::RequestDisconnect()
{
    m_session.RequestDisconnect();
}

bool DeviceCore::IsClosing() const
{
    return m_session.closing;
}

void DeviceCore::Log(std::string_view text)
{
    m_log.AddLogLine(text);
}

void DeviceCore::ShowSignalSource(int value)
{
    if (value == kSourceSatellite || value == kSourceAsi) {
        signalSource = value;
        m_view.ShowSignalSource(value);
    } else {
        signalSource = kSourceUnknown;
    }
}

bool DeviceCore::SignalSourceIsAsi() const
{
    return signalSource == kSourceAsi;
}

void DeviceCore::PostAddressCheck(std::array<uint8_t, 4> address)
{
    m_view.PostAddressCheck(address);
}

void DeviceCore::FlushNeighbourCache()
{
    if (m_flush) {
        m_flush();
    }
}

int DeviceCore::NumberMode() const
{
    return m_session.numberMode;
}

bool DeviceCore::ShouldDisplay(int kind)
{
    if (kind >= 1 && kind <= 6) {
        return active || shownTab == kTabPrograms;
    }
    if (kind == 7 || kind == 8) {
        if (!active && shownTab != kTabSystem) {
            return false;
        }
        systemTabEnabled = true;
        m_view.SetSystemTabEnabled(true);
        return true;
    }
    return false;
}

int DeviceCore::ShowSystemItem(int, bool)
{
    // The system settings page draws these kinds; the selector it holds is
    // usable as soon as the device has reported its settings.
    m_view.SetSignalSourceEnabled(true);
    return 0;
}

void DeviceCore::SetShowRadio()
{
    if (!showRadio.exchange(true)) {
        m_view.ShowRadioTree();
    }
}

void DeviceCore::PlayingChanged()
{
    playingFirstReport = true;
}

void DeviceCore::StartFullRefresh()
{
    if (m_dispatching) {
        m_refreshAfterDispatch = true;
    } else {
        m_session.RefreshIrd();
    }
}

void DeviceCore::PauseFor(long milliseconds)
{
    m_session.PauseFor(milliseconds);
}

} // namespace vireo
