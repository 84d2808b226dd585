#pragma once

#include "snapshot/apply_plan.h"
#include "snapshot/device_read.h"
#include "snapshot/snapshot_diff.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vireo {

// Hears how a run goes. Called on the thread that runs it.
class ApplyListener
{
public:
    virtual ~ApplyListener() = default;
    // Step `done` of about `total` begins (the total grows when a later
    // stage, planned from a fresh read, holds more than foreseen).
    virtual void OnStep(size_t /*done*/, size_t /*total*/, const std::string& /*text*/) {}
    // The device is being read again.
    virtual void OnReading() {}
    // Before the first request: where the device's state was saved and the
    // journal is kept.
    virtual void OnRecorded(const std::string& /*beforeState*/, const std::string& /*journal*/) {}
};

// How a run is recorded and what it may do.
struct ApplyRunOptions
{
    // Programs may go with the TPs and satellites the plan deletes. Without
    // it a plan that drops any is not run.
    bool allowProgramLoss = false;
    // Where the before-state and the journal are written ("<folder>/<address>-
    // <time>.before.json", ".journal"). Empty: nothing is written (planning
    // tests, benchmarks of the bare run).
    std::string recordFolder;
    std::string address; // names the files
    // A run that goes on from an earlier one's journal: the before-state of
    // the first run, kept in this run's journal (what a roll back returns
    // to) and used for the check of programs. Null: this run's first read.
    const Snapshot* origin = nullptr;
    std::string originPath;
};

struct ApplyResult
{
    // The chosen sections of the device match the snapshot.
    bool matches = false;
    // Why the run stopped before its end (UTF-8, one line); empty when it
    // ran through.
    std::string stopped;
    // Why, as a kind a window words in its own language.
    enum class Stop {
        None,
        Refused,
        LinkLost,
        NoAnswer,
        Cancelled,
        NotSaved,
        NotKept,        // the device confirmed steps and does not hold their result
        ReadFailed,     // the device could not be read again
        NoSatellite,    // an added TP's satellite is not on the device
        LossNotAllowed, // the rest of the plan would drop programs
        JournalFailed,  // a group's line could not be written; it was not sent
        Other
    };
    Stop stop = Stop::None;
    int refusal = 0; // the status of a refusal
    // The step the device refused or never answered, when that stopped it.
    std::string failedStep;
    // That step was sent and its answer never came: the device may hold it.
    bool failedStepInDoubt = false;
    // The plan drops programs and the run was not allowed to: nothing sent.
    bool programLossRefused = false;
    size_t sent = 0;                    // requests sent to the device
    std::vector<std::string> done;      // texts of the steps the device took
    std::vector<std::string> stepsLeft; // steps not done when the run stopped
    std::vector<PlanStep> doneSteps;    // the same as steps, for a window's own words
    std::vector<PlanStep> leftSteps;
    ApplyPlan initialPlan;       // as planned from the first read
    SnapshotDiff remaining;      // snapshot (a) against the device after the run (b)
    bool remainingKnown = false; // the device was read after the run
    std::string beforeStatePath; // written before the first request
    std::string journalPath;

    // Stopped after something was sent: the device holds part of the plan.
    bool PartlyApplied() const { return !stopped.empty() && sent > 0; }
};

class ApplyRunner
{
public:
    struct Limits
    {
        std::chrono::milliseconds readLimit{60000};   // each full read of the device
        std::chrono::milliseconds answerLimit{30000}; // each request's answer
        int maxRounds = 6; // stages planned and run, beyond one per step first planned
    };

    ApplyRunner(DeviceRead reader, Limits limits);
    ApplyRunner(DeviceRead reader) : ApplyRunner(std::move(reader), Limits{}) {}

    // `current`: the device's database as already read (null: read it first).
    ApplyResult Run(const Snapshot& wanted, unsigned sections,
                    std::shared_ptr<ListManager> current = nullptr,
                    ApplyListener* listener = nullptr, const ApplyRunOptions& options = {});

private:
    enum class Sent { Answered, Refused, Unanswered, LinkLost, Cancelled };
    // Sends `step` and waits for its answer; a refusal's status goes to
    // *status.
    Sent send(const PlanStep& step, ListManager& database, std::string* why, int* status);
    std::string readFailure(DeviceRead::Outcome outcome) const;

    class AnswerWatch;

    DeviceRead m_reader;
    const Limits m_limits;
    std::shared_ptr<AnswerWatch> m_watch; // while Run runs
};

} // namespace vireo
