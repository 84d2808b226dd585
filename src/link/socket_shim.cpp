#include "link/socket_shim.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vireo::net {

namespace {

int toPollTimeout(std::chrono::microseconds timeout)
{
    if (timeout.count() < 0) {
        return -1;
    }
    // Round up so a short wait never becomes a busy zero-time poll.
    const auto ms = (timeout.count() + 999) / 1000;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

} // namespace

#ifdef _WIN32

bool StartSockets()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void StopSockets()
{
    WSACleanup();
}
int LastError()
{
    return WSAGetLastError();
}

SocketError Classify(int error)
{
    switch (error) {
    case 0:
        return SocketError::None;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
        return SocketError::WouldBlock;
    case WSAEISCONN:
        return SocketError::AlreadyConnected;
    case WSAENETUNREACH:
    case WSAECONNREFUSED:
        return SocketError::Unreachable;
    case WSAENOTSOCK:
        return SocketError::NotASocket;
    default:
        return SocketError::Other;
    }
}

bool SetIoTimeouts(NativeSocket s, std::chrono::milliseconds timeout)
{
    DWORD ms = static_cast<DWORD>(timeout.count());
    return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) ==
               0 &&
           setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) ==
               0;
}

bool SetNonBlocking(NativeSocket s, bool nonBlocking)
{
    u_long mode = nonBlocking ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}

void CloseSocket(NativeSocket s)
{
    closesocket(s);
}
void ShutdownBoth(NativeSocket s)
{
    shutdown(s, SD_BOTH);
}
void ShutdownReceive(NativeSocket s)
{
    shutdown(s, SD_RECEIVE);
}

#else

bool StartSockets()
{
    return true;
}
void StopSockets() {}
int LastError()
{
    return errno;
}

SocketError Classify(int error)
{
    switch (error) {
    case 0:
        return SocketError::None;
    case EWOULDBLOCK:
    case EINPROGRESS:
        return SocketError::WouldBlock;
    case EISCONN:
        return SocketError::AlreadyConnected;
    case ENETUNREACH:
    case ECONNREFUSED:
        return SocketError::Unreachable;
    case ENOTSOCK:
    case EBADF:
        return SocketError::NotASocket;
    default:
        return SocketError::Other;
    }
}

bool SetIoTimeouts(NativeSocket s, std::chrono::milliseconds timeout)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 &&
           setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetNonBlocking(NativeSocket s, bool nonBlocking)
{
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, wanted) == 0;
}

void CloseSocket(NativeSocket s)
{
    ::close(s);
}
void ShutdownBoth(NativeSocket s)
{
    ::shutdown(s, SHUT_RDWR);
}
void ShutdownReceive(NativeSocket s)
{
    ::shutdown(s, SHUT_RD);
}

#endif

NativeSocket CreateStreamSocket(int type, int protocol)
{
#ifdef _WIN32
    return ::socket(AF_INET, type, protocol);
#else
    return ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
#endif
}

int StartConnect(NativeSocket s, uint32_t address, uint16_t port)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(address);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return 0;
    }
    return LastError();
}

int PendingError(NativeSocket s)
{
    int error = 0;
#ifdef _WIN32
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
#else
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
#endif
        return LastError();
    }
    return error;
}

long SendBytes(NativeSocket s, const uint8_t* data, size_t count)
{
#ifdef _WIN32
    return ::send(s, reinterpret_cast<const char*>(data), static_cast<int>(count), 0);
#else
    return ::send(s, data, count, MSG_NOSIGNAL);
#endif
}

long ReceiveBytes(NativeSocket s, uint8_t* buffer, size_t size)
{
#ifdef _WIN32
    return ::recv(s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
#else
    return ::recv(s, buffer, size, 0);
#endif
}

bool ResolveIpv4(const char* host, uint32_t& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) {
        return false;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    address = ntohl(in->sin_addr.s_addr);
    freeaddrinfo(result);
    return true;
}

// --- WakeHandle ---

#ifdef _WIN32

WakeHandle::WakeHandle()
{
    // A loopback pair: the read end joins the wait like any socket.
    NativeSocket listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len)) {
        closesocket(listener);
        return;
    }
    m_write = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(m_write, reinterpret_cast<sockaddr*>(&a), len) == 0) {
        m_read = accept(listener, nullptr, nullptr);
        SetNonBlocking(m_read, true);
        SetNonBlocking(m_write, true);
    }
    closesocket(listener);
}

WakeHandle::~WakeHandle()
{
    if (m_read != INVALID_SOCKET) {
        closesocket(m_read);
    }
    if (m_write != INVALID_SOCKET) {
        closesocket(m_write);
    }
}

bool WakeHandle::Valid() const
{
    return m_read != INVALID_SOCKET && m_write != INVALID_SOCKET;
}

void WakeHandle::Signal()
{
    const char byte = 1;
    ::send(m_write, &byte, 1, 0); // WSAEWOULDBLOCK: already signalled
}

void WakeHandle::Drain()
{
    char buffer[64];
    while (::recv(m_read, buffer, sizeof buffer, 0) > 0) {
    }
}

WaitResult WakeHandle::Wait(NativeSocket s, WaitFor what, std::chrono::microseconds timeout)
{
    WSAPOLLFD fds[2]{};
    int count = 0;
    if (s != kInvalidSocket) {
        fds[count].fd = s;
        fds[count].events = what == WaitFor::Read ? POLLRDNORM : POLLWRNORM;
        ++count;
    }
    fds[count].fd = m_read;
    fds[count].events = POLLRDNORM;
    ++count;
    WaitResult result;
    const int rc = WSAPoll(fds, count, toPollTimeout(timeout));
    if (rc < 0) {
        result.failed = true;
        result.error = LastError();
        result.notASocket = result.error == WSAENOTSOCK;
        return result;
    }
    if (s != kInvalidSocket && fds[0].revents != 0) {
        if (fds[0].revents & POLLNVAL) {
            result.failed = true;
            result.notASocket = true;
            result.error = WSAENOTSOCK;
        } else {
            result.ready = true;
        }
    }
    result.woken = fds[count - 1].revents != 0;
    return result;
}

#else

WakeHandle::WakeHandle()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_read = fds[0];
        m_write = fds[1];
    }
}

WakeHandle::~WakeHandle()
{
    if (m_read >= 0) {
        ::close(m_read);
    }
    if (m_write >= 0) {
        ::close(m_write);
    }
}

bool WakeHandle::Valid() const
{
    return m_read >= 0 && m_write >= 0;
}

void WakeHandle::Signal()
{
    const char byte = 1;
    // EAGAIN means the pipe is full, which is already a pending signal.
    [[maybe_unused]] const ssize_t rc = ::write(m_write, &byte, 1);
}

void WakeHandle::Drain()
{
    char buffer[64];
    while (::read(m_read, buffer, sizeof buffer) > 0) {
    }
}

WaitResult WakeHandle::Wait(NativeSocket s, WaitFor what, std::chrono::microseconds timeout)
{
    pollfd fds[2]{};
    int count = 0;
    if (s != kInvalidSocket) {
        fds[count].fd = s;
        fds[count].events = what == WaitFor::Read ? POLLIN : POLLOUT;
        ++count;
    }
    fds[count].fd = m_read;
    fds[count].events = POLLIN;
    ++count;
    WaitResult result;
    int rc;
    do {
        rc = ::poll(fds, static_cast<nfds_t>(count), toPollTimeout(timeout));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        result.failed = true;
        result.error = errno;
        return result;
    }
    if (s != kInvalidSocket && fds[0].revents != 0) {
        if (fds[0].revents & POLLNVAL) {
            result.failed = true;
            result.notASocket = true;
            result.error = ENOTSOCK;
        } else {
            result.ready = true;
        }
    }
    result.woken = fds[count - 1].revents != 0;
    return result;
}

#endif

} // namespace vireo::net
