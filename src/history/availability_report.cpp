#include "history/availability_report.h"

#include "history/alarm_rules.h"
#include "lang/gbk_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

namespace vireo {

namespace {

std::string isoTime(int64_t ms)
{
    if (ms == 0) {
        return {};
    }
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Seconds with the milliseconds kept, as short as they can be written.
std::string seconds(int64_t ms)
{
    char text[32];
    if (ms % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(ms / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    }
    return text;
}

std::string percent(double share)
{
    if (share < 0) {
        return {};
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", share * 100.0);
    return text;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string htmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The columns of both tables, as text (UTF-8), header first.
std::vector<std::vector<std::string>> deviceTable(const AvailabilityReport& report)
{
    std::vector<std::vector<std::string>> rows{
        {"address", "name", "availability %", "watched s", "outages", "outage s",
         "longest outage s", "lowest quality %", "alarms raised", "alarms acknowledged"}};
    for (const AvailabilityRow& d : report.devices) {
        rows.push_back({d.address, GbkToUtf8(d.name), percent(d.availability), seconds(d.watchedMs),
                        std::to_string(d.outages), seconds(d.outageMs), seconds(d.longestOutageMs),
                        d.lowestQuality ? std::to_string(*d.lowestQuality) : std::string(),
                        std::to_string(d.alarmsRaised), std::to_string(d.alarmsAcknowledged)});
    }
    return rows;
}

std::vector<std::vector<std::string>> alarmTable(const AvailabilityReport& report)
{
    std::vector<std::vector<std::string>> rows{{"address", "name", "alarm", "raised", "cleared",
                                                "acknowledged", "acknowledged by",
                                                "acknowledged after s"}};
    for (const ReportAlarm& a : report.alarms) {
        rows.push_back({a.address, GbkToUtf8(a.name), AlarmRuleName(a.rule), isoTime(a.raisedMs),
                        isoTime(a.clearedMs), isoTime(a.acknowledgedMs),
                        GbkToUtf8(a.acknowledgedBy),
                        a.acknowledgedMs != 0 ? seconds(a.AcknowledgedAfterMs()) : std::string()});
    }
    return rows;
}

std::string renderCsv(const AvailabilityReport& report)
{
    std::string out;
    const auto table = [&out](const std::vector<std::vector<std::string>>& rows) {
        for (const auto& row : rows) {
            for (size_t i = 0; i < row.size(); ++i) {
                out += (i == 0 ? "" : ",") + csvField(row[i]);
            }
            out += "\r\n";
        }
    };
    table(deviceTable(report));
    out += "\r\n";
    table(alarmTable(report));
    return out;
}

std::string renderHtml(const AvailabilityReport& report)
{
    const std::string title =
        "Availability " + isoTime(report.range.beginMs) + " - " + isoTime(report.range.endMs);
    std::string out = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                      htmlText(title) +
                      "</title>\n<style>table{border-collapse:collapse}td,th{border:1px solid "
                      "#999;padding:2px 6px}td{text-align:right}td:nth-child(2){text-align:left}"
                      "</style></head><body>\n<h1>" +
                      htmlText(title) + "</h1>\n";
    const auto table = [&out](const char* heading,
                              const std::vector<std::vector<std::string>>& rows) {
        out += std::string("<h2>") + heading + "</h2>\n<table>\n";
        for (size_t r = 0; r < rows.size(); ++r) {
            out += "<tr>";
            for (const std::string& cell : rows[r]) {
                out += (r == 0 ? "<th>" : "<td>") + htmlText(cell) + (r == 0 ? "</th>" : "</td>");
            }
            out += "</tr>\n";
        }
        out += "</table>\n";
    };
    table("Devices", deviceTable(report));
    table("Alarms", alarmTable(report));
    out += "</body></html>\n";
    return out;
}

// A time or a share, or null when there is none.
nlohmann::ordered_json orNull(bool present, nlohmann::ordered_json value)
{
    return present ? std::move(value) : nlohmann::ordered_json();
}

std::string renderJson(const AvailabilityReport& report)
{
    nlohmann::ordered_json doc;
    doc["from"] = isoTime(report.range.beginMs);
    doc["to"] = isoTime(report.range.endMs);
    doc["fromMs"] = report.range.beginMs;
    doc["toMs"] = report.range.endMs;
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const AvailabilityRow& d : report.devices) {
        nlohmann::ordered_json row;
        row["address"] = d.address;
        row["name"] = GbkToUtf8(d.name);
        row["availability"] = orNull(d.availability >= 0, d.availability);
        row["watchedMs"] = d.watchedMs;
        row["outages"] = d.outages;
        row["outageMs"] = d.outageMs;
        row["longestOutageMs"] = d.longestOutageMs;
        row["lowestQuality"] =
            d.lowestQuality ? nlohmann::ordered_json(*d.lowestQuality) : nlohmann::ordered_json();
        row["alarmsRaised"] = d.alarmsRaised;
        row["alarmsAcknowledged"] = d.alarmsAcknowledged;
        devices.push_back(std::move(row));
    }
    doc["devices"] = std::move(devices);
    nlohmann::ordered_json alarms = nlohmann::ordered_json::array();
    for (const ReportAlarm& a : report.alarms) {
        nlohmann::ordered_json row;
        row["address"] = a.address;
        row["name"] = GbkToUtf8(a.name);
        row["alarm"] = AlarmRuleName(a.rule);
        row["raisedMs"] = a.raisedMs;
        row["clearedMs"] = orNull(a.clearedMs != 0, a.clearedMs);
        row["acknowledgedMs"] = orNull(a.acknowledgedMs != 0, a.acknowledgedMs);
        row["acknowledgedBy"] = GbkToUtf8(a.acknowledgedBy);
        row["acknowledgedAfterMs"] = orNull(a.acknowledgedMs != 0, a.AcknowledgedAfterMs());
        alarms.push_back(std::move(row));
    }
    doc["alarms"] = std::move(alarms);
    return doc.dump(2) + "\n";
}

} // namespace

AvailabilityReport BuildAvailabilityReport(TimeRange range,
                                           const std::vector<DeviceHistoryFacts>& facts)
{
    AvailabilityReport report;
    report.range = range;
    for (const DeviceHistoryFacts& f : facts) {
        AvailabilityRow row;
        row.address = f.key.address;
        row.name = f.key.name;
        row.watchedMs = f.availability.WatchedMs();
        row.availability = row.watchedMs > 0 ? f.availability.Share() : -1.0;
        for (const Outage& o : f.outages) {
            const int64_t length =
                std::min(o.endMs, range.endMs) - std::max(o.beginMs, range.beginMs);
            if (length <= 0) {
                continue;
            }
            ++row.outages;
            row.outageMs += length;
            row.longestOutageMs = std::max(row.longestOutageMs, length);
        }
        for (const SeriesPoint& p : f.series) {
            if (p.count > 0) {
                row.lowestQuality =
                    std::min(row.lowestQuality.value_or(p.qualityMin), p.qualityMin);
            }
        }
        for (const Alarm& a : f.alarms) {
            if (a.raisedMs < range.beginMs || a.raisedMs >= range.endMs) {
                continue;
            }
            ++row.alarmsRaised;
            row.alarmsAcknowledged += a.Acknowledged() ? 1 : 0;
            report.alarms.push_back({a.address, a.deviceName.empty() ? f.key.name : a.deviceName,
                                     a.rule, a.raisedMs, a.clearedMs, a.acknowledgedMs,
                                     a.acknowledgedBy});
        }
        report.devices.push_back(std::move(row));
    }
    std::sort(
        report.devices.begin(), report.devices.end(),
        [](const AvailabilityRow& a, const AvailabilityRow& b) { return a.address < b.address; });
    std::stable_sort(
        report.alarms.begin(), report.alarms.end(),
        [](const ReportAlarm& a, const ReportAlarm& b) { return a.raisedMs < b.raisedMs; });
    return report;
}

AvailabilityReport ReadAvailabilityReport(HistoryQuery& query, TimeRange range)
{
    std::vector<DeviceHistoryFacts> facts;
    for (const DeviceKey& key : query.Devices()) {
        DeviceHistoryFacts f;
        f.key = key;
        f.availability = query.AvailabilityOf(key.address, range);
        f.outages = query.Outages(key.address, range);
        f.series = query.Series(key.address, range);
        f.alarms = query.Alarms(key.address, range, 100000);
        facts.push_back(std::move(f));
    }
    return BuildAvailabilityReport(range, facts);
}

std::optional<int64_t> ParseReportTime(const std::string& text, int64_t nowMs)
{
    if (text == "now") {
        return nowMs;
    }
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
        text.size() > 10) {
        return std::stoll(text.substr(0, 18));
    }
    std::string body = text;
    const bool utc = !body.empty() && (body.back() == 'Z' || body.back() == 'z');
    if (utc) {
        body.pop_back();
    }
    std::tm when{};
    int consumed = 0;
    if (std::sscanf(body.c_str(), "%4d-%2d-%2d%n", &when.tm_year, &when.tm_mon, &when.tm_mday,
                    &consumed) != 3 ||
        consumed != 10) {
        return std::nullopt;
    }
    if (body.size() > 10) {
        if (body[10] != 'T' && body[10] != ' ') {
            return std::nullopt;
        }
        int rest = 0;
        const int fields = std::sscanf(body.c_str() + 11, "%2d:%2d%n:%2d%n", &when.tm_hour,
                                       &when.tm_min, &rest, &when.tm_sec, &rest);
        if (fields < 2 || 11 + rest != static_cast<int>(body.size())) {
            return std::nullopt;
        }
    }
    if (when.tm_mon < 1 || when.tm_mon > 12 || when.tm_mday < 1 || when.tm_mday > 31 ||
        when.tm_hour > 23 || when.tm_min > 59 || when.tm_sec > 60) {
        return std::nullopt;
    }
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_isdst = -1;
    const std::time_t seconds = utc ? timegm(&when) : std::mktime(&when);
    if (seconds == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<int64_t>(seconds) * 1000;
}

std::optional<ReportFormat> ReportFormatOf(const std::string& name)
{
    if (name == "csv") {
        return ReportFormat::Csv;
    }
    if (name == "json") {
        return ReportFormat::Json;
    }
    if (name == "html") {
        return ReportFormat::Html;
    }
    return std::nullopt;
}

std::string RenderAvailabilityReport(const AvailabilityReport& report, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Json:
        return renderJson(report);
    case ReportFormat::Html:
        return renderHtml(report);
    case ReportFormat::Csv:
    default:
        return renderCsv(report);
    }
}

} // namespace vireo
