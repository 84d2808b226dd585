// The writer thread of HistoryWriter: batches, commits, pauses, beats.

#include "history/history_writer.h"
#include "history/history_writer_impl.h"

namespace vireo {

using namespace writer_detail;

void HistoryWriter::Impl::Run(HistoryWriter& w)
{
    const Options& options = w.m_options;
    auto nextTick = Clock::now();
    std::vector<Record> batch;
    std::vector<std::function<void(int64_t)>> tickersCopy;
    bool lastTry = true;
    auto nextSync = Clock::now();
    for (;;) {
        bool stopping;
        uint64_t taken;
        {
            std::unique_lock lock(mutex);
            // A batch waits for batchMs or batchRows, whichever comes first;
            // the tick keeps its pace meanwhile.
            const auto batchDue = Clock::now() + std::chrono::milliseconds(options.batchMs);
            auto wakeAt = std::min(batchDue, nextTick);
            wake.wait_until(lock, wakeAt, [&] {
                return stop || flushWanted || queue.size() >= options.batchRows;
            });
            stopping = stop;
            flushWanted = false;
            // A long queue gives up its front only.
            queue.TakeFront(batch, std::min(queue.size(), options.batchRows));
            if (!queue.empty()) {
                flushWanted = true; // the rest goes at once
            }
            taken = batch.size();
            tickersCopy = tickers;
        }
        // Taken records count as done once committed, held or dropped (a
        // Flush never waits for a full disk); requeued ones when taken again.
        bool requeued = false;

        const int64_t maxPages = w.m_maxPages.load();
        if (maxPages != pageLimit) {
            pageLimit = maxPages;
            pausedUntil = {}; // room may have come: try again now
            // SQLite's own ceiling stands for none.
            const std::string limit =
                "PRAGMA max_page_count=" + std::to_string(maxPages > 0 ? maxPages : 4294967294LL);
            database->Exec(limit.c_str());
        }
        const auto now = Clock::now();
        const bool retryDue = !held.empty() && now >= pausedUntil;
        if (!batch.empty() || retryDue) {
            if (w.m_paused && now < pausedUntil) {
                Hold(w, batch); // samples go, the rest waits for the disk
            } else {
                // What waited goes first: a period's end after its begin.
                const size_t wasHeld = held.size();
                if (!held.empty()) {
                    batch.insert(batch.begin(), std::make_move_iterator(held.begin()),
                                 std::make_move_iterator(held.end()));
                    held.clear();
                }
                bool retention = false;
                int error = SQLITE_OK;
                if (Commit(w, batch, retention, error)) {
                    Resumed(w);
                    w.m_committed.fetch_add(batch.size(), std::memory_order_relaxed);
                    w.m_rulesInFlight.fetch_sub(rulesIn(batch));
                    if (retention) {
                        const int64_t nowMs = w.m_clock.NowMs();
                        for (int step = 0; step < 100000 && !PruneStep(options.retention, nowMs);
                             ++step) {
                        }
                    }
                } else {
                    Failed(w, error, now);
                    if (Requeue(w, batch, wasHeld, error)) {
                        requeued = true;
                    } else {
                        Hold(w, batch);
                    }
                }
            }
            w.m_pending.store(held.size(), std::memory_order_relaxed);
            batch.clear();
        }
        if (!requeued) {
            std::lock_guard lock(mutex);
            done += taken;
        }
        flushed.notify_all();

        const auto tickNow = Clock::now();
        if (tickNow >= nextTick) {
            nextTick = tickNow + std::chrono::milliseconds(options.tickMs);
            const int64_t nowMs = w.m_clock.NowMs();
            for (const auto& ticker : tickersCopy) {
                ticker(nowMs);
            }
            if (!w.m_paused && tickNow >= nextSync) {
                nextSync = tickNow + std::chrono::milliseconds(options.syncMs);
                Sync(w, nowMs);
            }
            if (!w.m_paused && held.empty() && nowMs >= nextPruneMs) {
                nextPruneMs = nowMs + options.retention.stepEveryMs;
                PruneStep(options.retention, nowMs);
            }
        }
        if (stopping) {
            std::lock_guard lock(mutex);
            if (queue.empty() && (held.empty() || !lastTry)) {
                ended = true;
                break;
            }
            if (queue.empty()) {
                lastTry = false; // one more commit of what waits, then the end
                pausedUntil = {};
                w.m_paused = false;
            }
        }
    }
    registry.End(database->Handle(), w.m_clock.NowMs());
    if (!held.empty()) {
        w.m_lost.fetch_add(held.size(), std::memory_order_relaxed);
        if (w.m_log) {
            w.m_log("history: " + std::to_string(held.size()) +
                    " alarm, period and event records could not be written before the end");
        }
        held.clear();
        w.m_pending = 0;
    }
    flushed.notify_all();
}

void HistoryWriter::Impl::Sync(HistoryWriter& w, int64_t nowMs)
{
    const int rc = registry.Beat(database->Handle(), nowMs, w.m_options.writerDeadMs);
    w.m_writerId = registry.Id();
    if (rc != SQLITE_OK) {
        return; // busy or full: the next beat tries again
    }
    std::vector<std::function<void(HistoryDatabase&, int64_t, int64_t)>> copy;
    {
        std::lock_guard lock(mutex);
        copy = syncs;
    }
    for (const auto& sync : copy) {
        sync(*database, registry.Id(), nowMs);
    }
}

bool HistoryWriter::Impl::Requeue(HistoryWriter& w, std::vector<Record>& batch, size_t wasHeld,
                                  int error)
{
    const int primary = error & 0xFF;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) {
        return false;
    }
    std::lock_guard lock(mutex);
    if (stop || queue.size() + batch.size() > w.m_options.queueCapacity) {
        return false; // ending, or no room: the samples go, the rest is held
    }
    // Another program held the file: what waited waits on, the batch goes
    // again, samples and all.
    const auto split = batch.begin() + static_cast<std::ptrdiff_t>(wasHeld);
    held.assign(std::make_move_iterator(batch.begin()), std::make_move_iterator(split));
    queue.PushFront(split, batch.end());
    return true;
}

void HistoryWriter::Impl::Hold(HistoryWriter& w, std::vector<Record>& batch)
{
    uint64_t samples = 0;
    for (Record& record : batch) {
        if (std::holds_alternative<SampleRecord>(record)) {
            ++samples;
        } else if (!std::holds_alternative<RetentionRecord>(record)) {
            held.push_back(std::move(record));
        }
    }
    w.m_dropped.fetch_add(samples, std::memory_order_relaxed);
    const size_t capacity = std::max<size_t>(w.m_options.heldCapacity, 1);
    if (held.size() <= capacity) {
        return;
    }
    // Over the bound: events go first, oldest first; alarms, periods and
    // rules only when nothing else is left to let go. Each is counted.
    size_t excess = held.size() - capacity;
    uint64_t lost = 0;
    for (auto it = held.begin(); excess > 0 && it != held.end();) {
        if (std::holds_alternative<EventRecord>(*it)) {
            it = held.erase(it);
            --excess;
            ++lost;
        } else {
            ++it;
        }
    }
    if (excess > 0) {
        std::vector<Record> gone(std::make_move_iterator(held.begin()),
                                 std::make_move_iterator(held.begin() + excess));
        w.m_rulesInFlight.fetch_sub(rulesIn(gone));
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(excess));
        lost += excess;
    }
    w.m_lost.fetch_add(lost, std::memory_order_relaxed);
}

void HistoryWriter::Impl::Resumed(HistoryWriter& w)
{
    if (w.m_paused && w.m_log) {
        w.m_log("history: recording resumed");
    }
    w.m_paused = false;
    w.m_pauseReason = PauseReason::None;
    w.m_pausedSinceMs = 0;
    pausedUntil = {};
    failureLogged = false;
}

void HistoryWriter::Impl::Failed(HistoryWriter& w, int error, Clock::time_point now)
{
    w.m_writeErrors.fetch_add(1, std::memory_order_relaxed);
    deviceIds.clear(); // rows made in the rolled-back transaction are gone
    for (auto it = movedInBatch.rbegin(); it != movedInBatch.rend(); ++it) {
        if (it->second) {
            movedTo[it->first] = *it->second;
        } else {
            movedTo.erase(it->first);
        }
    }
    movedInBatch.clear();
    const int primary = error & 0xFF;
    if (primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) {
        const PauseReason reason =
            primary == SQLITE_FULL ? PauseReason::DiskFull : PauseReason::IoError;
        pausedUntil = now + std::chrono::milliseconds(w.m_options.fullDiskRetryMs);
        if (!w.m_paused) {
            w.m_pausedSinceMs = w.m_clock.NowMs();
            w.m_pauseReason = reason;
            w.m_paused = true;
            if (w.m_log) {
                // Once: the retries that follow stay quiet.
                w.m_log(reason == PauseReason::DiskFull
                            ? "history: the disk is full; recording paused"
                            : std::string("history: the file cannot be written (") +
                                  sqlite3_errstr(error) + "); recording paused");
            }
        }
        return;
    }
    // Busy (another program held the file too long) or a passing fault: the
    // records that matter go with the next batch.
    pausedUntil = now + std::chrono::milliseconds(w.m_options.batchMs);
    if (!failureLogged && w.m_log) {
        w.m_log(std::string("history: a batch could not be written: ") + sqlite3_errstr(error));
        failureLogged = true;
    }
}

bool HistoryWriter::Impl::Commit(HistoryWriter& /*w*/, std::vector<Record>& batch, bool& retention,
                                 int& sqliteError)
{
    sqlite3* db = database->Handle();
    movedInBatch.clear();
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteError = rc;
        return false;
    }
    for (Record& record : batch) {
        rc = Apply(record, retention);
        if (rc != SQLITE_OK) {
            break;
        }
    }
    if (rc != SQLITE_OK) {
        pending.clear();
        lastBlock.clear();
    } else if (!WriteBlocks()) {
        rc = sqlite3_errcode(db);
    } else {
        for (const auto& [handle, span] : spans) {
            Touch(handle, span.firstMs, span.lastMs);
        }
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    spans.clear();
    if (rc != SQLITE_OK) {
        sqliteError = rc == SQLITE_DONE ? SQLITE_ERROR : rc;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

} // namespace vireo
