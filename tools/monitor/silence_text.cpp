#include "silence_text.h"

#include "log/address_text.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

namespace vireo {

namespace {

constexpr size_t kMaxText = 200;

// Checks the fields every silence needs, whatever it came from.
bool complete(Silence& s, const std::string& device, const std::string& group,
              const std::string& until, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (device.empty() == group.empty()) {
        return fail("give either device (an address) or group");
    }
    if (!device.empty() && !IsValidIPv4Text(device)) {
        return fail("device '" + device + "' is no IPv4 address");
    }
    if (group.size() > kMaxText || s.reason.size() > kMaxText) {
        return fail("group and reason are at most 200 bytes");
    }
    if (s.reason.empty()) {
        return fail("a reason is required");
    }
    // They go into log lines and the desktop's list: one line each.
    for (const std::string* text : {&group, static_cast<const std::string*>(&s.reason)}) {
        for (char c : *text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                return fail("group and reason are one line of text");
            }
        }
    }
    const std::optional<int64_t> untilMs = ParseTimeMs(until);
    if (!untilMs) {
        return fail("until wants Unix seconds or YYYY-MM-DDTHH:MM:SSZ, not '" + until + "'");
    }
    s.kind = device.empty() ? Silence::Target::Group : Silence::Target::Device;
    s.target = device.empty() ? group : device;
    s.untilMs = *untilMs;
    return true;
}

} // namespace

std::optional<int64_t> ParseTimeMs(const std::string& text)
{
    if (!text.empty() && text.size() <= 12 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
        return std::stoll(text) * 1000;
    }
    std::tm tm{};
    char zone = 0;
    int consumed = 0;
    if (text.size() != 20 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &zone, &consumed) != 7 ||
        consumed != 20 || zone != 'Z' || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 ||
        tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60) {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&tm)) * 1000;
}

std::optional<Silence> SilenceFromJson(const std::string& body, std::string* error)
{
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_object()) {
        if (error != nullptr) {
            *error = "the body is no JSON object";
        }
        return std::nullopt;
    }
    auto text = [&](const char* key) {
        const auto it = json.find(key);
        if (it == json.end()) {
            return std::string();
        }
        return it->is_string()           ? it->get<std::string>()
               : it->is_number_integer() ? std::to_string(it->get<int64_t>())
                                         : std::string("?");
    };
    Silence s;
    s.reason = text("reason");
    if (!complete(s, text("device"), text("group"), text("until"), error)) {
        return std::nullopt;
    }
    return s;
}

std::string SilencesJson(const std::vector<Silence>& silences)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Silence& s : silences) {
        list.push_back({{"id", s.id},
                        {s.kind == Silence::Target::Group ? "group" : "device", s.target},
                        {"until", s.untilMs / 1000},
                        {"reason", s.reason},
                        {"by", s.by},
                        {"created", s.createdMs / 1000}});
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<std::vector<Silence>> LoadSilencesFile(const std::filesystem::path& file,
                                                     std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "silences file " + file.string() + ": " + why;
        }
        return std::nullopt;
    };
    YAML::Node root;
    try {
        root = YAML::LoadFile(file.string());
    } catch (const YAML::BadFile&) {
        return fail("cannot be read");
    } catch (const YAML::Exception& e) {
        return fail("is not YAML: " + e.msg);
    }
    std::vector<Silence> list;
    if (root.IsNull()) {
        return list;
    }
    if (!root.IsSequence()) {
        return fail("is not a list of silences");
    }
    try {
        int n = 0;
        for (const YAML::Node& entry : root) {
            ++n;
            if (!entry.IsMap()) {
                return fail("entry " + std::to_string(n) + " is not a map");
            }
            auto text = [&](const char* key) {
                return entry[key] ? entry[key].as<std::string>() : std::string();
            };
            Silence s;
            s.reason = text("reason");
            s.by = "file";
            std::string why;
            if (!complete(s, text("device"), text("group"), text("until"), &why)) {
                return fail("entry " + std::to_string(n) + ": " + why);
            }
            list.push_back(std::move(s));
        }
    } catch (const YAML::Exception& e) {
        return fail(e.msg);
    }
    return list;
}

} // namespace vireo
