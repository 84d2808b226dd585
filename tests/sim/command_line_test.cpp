// vireo-ird-sim's command line.

#include "sim/command_line.h"

#include <gtest/gtest.h>

using namespace vireo::sim;

TEST(CommandLine, ParsesEveryOption)
{
    std::string error;
    const auto line = ParseCommandLine(
        {"--address",   "127.0.50.9", "--port=0",    "--generate", "1,2,3,4",
         "--seed",      "42",         "--drop",      "25%",        "--drop-burst",
         "0.5",         "--corrupt",  "0.1",         "--cut",      "1",
         "--cut-pause", "3",          "--garbage",   "0.2",        "--repeat",
         "30%",         "--delay",    "150",         "--silent",   "--close-after",
         "9",           "--status",   "UpdateAll=1", "--status",   "0x22=35",
         "--signal",    "40,30",      "-v",          "--dump-db",  "--flood-signal",
         "10000"},
        &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->address, "127.0.50.9");
    EXPECT_EQ(line->port, 0);
    EXPECT_EQ(line->size.value().tv, 3u);
    EXPECT_EQ(line->options.seed, 42u);
    const FaultOptions& f = line->options.faults;
    EXPECT_DOUBLE_EQ(f.dropShare, 0.25);
    EXPECT_DOUBLE_EQ(f.burstDropShare, 0.5);
    EXPECT_DOUBLE_EQ(f.corruptShare, 0.1);
    EXPECT_DOUBLE_EQ(f.cutShare, 1);
    EXPECT_EQ(f.cutPauseMs, 3);
    EXPECT_DOUBLE_EQ(f.garbageShare, 0.2);
    EXPECT_DOUBLE_EQ(f.repeatShare, 0.3);
    EXPECT_EQ(f.delayMs, 150);
    EXPECT_TRUE(f.silent);
    EXPECT_EQ(f.closeAfterFrames, 9u);
    EXPECT_EQ(f.statusOverrides, (std::map<uint8_t, uint8_t>{{0x6A, 1}, {0x22, 35}}));
    EXPECT_EQ(line->options.signal.intensity, 40);
    EXPECT_EQ(f.floodSignalPerSecond, 10000);
    EXPECT_TRUE(line->options.verbose);
    EXPECT_TRUE(line->dumpDatabase);

    const auto upgrade = ParseCommandLine({"--upgrade-block-ms", "2", "--upgrade-write-ms=700",
                                           "--upgrade-final-status", "3", "--upgrade-close-at", "5",
                                           "--upgrade-unexpected", "1", "--greet-after-restart"},
                                          &error);
    ASSERT_TRUE(upgrade) << error;
    const UpgradeFaults& u = upgrade->options.faults.upgrade;
    EXPECT_EQ(u.blockStepMs, 2);
    EXPECT_EQ(u.writeStepMs, 700);
    EXPECT_EQ(u.finalStatus, 3);
    EXPECT_EQ(u.closeAtBlock, 5);
    EXPECT_EQ(u.writing, (std::vector<int>{-1, 25, -1, 50, -1, 75, -1, 100}));
    EXPECT_TRUE(upgrade->options.greetAfterRestart);

    const auto defaults = ParseCommandLine({}, &error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->port, 8888);
    EXPECT_EQ(defaults->address, "127.0.0.1");
    EXPECT_FALSE(defaults->options.greetAfterRestart);
    EXPECT_FALSE(defaults->addresses);

    const auto fleet = ParseCommandLine({"--addresses", "127.0.1.1-127.0.1.200"}, &error);
    ASSERT_TRUE(fleet && fleet->addresses) << error;
    EXPECT_EQ(fleet->addresses->Addresses().size(), 200u);
}

TEST(CommandLine, RefusesBadArguments)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--drop", "1.5"},
        {"--drop", "x"},
        {"--port", "70000"},
        {"--port"},
        {"--status", "UpdateAll"},
        {"--status", "Nope=1"},
        {"--generate", "1,2"},
        {"--db", "a.json", "--generate", "1,1,1,1"},
        {"--signal", "100,1"},
        {"--silent=1"},
        {"--addresses", "127.0.1.9-127.0.1.1"},
        {"--address", "127.0.1.1", "--addresses", "127.0.1.1-127.0.1.2"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    EXPECT_NE(UsageText().find("--close-after"), std::string::npos);
}
