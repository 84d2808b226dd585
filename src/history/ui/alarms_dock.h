#pragma once

#include "history/ui/alarm_rows.h"

#include <QDockWidget>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vireo::ui {

// The alarms window, a dock of the main window: the active alarms first
// (unacknowledged ones in red), then the cleared ones when asked for. The
// operator acknowledges one or many, or puts a device in maintenance; a
// double-click asks for the device.
class AlarmsDock : public QDockWidget
{
    Q_OBJECT
public:
    enum Column { DeviceColumn, RuleColumn, SinceColumn, DurationColumn, AcknowledgedColumn };

    explicit AlarmsDock(QWidget* parent = nullptr);

    void ApplyCaptions();
    // Replaces the list, keeping the selection by alarm.
    void ShowAlarms(std::vector<AlarmRow> alarms);
    void SetClock(std::function<int64_t()> clock);

    // How the history records, shown beside the buttons ("History paused:
    // disk full since 14:02, ..."); empty hides it.
    void SetHistoryStatus(const QString& text);
    QLabel* HistoryStatusLabel() const { return m_historyStatus; }

    // The range of the availability report: the last 8 h, 24 h, 7 or 30 days.
    static constexpr int64_t kReportRangesMs[] = {8 * 3600 * 1000LL, 24 * 3600 * 1000LL,
                                                  7 * 24 * 3600 * 1000LL, 30 * 24 * 3600 * 1000LL};
    int64_t ReportRangeMs() const;
    QComboBox* ReportRangeBox() const { return m_reportRange; }
    QPushButton* ExportReportButton() const { return m_exportReport; }

    bool ShowCleared() const;
    const std::vector<AlarmRow>& Alarms() const { return m_alarms; }
    QTreeWidget* List() const { return m_list; }
    QPushButton* AcknowledgeButton() const { return m_acknowledge; }
    QPushButton* MaintenanceButton() const { return m_maintenance; }
    QCheckBox* ShowClearedBox() const { return m_showCleared; }
    // Selects the rows of these alarms (tests and the main window).
    void SelectAlarms(const std::vector<int64_t>& ids);

signals:
    void acknowledgeRequested(const std::vector<int64_t>& ids);
    // The operator puts the device of the selected alarm in maintenance:
    // its alarms silenced for `hours`, for the reason given.
    void maintenanceRequested(const QString& address, int hours, const QString& reason);
    // The operator double-clicked an alarm of this device.
    void deviceRequested(const QString& address);
    // The list wants the alarms again (cleared ones shown or hidden).
    void refreshRequested();
    // The operator asked for the availability report of the chosen range.
    void exportReportRequested(int64_t rangeMs);

private:
    void fill();
    void updateDurations();
    void updateButtons();
    void askMaintenance();
    std::vector<int64_t> selectedUnacknowledged() const;

    std::vector<AlarmRow> m_alarms;
    std::function<int64_t()> m_clock;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_acknowledge = nullptr;
    QPushButton* m_maintenance = nullptr;
    QCheckBox* m_showCleared = nullptr;
    QLabel* m_historyStatus = nullptr;
    QLabel* m_reportLabel = nullptr;
    QComboBox* m_reportRange = nullptr;
    QPushButton* m_exportReport = nullptr;
    QTimer* m_durationTimer = nullptr;
};

} // namespace vireo::ui
