#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vireo {

// Folder of the per-IRD log files, relative to the working directory.
inline constexpr const char* kLogsFolder = "Logs";

// The 54 characters that close one window's batches in a shared log file.
inline constexpr std::string_view kClosingBanner =
    "**********Closing Here**********Closing Here**********";

// "(tag) (date hh:mm:ss): " for the given moment in local time; the date is
// year-month-day without leading zeros, e.g. "(10.0.0.1:A) (2008-5-12 09:03:07): ".
std::string FormatLogPrefix(std::string_view tag, std::chrono::system_clock::time_point when);
std::string FormatLogPrefix(std::string_view tag);

// The characters of a window caption before its first ':' (the whole caption
// when it has none): the IRD's address, which names its log file.
std::string CaptionAddress(std::string_view caption);

// A log file that has reached this size is rotated before the next batch:
// it becomes <address>.old.txt (replacing an earlier one) and a new file
// begins, so a device that logs without end fills at most twice this.
inline constexpr std::uintmax_t kLogRotateBytes = 10 * 1024 * 1024;

// The name an IRD's rotated log file takes beside the current one.
std::string RotatedLogName(std::string_view address);

enum class AppendLogResult {
    Written = 0,
    NoLogsFolder = 1, // nothing written, the folder is not created
    CannotOpen = 2,   // nothing written
};

// Appends `text` to <logsFolder>/<address>.txt, each LF stored as CR LF, and
// when `closing` is set the closing banner followed by two line ends. The file
// is opened for each call and closed again; one that has reached
// `rotateBytes` is rotated first (a batch is never split between files).
AppendLogResult AppendLogFile(std::string_view text, std::string_view address, bool closing,
                              const std::filesystem::path& logsFolder = kLogsFolder,
                              std::uintmax_t rotateBytes = kLogRotateBytes);

} // namespace vireo
