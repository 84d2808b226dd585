#include "history/ui/alarm_monitor.h"

#include "history/ui/alarms_dock.h"
#include "history/ui/history_texts.h"

#include <utility>

namespace vireo::ui {

namespace {

HistoryText ruleName(AlarmRuleKind kind)
{
    switch (kind) {
    case AlarmRuleKind::Unlocked:
        return HistoryText::RuleUnlocked;
    case AlarmRuleKind::LowQuality:
        return HistoryText::RuleQualityLow;
    case AlarmRuleKind::LinkLost:
        return HistoryText::RuleLinkLost;
    case AlarmRuleKind::Restarted:
        return HistoryText::RuleRestarted;
    case AlarmRuleKind::VersionChanged:
        return HistoryText::RuleVersionChanged;
    }
    return HistoryText::Rule;
}

} // namespace

// The engine's observer: hands each report to the monitor while it lives.
class AlarmMonitor::Relay : public AlarmObserver
{
public:
    explicit Relay(AlarmMonitor* monitor) : m_monitor(monitor) {}

    void Detach()
    {
        std::lock_guard lock(m_mutex);
        m_monitor = nullptr;
    }
    void OnAlarmRaised(const Alarm& alarm) override
    {
        post([&alarm](Pending& p) {
            p.raised.push_back(alarm);
            p.changed = true;
        });
    }
    void OnAlarmCleared(const Alarm&) override
    {
        post([](Pending& p) { p.changed = true; });
    }
    void OnAlarmAcknowledged(const Alarm&) override
    {
        post([](Pending& p) { p.changed = true; });
    }

private:
    template <class Edit> void post(Edit&& edit)
    {
        std::lock_guard lock(m_mutex);
        if (m_monitor != nullptr) {
            m_monitor->post(std::forward<Edit>(edit));
        }
    }

    std::mutex m_mutex;
    AlarmMonitor* m_monitor;
};

AlarmMonitor::AlarmMonitor(std::shared_ptr<AlarmEngine> engine, AlarmsDock* dock, QObject* parent)
    : QObject(parent), m_engine(std::move(engine)), m_dock(dock),
      m_relay(std::make_shared<Relay>(this))
{
    m_engine->AddObserver(m_relay);
    Refresh();
}

AlarmMonitor::~AlarmMonitor()
{
    m_engine->RemoveObserver(m_relay.get());
    m_relay->Detach();
}

template <class Edit> void AlarmMonitor::post(Edit&& edit)
{
    std::lock_guard lock(m_pendingMutex);
    std::forward<Edit>(edit)(m_pending);
    if (!std::exchange(m_posted, true)) {
        QMetaObject::invokeMethod(this, &AlarmMonitor::apply, Qt::QueuedConnection);
    }
}

void AlarmMonitor::apply()
{
    Pending pending;
    {
        std::lock_guard lock(m_pendingMutex);
        std::swap(pending, m_pending);
        m_posted = false;
    }
    if (pending.changed) {
        Refresh();
    }
    if (!pending.raised.empty()) {
        emit alarmsRaised(pending.raised);
    }
}

void AlarmMonitor::Refresh()
{
    std::vector<AlarmRow> rows;
    for (const Alarm& alarm : m_engine->Recent()) {
        rows.push_back(RowOf(alarm));
    }
    if (m_dock != nullptr) {
        m_dock->ShowAlarms(std::move(rows));
    }
    emit alarmsChanged();
}

void AlarmMonitor::Acknowledge(const std::vector<int64_t>& ids, const std::string& who)
{
    for (int64_t id : ids) {
        m_engine->Acknowledge(id, who);
    }
    Refresh();
}

bool AlarmMonitor::HasUnacknowledged(const std::string& address) const
{
    return m_engine->HasUnacknowledged(address);
}

QString AlarmMonitor::RuleName(AlarmRuleKind kind)
{
    return HistoryLang(ruleName(kind));
}

QString AlarmMonitor::RuleText(const Alarm& alarm)
{
    QString text = RuleName(alarm.rule);
    if (!alarm.detail.empty()) {
        text += QStringLiteral(" (") + FromGbk(alarm.detail) + QLatin1Char(')');
    }
    return text;
}

AlarmRow AlarmMonitor::RowOf(const Alarm& alarm)
{
    AlarmRow row;
    row.id = alarm.id;
    row.address = alarm.address;
    row.name = alarm.deviceName;
    row.ruleText = RuleText(alarm);
    row.raisedMs = alarm.raisedMs;
    row.clearedMs = alarm.clearedMs;
    row.acknowledgedMs = alarm.acknowledgedMs;
    row.acknowledgedBy = alarm.acknowledgedBy;
    row.information = alarm.severity == AlarmSeverity::Information;
    return row;
}

} // namespace vireo::ui
