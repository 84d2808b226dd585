#include "upgrade/upgrade_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad() || bytes.size() <= 4 || bytes.size() - 4 > UINT32_MAX) {
        return std::nullopt;
    }
    UpgradeImage image;
    std::copy_n(bytes.begin(), 4, image.version.begin());
    bytes.erase(bytes.begin(), bytes.begin() + 4);
    image.data = std::move(bytes);
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
