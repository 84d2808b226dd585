// Applying a snapshot that rewrites a whole device against the simulated IRD
// on loopback:
//   apply_full_plan   the plan run by ApplyRunner: 40 satellites (SetSatellite)
//                     and 200 transponders (ModifyTp) through the device
//                     session, each request waiting for its answer, the
//                     device's state saved and each step in the journal
//                     (flushed to the disk) before it is sent (s)
//   bare_round_trips  the sum of the same requests' round trips on a bare
//                     socket, one after the other (s)
//   apply_plan_ratio  the first over the second (x)
//   apply_plan_ratio_no_journal  the same without the saved state and the
//                     journal: the session's own cost per request (x)
//   apply_verify_read the full read of the device that ends the run; most of
//                     it is the 150 ms the session waits after the playing
//                     program's record before it polls the signal (s)
//   apply_with_verify_ratio  the whole run over the bare round trips (x)
//   apply_plan_ratio_1ms_device  apply_plan_ratio again with both simulators
//                     answering each request after 1 ms, as a device that
//                     takes its time does: the session's own cost per request
//                     against a real answer time (x)
#include "link/request_frame.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/apply_runner.h"
#include "snapshot/headless_device.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
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

double bareRoundTrips(const std::string& address, const ApplyPlan& plan)
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

// When the steps end and the read-back begins.
class Phases : public ApplyListener
{
public:
    void OnReading() override { reading = Clock::now(); }
    Clock::time_point reading;
};

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

    const std::optional<Measured> fast = measure("127.0.228.1", "127.0.228.2", 0, snapshot, true);
    const std::optional<Measured> bare =
        measure("127.0.228.5", "127.0.228.6", 0, snapshot, false);
    if (!fast || !bare) {
        return 1;
    }
    std::printf("apply_full_plan %.4f s\n", fast->steps);
    std::printf("bare_round_trips %.4f s\n", fast->bare);
    std::printf("apply_plan_ratio %.2f x\n", fast->steps / fast->bare);
    std::printf("apply_verify_read %.3f s\n", fast->whole - fast->steps);
    std::printf("apply_with_verify_ratio %.2f x\n", fast->whole / fast->bare);
    std::printf("apply_plan_ratio_no_journal %.2f x\n", bare->steps / bare->bare);

    const std::optional<Measured> timed =
        measure("127.0.228.3", "127.0.228.4", 1, snapshot, true);
    if (!timed) {
        return 1;
    }
    std::printf("apply_plan_ratio_1ms_device %.2f x\n", timed->steps / timed->bare);
    std::filesystem::remove_all(records);
    return 0;
}
