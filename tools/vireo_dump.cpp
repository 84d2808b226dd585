// vireo-dump ADDRESS [--out FILE] [--timeout SECONDS] [--verbose]
// Reads the whole database of one IRD with the manager's own session and
// prints it as JSON: an inventory and a backup of the device.
#include "device_dump.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void usage(std::FILE* to)
{
    std::fputs("usage: vireo-dump ADDRESS [--out FILE] [--timeout SECONDS] [--verbose]\n"
               "Connects to the IRD at ADDRESS (port 8888), performs a full refresh,\n"
               "asks again for anything lost on the way, and prints the device database\n"
               "as JSON (UTF-8) on standard output or into FILE. --verbose shows the\n"
               "session's log lines on standard error.\n"
               "Exit status: 0 done, 1 usage, 2 cannot connect, or the session ended\n"
               "(connection lost, reconnect refused), 3 no complete refresh within the\n"
               "time limit (default 60 s) or the device's answers never complete its lists,\n"
               "4 cannot write FILE.\n",
               to);
}

} // namespace

int main(int argc, char** argv)
{
    vireo::DumpOptions options;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            const long seconds = std::strtol(argv[++i], nullptr, 10);
            if (seconds <= 0) {
                usage(stderr);
                return 1;
            }
            options.timeLimit = std::chrono::seconds(seconds);
        } else if (options.address.empty() && !arg.empty() && arg[0] != '-') {
            options.address = arg;
        } else {
            usage(stderr);
            return 1;
        }
    }
    if (options.address.empty()) {
        usage(stderr);
        return 1;
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
