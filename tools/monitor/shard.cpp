#include "shard.h"

namespace vireo {

namespace {

bool number(const std::string& text, unsigned& value)
{
    if (text.empty() || text.size() > 4) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// The address's four bytes; the settings file may write leading zeros
// ("127.000.0.1"), which inet_pton refuses, so the parts are read here.
bool addressBytes(const std::string& address, uint8_t bytes[4])
{
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? address.find('.', start) : address.size();
        unsigned part = 0;
        if (end == std::string::npos || !number(address.substr(start, end - start), part) ||
            part > 255) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(part);
        start = end + 1;
    }
    return true;
}

} // namespace

uint64_t ShardHash(const std::string& address)
{
    uint8_t bytes[4];
    if (!addressBytes(address, bytes)) {
        return 0;
    }
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    // FNV's low bits follow its last bytes closely (addresses that differ in
    // the third byte only fall in few shards): mix every bit into every other.
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ull;
    hash ^= hash >> 33;
    return hash;
}

bool Shard::Owns(const std::string& address) const
{
    return count <= 1 || ShardHash(address) % count == index;
}

bool ParseShard(const std::string& text, Shard& shard)
{
    const size_t slash = text.find('/');
    unsigned k = 0, n = 0;
    if (slash == std::string::npos || !number(text.substr(0, slash), k) ||
        !number(text.substr(slash + 1), n) || n == 0 || n > 1000 || k >= n) {
        return false;
    }
    shard = {k, n};
    return true;
}

} // namespace vireo
