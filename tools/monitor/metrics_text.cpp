#include "metrics_text.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace vireo {

namespace {

struct Family
{
    const char* name;
    const char* type;
    const char* help;
};

constexpr Family kUp{"vireo_ird_up", "gauge",
                     "1 when the IRD is connected and its database has been read, else 0."};
constexpr Family kLocked{"vireo_ird_signal_locked", "gauge",
                         "1 when the IRD's last signal report says locked, else 0."};
constexpr Family kIntensity{"vireo_ird_signal_intensity_ratio", "gauge",
                            "Signal intensity of the last report, 0 to 1."};
constexpr Family kQuality{"vireo_ird_signal_quality_ratio", "gauge",
                          "Signal quality of the last report, 0 to 1."};
constexpr Family kAttempts{"vireo_ird_connect_attempts_total", "counter",
                           "Connects to the IRD tried, those that failed too."};
constexpr Family kReconnects{"vireo_ird_reconnects_total", "counter",
                             "Links to the IRD brought back after a loss."};
constexpr Family kRequests{"vireo_ird_requests_total", "counter", "Requests written to the IRD."};
constexpr Family kTimeouts{"vireo_ird_request_timeouts_total", "counter",
                           "Replies of the IRD that did not come in time."};
constexpr Family kLastRefresh{"vireo_ird_last_refresh_timestamp_seconds", "gauge",
                              "When the IRD's whole database was last read (Unix time)."};
constexpr Family kInfo{
    "vireo_ird_info", "gauge",
    "Versions and MAC address the IRD reports, as labels; the value is always 1."};
constexpr Family kAlarm{"vireo_ird_alarm_active", "gauge",
                        "Per alarm rule watching the IRD: 1 while its alarm is active, else 0."};
constexpr Family kSilenced{"vireo_ird_alarm_silenced", "gauge",
                           "Per alarm rule: 1 while its alarm is active but silenced by a "
                           "maintenance window (recorded, not notified)."};
constexpr Family kDevices{"vireo_monitor_devices", "gauge", "IRDs this monitor watches."};

void header(std::string& out, const Family& family)
{
    out += "# HELP ";
    out += family.name;
    out += ' ';
    out += family.help;
    out += "\n# TYPE ";
    out += family.name;
    out += ' ';
    out += family.type;
    out += '\n';
}

void label(std::string& out, const char* name, std::string_view value)
{
    out += name;
    out += "=\"";
    out += EscapeLabelValue(value);
    out += '"';
}

// `address="...",name="..."` and the site and group when set: the labels
// every series of a device starts with, escaped once per page.
std::string deviceLabels(const DeviceSample& device, const std::string& site)
{
    std::string out;
    label(out, "address", device.address);
    out += ',';
    label(out, "name", device.name);
    if (!site.empty()) {
        out += ',';
        label(out, "site", site);
    }
    if (!device.group.empty()) {
        out += ',';
        label(out, "group", device.group);
    }
    return out;
}

// `family{labels` (the brace left open for more labels).
void openSample(std::string& out, const Family& family, const std::string& labels)
{
    out += family.name;
    out += '{';
    out += labels;
}

void closeSample(std::string& out, std::string_view value)
{
    out += "} ";
    out += value;
    out += '\n';
}

// The shortest text that reads back as the same double.
std::string number(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string integer(uint64_t value)
{
    return std::to_string(value);
}

template <typename Value>
void family(std::string& out, const Family& f, const std::vector<DeviceSample>& devices,
            const std::vector<std::string>& labels, Value value)
{
    header(out, f);
    std::string text;
    for (size_t i = 0; i < devices.size(); ++i) {
        if (value(devices[i], text)) {
            openSample(out, f, labels[i]);
            closeSample(out, text);
        }
    }
}

} // namespace

std::string EscapeLabelValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

std::string RenderMetrics(const std::vector<DeviceSample>& devices, const std::string& site)
{
    std::vector<std::string> labels;
    labels.reserve(devices.size());
    for (const DeviceSample& device : devices) {
        labels.push_back(deviceLabels(device, site));
    }
    auto labelsOf = [&](const DeviceSample& device) -> const std::string& {
        return labels[static_cast<size_t>(&device - devices.data())];
    };
    std::string out;
    out.reserve(1024 + devices.size() * 1200);
    family(out, kUp, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = d.up ? "1" : "0";
        return true;
    });
    family(out, kLocked, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = d.locked ? "1" : "0";
        return d.haveSignal;
    });
    family(out, kIntensity, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = number(d.intensity / 100.0);
        return d.haveSignal;
    });
    family(out, kQuality, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = number(d.quality / 100.0);
        return d.haveSignal;
    });
    family(out, kAttempts, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = integer(d.connectAttempts);
        return true;
    });
    family(out, kReconnects, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = integer(d.reconnects);
        return true;
    });
    family(out, kRequests, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = integer(d.requests);
        return true;
    });
    family(out, kTimeouts, devices, labels, [](const DeviceSample& d, std::string& v) {
        v = integer(d.timeouts);
        return true;
    });
    family(out, kLastRefresh, devices, labels, [](const DeviceSample& d, std::string& v) {
        char text[32];
        std::snprintf(text, sizeof text, "%" PRId64 ".%03d", d.lastRefreshMs / 1000,
                      static_cast<int>(d.lastRefreshMs % 1000));
        v = text;
        return d.lastRefreshMs > 0;
    });

    header(out, kInfo);
    for (const DeviceSample& device : devices) {
        if (device.loader.empty() && device.software.empty() && device.mac.empty()) {
            continue;
        }
        openSample(out, kInfo, labelsOf(device));
        out += ',';
        label(out, "loader", device.loader);
        out += ',';
        label(out, "software", device.software);
        if (!device.mac.empty()) {
            out += ',';
            label(out, "mac", device.mac);
        }
        closeSample(out, "1");
    }

    auto contains = [](const std::vector<std::string>& list, const std::string& rule) {
        return std::find(list.begin(), list.end(), rule) != list.end();
    };
    header(out, kAlarm);
    for (const DeviceSample& device : devices) {
        // A silenced alarm is published apart: active here would notify.
        auto active = [&](const std::string& rule) {
            return contains(device.alarms, rule) && !contains(device.silenced, rule);
        };
        auto sample = [&](const std::string& rule, bool on) {
            openSample(out, kAlarm, labelsOf(device));
            out += ',';
            label(out, "rule", rule);
            closeSample(out, on ? "1" : "0");
        };
        for (const std::string& rule : device.alarmRules) {
            sample(rule, active(rule));
        }
        for (const std::string& rule : device.alarms) {
            if (!contains(device.alarmRules, rule)) {
                sample(rule, active(rule)); // raised by a rule no longer watched
            }
        }
    }
    header(out, kSilenced);
    for (const DeviceSample& device : devices) {
        for (const std::string& rule : device.silenced) {
            if (contains(device.alarms, rule)) {
                openSample(out, kSilenced, labelsOf(device));
                out += ',';
                label(out, "rule", rule);
                closeSample(out, "1");
            }
        }
    }

    header(out, kDevices);
    out += kDevices.name;
    if (!site.empty()) {
        out += '{';
        label(out, "site", site);
        out += '}';
    }
    out += ' ';
    out += std::to_string(devices.size());
    out += '\n';
    return out;
}

} // namespace vireo
