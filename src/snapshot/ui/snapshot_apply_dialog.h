#pragma once

#include "snapshot/apply_runner.h"
#include "snapshot/snapshot.h"

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace vireo {
class DatabaseContent;
class ListManager;
} // namespace vireo

namespace vireo::ui {

// "Apply Snapshot...": the plan for the device as it was read, the sections
// to apply, a confirmation (the Apply button), a progress bar while the
// plan runs on a worker thread through the window's own session, and the
// result: the device matches, or where it stopped and what still differs.
// Closing the dialog while it runs cancels the run after the step in hand.
class SnapshotApplyDialog : public QDialog
{
    Q_OBJECT
public:
    SnapshotApplyDialog(DatabaseContent& content, Snapshot wanted,
                        std::shared_ptr<ListManager> database, const QString& title,
                        QWidget* parent = nullptr);
    ~SnapshotApplyDialog() override;

    // The run has ended (its result is shown).
    bool Finished() const { return m_finished; }
    const ApplyResult& Result() const { return m_result; }
    // Limits of the run (tests shorten them).
    void SetLimits(ApplyRunner::Limits limits) { m_limits = limits; }

public slots:
    void Start();

protected:
    void reject() override;

private:
    struct Progress
    {
        size_t done = 0;
        size_t total = 0;
        QString text;
        bool posted = false;
    };

    unsigned sections() const;
    void showPlan();
    void showProgress();
    void finish(ApplyResult result);

    DatabaseContent& m_content;
    const Snapshot m_wanted;
    std::shared_ptr<ListManager> m_database;
    ApplyRunner::Limits m_limits;

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
    ApplyResult m_result;
    std::mutex m_progressMutex; // the worker's latest progress, painted once per post
    Progress m_latest;
};

// The text of a plan step in the interface's language: the request's name
// from the language table, then what it acts on.
QString PlanStepText(const PlanStep& step);

} // namespace vireo::ui
