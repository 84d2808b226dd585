#pragma once

// The state of HistoryWriter, shared by its source files; not for other users.

#include "history/history_database.h"
#include "history/history_writer.h"
#include "history/retention_pruner.h"
#include "history/sample_block.h"
#include "history/sqlite_statement.h"
#include "history/writer_registry.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sqlite3.h>
#include <thread>
#include <unordered_map>
#include <variant>

namespace vireo {

namespace writer_detail {

struct SampleRecord
{
    HistoryWriter::DeviceHandle device;
    SignalSample sample;
};
struct EventRecord
{
    HistoryWriter::DeviceHandle device;
    int64_t timeMs;
    int kind;
    int code;
    std::string detail;
};
struct PeriodRecord
{
    HistoryWriter::DeviceHandle device;
    PeriodKind kind;
    int64_t timeMs;
    bool begin;
};
struct RenameRecord
{
    HistoryWriter::DeviceHandle device;
    std::string name;
};
struct ReaddressRecord
{
    HistoryWriter::DeviceHandle device;
    std::string address;
};
struct RetentionRecord
{};

using Record = std::variant<SampleRecord, EventRecord, PeriodRecord, HistoryWriter::AlarmRow,
                            HistoryWriter::RuleRow, RenameRecord, ReaddressRecord, RetentionRecord>;

using Clock = std::chrono::steady_clock;

inline uint64_t rulesIn(const std::vector<Record>& records)
{
    return static_cast<uint64_t>(std::count_if(records.begin(), records.end(), [](const Record& r) {
        return std::holds_alternative<HistoryWriter::RuleRow>(r);
    }));
}

// The records waiting for the writer thread, taken from the front a batch at
// a time: what stays is not moved (the taken front is let go when the queue
// runs empty or is more than half of it), and a push does not allocate once
// the queue has grown to its usual length.
class RecordQueue
{
public:
    size_t size() const { return m_items.size() - m_head; }
    bool empty() const { return m_head == m_items.size(); }
    void push_back(Record&& record) { m_items.push_back(std::move(record)); }
    // Moves the first `n` (at most size()) records into `into` (replacing
    // what it held).
    void TakeFront(std::vector<Record>& into, size_t n)
    {
        if (m_head == 0 && n == m_items.size()) {
            into.clear();
            into.swap(m_items); // the whole queue: its storage changes hands
            return;
        }
        const auto from = m_items.begin() + static_cast<std::ptrdiff_t>(m_head);
        into.assign(std::make_move_iterator(from),
                    std::make_move_iterator(from + static_cast<std::ptrdiff_t>(n)));
        m_head += n;
        if (m_head == m_items.size()) {
            m_items.clear();
            m_head = 0;
        } else if (m_head * 2 >= m_items.size()) {
            m_items.erase(m_items.begin(), m_items.begin() + static_cast<std::ptrdiff_t>(m_head));
            m_head = 0;
        }
    }
    // Puts records back in front, in their order.
    template <typename It> void PushFront(It first, It last)
    {
        const auto n = static_cast<size_t>(std::distance(first, last));
        if (n <= m_head) {
            std::move(first, last, m_items.begin() + static_cast<std::ptrdiff_t>(m_head - n));
            m_head -= n;
        } else {
            m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(m_head),
                           std::make_move_iterator(first), std::make_move_iterator(last));
        }
    }

private:
    std::vector<Record> m_items;
    size_t m_head = 0; // records before it are taken
};

} // namespace writer_detail

struct HistoryWriter::Impl
{
    using SampleRecord = writer_detail::SampleRecord;
    using Record = writer_detail::Record;
    using Clock = writer_detail::Clock;
    std::filesystem::path file;
    std::unique_ptr<HistoryDatabase> database;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable flushed;
    writer_detail::RecordQueue queue;
    uint64_t enqueued = 0; // records accepted so far
    uint64_t done = 0;     // of those, committed or given up
    bool flushWanted = false;
    bool stop = false;
    std::vector<std::function<void(int64_t)>> tickers;
    std::vector<std::function<void(HistoryDatabase&, int64_t, int64_t)>> syncs;
    std::thread thread;

    std::mutex devicesMutex;
    std::vector<DeviceKey> devices;              // handle - 1; the address as registered
    std::map<std::string, DeviceHandle> handles; // by the address now

    // --- writer thread only ---
    std::vector<int64_t> deviceIds; // handle - 1 -> row id, 0 unknown
    int rowError = SQLITE_OK;       // why the last DeviceRow gave 0
    // Devices whose periods an earlier run left open were closed (once a run).
    std::set<std::string> leftoversClosed;
    // Devices that moved since they registered: the address of their row.
    std::unordered_map<DeviceHandle, std::string> movedTo;
    // Moves of the open transaction, with what was there before (undone
    // when it rolls back).
    std::vector<std::pair<DeviceHandle, std::optional<std::string>>> movedInBatch;
    // The reports of this batch by device and minute: appended to what is
    // stored, so that two processes recording the same device add up.
    std::map<std::pair<DeviceHandle, int64_t>, SampleBlock> pending;
    // Each device's block of `pending` its last report went to (handle - 1):
    // the next report is most often of the same minute.
    std::vector<SampleBlock*> lastBlock;
    struct Span
    {
        int64_t firstMs = INT64_MAX;
        int64_t lastMs = INT64_MIN;
    };
    std::unordered_map<DeviceHandle, Span> spans; // times recorded in this batch
    Clock::time_point pausedUntil{};              // no commit before (a pause, a retry)
    bool failureLogged = false;                   // the fault of a failing run is logged once
    int64_t pageLimit = 0;                        // the max_page_count in force
    // Records other than samples that a failed commit left, oldest first:
    // they go with the next commit that works.
    std::vector<Record> held;
    int64_t nextPruneMs = 0;

    bool ended = false; // the thread has ended (mutex)

    // When a record may be turned away (and counted).
    enum class Drop { WhenPausedOrFull, WhenFull, Never };
    bool Push(HistoryWriter& w, Record record, Drop drop);
    void Run(HistoryWriter& w);
    // One transaction of records; false when it failed (rolled back).
    bool Commit(HistoryWriter& w, std::vector<Record>& batch, bool& retention, int& sqliteError);
    // The SQLite result of writing one record.
    int Apply(Record& record, bool& retention);
    // Keeps what a failed or paused batch holds except its samples (dropped,
    // counted), within the bound.
    void Hold(HistoryWriter& w, std::vector<Record>& batch);
    // Puts a batch that failed for a busy file back at the head of the
    // queue, when there is room; false otherwise (or for other faults).
    // `wasHeld`: the first records of the batch came from `held` and go back.
    bool Requeue(HistoryWriter& w, std::vector<Record>& batch, size_t wasHeld, int error);
    void Resumed(HistoryWriter& w);
    // Beats the writer's row and calls the syncs.
    void Sync(HistoryWriter& w, int64_t nowMs);
    // Gives the device row `id` the address; SQLite's result.
    int Readdress(int64_t id, const std::string& address);
    void Failed(HistoryWriter& w, int error, Clock::time_point now);
    void AddSample(const SampleRecord& record);
    bool WriteBlocks();
    int64_t DeviceRow(DeviceHandle handle);
    // One pruning step; true when there was nothing (more) to prune.
    bool PruneStep(const RetentionPolicy& policy, int64_t nowMs);
    void Touch(DeviceHandle handle, int64_t firstMs, int64_t lastMs);

    SqliteStatement readBlock, insertBlock, insertSummary, insertEvent, beginPeriod, endPeriod,
        upsertAlarm, upsertRule, deleteRule, touchDevice, renameDevice;
    RetentionPruner pruner;
    WriterRegistry registry;
};

} // namespace vireo
