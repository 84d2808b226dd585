#pragma once

// Hostile HTTP clients for the monitor's tests and benchmarks: clients that
// trickle a request a byte at a time, and connections that send nothing.

#include "http_client.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vireo::test {

class SlowClients
{
public:
    // `trickling` clients send "GET /metrics HTTP/1.1\r\n" and then a byte
    // every `pause`; `idle` connections send nothing. Each kind is spread
    // over the source addresses given (round robin).
    SlowClients(uint16_t port, const std::string& host, int trickling,
                std::vector<std::string> trickleSources, int idle,
                std::vector<std::string> idleSources,
                std::chrono::milliseconds pause = std::chrono::milliseconds(300))
    {
        for (int i = 0; i < idle; ++i) {
            const int fd = ConnectFrom(idleSources[i % idleSources.size()], host, port, false);
            if (fd >= 0) {
                m_idle.push_back(fd);
            }
        }
        for (int i = 0; i < trickling; ++i) {
            const int fd =
                ConnectFrom(trickleSources[i % trickleSources.size()], host, port, false);
            if (fd >= 0) {
                static const char start[] = "GET /metrics HTTP/1.1\r\n";
                ::send(fd, start, sizeof start - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                m_trickling.push_back(fd);
            }
        }
        m_thread = std::thread([this, pause] {
            while (!m_stop) {
                for (int fd : m_trickling) {
                    ::send(fd, "X", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                for (int i = 0; i < 10 && !m_stop; ++i) {
                    std::this_thread::sleep_for(pause / 10);
                }
            }
        });
    }
    ~SlowClients()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_trickling) {
            ::close(fd);
        }
        for (int fd : m_idle) {
            ::close(fd);
        }
    }
    SlowClients(const SlowClients&) = delete;
    SlowClients& operator=(const SlowClients&) = delete;

    // How many of the trickling connections the server has ended (closed,
    // or answered).
    int TricklersClosed() const
    {
        int closed = 0;
        for (int fd : m_trickling) {
            char byte;
            const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
            closed += n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ? 1 : 0;
        }
        return closed;
    }
    size_t Trickling() const { return m_trickling.size(); }

private:
    std::vector<int> m_trickling;
    std::vector<int> m_idle;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// "127.241.A.1" ... : `count` loopback addresses of one /24.
inline std::vector<std::string> Sources(const std::string& prefix, int first, int count)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(prefix + std::to_string(first + i));
    }
    return out;
}

} // namespace vireo::test
