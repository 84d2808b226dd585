// vireo-ird-sim: a simulated IRD for developing and testing the manager.

#include "sim/command_line.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "sim/simulator_fleet.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>

using namespace vireo::sim;

int main(int argc, char** argv)
{
    std::string error;
    const std::optional<CommandLine> line =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!line) {
        std::fprintf(stderr, "vireo-ird-sim: %s\n", error.c_str());
        return 2;
    }
    if (line->help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    const std::optional<DeviceDatabase> db =
        line->databaseFile.empty()
            ? GenerateDatabase(line->size.value_or(kDefaultSize), &error, line->numbering)
            : LoadDatabaseFile(line->databaseFile, &error);
    if (!db) {
        std::fprintf(stderr, "vireo-ird-sim: %s\n", error.c_str());
        return 1;
    }
    if (line->dumpDatabase) {
        std::fputs(DatabaseToJson(*db).c_str(), stdout);
        return 0;
    }

    // Ctrl+C and kill are taken by sigwait below; the simulator's threads,
    // started after this, inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (line->addresses) {
        // A listening socket per address and one per connected client.
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
        }
        const bool generated = line->databaseFile.empty();
        const DatabaseSize size = line->size.value_or(kDefaultSize);
        SimulatorFleet fleet(line->options);
        const auto databaseFor = [&](const std::string&, uint32_t number) {
            return generated ? GenerateDatabase(size, nullptr, line->numbering, number).value()
                             : *db;
        };
        if (!fleet.Start(*line->addresses, line->port, databaseFor, &error)) {
            std::fprintf(stderr, "vireo-ird-sim: %s\n", error.c_str());
            return 1;
        }
        for (size_t i = 0; i < fleet.Size(); ++i) {
            std::printf("listening on %s:%u\n", fleet.Address(i).c_str(), fleet.Device(i).Port());
        }
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
        fleet.Stop();
        return 0;
    }

    Simulator simulator(*db, line->options);
    if (!simulator.Start(line->address, line->port, &error)) {
        std::fprintf(stderr, "vireo-ird-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%u\n", line->address.c_str(), simulator.Port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.Stop();
    return 0;
}
