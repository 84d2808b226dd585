#include "http_endpoint.h"

#include "devices_json.h"
#include "fleet_monitor.h"
#include "log/address_text.h"
#include "metrics_text.h"

#include <cerrno>
#include <cstring>
#include <httplib.h>

namespace vireo {

HttpEndpoint::HttpEndpoint(FleetMonitor& fleet)
    : m_fleet(fleet), m_server(std::make_unique<httplib::Server>())
{
    httplib::Server& server = *m_server;
    server.set_keep_alive_max_count(100);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_payload_max_length(64 * 1024); // nothing here takes a body
    // httplib's default sets SO_REUSEPORT, which would let a second monitor
    // bind the same port beside this one; SO_REUSEADDR alone still allows a
    // restart while the old socket is in TIME_WAIT.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(RenderMetrics(m_fleet.Samples()), kMetricsContentType);
    });
    server.Get("/api/devices", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(DevicesJson(m_fleet.Samples()), "application/json");
    });
    server.Get(R"(/api/devices/([0-9.]{7,15}))",
               [this](const httplib::Request& req, httplib::Response& res) {
                   const std::string address = req.matches[1];
                   MonitoredDevice* device = m_fleet.Find(address);
                   if (device == nullptr) {
                       res.status = 404;
                       res.set_content("{\"error\":\"no such device\"}\n", "application/json");
                       return;
                   }
                   std::string json = device->DatabaseJsonText();
                   if (json.empty()) {
                       res.status = 503;
                       res.set_content("{\"error\":\"the database has not been read yet\"}\n",
                                       "application/json");
                       return;
                   }
                   res.set_content(std::move(json), "application/json");
               });
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok\n", "text/plain");
    });
}

HttpEndpoint::~HttpEndpoint()
{
    Stop();
}

bool HttpEndpoint::Bind(const std::string& host, uint16_t port, std::string* error)
{
    errno = 0;
    const int bound = port == 0 ? m_server->bind_to_any_port(host)
                                : (m_server->bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        if (error != nullptr) {
            *error = "cannot listen on " + host + ":" + std::to_string(port) +
                     (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        }
        return false;
    }
    m_port = static_cast<uint16_t>(bound);
    return true;
}

void HttpEndpoint::Start()
{
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
}

void HttpEndpoint::Stop()
{
    if (m_server) {
        m_server->stop();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
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
