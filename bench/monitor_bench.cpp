// The monitor holding 1,000 IRDs played by one simulator process: time from
// start until every device is up, CPU in the steady state, resident memory
// per IRD, the time of one /metrics scrape, its p99 while 64 clients trickle
// requests, and how long the real program takes to end on SIGTERM under
// that load (with 500 idle connections besides).
//
//     build/bench/monitor_bench [--addresses FIRST-LAST] [--steady-seconds N]
//
// 5,000 IRDs: --addresses 127.0.170.1-127.0.189.174

#include "fleet_history.h"
#include "fleet_monitor.h"
#include "http_endpoint.h"
#include "lang/language_table.h"
#include "monitor/http_client.h"
#include "monitor/slow_clients.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace vireo;
using namespace std::chrono;

namespace {

long statusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(std::strlen(key)));
        }
    }
    return 0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Every address of FIRST-LAST, skipping x.y.z.0 and x.y.z.255 as the
// simulator does.
std::vector<std::string> addressRange(const std::string& range)
{
    const size_t dash = range.find('-');
    in_addr first{}, last{};
    inet_pton(AF_INET, range.substr(0, dash).c_str(), &first);
    inet_pton(AF_INET, range.substr(dash + 1).c_str(), &last);
    std::vector<std::string> out;
    for (uint32_t a = ntohl(first.s_addr); a <= ntohl(last.s_addr); ++a) {
        if ((a & 0xFF) == 0 || (a & 0xFF) == 0xFF) {
            continue;
        }
        in_addr x{htonl(a)};
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &x, text, sizeof text);
        out.emplace_back(text);
    }
    return out;
}

bool listening(const std::string& address)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8888);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return ok;
}

// The real program watching `addresses`: once every IRD was tried, 64
// clients trickle and 500 connections idle; the time from SIGTERM to its
// exit (-1 when it did not end within 10 s or not with status 0).
double sigtermUnderLoad(const std::vector<std::string>& addresses,
                        const std::filesystem::path& folder)
{
    const std::filesystem::path settings = folder / "Vireo.ini";
    {
        std::ofstream out(settings, std::ios::binary);
        out << "[Address]\r\n";
        for (const std::string& address : addresses) {
            out << "machine=y" << address << ":IRD\r\n";
        }
        out << "[LANGUAGE]\r\nlanguage=1\r\n\r\n";
    }
    const std::string config = settings.string();
    const std::string history = (folder / "Monitor.sqlite").string();
    const char* argv[] = {VIREO_MONITOR_PROGRAM, "--config", config.c_str(),    "--history",
                          history.c_str(),       "--listen", "127.0.0.1:19466", nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, VIREO_MONITOR_PROGRAM, &files, nullptr, const_cast<char**>(argv),
                    environ) != 0) {
        return -1;
    }
    const auto readyBy = steady_clock::now() + 120s;
    while (test::HttpGet(19466, "/readyz").status != 200 && steady_clock::now() < readyBy) {
        std::this_thread::sleep_for(200ms);
    }
    double took = -1;
    {
        test::SlowClients slow(19466, "127.0.0.1", 64, test::Sources("127.0.169.", 1, 8), 500,
                               test::Sources("127.0.168.", 1, 100));
        std::this_thread::sleep_for(1s);
        const auto start = steady_clock::now();
        kill(pid, SIGTERM);
        int status = -1;
        pid_t ended = 0;
        while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && steady_clock::now() - start < 10s) {
            std::this_thread::sleep_for(5ms);
        }
        if (ended == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            took = duration<double, std::milli>(steady_clock::now() - start).count();
        }
        if (ended == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    return took;
}

} // namespace

int main(int argc, char** argv)
{
    std::string range = "127.0.170.1-127.0.173.238"; // 1,000 addresses
    int steadySeconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--addresses") == 0) {
            range = argv[i + 1];
        } else if (std::strcmp(argv[i], "--steady-seconds") == 0) {
            steadySeconds = std::atoi(argv[i + 1]);
        }
    }
    const std::vector<std::string> addresses = addressRange(range);

    // The simulator is a process of its own, so that what is measured here
    // is the monitor alone.
    std::string rangeArg = range;
    char* simArgs[] = {const_cast<char*>(VIREO_SIM_PROGRAM), const_cast<char*>("--addresses"),
                       rangeArg.data(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t sim = 0;
    if (posix_spawn(&sim, VIREO_SIM_PROGRAM, &files, nullptr, simArgs, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", VIREO_SIM_PROGRAM);
        return 1;
    }
    const auto simDeadline = steady_clock::now() + 30s;
    while (!listening(addresses.back()) || !listening(addresses.front())) {
        if (steady_clock::now() > simDeadline) {
            std::fprintf(stderr, "the simulator does not listen\n");
            kill(sim, SIGTERM);
            return 1;
        }
        std::this_thread::sleep_for(50ms);
    }

    SetLanguageFlag(1);
    BuildLanguageTable();
    FleetOptions options;
    options.timing.link = MonitorLinkTiming(5);
    FleetMonitor fleet(options);
    int n = 0;
    for (const std::string& address : addresses) {
        fleet.Add({n, address, true, true, "IRD " + std::to_string(n)});
        ++n;
    }
    // History and alarms as the service keeps them.
    const auto folder = std::filesystem::temp_directory_path() / "vireo-monitor-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    HistoryService::Options historyOptions;
    historyOptions.file = folder / "History.sqlite";
    HistoryService history(historyOptions);
    RecordFleet(fleet, history, {});
    const long rssBefore = statusKb("VmRSS:");

    const auto start = steady_clock::now();
    fleet.Start();
    size_t up = 0;
    while (steady_clock::now() - start < 120s) {
        const auto samples = fleet.Samples();
        up = static_cast<size_t>(std::count_if(samples.begin(), samples.end(),
                                               [](const DeviceSample& s) { return s.up; }));
        if (up == addresses.size()) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    const double allUp = duration<double>(steady_clock::now() - start).count();
    if (up != addresses.size()) {
        std::fprintf(stderr, "only %zu of %zu devices up\n", up, addresses.size());
    }
    std::printf("monitor_%zu_all_up %.2f s\n", addresses.size(), allUp);

    // Steady state: every session idle but for its signal poll.
    std::this_thread::sleep_for(3s);
    const double cpu0 = cpuSeconds();
    const auto t0 = steady_clock::now();
    std::this_thread::sleep_for(seconds(steadySeconds));
    const double cpu = (cpuSeconds() - cpu0) / duration<double>(steady_clock::now() - t0).count();
    std::printf("monitor_%zu_cpu %.2f %%\n", addresses.size(), cpu * 100);
    const long rssAfter = statusKb("VmRSS:");
    const auto samples = fleet.Samples();
    std::printf("monitor_%zu_with_signal %zd count\n", addresses.size(),
                std::count_if(samples.begin(), samples.end(),
                              [](const DeviceSample& s) { return s.haveSignal; }));
    std::printf("monitor_%zu_rss_per_ird %.1f KB\n", addresses.size(),
                static_cast<double>(rssAfter - rssBefore) / static_cast<double>(addresses.size()));
    std::printf("monitor_threads %ld count\n", statusKb("Threads:"));

    HttpEndpoint http(fleet);
    std::string error;
    if (!http.Bind("127.0.0.1", 19465, &error) || !http.Start()) {
        std::fprintf(stderr, "%s\n", error.c_str());
    } else {
        auto scrapes = [&](int count, size_t& bytes) {
            std::vector<double> times;
            test::HttpCall call;
            call.source = "127.0.169.200";
            for (int i = 0; i < count; ++i) {
                const auto s = steady_clock::now();
                const test::HttpReply res = test::Http(19465, call);
                times.push_back(duration<double, std::milli>(steady_clock::now() - s).count());
                bytes = res.status == 200 ? res.body.size() : 0;
            }
            std::sort(times.begin(), times.end());
            return times;
        };
        size_t bytes = 0;
        const std::vector<double> quiet = scrapes(100, bytes);
        std::printf("metrics_scrape_%zu %.2f ms\n", addresses.size(), quiet[quiet.size() / 2]);
        std::printf("metrics_scrape_%zu_p99 %.2f ms\n", addresses.size(),
                    quiet[quiet.size() * 99 / 100 - 1]);
        std::printf("metrics_page_%zu %zu bytes\n", addresses.size(), bytes);
        {
            // 64 clients from 8 addresses trickling a byte every 300 ms.
            test::SlowClients slow(19465, "127.0.0.1", 64, test::Sources("127.0.169.", 1, 8), 0,
                                   {});
            std::this_thread::sleep_for(500ms);
            const std::vector<double> loaded = scrapes(100, bytes);
            std::printf("scrape_under_slow_clients %.2f ms\n",
                        loaded[loaded.size() * 99 / 100 - 1]);
            if (bytes == 0) {
                std::fprintf(stderr, "a scrape under slow clients failed\n");
            }
        }
        http.Stop();
    }

    const auto stopStart = steady_clock::now();
    fleet.Stop();
    std::printf("monitor_%zu_stop %.2f s\n", addresses.size(),
                duration<double>(steady_clock::now() - stopStart).count());
    history.Stop();
    std::printf("history_file_%zu %.1f KB\n", addresses.size(),
                static_cast<double>(std::filesystem::file_size(historyOptions.file)) / 1024);
    std::printf("monitor_sigterm_under_load %.0f ms\n", sigtermUnderLoad(addresses, folder));
    std::filesystem::remove_all(folder);
    kill(sim, SIGTERM);
    int status = 0;
    waitpid(sim, &status, 0);
    return 0;
}
