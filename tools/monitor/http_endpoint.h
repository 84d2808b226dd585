#pragma once

#include "http_server.h"
#include "self_metrics.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vireo {

class FleetMonitor;

// What the HTTP side asks of the rest of the monitor; every hook may be
// left empty.
struct EndpointHooks
{
    std::function<std::string()> site;        // the `site` label
    std::function<std::string()> selfMetrics; // appended to /metrics
    std::function<HealthVerdict()> health;    // /healthz
    std::function<bool()> ready;              // /readyz
    // POST /-/reload (only with --web.enable-lifecycle): empty when it
    // worked, else why not.
    std::function<std::string()> reload;
    // /api/silences (GET lists, POST adds, DELETE ends one).
    std::function<HttpResponse(const HttpRequest&)> silences;
};

// The monitor's HTTP side: /metrics, /api/devices, /api/devices/ADDRESS,
// /healthz, /readyz, and when hooked /-/reload and /api/silences.
class HttpEndpoint
{
public:
    explicit HttpEndpoint(FleetMonitor& fleet, EndpointHooks hooks = {}, HttpLimits limits = {});
    ~HttpEndpoint();
    HttpEndpoint(const HttpEndpoint&) = delete;
    HttpEndpoint& operator=(const HttpEndpoint&) = delete;

    // Binds the listening socket; false with the reason when the address is
    // in use or cannot be bound. Port 0 takes any free port (see Port()).
    bool Bind(const std::string& host, uint16_t port, std::string* error);
    uint16_t Port() const { return m_server.Port(); }
    // Serves with the web config given (plain HTTP without one) until Stop().
    bool Start(const WebConfig& config = {}, std::string* error = nullptr);
    // A reloaded web config; on failure the running one stays.
    bool ApplyWebConfig(const WebConfig& config, std::string* error);
    void Stop();

    HttpServer& Server() { return m_server; }

private:
    HttpResponse route(const HttpRequest& request);

    FleetMonitor& m_fleet;
    const EndpointHooks m_hooks;
    HttpServer m_server;
};

// "HOST:PORT" (an IPv4 address or "localhost", a port 1-65535); false when it
// is not one.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);

} // namespace vireo
