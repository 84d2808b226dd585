// vireo-monitor: watches the ticked IRDs of a settings file without a window
// and publishes them over HTTP for Prometheus.

#include "app/settings_file.h"
#include "fleet_history.h"
#include "fleet_monitor.h"
#include "http_endpoint.h"
#include "lang/language_table.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
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
                 "signal and alarms to Prometheus over HTTP (read-only)."};
    std::string config;
    std::string listen = "127.0.0.1:9464";
    std::string history = "History.sqlite";
    std::string deviceLogs;
    int pollSeconds = 5;
    app.add_option("--config", config, "Settings file (Vireo.ini) listing the IRDs")->required();
    app.add_option("--listen", listen, "HTTP address HOST:PORT")->capture_default_str();
    app.add_option("--history", history, "History database file")->capture_default_str();
    app.add_option("--poll-seconds", pollSeconds, "Seconds between signal queries of an IRD")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--device-logs", deviceLogs,
                   "Folder for each IRD's own log file (rotated at 10 MB); none by default");
    CLI11_PARSE(app, argc, argv);

    // Signals are taken by sigwait below; every thread started from here on
    // inherits the mask, so none of them is interrupted by one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::string host;
    uint16_t port = 0;
    if (!ParseListenAddress(listen, host, port)) {
        return fail("--listen wants HOST:PORT (an IPv4 address and a port), not '" + listen + "'");
    }

    SetLanguageFlag(1);
    BuildLanguageTable();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(config, ec)) {
        return fail("cannot read settings file " + config + ": no such file");
    }
    const SettingsReadResult settings = ReadSettingsFile(config);
    if (!settings.checkboxes) {
        const std::string why = settings.items.empty() ? "unreadable" : settings.items[0].caption;
        return fail("cannot read settings file " + config + ": " + why);
    }
    if (!deviceLogs.empty() && !std::filesystem::is_directory(deviceLogs, ec)) {
        return fail("--device-logs: " + deviceLogs + " is not a folder");
    }

    FleetOptions options;
    options.timing.link = MonitorLinkTiming(pollSeconds);
    options.deviceLogs = deviceLogs;
    options.log = logLine;
    auto fleet = std::make_unique<FleetMonitor>(options);
    for (const ChosenMachine& machine : settings.machines) {
        if (!machine.autoConnect) {
            continue;
        }
        if (fleet->Add(machine) == nullptr) {
            logLine("vireo-monitor: " + machine.address + " listed twice, watched once");
        }
    }

    auto http = std::make_unique<HttpEndpoint>(*fleet);
    std::string error;
    if (!http->Bind(host, port, &error)) {
        return fail(error);
    }

    HistoryService::Options historyOptions;
    historyOptions.file = history;
    historyOptions.log = [](const std::string& line) { logLine("vireo-monitor: " + line); };
    HistoryService service(historyOptions);
    if (!service.Ok()) {
        return fail("cannot open history " + history + ": " + service.Error());
    }
    if (!service.MovedAside().empty()) {
        logLine("vireo-monitor: history " + history + " failed its check and was moved to " +
                service.MovedAside().string() + "; a new history starts");
    }
    RecordFleet(*fleet, service, logLine);

    logLine("vireo-monitor: watching " + std::to_string(fleet->Devices().size()) + " IRDs of " +
            config + ", history " + history + ", serving http://" + host + ":" +
            std::to_string(http->Port()) + "/metrics");
    fleet->Start();
    http->Start();

    int received = 0;
    sigwait(&signals, &received);
    logLine(std::string("vireo-monitor: ") + (received == SIGINT ? "SIGINT" : "SIGTERM") +
            ", stopping");
    http.reset();
    // The sessions end first; their recorders, dropped with them, close the
    // devices' open periods; then the history commits what is queued.
    fleet->Stop();
    fleet.reset();
    service.Stop();
    logLine("vireo-monitor: stopped");
    return 0;
}
