#include "snapshot/device_dump.h"

#include "database/list_manager.h"
#include "device/device_core.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "log/address_text.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace vireo {

namespace {

using Clock = std::chrono::steady_clock;

// The tool has no window: a refresh the device asks for is run by the main
// loop, everything else the link shows is dropped.
class DumpView : public NullDeviceView
{
public:
    void PostRefresh() override { refreshWanted = true; }

    std::atomic<bool> refreshWanted{false};
};

// Remembers the last log line, for the one-line reason of a failure.
class LastLine : public LogPaneObserver
{
public:
    explicit LastLine(bool echo) : m_echo(echo) {}
    void OnLogLineAdded(const std::string& line) override
    {
        if (m_echo) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::lock_guard lock(m_mutex);
        const size_t cut = line.find("): ");
        m_last = cut == std::string::npos ? line : line.substr(cut + 3);
    }
    void OnLogCleared() override {}
    std::string Get() const
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    const bool m_echo;
    mutable std::mutex m_mutex;
    std::string m_last;
};

// Every list is whole and every single record is held.
bool complete(ListManager& db)
{
    for (int kind : {item_kind::Satellites, item_kind::Tps, item_kind::Tv, item_kind::Radio,
                     item_kind::System, item_kind::Volume, item_kind::Version}) {
        if (!db.IsComplete(kind)) {
            return false;
        }
    }
    if (!db.PlayingKnown()) {
        return false;
    }
    // What plays must be a program of its list (or nothing plays).
    const PlayingRecord playing = db.Playing();
    return playing.Index() == kNoIndex ||
           db.FindProgram(playing.Kind(), playing.Index()) != nullptr;
}

// Asks for the first missing piece, in the order of a refresh.
void requery(ListManager& db)
{
    for (int kind :
         {item_kind::System, item_kind::Volume, item_kind::Version, item_kind::Satellites,
          item_kind::Tps, item_kind::Tv, item_kind::Radio, item_kind::PlayingUnlocked}) {
        if (!db.CheckComplete(kind)) {
            return;
        }
    }
}

} // namespace

DumpResult RunDeviceDump(const DumpOptions& options)
{
    DumpResult result;
    if (!IsValidIPv4Text(options.address)) {
        result.exitCode = 1;
        result.reason = "not an IPv4 address: " + options.address;
        return result;
    }
    SetLanguageFlag(1);
    BuildLanguageTable();

    SessionContext context;
    DumpView view;
    LastLine lastLine(options.verbose);
    DeviceCore core(context, view, options.address + ":", {}, "Logs");
    core.LogPane().SetObserver(&lastLine);
    DeviceSession& session = core.Session();

    const auto deadline = Clock::now() + options.timeLimit;
    if (!session.ConnectAndStart()) {
        result.exitCode = 2;
        result.reason = "cannot connect to " + options.address + ": " + lastLine.Get();
        core.LogPane().SetObserver(nullptr);
        return result;
    }

    auto idleSince = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (view.refreshWanted.exchange(false)) {
            session.RefreshIrd();
        }
        const std::shared_ptr<ListManager> db = core.Database();
        if (!session.linked && !session.threadRunning) {
            result.exitCode = 2;
            result.reason = "connection to " + options.address + " lost: " + lastLine.Get();
            break;
        }
        if (db && db->GaveUp()) {
            result.exitCode = 3;
            result.reason = "the answers of " + options.address +
                            " never completed its lists: " + lastLine.Get();
            break;
        }
        const std::shared_ptr<OperEventQueue> queue = session.Queue();
        const bool idle = session.CurrentCode() == 0 && (queue == nullptr || queue->IsEmpty());
        if (db && db->Loaded() && idle && complete(*db)) {
            result.json = DatabaseJson(*db);
            break;
        }
        if (!idle) {
            idleSince = Clock::now();
        } else if (db && db->Loaded() && Clock::now() - idleSince >= options.idleRequery) {
            requery(*db); // a reply was lost: ask again for what is missing
            idleSince = Clock::now();
        }
        if (Clock::now() >= deadline) {
            result.exitCode = 3;
            result.reason = "no complete refresh of " + options.address + " within " +
                            std::to_string(options.timeLimit.count() / 1000) + " s";
            break;
        }
    }
    core.LogPane().SetObserver(nullptr);
    core.Teardown();
    return result;
}

} // namespace vireo
