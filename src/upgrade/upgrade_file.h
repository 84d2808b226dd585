#pragma once

#include "upgrade/upgrade_frame.h"

#include <optional>
#include <string>
#include <vector>

namespace vireo::upgrade {

// An upgrade file: four version bytes, then the image sent to the device
// unchanged. A usable file holds at least one byte of image.
struct UpgradeImage
{
    VersionId version{};
    std::vector<uint8_t> data; // the image, without the version bytes
};

// The file's version bytes; none when it cannot be read or is shorter than 4.
std::optional<VersionId> ReadFileVersion(const std::string& path);
// The whole file; none when it cannot be read or holds no image data.
std::optional<UpgradeImage> ReadUpgradeImage(const std::string& path);

// True when the file's version is greater than the device's, compared as
// unsigned bytes from the loader major on.
bool IsNewer(const VersionId& file, const VersionId& device);

// "Loader:%d.%d\tSoftware:%d.%d"
std::string FormatVersionId(const VersionId& version);

// ceil(bytes / 1024)
int BlockCount(size_t imageBytes);

} // namespace vireo::upgrade
