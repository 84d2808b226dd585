#include "monitor_settings.h"

#include "lang/gbk_text.h"
#include "log/address_text.h"

#include <fstream>
#include <set>
#include <sstream>

namespace vireo {

namespace {

constexpr std::string_view kHeader = "[Monitor]";

std::string_view trimLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

MonitorSettings ParseMonitorSection(std::string_view data)
{
    MonitorSettings settings;
    bool inSection = false;
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t end = std::min(data.find('\n', pos), data.size());
        const std::string_view line = trimLineEnd(data.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.front() == '[') {
            inSection = line == kHeader;
            continue;
        }
        if (!inSection || line.empty()) {
            continue;
        }
        const size_t equals = line.find('=');
        const std::string_view key = line.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : line.substr(equals + 1);
        auto skip = [&](const std::string& why) {
            settings.warnings.push_back("[Monitor] line '" + GbkToUtf8(std::string(line)) +
                                        "' skipped: " + why);
        };
        if (equals == std::string_view::npos || (key != "site" && key != "group")) {
            skip("not site= or group=");
            continue;
        }
        if (value.find('[') != std::string_view::npos) {
            skip("'[' is not allowed");
            continue;
        }
        if (key == "site") {
            if (value.size() > kMaxMonitorValueLength) {
                skip("longer than 64 bytes");
                continue;
            }
            settings.site = GbkToUtf8(std::string(value));
            continue;
        }
        const size_t colon = value.find(':');
        const std::string address(value.substr(0, colon));
        const std::string_view group =
            colon == std::string_view::npos ? std::string_view{} : value.substr(colon + 1);
        if (colon == std::string_view::npos || !IsValidIPv4Text(address) || group.empty() ||
            group.size() > kMaxMonitorValueLength) {
            skip("wants group=ADDRESS:NAME, the name 1 to 64 bytes");
            continue;
        }
        settings.groups[address] = GbkToUtf8(std::string(group));
    }
    return settings;
}

std::optional<MonitorSettings> ReadMonitorSettings(const std::filesystem::path& file,
                                                   std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "cannot read settings file " + file.string() + ": " + why;
        }
        return std::nullopt;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return fail("no such file");
    }
    const SettingsReadResult read = ReadSettingsFile(file);
    if (!read.checkboxes) {
        return fail(read.items.empty() ? "unreadable" : read.items[0].caption);
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return fail("unreadable");
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    MonitorSettings settings = ParseMonitorSection(bytes.str());
    std::set<std::string> seen;
    for (const ChosenMachine& machine : read.machines) {
        if (!machine.autoConnect) {
            continue;
        }
        if (!seen.insert(machine.address).second) {
            settings.warnings.push_back(machine.address + " listed twice, watched once");
            continue;
        }
        settings.machines.push_back(machine);
    }
    return settings;
}

} // namespace vireo
