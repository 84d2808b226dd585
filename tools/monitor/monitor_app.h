#pragma once

#include "fleet_alarms.h"
#include "fleet_monitor.h"
#include "history/history_service.h"
#include "http_endpoint.h"
#include "monitor_settings.h"
#include "shard.h"
#include "web_config.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

namespace vireo {

class HistoryDatabase;

// What the command line tells the monitor.
struct MonitorCommand
{
    std::filesystem::path settings;  // Vireo.ini
    std::filesystem::path webConfig; // none: plain HTTP, no password
    std::filesystem::path history = "History.sqlite";
    std::filesystem::path deviceLogs; // none by default
    std::filesystem::path silences;   // a file of maintenance windows; none by default
    std::string site;                 // --site; wins over the settings file
    Shard shard;
    int pollSeconds = 5;
    bool lifecycle = false; // POST /-/reload
    std::string host = "127.0.0.1";
    uint16_t port = 9464;
    HttpLimits limits;
    std::string version;
    std::string revision;
    std::function<void(const std::string&)> log;

    // For tests: the length of a link-timing millisecond, the IRDs' port, a
    // hook before every supervising pass.
    std::chrono::microseconds timeUnit{1000};
    uint16_t irdPort = 8888;
    std::chrono::milliseconds tendInterval{250};
    std::function<void()> beforeTend;
};

// The whole monitor: the fleet of the settings file (its shard of it), the
// history, the HTTP side, and reloading them while it runs.
class MonitorApp
{
public:
    explicit MonitorApp(MonitorCommand command);
    ~MonitorApp();
    MonitorApp(const MonitorApp&) = delete;
    MonitorApp& operator=(const MonitorApp&) = delete;

    // Reads the settings and web config, binds the HTTP port and opens the
    // history; false with one line saying what is wrong.
    bool Open(std::string* error);
    // Starts the sessions and serving.
    bool Start(std::string* error);
    // Re-reads the settings file, the web config, the silences file and the
    // alarm rules: added machines start, removed ones stop, the others keep
    // their sessions. Empty when it worked; else why, and what runs stays.
    std::string Reload();
    // One step of the main loop (every quarter second or so): reloads asked
    // over HTTP, silences changed by other programs.
    void Tick();
    void Stop();

    FleetMonitor& Fleet() { return *m_fleet; }
    HttpEndpoint& Http() { return *m_http; }
    HistoryService& History() { return *m_history; }
    FleetAlarms& Alarms() { return *m_alarms; }
    uint16_t Port() const;

    // Stores a silence and applies it at once; empty when it worked.
    std::string AddSilence(Silence& silence);
    bool EndSilence(int64_t id);

private:
    struct Loaded
    {
        MonitorSettings settings;
        std::optional<WebConfig> web;
        std::vector<Silence> fileSilences;
    };
    bool load(Loaded& loaded, std::string* error) const;
    std::vector<ChosenMachine> shardOf(const MonitorSettings& settings) const;
    void applyGroups(const MonitorSettings& settings);
    void refreshSilences();
    void refreshRules();
    void storeFileSilences(const std::vector<Silence>& silences);
    HttpResponse silencesCall(const HttpRequest& request);
    std::string reloadOverHttp();
    HealthVerdict health() const;
    void log(const std::string& line) const;

    const MonitorCommand m_command;
    std::unique_ptr<FleetMonitor> m_fleet;
    std::unique_ptr<HistoryService> m_history;
    std::shared_ptr<FleetAlarms> m_alarms;
    std::unique_ptr<HttpEndpoint> m_http;
    int64_t m_startedSteadyMs = 0;
    WebConfig m_webConfig; // the one serving; changed by reloads only

    std::mutex m_reloadMutex; // one reload at a time
    mutable std::mutex m_stateMutex;
    std::string m_site;
    bool m_lastReloadOk = true;
    int64_t m_lastReloadSuccessMs = 0;

    std::mutex m_silenceMutex; // the connection below
    std::unique_ptr<HistoryDatabase> m_silenceDb;
    std::chrono::steady_clock::time_point m_silencesReadAt{};

    std::mutex m_queueMutex; // reloads asked over HTTP, for the main loop
    std::deque<std::promise<std::string>> m_reloadQueue;
};

} // namespace vireo
