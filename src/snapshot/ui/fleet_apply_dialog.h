#pragma once

#include "snapshot/fleet_apply.h"
#include "snapshot/snapshot.h"

#include <QDialog>
#include <atomic>
#include <mutex>
#include <optional>
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
// cannot be reached or does not match afterwards. Before anything is sent it
// shows per device what the plan adds, changes and deletes and the programs
// it would lose (each device's full plan on demand); a plan that loses
// programs needs its box ticked. The snapshot is read and the run goes on a
// worker thread; the dialog shows the device and step in hand and, at the
// end, one line per device, with Resume and Roll Back for a device left part
// way.
class FleetApplyDialog : public QDialog
{
    Q_OBJECT
public:
    FleetApplyDialog(std::vector<FleetApplyDevice> devices, QString file,
                     QWidget* parent = nullptr);
    ~FleetApplyDialog() override;

    bool Finished() const { return m_finished; }
    // The snapshot has been read and the plans are shown.
    bool Planned() const { return m_wanted.has_value(); }
    const FleetApplyResult& Result() const { return m_result; }

public slots:
    void Start();
    void Resume();
    void RollBack();

protected:
    void reject() override;

private:
    unsigned sections() const;
    void planned(std::optional<Snapshot> wanted, std::string error);
    void showPlans();
    void run(std::vector<FleetApplyDevice> devices, bool back);
    void showProgress();
    void finish(FleetApplyResult result, std::string error);

    std::vector<FleetApplyDevice> m_devices;
    QString m_file;
    QCheckBox* m_satellites;
    QCheckBox* m_transponders;
    QCheckBox* m_system;
    QCheckBox* m_allowLoss;
    QCheckBox* m_showPlan;
    QListWidget* m_list;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_apply;
    QPushButton* m_resume;
    QPushButton* m_rollBack;
    QPushButton* m_close;

    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    bool m_finished = false;
    std::optional<Snapshot> m_wanted;
    unsigned m_sections = 0;
    FleetApplyResult m_result;
    // The device a run left part way, and the state saved before its first run.
    std::optional<size_t> m_partly;
    std::string m_originPath;
    std::mutex m_progressMutex;
    QString m_latest;
    int m_deviceIndex = 0;
    bool m_posted = false;
};

} // namespace vireo::ui
