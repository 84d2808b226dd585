#include "self_metrics.h"

#include "metrics_text.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace vireo {

namespace {

void family(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void value(std::string& out, const char* name, double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    out += name;
    out += ' ';
    out += text;
    out += '\n';
}

std::string seconds(int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    return text;
}

} // namespace

HealthVerdict CheckHealth(const HealthInputs& in)
{
    const int64_t stallMs = 3 * in.pollMs;
    const int64_t since = in.lastPassSteadyMs > 0 ? in.lastPassSteadyMs : in.startedSteadyMs;
    if (in.nowSteadyMs - since > stallMs) {
        return {false,
                "the poll loop has made no progress for " + seconds(in.nowSteadyMs - since) + " s"};
    }
    if (in.history.paused && in.history.pausedSinceMs > 0 &&
        in.nowWallMs - in.history.pausedSinceMs > 60000) {
        return {false, "history writing has failed for " +
                           seconds(in.nowWallMs - in.history.pausedSinceMs) + " s (" +
                           (in.history.reason.empty() ? "paused" : in.history.reason) + ")"};
    }
    return {};
}

std::string RenderSelfMetrics(const SelfFigures& f)
{
    std::string out;
    family(out, "vireo_monitor_build_info", "gauge",
           "The monitor's version and source revision, as labels; the value is always 1.");
    out += "vireo_monitor_build_info{version=\"" + EscapeLabelValue(f.version) + "\",revision=\"" +
           EscapeLabelValue(f.revision) + "\"} 1\n";
    family(out, "vireo_monitor_config_last_reload_successful", "gauge",
           "1 when the last reload of the configuration worked, else 0.");
    value(out, "vireo_monitor_config_last_reload_successful", f.lastReloadOk ? 1 : 0);
    family(out, "vireo_monitor_config_last_reload_success_timestamp_seconds", "gauge",
           "When the configuration was last loaded successfully (Unix time).");
    value(out, "vireo_monitor_config_last_reload_success_timestamp_seconds",
          f.lastReloadSuccessSeconds);
    family(out, "vireo_monitor_healthy", "gauge", "1 while /healthz answers 200, else 0.");
    value(out, "vireo_monitor_healthy", f.healthy ? 1 : 0);
    family(out, "vireo_history_samples_dropped_total", "counter",
           "Signal reports not recorded in the history (queue full or recording paused).");
    value(out, "vireo_history_samples_dropped_total",
          static_cast<double>(f.history.samplesDropped));
    family(out, "vireo_history_write_errors_total", "counter",
           "Commits to the history file that failed.");
    value(out, "vireo_history_write_errors_total", static_cast<double>(f.history.writeErrors));
    family(out, "vireo_history_pending_records", "gauge",
           "Alarms, acknowledgements and period ends waiting for the disk.");
    value(out, "vireo_history_pending_records", static_cast<double>(f.history.pendingRecords));
    family(out, "vireo_history_paused", "gauge",
           "1 while recording in the history is paused, with the reason as a label.");
    out += "vireo_history_paused{reason=\"" +
           EscapeLabelValue(f.history.paused ? f.history.reason : std::string()) + "\"} " +
           (f.history.paused ? "1" : "0") + "\n";
    out += RenderProcessMetrics();
    return out;
}

std::string RenderProcessMetrics()
{
    std::string out;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));

    // /proc/self/stat: the fields after the command (which may hold spaces
    // and parentheses) are read from its last ')'.
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const size_t close = stat.rfind(')');
    std::istringstream fields(close == std::string::npos ? "" : stat.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0, starttime = 0, rss = 0, vsize = 0;
    for (int n = 3; fields >> field; ++n) {
        if (n == 14) {
            utime = std::stod(field);
        } else if (n == 15) {
            stime = std::stod(field);
        } else if (n == 22) {
            starttime = std::stod(field);
        } else if (n == 23) {
            vsize = std::stod(field);
        } else if (n == 24) {
            rss = std::stod(field);
            break;
        }
    }
    double bootTime = 0;
    std::ifstream procStat("/proc/stat");
    std::string line;
    while (std::getline(procStat, line)) {
        if (line.rfind("btime ", 0) == 0) {
            bootTime = std::stod(line.substr(6));
            break;
        }
    }
    size_t fds = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++fds;
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);

    family(out, "process_cpu_seconds_total", "counter",
           "Total user and system CPU time spent in seconds.");
    value(out, "process_cpu_seconds_total", (utime + stime) / ticks);
    family(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    value(out, "process_resident_memory_bytes", rss * page);
    family(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
    value(out, "process_virtual_memory_bytes", vsize);
    family(out, "process_open_fds", "gauge", "Number of open file descriptors.");
    value(out, "process_open_fds",
          static_cast<double>(fds > 0 ? fds - 1 : 0)); // less the listing's own
    family(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.");
    value(out, "process_max_fds", static_cast<double>(limit.rlim_cur));
    family(out, "process_start_time_seconds", "gauge",
           "Start time of the process since unix epoch in seconds.");
    value(out, "process_start_time_seconds", bootTime + starttime / ticks);
    return out;
}

} // namespace vireo
