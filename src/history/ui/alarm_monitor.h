#pragma once

#include "history/alarm_engine.h"
#include "history/ui/alarm_rows.h"

#include <QObject>
#include <memory>
#include <mutex>
#include <vector>

namespace vireo::ui {

class AlarmsDock;

// Brings the alarm engine's news to the UI thread: whatever thread raises,
// clears or acknowledges an alarm, the dock's list is read again from the
// engine (in memory, no disk) once per turn of the event loop, and the alarms
// raised meanwhile are announced together (alarmsRaised) for the desktop
// notification.
class AlarmMonitor : public QObject
{
    Q_OBJECT
public:
    AlarmMonitor(std::shared_ptr<AlarmEngine> engine, AlarmsDock* dock, QObject* parent = nullptr);
    ~AlarmMonitor() override;

    // Acknowledges these alarms in the operator's name.
    void Acknowledge(const std::vector<int64_t>& ids, const std::string& who);
    // Reads the list again now.
    void Refresh();
    bool HasUnacknowledged(const std::string& address) const;
    AlarmEngine& Engine() { return *m_engine; }

    static AlarmRow RowOf(const Alarm& alarm);
    static QString RuleName(AlarmRuleKind kind);
    // "Signal unlocked (detail)" in the program's language.
    static QString RuleText(const Alarm& alarm);

signals:
    // The alarms raised since the last call, oldest first (never empty): a
    // burst, such as a whole satellite fading, comes as one call.
    void alarmsRaised(const std::vector<vireo::Alarm>& alarms);
    // The list changed: marks of the machine tree may have to follow.
    void alarmsChanged();

private:
    struct Pending
    {
        std::vector<Alarm> raised;
        bool changed = false;
    };
    class Relay;

    // Any thread: folds the change into what waits and makes sure one call
    // to apply it is on its way.
    template <class Edit> void post(Edit&& edit);
    void apply();

    std::shared_ptr<AlarmEngine> m_engine;
    AlarmsDock* m_dock;
    std::shared_ptr<Relay> m_relay;
    std::mutex m_pendingMutex;
    Pending m_pending;
    bool m_posted = false;
};

} // namespace vireo::ui
