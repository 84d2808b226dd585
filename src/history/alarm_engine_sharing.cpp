// The part of AlarmEngine that deals with other programs sharing the history.

#include "history/alarm_engine.h"
#include "history/alarm_engine_impl.h"

namespace vireo {

void AlarmEngine::UseLeases()
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->leasing = true;
}

std::vector<DeviceKey> AlarmEngine::Attached() const
{
    std::lock_guard lock(m_impl->mutex);
    std::vector<DeviceKey> list;
    for (const auto& [address, device] : m_impl->devices) {
        if (device.attached) {
            list.push_back(device.key);
        }
    }
    return list;
}

void AlarmEngine::SetLeases(const std::vector<std::string>& held,
                            const std::vector<std::string>& elsewhere)
{
    using Lease = Impl::Device::Lease;
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        for (const std::string& address : held) {
            Impl::Device& device = m_impl->DeviceFor(address);
            if (device.lease == Lease::Elsewhere) {
                // Taken over: the conditions start from now; alarms the other
                // program raised are held on to (Merge adopted them).
                for (auto& c : device.conditions) {
                    c.holdingSince = 0;
                    c.absentSince = 0;
                }
            }
            device.lease = Lease::Held;
        }
        for (const std::string& address : elsewhere) {
            m_impl->DeviceFor(address).lease = Lease::Elsewhere;
        }
        if (m_impl->retainPending) {
            m_impl->Retain(*m_impl->retainPending, notices);
            m_impl->retainPending.reset();
        }
    }
    m_impl->Tell(notices);
}

void AlarmEngine::Merge(const std::vector<Alarm>& stored)
{
    using What = Impl::Notice::What;
    std::vector<Impl::Notice> notices;
    {
        std::lock_guard lock(m_impl->mutex);
        auto takeAck = [&](Alarm& mine, const Alarm& theirs) {
            if (theirs.Acknowledged() && !mine.Acknowledged()) {
                mine.acknowledgedMs = theirs.acknowledgedMs;
                mine.acknowledgedBy = theirs.acknowledgedBy;
                notices.push_back({What::Acknowledged, mine, {}});
            }
        };
        for (const Alarm& theirs : stored) {
            auto it = m_impl->active.find(theirs.id);
            if (it != m_impl->active.end()) {
                takeAck(it->second, theirs);
                if (!theirs.Active()) {
                    Alarm alarm = it->second;
                    alarm.clearedMs = theirs.clearedMs;
                    m_impl->active.erase(it);
                    m_impl->cleared.push_front(alarm);
                    if (m_impl->cleared.size() > Impl::kClearedKept) {
                        m_impl->cleared.pop_back();
                    }
                    notices.push_back({What::Cleared, std::move(alarm), {}});
                }
                continue;
            }
            auto old = std::find_if(m_impl->cleared.begin(), m_impl->cleared.end(),
                                    [&](const Alarm& a) { return a.id == theirs.id; });
            if (old != m_impl->cleared.end()) {
                takeAck(*old, theirs); // cleared here, perhaps not stored yet
                continue;
            }
            if (theirs.Active()) {
                // Raised by another program: shown here, and held by whoever
                // evaluates the device from now on.
                m_impl->Adopt(theirs);
                m_impl->active.emplace(theirs.id, theirs);
                notices.push_back({What::Raised, theirs, {}});
            }
        }
    }
    m_impl->Tell(notices);
}

} // namespace vireo
