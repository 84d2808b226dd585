#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct sqlite3;

namespace vireo {

// The history file: `History.sqlite` in the working folder, beside
// `Vireo.ini` and `Logs/`. Several processes may hold it open at once (the
// desktop and a monitor); it runs in WAL mode with a busy time-out.
inline constexpr const char* kHistoryFileName = "History.sqlite";

// The schema version this build writes (PRAGMA user_version).
inline constexpr int kHistorySchemaVersion = 5;

// One connection to the history file. Opening never reads the whole file: a
// file SQLite reports as no database or corrupt (SQLITE_NOTADB,
// SQLITE_CORRUPT) on its first read is moved aside as
// `History.sqlite.corrupt-YYYYMMDD-HHMMSS` and a new one started; a busy,
// locked or unreadable file stays where it is and the open fails. Then the
// schema is brought up to kHistorySchemaVersion step by step, each step in
// one transaction. The whole-file check (QuickCheck) runs apart, in the
// background. Not thread-safe: one thread uses a connection at a time.
class HistoryDatabase
{
public:
    static constexpr int kBusyTimeoutMs = 5000;

    struct OpenResult
    {
        std::unique_ptr<HistoryDatabase> database; // null when the file cannot be opened
        std::string error;                         // why not, when null
        // Set when a damaged file was moved aside: where it went.
        std::filesystem::path movedAside;
        // The schema version the file had before it was opened (0: new file).
        int previousVersion = 0;
        // A write-ahead log was left beside the file: the last program
        // holding it ended without closing it, or another one holds it now.
        bool uncleanEnd = false;
    };

    // Opens (creating when missing) and migrates the file. `moveDamaged`:
    // move a file SQLite reports damaged aside (the first opener of a
    // process does; further connections of the same process need not).
    static OpenResult Open(const std::filesystem::path& file, bool moveDamaged = true,
                           int busyTimeoutMs = kBusyTimeoutMs);

    enum class Check {
        Sound,   // PRAGMA quick_check answered "ok"
        Damaged, // it found damage, or SQLite reported the file corrupt
        Unknown, // it could not run to its end (busy, I/O, interrupted)
    };
    // Reads the whole file on a read-only connection of its own (seconds on
    // a large file: call it on a worker). `started` is handed the connection
    // while the check runs (to interrupt it) and null once it ended;
    // `detail` receives SQLite's first finding on damage.
    static Check QuickCheck(const std::filesystem::path& file,
                            std::function<void(sqlite3*)> started = {},
                            std::string* detail = nullptr);

    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    sqlite3* Handle() const { return m_db; }
    const std::filesystem::path& File() const { return m_file; }

    // Runs statements without results; false (and the message in `error`)
    // on failure.
    bool Exec(const char* sql, std::string* error = nullptr);
    int UserVersion();

    // The id of the device with `address`, created when missing; the name is
    // updated when it changed. 0 on failure.
    int64_t DeviceId(const std::string& address, const std::string& name);
    // The id of a known device, 0 when the history has none with `address`.
    int64_t FindDevice(const std::string& address);

    // The migration of schema version `from` to `from + 1` (in the open
    // transaction). Exposed for tests that build an older file by hand.
    static bool Migrate(sqlite3* db, int from, std::string* error);

private:
    HistoryDatabase(sqlite3* db, std::filesystem::path file);
    sqlite3* m_db = nullptr;
    std::filesystem::path m_file;
};

} // namespace vireo
