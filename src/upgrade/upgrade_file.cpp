#include "upgrade/upgrade_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace vireo::upgrade {

std::optional<VersionId> ReadFileVersion(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    VersionId version{};
    if (!in.read(reinterpret_cast<char*>(version.data()), version.size())) {
        return std::nullopt;
    }
    return version;
}

std::optional<UpgradeImage> ReadUpgradeImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    if (size <= 4 || static_cast<uint64_t>(size) - 4 > UINT32_MAX) {
        return std::nullopt;
    }
    in.seekg(0);
    UpgradeImage image;
    image.data.resize(static_cast<size_t>(size) - 4);
    in.read(reinterpret_cast<char*>(image.version.data()), 4);
    in.read(reinterpret_cast<char*>(image.data.data()), static_cast<std::streamsize>(size - 4));
    // A file cut short meanwhile gives what it still holds.
    const size_t got = in.gcount() > 0 ? static_cast<size_t>(in.gcount()) : 0;
    if (in.bad() || got == 0) {
        return std::nullopt;
    }
    image.data.resize(got);
    return image;
}

bool IsNewer(const VersionId& file, const VersionId& device)
{
    return std::lexicographical_compare(device.begin(), device.end(), file.begin(), file.end());
}

std::string FormatVersionId(const VersionId& version)
{
    char text[64];
    std::snprintf(text, sizeof text, "Loader:%d.%d\tSoftware:%d.%d", version[0], version[1],
                  version[2], version[3]);
    return text;
}

int BlockCount(size_t imageBytes)
{
    return static_cast<int>((imageBytes + kBlockSize - 1) / kBlockSize);
}

} // namespace vireo::upgrade
