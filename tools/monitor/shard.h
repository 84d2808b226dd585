#pragma once

#include <cstdint>
#include <string>

namespace vireo {

// A share of a fleet split among N monitors: this one watches the machines
// whose address hashes to K of N. The hash is FNV-1a (64 bits) of the four
// bytes of the IPv4 address, most significant first, then MurmurHash3's
// 64-bit finalizer (fmix64), taken modulo N: it
// depends on the address alone (not on its spelling, the host or the run),
// so N monitors reading one settings file cover every machine exactly once.
struct Shard
{
    unsigned index = 0; // K, 0-based
    unsigned count = 1; // N

    bool Owns(const std::string& address) const;
};

// The hash of an IPv4 address as Shard uses it; 0 for text that is no address.
uint64_t ShardHash(const std::string& address);

// "K/N" with 0 <= K < N <= 1000; false when it is not one.
bool ParseShard(const std::string& text, Shard& shard);

} // namespace vireo
