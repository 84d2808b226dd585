#pragma once

#include <cstdint>

namespace vireo::net {

// Drops this host's cached link-layer address of the IPv4 neighbour
// `address` (host byte order) on every interface, so the next packet to it
// asks the network again: after a device has taken a new address (and maybe
// a new MAC), no stale mapping of it survives. Best effort, and it never
// waits: changing the host's neighbour table takes the right to administer
// its network (CAP_NET_ADMIN on Linux, an administrator on Windows). Without
// it the entry is left to the system, which confirms a neighbour's address
// again once the entry has aged (Linux probes before it uses a stale one).
void ForgetNeighbour(uint32_t address);

} // namespace vireo::net
