#include "fleet/fleet_alarms.h"

namespace vireo {

FleetAlarmLink::FleetAlarmLink(FleetModel& model, const AlarmEngine& engine) : m_model(model)
{
    std::lock_guard lock(m_mutex);
    for (const Alarm& alarm : engine.Active()) {
        m_active[alarm.id] = alarm.address;
    }
    std::map<std::string, int> counts;
    for (const auto& [id, address] : m_active) {
        ++counts[address];
    }
    for (const auto& [address, count] : counts) {
        m_model.SetActiveAlarmsAt(address, count);
    }
}

void FleetAlarmLink::OnAlarmRaised(const Alarm& alarm)
{
    std::lock_guard lock(m_mutex);
    if (alarm.Active()) {
        m_active[alarm.id] = alarm.address;
        recountLocked(alarm.address);
    }
}

void FleetAlarmLink::OnAlarmCleared(const Alarm& alarm)
{
    std::lock_guard lock(m_mutex);
    if (m_active.erase(alarm.id) != 0) {
        recountLocked(alarm.address);
    }
}

void FleetAlarmLink::recountLocked(const std::string& address)
{
    int count = 0;
    for (const auto& [id, at] : m_active) {
        count += at == address ? 1 : 0;
    }
    m_model.SetActiveAlarmsAt(address, count);
}

} // namespace vireo
