#pragma once

#include "history/alarm_engine.h"
#include "history/history_types.h"
#include "history/history_writer.h"
#include "link/device_observer.h"

#include <climits>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

// Records one device: attached to its session's DeviceObservers, it hands
// every signal report and event to the writer (never waiting on the disk),
// keeps the device's connected / unlocked / link-lost periods and feeds the
// alarm engine. Calls come from the session, upgrade and UI threads.
//
// Events it reads: Connected, Reconnected (a connected period begins; a
// link-lost one ends), LinkLost (the reverse), Disconnected (every period
// ends: the operator's choice is no outage), ConnectFailed of a device
// never reached since the recorder began (a link-lost period begins, and the
// alarm after its rule's time; after a disconnect asked for it is no loss), Restarted
// (code 0 asked for, 1 found out: recorded and raised as "device restarted"),
// AddressChanged (detail: the new address, followed as Readdress does).
class DeviceRecorder : public DeviceObserver
{
public:
    DeviceRecorder(std::shared_ptr<HistoryWriter> writer, std::shared_ptr<AlarmEngine> alarms,
                   DeviceKey key);
    ~DeviceRecorder() override; // closes open periods and detaches from the engine

    // Where raise and clear lines of this device's alarms go (its LogBuffer).
    void SetLogSink(AlarmLogSink sink);

    DeviceKey Key() const;
    // The device is called something else now (its caption changed).
    void Rename(const std::string& name);
    // The device answers at `address` now (its address was changed): its
    // history and its alarms go on under the new address, as the same device.
    // An AddressChanged event whose detail is the new address does the same.
    void Readdress(const std::string& address);

    // Reports closer together than this are not stored (a device that floods
    // the link); one that changes the lock always is. Alarms see them all.
    static constexpr int64_t kMinSampleGapMs = 100;

    void OnSignal(const DeviceSignal& signal) override;
    void OnEvent(const DeviceEvent& event) override;

private:
    void beginPeriod(PeriodKind kind, int64_t timeMs);
    void endPeriod(PeriodKind kind, int64_t timeMs);

    std::shared_ptr<HistoryWriter> m_writer;
    std::shared_ptr<AlarmEngine> m_alarms;
    DeviceKey m_key;
    HistoryWriter::DeviceHandle m_handle = 0;

    mutable std::mutex m_mutex;
    bool m_connected = false;
    bool m_unlocked = false;
    bool m_linkLost = false;
    bool m_everConnected = false;
    int64_t m_lastMs = 0;
    int64_t m_lastSampleMs = INT64_MIN;
    bool m_lastLocked = false;
};

} // namespace vireo
