#pragma once

// A bare manager for driving the simulator in tests: composes requests with
// the link's ComposeRequest, cuts replies with its FrameSplitter, and decodes
// record payloads by their documented byte offsets (independently of the
// simulator's encoders).

#include "link/frame_splitter.h"
#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/device_database.h"

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <span>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using Frame = std::vector<uint8_t>;
using Frames = std::vector<Frame>;

// Each test listens on an address of its own.
inline std::string TestAddress(int n)
{
    return "127.0.50." + std::to_string(n);
}

inline uint8_t CodeOf(const Frame& f)
{
    return f[1];
}

inline std::span<const uint8_t> PayloadOf(const Frame& f)
{
    return {f.data() + 3, static_cast<size_t>(f[2] - 2)};
}

inline bool IsStatus(const Frame& f, uint8_t echoed, int status = -1)
{
    return CodeOf(f) == vireo::msg::StatusReply && PayloadOf(f)[0] == echoed &&
           (status < 0 || PayloadOf(f)[1] == status);
}

class SimClient
{
public:
    SimClient(const std::string& address, uint16_t port)
        : m_splitter([this](const uint8_t* f, uint8_t length) {
              m_frames.emplace_back(f, f + length + vireo::kFrameOverhead);
          })
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~SimClient() { close(m_fd); }
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool Connected() const { return m_connected; }
    bool PeerClosed() const { return m_peerClosed; }

    bool Send(uint8_t code, int a = 0, int b = 0, std::span<const uint8_t> data = {})
    {
        const auto frame = vireo::ComposeRequest(code, a, b, data);
        return frame && SendRaw(Frame(frame->view().begin(), frame->view().end()));
    }

    bool SendRaw(const Frame& bytes)
    {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // No more requests: the simulator answers what it has and closes.
    void FinishSending() { shutdown(m_fd, SHUT_WR); }

    // Reads until `done` holds for the frames read so far, the peer closes or
    // the time is up; returns (and forgets) the frames read.
    Frames ReadUntil(const std::function<bool(const Frames&)>& done,
                     std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(m_frames) && !m_peerClosed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            uint8_t buffer[1024];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_peerClosed = true;
                break;
            }
            m_rawBytes += static_cast<size_t>(n);
            m_splitter.SplitFrames(buffer, static_cast<size_t>(n));
        }
        return std::exchange(m_frames, {});
    }

    Frames ReadCount(size_t count, std::chrono::milliseconds timeout = 5s)
    {
        return ReadUntil([count](const Frames& f) { return f.size() >= count; }, timeout);
    }

    // Everything up to and including StatusReply echoing `code` (with
    // `status`, when given).
    Frames ReadUntilStatus(uint8_t code, int status = -1, std::chrono::milliseconds timeout = 5s)
    {
        return ReadUntil(
            [code, status](const Frames& f) {
                return !f.empty() && IsStatus(f.back(), code, status);
            },
            timeout);
    }

    Frames ReadToEnd(std::chrono::milliseconds timeout = 5s)
    {
        return ReadUntil([](const Frames&) { return false; }, timeout);
    }

    size_t RawBytes() const { return m_rawBytes; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_peerClosed = false;
    size_t m_rawBytes = 0;
    Frames m_frames;
    vireo::FrameSplitter m_splitter;
};

// Rebuilds a device database from the data frames of an UpdateAll burst the
// way the record layouts define them.
inline vireo::sim::DeviceDatabase DecodeBurst(const Frames& frames)
{
    using namespace vireo;
    sim::DeviceDatabase db;
    auto u16 = [](std::span<const uint8_t> p, size_t at) {
        return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
    };
    auto text = [](std::span<const uint8_t> p, size_t at) {
        std::string s;
        for (size_t i = at; i < p.size() && p[i] != 0; ++i) {
            s += static_cast<char>(p[i]);
        }
        return s;
    };
    for (const Frame& f : frames) {
        const auto p = PayloadOf(f);
        switch (CodeOf(f)) {
        case msg::SystemInfo:
            std::copy(p.begin(), p.begin() + 20, db.system.begin());
            break;
        case msg::VolumeInfo:
            db.volume = {static_cast<uint8_t>(p[0] & 0x0F), (p[0] & 0x80) != 0};
            break;
        case msg::VersionInfo:
            std::copy(p.begin(), p.begin() + 4, db.version.begin());
            break;
        case msg::SatelliteInfo:
            db.satellites.push_back({p[0], p[1], p[2], p[3], u16(p, 4), u16(p, 6), text(p, 8)});
            break;
        case msg::TpInfo:
            db.transponders.push_back(
                {p[0], p[1], p[2], p[3], u16(p, 4), u16(p, 6), p[8], p[9], p[10], p[11]});
            break;
        case msg::ProgramInfo: {
            sim::Program program;
            program.index = p[0];
            program.link = p[1];
            program.next = p[2];
            program.tp = p[3];
            program.pcrPid = u16(p, 4);
            program.videoPid = u16(p, 6) >> 3;
            program.teletextPid = u16(p, 8);
            program.scrambled = p[10];
            program.module = p[11];
            for (size_t i = 0; i < 3; ++i) {
                const uint16_t a = u16(p, 12 + 2 * i);
                program.audio[i] = {static_cast<uint8_t>(a & 7), static_cast<uint16_t>(a >> 3)};
            }
            program.audioChoice = p[18];
            program.name = text(p, 20);
            (u16(p, 6) & 7) == sim::kKindTv ? db.tv.push_back(program)
                                            : db.radio.push_back(program);
            break;
        }
        case msg::PlayingInfo:
            db.playing = {p[0], static_cast<uint8_t>(p.size() >= 20 ? p[6] & 7 : 0)};
            break;
        default:
            break;
        }
    }
    return db;
}

} // namespace simtest
