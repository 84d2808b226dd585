#pragma once

#include "sim/connection.h"
#include "sim/device_database.h"
#include "sim/fault_options.h"
#include "sim/ird_responder.h"
#include "sim/signal_script.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vireo::sim {

struct SimulatorOptions
{
    FaultOptions faults;
    uint32_t seed = 1;    // connection n draws its faults from (seed, n)
    bool verbose = false; // log every frame received and sent, in hex
    SignalLevel signal;
    // When not empty, the signal follows this script (looping) from Start()
    // on, in place of `signal`.
    SignalScript signalScript;
    // Back up after an upgrade, greet the next client with a signal report
    // before it asks for anything. Off: the device stays silent until asked.
    bool greetAfterRestart = false;
    // Receives every log line (without newline), one call at a time. Empty:
    // lines go to standard error.
    std::function<void(const std::string&)> log;
};

// Options whose log lines go nowhere (tests and benchmarks).
inline SimulatorOptions QuietOptions()
{
    SimulatorOptions options;
    options.log = [](const std::string&) {};
    return options;
}

struct SimulatorStats
{
    size_t connections = 0; // accepted so far
    size_t received = 0;    // valid frames received
    size_t sent = 0;        // frames written, corrupted ones included
    size_t dropped = 0;
    size_t corrupted = 0;
    // Requests that came in broken: torn, cut short, with a wrong length or
    // CRC, or stray bytes between frames (a well-behaved manager sends none).
    size_t malformed = 0;

    bool operator==(const SimulatorStats&) const = default;
};

// A simulated IRD on a loopback address. Start() binds and returns at once;
// a server thread accepts clients, each served by a thread of its own, so
// clients may come one after another or several at once, all sharing one
// device database. Threads block in poll() and cost nothing while idle;
// Stop() wakes and joins them all within milliseconds.
//
//     sim::Simulator sim(sim::GenerateDatabase({4, 20, 30, 10}, nullptr).value());
//     sim.Start("127.0.50.1", 0);   // port 0: any free port, see Port()
//     ... connect to sim.Port(), talk ...
//     sim.WaitForReceived(3, 2s);
//     sim.Stop();
class Simulator : private ConnectionHost
{
    friend class SimulatorFleet; // serves the listening sockets of many from one thread

public:
    explicit Simulator(DeviceDatabase db, SimulatorOptions options = {});
    ~Simulator() override;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Listens on `address` (127.x.y.z only). False with the reason in *error
    // when the address is refused or cannot be bound, or when already running.
    bool Start(const std::string& address, uint16_t port = 8888, std::string* error = nullptr);
    void Stop();
    bool Running() const;
    uint16_t Port() const; // the bound port, also when 0 was asked for

    DeviceDatabase Database() const; // a snapshot
    void SetDatabase(DeviceDatabase db);
    FaultOptions Faults() const;
    void SetFaults(FaultOptions faults); // applies from the next request on

    // Every valid frame received, from all connections, in arrival order.
    std::vector<std::vector<uint8_t>> ReceivedFrames() const;
    // Queries for one satellite, TP or program (index not 0xFF) received:
    // what a manager asks for after losing records.
    size_t SingleRecordQueries() const;
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForConnections(size_t count, std::chrono::milliseconds timeout) const;
    SimulatorStats Stats() const;
    // What the device has seen of upgrades (a copy, image included).
    UpgradeRecord Upgrades() const;
    bool WaitForUpgrade(const std::function<bool(const UpgradeRecord&)>& done,
                        std::chrono::milliseconds timeout) const;

private:
    // ConnectionHost
    std::vector<ReplyFrame> Answer(std::span<const uint8_t> request) override;
    size_t SatelliteCount() const override;
    FaultOptions::WriteFault TakeWrite(uint8_t code) override;
    FaultOptions CurrentFaults() const override;
    void FrameReceived(std::span<const uint8_t> frame) override;
    void MalformedReceived(size_t count) override;
    void FrameSent(Outcome outcome) override;
    void Log(bool frameLine, const std::string& line) override;
    void ConnectionFinished() override;
    UpgradeDevice::Step UpgradeFrame(UpgradeDevice& device, uint16_t type,
                                     std::span<const uint8_t> payload) override;
    std::vector<uint8_t> Greeting() override;

    // Binds and listens; with stopFd/reapFd given (a fleet's), they are
    // shared and not closed here, else the simulator makes its own.
    bool bind(const std::string& address, uint16_t port, int stopFd, int reapFd,
              std::string* error);
    void serve();
    void acceptClient();
    void reapFinished();
    void closeDescriptors();

    const SimulatorOptions m_options;

    mutable std::mutex m_dbMutex;
    DeviceDatabase m_db;

    mutable std::mutex m_faultsMutex;
    FaultOptions m_faults;
    unsigned m_writes = 0; // write requests taken, under m_faultsMutex

    mutable std::mutex m_stateMutex; // received frames and statistics
    mutable std::condition_variable m_stateChanged;
    std::vector<std::vector<uint8_t>> m_received;
    SimulatorStats m_stats;
    UpgradeRecord m_upgrades;
    // Restarted after an upgrade: with greetAfterRestart, the next client is
    // greeted with a signal report, as some IRDs announce themselves when
    // they are back up.
    std::atomic<bool> m_restarted{false};
    std::atomic<std::chrono::steady_clock::rep> m_startedAt{0}; // the script's time zero
    SignalLevel signalNow() const;

    std::mutex m_logMutex;

    std::mutex m_lifecycleMutex; // Start and Stop
    int m_listenFd = -1;
    int m_stopFd = -1;            // eventfd, readable once stopping: wakes every poll()
    int m_reapFd = -1;            // eventfd, a connection has finished
    bool m_ownDescriptors = true; // false: stop and reap descriptors belong to a fleet
    std::atomic<uint16_t> m_port{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::thread m_server;
    std::list<std::unique_ptr<Connection>> m_connections; // server thread only
};

} // namespace vireo::sim
