#pragma once

#include "snapshot/apply_runner.h"
#include "snapshot/snapshot.h"

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

// "Apply Snapshot...": the sections to apply, what the plan adds, changes
// and deletes and the programs it would lose (the full plan on demand), a
// confirmation (the Apply button; a plan that loses programs also needs its
// box ticked), a progress bar while the plan runs on a worker thread through
// the window's own session, and the result: the device matches, or where it
// stopped and why, with Resume and Roll Back for a device left part way.
// The device's state is saved and a journal kept in the working folder's
// Applies/ before the first request. Closing the dialog while it runs
// cancels the run after the step in hand.
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
    // The device's address, which names its saved state and journal.
    void SetAddress(std::string address) { m_address = std::move(address); }

public slots:
    void Start();
    // After a run left the device part way: plan again from a fresh read,
    // towards the snapshot or back to the state saved before the first run.
    void Resume();
    void RollBack();

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
    void run(bool back);

    DatabaseContent& m_content;
    const Snapshot m_wanted;
    std::shared_ptr<ListManager> m_database;
    ApplyRunner::Limits m_limits;

    QCheckBox* m_satellites;
    QCheckBox* m_transponders;
    QCheckBox* m_system;
    QLabel* m_summary;
    QCheckBox* m_allowLoss;
    QCheckBox* m_showPlan;
    QListWidget* m_list;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_apply;
    QPushButton* m_resume;
    QPushButton* m_rollBack;
    QPushButton* m_close;
    std::string m_address = "device";
    unsigned m_sections = 0;          // as chosen for the first run
    std::optional<Snapshot> m_origin; // the device before the first run
    Snapshot m_target;                // what the run in hand goes to
    std::string m_originPath;

    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    bool m_finished = false;
    ApplyResult m_result;
    std::mutex m_progressMutex; // the worker's latest progress, painted once per post
    Progress m_latest;
};

// A system setting's name ("polling_interval") in the interface's language.
QString SystemFieldText(const std::string& field);

// The text of a plan step in the interface's language: the request's name
// from the language table, then what it acts on and what it loses.
QString PlanStepText(const PlanStep& step);

// What a plan adds, changes and deletes and the programs it loses, a line
// each, in the interface's language.
QString PlanSummaryText(const ApplyPlan& plan);

// Why a run stopped, in the interface's language: the step and the reason
// once.
QString StopText(const ApplyResult& result);

} // namespace vireo::ui
