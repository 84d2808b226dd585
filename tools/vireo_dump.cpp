// vireo-dump ADDRESS [--out FILE] [--timeout SECONDS] [--verbose]
// Reads the whole database of one IRD with the manager's own session and
// prints it as JSON: an inventory and a backup of the device.
#include "snapshot/device_dump.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    vireo::DumpOptions options;
    std::string out;
    long seconds = 60;
    CLI::App app("Connects to the IRD at ADDRESS (port 8888), performs a full refresh, asks again "
                 "for anything lost on the way, and prints the device database as JSON (UTF-8) "
                 "on standard output or into FILE.",
                 "vireo-dump");
    app.add_option("address", options.address, "dotted IPv4 address of the IRD")
        ->type_name("ADDRESS")
        ->required();
    app.add_option("--out", out, "write the JSON into FILE")->type_name("FILE");
    app.add_option("--timeout", seconds, "time limit of the whole refresh (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1L, 86400L));
    app.add_flag("-v,--verbose", options.verbose, "the session's log lines on standard error");
    app.footer("Exit status: 0 done, 1 usage, 2 cannot connect, or the session ended (connection "
               "lost, reconnect refused), 3 no complete refresh within the time limit or the "
               "device's answers never complete its lists, 4 cannot write FILE.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& bad) {
        app.exit(bad);
        return 1;
    }
    options.timeLimit = std::chrono::seconds(seconds);
    const vireo::DumpResult result = vireo::RunDeviceDump(options);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "vireo-dump: %s\n", result.reason.c_str());
        return result.exitCode;
    }
    if (out.empty()) {
        std::fputs(result.json.c_str(), stdout);
        return 0;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file << result.json;
    if (!file.flush()) {
        std::fprintf(stderr, "vireo-dump: cannot write %s\n", out.c_str());
        return 4;
    }
    return 0;
}
