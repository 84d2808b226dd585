#include "history/device_recorder.h"

#include <algorithm>
#include <cstdio>

namespace vireo {

namespace {

// A dotted IPv4 address, as an AddressChanged event carries it.
bool looksLikeAddress(const std::string& text)
{
    unsigned a, b, c, d;
    char tail;
    return std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4 && a < 256 &&
           b < 256 && c < 256 && d < 256;
}

} // namespace

DeviceRecorder::DeviceRecorder(std::shared_ptr<HistoryWriter> writer,
                               std::shared_ptr<AlarmEngine> alarms, DeviceKey key)
    : m_writer(std::move(writer)), m_alarms(std::move(alarms)), m_key(std::move(key))
{
    if (m_writer) {
        m_handle = m_writer->RegisterDevice(m_key);
    }
    if (m_alarms) {
        m_alarms->AttachDevice(m_key);
    }
}

DeviceRecorder::~DeviceRecorder()
{
    const int64_t now = std::max(m_lastMs, DeviceObservers::NowMs());
    {
        std::lock_guard lock(m_mutex);
        endPeriod(PeriodKind::Unlocked, now);
        endPeriod(PeriodKind::Connected, now);
        endPeriod(PeriodKind::LinkLost, now);
    }
    if (m_alarms) {
        m_alarms->DetachDevice(m_key.address);
    }
}

void DeviceRecorder::SetLogSink(AlarmLogSink sink)
{
    if (m_alarms) {
        m_alarms->AttachDevice(Key(), std::move(sink));
    }
}

DeviceKey DeviceRecorder::Key() const
{
    std::lock_guard lock(m_mutex);
    return m_key;
}

void DeviceRecorder::Rename(const std::string& name)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_key.name == name) {
            return;
        }
        m_key.name = name;
    }
    if (m_writer) {
        m_writer->RenameDevice(m_handle, name);
    }
    if (m_alarms) {
        m_alarms->RenameDevice(Key().address, name);
    }
}

void DeviceRecorder::Readdress(const std::string& address)
{
    std::string from;
    {
        std::lock_guard lock(m_mutex);
        if (address.empty() || m_key.address == address) {
            return;
        }
        from = m_key.address;
        m_key.address = address;
        if (m_writer) {
            m_writer->ReaddressDevice(m_handle, address);
        }
    }
    if (m_alarms) {
        m_alarms->ReaddressDevice(from, address);
    }
}

void DeviceRecorder::beginPeriod(PeriodKind kind, int64_t timeMs)
{
    bool& open = kind == PeriodKind::Connected  ? m_connected
                 : kind == PeriodKind::Unlocked ? m_unlocked
                                                : m_linkLost;
    if (!open && m_writer) {
        m_writer->PeriodBegin(m_handle, kind, timeMs);
    }
    open = true;
}

void DeviceRecorder::endPeriod(PeriodKind kind, int64_t timeMs)
{
    bool& open = kind == PeriodKind::Connected  ? m_connected
                 : kind == PeriodKind::Unlocked ? m_unlocked
                                                : m_linkLost;
    if (open && m_writer) {
        m_writer->PeriodEnd(m_handle, kind, timeMs);
    }
    open = false;
}

void DeviceRecorder::OnSignal(const DeviceSignal& signal)
{
    {
        std::lock_guard lock(m_mutex);
        const int64_t t = signal.timeMs;
        m_lastMs = std::max(m_lastMs, t);
        // A report means a live link, even for a recorder attached late.
        m_everConnected = true;
        endPeriod(PeriodKind::LinkLost, t);
        beginPeriod(PeriodKind::Connected, t);
        if (signal.locked) {
            endPeriod(PeriodKind::Unlocked, t);
        } else {
            beginPeriod(PeriodKind::Unlocked, t);
        }
        const bool due = signal.locked != m_lastLocked || m_lastSampleMs == INT64_MIN ||
                         t - m_lastSampleMs >= kMinSampleGapMs || t < m_lastSampleMs;
        if (m_writer && due) {
            m_writer->Sample(m_handle, SignalSample{t, signal.locked, signal.playing,
                                                    signal.intensity, signal.quality});
            m_lastSampleMs = t;
            m_lastLocked = signal.locked;
        }
    }
    if (m_alarms) {
        m_alarms->OnSignal(Key().address, signal);
    }
}

void DeviceRecorder::OnEvent(const DeviceEvent& event)
{
    using Kind = DeviceEvent::Kind;
    std::string address;
    {
        std::lock_guard lock(m_mutex);
        const int64_t t = event.timeMs;
        m_lastMs = std::max(m_lastMs, t);
        switch (event.kind) {
        case Kind::Connected:
        case Kind::Reconnected:
            m_everConnected = true;
            endPeriod(PeriodKind::LinkLost, t);
            beginPeriod(PeriodKind::Connected, t);
            break;
        case Kind::LinkLost:
            endPeriod(PeriodKind::Unlocked, t);
            endPeriod(PeriodKind::Connected, t);
            beginPeriod(PeriodKind::LinkLost, t);
            break;
        case Kind::Disconnected:
            endPeriod(PeriodKind::Unlocked, t);
            endPeriod(PeriodKind::Connected, t);
            endPeriod(PeriodKind::LinkLost, t);
            break;
        case Kind::ConnectFailed:
            if (!m_everConnected) {
                beginPeriod(PeriodKind::LinkLost, t);
            }
            break;
        default:
            break;
        }
        if (m_writer) {
            m_writer->Event(m_handle, t, static_cast<int>(event.kind), event.code, event.detail);
        }
        address = m_key.address;
    }
    if (m_alarms) {
        m_alarms->OnEvent(address, event);
    }
    if (event.kind == Kind::AddressChanged && looksLikeAddress(event.detail)) {
        Readdress(event.detail);
    }
}

} // namespace vireo
