// vireo-dump ADDRESS [--out FILE] [--timeout SECONDS] [--verbose]
// Reads the whole database of one IRD with the manager's own session and
// prints it as a snapshot document (JSON): an inventory and a backup of the
// device, which vireo-diff compares and vireo-apply writes back.
#include "lang/gbk_text.h"
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
    CLI::App app(
        "Connects to the IRD at ADDRESS (port 8888), performs a full refresh, asks again "
        "for anything lost on the way, and prints the device database as a snapshot document "
        "(JSON, UTF-8) on standard output or into FILE.",
        "vireo-dump");
    app.add_option("address", options.address, "dotted IPv4 address of the IRD")
        ->type_name("ADDRESS")
        ->required();
    app.add_option("--out", out, "write the JSON into FILE")->type_name("FILE");
    app.add_option("--timeout", seconds, "time limit of the whole refresh (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1L, 86400L));
    std::string name;
    app.add_option("--name", name, "the device's name, written into the snapshot's head")
        ->type_name("NAME");
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
    if (!name.empty()) {
        const std::optional<std::string> gbk = vireo::Utf8ToGbk(name);
        if (!gbk) {
            std::fprintf(stderr, "vireo-dump: the name cannot be written in GBK\n");
            return 1;
        }
        options.name = *gbk;
    }
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
