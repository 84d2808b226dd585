#include "fleet_monitor.h"
#include "http_endpoint.h"
#include "slow_clients.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace std::chrono_literals;

namespace vireo::test {
namespace {

double Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// 64 clients trickling requests and 500 idle connections, from a dozen
// addresses as scanners or broken scrapers would: each address is held to
// its share, together they would take every connection, yet a scrape from
// elsewhere is served at once; a trickled request is cut at the request
// deadline whatever it still sends.
TEST(HttpLimits, SlowAndIdleClientsNeverDelayAnotherScrape)
{
    FleetOptions options;
    FleetMonitor fleet(options);
    for (int i = 1; i <= 50; ++i) {
        fleet.Add({i, "127.241.9." + std::to_string(i), true, true, "IRD"});
    }
    HttpLimits limits;
    limits.requestTimeout = 2s;
    HttpEndpoint http(fleet, {}, limits);
    std::string error;
    ASSERT_TRUE(http.Bind("127.241.0.1", 0, &error)) << error;
    ASSERT_TRUE(http.Start());
    const uint16_t port = http.Port();

    HttpCall scrape;
    scrape.source = "127.241.0.200";
    scrape.timeout = 3s;
    auto timed = [&] {
        const auto start = std::chrono::steady_clock::now();
        const HttpReply reply = Http(port, scrape, "127.241.0.1");
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.body.find("vireo_monitor_devices 50"), std::string::npos);
        return Ms(std::chrono::steady_clock::now() - start);
    };
    double normal = 0;
    for (int i = 0; i < 5; ++i) {
        normal = std::max(normal, timed());
    }

    SlowClients slow(port, "127.241.0.1", 64, Sources("127.241.1.", 1, 8), 500,
                     Sources("127.241.2.", 1, 4));
    std::this_thread::sleep_for(1500ms);
    EXPECT_LE(http.Server().OpenConnections(), 64u);
    double worst = 0;
    for (int i = 0; i < 10; ++i) {
        worst = std::max(worst, timed());
    }
    // Below a second: a connect the system dropped is tried again only then.
    EXPECT_LT(worst, std::max(900.0, normal * 10)) << "normal " << normal << " ms";
    EXPECT_EQ(Http(port, {.path = "/healthz", .source = "127.241.0.201"}, "127.241.0.1").status,
              200);

    // Past the deadline the trickled requests are gone, though they still send.
    EXPECT_TRUE([&] {
        for (int i = 0; i < 40; ++i) {
            if (slow.TricklersClosed() == static_cast<int>(slow.Trickling())) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }()) << slow.TricklersClosed()
         << " of " << slow.Trickling();

    // A body beyond the limit is refused before it is read.
    HttpCall big;
    big.method = "POST";
    big.path = "/-/reload";
    big.source = "127.241.0.202";
    big.announced = static_cast<long>(limits.maxBody) + 1;
    EXPECT_EQ(Http(port, big, "127.241.0.1").status, 413);
    http.Stop();
}

// The real program reloads on SIGHUP, and under the same load as above ends
// within 2 s of SIGTERM, status 0.
TEST(HttpLimits, SigtermEndsTheProgramUnderLoad)
{
    const auto folder = std::filesystem::temp_directory_path() / "vireo-monitor-sigterm";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    {
        std::ofstream settings(folder / "Vireo.ini", std::ios::binary);
        settings << "[Address]\r\n";
        for (int i = 1; i <= 20; ++i) {
            settings << "machine=y127.241.8." << i << ":IRD" << i << "\r\n";
        }
        settings << "[LANGUAGE]\r\nlanguage=1\r\n\r\n";
    }
    const std::string config = (folder / "Vireo.ini").string();
    const std::string history = (folder / "History.sqlite").string();
    const char* argv[] = {VIREO_MONITOR_PROGRAM, "--config", config.c_str(),      "--history",
                          history.c_str(),       "--listen", "127.241.0.2:19741", nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, VIREO_MONITOR_PROGRAM, &files, nullptr, const_cast<char**>(argv),
                          environ),
              0);
    posix_spawn_file_actions_destroy(&files);
    bool serving = false;
    for (int i = 0; i < 100 && !serving; ++i) {
        serving = Http(19741, {.path = "/healthz", .timeout = 500ms}, "127.241.0.2").status == 200;
        if (!serving) {
            std::this_thread::sleep_for(100ms);
        }
    }
    ASSERT_TRUE(serving);
    // SIGHUP re-reads the settings file: one machine fewer.
    {
        std::ofstream settings(folder / "Vireo.ini", std::ios::binary);
        settings << "[Address]\r\nmachine=y127.241.8.1:IRD1\r\n[LANGUAGE]\r\nlanguage=1\r\n";
    }
    kill(pid, SIGHUP);
    bool reloaded = false;
    for (int i = 0; i < 50 && !reloaded; ++i) {
        reloaded = Http(19741, {.path = "/metrics", .timeout = 500ms}, "127.241.0.2")
                       .body.find("\nvireo_monitor_devices 1\n") != std::string::npos;
        if (!reloaded) {
            std::this_thread::sleep_for(100ms);
        }
    }
    EXPECT_TRUE(reloaded);
    SlowClients slow(19741, "127.241.0.2", 64, Sources("127.241.3.", 1, 16), 500,
                     Sources("127.241.4.", 1, 64));
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int status = -1;
    pid_t ended = 0;
    while ((ended = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(10ms);
    }
    const double took = Ms(std::chrono::steady_clock::now() - start);
    if (ended == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_EQ(ended, pid);
    EXPECT_LT(took, 2000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vireo::test
