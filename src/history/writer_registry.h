#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace vireo {

// The writers of one history file (the desktop, monitors): each run of a
// program that writes has a row (program, host, pid, started) that it marks
// seen every second. A writer not seen for a while, or whose process is gone
// from this host, is dead: the next writer closes the periods it left open
// at its last sighting, marked "ended with writer", and takes its leases.
// Used on the writer thread with the writer's connection.
class WriterRegistry
{
public:
    struct Identity
    {
        std::string program;
        std::string host;
        int64_t pid = 0;
    };
    // This process as `program`.
    static Identity ThisProcess(std::string program);

    // Adds this writer's row; false (and Id() 0) when it could not be written.
    bool Register(sqlite3* db, const Identity& identity, int64_t nowMs);
    int64_t Id() const { return m_id; }

    // Marks this writer seen (registering it first when that failed before)
    // and ends the writers dead by `deadAfterMs` or gone from this host. One
    // transaction; SQLite's result (SQLITE_OK when done).
    int Beat(sqlite3* db, int64_t nowMs, int64_t deadAfterMs);
    // This writer ends: its open periods close now, marked; its leases go.
    int End(sqlite3* db, int64_t nowMs);

private:
    Identity m_identity;
    int64_t m_id = 0;
};

} // namespace vireo
