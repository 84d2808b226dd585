#include "fleet/fleet_model.h"

#include "app/machine_manager.h"

#include <algorithm>
#include <cstdio>

namespace vireo {

namespace {

std::string versionText(uint8_t major, uint8_t minor)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", major, minor);
    return text;
}

} // namespace

struct FleetModel::Shared
{
    struct Entry
    {
        FleetRow row;
        FleetSource source;
    };

    std::mutex mutex;
    std::vector<Entry> entries;
    std::unordered_map<NodeId, size_t> index;
    std::unordered_set<NodeId> dirty;
    bool notified = false; // RowsChanged was called and no drain followed yet
    FleetModelObserver* observer = nullptr;
    std::unordered_map<std::string, int> alarmsAt; // address key -> active alarms

    int alarmsOfLocked(const std::string& caption) const
    {
        const auto at = alarmsAt.find(MachineManager::AddressKey(caption));
        return at == alarmsAt.end() ? 0 : at->second;
    }

    Entry* findLocked(NodeId node)
    {
        const auto at = index.find(node);
        return at == index.end() ? nullptr : &entries[at->second];
    }

    // Under the lock. Calls the observer at most once per drain.
    void markLocked(NodeId node)
    {
        dirty.insert(node);
        if (!notified && observer != nullptr) {
            notified = true;
            observer->RowsChanged();
        }
    }

    template <class Change> void change(NodeId node, Change&& apply)
    {
        std::lock_guard lock(mutex);
        if (Entry* entry = findLocked(node)) {
            apply(entry->row);
            markLocked(node);
        }
    }
};

// Reports of one device, applied to its row for as long as it has one.
class FleetModel::MachineObserver : public DeviceObserver
{
public:
    MachineObserver(std::weak_ptr<Shared> shared, NodeId node)
        : m_shared(std::move(shared)), m_node(node)
    {}

    void OnSignal(const DeviceSignal& signal) override
    {
        if (auto shared = m_shared.lock()) {
            shared->change(m_node, [&](FleetRow& row) {
                row.signalKnown = true;
                row.locked = signal.locked;
                row.intensity = std::clamp(signal.intensity, 0, 100);
                row.quality = std::clamp(signal.quality, 0, 100);
                if (row.state == FleetState::NotConnected || row.state == FleetState::Connecting) {
                    row.state = FleetState::Connected; // a report proves the link
                }
            });
        }
    }

    void OnEvent(const DeviceEvent& event) override
    {
        auto shared = m_shared.lock();
        if (!shared) {
            return;
        }
        using Kind = DeviceEvent::Kind;
        shared->change(m_node, [&](FleetRow& row) {
            switch (event.kind) {
            case Kind::Connected:
                row.state = FleetState::Connected;
                row.reason.clear();
                break;
            case Kind::Reconnected:
                row.state = FleetState::Connected;
                row.reason.clear();
                ++row.reconnects;
                break;
            case Kind::ConnectFailed:
            case Kind::LinkLost:
            case Kind::RefreshFailed:
                row.state = FleetState::Failed;
                row.reason = event.detail;
                if (event.kind != Kind::RefreshFailed) {
                    row.signalKnown = false;
                }
                break;
            case Kind::Disconnected:
            case Kind::Restarted:
                row.state = FleetState::NotConnected;
                row.signalKnown = false;
                break;
            case Kind::RefreshComplete:
                row.state = FleetState::Refreshed;
                row.lastRefreshMs = event.timeMs;
                break;
            case Kind::UpgradeStarted:
                row.state = FleetState::Upgrading;
                break;
            case Kind::UpgradeEnded:
                if (event.code != 0) {
                    row.state = FleetState::Failed;
                    row.reason = event.detail;
                } else if (row.state == FleetState::Upgrading) {
                    row.state = FleetState::NotConnected; // it restarts
                }
                break;
            default:
                break; // commands, scans and versions change nothing shown here
            }
        });
    }

private:
    std::weak_ptr<Shared> m_shared;
    NodeId m_node;
};

FleetModel::FleetModel() : m_shared(std::make_shared<Shared>()) {}

FleetModel::~FleetModel()
{
    SetObserver(nullptr);
}

void FleetModel::SetObserver(FleetModelObserver* observer)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->observer = observer;
    m_shared->notified = false;
    if (observer != nullptr && !m_shared->dirty.empty()) {
        m_shared->notified = true;
        observer->RowsChanged();
    }
}

std::shared_ptr<DeviceObserver> FleetModel::AddMachine(NodeId node, std::string caption,
                                                       bool ticked, FleetSource source)
{
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    if (Shared::Entry* entry = s.findLocked(node)) {
        entry->row.caption = std::move(caption);
        entry->row.ticked = ticked;
        entry->source = std::move(source);
        s.markLocked(node);
    } else {
        const size_t row = s.entries.size();
        FleetModelObserver* observer = s.observer;
        // The observer is told outside the lock: a view asks for the row.
        lock.unlock();
        if (observer != nullptr) {
            observer->RowAboutToBeAdded(row);
        }
        lock.lock();
        FleetRow values;
        values.node = node;
        values.caption = std::move(caption);
        values.ticked = ticked;
        values.activeAlarms = s.alarmsOfLocked(values.caption);
        s.index[node] = s.entries.size();
        s.entries.push_back({std::move(values), std::move(source)});
        s.markLocked(node);
        lock.unlock();
        if (observer != nullptr) {
            observer->RowAdded(row);
        }
    }
    return std::make_shared<MachineObserver>(m_shared, node);
}

void FleetModel::RemoveMachine(NodeId node)
{
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    const auto at = s.index.find(node);
    if (at == s.index.end()) {
        return;
    }
    const size_t row = at->second;
    FleetModelObserver* observer = s.observer;
    lock.unlock();
    if (observer != nullptr) {
        observer->RowAboutToBeRemoved(row);
    }
    lock.lock();
    s.entries.erase(s.entries.begin() + static_cast<std::ptrdiff_t>(row));
    s.index.erase(node);
    s.dirty.erase(node);
    for (size_t i = row; i < s.entries.size(); ++i) {
        s.index[s.entries[i].row.node] = i;
    }
    lock.unlock();
    if (observer != nullptr) {
        observer->RowRemoved(row);
    }
}

void FleetModel::SetCaption(NodeId node, std::string caption)
{
    Shared& s = *m_shared;
    s.change(node, [&](FleetRow& row) {
        row.caption = std::move(caption);
        row.activeAlarms = s.alarmsOfLocked(row.caption);
    });
}

void FleetModel::SetActiveAlarmsAt(const std::string& address, int count)
{
    Shared& s = *m_shared;
    std::lock_guard lock(s.mutex);
    const std::string key = MachineManager::AddressKey(address + ":");
    s.alarmsAt[key] = count;
    for (Shared::Entry& entry : s.entries) {
        if (MachineManager::AddressKey(entry.row.caption) == key &&
            entry.row.activeAlarms != count) {
            entry.row.activeAlarms = count;
            s.markLocked(entry.row.node);
        }
    }
}

void FleetModel::SetTicked(NodeId node, bool ticked)
{
    m_shared->change(node, [&](FleetRow& row) { row.ticked = ticked; });
}

void FleetModel::NoteConnecting(NodeId node)
{
    m_shared->change(node, [&](FleetRow& row) {
        if (row.state != FleetState::Upgrading) {
            row.state = FleetState::Connecting;
        }
    });
}

void FleetModel::SetActiveAlarms(NodeId node, int count)
{
    m_shared->change(node, [&](FleetRow& row) { row.activeAlarms = count; });
}

size_t FleetModel::Count() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->entries.size();
}

FleetRow FleetModel::Row(size_t row) const
{
    std::lock_guard lock(m_shared->mutex);
    return row < m_shared->entries.size() ? m_shared->entries[row].row : FleetRow{};
}

int FleetModel::RowOf(NodeId node) const
{
    std::lock_guard lock(m_shared->mutex);
    const auto at = m_shared->index.find(node);
    return at == m_shared->index.end() ? -1 : static_cast<int>(at->second);
}

std::vector<size_t> FleetModel::TakeChanged()
{
    Shared& s = *m_shared;
    struct Pending
    {
        NodeId node;
        FleetSource source;
        std::string playing, loader, software, lastLog;
    };
    std::vector<Pending> pending;
    {
        std::lock_guard lock(s.mutex);
        pending.reserve(s.dirty.size());
        for (NodeId node : s.dirty) {
            if (const Shared::Entry* entry = s.findLocked(node)) {
                pending.push_back({node, entry->source, {}, {}, {}, {}});
            }
        }
        s.dirty.clear();
        s.notified = false;
    }

    // What the machine holds, read without the model's lock: the database
    // takes its own locks, and a device may report meanwhile.
    for (Pending& p : pending) {
        if (p.source.lastLogLine) {
            p.lastLog = p.source.lastLogLine();
        }
        const std::shared_ptr<ListManager> db =
            p.source.database ? p.source.database() : std::shared_ptr<ListManager>();
        if (!db) {
            continue;
        }
        if (const auto version = db->Version()) {
            p.loader = versionText(version->bytes[0], version->bytes[1]);
            p.software = versionText(version->bytes[2], version->bytes[3]);
        }
        if (db->PlayingKnown()) {
            const PlayingRecord playing = db->Playing();
            if (playing.Index() != kNoIndex) {
                const int kind = playing.Kind() == 1 ? 1 : 2;
                std::lock_guard programs(db->ProgramLock(kind));
                if (const ProgramRecord* program = db->FindProgram(kind, playing.Index())) {
                    p.playing = program->name;
                }
            }
        }
    }

    std::vector<size_t> changed;
    std::lock_guard lock(s.mutex);
    for (Pending& p : pending) {
        if (Shared::Entry* entry = s.findLocked(p.node)) {
            FleetRow& row = entry->row;
            row.lastLog = std::move(p.lastLog);
            if (row.state == FleetState::Failed && row.reason.empty()) {
                // The device reported a failure without words: the line the
                // window logged for it says why, without its caption and time.
                const size_t text = row.lastLog.find("): ");
                row.reason = text == std::string::npos ? row.lastLog : row.lastLog.substr(text + 3);
            }
            if (!p.loader.empty()) { // a device's version stays known while it is away
                row.loader = std::move(p.loader);
                row.software = std::move(p.software);
            }
            const bool linked = row.state == FleetState::Connected ||
                                row.state == FleetState::Refreshed ||
                                row.state == FleetState::Upgrading;
            row.playing = linked ? std::move(p.playing) : std::string();
            changed.push_back(s.index[p.node]);
        }
    }
    std::sort(changed.begin(), changed.end());
    return changed;
}

} // namespace vireo
