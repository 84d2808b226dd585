#pragma once

#include "fleet/fleet_model.h"
#include "history/alarm_engine.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

// Keeps the fleet rows' active alarm counts in step with an alarm engine:
// counts what is active when made, then follows raises and clears. Attach it
// with AlarmEngine::AddObserver; it must not outlive the model.
class FleetAlarmLink : public AlarmObserver
{
public:
    FleetAlarmLink(FleetModel& model, const AlarmEngine& engine);

    void OnAlarmRaised(const Alarm& alarm) override;
    void OnAlarmCleared(const Alarm& alarm) override;

private:
    void recountLocked(const std::string& address);

    FleetModel& m_model;
    std::mutex m_mutex;
    std::map<int64_t, std::string> m_active; // alarm id -> address
};

} // namespace vireo
