#include "link/hd_socket.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vireo {

using namespace connect_result;
using namespace io_result;
using net::NativeSocket;
using net::SocketError;

namespace {

// The result code of a connection attempt that has an outcome.
int connectOutcome(SocketError error)
{
    switch (error) {
    case SocketError::None:
    case SocketError::AlreadyConnected:
        return Connected;
    case SocketError::Unreachable:
        return Unreachable;
    default:
        return OtherError;
    }
}

} // namespace

HdSocket::HdSocket(std::recursive_mutex* sessionLock, LinkTiming timing,
                   const std::atomic<bool>* interrupt)
    : m_sessionLock(sessionLock), m_timing(timing), m_interrupt(interrupt)
{}

HdSocket::~HdSocket()
{
    std::lock_guard lock(m_handleMutex);
    if (m_handle != net::kInvalidSocket) {
        net::CloseSocket(m_handle);
    }
    if (m_zombie != net::kInvalidSocket) {
        net::CloseSocket(m_zombie);
    }
}

NativeSocket HdSocket::acquireHandle()
{
    std::lock_guard lock(m_handleMutex);
    ++m_ioDepth;
    return m_handle;
}

void HdSocket::releaseHandle()
{
    std::lock_guard lock(m_handleMutex);
    if (--m_ioDepth == 0 && m_zombie != net::kInvalidSocket) {
        net::CloseSocket(m_zombie);
        m_zombie = net::kInvalidSocket;
    }
}

void HdSocket::setHandle(NativeSocket s)
{
    std::lock_guard lock(m_handleMutex);
    m_handle = s;
}

bool HdSocket::hasHandle()
{
    std::lock_guard lock(m_handleMutex);
    return m_handle != net::kInvalidSocket;
}

void HdSocket::closeLocked()
{
    NativeSocket s;
    {
        std::lock_guard lock(m_handleMutex);
        s = m_handle;
    }
    if (s != net::kInvalidSocket) {
        net::ShutdownReceive(s);
        if (!m_stop) {
            // A short pause lets the half-close reach the peer; a stopped
            // socket belongs to a closing window, which does not wait.
            std::this_thread::sleep_for(m_timing.Scaled(kCloseLingerMs));
        }
        std::lock_guard lock(m_handleMutex);
        if (m_ioDepth > 0) {
            // A call is waiting on this socket: end its wait, close at its end.
            net::ShutdownBoth(s);
            if (m_zombie != net::kInvalidSocket) {
                net::CloseSocket(m_zombie);
            }
            m_zombie = s;
        } else {
            net::CloseSocket(s);
        }
        m_handle = net::kInvalidSocket;
    }
    m_connected = false;
}

void HdSocket::Close()
{
    if (m_sessionLock == nullptr) {
        return;
    }
    std::lock_guard lock(*m_sessionLock);
    closeLocked();
}

void HdSocket::Stop()
{
    m_stop = true;
    m_wake.Signal();
}

void HdSocket::AbortReceive(bool value)
{
    SocketBase::AbortReceive(value);
    if (value) {
        m_wake.Signal();
    }
}

int HdSocket::Open(const Ipv4Target* target, int type, int protocol, bool streamAllowed,
                   bool connectNow)
{
    if (target == nullptr) {
        return NoAddress;
    }
    m_target = *target;
    m_type = type;
    m_protocol = protocol;
    m_streamAllowed = streamAllowed;
    return connectNow ? Connect() : NoAddress;
}

int HdSocket::Connect()
{
    if (m_stop || !m_target) {
        Close();
        return NotAttempted;
    }
    if (!m_streamAllowed) {
        return NotAttempted;
    }
    if (hasHandle()) {
        Close();
    }
    std::unique_lock<std::recursive_mutex> lock;
    if (m_sessionLock != nullptr) {
        lock = std::unique_lock(*m_sessionLock);
    }
    if (m_stop || interrupted()) {
        Close();
        return NotAttempted;
    }
    const NativeSocket s = net::CreateStreamSocket(m_type, m_protocol);
    if (s == net::kInvalidSocket) {
        return CreateFailed;
    }
    setHandle(s);
    m_peerClosed = false;
    const auto ioTimeout =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_timing.Scaled(kIoTimeoutMs));
    if (!net::SetIoTimeouts(s, std::max(ioTimeout, std::chrono::milliseconds(1)))) {
        return OptionFailed;
    }
    if (!net::SetNonBlocking(s, true)) {
        return BlockingModeFailed;
    }

    // Up to three attempts. The first starts the connection; each wait for its
    // outcome lasts at most the current delay (350, 700, 1400 ms) and ends as
    // soon as the connection is made or refused, or the socket is stopped.
    int attempts = 0;
    int result = 0;
    bool pending = false;
    do {
        // Emptied before the flags are read: a wake-up that comes later is
        // still pending for the wait below, one from before is answered here.
        m_wake.Drain();
        if (m_stop || interrupted()) {
            Close();
            return NotAttempted;
        }
        if (!pending) {
            const SocketError error =
                net::Classify(net::StartConnect(s, m_target->address, m_target->port));
            if (error == SocketError::None || error == SocketError::WouldBlock) {
                pending = true; // learn the outcome from writability
            } else {
                result = connectOutcome(error);
            }
        }
        if (result == Connected || result == Unreachable) {
            break;
        }
        if (pending) {
            // A wake-up that is not for us (an abort meant for the next
            // Receive) does not cut the attempt short.
            const auto attemptEnd = std::chrono::steady_clock::now() + m_timing.Scaled(Delay());
            net::WaitResult wait;
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                    attemptEnd - std::chrono::steady_clock::now());
                wait = m_wake.Wait(s, net::WaitFor::Write,
                                   std::max(left, std::chrono::microseconds(0)));
                if (m_stop || interrupted()) {
                    Close();
                    return NotAttempted;
                }
                if (!wait.woken || wait.ready || wait.failed || left.count() <= 0) {
                    break;
                }
                m_wake.Drain();
            }
            if (wait.ready) {
                pending = false;
                result = connectOutcome(net::Classify(net::PendingError(s)));
            } else if (wait.failed) {
                result = connect_result::WaitFailed;
                pending = false;
            } else {
                result = OtherError; // still in progress after this attempt's wait
            }
        } else {
            const net::WaitResult wait =
                m_wake.Wait(net::kInvalidSocket, net::WaitFor::Read, m_timing.Scaled(Delay()));
            (void)wait;
        }
        LongerDelay();
        ++attempts;
    } while (result != Unreachable && result != Connected && result != connect_result::WaitFailed &&
             attempts < 3);

    ShorterDelay();
    if (result == Connected && !net::SetNonBlocking(s, false)) {
        result = BlockingModeFailed;
    }
    if (result == Connected) {
        m_connected = true;
    } else if (result != BlockingModeFailed) {
        closeLocked();
    }
    return result;
}

int HdSocket::CheckAlive()
{
    const NativeSocket s = acquireHandle();
    net::WaitResult wait;
    if (s == net::kInvalidSocket) {
        wait.failed = true;
        wait.notASocket = true;
    } else {
        // A zero time-out probe; the wake-up handle is not consumed.
        wait = m_wake.Wait(s, net::WaitFor::Read, std::chrono::microseconds(0));
    }
    releaseHandle();
    if (!wait.failed) {
        return 0;
    }
    Close();
    return wait.notASocket ? NotASocket : connect_result::WaitFailed;
}

int HdSocket::Send(const uint8_t* data, size_t count, int* error)
{
    if (m_stop) {
        Close();
        return Stopped;
    }
    const NativeSocket s = acquireHandle();
    const long sent = s == net::kInvalidSocket ? -1 : net::SendBytes(s, data, count);
    if (sent < 0) {
        const int code = s == net::kInvalidSocket ? 0 : net::LastError();
        releaseHandle();
        Close();
        if (error != nullptr) {
            *error = code;
        }
        return Failed;
    }
    int result = static_cast<int>(sent);
    for (;;) {
        if (m_stop) {
            result = Stopped;
            break;
        }
        if (interrupted()) {
            break; // the bytes are the system's; no need to see them leave
        }
        const net::WaitResult wait =
            m_wake.Wait(s, net::WaitFor::Write, m_timing.Scaled(kIoTimeoutMs));
        if (wait.failed) {
            if (error != nullptr) {
                *error = -1;
            }
            result = io_result::WaitFailed;
            break;
        }
        if (wait.ready) {
            break;
        }
        if (wait.woken) {
            m_wake.Drain();
            if (m_abortReceive) {
                m_wake.Signal(); // keep the abort for the next Receive
            }
        }
    }
    releaseHandle();
    if (result == Stopped) {
        Close();
    }
    return result;
}

bool HdSocket::WaitReadable(std::chrono::microseconds timeout)
{
    if (m_stop || m_abortReceive || interrupted()) {
        return true;
    }
    const NativeSocket s = acquireHandle();
    bool result = true;
    if (s != net::kInvalidSocket) {
        const net::WaitResult wait = m_wake.Wait(s, net::WaitFor::Read, timeout);
        if (wait.woken) {
            m_wake.Signal(); // leave the wake-up for Receive to see
        }
        result = wait.ready || wait.woken || wait.failed;
    }
    releaseHandle();
    return result;
}

int HdSocket::Receive(uint8_t* buffer, size_t size, int& limitOrError)
{
    using Clock = std::chrono::steady_clock;
    const long limitSeconds = limitOrError;
    limitOrError = 0;
    // The limit counts whole seconds of the clock: it passes once more whole
    // seconds than the limit have gone by since the start, that is after more
    // than `limit` and at most `limit + 1` seconds.
    const auto second = m_timing.Scaled(1000);
    const auto start = Clock::now().time_since_epoch();
    const auto startWhole = start / second;
    const Clock::time_point deadline{(startWhole + limitSeconds + 1) * second};

    m_peerClosed = false;
    const NativeSocket s = acquireHandle();
    int result = 0;
    for (;;) {
        if (m_stop) {
            result = Stopped;
            break;
        }
        if (m_abortReceive.exchange(false) || interrupted()) {
            result = 0;
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            result = TimedOut;
            break;
        }
        if (s == net::kInvalidSocket) {
            result = io_result::WaitFailed; // no socket to wait on: the link is gone
            break;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        const net::WaitResult wait = m_wake.Wait(s, net::WaitFor::Read, remaining);
        if (wait.failed) {
            limitOrError = wait.error;
            result = io_result::WaitFailed;
            break;
        }
        if (wait.woken) {
            m_wake.Drain();
            continue; // the flags are read at the top
        }
        if (wait.ready) {
            const long got = net::ReceiveBytes(s, buffer, size);
            limitOrError = got < 0 ? net::LastError() : 0;
            if (got == 0) {
                m_peerClosed = true;
            }
            result = got < 0 ? Failed : static_cast<int>(got);
            break;
        }
    }
    releaseHandle();
    if (result == Stopped || (result == io_result::WaitFailed && s == net::kInvalidSocket)) {
        Close();
    }
    return result;
}

} // namespace vireo
