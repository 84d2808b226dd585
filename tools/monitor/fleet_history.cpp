#include "fleet_history.h"

#include "lang/gbk_text.h"

namespace vireo {

std::shared_ptr<FleetAlarms> RecordFleet(FleetMonitor& fleet, HistoryService& history,
                                         std::function<void(const std::string&)> log)
{
    auto alarms = std::make_shared<FleetAlarms>(history.Alarms());
    history.Alarms().AddObserver(alarms);
    fleet.SetPrepare([&history, alarms, log](MonitoredDevice& device) {
        std::shared_ptr<DeviceRecorder> recorder =
            history.MakeRecorder({device.Address(), device.Name()});
        if (log) {
            recorder->SetLogSink(
                [log, who = device.Address() + " " + GbkToUtf8(device.Name()) +
                            ": "](const std::string& line) { log(who + GbkToUtf8(line)); });
        }
        device.Observers().Add(recorder);
        device.SetAlarmSource([alarms, address = device.Address()](DeviceSample& sample) {
            sample.alarmRules = alarms->WatchedRules(address);
            sample.alarms = alarms->ActiveRules(address);
            if (!sample.alarms.empty() && alarms->Silenced(address, sample.group)) {
                sample.silenced = sample.alarms;
            }
        });
    });
    return alarms;
}

} // namespace vireo
