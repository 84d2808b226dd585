#include "monitored_device.h"

#include "database/list_manager.h"
#include "device_dump.h"
#include "lang/gbk_text.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace vireo {

namespace {

constexpr long kReconnectCapMs = 60000;
constexpr std::chrono::seconds kMaxRestartPause{60};

std::string versionText(uint8_t major, uint8_t minor)
{
    return std::to_string(major) + "." + std::to_string(minor);
}

} // namespace

LinkTiming MonitorLinkTiming(int pollSeconds, std::chrono::microseconds unit)
{
    LinkTiming timing;
    timing.unit = unit;
    timing.reconnectForever = true;
    timing.reconnectMaxMs = kReconnectCapMs;
    timing.signalPollMs = 1000L * pollSeconds;
    return timing;
}

// No window: a refresh the device asks for is left to the supervising
// thread, everything else the link shows is dropped.
class MonitoredDevice::View : public NullDeviceView
{
public:
    void PostRefresh() override { refreshWanted = true; }
    std::atomic<bool> refreshWanted{false};
};

// Keeps the last signal report of the current link.
class MonitoredDevice::SignalKeeper : public DeviceObserver
{
public:
    void OnSignal(const DeviceSignal& signal) override
    {
        std::lock_guard lock(m_mutex);
        m_signal = signal;
        m_have = true;
    }
    void OnEvent(const DeviceEvent& event) override
    {
        if (event.kind == DeviceEvent::Kind::LinkLost ||
            event.kind == DeviceEvent::Kind::Disconnected) {
            Forget();
        }
    }
    void Forget()
    {
        std::lock_guard lock(m_mutex);
        m_have = false;
    }
    bool Get(DeviceSignal& signal) const
    {
        std::lock_guard lock(m_mutex);
        signal = m_signal;
        return m_have;
    }

private:
    mutable std::mutex m_mutex;
    DeviceSignal m_signal;
    bool m_have = false;
};

MonitoredDevice::MonitoredDevice(SessionContext& context, const ChosenMachine& machine,
                                 const MonitorTiming& timing,
                                 const std::filesystem::path& logsFolder, uint16_t port)
    : m_address(machine.address), m_name(machine.name), m_nameUtf8(GbkToUtf8(machine.name)),
      m_timing(timing), m_view(std::make_unique<View>()),
      m_signal(std::make_shared<SignalKeeper>()),
      m_core(context, *m_view, machine.address + ":" + machine.name, timing.link, logsFolder, port)
{
    m_core.Session().Observers().Add(m_signal);
}

MonitoredDevice::~MonitoredDevice()
{
    Teardown();
}

void MonitoredDevice::SetAlarmSource(AlarmSource source)
{
    std::lock_guard lock(m_mutex);
    m_alarms = std::move(source);
}

void MonitoredDevice::SetGroup(std::string group)
{
    std::lock_guard lock(m_mutex);
    m_group = std::move(group);
}

std::string MonitoredDevice::Group() const
{
    std::lock_guard lock(m_mutex);
    return m_group;
}

bool MonitoredDevice::Tried() const
{
    // `reconnects` counts an attempt as it begins: a second one begun, or a
    // link made, means the first is over.
    auto& session = const_cast<DeviceCore&>(m_core).Session();
    return session.everConnected || session.reconnects >= 2;
}

void MonitoredDevice::Start()
{
    // The session thread makes the first connect itself (a device that is
    // down is tried again and again), so starting a thousand devices never
    // waits on one; the refresh is queued for when the link is up.
    DeviceSession& session = m_core.Session();
    session.StartSession();
    session.RefreshIrd();
    m_refreshStarted = Clock::now();
}

std::vector<std::string> MonitoredDevice::Tend()
{
    std::vector<std::string> lines;
    DeviceSession& session = m_core.Session();
    if (session.closing) {
        return lines;
    }
    const auto now = Clock::now();
    if (session.threadEnded && !session.threadRunning) {
        // The session ended on its own (the device sent what the link cannot
        // go on with): start it again, the pauses doubling up to a minute.
        {
            std::lock_guard lock(m_mutex);
            m_up = false;
        }
        m_wasUp = m_wasLinked = false;
        if (now >= m_restartAt) {
            lines.push_back("session ended, starting it again");
            m_restartAt = now + m_restartPause;
            m_restartPause = std::min<Clock::duration>(m_restartPause * 2, kMaxRestartPause);
            Start();
        }
        return lines;
    }
    const bool linked = session.linked;
    const int restored = session.linksRestored;
    bool refresh = m_view->refreshWanted.exchange(false);
    if (restored != m_seenRestored) {
        // A link brought back reads the database again: the device may have
        // restarted meanwhile. (The first link reads the one queued at the
        // start.)
        refresh = true;
        m_seenRestored = restored;
    }
    if (linked != m_wasLinked) {
        if (!linked) {
            m_signal->Forget();
            lines.push_back("link lost");
        }
        m_wasLinked = linked;
    }
    if (!linked && !m_toldUnreachable && !session.everConnected && session.reconnects > 1) {
        lines.push_back("cannot connect, trying again (at most a minute apart)");
        m_toldUnreachable = true;
    }
    std::shared_ptr<ListManager> db = m_core.Database();
    const bool loaded = db && db->Loaded();
    if (linked && !loaded && !refresh && now - m_refreshStarted >= m_timing.refreshRetry) {
        // The refresh never completed (replies lost beyond its retries).
        lines.push_back("database incomplete, reading it again");
        refresh = true;
    }
    if (refresh) {
        session.RefreshIrd();
        m_refreshStarted = now;
        db = m_core.Database();
    }
    const bool up = linked && db && db->Loaded();
    {
        std::lock_guard lock(m_mutex);
        if (up && m_countedDatabase.lock() != db) {
            m_countedDatabase = db;
            m_lastRefreshMs = DeviceObservers::NowMs();
        }
        m_up = up;
    }
    if (up) {
        m_restartPause = kFirstRestartPause;
    }
    if (up != m_wasUp) {
        if (up) {
            lines.push_back("up, database read");
        } else if (linked) {
            lines.push_back("connected, reading the database");
        }
        m_wasUp = up;
    }
    return lines;
}

void MonitoredDevice::RequestStop()
{
    m_core.Session().RequestStop();
}

void MonitoredDevice::Teardown()
{
    m_core.Teardown();
}

DeviceSample MonitoredDevice::Sample() const
{
    auto& core = const_cast<DeviceCore&>(m_core);
    DeviceSession& session = core.Session();
    DeviceSample sample;
    sample.address = m_address;
    sample.name = m_nameUtf8;
    sample.linked = session.linked;
    sample.reconnects = static_cast<uint64_t>(session.linksRestored.load());
    sample.connectAttempts = static_cast<uint64_t>(std::max(0, session.reconnects.load()));
    sample.requests = session.requestsSent;
    sample.timeouts = session.requestTimeouts;

    DeviceSignal signal;
    if (sample.linked && m_signal->Get(signal)) {
        sample.haveSignal = true;
        sample.locked = signal.locked;
        sample.playing = signal.playing;
        sample.intensity = signal.intensity;
        sample.quality = signal.quality;
        sample.signalTimeMs = signal.timeMs;
    }
    if (const std::shared_ptr<ListManager> db = core.Database()) {
        if (const std::optional<VersionRecord> version = db->Version()) {
            sample.loader = versionText(version->bytes[0], version->bytes[1]);
            sample.software = versionText(version->bytes[2], version->bytes[3]);
        }
        if (const std::optional<SystemRecord> system = db->System()) {
            const std::array<uint8_t, 6> mac = system->Mac();
            char text[18];
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                          mac[2], mac[3], mac[4], mac[5]);
            sample.mac = text;
        }
    }
    AlarmSource alarms;
    {
        std::lock_guard lock(m_mutex);
        sample.up = m_up && sample.linked;
        sample.lastRefreshMs = m_lastRefreshMs;
        alarms = m_alarms;
        sample.group = m_group;
    }
    if (alarms) {
        alarms(sample);
    }
    return sample;
}

std::string MonitoredDevice::DatabaseJsonText()
{
    const std::shared_ptr<ListManager> db = m_core.Database();
    if (!db || !db->Loaded()) {
        return {};
    }
    return DatabaseJson(*db);
}

} // namespace vireo
