#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace vireo {

class FleetMonitor;

// The monitor's read-only HTTP side: /metrics, /api/devices,
// /api/devices/ADDRESS and /healthz.
class HttpEndpoint
{
public:
    explicit HttpEndpoint(FleetMonitor& fleet);
    ~HttpEndpoint();
    HttpEndpoint(const HttpEndpoint&) = delete;
    HttpEndpoint& operator=(const HttpEndpoint&) = delete;

    // Binds the listening socket; false with the reason when the address is
    // in use or cannot be bound. Port 0 takes any free port (see Port()).
    bool Bind(const std::string& host, uint16_t port, std::string* error);
    uint16_t Port() const { return m_port; }
    // Serves on a thread of its own until Stop().
    void Start();
    void Stop();

private:
    FleetMonitor& m_fleet;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    uint16_t m_port = 0;
};

// "HOST:PORT" (an IPv4 address or "localhost", a port 1-65535); false when it
// is not one.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);

} // namespace vireo
