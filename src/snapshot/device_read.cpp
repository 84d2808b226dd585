#include "snapshot/device_read.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "link/device_session.h"

#include <thread>

namespace vireo {

using Clock = std::chrono::steady_clock;

bool DatabaseComplete(ListManager& db)
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

void RequestFirstMissing(ListManager& db)
{
    for (int kind :
         {item_kind::System, item_kind::Volume, item_kind::Version, item_kind::Satellites,
          item_kind::Tps, item_kind::Tv, item_kind::Radio, item_kind::PlayingUnlocked}) {
        if (!db.CheckComplete(kind)) {
            return;
        }
    }
}

DeviceRead::Outcome DeviceRead::Wait(const ListManager* replaced, Clock::time_point deadline,
                                     std::shared_ptr<ListManager>* database)
{
    DeviceSession& session = content.Session();
    auto idleSince = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (cancel != nullptr && cancel->load()) {
            return Outcome::Cancelled;
        }
        if (serviceRefresh) {
            serviceRefresh();
        }
        const std::shared_ptr<ListManager> db = content.Database();
        if (!session.linked && !session.threadRunning) {
            return Outcome::LinkLost;
        }
        if (db && db->GaveUp()) {
            return Outcome::GaveUp;
        }
        const std::shared_ptr<OperEventQueue> queue = session.Queue();
        const bool idle = session.CurrentCode() == 0 && (queue == nullptr || queue->IsEmpty());
        const bool fresh = db && db.get() != replaced && db->Loaded();
        if (fresh && idle && DatabaseComplete(*db)) {
            *database = db;
            return Outcome::Complete;
        }
        if (!idle) {
            idleSince = Clock::now();
        } else if (fresh && Clock::now() - idleSince >= idleRequery) {
            RequestFirstMissing(*db); // a reply was lost: ask again for what is missing
            idleSince = Clock::now();
        }
        if (Clock::now() >= deadline) {
            return Outcome::TimedOut;
        }
    }
}

DeviceRead::Outcome DeviceRead::Refresh(Clock::time_point deadline,
                                        std::shared_ptr<ListManager>* database)
{
    const std::shared_ptr<ListManager> before = content.Database();
    content.Session().RefreshIrd();
    return Wait(before.get(), deadline, database);
}

} // namespace vireo
