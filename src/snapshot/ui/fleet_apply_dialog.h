#pragma once

#include "snapshot/fleet_apply.h"

#include <QDialog>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace vireo {
class DatabaseContent;
}

namespace vireo::ui {

// One device of a many-device apply: its name and its window's content
// (which outlives the dialog, a modal child of the main window).
struct FleetApplyDevice
{
    QString name;
    DatabaseContent* content = nullptr;
};

// "Apply Snapshot to Selected...": one snapshot onto several devices, one at
// a time through their windows' sessions, stopping at the first device that
// cannot be reached or does not match afterwards. The run goes on a worker
// thread; the dialog shows the device and step in hand and, at the end, one
// line per device.
class FleetApplyDialog : public QDialog
{
    Q_OBJECT
public:
    FleetApplyDialog(std::vector<FleetApplyDevice> devices, QString file,
                     QWidget* parent = nullptr);
    ~FleetApplyDialog() override;

    bool Finished() const { return m_finished; }
    const FleetApplyResult& Result() const { return m_result; }

public slots:
    void Start();

protected:
    void reject() override;

private:
    void showProgress();
    void finish(FleetApplyResult result, std::string error);

    std::vector<FleetApplyDevice> m_devices;
    QString m_file;
    QCheckBox* m_satellites;
    QCheckBox* m_transponders;
    QCheckBox* m_system;
    QListWidget* m_list;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_apply;
    QPushButton* m_close;

    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    bool m_finished = false;
    FleetApplyResult m_result;
    std::mutex m_progressMutex;
    QString m_latest;
    int m_deviceIndex = 0;
    bool m_posted = false;
};

} // namespace vireo::ui
