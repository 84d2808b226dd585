#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vireo {

// Result codes of Open and Connect (and CheckAlive's failures).
namespace connect_result {
inline constexpr int Connected = 16;
inline constexpr int NotAttempted = 17; // stopped, no address, stream not allowed
inline constexpr int NoAddress = 18;
inline constexpr int CreateFailed = 20;
inline constexpr int OptionFailed = 21;
inline constexpr int BlockingModeFailed = 22;
inline constexpr int Unreachable = 23; // network unreachable or connection refused
inline constexpr int OtherError = 24;
inline constexpr int WaitFailed = 25; // select/poll failed
inline constexpr int NotASocket = 26;
} // namespace connect_result

// Results of Send and Receive below zero.
namespace io_result {
inline constexpr int Failed = -1;
inline constexpr int WaitFailed = -2; // select/poll failed
inline constexpr int Stopped = -3;
inline constexpr int TimedOut = -4;
} // namespace io_result

// IPv4 target: address in host byte order, port.
struct Ipv4Target
{
    uint32_t address = 0;
    uint16_t port = 0;
};

// A client stream socket with blocking-style operations and time limits.
class SocketBase
{
public:
    virtual ~SocketBase() = default;

    virtual int Open(const Ipv4Target* target, int type, int protocol, bool streamAllowed,
                     bool connectNow) = 0;
    virtual int Connect() = 0;
    virtual int CheckAlive() = 0;
    virtual void Close() = 0;
    virtual int Send(const uint8_t* data, size_t count, int* error = nullptr) = 0;
    virtual int Receive(uint8_t* buffer, size_t size, int& limitOrError) = 0;

    // Delay between connect attempts, in milliseconds: doubled up to 1400;
    // halved down to 350.
    virtual void LongerDelay() { m_delay = m_delay < 1400 ? m_delay * 2 : 1400; }
    virtual void ShorterDelay() { m_delay = m_delay > 350 ? m_delay / 2 : 350; }
    virtual void AbortReceive(bool value) { m_abortReceive.store(value); }

    int Delay() const { return m_delay; }
    void SetDelay(int milliseconds) { m_delay = milliseconds; }

protected:
    std::atomic<bool> m_abortReceive{false};
    int m_delay = 350;
};

} // namespace vireo
