#include "link/hd_socket.h"
#include "loopback.h"

#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vireo;
using namespace std::chrono_literals;

namespace {

// One protocol millisecond lasts 10 µs: a "second" of the link is 10 ms.
constexpr LinkTiming kFast{std::chrono::microseconds(10)};

struct SocketFixture
{
    std::recursive_mutex lock;
    HdSocket socket{&lock, kFast};

    int open(const std::string& address, uint16_t port)
    {
        Ipv4Target target{loopbackAddress(address), port};
        return socket.Open(&target, net::kStreamType, 0, true, true);
    }
};

} // namespace

TEST(HdSocket, DelaysDoubleAndHalveWithinTheirBounds)
{
    std::recursive_mutex lock;
    HdSocket s(&lock);
    EXPECT_EQ(s.Delay(), 350);
    const int longer[][2] = {{350, 700}, {700, 1400}, {1400, 1400}, {5000, 1400}, {100, 200}};
    for (const auto& row : longer) {
        s.SetDelay(row[0]);
        s.LongerDelay();
        EXPECT_EQ(s.Delay(), row[1]) << row[0];
    }
    const int shorter[][2] = {{1400, 700}, {701, 350}, {700, 350},
                              {351, 175},  {350, 350}, {10, 350}};
    for (const auto& row : shorter) {
        s.SetDelay(row[0]);
        s.ShorterDelay();
        EXPECT_EQ(s.Delay(), row[1]) << row[0];
    }
}

TEST(HdSocket, OpenWithoutAddressAndStoppedSocket)
{
    SocketFixture f;
    EXPECT_EQ(f.socket.Open(nullptr, net::kStreamType, 0, true, true), connect_result::NoAddress);
    EXPECT_EQ(f.socket.Connect(), connect_result::NotAttempted); // no target stored

    LoopbackListener listener("127.0.60.1", 8888);
    ASSERT_TRUE(listener.ok());
    Ipv4Target target{loopbackAddress("127.0.60.1"), 8888};
    EXPECT_EQ(f.socket.Open(&target, net::kStreamType, 0, false, true),
              connect_result::NotAttempted); // stream not allowed
    EXPECT_EQ(f.socket.Open(&target, net::kStreamType, 0, true, false), connect_result::NoAddress);

    f.socket.Stop();
    EXPECT_EQ(f.socket.Connect(), connect_result::NotAttempted);
    const uint8_t byte = 0;
    EXPECT_EQ(f.socket.Send(&byte, 1), io_result::Stopped);
    uint8_t buffer[16];
    int limit = 1;
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), io_result::Stopped);
    EXPECT_FALSE(f.socket.IsConnected());
    EXPECT_EQ(f.socket.CheckAlive(), connect_result::NotASocket); // no socket left open
}

TEST(HdSocket, RefusedConnectionEndsTheAttemptsAtOnce)
{
    SocketFixture f;
    const int delayBefore = f.socket.Delay();
    EXPECT_EQ(f.open("127.0.60.2", 8888), connect_result::Unreachable);
    EXPECT_FALSE(f.socket.IsConnected());
    // One attempt: the delay was doubled once, then halved again.
    EXPECT_EQ(f.socket.Delay(), delayBefore);
}

TEST(HdSocket, SilentHostGivesOtherErrorAfterThreeAttempts)
{
    // A listener whose backlog is full drops further connection requests, so
    // the connect never completes.
    LoopbackListener listener("127.0.60.3", 8888, 0);
    ASSERT_TRUE(listener.ok());
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        std::thread([&] {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(8888);
            a.sin_addr.s_addr = htonl(loopbackAddress("127.0.60.3"));
            connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers.push_back(fd);
        }).join();
    }
    std::this_thread::sleep_for(20ms); // let the handshakes of the fillers settle
    SocketFixture f;
    EXPECT_EQ(f.open("127.0.60.3", 8888), connect_result::OtherError);
    EXPECT_FALSE(f.socket.IsConnected());
    EXPECT_EQ(f.socket.Delay(), 700); // 350 -> 700 -> 1400 -> 1400, halved once
    for (int fd : fillers) {
        close(fd);
    }
}

TEST(HdSocket, SendReceiveAbortAndPeerClose)
{
    LoopbackListener listener("127.0.60.4", 8888);
    ASSERT_TRUE(listener.ok());
    SocketFixture f;
    ASSERT_EQ(f.open("127.0.60.4", 8888), connect_result::Connected);
    EXPECT_TRUE(f.socket.IsConnected());
    EXPECT_EQ(f.socket.CheckAlive(), 0);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);

    const uint8_t request[] = {0x88, 0x61, 0x02, 0x59, 0x18, 0x99};
    EXPECT_EQ(f.socket.Send(request, sizeof request), 6);
    uint8_t got[16];
    ASSERT_EQ(recv(peer, got, sizeof got, 0), 6);

    ASSERT_EQ(send(peer, "abc", 3, 0), 3);
    uint8_t buffer[1024];
    int limit = 2;
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), 3);
    EXPECT_EQ(limit, 0);

    // An abort makes the next Receive return 0 at once and is used up by it.
    f.socket.AbortReceive(true);
    limit = 100;
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), 0);
    EXPECT_FALSE(f.socket.PeerClosed());
    limit = 0;
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), io_result::TimedOut);

    close(peer);
    limit = 5;
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), 0);
    EXPECT_TRUE(f.socket.PeerClosed());
}

TEST(HdSocket, TimeLimitCountsWholeSeconds)
{
    LoopbackListener listener("127.0.60.5", 8888);
    ASSERT_TRUE(listener.ok());
    SocketFixture f;
    ASSERT_EQ(f.open("127.0.60.5", 8888), connect_result::Connected);
    uint8_t buffer[64];
    int limit = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(f.socket.Receive(buffer, sizeof buffer, limit), io_result::TimedOut);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A "second" is 10 ms here: more than two and at most three of them.
    EXPECT_GT(elapsed, 20ms);
    EXPECT_LT(elapsed, 200ms);
}

TEST(HdSocket, StopAndCloseWakeAWaitingReceive)
{
    LoopbackListener listener("127.0.60.6", 8888);
    ASSERT_TRUE(listener.ok());
    std::recursive_mutex lock;
    HdSocket socket(&lock); // real time: a wait would last 100 s
    Ipv4Target target{loopbackAddress("127.0.60.6"), 8888};
    ASSERT_EQ(socket.Open(&target, net::kStreamType, 0, true, true), connect_result::Connected);

    int result = 1;
    std::thread waiter([&] {
        uint8_t buffer[64];
        int limit = 100;
        result = socket.Receive(buffer, sizeof buffer, limit);
    });
    std::this_thread::sleep_for(20ms);
    socket.Stop();
    waiter.join();
    EXPECT_EQ(result, io_result::Stopped);
    EXPECT_FALSE(socket.IsConnected());

    // A close from another thread ends the wait too, without closing the
    // handle under the waiter.
    HdSocket second(&lock);
    ASSERT_EQ(second.Open(&target, net::kStreamType, 0, true, true), connect_result::Connected);
    std::thread waiter2([&] {
        uint8_t buffer[64];
        int limit = 100;
        result = second.Receive(buffer, sizeof buffer, limit);
    });
    std::this_thread::sleep_for(20ms);
    second.Close();
    waiter2.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(second.IsConnected());
}
