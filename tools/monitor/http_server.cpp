#include "http_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vireo {

// What one request gathers between the library's calls: its body so far.
struct HttpServer::RequestState
{
    std::string body;
    bool tooLarge = false;
};

// The library's C callbacks, handing over to the server.
struct HttpServerCallbacks
{
    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* uploadData,
                             size_t* uploadSize, void** state)
    {
        return static_cast<HttpServer*>(cls)->serve(connection, url, method, uploadData, uploadSize,
                                                    state) != 0
                   ? MHD_YES
                   : MHD_NO;
    }

    static void completed(void* cls, MHD_Connection* connection, void** state,
                          MHD_RequestTerminationCode)
    {
        delete static_cast<HttpServer::RequestState*>(*state);
        *state = nullptr;
        static_cast<HttpServer*>(cls)->rearm(connection);
    }

    static void notify(void* cls, MHD_Connection* connection, void**,
                       MHD_ConnectionNotificationCode event)
    {
        auto* server = static_cast<HttpServer*>(cls);
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            server->opened(connection);
        } else {
            server->closed(connection);
        }
    }

    // The library's own complaints (a client gone mid-handshake...) are the
    // clients' business, not the operator's.
    static void quiet(void*, const char*, va_list) {}
};

namespace {

// Connections kept free for newcomers, and how long a connection must have
// waited for a whole request before one may close it for them (a client
// sends its request right after connecting, in one piece).
constexpr size_t kSpareConnections = 4;
constexpr std::chrono::milliseconds kEvictableAfter{250};
// Connections waiting to be accepted. A flood fills a short queue, and then
// the system drops a scraper's connect, which it tries again only a second
// later; a long one is drained quickly (an address over its share is closed
// as soon as it is accepted).
constexpr int kListenBacklog = 1024;

MHD_Result respond(MHD_Connection* connection, const HttpResponse& reply)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

HttpResponse plain(int status, std::string text)
{
    HttpResponse reply;
    reply.status = status;
    reply.body = std::move(text);
    return reply;
}

// What the client certificate rules of `config` say of this connection:
// empty when it may go on, else why not.
std::string certificateRefusal(MHD_Connection* connection, const WebConfig& config)
{
    if (config.clientAuth == ClientAuth::None || config.clientAuth == ClientAuth::Request) {
        return {};
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (info == nullptr || info->tls_session == nullptr) {
        return "no TLS session";
    }
    auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned count = 0;
    const bool shown = gnutls_certificate_get_peers(session, &count) != nullptr && count > 0;
    if (!shown) {
        return config.clientAuth == ClientAuth::VerifyIfGiven ? std::string()
                                                              : "a client certificate is required";
    }
    if (config.clientAuth == ClientAuth::RequireAny) {
        return {};
    }
    unsigned status = 0;
    if (gnutls_certificate_verify_peers2(session, &status) != GNUTLS_E_SUCCESS || status != 0) {
        return "the client certificate is not trusted";
    }
    return {};
}

} // namespace

HttpServer::HttpServer(HttpLimits limits, HttpHandler handler)
    : m_limits(limits), m_handler(std::move(handler)), m_config(std::make_shared<const WebConfig>())
{
    m_watchdog = std::thread(&HttpServer::watch, this);
}

HttpServer::~HttpServer()
{
    Stop();
    {
        std::lock_guard lock(m_watchMutex);
        m_watchStop = true;
    }
    m_watchWake.notify_all();
    m_watchdog.join();
}

bool HttpServer::Bind(const std::string& host, uint16_t port, std::string* error)
{
    auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + what;
        }
        if (m_listenFd >= 0) {
            ::close(m_listenFd);
            m_listenFd = -1;
        }
        return false;
    };
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &address.sin_addr) !=
        1) {
        return fail("not an IPv4 address");
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        return fail(std::strerror(errno));
    }
    // SO_REUSEADDR only (no SO_REUSEPORT): a restart may bind while the old
    // socket is in TIME_WAIT, a second monitor may not bind beside this one.
    int yes = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, kListenBacklog) != 0) {
        return fail(std::strerror(errno));
    }
    socklen_t length = sizeof address;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return true;
}

bool HttpServer::Start(const WebConfig& config, std::string* error)
{
    std::lock_guard lock(m_daemonMutex);
    return startDaemon(config, error);
}

bool HttpServer::startDaemon(const WebConfig& config, std::string* error)
{
    if (m_listenFd < 0) {
        if (error != nullptr) {
            *error = "the HTTP server is not bound";
        }
        return false;
    }
    unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (config.Tls()) {
        flags |= MHD_USE_TLS;
    }
    const unsigned idleSeconds = static_cast<unsigned>(m_limits.requestTimeout.count());
    // The library gets a duplicate of the socket, so that it stays bound
    // (connections waiting in its queue) across a restart: a stop takes the
    // duplicate back (quiesce) and closes it.
    const int listenFd = ::fcntl(m_listenFd, F_DUPFD_CLOEXEC, 0);
    if (listenFd < 0) {
        if (error != nullptr) {
            *error = std::string("the HTTP server cannot start: ") + std::strerror(errno);
        }
        return false;
    }
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(m_limits.connections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(m_limits.perAddress), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(idleSeconds), nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(std::max(1u, m_limits.threads)),
         nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServerCallbacks::completed),
         this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpServerCallbacks::notify),
         this},
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&HttpServerCallbacks::quiet),
         nullptr},
    };
    if (config.Tls()) {
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(config.certPem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(config.keyPem.c_str())});
        if (!config.clientCaPem.empty()) {
            options.push_back(
                {MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(config.clientCaPem.c_str())});
        }
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    {
        std::lock_guard lock(m_configMutex);
        m_config = std::make_shared<const WebConfig>(config);
        m_passwords = std::make_shared<PasswordCheck>(config.users);
    }
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &HttpServerCallbacks::access, this,
                                MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (m_daemon == nullptr) {
        if (fcntl(listenFd, F_GETFD) >= 0) {
            ::close(listenFd);
        }
        if (error != nullptr) {
            *error = config.Tls() ? "TLS cannot start with this certificate and key"
                                  : "the HTTP server cannot start";
        }
        return false;
    }
    return true;
}

void HttpServer::stopDaemon()
{
    if (m_daemon == nullptr) {
        return;
    }
    const MHD_socket listenFd = MHD_quiesce_daemon(m_daemon);
    MHD_stop_daemon(m_daemon);
    if (listenFd != MHD_INVALID_SOCKET) {
        ::close(listenFd);
    }
    m_daemon = nullptr;
}

bool HttpServer::Apply(const WebConfig& config, std::string* error)
{
    std::lock_guard lock(m_daemonMutex);
    std::shared_ptr<const WebConfig> running;
    {
        std::lock_guard configLock(m_configMutex);
        running = m_config;
    }
    if (m_daemon != nullptr && config.Tls() == running->Tls() &&
        config.certPem == running->certPem && config.keyPem == running->keyPem &&
        config.clientCaPem == running->clientCaPem) {
        std::lock_guard configLock(m_configMutex);
        m_config = std::make_shared<const WebConfig>(config);
        m_passwords = std::make_shared<PasswordCheck>(config.users);
        return true;
    }
    stopDaemon();
    if (startDaemon(config, error)) {
        return true;
    }
    std::string ignored;
    startDaemon(*running, &ignored);
    return false;
}

void HttpServer::Stop()
{
    std::lock_guard lock(m_daemonMutex);
    stopDaemon();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
}

size_t HttpServer::OpenConnections() const
{
    std::lock_guard lock(m_watchMutex);
    return m_watched.size();
}

void HttpServer::opened(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_watchMutex);
    makeRoom(now, 1);
    m_watched[connection] = {info != nullptr ? info->connect_fd : -1, now,
                             now + m_limits.requestTimeout};
}

void HttpServer::makeRoom(std::chrono::steady_clock::time_point now, size_t arriving)
{
    // Nearly full: close the connections that have waited longest for a
    // request to complete, so newcomers always find a few free.
    size_t open = 0;
    for (const auto& [connection, watched] : m_watched) {
        open += watched.fd >= 0 ? 1 : 0;
    }
    const size_t room =
        m_limits.connections > kSpareConnections ? m_limits.connections - kSpareConnections : 1;
    while (open + arriving > room) {
        Watched* oldest = nullptr;
        for (auto& [connection, watched] : m_watched) {
            if (watched.fd >= 0 && !watched.serving && now - watched.since >= kEvictableAfter &&
                (oldest == nullptr || watched.since < oldest->since)) {
                oldest = &watched;
            }
        }
        if (oldest == nullptr) {
            return;
        }
        ::shutdown(oldest->fd, SHUT_RDWR);
        oldest->fd = -1; // closing; its slot is free once the library sees it
        --open;
    }
}

void HttpServer::closed(MHD_Connection* connection)
{
    // Called before the library closes the socket: once erased here, the
    // watchdog can no longer touch a number the system may hand out again.
    std::lock_guard lock(m_watchMutex);
    m_watched.erase(connection);
}

void HttpServer::rearm(MHD_Connection* connection)
{
    std::lock_guard lock(m_watchMutex);
    const auto it = m_watched.find(connection);
    if (it != m_watched.end()) {
        it->second.since = std::chrono::steady_clock::now();
        it->second.deadline = it->second.since + m_limits.requestTimeout;
        it->second.serving = false;
    }
}

void HttpServer::serving(MHD_Connection* connection)
{
    std::lock_guard lock(m_watchMutex);
    const auto it = m_watched.find(connection);
    if (it != m_watched.end()) {
        it->second.serving = true;
    }
}

void HttpServer::watch()
{
    std::unique_lock lock(m_watchMutex);
    while (!m_watchStop) {
        const auto now = std::chrono::steady_clock::now();
        for (auto& [connection, watched] : m_watched) {
            if (watched.fd >= 0 && watched.deadline <= now) {
                // The connection's event loop sees the end of the stream and
                // closes it; a client trickling bytes gets no more time.
                ::shutdown(watched.fd, SHUT_RDWR);
                watched.fd = -1; // once only
            }
        }
        makeRoom(now, 0);
        m_watchWake.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int HttpServer::serve(MHD_Connection* connection, const char* url, const char* method,
                      const char* uploadData, size_t* uploadSize, void** state)
{
    auto* request = static_cast<RequestState*>(*state);
    if (request == nullptr) {
        // The headers are in. A body announced beyond the limit is refused
        // before any of it is read.
        *state = request = new RequestState;
        serving(connection);
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length != nullptr && std::strtoull(length, nullptr, 10) > m_limits.maxBody) {
            request->tooLarge = true;
            return respond(connection, plain(413, "request body too large\n"));
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        if (request->tooLarge || request->body.size() + *uploadSize > m_limits.maxBody) {
            return MHD_NO; // a chunked body beyond the limit: the connection is closed
        }
        request->body.append(uploadData, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (request->tooLarge) {
        return MHD_YES; // answered already
    }

    std::shared_ptr<const WebConfig> config;
    {
        std::lock_guard lock(m_configMutex);
        config = m_config;
    }
    if (config->Tls()) {
        const std::string refusal = certificateRefusal(connection, *config);
        if (!refusal.empty()) {
            return respond(connection, plain(403, refusal + "\n"));
        }
    }
    HttpRequest call;
    call.method = method;
    call.path = url;
    call.body = std::move(request->body);
    if (!config->users.empty()) {
        char* password = nullptr;
        char* user = MHD_basic_auth_get_username_password(connection, &password);
        bool ok = false;
        if (user != nullptr && password != nullptr) {
            std::shared_ptr<PasswordCheck> check;
            {
                std::lock_guard lock(m_configMutex);
                check = m_passwords;
            }
            ok = check != nullptr && check->Check(user, password);
            call.user = user;
        }
        MHD_free(user);
        MHD_free(password);
        if (!ok) {
            const HttpResponse reply = plain(401, "Unauthorized\n");
            MHD_Response* response = MHD_create_response_from_buffer(
                reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
            const MHD_Result queued =
                MHD_queue_basic_auth_fail_response(connection, "vireo-monitor", response);
            MHD_destroy_response(response);
            return queued;
        }
    }
    return respond(connection, m_handler(call));
}

} // namespace vireo
