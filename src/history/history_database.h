#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct sqlite3;

namespace vireo {

// The history file: `History.sqlite` in the working folder, beside
// `Vireo.ini` and `Logs/`. Several processes may hold it open at once (the
// desktop and a monitor); it runs in WAL mode with a busy time-out.
inline constexpr const char* kHistoryFileName = "History.sqlite";

// The schema version this build writes (PRAGMA user_version).
inline constexpr int kHistorySchemaVersion = 3;

// One connection to the history file. Opening checks the file
// (PRAGMA quick_check), moves a damaged one aside as
// `History.sqlite.corrupt-YYYYMMDD-HHMMSS` and starts a new one, then brings
// the schema up to kHistorySchemaVersion step by step, each step in one
// transaction. Not thread-safe: one thread uses a connection at a time.
class HistoryDatabase
{
public:
    struct OpenResult
    {
        std::unique_ptr<HistoryDatabase> database; // null when the file cannot be opened
        std::string error;                         // why not, when null
        // Set when a damaged file was moved aside: where it went.
        std::filesystem::path movedAside;
        // The schema version the file had before it was opened (0: new file).
        int previousVersion = 0;
    };

    // Opens (creating when missing) and migrates the file. `checkIntegrity`:
    // run the quick check (the first opener of a process does; further
    // connections of the same process need not).
    static OpenResult Open(const std::filesystem::path& file, bool checkIntegrity = true);

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

    static constexpr int kBusyTimeoutMs = 5000;

private:
    HistoryDatabase(sqlite3* db, std::filesystem::path file);
    sqlite3* m_db = nullptr;
    std::filesystem::path m_file;
};

} // namespace vireo
