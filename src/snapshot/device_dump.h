#pragma once

#include "snapshot/snapshot_document.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vireo {

// Runs the manager's own device session against one IRD until its database
// is complete, and renders that database as a snapshot document
// (DatabaseJson with its head). Used by vireo-dump.
struct DumpOptions
{
    std::string address;                        // dotted IPv4 address of the IRD
    std::chrono::milliseconds timeLimit{60000}; // for the whole refresh
    // Idle link with the lists still incomplete this long: ask for what is missing.
    std::chrono::milliseconds idleRequery{1500};
    bool verbose = false; // every log line of the session to standard error
    std::string name;     // the device's name for the snapshot's head (GBK)
};

struct DumpResult
{
    // 0 done; 1 usage; 2 cannot connect, or the session ended; 3 no complete
    // refresh in time, or the device's answers never complete its lists
    int exitCode = 0;
    std::string json;   // the snapshot document, when exitCode is 0
    std::string reason; // one line, when exitCode is not 0
};

DumpResult RunDeviceDump(const DumpOptions& options);

} // namespace vireo
