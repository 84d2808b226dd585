#include "sim/connection.h"

#include "link/frame_splitter.h"
#include "link/message_code.h"
#include "link/request_frame.h"
#include "upgrade/upgrade_frame.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vireo::sim {

namespace {
constexpr uint8_t kStatusNoCiCard = 39;
constexpr uint8_t kStatusWriteRefused = 30; // a write the device will not take
} // namespace

Connection::Connection(ConnectionHost& host, int socket, int stopFd,
                       const std::atomic<bool>& stopping, std::string peer, uint32_t seed)
    : m_host(host), m_socket(socket), m_stopFd(stopFd), m_stopping(stopping),
      m_peer(std::move(peer)), m_random(seed), m_repeatRandom(seed ^ 0x9E3779B9u)
{
    m_thread = std::thread([this] { run(); });
}

Connection::~Connection()
{
    Join();
}

void Connection::Join()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void Connection::run()
{
    m_host.Log(false, m_peer + " connected");
    const FaultOptions::HangUp hangUp = m_host.CurrentFaults().hangUp;
    if (hangUp == FaultOptions::HangUp::Close) {
        shutdown(m_socket, SHUT_RDWR);
        close(m_socket);
        m_host.Log(false, m_peer + " disconnected (hung up at once)");
        m_finished.store(true);
        m_host.ConnectionFinished();
        return;
    }
    if (hangUp == FaultOptions::HangUp::HalfClose) {
        shutdown(m_socket, SHUT_WR); // reads on, never answers
        m_halfClosed = true;
    }
    if (const std::vector<uint8_t> greeting = m_host.Greeting(); !greeting.empty()) {
        m_host.Log(true, m_peer + " -> " + MessageName(greeting[1], false) + "  " +
                             HexBytes(greeting) + "  [back up]");
        writeAll(greeting.data(), greeting.size());
    }
    std::vector<std::vector<uint8_t>> requests;
    FrameSplitter splitter([&requests](const uint8_t* frame, uint8_t length) {
        requests.emplace_back(frame, frame + length + kFrameOverhead);
    });
    std::vector<uint8_t> buffer(upgrade::kHeaderSize + upgrade::kMaxPayload);
    const char* reason = "closed by the peer";
    bool open = true;
    while (open) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        int timeout = -1;
        if (!m_scan.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                m_scanDone - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        if (m_flooding) {
            timeout = timeout < 0 ? 1 : std::min(timeout, 1);
        }
        const int ready = poll(fds, 2, timeout);
        if (m_flooding && !flood()) {
            reason = "closed by the simulator";
            break;
        }
        if (ready == 0) {
            if (!m_scan.empty() && std::chrono::steady_clock::now() >= m_scanDone) {
                // The scan has run its time: its answer goes out now.
                std::vector<uint8_t> scan;
                scan.swap(m_scan);
                if (!finish(scan)) {
                    reason = "closed by the simulator";
                    break;
                }
            }
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            reason = "poll failed";
            break;
        }
        if (fds[1].revents != 0) {
            reason = "simulator stopping";
            break;
        }
        const ssize_t n = recv(m_socket, buffer.data(), buffer.size(), 0);
        if (n == 0) {
            if (!m_upgrade) {
                noteMalformed(m_checker.Finish());
            }
            break;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            reason = "receive failed";
            break;
        }
        // A client that opens with an upgrade frame (not a common frame's
        // start byte) reconnected to go on with an upgrade.
        if (!m_anyReceived && buffer[0] != kFrameStart) {
            enterUpgrade();
        }
        m_anyReceived = true;
        if (m_upgrade) {
            if (!upgradeBytes(buffer.data(), static_cast<size_t>(n))) {
                reason = "closed by the simulator";
                break;
            }
            continue;
        }
        noteMalformed(m_checker.Feed(std::span(buffer.data(), static_cast<size_t>(n))));
        // The splitter takes what one read of the link gives at most.
        for (size_t at = 0; at < static_cast<size_t>(n) && open;
             at += FrameSplitter::kReceiveBufferSize) {
            const size_t piece =
                std::min(FrameSplitter::kReceiveBufferSize, static_cast<size_t>(n) - at);
            splitter.SplitFrames(buffer.data() + at, piece);
            for (const std::vector<uint8_t>& request : requests) {
                if (m_upgrade) {
                    break; // what follows an accepted upgrade is not a request
                }
                if (!answer(request)) {
                    reason = "closed by the simulator";
                    open = false;
                    break;
                }
            }
            requests.clear();
        }
    }
    shutdown(m_socket, SHUT_RDWR);
    close(m_socket);
    m_host.Log(false, m_peer + " disconnected (" + reason + ")");
    m_finished.store(true);
    m_host.ConnectionFinished();
}

void Connection::noteMalformed(size_t count)
{
    if (count > 0) {
        m_host.MalformedReceived(count);
        m_host.Log(false, m_peer + " sent " + std::to_string(count) + " malformed frame(s)");
    }
}

bool Connection::answer(const std::vector<uint8_t>& request)
{
    if (m_stopping.load()) {
        return false;
    }
    m_host.FrameReceived(request);
    m_host.Log(true, m_peer + " <- " + MessageName(request[1], true) + "  " + HexBytes(request));
    const FaultOptions faults = m_host.CurrentFaults();
    if (faults.silent || m_halfClosed || m_holding) {
        return true;
    }
    if (faults.delayMs > 0 && !pause(faults.delayMs)) {
        return false;
    }
    const bool overridden = faults.statusOverrides.count(request[1]) != 0;
    if (request[1] == msg::StopScan) {
        m_scan.clear(); // the scan in progress ends without its own answer
    } else if ((request[1] == msg::ScanSatellite || request[1] == msg::ScanTp) &&
               faults.scanMs > 0 && !overridden) {
        m_scan = request;
        m_scanDone = std::chrono::steady_clock::now() + std::chrono::milliseconds(faults.scanMs);
        return true;
    }
    return finish(request);
}

bool Connection::finish(const std::vector<uint8_t>& request)
{
    const FaultOptions faults = m_host.CurrentFaults();
    std::vector<ReplyFrame> replies;
    const FaultOptions::WriteFault writeFault = m_host.TakeWrite(request[1]);
    if (writeFault == FaultOptions::WriteFault::Drop ||
        writeFault == FaultOptions::WriteFault::Hold) {
        m_host.Answer(request);
        const bool drop = writeFault == FaultOptions::WriteFault::Drop;
        m_host.Log(false, m_peer + (drop ? " took a write and closes before its answer"
                                         : " took a write and holds its answer"));
        if (drop) {
            return false;
        }
        m_holding = true; // receives, never answers again on this connection
        return true;
    }
    if (writeFault == FaultOptions::WriteFault::Refuse) {
        replies.push_back({BuildStatusReply(request[1], kStatusWriteRefused), false});
    } else if (auto it = faults.statusOverrides.find(request[1]);
               it != faults.statusOverrides.end()) {
        replies.push_back({BuildStatusReply(it->first, it->second), false});
    } else if (request[1] == msg::AddSatellite && faults.satelliteRoom > 0 &&
               m_host.SatelliteCount() >= faults.satelliteRoom) {
        replies.push_back({BuildStatusReply(msg::AddSatellite, status::kOutOfManage), false});
    } else if (request[1] == msg::MultiDescramble && faults.noCiCard) {
        replies.push_back({BuildStatusReply(msg::MultiDescramble, kStatusNoCiCard), false});
    } else {
        replies = m_host.Answer(request);
    }
    if (faults.reorder && replies.size() > 2) {
        // Records in another order than the list's; a closing status stays last.
        const bool closing =
            replies.back().bytes.size() > 1 && replies.back().bytes[1] == msg::StatusReply;
        std::shuffle(replies.begin(), replies.end() - (closing ? 1 : 0), m_random);
    }
    if (request[1] == msg::UpdateAll && faults.floodSignalPerSecond > 0 && !m_flooding) {
        m_flooding = true;
        m_floodStart = std::chrono::steady_clock::now();
        m_host.Log(false, m_peer + " flooding with " + std::to_string(faults.floodSignalPerSecond) +
                              " SignalStatus frames a second");
    }
    for (const ReplyFrame& reply : replies) {
        if (!send(reply, faults)) {
            return false;
        }
        const std::vector<uint8_t>& b = reply.bytes;
        if (request[1] == msg::StartUpgrade && b.size() > 4 && b[1] == msg::StatusReply &&
            b[4] == kStatusUpgradeAccepted) {
            enterUpgrade();
        }
    }
    return true;
}

void Connection::enterUpgrade()
{
    m_upgrade = std::make_unique<UpgradeDevice>(m_host.CurrentFaults().upgrade);
    m_upgradeIn.clear();
    m_host.Log(false, m_peer + " upgrade begins");
}

bool Connection::upgradeBytes(const uint8_t* data, size_t count)
{
    m_upgradeIn.insert(m_upgradeIn.end(), data, data + count);
    size_t at = 0;
    bool open = true;
    while (open && m_upgradeIn.size() - at >= upgrade::kHeaderSize) {
        const upgrade::FrameHeader header = upgrade::ParseHeader(m_upgradeIn.data() + at);
        const size_t size = header.PayloadSize();
        if (m_upgradeIn.size() - at - upgrade::kHeaderSize < size) {
            break;
        }
        const std::span<const uint8_t> payload(m_upgradeIn.data() + at + upgrade::kHeaderSize,
                                               size);
        if (header.type != upgrade::frame_type::Block) {
            m_host.Log(true, m_peer + " <- upgrade frame " + std::to_string(header.type) + "  " +
                                 HexBytes(std::span(m_upgradeIn.data() + at,
                                                    upgrade::kHeaderSize + size)));
        }
        const UpgradeDevice::Step step = m_host.UpgradeFrame(*m_upgrade, header.type, payload);
        at += upgrade::kHeaderSize + size;
        if (step.pauseMs > 0 && !pause(step.pauseMs)) {
            return false;
        }
        for (const std::vector<uint8_t>& frame : step.frames) {
            if (frame.size() < 2 || frame[1] != upgrade::frame_type::BlockRequest) {
                m_host.Log(true, m_peer + " -> upgrade frame " + std::to_string(frame[1]) + "  " +
                                     HexBytes(frame));
            }
            if (m_stopping.load()) {
                return false;
            }
            const size_t first = m_upgrade->Faults().splitFrames ? 1 : frame.size();
            if (!writeAll(frame.data(), first) ||
                (first < frame.size() &&
                 !(pause(2) && writeAll(frame.data() + first, frame.size() - first)))) {
                return false;
            }
        }
        open = !step.close;
    }
    m_upgradeIn.erase(m_upgradeIn.begin(), m_upgradeIn.begin() + static_cast<long>(at));
    return open;
}

bool Connection::flood()
{
    const int rate = m_host.CurrentFaults().floodSignalPerSecond;
    if (rate <= 0 || m_stopping.load()) {
        return !m_stopping.load();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - m_floodStart);
    const uint64_t due =
        static_cast<uint64_t>(elapsed.count()) * static_cast<uint64_t>(rate) / 1000000u;
    // A manager that reads slower than the flood is owed no more than a
    // tenth of a second's frames; the rest are never sent.
    const uint64_t backlog = static_cast<uint64_t>(rate) / 10 + 1;
    if (due > m_floodSent + backlog) {
        m_floodSent = due - backlog;
    }
    std::vector<uint8_t> out;
    uint64_t count = 0;
    for (; m_floodSent < due && out.size() < 64 * 1024; ++m_floodSent, ++count) {
        // Locked and playing, with values that move as a live signal does.
        const uint8_t payload[2] = {static_cast<uint8_t>(0x80 | (40 + m_floodSent % 50)),
                                    static_cast<uint8_t>(0x80 | (30 + m_floodSent * 7 % 60))};
        const std::vector<uint8_t> frame = BuildFrame(msg::SignalStatus, payload);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    if (count == 0) {
        return true;
    }
    m_host.Log(true, m_peer + " -> SignalStatus x" + std::to_string(count) + "  [flood]");
    if (!writeAll(out.data(), out.size())) {
        return false;
    }
    for (uint64_t i = 0; i < count; ++i) {
        m_host.FrameSent(ConnectionHost::Outcome::Sent);
    }
    return true;
}

bool Connection::send(const ReplyFrame& reply, const FaultOptions& faults)
{
    if (m_stopping.load()) {
        return false;
    }
    // The same number of draws for every frame, so that a seed gives the same
    // pattern whatever the shares are.
    const bool drop = chance(reply.burst ? faults.burstDropShare : faults.dropShare);
    const bool corrupt = chance(faults.corruptShare);
    const bool garbage = chance(faults.garbageShare);
    const bool cut = chance(faults.cutShare);
    const size_t garbageLength = 1 + m_random() % 16;
    const size_t cutAt = 1 + m_random() % (reply.bytes.size() - 1);

    const std::string name = MessageName(reply.bytes[1], false);
    if (drop) {
        m_host.FrameSent(ConnectionHost::Outcome::Dropped);
        m_host.Log(true, m_peer + " -- " + name + "  " + HexBytes(reply.bytes) + "  [dropped]");
        return true;
    }
    std::vector<uint8_t> out;
    if (garbage) {
        for (size_t i = 0; i < garbageLength; ++i) {
            out.push_back(static_cast<uint8_t>(m_random()));
        }
    }
    const size_t frameStart = out.size();
    out.insert(out.end(), reply.bytes.begin(), reply.bytes.end());
    if (corrupt) {
        out[out.size() - 3] ^= 0xFF; // CRC low byte
    }

    std::string note;
    if (garbage) {
        note += "  [" + std::to_string(garbageLength) + " stray bytes first]";
    }
    if (corrupt) {
        note += "  [bad CRC]";
    }
    if (cut) {
        note += "  [cut after byte " + std::to_string(cutAt) + "]";
    }
    m_host.Log(true, m_peer + " -> " + name + "  " + HexBytes(out) + note);

    bool written;
    if (cut) {
        const size_t first = frameStart + cutAt;
        written = writeAll(out.data(), first) && pause(faults.cutPauseMs) &&
                  writeAll(out.data() + first, out.size() - first);
    } else {
        written = writeAll(out.data(), out.size());
    }
    if (!written) {
        return false;
    }
    m_host.FrameSent(corrupt ? ConnectionHost::Outcome::Corrupted : ConnectionHost::Outcome::Sent);
    if (faults.repeatShare > 0 &&
        static_cast<double>(m_repeatRandom()) / 4294967296.0 < faults.repeatShare) {
        m_host.Log(true, m_peer + " -> " + name + "  " + HexBytes(reply.bytes) + "  [again]");
        if (!writeAll(reply.bytes.data(), reply.bytes.size())) {
            return false;
        }
        m_host.FrameSent(ConnectionHost::Outcome::Sent);
    }
    ++m_sent;
    if (faults.closeAfterFrames > 0 && m_sent >= faults.closeAfterFrames) {
        m_host.Log(false, m_peer + " closing after " + std::to_string(m_sent) + " frames");
        return false;
    }
    return true;
}

bool Connection::writeAll(const uint8_t* data, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::send(m_socket, data, count, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        // The peer does not read: wait until it does, or until the simulator stops.
        pollfd fds[2] = {{m_socket, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
    return true;
}

bool Connection::pause(int milliseconds)
{
    if (milliseconds <= 0) {
        return true;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        pollfd stop = {m_stopFd, POLLIN, 0};
        const int rc = poll(&stop, 1, static_cast<int>(left.count()));
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            return false;
        }
    }
}

bool Connection::chance(double share)
{
    return static_cast<double>(m_random()) / 4294967296.0 < share;
}

} // namespace vireo::sim
