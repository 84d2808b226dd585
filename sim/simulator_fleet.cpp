#include "sim/simulator_fleet.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vireo::sim {

namespace {

std::string addressText(uint32_t number)
{
    in_addr a{};
    a.s_addr = htonl(number);
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool served(uint32_t number)
{
    const uint32_t last = number & 0xFF;
    return last != 0 && last != 255;
}

// The fault seed of one device: the fleet's seed mixed with its address.
uint32_t deviceSeed(uint32_t seed, uint32_t address)
{
    std::seed_seq sequence{seed, address};
    uint32_t value = 0;
    sequence.generate(&value, &value + 1);
    return value;
}

} // namespace

uint32_t AddressNumber(const std::string& address)
{
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) {
        return 0;
    }
    return ntohl(a.s_addr);
}

std::vector<std::string> AddressRange::Addresses() const
{
    std::vector<std::string> addresses;
    for (uint64_t n = first; n <= last; ++n) {
        if (served(static_cast<uint32_t>(n))) {
            addresses.push_back(addressText(static_cast<uint32_t>(n)));
        }
    }
    return addresses;
}

std::optional<AddressRange> ParseAddressRange(const std::string& text, std::string* error)
{
    auto fail = [&](const std::string& why) -> std::optional<AddressRange> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return fail("expected FIRST-LAST, e.g. 127.0.1.1-127.0.1.200, got \"" + text + "\"");
    }
    const AddressRange range{AddressNumber(text.substr(0, dash)),
                             AddressNumber(text.substr(dash + 1))};
    if ((range.first >> 24) != 127 || (range.last >> 24) != 127) {
        return fail("only loopback addresses (127.x.y.z) are served: \"" + text + "\"");
    }
    if (range.first > range.last) {
        return fail("the first address is above the last: \"" + text + "\"");
    }
    size_t count = 0;
    for (uint64_t n = range.first; n <= range.last && count <= kMaxFleetAddresses; ++n) {
        count += served(static_cast<uint32_t>(n)) ? 1 : 0;
    }
    if (count == 0 || count > kMaxFleetAddresses) {
        return fail("expected 1 to " + std::to_string(kMaxFleetAddresses) +
                    " addresses (x.y.z.0 and x.y.z.255 left out): \"" + text + "\"");
    }
    return range;
}

SimulatorFleet::SimulatorFleet(SimulatorOptions options) : m_options(std::move(options)) {}

SimulatorFleet::~SimulatorFleet()
{
    Stop();
}

bool SimulatorFleet::Start(const AddressRange& range, uint16_t port, const DatabaseFor& databaseFor,
                           std::string* error)
{
    if (m_running) {
        if (error != nullptr) {
            *error = "already running";
        }
        return false;
    }
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_reapFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0 || m_reapFd < 0) {
        if (error != nullptr) {
            *error = std::string("eventfd: ") + std::strerror(errno);
        }
        closeDescriptors();
        return false;
    }
    // One device logs at a time, its address first.
    auto logMutex = std::make_shared<std::mutex>();
    for (const std::string& address : range.Addresses()) {
        const uint32_t number = AddressNumber(address);
        SimulatorOptions options = m_options;
        options.seed = deviceSeed(m_options.seed, number);
        options.log = [logMutex, address, base = m_options.log](const std::string& line) {
            std::lock_guard lock(*logMutex);
            if (base) {
                base(address + ": " + line);
            } else {
                std::fprintf(stderr, "vireo-ird-sim: %s: %s\n", address.c_str(), line.c_str());
            }
        };
        auto device = std::make_unique<Simulator>(databaseFor(address, number), options);
        std::lock_guard lifecycle(device->m_lifecycleMutex);
        if (!device->bind(address, port, m_stopFd, m_reapFd, error)) {
            m_devices.clear();
            m_addresses.clear();
            closeDescriptors();
            return false;
        }
        m_devices.push_back(std::move(device));
        m_addresses.push_back(address);
    }
    m_running = true;
    m_server = std::thread([this] { serve(); });
    return true;
}

void SimulatorFleet::Stop()
{
    if (!m_running) {
        return;
    }
    const uint64_t one = 1;
    if (write(m_stopFd, &one, sizeof one) < 0) {
        std::fprintf(stderr, "vireo-ird-sim: cannot wake the server thread: %s\n",
                     std::strerror(errno));
    }
    m_server.join();
    for (auto& device : m_devices) {
        device->Stop(); // joins its connections, all woken by the shared descriptor
    }
    m_devices.clear();
    m_addresses.clear();
    closeDescriptors();
    m_running = false;
}

void SimulatorFleet::closeDescriptors()
{
    for (int* fd : {&m_stopFd, &m_reapFd}) {
        if (*fd >= 0) {
            close(*fd);
        }
        *fd = -1;
    }
}

void SimulatorFleet::serve()
{
    std::vector<pollfd> fds;
    fds.push_back({m_stopFd, POLLIN, 0});
    fds.push_back({m_reapFd, POLLIN, 0});
    for (const auto& device : m_devices) {
        fds.push_back({device->m_listenFd, POLLIN, 0});
    }
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "vireo-ird-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents != 0) {
            uint64_t count = 0;
            if (read(m_reapFd, &count, sizeof count) < 0 && errno != EAGAIN) {
                std::fprintf(stderr, "vireo-ird-sim: reap: %s\n", std::strerror(errno));
            }
            // Rare (a client went away): looking at every device is cheap.
            for (auto& device : m_devices) {
                device->m_connections.remove_if(
                    [](const std::unique_ptr<Connection>& c) { return c->Finished(); });
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                m_devices[i - 2]->acceptClient();
            }
        }
    }
}

SimulatorStats SimulatorFleet::Stats() const
{
    SimulatorStats sum;
    for (const auto& device : m_devices) {
        const SimulatorStats s = device->Stats();
        sum.connections += s.connections;
        sum.received += s.received;
        sum.sent += s.sent;
        sum.dropped += s.dropped;
        sum.corrupted += s.corrupted;
        sum.malformed += s.malformed;
    }
    return sum;
}

void SimulatorFleet::SetFaults(const FaultOptions& faults)
{
    for (auto& device : m_devices) {
        device->SetFaults(faults);
    }
}

} // namespace vireo::sim
