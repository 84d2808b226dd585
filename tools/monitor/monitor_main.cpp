// vireo-monitor: watches the ticked IRDs of a settings file without a window
// and publishes them over HTTP for Prometheus.

#include "http_endpoint.h"
#include "lang/language_table.h"
#include "monitor_app.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <pthread.h>

using namespace vireo;

namespace {

std::mutex g_logMutex;

// One line per event on standard error (journald adds the time).
void logLine(const std::string& line)
{
    std::lock_guard lock(g_logMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
}

int fail(const std::string& line)
{
    logLine("vireo-monitor: " + line);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Watches the ticked IRDs of a Vireo settings file and exports their state, "
                 "signal and alarms to Prometheus over HTTP."};
    MonitorCommand command;
    std::string config;
    std::string listen = "127.0.0.1:9464";
    std::string history = "History.sqlite";
    std::string deviceLogs;
    std::string webConfig;
    std::string silences;
    std::string shard;
    int requestSeconds = 10;
    size_t maxBody = 1024 * 1024;
    app.add_option("--config", config, "Settings file (Vireo.ini) listing the IRDs")->required();
    app.add_option("--listen", listen, "HTTP address HOST:PORT")->capture_default_str();
    app.add_option("--history", history, "History database file")->capture_default_str();
    app.add_option("--poll-seconds", command.pollSeconds,
                   "Seconds between signal queries of an IRD")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--device-logs", deviceLogs,
                   "Folder for each IRD's own log file (rotated at 10 MB); none by default");
    app.add_option("--web.config.file", webConfig,
                   "TLS and basic-auth users, in the YAML format of the Prometheus exporters");
    app.add_flag("--web.enable-lifecycle", command.lifecycle,
                 "Allow POST /-/reload (as SIGHUP does)");
    app.add_option("--web.max-connections", command.limits.connections,
                   "HTTP connections at most, all clients together")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    app.add_option("--web.max-connections-per-address", command.limits.perAddress,
                   "HTTP connections at most from one client address")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    app.add_option("--web.request-timeout", requestSeconds,
                   "Seconds a whole HTTP request may take (and an idle connection stay)")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--web.max-body-bytes", maxBody, "Largest HTTP request body")
        ->check(CLI::Range(size_t{0}, size_t{64} << 20))
        ->capture_default_str();
    app.add_option("--site", command.site,
                   "The `site` label of every series (default: site= of the settings file)");
    app.add_option("--shard", shard,
                   "K/N: watch only the machines whose address hashes to K of N (0 <= K < N)");
    app.add_option("--silences", silences,
                   "YAML file of maintenance windows (device or group, until, reason)");
    CLI11_PARSE(app, argc, argv);

    // Signals are taken by sigtimedwait below; every thread started from here
    // on inherits the mask, so none of them is interrupted by one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (!ParseListenAddress(listen, command.host, command.port)) {
        return fail("--listen wants HOST:PORT (an IPv4 address and a port), not '" + listen + "'");
    }
    if (!shard.empty() && !ParseShard(shard, command.shard)) {
        return fail("--shard wants K/N with 0 <= K < N <= 1000, not '" + shard + "'");
    }
    command.settings = config;
    command.history = history;
    command.deviceLogs = deviceLogs;
    command.webConfig = webConfig;
    command.silences = silences;
    command.limits.requestTimeout = std::chrono::seconds(requestSeconds);
    command.limits.maxBody = maxBody;
    command.version = VIREO_MONITOR_VERSION;
    command.revision = VIREO_MONITOR_REVISION;
    command.log = logLine;

    SetLanguageFlag(1);
    BuildLanguageTable();
    auto monitor = std::make_unique<MonitorApp>(command);
    std::string error;
    if (!monitor->Open(&error)) {
        return fail(error);
    }
    if (!monitor->Start(&error)) {
        return fail(error);
    }
    logLine("vireo-monitor: watching " + std::to_string(monitor->Fleet().Devices().size()) +
            " IRDs of " + config +
            (command.shard.count > 1 ? " (shard " + shard + ")" : std::string()) + ", history " +
            history + ", serving " + (webConfig.empty() ? "http" : "http(s)") + "://" +
            command.host + ":" + std::to_string(monitor->Port()) + "/metrics");

    for (;;) {
        const timespec quarter{0, 250 * 1000 * 1000};
        const int received = sigtimedwait(&signals, nullptr, &quarter);
        if (received == SIGHUP) {
            logLine("vireo-monitor: SIGHUP, reloading");
            monitor->Reload();
        } else if (received == SIGTERM || received == SIGINT) {
            logLine(std::string("vireo-monitor: ") + (received == SIGINT ? "SIGINT" : "SIGTERM") +
                    ", stopping");
            break;
        }
        monitor->Tick();
    }
    monitor.reset();
    logLine("vireo-monitor: stopped");
    return 0;
}
