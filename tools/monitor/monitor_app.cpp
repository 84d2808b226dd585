#include "monitor_app.h"

#include "fleet_history.h"
#include "history/alarm_rules.h"
#include "history/history_database.h"
#include "link/device_observer.h"
#include "silence_text.h"

#include <nlohmann/json.hpp>

namespace vireo {

namespace {

constexpr std::chrono::seconds kSilencesReadEvery{5};
constexpr std::chrono::seconds kHttpReloadWait{60};

} // namespace

MonitorApp::MonitorApp(MonitorCommand command) : m_command(std::move(command)) {}

MonitorApp::~MonitorApp()
{
    Stop();
    m_http.reset();
    m_fleet.reset(); // before the history its recorders write to
    m_history.reset();
}

void MonitorApp::log(const std::string& line) const
{
    if (m_command.log) {
        m_command.log("vireo-monitor: " + line);
    }
}

uint16_t MonitorApp::Port() const
{
    return m_http ? m_http->Port() : 0;
}

bool MonitorApp::load(Loaded& loaded, std::string* error) const
{
    std::optional<MonitorSettings> settings = ReadMonitorSettings(m_command.settings, error);
    if (!settings) {
        return false;
    }
    loaded.settings = std::move(*settings);
    if (!m_command.webConfig.empty()) {
        loaded.web = LoadWebConfig(m_command.webConfig, error);
        if (!loaded.web) {
            return false;
        }
    } else {
        loaded.web = WebConfig{};
    }
    if (!m_command.silences.empty()) {
        std::optional<std::vector<Silence>> silences = LoadSilencesFile(m_command.silences, error);
        if (!silences) {
            return false;
        }
        loaded.fileSilences = std::move(*silences);
    }
    return true;
}

std::vector<ChosenMachine> MonitorApp::shardOf(const MonitorSettings& settings) const
{
    std::vector<ChosenMachine> mine;
    for (const ChosenMachine& machine : settings.machines) {
        if (m_command.shard.Owns(machine.address)) {
            mine.push_back(machine);
        }
    }
    return mine;
}

void MonitorApp::applyGroups(const MonitorSettings& settings)
{
    for (const auto& device : m_fleet->Devices()) {
        const auto it = settings.groups.find(device->Address());
        device->SetGroup(it == settings.groups.end() ? std::string() : it->second);
    }
    std::lock_guard lock(m_stateMutex);
    m_site = !m_command.site.empty() ? m_command.site : settings.site;
}

bool MonitorApp::Open(std::string* error)
{
    Loaded loaded;
    if (!load(loaded, error)) {
        return false;
    }
    for (const std::string& warning : loaded.settings.warnings) {
        log(warning);
    }
    std::error_code ec;
    if (!m_command.deviceLogs.empty() && !std::filesystem::is_directory(m_command.deviceLogs, ec)) {
        *error = "--device-logs: " + m_command.deviceLogs.string() + " is not a folder";
        return false;
    }

    FleetOptions options;
    options.timing.link = MonitorLinkTiming(m_command.pollSeconds, m_command.timeUnit);
    options.deviceLogs = m_command.deviceLogs;
    options.log = m_command.log;
    options.port = m_command.irdPort;
    options.tendInterval = m_command.tendInterval;
    options.beforeTend = m_command.beforeTend;
    m_fleet = std::make_unique<FleetMonitor>(options);

    EndpointHooks hooks;
    hooks.site = [this] {
        std::lock_guard lock(m_stateMutex);
        return m_site;
    };
    hooks.health = [this] { return health(); };
    hooks.selfMetrics = [this] {
        SelfFigures figures;
        figures.version = m_command.version;
        figures.revision = m_command.revision;
        {
            std::lock_guard lock(m_stateMutex);
            figures.lastReloadOk = m_lastReloadOk;
            figures.lastReloadSuccessSeconds = static_cast<double>(m_lastReloadSuccessMs) / 1000.0;
        }
        figures.history = m_history->Status();
        figures.healthy = health().ok;
        return RenderSelfMetrics(figures);
    };
    if (m_command.lifecycle) {
        hooks.reload = [this] { return reloadOverHttp(); };
    }
    hooks.silences = [this](const HttpRequest& request) { return silencesCall(request); };
    m_http = std::make_unique<HttpEndpoint>(*m_fleet, hooks, m_command.limits);
    if (!m_http->Bind(m_command.host, m_command.port, error)) {
        return false;
    }

    HistoryService::Options historyOptions;
    historyOptions.file = m_command.history;
    historyOptions.writer.program = "vireo-monitor";
    historyOptions.log = [this](const std::string& line) { log(line); };
    m_history = std::make_unique<HistoryService>(historyOptions);
    if (!m_history->Ok()) {
        *error = "cannot open history " + m_command.history.string() + ": " + m_history->Error();
        return false;
    }
    if (!m_history->MovedAside().empty()) {
        log("history " + m_command.history.string() + " failed its check and was moved to " +
            m_history->MovedAside().string() + "; a new history starts");
    }
    HistoryDatabase::OpenResult opened = HistoryDatabase::Open(m_command.history, false);
    if (!opened.database) {
        *error = "cannot open history " + m_command.history.string() + ": " + opened.error;
        return false;
    }
    m_silenceDb = std::move(opened.database);
    m_alarms = RecordFleet(*m_fleet, *m_history, m_command.log);
    storeFileSilences(loaded.fileSilences);
    refreshSilences();

    for (const ChosenMachine& machine : shardOf(loaded.settings)) {
        m_fleet->Add(machine);
    }
    applyGroups(loaded.settings);
    m_webConfig = *loaded.web;
    m_lastReloadSuccessMs = DeviceObservers::NowMs();
    return true;
}

bool MonitorApp::Start(std::string* error)
{
    m_startedSteadyMs = FleetMonitor::SteadyMs();
    m_fleet->Start();
    return m_http->Start(m_webConfig, error);
}

std::string MonitorApp::Reload()
{
    std::lock_guard reloading(m_reloadMutex);
    Loaded loaded;
    std::string error;
    if (!load(loaded, &error)) {
        std::lock_guard lock(m_stateMutex);
        m_lastReloadOk = false;
        log("reload failed, the running configuration stays: " + error);
        return error;
    }
    if (*loaded.web != m_webConfig && !m_http->ApplyWebConfig(*loaded.web, &error)) {
        std::lock_guard lock(m_stateMutex);
        m_lastReloadOk = false;
        log("reload failed, the running configuration stays: " + error);
        return error;
    }
    m_webConfig = *loaded.web;
    for (const std::string& warning : loaded.settings.warnings) {
        log(warning);
    }
    const FleetChange change = m_fleet->Sync(shardOf(loaded.settings));
    applyGroups(loaded.settings);
    storeFileSilences(loaded.fileSilences);
    refreshSilences();
    refreshRules();
    {
        std::lock_guard lock(m_stateMutex);
        m_lastReloadOk = true;
        m_lastReloadSuccessMs = DeviceObservers::NowMs();
    }
    log("reloaded: " + std::to_string(m_fleet->Devices().size()) + " IRDs, " +
        std::to_string(change.added.size()) + " added, " + std::to_string(change.removed.size()) +
        " removed");
    return {};
}

void MonitorApp::refreshRules()
{
    // Rules another program changed reach the file; read them again.
    std::lock_guard lock(m_silenceMutex);
    if (m_silenceDb) {
        AlarmRuleBook rules = AlarmRuleBook::Load(*m_silenceDb);
        m_history->Alarms().LoadRules(rules);
        m_alarms->SetRules(std::move(rules));
    }
}

void MonitorApp::storeFileSilences(const std::vector<Silence>& silences)
{
    // A silence of the file is stored once: the same target, end and reason
    // already running is not added again at the next reload.
    std::lock_guard lock(m_silenceMutex);
    if (!m_silenceDb) {
        return;
    }
    const int64_t now = DeviceObservers::NowMs();
    const std::vector<Silence> running = SilenceStore::Running(*m_silenceDb, now);
    for (Silence silence : silences) {
        if (!silence.Running(now)) {
            continue;
        }
        bool known = false;
        for (const Silence& r : running) {
            known = known || (r.kind == silence.kind && r.target == silence.target &&
                              r.untilMs == silence.untilMs && r.reason == silence.reason);
        }
        if (known) {
            continue;
        }
        silence.createdMs = now;
        std::string error;
        if (!SilenceStore::Add(*m_silenceDb, silence, &error)) {
            log("cannot store a silence of the silences file: " + error);
        }
    }
}

void MonitorApp::refreshSilences()
{
    std::lock_guard lock(m_silenceMutex);
    if (m_silenceDb) {
        m_alarms->SetSilences(SilenceStore::Running(*m_silenceDb, DeviceObservers::NowMs()));
        m_silencesReadAt = std::chrono::steady_clock::now();
    }
}

std::string MonitorApp::AddSilence(Silence& silence)
{
    std::string error;
    {
        std::lock_guard lock(m_silenceMutex);
        silence.createdMs = DeviceObservers::NowMs();
        if (!m_silenceDb || !SilenceStore::Add(*m_silenceDb, silence, &error)) {
            return error.empty() ? "no history" : error;
        }
    }
    refreshSilences();
    log("silence " + std::to_string(silence.id) + " of " + silence.target + " set by " +
        silence.by + ": " + silence.reason);
    return {};
}

bool MonitorApp::EndSilence(int64_t id)
{
    bool ended = false;
    {
        std::lock_guard lock(m_silenceMutex);
        ended = m_silenceDb && SilenceStore::End(*m_silenceDb, id, DeviceObservers::NowMs());
    }
    refreshSilences();
    return ended;
}

HttpResponse MonitorApp::silencesCall(const HttpRequest& request)
{
    auto answer = [](int status, std::string body) {
        HttpResponse response;
        response.status = status;
        response.contentType = "application/json";
        response.body = std::move(body);
        return response;
    };
    auto error = [&](int status, const std::string& why) {
        return answer(status, nlohmann::json{{"error", why}}.dump(
                                  -1, ' ', false, nlohmann::json::error_handler_t::replace) +
                                  "\n");
    };
    if (request.method == "GET") {
        return answer(200, SilencesJson(m_alarms->Silences()));
    }
    // Changes only with a name: a web config with basic_auth_users.
    if (request.user.empty()) {
        return error(403, "silences are set only by a user of --web.config.file");
    }
    if (request.method == "POST") {
        std::string why;
        std::optional<Silence> silence = SilenceFromJson(request.body, &why);
        if (!silence) {
            return error(400, why);
        }
        silence->by = request.user;
        why = AddSilence(*silence);
        if (!why.empty()) {
            return error(500, why);
        }
        return answer(201, SilencesJson({*silence}));
    }
    constexpr std::string_view kPrefix = "/api/silences/";
    if (request.method == "DELETE" && request.path.rfind(kPrefix, 0) == 0) {
        const std::string id = request.path.substr(kPrefix.size());
        if (id.empty() || id.size() > 18 ||
            id.find_first_not_of("0123456789") != std::string::npos) {
            return error(400, "DELETE /api/silences/ID wants a number");
        }
        if (!EndSilence(std::stoll(id))) {
            return error(404, "no running silence " + id);
        }
        log("silence " + id + " ended by " + request.user);
        return answer(200, "{\"ended\":" + id + "}\n");
    }
    return error(405, "GET or POST /api/silences; DELETE /api/silences/ID ends one");
}

std::string MonitorApp::reloadOverHttp()
{
    // The reload runs on the main loop (a web config change may restart the
    // very threads serving this request); the answer waits for it.
    std::future<std::string> done;
    {
        std::lock_guard lock(m_queueMutex);
        if (m_reloadQueue.size() >= 4) {
            return "too many reloads waiting";
        }
        m_reloadQueue.emplace_back();
        done = m_reloadQueue.back().get_future();
    }
    if (done.wait_for(kHttpReloadWait) != std::future_status::ready) {
        return "the reload did not finish in time";
    }
    return done.get();
}

void MonitorApp::Tick()
{
    std::deque<std::promise<std::string>> asked;
    {
        std::lock_guard lock(m_queueMutex);
        asked.swap(m_reloadQueue);
    }
    if (!asked.empty()) {
        const std::string result = Reload();
        for (auto& promise : asked) {
            promise.set_value(result);
        }
    }
    if (std::chrono::steady_clock::now() - m_silencesReadAt >= kSilencesReadEvery) {
        refreshSilences();
    }
}

HealthVerdict MonitorApp::health() const
{
    HealthInputs in;
    in.nowSteadyMs = FleetMonitor::SteadyMs();
    in.lastPassSteadyMs = m_fleet->LastPassMs();
    in.startedSteadyMs = m_startedSteadyMs;
    in.pollMs =
        std::max<int64_t>(1, m_command.pollSeconds * 1000LL * m_command.timeUnit.count() / 1000);
    in.nowWallMs = DeviceObservers::NowMs();
    in.history = m_history->Status();
    return CheckHealth(in);
}

void MonitorApp::Stop()
{
    if (m_http) {
        m_http->Stop();
    }
    {
        std::lock_guard lock(m_queueMutex);
        for (auto& promise : m_reloadQueue) {
            promise.set_value("the monitor is stopping");
        }
        m_reloadQueue.clear();
    }
    // The sessions end first; their recorders, dropped with them, close the
    // devices' open periods; then the history commits what is queued.
    if (m_fleet) {
        m_fleet->Stop();
    }
    if (m_history) {
        m_history->Stop();
    }
}

} // namespace vireo
