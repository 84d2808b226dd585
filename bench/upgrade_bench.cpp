// Firmware upgrade of an 8 MiB image to the simulated IRD on loopback:
//   upgrade_8mib         the device window's upgrade, StartUpgrade to the
//                        device's final status (s, median of 9)
//   stop_and_wait_8mib   a bare blocking socket doing the same exchange with
//                        the same simulated device: handshake, announcement,
//                        1024-byte blocks one at a time, writing reports (s)
//   upgrade_8mib_ratio   the two, divided, median of the rounds' ratios
//                        (each round runs both, one after the other)
#include "device/device_core.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "upgrade/upgrade_frame.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace vireo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kImageBytes = 8u << 20;
constexpr upgrade::VersionId kDeviceVersion{1, 0, 1, 0};
constexpr upgrade::VersionId kFileVersion{1, 0, 2, 0};
const char* const kAddress = "127.0.74.1";

// Waits for one log line.
class LineWaiter : public LogPaneObserver
{
public:
    explicit LineWaiter(std::string wanted) : m_wanted(std::move(wanted)) {}
    void OnLogLineAdded(const std::string& line) override
    {
        if (line.size() >= m_wanted.size() &&
            line.compare(line.size() - m_wanted.size(), m_wanted.size(), m_wanted) == 0) {
            std::lock_guard lock(m_mutex);
            ++m_seen;
            m_changed.notify_all();
        }
    }
    void OnLogCleared() override {}
    void WaitFor(int count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_seen >= count; });
    }

private:
    std::string m_wanted;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_seen = 0;
};

sim::DeviceDatabase database()
{
    sim::DeviceDatabase db = sim::GenerateDatabase({1, 1, 1, 0}, nullptr).value();
    db.version = kDeviceVersion;
    return db;
}

std::string writeImage()
{
    const auto path = std::filesystem::temp_directory_path() / "vireo-upgrade-bench.bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(kFileVersion.data()), 4);
    std::vector<char> image(kImageBytes);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 13);
    }
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    return path.string();
}

double managerUpgrade(sim::Simulator& irb, const std::string& path)
{
    irb.SetDatabase(database());
    SessionContext context;
    NullDeviceView view;
    DeviceCore core(context, view, std::string(kAddress) + ":Bench", {}, "no-logs");
    LineWaiter done(GetLangText(165));
    core.LogPane().SetObserver(&done);
    core.Session().ConnectIrd();
    core.Session().StartSession();
    core.Upgrade().SetJob(upgrade::upgrade_type::Main, path);
    const auto start = Clock::now();
    core.Session().SendRequest(msg::StartUpgrade);
    done.WaitFor(1);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    core.Teardown();
    core.LogPane().SetObserver(nullptr);
    return seconds;
}

bool readExactly(int fd, uint8_t* into, size_t count)
{
    size_t got = 0;
    while (got < count) {
        const ssize_t n = recv(fd, into + got, count - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool sendFrame(int fd, std::vector<uint8_t>& buffer, uint16_t type, const uint8_t* data,
               size_t size)
{
    upgrade::EncodeFrameInto(buffer, type, std::span(data, size));
    return send(fd, buffer.data(), buffer.size(), MSG_NOSIGNAL) == ssize_t(buffer.size());
}

double bareUpgrade(const std::vector<uint8_t>& image)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(8888);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    const auto start = Clock::now();
    std::vector<uint8_t> out;
    std::vector<uint8_t> in(upgrade::kHeaderSize + upgrade::kMaxPayload);
    const auto announcement = upgrade::AnnouncePayload(upgrade::upgrade_type::Main, kFileVersion,
                                                       static_cast<uint32_t>(image.size()));
    sendFrame(fd, out, upgrade::frame_type::Hello, nullptr, 0);
    readExactly(fd, in.data(), 8); // the device id
    sendFrame(fd, out, upgrade::frame_type::Ready, nullptr, 0);
    sendFrame(fd, out, upgrade::upgrade_type::Main, announcement.data(), announcement.size());
    size_t position = 0;
    bool writing = false;
    for (;;) {
        if (!readExactly(fd, in.data(), upgrade::kHeaderSize)) {
            break;
        }
        const upgrade::FrameHeader header = upgrade::ParseHeader(in.data());
        if (!readExactly(fd, in.data(), header.PayloadSize())) {
            break;
        }
        if (header.type == upgrade::frame_type::BlockRequest) {
            const size_t n = std::min(upgrade::kBlockSize, image.size() - position);
            sendFrame(fd, out, upgrade::frame_type::Block, image.data() + position, n);
            position += n;
        } else if (header.type == upgrade::frame_type::Status) {
            if (writing || header.length != 0) {
                break; // the final status
            }
            writing = true;
            sendFrame(fd, out, upgrade::frame_type::Progress, nullptr, 0);
        } else {
            sendFrame(fd, out, upgrade::frame_type::Progress, nullptr, 0);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return seconds;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    const std::string path = writeImage();
    std::vector<uint8_t> image(kImageBytes);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 13);
    }

    sim::Simulator irb(database(), sim::QuietOptions());
    if (!irb.Start(kAddress, 8888)) {
        std::fprintf(stderr, "cannot start the simulated IRD on %s\n", kAddress);
        return 1;
    }
    std::vector<double> manager;
    std::vector<double> bare;
    std::vector<double> ratios;
    for (int round = 0; round < 9; ++round) {
        manager.push_back(managerUpgrade(irb, path));
        bare.push_back(bareUpgrade(image));
        ratios.push_back(manager.back() / bare.back());
    }
    std::filesystem::remove(path);
    const double m = median(manager);
    const double b = median(bare);
    std::printf("upgrade_8mib %.3f s\n", m);
    std::printf("stop_and_wait_8mib %.3f s\n", b);
    std::printf("upgrade_8mib_ratio %.2f x\n", median(ratios));
    return 0;
}
