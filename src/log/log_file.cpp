#include "log/log_file.h"

#include <cstdio>
#include <ctime>

namespace vireo {

namespace {

// The log file stores text the way a text-mode stream on the IRD operators'
// platform does: every LF becomes CR LF.
std::string toTextMode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 4);
    for (char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

// An address names a file inside the logs folder and nothing else.
bool isSafeFileStem(std::string_view address)
{
    if (address.empty() || address == "." || address == "..") {
        return false;
    }
    for (char c : address) {
        if (c == '/' || c == '\\' || c == '\0') {
            return false;
        }
    }
    return true;
}

} // namespace

std::string FormatLogPrefix(std::string_view tag, std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d-%d-%d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string prefix;
    prefix.reserve(tag.size() + 32);
    prefix += '(';
    prefix += tag;
    prefix += ") (";
    prefix += stamp;
    prefix += "): ";
    return prefix;
}

std::string FormatLogPrefix(std::string_view tag)
{
    return FormatLogPrefix(tag, std::chrono::system_clock::now());
}

std::string CaptionAddress(std::string_view caption)
{
    return std::string(caption.substr(0, caption.find(':')));
}

std::string RotatedLogName(std::string_view address)
{
    return std::string(address) + ".old.txt";
}

AppendLogResult AppendLogFile(std::string_view text, std::string_view address, bool closing,
                              const std::filesystem::path& logsFolder, std::uintmax_t rotateBytes)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(logsFolder, ec)) {
        return AppendLogResult::NoLogsFolder;
    }
    if (!isSafeFileStem(address)) {
        return AppendLogResult::CannotOpen;
    }
    const std::filesystem::path path = logsFolder / (std::string(address) + ".txt");
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size >= rotateBytes) {
        // Should the rename fail, the batch still goes to the full file.
        std::filesystem::rename(path, logsFolder / RotatedLogName(address), ec);
    }
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return AppendLogResult::CannotOpen;
    }
    std::string bytes = toTextMode(text);
    if (closing) {
        bytes += toTextMode(std::string(kClosingBanner) + "\n\n");
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return AppendLogResult::Written;
}

} // namespace vireo
