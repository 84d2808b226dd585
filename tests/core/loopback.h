#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A listening TCP socket on a loopback address of the test's own, for tests
// that need the other end of a connection without a simulator.
class LoopbackListener
{
public:
    LoopbackListener(const std::string& address, uint16_t port, int backlog = 8)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
               ::listen(m_fd, backlog) == 0;
    }
    ~LoopbackListener()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool ok() const { return m_ok; }
    // Takes the next connection from the backlog (blocking).
    int accept() { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }

private:
    int m_fd = -1;
    bool m_ok = false;
};

inline uint32_t loopbackAddress(const std::string& text)
{
    in_addr a{};
    inet_pton(AF_INET, text.c_str(), &a);
    return ntohl(a.s_addr);
}

// Connects a plain blocking client socket; -1 on failure.
inline int plainConnect(const std::string& address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
