#include "device/database_content.h"

#include "database/system_settings.h"
#include "lang/language_table.h"
#include "link/device_session.h"
#include "link/neighbour_cache.h"

#include <thread>

namespace vireo {

namespace {
constexpr int kRowLnbIn = 111;
constexpr int kRowAsiIn = 112;
constexpr int kRowUnknownSource = 197;
} // namespace

DatabaseContent::DatabaseContent(const ContentHost& host)
    : m_log(host.log), m_view(host.view), m_tvTree(host.tvTree), m_radioTree(host.radioTree)
{}

DatabaseContent::~DatabaseContent()
{
    DestroyDatabase();
}

std::shared_ptr<ListManager> DatabaseContent::Database() const
{
    std::lock_guard lock(m_databaseMutex);
    return m_database;
}

void DatabaseContent::replaceDatabase(bool onlyIfMissing)
{
    std::shared_ptr<ListManager> old;
    {
        std::lock_guard lock(m_databaseMutex);
        if (onlyIfMissing && m_database) {
            return;
        }
        old = std::move(m_database);
        m_database = std::make_shared<ListManager>(*this);
    }
    // The old database (and its tree nodes) goes when its last user lets go;
    // usually right here, outside the lock.
    old.reset();
}

void DatabaseContent::CreateDatabase()
{
    replaceDatabase(false);
}

void DatabaseContent::EnsureDatabase()
{
    replaceDatabase(true);
}

void DatabaseContent::DestroyDatabase()
{
    std::shared_ptr<ListManager> old;
    {
        std::lock_guard lock(m_databaseMutex);
        old = std::move(m_database);
    }
    old.reset();
}

bool DatabaseContent::DataLoaded() const
{
    const std::shared_ptr<ListManager> db = Database();
    return db && db->Loaded();
}

bool DatabaseContent::HasPlayingProgram() const
{
    const std::shared_ptr<ListManager> db = Database();
    return db && db->HasPlayingProgram();
}

void DatabaseContent::Dispatch(DeviceSession& /*session*/, uint8_t currentCode,
                               const uint8_t* frame, uint8_t length)
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
        m_session->RefreshIrd();
    }
}

std::string DatabaseContent::SignalSourceText() const
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

bool DatabaseContent::SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data)
{
    return m_session != nullptr && m_session->SendRequest(code, a, b, data);
}

void DatabaseContent::RequestDisconnect()
{
    if (m_session != nullptr) {
        m_session->RequestDisconnect();
    }
}

bool DatabaseContent::IsClosing() const
{
    return m_session != nullptr && m_session->closing;
}

void DatabaseContent::Log(std::string_view text)
{
    m_log.AddLogLine(text);
}

void DatabaseContent::ShowSignalSource(int value)
{
    if (value == kSourceSatellite || value == kSourceAsi) {
        signalSource = value;
        m_view.ShowSignalSource(value);
    } else {
        signalSource = kSourceUnknown;
    }
}

bool DatabaseContent::SignalSourceIsAsi() const
{
    return signalSource == kSourceAsi;
}

void DatabaseContent::PostAddressCheck(std::array<uint8_t, 4> address)
{
    m_view.PostAddressCheck(address);
}

void DatabaseContent::FlushNeighbourCache()
{
    if (!m_flush) {
        return;
    }
    // The address the window connects to, and the one the device reports.
    if (m_session != nullptr && m_session->TargetAddress() != 0) {
        m_flush(m_session->TargetAddress());
    }
    const std::shared_ptr<ListManager> db = Database();
    const std::optional<vireo::SystemRecord> record = db ? db->System() : std::nullopt;
    if (record) {
        const std::array<uint8_t, 4> ip = record->Ip();
        m_flush(uint32_t{ip[0]} << 24 | uint32_t{ip[1]} << 16 | uint32_t{ip[2]} << 8 | ip[3]);
    }
}

int DatabaseContent::NumberMode() const
{
    return m_session != nullptr ? m_session->numberMode.load() : 2;
}

bool DatabaseContent::ShouldDisplay(int kind)
{
    if (kind >= 1 && kind <= 6) {
        return active || shownTab == kTabPrograms;
    }
    if (kind == 7 || kind == 8) {
        if (!active && shownTab != kTabSystem) {
            return false;
        }
        m_view.SetSystemTabEnabled(true);
        return true;
    }
    return false;
}

int DatabaseContent::ShowSystemItem(int kind, bool force)
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db) {
        return db_result::NoDatabase;
    }
    if (kind == item_kind::System) {
        return showSystemSettings(*db, force);
    }
    if (kind == item_kind::Volume) {
        return showVolume(*db, force);
    }
    return db_result::Inconsistent;
}

int DatabaseContent::showSystemSettings(ListManager& db, bool force)
{
    // Posted under the lock: a display from the UI thread and one from the
    // session thread reach the page in the order the record changed.
    std::lock_guard lock(db.SystemLock());
    const std::optional<vireo::SystemRecord> record = db.System();
    if (!record) {
        return db_result::NotHeld;
    }
    if (!force && !db.IsChanged(item_kind::System) && db.IsShown(item_kind::System)) {
        return db_result::UpToDate;
    }
    m_view.SetSignalSourceEnabled(true);
    m_view.ShowSystemSettings(ReadSystemSettings(*record));
    db.SetShown(item_kind::System, true);
    return db_result::Ok;
}

int DatabaseContent::showVolume(ListManager& db, bool force)
{
    std::optional<VolumeState> volume;
    {
        std::lock_guard lock(db.VolumeLock());
        volume = db.Volume();
        if (!volume) {
            return db_result::NotHeld;
        }
        if (!force && !db.IsChanged(item_kind::Volume) && db.IsShown(item_kind::Volume)) {
            return db_result::UpToDate;
        }
        m_view.ShowVolume(MakeVolumeDisplay(*volume));
        db.SetShown(item_kind::Volume, true);
    }
    Log(VolumeLogText(*volume));
    return db_result::Ok;
}

void DatabaseContent::SetShowRadio()
{
    if (!showRadio.exchange(true)) {
        m_view.ShowRadioTree();
    }
}

void DatabaseContent::PlayingChanged()
{
    playingFirstReport = true;
}

void DatabaseContent::StartFullRefresh()
{
    if (m_dispatching) {
        m_refreshAfterDispatch = true;
    } else if (m_session != nullptr) {
        m_session->RefreshIrd();
    }
}

void DatabaseContent::PauseFor(long milliseconds)
{
    if (m_session != nullptr) {
        m_session->PauseFor(milliseconds);
    }
}

void DatabaseContent::SetWindowState(bool isActive, int tab)
{
    const bool wasActive = active.exchange(isActive);
    const bool activated = isActive && !wasActive;
    shownTab = tab;
    // The settings arrived while another window was active: their tab could
    // not be enabled then, and a disabled tab can never be shown. Enable it
    // now that this window is the active one.
    if (activated) {
        const std::shared_ptr<ListManager> db = Database();
        if (db && db->IsComplete(item_kind::System) && m_session != nullptr && !m_session->stop) {
            m_view.SetSystemTabEnabled(true);
            m_view.SetSignalSourceEnabled(true);
        }
    }
}

std::optional<std::array<uint8_t, 4>> DatabaseContent::DeviceVersion() const
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db) {
        return std::nullopt;
    }
    const std::optional<VersionRecord> version = db->Version();
    if (!version) {
        return std::nullopt;
    }
    return version->bytes;
}

std::optional<SystemRecordBytes> DatabaseContent::SystemRecord() const
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db) {
        return std::nullopt;
    }
    const std::optional<vireo::SystemRecord> record = db->System();
    if (!record) {
        return std::nullopt;
    }
    return record->wire;
}

void DatabaseContent::redisplay(std::initializer_list<int> kinds)
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db || m_session == nullptr || m_session->stop) {
        return;
    }
    for (int kind : kinds) {
        DisplayProgramEntry(*this, db.get(), kind == 0 ? db->PlayingDisplayCode() : kind, false);
    }
}

void DatabaseContent::ProgramsTabShown()
{
    // Satellites, transponders, TV and radio programs, then the playing mark.
    redisplay({item_kind::Satellites, item_kind::Tps, item_kind::Tv, item_kind::Radio, 0});
}

void DatabaseContent::SystemTabShown()
{
    redisplay({item_kind::System, item_kind::Volume});
}

// --- the system settings page's commands ---

int DatabaseContent::systemRequest(bool reset, int choice, const SystemSettings& page)
{
    const std::shared_ptr<ListManager> db = Database();
    if (!db) {
        return system_result::NoRecord;
    }
    return SendSystemRequest(*db, *this, reset, choice, page);
}

int DatabaseContent::ApplySystemSettings(const SystemSettings& page)
{
    return systemRequest(false, system_choice::Apply, page);
}

int DatabaseContent::ChangeSignalSource(int source)
{
    return systemRequest(false, source, {});
}

int DatabaseContent::FactoryReset()
{
    return systemRequest(true, system_choice::Apply, {});
}

int DatabaseContent::SendVolumeCommand(int action)
{
    return vireo::SendVolumeCommand(*this, action);
}

void DatabaseContent::RedisplaySystemSettings()
{
    const std::shared_ptr<ListManager> db = Database();
    if (db) {
        DisplayProgramEntry(*this, db.get(), item_kind::System, true);
    }
}

ContentFactory DatabaseContentFactory()
{
    return [](const ContentHost& host) {
        auto content = std::make_unique<DatabaseContent>(host);
        content->SetNeighbourCacheFlush(net::ForgetNeighbour);
        return content;
    };
}

} // namespace vireo
