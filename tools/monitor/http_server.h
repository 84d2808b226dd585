#pragma once

#include "web_config.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace vireo {

// What one client may take of the server. A client is an address: a scanner
// or a slow scraper holds at most `perAddress` connections, and no request
// lives longer than `requestTimeout` whatever it sends. When nearly every
// connection is taken, a new one closes the one that has waited longest
// (a quarter second at least) for a whole request to come in, so slow or
// idle clients from many addresses cannot shut a scraper out either; a
// request being answered is never closed for it.
struct HttpLimits
{
    unsigned connections = 64;
    unsigned perAddress = 8;
    std::chrono::seconds requestTimeout{10}; // a whole request, or an idle connection
    size_t maxBody = 1024 * 1024;
    unsigned threads = 2; // serving threads (each an event loop)
};

struct HttpRequest
{
    std::string method;
    std::string path;
    std::string body;
    std::string user; // the basic-auth user, when the web config asks for one
};

struct HttpResponse
{
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// An HTTP (or HTTPS) server on GNU libmicrohttpd: a few event-loop threads
// serving every connection, bounded as HttpLimits says, with the TLS and
// passwords of a web config. The handler is called from the serving threads.
class HttpServer
{
public:
    HttpServer(HttpLimits limits, HttpHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds the listening socket; false with the reason when the address is
    // in use or cannot be bound. Port 0 takes any free port (see Port()).
    bool Bind(const std::string& host, uint16_t port, std::string* error);
    uint16_t Port() const { return m_port; }

    // Starts serving with `config` (TLS when it has a certificate); false
    // with the reason when TLS cannot start with it.
    bool Start(const WebConfig& config, std::string* error);
    // Takes a new web config while serving: passwords change at once; a TLS
    // change restarts the serving threads on the same socket (connections
    // open then are closed). On failure the previous config stays.
    bool Apply(const WebConfig& config, std::string* error);
    // Closes every connection and the listening socket.
    void Stop();

    // Connections open now (for tests and metrics).
    size_t OpenConnections() const;

private:
    struct Watched
    {
        int fd = -1;
        std::chrono::steady_clock::time_point since; // opened, or its last request done
        std::chrono::steady_clock::time_point deadline;
        bool serving = false; // a whole request came in; its answer is on its way
    };
    struct RequestState;

    bool startDaemon(const WebConfig& config, std::string* error);
    void stopDaemon();
    void watch();

    friend struct HttpServerCallbacks;
    int serve(MHD_Connection* connection, const char* url, const char* method,
              const char* uploadData, size_t* uploadSize, void** state);
    void opened(MHD_Connection* connection);
    void closed(MHD_Connection* connection);
    void rearm(MHD_Connection* connection);
    void serving(MHD_Connection* connection);
    void makeRoom(std::chrono::steady_clock::time_point now, size_t arriving); // m_watchMutex held

    const HttpLimits m_limits;
    const HttpHandler m_handler;
    int m_listenFd = -1;
    uint16_t m_port = 0;

    std::mutex m_daemonMutex; // Start, Apply, Stop
    MHD_Daemon* m_daemon = nullptr;

    mutable std::mutex m_configMutex;
    std::shared_ptr<const WebConfig> m_config;
    std::shared_ptr<PasswordCheck> m_passwords;

    // Every open connection's socket and when its request must be over; a
    // watchdog shuts down the late ones.
    mutable std::mutex m_watchMutex;
    std::map<MHD_Connection*, Watched> m_watched;
    std::condition_variable m_watchWake;
    bool m_watchStop = false;
    std::thread m_watchdog;
};

} // namespace vireo
