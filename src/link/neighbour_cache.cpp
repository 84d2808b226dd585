#include "link/neighbour_cache.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#elif defined(__linux__)
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vireo::net {

#ifdef _WIN32

void ForgetNeighbour(uint32_t address)
{
    // The system's own tool, started hidden; nobody waits for it.
    char command[40];
    std::snprintf(command, sizeof command, "arp -d %u.%u.%u.%u", (address >> 24) & 0xFFu,
                  (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

#elif defined(__linux__)

void ForgetNeighbour(uint32_t address)
{
    // One RTM_DELNEIGH per interface (the kernel wants the interface), sent
    // without asking for an answer on a non-blocking route socket.
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return;
    }
    struct if_nameindex* interfaces = if_nameindex();
    for (const struct if_nameindex* i = interfaces; i != nullptr && i->if_index != 0; ++i) {
        struct
        {
            nlmsghdr header;
            ndmsg neighbour;
            char attributes[RTA_SPACE(sizeof(uint32_t))];
        } request{};
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg)) + RTA_SPACE(sizeof(uint32_t));
        request.header.nlmsg_type = RTM_DELNEIGH;
        request.header.nlmsg_flags = NLM_F_REQUEST;
        request.neighbour.ndm_family = AF_INET;
        request.neighbour.ndm_ifindex = static_cast<int>(i->if_index);
        auto* destination = reinterpret_cast<rtattr*>(request.attributes);
        destination->rta_type = NDA_DST;
        destination->rta_len = RTA_LENGTH(sizeof(uint32_t));
        const uint32_t network = htonl(address);
        std::memcpy(RTA_DATA(destination), &network, sizeof network);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel);
    }
    if (interfaces != nullptr) {
        if_freenameindex(interfaces);
    }
    ::close(fd);
}

#else

void ForgetNeighbour(uint32_t /*address*/) {}

#endif

} // namespace vireo::net
