#include "history/history_database.h"

#include "history/sample_block.h"
#include "history/sqlite_statement.h"

#include <ctime>
#include <map>
#include <sqlite3.h>
#include <system_error>

namespace vireo {

namespace {

// Version 1 kept one row per report; version 2 keeps a row per device and
// minute with the reports in a blob, and a summary row per minute.
const char* const kSchemaV1 = R"sql(
CREATE TABLE devices(id INTEGER PRIMARY KEY, address TEXT NOT NULL UNIQUE,
                     name TEXT NOT NULL DEFAULT '', first_ms INTEGER, last_ms INTEGER);
CREATE TABLE samples(device INTEGER NOT NULL, t INTEGER NOT NULL, locked INTEGER NOT NULL,
                     playing INTEGER NOT NULL, intensity INTEGER NOT NULL,
                     quality INTEGER NOT NULL);
CREATE INDEX samples_device_t ON samples(device, t);
CREATE TABLE events(id INTEGER PRIMARY KEY, device INTEGER NOT NULL, t INTEGER NOT NULL,
                    kind INTEGER NOT NULL, code INTEGER NOT NULL DEFAULT 0,
                    detail TEXT NOT NULL DEFAULT '');
CREATE INDEX events_device_t ON events(device, t);
CREATE TABLE periods(id INTEGER PRIMARY KEY, device INTEGER NOT NULL, kind INTEGER NOT NULL,
                     begin_ms INTEGER NOT NULL, end_ms INTEGER);
CREATE INDEX periods_device ON periods(device, kind, begin_ms);
CREATE TABLE alarms(id INTEGER PRIMARY KEY, device INTEGER NOT NULL, rule INTEGER NOT NULL,
                    severity INTEGER NOT NULL, raised_ms INTEGER NOT NULL,
                    cleared_ms INTEGER NOT NULL DEFAULT 0, ack_ms INTEGER NOT NULL DEFAULT 0,
                    ack_by TEXT NOT NULL DEFAULT '', detail TEXT NOT NULL DEFAULT '');
CREATE INDEX alarms_raised ON alarms(raised_ms);
CREATE TABLE alarm_rules(address TEXT NOT NULL, rule INTEGER NOT NULL, enabled INTEGER NOT NULL,
                         threshold INTEGER NOT NULL, raise_s INTEGER NOT NULL,
                         clear_s INTEGER NOT NULL, PRIMARY KEY(address, rule));
)sql";

const char* const kV1ToV2 = R"sql(
CREATE TABLE sample_blocks(device INTEGER NOT NULL, minute INTEGER NOT NULL, data BLOB NOT NULL,
                           PRIMARY KEY(device, minute)) WITHOUT ROWID;
CREATE TABLE sample_minutes(device INTEGER NOT NULL, minute INTEGER NOT NULL,
                            n INTEGER NOT NULL, locked_n INTEGER NOT NULL,
                            i_min INTEGER NOT NULL, i_sum INTEGER NOT NULL, i_max INTEGER NOT NULL,
                            q_min INTEGER NOT NULL, q_sum INTEGER NOT NULL, q_max INTEGER NOT NULL,
                            PRIMARY KEY(device, minute)) WITHOUT ROWID;
)sql";

// Version 3: every retention statement finds its rows through an index that
// leads on the time it prunes by (the sample tables are pruned by device,
// along their keys).
const char* const kV2ToV3 = R"sql(
CREATE INDEX IF NOT EXISTS events_t ON events(t);
CREATE INDEX IF NOT EXISTS periods_end ON periods(end_ms);
CREATE INDEX IF NOT EXISTS alarms_cleared ON alarms(cleared_ms);
)sql";

// Version 4: programs sharing the file. A row per writer (a program's run),
// seen every second while it runs; periods and events carry their writer, and
// a period a dead writer left open is closed by the next one, marked so; the
// alarms of a device are evaluated by the writer holding its lease.
const char* const kV3ToV4 = R"sql(
CREATE TABLE writers(id INTEGER PRIMARY KEY, program TEXT NOT NULL, host TEXT NOT NULL,
                     pid INTEGER NOT NULL, started_ms INTEGER NOT NULL,
                     seen_ms INTEGER NOT NULL, ended_ms INTEGER NOT NULL DEFAULT 0);
ALTER TABLE periods ADD COLUMN writer INTEGER NOT NULL DEFAULT 0;
ALTER TABLE periods ADD COLUMN ended_with_writer INTEGER NOT NULL DEFAULT 0;
ALTER TABLE events ADD COLUMN writer INTEGER NOT NULL DEFAULT 0;
CREATE INDEX periods_open ON periods(writer, device, kind) WHERE end_ms IS NULL;
CREATE TABLE alarm_leases(device INTEGER PRIMARY KEY, writer INTEGER NOT NULL,
                          expires_ms INTEGER NOT NULL);
)sql";

// Version 5: maintenance windows shared by the programs using the file.
const char* const kAddSilences = R"sql(
CREATE TABLE silences(id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, target TEXT NOT NULL,
                      until_ms INTEGER NOT NULL, reason TEXT NOT NULL DEFAULT '',
                      by TEXT NOT NULL DEFAULT '', created_ms INTEGER NOT NULL,
                      ended_ms INTEGER NOT NULL DEFAULT 0);
CREATE INDEX silences_until ON silences(until_ms);
)sql";

bool execOn(sqlite3* db, const char* sql, std::string* error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        if (error != nullptr) {
            *error = message ? message : sqlite3_errmsg(db);
        }
        sqlite3_free(message);
        return false;
    }
    return true;
}

// Moves the per-report rows of version 1 into minute blocks.
bool convertSamples(sqlite3* db, std::string* error)
{
    SqliteStatement read(db, "SELECT device, t, locked, playing, intensity, quality FROM samples "
                             "ORDER BY device, t");
    SqliteStatement write(db, "INSERT OR REPLACE INTO sample_blocks VALUES(?1, ?2, ?3)");
    SqliteStatement summary(db, "INSERT OR REPLACE INTO sample_minutes "
                                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    if (!read.Valid() || !write.Valid() || !summary.Valid()) {
        if (error != nullptr) {
            *error = sqlite3_errmsg(db);
        }
        return false;
    }
    int64_t device = -1;
    SampleBlock block;
    auto flush = [&]() {
        if (block.count == 0) {
            return true;
        }
        const std::string data = block.Encode();
        write.Bind(1, device).Bind(2, block.minute).BindBlob(3, data.data(), data.size());
        summary.Bind(1, device).Bind(2, block.minute).Bind(3, int64_t{block.count});
        summary.Bind(4, int64_t{block.lockedCount}).Bind(5, int64_t{block.intensityMin});
        summary.Bind(6, block.intensitySum).Bind(7, int64_t{block.intensityMax});
        summary.Bind(8, int64_t{block.qualityMin}).Bind(9, block.qualitySum);
        summary.Bind(10, int64_t{block.qualityMax});
        return write.Run() == SQLITE_DONE && summary.Run() == SQLITE_DONE;
    };
    int rc;
    while ((rc = read.Step()) == SQLITE_ROW) {
        SignalSample s{read.Int(1), read.Int(2) != 0, read.Int(3) != 0,
                       static_cast<int>(read.Int(4)), static_cast<int>(read.Int(5))};
        const int64_t minute = SampleBlock::MinuteOf(s.timeMs);
        if (read.Int(0) != device || minute != block.minute || block.count == 0) {
            if (!flush()) {
                rc = SQLITE_ERROR;
                break;
            }
            device = read.Int(0);
            block = SampleBlock{};
            block.minute = minute;
        }
        block.Append(s);
    }
    if (rc != SQLITE_DONE || !flush()) {
        if (error != nullptr) {
            *error = sqlite3_errmsg(db);
        }
        return false;
    }
    read.Reset();
    return execOn(db, "DROP TABLE samples", error);
}

std::string corruptSuffix()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, ".corrupt-%Y%m%d-%H%M%S", &utc);
    return text;
}

// Opens with the settings every connection of the history uses.
sqlite3* openRaw(const std::filesystem::path& file, std::string* error)
{
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error != nullptr) {
            *error = db ? sqlite3_errmsg(db) : "out of memory";
        }
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, HistoryDatabase::kBusyTimeoutMs);
    return db;
}

// SQLite says the file is not a sound database (as opposed to busy, full,
// unreadable for now).
bool damagedCode(int rc)
{
    const int primary = rc & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Moves `file` and its sides to `aside`; false when the file could not move.
bool moveAside(const std::filesystem::path& file, const std::filesystem::path& aside,
               std::string* error)
{
    std::error_code ec;
    std::filesystem::rename(file, aside, ec);
    if (ec) {
        *error = "cannot move the damaged history aside: " + ec.message();
        return false;
    }
    for (const char* tail : {"-wal", "-shm"}) {
        std::filesystem::path side = file;
        side += tail;
        std::filesystem::path sideAside = aside;
        sideAside += tail;
        std::filesystem::rename(side, sideAside, ec);
    }
    return true;
}

} // namespace

HistoryDatabase::HistoryDatabase(sqlite3* db, std::filesystem::path file)
    : m_db(db), m_file(std::move(file))
{}

HistoryDatabase::~HistoryDatabase()
{
    sqlite3_close_v2(m_db);
}

bool HistoryDatabase::Migrate(sqlite3* db, int from, std::string* error)
{
    switch (from) {
    case 0:
        return execOn(db, kSchemaV1, error);
    case 1:
        return execOn(db, kV1ToV2, error) && convertSamples(db, error);
    case 2:
        return execOn(db, kV2ToV3, error);
    case 3:
        return execOn(db, kV3ToV4, error);
    case 4:
        return execOn(db, kAddSilences, error);
    default:
        if (error != nullptr) {
            *error = "no migration from schema version " + std::to_string(from);
        }
        return false;
    }
}

HistoryDatabase::OpenResult HistoryDatabase::Open(const std::filesystem::path& file,
                                                  bool moveDamaged, int busyTimeoutMs)
{
    OpenResult result;
    std::error_code ec;
    std::filesystem::path wal = file;
    wal += "-wal";
    result.uncleanEnd = std::filesystem::file_size(wal, ec) > 0 && !ec;
    sqlite3* db = openRaw(file, &result.error);
    if (db == nullptr) {
        return result;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // The first read of the file: a file that is no database at all, or whose
    // first pages are damaged, fails here. Busy, locked and I/O faults leave
    // the file where it is.
    int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr,
                          nullptr, nullptr);
    if (rc != SQLITE_OK && moveDamaged && damagedCode(rc)) {
        sqlite3_close_v2(db);
        std::filesystem::path aside = file;
        aside += corruptSuffix();
        if (!moveAside(file, aside, &result.error)) {
            return result;
        }
        result.movedAside = aside;
        db = openRaw(file, &result.error);
        if (db == nullptr) {
            return result;
        }
        sqlite3_busy_timeout(db, busyTimeoutMs);
        rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr,
                          nullptr, nullptr);
    }
    auto database = std::unique_ptr<HistoryDatabase>(new HistoryDatabase(db, file));
    if (rc != SQLITE_OK) {
        result.error = sqlite3_errmsg(db);
        return result;
    }
    result.previousVersion = database->UserVersion();
    if (result.previousVersion > kHistorySchemaVersion) {
        result.error = "the history file is of a newer program (schema version " +
                       std::to_string(result.previousVersion) + ")";
        return result;
    }
    for (int version = result.previousVersion; version < kHistorySchemaVersion; ++version) {
        // BEGIN IMMEDIATE: a second process opening the same new file waits
        // here and then finds the migration done.
        if (!database->Exec("BEGIN IMMEDIATE", &result.error)) {
            return result;
        }
        const int current = database->UserVersion();
        if (current != version) {
            database->Exec("ROLLBACK");
            version = current - 1;
            continue;
        }
        const std::string bump = "PRAGMA user_version=" + std::to_string(version + 1);
        if (!Migrate(db, version, &result.error) || !database->Exec(bump.c_str(), &result.error) ||
            !database->Exec("COMMIT", &result.error)) {
            database->Exec("ROLLBACK");
            return result;
        }
    }
    result.database = std::move(database);
    return result;
}

bool HistoryDatabase::Exec(const char* sql, std::string* error)
{
    return execOn(m_db, sql, error);
}

HistoryDatabase::Check HistoryDatabase::QuickCheck(const std::filesystem::path& file,
                                                   std::function<void(sqlite3*)> started,
                                                   std::string* detail)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return Check::Unknown;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (started) {
        started(db);
    }
    Check outcome = Check::Unknown;
    {
        SqliteStatement check(db, "PRAGMA quick_check");
        const int rc = check.Valid() ? check.Step() : sqlite3_errcode(db);
        if (rc == SQLITE_ROW) {
            const std::string first = check.Text(0);
            outcome = first == "ok" ? Check::Sound : Check::Damaged;
            if (detail != nullptr && outcome == Check::Damaged) {
                *detail = first;
            }
        } else if (damagedCode(rc)) {
            outcome = Check::Damaged;
            if (detail != nullptr) {
                *detail = sqlite3_errstr(rc);
            }
        }
    }
    if (started) {
        started(nullptr);
    }
    sqlite3_close_v2(db);
    return outcome;
}

int HistoryDatabase::UserVersion()
{
    SqliteStatement version(m_db, "PRAGMA user_version");
    return version.Valid() && version.Step() == SQLITE_ROW ? static_cast<int>(version.Int(0)) : 0;
}

int64_t HistoryDatabase::DeviceId(const std::string& address, const std::string& name)
{
    SqliteStatement insert(m_db, "INSERT INTO devices(address, name) VALUES(?1, ?2) "
                                 "ON CONFLICT(address) DO UPDATE SET name = excluded.name "
                                 "WHERE name <> excluded.name");
    if (insert.Bind(1, address).Bind(2, name).Run() != SQLITE_DONE) {
        return 0;
    }
    return FindDevice(address);
}

int64_t HistoryDatabase::FindDevice(const std::string& address)
{
    SqliteStatement find(m_db, "SELECT id FROM devices WHERE address = ?1");
    find.Bind(1, address);
    return find.Step() == SQLITE_ROW ? find.Int(0) : 0;
}

} // namespace vireo
