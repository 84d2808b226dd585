// Applying snapshots against the simulated IRD on loopback.
//
// A plan of every kind (changes in place, adds and deletes) with the reads
// of the device between its stages and the read that ends it:
//   apply_plan_time   the whole run by ApplyRunner, the device's state saved
//                     and the journal kept (median of 5 runs) (s)
//   apply_plan_bare   the sum of the round trips, on a bare socket one after
//                     the other, of every request the device received during
//                     that run: the writes, the re-reads' requests and the
//                     session's own polls (median of 5 runs) (s)
//   apply_plan_ratio  the first over the second, the median of the 5 runs' ratios (x)
//   apply_plan_requests, apply_plan_reads  what one run sent (requests, reads)
//
// A plan that rewrites a whole device in place:
//   apply_full_plan_in_place   40 satellites (SetSatellite) and 200 TPs
//                     (ModifyTp) through the device session, each request
//                     waiting for its answer, the device's state saved and the
//                     journal flushed before each group of steps (s)
//   bare_round_trips_in_place  the sum of the same requests' round trips on a
//                     bare socket, one after the other (s)
//   apply_plan_ratio_in_place  the first over the second (x)
//   apply_plan_ratio_no_journal  the same without the saved state and the
//                     journal: the session's own cost per request (x)
//   apply_verify_read the full read of the device that ends the run; most of
//                     it is the 150 ms the session waits after the playing
//                     program's record before it polls the signal (s)
//   apply_with_verify_ratio_in_place  the whole run over the bare round trips (x)
//   apply_plan_ratio_1ms_device  apply_plan_ratio_in_place again with both
//                     simulators answering each request after 1 ms, as a
//                     device that takes its time does (x)
#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/database_edits.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/apply_runner.h"
#include "snapshot/headless_device.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vireo;
using Clock = std::chrono::steady_clock;

namespace {

// Reads one whole frame (start, code, L, payload, CRC, end).
bool readFrame(int fd)
{
    uint8_t buffer[300];
    size_t got = 0;
    size_t need = 3;
    while (got < need) {
        const ssize_t n = recv(fd, buffer + got, need - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
        if (got >= 3) {
            need = size_t{buffer[2]} + kFrameOverhead;
        }
    }
    return true;
}

int connectTo(const std::string& address)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(8888);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

double bareRoundTrips(const std::string& address, const ApplyPlan& plan)
{
    const int fd = connectTo(address);
    if (fd < 0) {
        return -1;
    }
    double total = 0;
    for (const PlanStep& step : plan.steps) {
        const auto request = ComposeRequest(step.code, 0, 0, step.payload).value();
        const auto start = Clock::now();
        send(fd, request.bytes.data(), request.size(), 0);
        if (!readFrame(fd)) {
            close(fd);
            return -1;
        }
        total += std::chrono::duration<double>(Clock::now() - start).count();
    }
    close(fd);
    return total;
}

bool readable(int fd, int waitMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) > 0;
}

// How many frames answer each of `requests`, sent one at a time to a device
// in the state the measured one was in: its answers are read until none
// comes for a while (untimed).
std::vector<size_t> countAnswers(const std::string& address,
                                 const std::vector<std::vector<uint8_t>>& requests)
{
    const int fd = connectTo(address);
    if (fd < 0) {
        return {};
    }
    std::vector<size_t> counts;
    for (const auto& request : requests) {
        send(fd, request.data(), request.size(), 0);
        size_t n = 0;
        while (readable(fd, 30)) {
            if (!readFrame(fd)) {
                close(fd);
                return {};
            }
            ++n;
        }
        counts.push_back(n);
    }
    close(fd);
    return counts;
}

// The sum of `requests`' round trips, each sent once the last frame of the
// one before came back.
double replay(const std::string& address, const std::vector<std::vector<uint8_t>>& requests,
              const std::vector<size_t>& answers)
{
    const int fd = connectTo(address);
    if (fd < 0) {
        return -1;
    }
    double total = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        const auto start = Clock::now();
        send(fd, requests[i].data(), requests[i].size(), 0);
        for (size_t n = 0; n < answers[i]; ++n) {
            if (!readFrame(fd)) {
                close(fd);
                return -1;
            }
        }
        total += std::chrono::duration<double>(Clock::now() - start).count();
    }
    close(fd);
    return total;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// When the steps end and the read-back begins.
class Phases : public ApplyListener
{
public:
    void OnReading() override
    {
        reading = Clock::now();
        ++reads;
    }
    Clock::time_point reading;
    size_t reads = 0;
};

struct MixedRun
{
    double time = 0;
    double bare = 0;
    size_t requests = 0;
    size_t reads = 0;
};

// Satellites and TPs changed, TPs and a satellite added, TPs deleted: every
// kind of step, the device read again after the adds and each delete.
std::optional<MixedRun> measureMixed(int host, const std::string& records)
{
    const auto at = [host](int n) { return "127.0.228." + std::to_string(host + n); };
    const sim::DeviceDatabase held = sim::GenerateDatabase({6, 40, 60, 20}, nullptr).value();
    sim::DeviceDatabase wanted = held;
    for (size_t i = 0; i < 3; ++i) {
        wanted.satellites[i].loLow = static_cast<uint16_t>(wanted.satellites[i].loLow + 1);
    }
    for (size_t i = 0; i < 10; ++i) {
        wanted.transponders[i].symbolRate =
            static_cast<uint16_t>(wanted.transponders[i].symbolRate + 1);
    }
    for (size_t i = 0; i < 4; ++i) {
        sim::DeleteTransponder(wanted, wanted.transponders.back().index);
    }
    const uint8_t first = wanted.satellites.front().index;
    for (uint8_t i = 0; i < 4; ++i) {
        sim::AddTransponder(
            wanted, {0, first, 0, 0, static_cast<uint16_t>(12900 + i * 10), 27500, 2, 0, 1, 3});
    }
    const uint8_t added = sim::AddSatellite(wanted, {0, 0, 0, 0, 11300, 10000, "New 7.0E"}).value();
    sim::AddTransponder(wanted, {0, added, 0, 0, 12100, 27500, 2, 0, 1, 3});
    const Snapshot snapshot = ReadSnapshot(sim::DatabaseToJson(wanted), nullptr).value();

    sim::Simulator device(held, sim::QuietOptions());
    sim::Simulator probe(held, sim::QuietOptions());
    sim::Simulator twin(held, sim::QuietOptions());
    if (!device.Start(at(0), 8888) || !probe.Start(at(1), 8888) || !twin.Start(at(2), 8888)) {
        std::fprintf(stderr, "cannot start the simulators\n");
        return std::nullopt;
    }
    std::vector<std::vector<uint8_t>> requests;
    MixedRun m;
    {
        HeadlessDevice target(at(0), false);
        std::shared_ptr<ListManager> db;
        if (!target.Connect() || target.ReadFirst(Clock::now() + std::chrono::seconds(60), &db) !=
                                     DeviceRead::Outcome::Complete) {
            std::fprintf(stderr, "cannot read the device\n");
            return std::nullopt;
        }
        const size_t before = device.ReceivedFrames().size();
        Phases phases;
        ApplyRunOptions run;
        run.address = at(0);
        run.recordFolder = records;
        run.allowProgramLoss = true;
        const auto start = Clock::now();
        const ApplyResult result =
            ApplyRunner(target.Reader()).Run(snapshot, apply_section::All, db, &phases, run);
        m.time = std::chrono::duration<double>(Clock::now() - start).count();
        m.reads = phases.reads;
        const auto received = device.ReceivedFrames();
        requests.assign(received.begin() + static_cast<ptrdiff_t>(before), received.end());
        if (!result.matches || result.doneSteps.size() < 20) {
            std::fprintf(stderr, "the apply did not run as planned: %zu steps, %s\n",
                         result.doneSteps.size(), result.stopped.c_str());
            return std::nullopt;
        }
    }
    m.requests = requests.size();
    const std::vector<size_t> answers = countAnswers(at(1), requests);
    if (answers.size() != requests.size()) {
        std::fprintf(stderr, "the requests could not be counted\n");
        return std::nullopt;
    }
    m.bare = replay(at(2), requests, answers);
    if (m.bare <= 0) {
        std::fprintf(stderr, "bare round trips failed\n");
        return std::nullopt;
    }
    return m;
}

} // namespace

int main()
{
    const sim::DeviceDatabase held = sim::GenerateDatabase({40, 200, 60, 20}, nullptr).value();
    sim::DeviceDatabase wanted = held;
    for (auto& s : wanted.satellites) {
        s.loLow = static_cast<uint16_t>(s.loLow + 1);
    }
    for (auto& t : wanted.transponders) {
        t.symbolRate = static_cast<uint16_t>(t.symbolRate + 1);
    }
    const Snapshot snapshot = ReadSnapshot(sim::DatabaseToJson(wanted), nullptr).value();
    const unsigned sections = apply_section::Satellites | apply_section::Transponders;

    struct Measured
    {
        double steps = 0; // the plan's requests
        double whole = 0; // with the read that ends the run
        double bare = 0;  // the same requests on a bare socket
    };
    // The apply onto one simulator, the bare requests onto a twin; both
    // answer each request after `delayMs`.
    const std::filesystem::path records =
        std::filesystem::temp_directory_path() / "vireo-apply-bench";
    std::filesystem::create_directories(records);
    auto measure = [&](const std::string& address, const std::string& twin, int delayMs,
                       const Snapshot& snapshot, bool journal) -> std::optional<Measured> {
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.delayMs = delayMs;
        sim::Simulator device(held, options);
        sim::Simulator bare(held, options);
        if (!device.Start(address, 8888) || !bare.Start(twin, 8888)) {
            std::fprintf(stderr, "cannot start the simulators\n");
            return std::nullopt;
        }
        HeadlessDevice target(address, false);
        std::shared_ptr<ListManager> db;
        if (!target.Connect() || target.ReadFirst(Clock::now() + std::chrono::seconds(60), &db) !=
                                     DeviceRead::Outcome::Complete) {
            std::fprintf(stderr, "cannot read the device\n");
            return std::nullopt;
        }
        const auto start = Clock::now();
        Phases phases;
        ApplyRunOptions run;
        run.address = address;
        run.recordFolder = journal ? records.string() : std::string();
        const ApplyResult result =
            ApplyRunner(target.Reader()).Run(snapshot, sections, db, &phases, run);
        Measured m;
        m.whole = std::chrono::duration<double>(Clock::now() - start).count();
        m.steps = std::chrono::duration<double>(phases.reading - start).count();
        db.reset();
        if (!result.matches || result.initialPlan.steps.size() != 240) {
            std::fprintf(stderr, "the apply did not run as planned: %zu steps, %s\n",
                         result.initialPlan.steps.size(), result.stopped.c_str());
            return std::nullopt;
        }
        m.bare = bareRoundTrips(twin, result.initialPlan);
        if (m.bare <= 0) {
            std::fprintf(stderr, "bare round trips failed\n");
            return std::nullopt;
        }
        return m;
    };

    std::vector<double> times, bares, ratios;
    MixedRun last;
    for (int run = 0; run < 5; ++run) {
        const std::optional<MixedRun> m = measureMixed(10 + run * 3, records.string());
        if (!m) {
            return 1;
        }
        times.push_back(m->time);
        bares.push_back(m->bare);
        ratios.push_back(m->time / m->bare);
        last = *m;
    }
    std::printf("apply_plan_time %.4f s\n", median(times));
    std::printf("apply_plan_bare %.4f s\n", median(bares));
    std::printf("apply_plan_ratio %.2f x\n", median(ratios));
    std::printf("apply_plan_requests %zu requests\n", last.requests);
    std::printf("apply_plan_reads %zu reads\n", last.reads);

    const std::optional<Measured> fast = measure("127.0.228.1", "127.0.228.2", 0, snapshot, true);
    const std::optional<Measured> bare = measure("127.0.228.5", "127.0.228.6", 0, snapshot, false);
    if (!fast || !bare) {
        return 1;
    }
    std::printf("apply_full_plan_in_place %.4f s\n", fast->steps);
    std::printf("bare_round_trips_in_place %.4f s\n", fast->bare);
    std::printf("apply_plan_ratio_in_place %.2f x\n", fast->steps / fast->bare);
    std::printf("apply_verify_read %.3f s\n", fast->whole - fast->steps);
    std::printf("apply_with_verify_ratio_in_place %.2f x\n", fast->whole / fast->bare);
    std::printf("apply_plan_ratio_no_journal %.2f x\n", bare->steps / bare->bare);

    const std::optional<Measured> timed = measure("127.0.228.3", "127.0.228.4", 1, snapshot, true);
    if (!timed) {
        return 1;
    }
    std::printf("apply_plan_ratio_1ms_device %.2f x\n", timed->steps / timed->bare);
    std::filesystem::remove_all(records);
    return 0;
}
