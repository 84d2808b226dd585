#pragma once

// A plain HTTP/1.1 client for the monitor's tests and benchmarks: one request
// per connection, from a chosen loopback source address, with a deadline.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace vireo::test {

struct HttpReply
{
    int status = 0; // 0: no answer (refused, closed, timed out)
    std::string headers;
    std::string body;
};

inline std::string Base64(const std::string& in)
{
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = -6;
    for (unsigned char c : in) {
        value = (value << 8) + c;
        bits += 8;
        while (bits >= 0) {
            out += table[(value >> bits) & 0x3F];
            bits -= 6;
        }
    }
    if (bits > -6) {
        out += table[((value << 8) >> (bits + 8)) & 0x3F];
    }
    while (out.size() % 4 != 0) {
        out += '=';
    }
    return out;
}

// A connected TCP socket to host:port from `source` (any when empty); -1 on
// failure. `wait` false: the connect is only begun (a server that accepts
// nothing does not hold the caller).
inline int ConnectFrom(const std::string& source, const std::string& host, uint16_t port,
                       bool wait = true)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0) {
        return -1;
    }
    if (!source.empty()) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
        (wait || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct HttpCall
{
    std::string method = "GET";
    std::string path = "/metrics";
    std::string body;
    std::string user; // basic auth when not empty
    std::string password;
    std::string source; // loopback source address
    std::chrono::milliseconds timeout{5000};
    long announced = -1; // a Content-Length other than the body's (which is then not sent)
};

inline HttpReply Http(uint16_t port, const HttpCall& call, const std::string& host = "127.0.0.1")
{
    HttpReply reply;
    const int fd = ConnectFrom(call.source, host, port);
    if (fd < 0) {
        return reply;
    }
    std::string request =
        call.method + " " + call.path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n";
    if (!call.user.empty()) {
        request += "Authorization: Basic " + Base64(call.user + ":" + call.password) + "\r\n";
    }
    if (call.announced >= 0) {
        request += "Content-Length: " + std::to_string(call.announced) + "\r\n\r\n";
    } else {
        if (!call.body.empty() || call.method == "POST") {
            request += "Content-Length: " + std::to_string(call.body.size()) + "\r\n";
        }
        request += "\r\n" + call.body;
    }
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return reply;
    }
    const auto deadline = std::chrono::steady_clock::now() + call.timeout;
    std::string data;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ::close(fd);
            return reply; // timed out
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t end = data.find("\r\n\r\n");
    if (data.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) {
        return reply;
    }
    reply.status = std::atoi(data.c_str() + 9);
    reply.headers = data.substr(0, end);
    reply.body = data.substr(end + 4);
    return reply;
}

inline HttpReply HttpGet(uint16_t port, const std::string& path)
{
    HttpCall call;
    call.path = path;
    return Http(port, call);
}

} // namespace vireo::test
