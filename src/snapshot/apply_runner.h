#pragma once

#include "snapshot/apply_plan.h"
#include "snapshot/device_read.h"
#include "snapshot/snapshot_diff.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <span>
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
};

struct ApplyResult
{
    // The chosen sections of the device match the snapshot.
    bool matches = false;
    // Why the run stopped before its end (UTF-8); empty when it ran through.
    std::string stopped;
    // The step the device refused or never answered, when that stopped it.
    std::string failedStep;
    std::vector<std::string> done; // texts of the steps the device took
    ApplyPlan initialPlan;         // as planned from the first read
    SnapshotDiff remaining;        // snapshot (a) against the device after the run (b)
    bool remainingKnown = false;   // the device could be read after the run
};

// Runs the plan that makes a device's chosen sections match a snapshot,
// through the device's own session, one request at a time: each waits for
// its answer (the changed record or a status), a refusal ends the run with
// its status text. After a stage that adds or deletes records the device is
// read again and the rest planned from what it holds, so a device that
// renumbers its lists is followed rather than guessed; changes in place are
// planned on from the changed records the device answered with. The rounds are bounded: a device
// that keeps confirming changes it does not hold ends the run, as does one that refuses a satellite
// for want of room. At the end the device is read once more and what still differs is reported.
class ApplyRunner
{
public:
    struct Limits
    {
        std::chrono::milliseconds readLimit{60000};   // each full read of the device
        std::chrono::milliseconds answerLimit{30000}; // each request's answer
        int maxRounds = 6;                            // stages planned and run
    };

    ApplyRunner(DeviceRead reader, Limits limits);
    ApplyRunner(DeviceRead reader) : ApplyRunner(std::move(reader), Limits{}) {}

    // `current`: the device's database as already read (null: read it first).
    ApplyResult Run(const Snapshot& wanted, unsigned sections,
                    std::shared_ptr<ListManager> current = nullptr,
                    ApplyListener* listener = nullptr);

private:
    enum class Sent { Answered, Refused, Unanswered, LinkLost, Cancelled };
    // Sends `step` (unless the step before it sent it on) and waits for its
    // answer; `chain`, the steps after it, may go out as each is taken.
    Sent send(const PlanStep& step, std::span<const PlanStep> chain, ListManager& database,
              std::string* why);
    std::string readFailure(DeviceRead::Outcome outcome) const;

    class AnswerWatch;

    DeviceRead m_reader;
    const Limits m_limits;
    std::shared_ptr<AnswerWatch> m_watch; // while Run runs
};

} // namespace vireo
