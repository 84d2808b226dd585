// How HistoryWriter writes each record, on its thread and connection.

#include "history/history_writer.h"
#include "history/history_writer_impl.h"

namespace vireo {

using namespace writer_detail;

int64_t HistoryWriter::Impl::DeviceRow(DeviceHandle handle)
{
    if (handle < 1) {
        return 0;
    }
    if (deviceIds.size() < static_cast<size_t>(handle)) {
        deviceIds.resize(handle, 0);
    }
    int64_t& id = deviceIds[handle - 1];
    if (id == 0) {
        DeviceKey key;
        {
            std::lock_guard lock(devicesMutex);
            if (static_cast<size_t>(handle) > devices.size()) {
                return 0;
            }
            key = devices[handle - 1];
        }
        if (auto moved = movedTo.find(handle); moved != movedTo.end()) {
            key.address = moved->second;
        }
        id = database->DeviceId(key.address, key.name);
        if (id == 0) {
            rowError = sqlite3_errcode(database->Handle());
        } else if (leftoversClosed.insert(key.address).second) {
            // Periods a killed program of an older version (no writer of
            // record) left open end at the device's last record; those of
            // known writers are ended with their writer (WriterRegistry).
            SqliteStatement close(database->Handle(),
                                  "UPDATE periods SET end_ms = max(begin_ms, coalesce((SELECT "
                                  "last_ms FROM devices WHERE id = ?1), begin_ms)) "
                                  "WHERE writer = 0 AND device = ?1 AND end_ms IS NULL");
            close.Bind(1, id).Run();
        }
    }
    return id;
}

void HistoryWriter::Impl::Touch(DeviceHandle handle, int64_t firstMs, int64_t lastMs)
{
    const int64_t id = DeviceRow(handle);
    if (id != 0) {
        touchDevice.Bind(1, id).Bind(2, firstMs).Bind(3, lastMs).Run();
    }
}

int HistoryWriter::Impl::Apply(Record& record, bool& retention)
{
    auto noteTime = [this](DeviceHandle handle, int64_t timeMs) {
        Span& span = spans[handle];
        span.firstMs = std::min(span.firstMs, timeMs);
        span.lastMs = std::max(span.lastMs, timeMs);
    };
    // A device row that cannot be made fails the record; an unknown handle
    // is a caller's slip and is let go.
    int rc = SQLITE_DONE;
    auto row = [&](DeviceHandle handle) {
        rowError = SQLITE_OK;
        const int64_t id = DeviceRow(handle);
        if (id == 0 && rowError != SQLITE_OK) {
            rc = rowError;
        }
        return id;
    };
    if (auto* sample = std::get_if<SampleRecord>(&record)) {
        AddSample(*sample); // its time is noted with its block's (WriteBlocks)
    } else if (auto* event = std::get_if<EventRecord>(&record)) {
        if (const int64_t id = row(event->device)) {
            insertEvent.Bind(1, id).Bind(2, event->timeMs).Bind(3, int64_t{event->kind});
            insertEvent.Bind(4, int64_t{event->code}).Bind(5, event->detail);
            rc = insertEvent.Bind(6, registry.Id()).Run();
            noteTime(event->device, event->timeMs);
        }
    } else if (auto* period = std::get_if<PeriodRecord>(&record)) {
        if (const int64_t id = row(period->device)) {
            const auto kind = static_cast<int64_t>(period->kind);
            // A period of the kind still open (a crash, a recorder that went
            // away) ends where the new one begins.
            const int64_t writer = registry.Id();
            rc = endPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs).Bind(4, writer).Run();
            if (period->begin && rc == SQLITE_DONE) {
                beginPeriod.Bind(1, id).Bind(2, kind).Bind(3, period->timeMs);
                rc = beginPeriod.Bind(4, writer).Run();
            }
            noteTime(period->device, period->timeMs);
        }
    } else if (auto* alarm = std::get_if<AlarmRow>(&record)) {
        if (const int64_t id = row(alarm->device)) {
            upsertAlarm.Bind(1, alarm->id).Bind(2, id).Bind(3, int64_t{alarm->rule});
            upsertAlarm.Bind(4, int64_t{alarm->severity}).Bind(5, alarm->raisedMs);
            upsertAlarm.Bind(6, alarm->clearedMs).Bind(7, alarm->acknowledgedMs);
            rc = upsertAlarm.Bind(8, alarm->acknowledgedBy).Bind(9, alarm->detail).Run();
        }
    } else if (auto* rule = std::get_if<RuleRow>(&record)) {
        if (rule->remove) {
            rc = deleteRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule}).Run();
        } else {
            upsertRule.Bind(1, rule->address).Bind(2, int64_t{rule->rule});
            upsertRule.Bind(3, int64_t{rule->enabled ? 1 : 0}).Bind(4, int64_t{rule->threshold});
            upsertRule.Bind(5, int64_t{rule->raiseAfterS}).Bind(6, int64_t{rule->clearAfterS});
            rc = upsertRule.Run();
        }
    } else if (auto* rename = std::get_if<RenameRecord>(&record)) {
        if (const int64_t id = row(rename->device)) {
            rc = renameDevice.Bind(1, id).Bind(2, rename->name).Run();
        }
    } else if (auto* readdress = std::get_if<ReaddressRecord>(&record)) {
        if (const int64_t id = row(readdress->device)) {
            rc = Readdress(id, readdress->address);
            auto [it, added] = movedTo.try_emplace(readdress->device);
            movedInBatch.emplace_back(readdress->device,
                                      added ? std::nullopt : std::optional(it->second));
            it->second = readdress->address;
            leftoversClosed.insert(readdress->address);
        }
    } else if (std::holds_alternative<RetentionRecord>(record)) {
        retention = true;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int HistoryWriter::Impl::Readdress(int64_t id, const std::string& address)
{
    sqlite3* db = database->Handle();
    const int64_t holder = database->FindDevice(address);
    if (holder == id) {
        return SQLITE_DONE;
    }
    if (holder != 0) {
        // A device that used the address before keeps its history under a
        // name of its own; the device moving in goes on with its row.
        SqliteStatement aside(db,
                              "UPDATE devices SET address = address || '~' || id WHERE id = ?1");
        const int rc = aside.Bind(1, holder).Run();
        if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    SqliteStatement move(db, "UPDATE devices SET address = ?2 WHERE id = ?1");
    return move.Bind(1, id).Bind(2, address).Run();
}

void HistoryWriter::Impl::AddSample(const SampleRecord& record)
{
    const int64_t minute = SampleBlock::MinuteOf(record.sample.timeMs);
    SampleBlock* last = nullptr;
    if (record.device >= 1) {
        if (lastBlock.size() < static_cast<size_t>(record.device)) {
            lastBlock.resize(record.device, nullptr);
        }
        last = lastBlock[record.device - 1];
    }
    if (last == nullptr || last->minute != minute) {
        last = &pending[{record.device, minute}];
        if (last->count == 0) {
            last->minute = minute;
            last->samples.reserve(64); // a report a second, without regrowing
        }
        if (record.device >= 1) {
            lastBlock[record.device - 1] = last;
        }
    }
    last->Append(record.sample);
}

bool HistoryWriter::Impl::WriteBlocks()
{
    auto write = [this](DeviceHandle handle, const SampleBlock& block) {
        const int64_t id = DeviceRow(handle);
        if (id == 0 || block.count == 0) {
            return true;
        }
        const auto [first, last] = std::minmax_element(
            block.samples.begin(), block.samples.end(),
            [](const SignalSample& a, const SignalSample& b) { return a.timeMs < b.timeMs; });
        Span& span = spans[handle];
        span.firstMs = std::min(span.firstMs, first->timeMs);
        span.lastMs = std::max(span.lastMs, last->timeMs);
        readBlock.Bind(1, id).Bind(2, block.minute);
        const int read = readBlock.Step();
        if (read != SQLITE_ROW && read != SQLITE_DONE) {
            readBlock.Reset();
            return false;
        }
        const std::string data = block.Encode(read == SQLITE_ROW ? readBlock.Blob(0) : "");
        readBlock.Reset();
        insertBlock.Bind(1, id).Bind(2, block.minute).BindBlob(3, data.data(), data.size());
        if (insertBlock.Run() != SQLITE_DONE) {
            return false;
        }
        insertSummary.Bind(1, id).Bind(2, block.minute).Bind(3, int64_t{block.count});
        insertSummary.Bind(4, int64_t{block.lockedCount}).Bind(5, int64_t{block.intensityMin});
        insertSummary.Bind(6, block.intensitySum).Bind(7, int64_t{block.intensityMax});
        insertSummary.Bind(8, int64_t{block.qualityMin}).Bind(9, block.qualitySum);
        insertSummary.Bind(10, int64_t{block.qualityMax});
        return insertSummary.Run() == SQLITE_DONE;
    };
    bool ok = true;
    for (const auto& [key, block] : pending) {
        ok = ok && write(key.first, block);
    }
    pending.clear();
    lastBlock.clear();
    return ok;
}

bool HistoryWriter::Impl::PruneStep(const RetentionPolicy& policy, int64_t nowMs)
{
    return pruner.Step(database->Handle(), policy, nowMs) != RetentionPruner::Outcome::More;
}

} // namespace vireo
