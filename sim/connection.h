#pragma once

#include "sim/fault_options.h"
#include "sim/ird_responder.h"
#include "sim/request_checker.h"
#include "sim/upgrade_device.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vireo::sim {

class Connection;

// What a connection needs from the simulator that owns it. Every call may
// come from any connection's thread at any time.
class ConnectionHost
{
public:
    virtual ~ConnectionHost() = default;
    virtual std::vector<ReplyFrame> Answer(std::span<const uint8_t> request) = 0;
    virtual size_t SatelliteCount() const = 0;
    // Counts a write request and says whether the fault of FaultOptions hits it.
    virtual FaultOptions::WriteFault TakeWrite(uint8_t code) = 0;
    virtual FaultOptions CurrentFaults() const = 0;
    virtual void FrameReceived(std::span<const uint8_t> frame) = 0;
    // Broken requests found in what the client wrote (see RequestChecker).
    virtual void MalformedReceived(size_t count) = 0;
    enum class Outcome { Sent, Dropped, Corrupted };
    virtual void FrameSent(Outcome outcome) = 0;
    virtual void Log(bool frameLine, const std::string& line) = 0;
    virtual void ConnectionFinished() = 0;
    // A frame the device sends as soon as a client connects (none: empty).
    virtual std::vector<uint8_t> Greeting() = 0;
    // One upgrade frame for the device side of this connection.
    virtual UpgradeDevice::Step UpgradeFrame(UpgradeDevice& device, uint16_t type,
                                             std::span<const uint8_t> payload) = 0;
};

// One accepted client, served by its own thread: reads requests, cuts them
// into frames with the link's FrameSplitter, answers each through the host
// and writes the answer with the faults applied. Every wait is a poll() that
// also watches the simulator's stop descriptor, so stopping is immediate.
class Connection
{
public:
    // `stopFd` becomes readable and `stopping` true together when the
    // simulator stops: the first wakes a blocked poll(), the second is
    // checked between frames.
    Connection(ConnectionHost& host, int socket, int stopFd, const std::atomic<bool>& stopping,
               std::string peer, uint32_t seed);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Finished() const { return m_finished.load(); }
    void Join();

private:
    void run();
    bool answer(const std::vector<uint8_t>& request);
    // Sends the answer to a request (now, or when its scan has run its time).
    bool finish(const std::vector<uint8_t>& request); // false: close the connection
    bool send(const ReplyFrame& reply, const FaultOptions& faults);
    bool writeAll(const uint8_t* data, size_t count);
    bool pause(int milliseconds); // false when the simulator stops
    // The SignalStatus frames a flood owes by now; false: close the connection.
    bool flood();
    // Bytes of an upgrade; false: close the connection.
    bool upgradeBytes(const uint8_t* data, size_t count);
    void enterUpgrade();
    bool chance(double share);
    void noteMalformed(size_t count);

    ConnectionHost& m_host;
    int m_socket;
    int m_stopFd;
    const std::atomic<bool>& m_stopping;
    std::string m_peer;
    std::mt19937 m_random;
    std::mt19937 m_repeatRandom; // the repeat draws, apart from the others
    unsigned m_sent = 0;
    bool m_halfClosed = false; // the sending side was shut at once (a fault)
    bool m_holding = false;    // a write was taken and its answer is held (a fault)
    // A scan in progress: its request and when it answers.
    std::vector<uint8_t> m_scan;
    std::chrono::steady_clock::time_point m_scanDone;
    // A signal flood under way (--flood-signal): since when, and how many
    // frames it has sent.
    bool m_flooding = false;
    std::chrono::steady_clock::time_point m_floodStart;
    uint64_t m_floodSent = 0;
    // Once the device has accepted an upgrade (or a client opens with one),
    // the connection speaks upgrade frames.
    std::unique_ptr<UpgradeDevice> m_upgrade;
    std::vector<uint8_t> m_upgradeIn;
    RequestChecker m_checker;
    bool m_anyReceived = false;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

} // namespace vireo::sim
