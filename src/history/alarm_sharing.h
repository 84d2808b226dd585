#pragma once

#include "history/alarm_engine.h"
#include "history/history_writer.h"

#include <cstdint>
#include <memory>

namespace vireo {

class HistoryDatabase;

// Keeps one program's alarm engine in step with the other programs writing
// the same history, as a sync of its writer (every second, on the writer
// thread): asks for the alarm lease of each device the engine watches (the
// holder evaluates the device's alarms, the others take them from the file),
// and when another program has written (PRAGMA data_version) reads the rules
// and the alarms back, so a rule edited or an alarm acknowledged in one
// program reaches the others within two seconds.
class AlarmSharing
{
public:
    // A lease not renewed for this long goes to the next program asking.
    static constexpr int64_t kLeaseMs = 5000;

    AlarmSharing(std::weak_ptr<AlarmEngine> engine, HistoryWriter* writer);

    void Sync(HistoryDatabase& db, int64_t writerId, int64_t nowMs);

private:
    void Lease(HistoryDatabase& db, AlarmEngine& engine, int64_t writerId, int64_t nowMs);
    void ReadBack(HistoryDatabase& db, AlarmEngine& engine, int64_t nowMs);

    std::weak_ptr<AlarmEngine> m_engine;
    HistoryWriter* m_writer;
    int64_t m_dataVersion = -1;
};

} // namespace vireo
