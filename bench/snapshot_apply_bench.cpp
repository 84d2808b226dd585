// Applying a snapshot that rewrites a whole device against the simulated IRD
// on loopback:
//   apply_full_plan   the plan run by ApplyRunner: 40 satellites (SetSatellite)
//                     and 200 transponders (ModifyTp) through the device
//                     session, each request waiting for its answer (s)
//   bare_round_trips  the sum of the same requests' round trips on a bare
//                     socket, one after the other (s)
//   apply_plan_ratio  the first over the second (x)
//   apply_verify_read the full read of the device that ends the run; most of
//                     it is the 150 ms the session waits after the playing
//                     program's record before it polls the signal (s)
//   apply_with_verify_ratio  the whole run over the bare round trips (x)
#include "link/request_frame.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/apply_runner.h"
#include "snapshot/headless_device.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

    sim::Simulator device(held, sim::QuietOptions());
    sim::Simulator bare(held, sim::QuietOptions());
    if (!device.Start("127.0.180.51", 8888) || !bare.Start("127.0.180.52", 8888)) {
        std::fprintf(stderr, "cannot start the simulators\n");
        return 1;
    }
    HeadlessDevice target("127.0.180.51", false);
    std::shared_ptr<ListManager> db;
    if (!target.Connect() || target.ReadFirst(Clock::now() + std::chrono::seconds(30), &db) !=
                                 DeviceRead::Outcome::Complete) {
        std::fprintf(stderr, "cannot read the device\n");
        return 1;
    }
    const auto start = Clock::now();
    Phases phases;
    const ApplyResult result = ApplyRunner(target.Reader()).Run(snapshot, sections, db, &phases);
    const double apply = std::chrono::duration<double>(Clock::now() - start).count();
    const double steps = std::chrono::duration<double>(phases.reading - start).count();
    db.reset();
    if (!result.matches || result.initialPlan.steps.size() != 240) {
        std::fprintf(stderr, "the apply did not run as planned: %zu steps, %s\n",
                     result.initialPlan.steps.size(), result.stopped.c_str());
        return 1;
    }
    const double sum = bareRoundTrips("127.0.180.52", result.initialPlan);
    if (sum <= 0) {
        std::fprintf(stderr, "bare round trips failed\n");
        return 1;
    }
    std::printf("apply_full_plan %.4f s\n", steps);
    std::printf("bare_round_trips %.4f s\n", sum);
    std::printf("apply_plan_ratio %.2f x\n", steps / sum);
    std::printf("apply_verify_read %.3f s\n", apply - steps);
    std::printf("apply_with_verify_ratio %.2f x\n", apply / sum);
    return 0;
}
