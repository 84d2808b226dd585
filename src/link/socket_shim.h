#pragma once

// A thin layer over the platform's sockets: POSIX here, Winsock on Windows.
// Everything above it speaks in these few calls and error names.

#include <chrono>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/types.h>
#endif

namespace vireo::net {

#ifdef _WIN32
using NativeSocket = SOCKET;
inline const NativeSocket kInvalidSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
inline constexpr NativeSocket kInvalidSocket = -1;
#endif

// SOCK_STREAM on every platform we build for.
inline constexpr int kStreamType = 1;

// Portable names for the errors the link tells apart.
enum class SocketError {
    None,
    WouldBlock, // connect in progress / no data
    AlreadyConnected,
    Unreachable, // network unreachable or refused
    NotASocket,
    Other,
};

// Starts and stops the sockets library (Winsock); no-ops on POSIX.
bool StartSockets();
void StopSockets();

int LastError();
SocketError Classify(int error);

NativeSocket CreateStreamSocket(int type, int protocol);
bool SetIoTimeouts(NativeSocket s, std::chrono::milliseconds timeout);
bool SetNonBlocking(NativeSocket s, bool nonBlocking);
// Starts connecting; returns 0 or the system error.
int StartConnect(NativeSocket s, uint32_t address, uint16_t port);
// The pending error of a socket whose connect has finished (SO_ERROR).
int PendingError(NativeSocket s);
void ShutdownBoth(NativeSocket s);
void ShutdownReceive(NativeSocket s);
void CloseSocket(NativeSocket s);
long SendBytes(NativeSocket s, const uint8_t* data, size_t count);
long ReceiveBytes(NativeSocket s, uint8_t* buffer, size_t size);

// Resolves a dotted IPv4 text or host name to an address in host byte order.
bool ResolveIpv4(const char* host, uint32_t& address);

enum class WaitFor {
    Read,
    Write,
};

struct WaitResult
{
    bool ready = false; // the socket is readable/writable (or has an error to report)
    bool woken = false; // the wake-up handle was signalled
    bool failed = false;
    int error = 0; // system error when failed
    bool notASocket = false;
};

// A wake-up handle: one thread blocks in Wait, another calls Signal to end the
// wait at once. A pipe on POSIX, a connected loopback socket pair on Windows.
class WakeHandle
{
public:
    WakeHandle();
    ~WakeHandle();
    WakeHandle(const WakeHandle&) = delete;
    WakeHandle& operator=(const WakeHandle&) = delete;

    // Never blocks; a full pipe already means "signalled".
    void Signal();
    // Empties pending signals.
    void Drain();
    bool Valid() const;

    // Waits for the socket (when valid) or the wake-up handle, up to `timeout`
    // (negative: no limit). Never spins.
    WaitResult Wait(NativeSocket s, WaitFor what, std::chrono::microseconds timeout);

private:
#ifdef _WIN32
    NativeSocket m_read = kInvalidSocket;
    NativeSocket m_write = kInvalidSocket;
#else
    int m_read = -1;
    int m_write = -1;
#endif
};

} // namespace vireo::net
