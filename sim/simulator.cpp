#include "sim/simulator.h"

#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/database_edits.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vireo::sim {

namespace {

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Seed of connection n: distinct per connection, the same on every run.
uint32_t connectionSeed(uint32_t seed, size_t n)
{
    std::seed_seq sequence{seed, static_cast<uint32_t>(n)};
    uint32_t value = 0;
    sequence.generate(&value, &value + 1);
    return value;
}

} // namespace

Simulator::Simulator(DeviceDatabase db, SimulatorOptions options)
    : m_options(std::move(options)), m_db(std::move(db)), m_faults(m_options.faults)
{}

Simulator::~Simulator()
{
    Stop();
}

SignalLevel Simulator::signalNow() const
{
    if (m_options.signalScript.Empty()) {
        return m_options.signal;
    }
    const auto started =
        std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_startedAt));
    return m_options.signalScript.LevelAt(std::chrono::steady_clock::now() - started);
}

bool Simulator::Start(const std::string& address, uint16_t port, std::string* error)
{
    m_startedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (!bind(address, port, -1, -1, error)) {
        return false;
    }
    m_server = std::thread([this] { serve(); });
    return true;
}

bool Simulator::bind(const std::string& address, uint16_t port, int stopFd, int reapFd,
                     std::string* error)
{
    auto fail = [&](const std::string& why) {
        closeDescriptors();
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (m_running) {
        if (error != nullptr) {
            *error = "already running";
        }
        return false;
    }
    m_ownDescriptors = stopFd < 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return fail("not an IPv4 address: " + address);
    }
    if ((ntohl(local.sin_addr.s_addr) >> 24) != 127) {
        return fail("only loopback addresses (127.x.y.z) are served: " + address);
    }

    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0) {
        return fail(errnoText("socket"));
    }
    const int on = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        return fail(errnoText("cannot bind " + address + ":" + std::to_string(port)));
    }
    if (listen(m_listenFd, 16) < 0) {
        return fail(errnoText("listen"));
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    if (m_ownDescriptors) {
        m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_reapFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    } else {
        m_stopFd = stopFd;
        m_reapFd = reapFd;
    }
    if (m_stopFd < 0 || m_reapFd < 0) {
        return fail(errnoText("eventfd"));
    }
    m_port = ntohs(bound.sin_port);
    m_stopping = false;
    m_running = true;
    Log(false, "listening on " + address + ":" + std::to_string(m_port));
    return true;
}

void Simulator::Stop()
{
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (!m_running) {
        return;
    }
    m_stopping = true;
    // A device that goes away takes no new connection while its open ones
    // end: a client that reconnects at once is refused, not accepted and
    // then dropped.
    if (m_listenFd >= 0) {
        shutdown(m_listenFd, SHUT_RDWR);
    }
    const uint64_t one = 1;
    if (write(m_stopFd, &one, sizeof one) < 0) {
        Log(false, errnoText("cannot wake the server thread"));
    }
    if (m_server.joinable()) {
        m_server.join();
    } else {
        // Served by a fleet, whose thread has ended: the connections see the
        // stop descriptor and end by themselves.
        m_connections.clear();
    }
    closeDescriptors();
    m_running = false;
    Log(false, "stopped");
}

void Simulator::closeDescriptors()
{
    for (int* fd : {&m_listenFd, &m_stopFd, &m_reapFd}) {
        if (*fd >= 0 && (fd == &m_listenFd || m_ownDescriptors)) {
            close(*fd);
        }
        *fd = -1;
    }
}

bool Simulator::Running() const
{
    return m_running;
}

uint16_t Simulator::Port() const
{
    return m_port;
}

void Simulator::serve()
{
    for (;;) {
        pollfd fds[3] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}, {m_reapFd, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Log(false, errnoText("poll"));
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[2].revents != 0) {
            reapFinished();
        }
        if (fds[0].revents != 0) {
            acceptClient();
        }
    }
    // Every connection sees the stop descriptor too and ends by itself.
    m_connections.clear();
}

void Simulator::acceptClient()
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED &&
            !m_stopping.load()) {
            Log(false, errnoText("accept"));
        }
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    size_t number;
    {
        std::lock_guard lock(m_stateMutex);
        number = ++m_stats.connections;
    }
    m_stateChanged.notify_all();
    const std::string name =
        "#" + std::to_string(number) + " " + text + ":" + std::to_string(ntohs(peer.sin_port));
    ConnectionHost& host = *this;
    m_connections.push_back(std::make_unique<Connection>(host, fd, m_stopFd, m_stopping, name,
                                                         connectionSeed(m_options.seed, number)));
}

void Simulator::reapFinished()
{
    uint64_t count = 0;
    if (read(m_reapFd, &count, sizeof count) < 0 && errno != EAGAIN) {
        Log(false, errnoText("reap"));
    }
    m_connections.remove_if([](const std::unique_ptr<Connection>& c) { return c->Finished(); });
}

void Simulator::ConnectionFinished()
{
    const uint64_t one = 1;
    if (write(m_reapFd, &one, sizeof one) < 0) {
        Log(false, errnoText("cannot signal a finished connection"));
    }
}

DeviceDatabase Simulator::Database() const
{
    std::lock_guard lock(m_dbMutex);
    return m_db;
}

void Simulator::SetDatabase(DeviceDatabase db)
{
    std::lock_guard lock(m_dbMutex);
    m_db = std::move(db);
}

FaultOptions Simulator::Faults() const
{
    std::lock_guard lock(m_faultsMutex);
    return m_faults;
}

void Simulator::SetFaults(FaultOptions faults)
{
    std::lock_guard lock(m_faultsMutex);
    m_faults = std::move(faults);
}

FaultOptions Simulator::CurrentFaults() const
{
    return Faults();
}

FaultOptions::WriteFault Simulator::TakeWrite(uint8_t code)
{
    const bool write = code == msg::AddSatellite || code == msg::SetSatellite ||
                       code == msg::DeleteSatellite || code == msg::AddTp ||
                       code == msg::ModifyTp || code == msg::DeleteTp || code == msg::SetSystemInfo;
    std::lock_guard lock(m_faultsMutex);
    if (!write || ++m_writes != m_faults.faultAtWrite) {
        return FaultOptions::WriteFault::None;
    }
    return m_faults.writeFault;
}

size_t Simulator::SatelliteCount() const
{
    std::lock_guard lock(m_dbMutex);
    return m_db.satellites.size();
}

std::vector<ReplyFrame> Simulator::Answer(std::span<const uint8_t> request)
{
    const bool same = Faults().sameAnswer;
    std::lock_guard lock(m_dbMutex);
    if (same && request.size() > 4 && request[3] != kNone) {
        // A device stuck on one record: whatever single record is asked
        // for, the first of its list comes back.
        std::vector<uint8_t> asked(request.begin(), request.end());
        bool redirect = true;
        if (asked[1] == msg::QuerySatellite && !m_db.satellites.empty()) {
            asked[3] = m_db.satellites.front().index;
        } else if (asked[1] == msg::QueryTp && !m_db.transponders.empty()) {
            asked[3] = m_db.transponders.front().index;
            asked[4] = m_db.transponders.front().satellite;
        } else if (asked[1] == msg::QueryProgram && request.size() > 9 &&
                   !m_db.Programs(asked[9] & 0x07).empty()) {
            asked[3] = m_db.Programs(asked[9] & 0x07).front().index;
        } else {
            redirect = false;
        }
        if (redirect) {
            return AnswerRequest(m_db, asked, signalNow());
        }
    }
    std::vector<ReplyFrame> replies = AnswerRequest(m_db, request, signalNow());
    const uint8_t code = request.size() > 1 ? request[1] : 0;
    if (Faults().renumber && (code == msg::AddSatellite || code == msg::DeleteSatellite ||
                              code == msg::AddTp || code == msg::DeleteTp)) {
        RenumberDatabase(m_db);
    }
    return replies;
}

std::vector<std::vector<uint8_t>> Simulator::ReceivedFrames() const
{
    std::lock_guard lock(m_stateMutex);
    return m_received;
}

size_t Simulator::SingleRecordQueries() const
{
    std::lock_guard lock(m_stateMutex);
    size_t count = 0;
    for (const auto& f : m_received) {
        const bool query =
            f[1] == msg::QuerySatellite || f[1] == msg::QueryTp || f[1] == msg::QueryProgram;
        count += query && f.size() > 3 && f[3] != kNone ? 1 : 0;
    }
    return count;
}

bool Simulator::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_stateMutex);
    return m_stateChanged.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
}

bool Simulator::WaitForConnections(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_stateMutex);
    return m_stateChanged.wait_for(lock, timeout, [&] { return m_stats.connections >= count; });
}

UpgradeRecord Simulator::Upgrades() const
{
    std::lock_guard lock(m_stateMutex);
    return m_upgrades;
}

bool Simulator::WaitForUpgrade(const std::function<bool(const UpgradeRecord&)>& done,
                               std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_stateMutex);
    return m_stateChanged.wait_for(lock, timeout, [&] { return done(m_upgrades); });
}

UpgradeDevice::Step Simulator::UpgradeFrame(UpgradeDevice& device, uint16_t type,
                                            std::span<const uint8_t> payload)
{
    UpgradeDevice::Step step;
    {
        std::lock_guard lock(m_stateMutex);
        step = device.Receive(type, payload, m_upgrades);
    }
    m_stateChanged.notify_all();
    if (step.install) {
        std::lock_guard lock(m_dbMutex);
        m_db.version = *step.install;
    }
    if (step.restarted) {
        m_restarted = true;
    }
    return step;
}

std::vector<uint8_t> Simulator::Greeting()
{
    if (!m_restarted.exchange(false) || !m_options.greetAfterRestart) {
        return {};
    }
    const auto query = ComposeRequest(msg::QuerySignal).value();
    std::lock_guard lock(m_dbMutex);
    std::vector<ReplyFrame> replies =
        AnswerRequest(m_db, std::span(query.bytes.data(), query.size()), signalNow());
    return replies.empty() ? std::vector<uint8_t>{} : std::move(replies.front().bytes);
}

SimulatorStats Simulator::Stats() const
{
    std::lock_guard lock(m_stateMutex);
    return m_stats;
}

void Simulator::FrameReceived(std::span<const uint8_t> frame)
{
    {
        std::lock_guard lock(m_stateMutex);
        m_received.emplace_back(frame.begin(), frame.end());
        ++m_stats.received;
    }
    m_stateChanged.notify_all();
}

void Simulator::MalformedReceived(size_t count)
{
    std::lock_guard lock(m_stateMutex);
    m_stats.malformed += count;
}

void Simulator::FrameSent(Outcome outcome)
{
    std::lock_guard lock(m_stateMutex);
    switch (outcome) {
    case Outcome::Dropped:
        ++m_stats.dropped;
        break;
    case Outcome::Corrupted:
        ++m_stats.corrupted;
        ++m_stats.sent;
        break;
    case Outcome::Sent:
        ++m_stats.sent;
        break;
    }
}

void Simulator::Log(bool frameLine, const std::string& line)
{
    if (frameLine && !m_options.verbose) {
        return;
    }
    std::lock_guard lock(m_logMutex);
    if (m_options.log) {
        m_options.log(line);
    } else {
        std::fprintf(stderr, "vireo-ird-sim: %s\n", line.c_str());
    }
}

} // namespace vireo::sim
