// Costs of the device session against the simulated IRD on loopback:
//   idle_cpu_32_sessions  CPU of 32 connected, idle sessions over 10 s (% of one core)
//   stop_latency          RequestStop to thread joined, median (ms)
//   request_rtt           QuerySignal round trip through the session, median (µs)
//   raw_loopback_rtt      the same exchange on a bare socket, median (µs)
#include "lang/language_table.h"
#include "link/basic_content.h"
#include "link/device_session.h"
#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace vireo;
using Clock = std::chrono::steady_clock;

namespace {

// Counts the SignalStatus replies the session dispatches.
class SignalCounter : public BasicContent
{
public:
    void Dispatch(DeviceSession& s, uint8_t current, const uint8_t* frame, uint8_t length) override
    {
        BasicContent::Dispatch(s, current, frame, length);
        if (frame[1] == msg::SignalStatus) {
            std::lock_guard lock(m_mutex);
            ++m_count;
            m_changed.notify_all();
        }
    }
    void WaitFor(long count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    long m_count = 0;
};

struct Device
{
    explicit Device(const std::string& address)
        : log(address + ":bench", "no-logs"), session(context, log, view, content)
    {}
    SessionContext context;
    LogBuffer log;
    NullDeviceView view;
    SignalCounter content;
    DeviceSession session;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename T> T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

sim::DeviceDatabase database()
{
    return sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value();
}

void idleCpu()
{
    constexpr int kSessions = 32;
    std::vector<std::unique_ptr<sim::Simulator>> sims;
    std::vector<std::unique_ptr<Device>> devices;
    for (int i = 0; i < kSessions; ++i) {
        const std::string address = "127.0.70." + std::to_string(i + 1);
        sims.push_back(std::make_unique<sim::Simulator>(database(), sim::QuietOptions()));
        sims.back()->Start(address, 8888);
        devices.push_back(std::make_unique<Device>(address));
        devices.back()->session.ConnectIrd();
        devices.back()->session.StartSession();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double before = cpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double used = cpuSeconds() - before;
    std::printf("idle_cpu_32_sessions %.3f %%\n", 100.0 * used / wall);
    devices.clear();
    sims.clear();
}

void stopLatency()
{
    sim::Simulator irb(database(), sim::QuietOptions());
    irb.Start("127.0.71.1", 8888);
    std::vector<double> ms;
    for (int i = 0; i < 30; ++i) {
        Device d("127.0.71.1");
        d.session.ConnectIrd();
        d.session.StartSession();
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // into its idle wait
        const auto start = Clock::now();
        d.session.RequestStop();
        d.session.Teardown();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("stop_latency %.3f ms\n", median(ms));
}

void roundTrips()
{
    sim::Simulator irb(database(), sim::QuietOptions());
    irb.Start("127.0.71.2", 8888);
    constexpr int kRounds = 2000;

    std::vector<double> sessionUs;
    {
        Device d("127.0.71.2");
        d.session.ConnectIrd();
        d.session.StartSession();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (int i = 0; i < kRounds; ++i) {
            const auto start = Clock::now();
            d.session.SendRequest(msg::QuerySignal);
            d.content.WaitFor(i + 1);
            sessionUs.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }

    std::vector<double> rawUs;
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(8888);
        inet_pton(AF_INET, "127.0.71.2", &a.sin_addr);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const auto request = ComposeRequest(msg::QuerySignal).value();
        uint8_t buffer[1024];
        for (int i = 0; i < kRounds; ++i) {
            const auto start = Clock::now();
            send(fd, request.bytes.data(), request.size(), 0);
            size_t got = 0;
            while (got < 8) { // SignalStatus: 6 bytes of frame and 2 of payload
                const ssize_t n = recv(fd, buffer + got, sizeof buffer - got, 0);
                if (n <= 0) {
                    break;
                }
                got += static_cast<size_t>(n);
            }
            rawUs.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        close(fd);
    }
    const double session = median(sessionUs);
    const double raw = median(rawUs);
    std::printf("request_rtt %.1f us\n", session);
    std::printf("raw_loopback_rtt %.1f us\n", raw);
    std::printf("request_rtt_ratio %.2f x\n", session / raw);
}

} // namespace

int main(int argc, char** argv)
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "rtt") {
        roundTrips();
    }
    if (only.empty() || only == "stop") {
        stopLatency();
    }
    if (only.empty() || only == "idle") {
        idleCpu();
    }
    return 0;
}
