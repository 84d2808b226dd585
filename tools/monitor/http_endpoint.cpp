#include "http_endpoint.h"

#include "devices_json.h"
#include "fleet_monitor.h"
#include "log/address_text.h"
#include "metrics_text.h"

namespace vireo {

namespace {

HttpResponse reply(int status, std::string contentType, std::string body)
{
    HttpResponse response;
    response.status = status;
    response.contentType = std::move(contentType);
    response.body = std::move(body);
    return response;
}

HttpResponse json(int status, std::string body)
{
    return reply(status, "application/json", std::move(body));
}

HttpResponse text(int status, std::string body)
{
    return reply(status, "text/plain; charset=utf-8", std::move(body));
}

} // namespace

HttpEndpoint::HttpEndpoint(FleetMonitor& fleet, EndpointHooks hooks, HttpLimits limits)
    : m_fleet(fleet), m_hooks(std::move(hooks)),
      m_server(limits, [this](const HttpRequest& request) { return route(request); })
{}

HttpEndpoint::~HttpEndpoint()
{
    Stop();
}

bool HttpEndpoint::Bind(const std::string& host, uint16_t port, std::string* error)
{
    return m_server.Bind(host, port, error);
}

bool HttpEndpoint::Start(const WebConfig& config, std::string* error)
{
    return m_server.Start(config, error);
}

bool HttpEndpoint::ApplyWebConfig(const WebConfig& config, std::string* error)
{
    return m_server.Apply(config, error);
}

void HttpEndpoint::Stop()
{
    m_server.Stop();
}

HttpResponse HttpEndpoint::route(const HttpRequest& request)
{
    const std::string& path = request.path;
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (path == "/metrics" && get) {
        std::string page =
            RenderMetrics(m_fleet.Samples(), m_hooks.site ? m_hooks.site() : std::string());
        if (m_hooks.selfMetrics) {
            page += m_hooks.selfMetrics();
        }
        return reply(200, kMetricsContentType, std::move(page));
    }
    if (path == "/api/devices" && get) {
        return json(200, DevicesJson(m_fleet.Samples()));
    }
    constexpr std::string_view kDevicePrefix = "/api/devices/";
    if (path.rfind(kDevicePrefix, 0) == 0 && get) {
        const std::string address = path.substr(kDevicePrefix.size());
        const auto device = IsValidIPv4Text(address) ? m_fleet.Find(address) : nullptr;
        if (device == nullptr) {
            return json(404, "{\"error\":\"no such device\"}\n");
        }
        std::string database = device->DatabaseJsonText();
        if (database.empty()) {
            return json(503, "{\"error\":\"the database has not been read yet\"}\n");
        }
        return json(200, std::move(database));
    }
    if (path == "/healthz" && get) {
        const HealthVerdict verdict = m_hooks.health ? m_hooks.health() : HealthVerdict{};
        return verdict.ok ? text(200, "ok\n") : text(503, verdict.reason + "\n");
    }
    if (path == "/readyz" && get) {
        const bool ready = m_hooks.ready ? m_hooks.ready() : m_fleet.EveryDeviceTried();
        return ready ? text(200, "ready\n") : text(503, "not every IRD has been tried yet\n");
    }
    if (path == "/-/reload") {
        if (!m_hooks.reload) {
            return text(403, "Lifecycle API is not enabled.\n");
        }
        if (request.method != "POST" && request.method != "PUT") {
            return text(405, "Only POST or PUT requests allowed.\n");
        }
        const std::string why = m_hooks.reload();
        return why.empty() ? text(200, "reloaded\n")
                           : text(500, "failed to reload config: " + why + "\n");
    }
    if ((path == "/api/silences" || path.rfind("/api/silences/", 0) == 0) && m_hooks.silences) {
        return m_hooks.silences(request);
    }
    return text(404, "not found\n");
}

bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size() ||
        text.size() - colon - 1 > 5) {
        return false;
    }
    host = text.substr(0, colon);
    if (host != "localhost" && !IsValidIPv4Text(host)) {
        return false;
    }
    unsigned value = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace vireo
