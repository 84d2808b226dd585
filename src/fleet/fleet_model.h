#pragma once

#include "app/machine_tree.h"
#include "database/list_manager.h"
#include "link/device_observer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vireo {

enum class FleetState { NotConnected, Connecting, Connected, Refreshed, Upgrading, Failed };

// What the fleet view shows of one machine. Texts are GBK, as the device or
// the log has them.
struct FleetRow
{
    NodeId node = kNoNode;
    std::string caption; // address ":" name
    bool ticked = false; // connects at start-up
    FleetState state = FleetState::NotConnected;
    std::string reason; // why it last failed; kept until it connects again
    bool signalKnown = false;
    bool locked = false;
    int intensity = 0; // 0-100
    int quality = 0;
    std::string playing;       // name of the playing program
    std::string loader;        // "1.6"
    std::string software;      // "2.29"
    int64_t lastRefreshMs = 0; // system clock; 0: never refreshed
    int reconnects = 0;        // links that came back after a loss
    int activeAlarms = 0;
    std::string lastLog; // the device's last log line

    bool operator==(const FleetRow&) const = default;
};

// Where the model reads what a machine already holds, on the thread that
// drains the changes (no traffic to the device): its database and its log.
// Either may be empty, and either may return null/empty.
struct FleetSource
{
    std::function<std::shared_ptr<ListManager>()> database;
    std::function<std::string()> lastLogLine;
};

// Told of the model's changes. Rows are added and removed on the thread that
// calls AddMachine/RemoveMachine (the UI thread), around the change. Changes
// of a row's values come from any thread as one RowsChanged call, made when
// the first row becomes dirty after a drain: the observer schedules a drain
// (TakeChanged) at a pace of its choosing, and however many reports arrive
// meanwhile cost no further call.
class FleetModelObserver
{
public:
    virtual ~FleetModelObserver() = default;
    virtual void RowAboutToBeAdded(size_t /*row*/) {}
    virtual void RowAdded(size_t /*row*/) {}
    virtual void RowAboutToBeRemoved(size_t /*row*/) {}
    virtual void RowRemoved(size_t /*row*/) {}
    virtual void RowsChanged() = 0;
};

// A row per machine of the registry, fed by each device's DeviceObserver
// reports and by what its window already holds. Rows keep the order in which
// machines were added.
//
// Threads: AddMachine, RemoveMachine, SetCaption, SetTicked, NoteConnecting
// and TakeChanged on the UI thread; the observers returned by AddMachine may
// report from any thread, also after RemoveMachine (they are then ignored).
class FleetModel
{
public:
    FleetModel();
    ~FleetModel();
    FleetModel(const FleetModel&) = delete;
    FleetModel& operator=(const FleetModel&) = delete;

    void SetObserver(FleetModelObserver* observer);

    // Adds the row of `node` (an existing row keeps its place and is updated)
    // and returns the observer to add to the device's DeviceObservers.
    std::shared_ptr<DeviceObserver> AddMachine(NodeId node, std::string caption, bool ticked,
                                               FleetSource source);
    void RemoveMachine(NodeId node);
    void SetCaption(NodeId node, std::string caption);
    void SetTicked(NodeId node, bool ticked);
    // A connect attempt has begun (the device reports only its outcome).
    void NoteConnecting(NodeId node);
    void SetActiveAlarms(NodeId node, int count);
    // The count of every machine with this dotted address, also of machines
    // added later (alarms are kept by address).
    void SetActiveAlarmsAt(const std::string& address, int count);

    size_t Count() const;
    FleetRow Row(size_t row) const;
    // -1 when the node has no row.
    int RowOf(NodeId node) const;

    // The rows changed since the last call, their values read again from
    // their sources; the next change calls RowsChanged again.
    std::vector<size_t> TakeChanged();

private:
    struct Shared;
    class MachineObserver;

    std::shared_ptr<Shared> m_shared;
};

} // namespace vireo
