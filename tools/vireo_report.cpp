// vireo-report --from WHEN [--to WHEN] [--format csv|json|html] [--history FILE] [--out FILE]
// The availability of every device the history holds over a shift or a
// month: availability, outages, lowest quality, alarms and who acknowledged
// them after how long.
#include "history/availability_report.h"
#include "history/history_database.h"
#include "history/history_query.h"
#include "link/device_observer.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    std::string from;
    std::string to = "now";
    std::string format = "csv";
    std::string history = vireo::kHistoryFileName;
    std::string out;
    CLI::App app("Prints the availability report of every device recorded in the history file "
                 "over a range of time: availability %, number and total length of outages, "
                 "lowest quality, alarms raised and acknowledged (by whom, after how long).",
                 "vireo-report");
    app.add_option("--from", from,
                   "start of the range: now, 2026-12-09, 2026-12-09T06:00[:SS] (local time, or "
                   "UTC with a trailing Z) or ms since the epoch")
        ->type_name("WHEN")
        ->required();
    app.add_option("--to", to, "end of the range, written as --from (default now)")
        ->type_name("WHEN");
    app.add_option("--format", format, "csv (default), json or html")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"csv", "json", "html"}));
    app.add_option("--history", history, "the history file (default History.sqlite)")
        ->type_name("FILE");
    app.add_option("--out", out, "write the report into FILE instead of standard output")
        ->type_name("FILE");
    app.footer("Exit status: 0 done, 1 usage (a bound that cannot be read, --to not after "
               "--from), 2 the history cannot be read, 4 cannot write FILE.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& bad) {
        app.exit(bad);
        return 1;
    }
    const int64_t now = vireo::DeviceObservers::NowMs();
    const std::optional<int64_t> begin = vireo::ParseReportTime(from, now);
    const std::optional<int64_t> end = vireo::ParseReportTime(to, now);
    if (!begin || !end) {
        std::fprintf(stderr, "vireo-report: cannot read the time %s\n",
                     (!begin ? from : to).c_str());
        return 1;
    }
    if (*end <= *begin) {
        std::fprintf(stderr, "vireo-report: --to must come after --from\n");
        return 1;
    }
    std::string error;
    const std::unique_ptr<vireo::HistoryQuery> query = vireo::HistoryQuery::Open(history, &error);
    if (!query) {
        std::fprintf(stderr, "vireo-report: cannot read %s: %s\n", history.c_str(), error.c_str());
        return 2;
    }
    const vireo::AvailabilityReport report =
        vireo::ReadAvailabilityReport(*query, vireo::TimeRange{*begin, *end});
    const std::string text =
        vireo::RenderAvailabilityReport(report, *vireo::ReportFormatOf(format));
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 4;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
        std::fprintf(stderr, "vireo-report: cannot write %s\n", out.c_str());
        return 4;
    }
    return 0;
}
