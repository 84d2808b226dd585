#pragma once

#include "link/link_timing.h"
#include "link/socket_base.h"
#include "link/socket_shim.h"

#include <atomic>
#include <mutex>
#include <optional>

namespace vireo {

// The TCP client socket of one device session. Connect and Close run under
// the session's recursive lock; Send, Receive and CheckAlive belong to the
// session thread. Every wait blocks on the socket and a wake-up handle, so
// Stop() and AbortReceive(true) end a waiting call at once, and an idle
// connection costs no CPU.
//
// `interrupt` (optional) is the session's own stop flag. Once it is set, a
// Wake() ends any wait for good: Connect gives up and closes its socket,
// Receive returns 0 as after an abort, Send stops waiting for its bytes to
// leave. So whoever asks the session to stop never has to wait for the
// session lock, which Connect holds across its attempts.
class HdSocket : public SocketBase
{
public:
    static constexpr long kIoTimeoutMs = 800;
    static constexpr long kCloseLingerMs = 5;

    explicit HdSocket(std::recursive_mutex* sessionLock, LinkTiming timing = {},
                      const std::atomic<bool>* interrupt = nullptr);
    ~HdSocket() override;
    HdSocket(const HdSocket&) = delete;
    HdSocket& operator=(const HdSocket&) = delete;

    int Open(const Ipv4Target* target, int type, int protocol, bool streamAllowed,
             bool connectNow) override;
    int Connect() override;
    int CheckAlive() override;
    void Close() override;
    int Send(const uint8_t* data, size_t count, int* error = nullptr) override;
    // `limitOrError` holds the time limit in whole seconds on entry and the
    // system error of the last read (0 when none) on exit.
    int Receive(uint8_t* buffer, size_t size, int& limitOrError) override;
    void AbortReceive(bool value) override;
    // Waits up to `timeout` for data; true also when the wait ends for a stop,
    // an abort or an error, which the next Receive then reports.
    bool WaitReadable(std::chrono::microseconds timeout);

    // Final: from now on every operation closes the socket and fails.
    void Stop();
    bool IsStopped() const { return m_stop.load(); }
    bool IsConnected() const { return m_connected.load(); }
    // The last Receive returned 0 because the peer closed the connection.
    bool PeerClosed() const { return m_peerClosed.load(); }
    // Ends a wait in progress without changing any flag.
    void Wake() { m_wake.Signal(); }

private:
    // The handle for one I/O call. A Close() from another thread while the call
    // waits shuts the socket down (which ends the wait) and leaves the actual
    // close to the call's end, so a handle is never closed under a waiter.
    net::NativeSocket acquireHandle();
    void releaseHandle();
    void setHandle(net::NativeSocket s);
    bool hasHandle();
    void closeLocked();
    bool interrupted() const { return m_interrupt != nullptr && m_interrupt->load(); }

    std::recursive_mutex* m_sessionLock;
    LinkTiming m_timing;
    const std::atomic<bool>* m_interrupt;
    net::WakeHandle m_wake;

    std::mutex m_handleMutex;
    net::NativeSocket m_handle = net::kInvalidSocket;
    net::NativeSocket m_zombie = net::kInvalidSocket; // closed, still in use by a waiter
    int m_ioDepth = 0;

    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_peerClosed{false};
    std::optional<Ipv4Target> m_target;
    bool m_streamAllowed = false;
    int m_protocol = 0;
    int m_type = 0;
};

} // namespace vireo
