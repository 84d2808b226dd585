#pragma once

#include "sim/upgrade_device.h"

#include <cstdint>
#include <map>

namespace vireo::sim {

// Ways the simulated IRD misbehaves. Shares are chances from 0 to 1, drawn
// per frame from the connection's seeded random sequence.
struct FaultOptions
{
    double dropShare = 0;      // replies not sent (UpdateAll burst frames excepted)
    double burstDropShare = 0; // UpdateAll burst frames not sent (its final StatusReply is a reply)
    double corruptShare = 0;   // frames sent with a wrong CRC
    double cutShare = 0;       // frames written in two pieces, cut at a random byte
    int cutPauseMs = 1;        // pause between the two pieces
    double garbageShare = 0;   // frames preceded by 1 to 16 random bytes
    int delayMs = 0;           // wait before answering each request
    bool noCiCard = false;     // MultiDescramble is answered with status 39 (no CI card)
    int scanMs = 0;            // a scan answers this long after it was asked (StopScan ends it)
    bool silent = false;       // receive, never answer
    unsigned closeAfterFrames = 0; // close a connection once it has sent this many (0: never)
    // Frames sent a second time right after the first, as devices that
    // repeat themselves do; drawn from a sequence of their own, so the other
    // faults of a seed stay as they were.
    double repeatShare = 0;
    bool reorder = false;    // the frames of an answer with several records in shuffled order
    bool sameAnswer = false; // a query for one record gets the first record of its list
    enum class HangUp { No, Close, HalfClose };
    HangUp hangUp = HangUp::No; // accept a connection and close it (or its sending side) at once
    int floodSignalPerSecond =
        0; // once UpdateAll is answered, unasked SignalStatus frames at this rate
    std::map<uint8_t, uint8_t>
        statusOverrides; // request code -> StatusReply status instead of the answer
    // Satellites the device has room for (0: as many as indices number); an
    // AddSatellite beyond is refused as out of its management (status 7).
    unsigned satelliteRoom = 0;
    // After a satellite or transponder comes or goes, number both lists
    // 0, 1, 2... in list order anew, as some devices do.
    bool renumber = false;
    // One write (a request that adds, changes or deletes a satellite, TP or
    // the system settings; counted from 1 over every connection) goes wrong:
    // refused with status 30, taken and the connection closed before its
    // answer, or taken and never answered. Writes after it are served.
    enum class WriteFault { None, Refuse, Drop, Hold };
    WriteFault writeFault = WriteFault::None;
    unsigned faultAtWrite = 0;
    UpgradeFaults upgrade; // the device side of a firmware upgrade

    bool operator==(const FaultOptions&) const = default;
};

} // namespace vireo::sim
