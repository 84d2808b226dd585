#include "snapshot/apply_runner.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "lang/gbk_text.h"
#include "lang/language_table.h"
#include "link/device_observer.h"
#include "link/device_session.h"
#include "link/message_code.h"
#include "log/log_buffer.h"
#include "snapshot/apply_journal.h"
#include "snapshot/apply_rows.h"
#include "snapshot/apply_verify.h"
#include "snapshot/snapshot_document.h"
#include "snapshot/snapshot_match.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vireo {

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

// The answers the session reports while a step waits. Every step goes out
// from the run's own thread, after its line is in the journal; the run's
// thread is woken by each answer and by a lost link.
class ApplyRunner::AnswerWatch : public DeviceObserver
{
public:
    explicit AnswerWatch(DeviceSession& session) : m_session(session) {}

    // The run's thread is about to send `step`: the number of the answers
    // that belong to it.
    uint64_t Begin(const PlanStep& step)
    {
        std::lock_guard lock(m_mutex);
        m_linkLost = false; // a loss during a read before this step was lived through
        m_code = step.code;
        return ++m_sequence;
    }

    // The link went down since the step began.
    bool LinkLost()
    {
        std::lock_guard lock(m_mutex);
        return m_linkLost;
    }

    void OnEvent(const DeviceEvent& event) override
    {
        if (event.kind == DeviceEvent::Kind::LinkLost) {
            // The session would send the request in flight again on the
            // next link, where an add is a second record and a delete's
            // index may name another one: the run stops instead, and what
            // the device took is learned by reading it again.
            uint8_t code = 0;
            {
                std::lock_guard lock(m_mutex);
                m_linkLost = true;
                code = m_code;
            }
            if (code != 0) {
                m_session.ReleaseIfCurrent(code);
            }
            m_changed.notify_all();
            return;
        }
        if (event.kind != DeviceEvent::Kind::CommandAnswered) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_events.size() < kMaxHeld) {
                m_events.push_back({m_sequence, event});
            }
        }
        m_changed.notify_all();
    }

    // The next answer to the step numbered `sequence`, waiting at most `wait`;
    // answers to steps before it are dropped.
    std::optional<DeviceEvent> Next(uint64_t sequence, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        const auto ready = [&] {
            while (!m_events.empty() && m_events.front().sequence < sequence) {
                m_events.pop_front();
            }
            return m_linkLost || (!m_events.empty() && m_events.front().sequence == sequence);
        };
        if (!m_changed.wait_for(lock, wait, ready) || m_events.empty() ||
            m_events.front().sequence != sequence) {
            return std::nullopt;
        }
        DeviceEvent event = std::move(m_events.front().event);
        m_events.pop_front();
        return event;
    }

private:
    struct Held
    {
        uint64_t sequence;
        DeviceEvent event;
    };
    // A device that floods answers costs no memory.
    static constexpr size_t kMaxHeld = 512;

    DeviceSession& m_session;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Held> m_events;
    uint64_t m_sequence = 0; // the step last sent
    uint8_t m_code = 0;      // the request code of the step last sent
    bool m_linkLost = false;
};

namespace {

// What a refusal's status says, after ": "; nothing for a status without a text.
std::string statusText(int status)
{
    constexpr int kRowStatusBusy = 171;  // "IRD is in the status, while IRD can't respond message!"
    constexpr int kRowOutOfManage = 191; // "Such request is out of the manage of IRD"
    switch (status) {
    case 4:
        return ": " + GbkToUtf8(GetLangText(kRowStatusBusy));
    case 7:
        return ": " + GbkToUtf8(GetLangText(kRowOutOfManage));
    case 12:
        return ": no such record";
    default:
        return "";
    }
}

// Statuses after which the session sends the request again by itself: the
// step goes on waiting.
bool passing(int status)
{
    return status == 1 || status == 2 || status == 4 || status == 35;
}

bool changesNumbering(const PlanStep& step)
{
    return step.ChangesNumbering();
}

// Records both reads hold under other indices: the device numbered its
// lists anew after an add or a delete.
bool renumbered(const Snapshot& was, const Snapshot& now)
{
    const SnapshotMatch m = MatchSnapshots(was, now);
    for (size_t i = 0; i < was.satellites.size(); ++i) {
        if (m.satellites[i] >= 0 &&
            was.satellites[i].Index() != now.satellites[m.satellites[i]].Index()) {
            return true;
        }
    }
    for (size_t i = 0; i < was.transponders.size(); ++i) {
        if (m.transponders[i] >= 0 &&
            was.transponders[i].Index() != now.transponders[m.transponders[i]].Index()) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> textsOf(const std::vector<PlanStep>& steps)
{
    std::vector<std::string> texts;
    for (const PlanStep& s : steps) {
        texts.push_back(s.text);
    }
    return texts;
}

// Marks the record a delete names as the database's pending removal, as the
// program menu's delete does, so the confirmation removes it from the lists.
void markPendingDelete(ListManager& db, const PlanStep& step)
{
    if (step.payload.empty()) {
        return;
    }
    if (step.code == msg::DeleteTp) {
        std::lock_guard lock(db.TpLock());
        if (TpRecord* record = db.FindTp(step.payload[0])) {
            db.SetPendingTp(record);
        }
    } else if (step.code == msg::DeleteSatellite) {
        std::lock_guard lock(db.SatelliteLock());
        if (SatelliteRecord* record = db.FindSatellite(step.payload[0])) {
            db.SetPendingSatellite(record);
        }
    }
}

} // namespace

ApplyRunner::ApplyRunner(DeviceRead reader, Limits limits)
    : m_reader(std::move(reader)), m_limits(limits)
{}

std::string ApplyRunner::readFailure(DeviceRead::Outcome outcome) const
{
    switch (outcome) {
    case DeviceRead::Outcome::LinkLost:
        return "the connection to the device was lost";
    case DeviceRead::Outcome::GaveUp:
        return "the device's answers never completed its lists";
    case DeviceRead::Outcome::Cancelled:
        return "cancelled";
    default:
        return "the device could not be read within " +
               std::to_string(m_limits.readLimit.count() / 1000) + " s";
    }
}

ApplyRunner::Sent ApplyRunner::send(const PlanStep& step, ListManager& database, std::string* why,
                                    int* status)
{
    DeviceSession& session = m_reader.content.Session();
    AnswerWatch* watch = m_watch.get();
    const uint64_t sequence = watch->Begin(step);
    const bool deletes = step.code == msg::DeleteTp || step.code == msg::DeleteSatellite;
    if (deletes) {
        markPendingDelete(database, step);
        session.deletePending = true;
    }
    if (session.SendRequest(step.code, 0, 0, step.payload)) {
        *why = "the request could not be queued";
        return Sent::Unanswered;
    }
    const auto deadline = Clock::now() + m_limits.answerLimit;
    // The request has been seen in flight, and since when it is not: a
    // request that leaves without an answer ran out of sends. Its answer, if
    // it had one, is reported right after it is let go: a moment's grace.
    bool seenInFlight = false;
    std::optional<Clock::time_point> goneSince;
    for (;;) {
        if (m_reader.cancel != nullptr && m_reader.cancel->load()) {
            *why = "cancelled";
            return Sent::Cancelled;
        }
        if (watch->LinkLost() || (!session.linked && !session.threadRunning)) {
            session.ReleaseIfCurrent(step.code);
            *why = "the connection to the device was lost";
            return Sent::LinkLost;
        }
        if (Clock::now() >= deadline) {
            session.ReleaseIfCurrent(step.code);
            *why = "no answer within " + std::to_string(m_limits.answerLimit.count() / 1000) + " s";
            return Sent::Unanswered;
        }
        const bool inFlight = session.CurrentCode() == step.code;
        seenInFlight = seenInFlight || inFlight;
        if (seenInFlight && !inFlight) {
            if (!goneSince) {
                goneSince = Clock::now();
            } else if (Clock::now() - *goneSince > std::chrono::milliseconds(500)) {
                *why = "the device did not answer";
                return Sent::Unanswered;
            }
        }
        const std::optional<DeviceEvent> event =
            watch->Next(sequence, std::chrono::milliseconds(50));
        if (!event || event->request != step.code || passing(event->code)) {
            continue;
        }
        if (event->code == 0) {
            return Sent::Answered;
        }
        // The dispatcher keeps some refused requests in flight until their
        // time-outs; the refusal is the answer, so none is sent again.
        session.ReleaseIfCurrent(step.code);
        *status = event->code;
        *why = "refused by the device" + statusText(event->code) + " (status " +
               std::to_string(event->code) + ")";
        return Sent::Refused;
    }
}

namespace {

// Saves the device's state and begins the journal, before the first write.
std::unique_ptr<ApplyJournal> beginRecord(ListManager& db, const Snapshot& wanted,
                                          unsigned sections, const ApplyPlan& plan,
                                          const ApplyRunOptions& options, ApplyResult& result)
{
    const std::string stem = ApplyRecordStem(options.recordFolder, options.address);
    std::string error;
    SnapshotHeader header;
    header.address = options.address;
    result.beforeStatePath = stem + ".before.json";
    if (!WriteFileSynced(result.beforeStatePath, DatabaseJson(db, header), &error)) {
        result.beforeStatePath.clear();
        result.stopped = "the device's state could not be saved before the first change (" + error +
                         "); nothing was sent";
        return nullptr;
    }
    JournalHead head;
    head.address = options.address;
    head.sections = sections;
    head.beforeState = options.originPath.empty() ? result.beforeStatePath : options.originPath;
    head.targetDocument = SnapshotJson(wanted);
    head.plan = textsOf(plan.steps);
    std::unique_ptr<ApplyJournal> journal = ApplyJournal::Create(stem + ".journal", head, &error);
    if (!journal) {
        result.stopped = "the journal could not be written (" + error + "); nothing was sent";
        return nullptr;
    }
    result.journalPath = journal->Path();
    return journal;
}

} // namespace

ApplyResult ApplyRunner::Run(const Snapshot& wanted, unsigned sections,
                             std::shared_ptr<ListManager> db, ApplyListener* listener,
                             const ApplyRunOptions& options)
{
    ApplyResult result;
    // One watch for the whole run, on the session's observers while it lasts.
    DeviceSession& session = m_reader.content.Session();
    m_watch = std::make_shared<AnswerWatch>(session);
    session.Observers().Add(m_watch);
    struct Unwatch
    {
        DeviceSession& session;
        std::shared_ptr<AnswerWatch>& watch;
        ~Unwatch()
        {
            session.Observers().Remove(watch.get());
            watch.reset();
        }
    } unwatch{session, m_watch};
    auto read = [&](bool refresh) {
        if (listener != nullptr) {
            listener->OnReading();
        }
        const auto deadline = Clock::now() + m_limits.readLimit;
        const DeviceRead::Outcome outcome =
            refresh ? m_reader.Refresh(deadline, &db) : m_reader.Wait(nullptr, deadline, &db);
        if (outcome != DeviceRead::Outcome::Complete) {
            result.stopped = readFailure(outcome);
            return false;
        }
        return true;
    };
    if (!db && !read(false)) {
        return result;
    }

    const Snapshot first = SnapshotOf(*db);
    const Snapshot& origin = options.origin != nullptr ? *options.origin : first;
    ApplyPlan plan = PlanApply(wanted, first, sections);
    result.initialPlan = plan;
    const auto refuseLoss = [&](const ApplyPlan& p) {
        if (options.allowProgramLoss || p.ProgramsLost() == 0) {
            return false;
        }
        result.programLossRefused = true;
        result.stopped = std::to_string(p.ProgramsLost()) +
                         " programs would be lost with the TPs and satellites the plan deletes, "
                         "and losing them was not allowed";
        result.stepsLeft = textsOf(p.steps);
        result.leftSteps = p.steps;
        result.stop = ApplyResult::Stop::LossNotAllowed;
        return true;
    };
    if (refuseLoss(plan)) {
        return result;
    }
    std::unique_ptr<ApplyJournal> journal;
    if (!plan.Empty() && !options.recordFolder.empty()) {
        journal = beginRecord(*db, wanted, sections, plan, options, result);
        if (!journal) {
            result.stop = ApplyResult::Stop::NotSaved;
            result.stepsLeft = textsOf(plan.steps);
            result.leftSteps = plan.steps;
            return result;
        }
        LogBuffer& log = session.Log();
        log.AddLogLine(GetLangText(apply_row::StateSaved) + result.beforeStatePath);
        log.AddLogLine(GetLangText(apply_row::Journal) + result.journalPath);
        if (listener != nullptr) {
            listener->OnRecorded(result.beforeStatePath, result.journalPath);
        }
    }
    const auto stop = [&](const std::string& why, const std::string& step) {
        if (result.stop == ApplyResult::Stop::None) {
            result.stop = ApplyResult::Stop::Other;
        }
        result.stopped = why;
        result.failedStep = step;
        if (journal) {
            journal->Finished("stopped: " + (step.empty() ? why : step + ": " + why));
        }
    };

    size_t done = 0;
    size_t total = plan.steps.size();
    bool fresh = true; // `db` was read after the last step; the device is read at the end
    std::vector<std::string> previousStage;
    const int maxRounds = m_limits.maxRounds + static_cast<int>(plan.steps.size());
    // Until a read after an add or a delete shows otherwise, the device may
    // renumber its lists after each: every add is followed by a read.
    bool mayRenumber = true;
    Snapshot lastRead = first;
    for (int round = 0; !plan.Empty(); ++round) {
        const std::vector<PlanStep> stage = plan.FirstStage(mayRenumber);
        if (round >= maxRounds || textsOf(stage) == previousStage) {
            // The device confirmed these steps and does not hold their result.
            result.stepsLeft = textsOf(plan.steps);
            result.stop = ApplyResult::Stop::NotKept;
            stop("the device does not keep what it confirmed", stage.front().text);
            return result;
        }
        previousStage = textsOf(stage);
        // The steps that go out now are named in the journal together, with
        // one flush, before the first of them is sent.
        if (journal) {
            std::vector<std::string> group;
            for (size_t i = 0; i < stage.size() && !stage[i].awaitsSatellite; ++i) {
                group.push_back(stage[i].text);
            }
            if (!group.empty() && !journal->Intending(done + 1, group)) {
                result.stepsLeft = textsOf(plan.steps);
                result.leftSteps = plan.steps;
                result.stop = ApplyResult::Stop::JournalFailed;
                stop("the journal could not be written; the step was not sent", stage.front().text);
                return result;
            }
        }
        for (size_t i = 0; i < stage.size(); ++i) {
            const PlanStep& step = stage[i];
            if (step.awaitsSatellite) {
                for (size_t k = i; k < stage.size(); ++k) {
                    result.stepsLeft.push_back(stage[k].text);
                }
                result.stop = ApplyResult::Stop::NoSatellite;
                stop("its satellite is not on the device", step.text);
                return result;
            }
            if (listener != nullptr) {
                listener->OnStep(done + 1, std::max(total, done + 1), step.text);
            }
            fresh = false;
            if (journal) {
                // Its group's line is on the disk already: a failure to
                // write this one loses nothing a resume needs.
                journal->Sending(done + 1);
            }
            std::string why;
            int status = 0;
            const Sent sent = send(step, *db, &why, &status);
            ++result.sent; // whatever came back, the device may have it
            if (sent != Sent::Answered) {
                result.failedStepInDoubt = sent != Sent::Refused;
                // What is left of the plan, as far as the last read tells.
                for (size_t k = i; k < plan.steps.size(); ++k) {
                    result.stepsLeft.push_back(plan.steps[k].text);
                    result.leftSteps.push_back(plan.steps[k]);
                }
                result.stop = sent == Sent::Refused     ? ApplyResult::Stop::Refused
                              : sent == Sent::LinkLost  ? ApplyResult::Stop::LinkLost
                              : sent == Sent::Cancelled ? ApplyResult::Stop::Cancelled
                                                        : ApplyResult::Stop::NoAnswer;
                result.refusal = status;
                stop(why, step.text);
                return result;
            }
            ++done;
            if (journal) {
                journal->Done(done);
            }
            result.done.push_back(step.text);
            result.doneSteps.push_back(step);
        }
        if (journal) {
            journal->Flush();
        }
        // Records come and go: the device may have renumbered its lists, so
        // it is read again. Changes in place were answered with the changed
        // records, which the database holds: the rest is planned from them.
        if (std::any_of(stage.begin(), stage.end(), changesNumbering)) {
            if (!read(true)) {
                const std::string why = result.stopped;
                plan = PlanApply(wanted, SnapshotOf(*db), sections);
                result.stepsLeft = textsOf(plan.steps);
                result.stop = ApplyResult::Stop::ReadFailed;
                stop("reading the device after the last step: " + why, "");
                return result;
            }
            fresh = true;
            Snapshot now = SnapshotOf(*db);
            mayRenumber = mayRenumber && renumbered(lastRead, now);
            lastRead = std::move(now);
        } else {
            lastRead = SnapshotOf(*db);
        }
        plan = PlanApply(wanted, lastRead, sections);
        if (refuseLoss(plan)) {
            // What the device holds now differs from the first read: the
            // rest would drop programs.
            stop(result.stopped, "");
            return result;
        }
        total = done + plan.steps.size();
    }

    if (!fresh && !read(true)) {
        result.stop = ApplyResult::Stop::ReadFailed;
        stop("reading the device after the last step: " + result.stopped, "");
        return result;
    }
    result.remaining = VerifyApplied(wanted, SnapshotOf(*db), origin, sections);
    result.remainingKnown = true;
    result.matches = result.remaining.Empty();
    if (journal) {
        journal->Finished(result.matches ? "matches" : "differs");
    }
    return result;
}

} // namespace vireo
