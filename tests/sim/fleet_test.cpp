// Many simulated IRDs in one process: address runs, a database per address,
// faults for all, one serving thread.

#include "sim/database_generator.h"
#include "sim/simulator_fleet.h"
#include "sim_client.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <thread>

using namespace vireo;
using namespace vireo::sim;
using namespace simtest;

namespace {

size_t threadCount()
{
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

// A joined thread's task can linger in /proc for a moment after the join
// returns: give the count up to two seconds to reach what is expected.
size_t threadCountSettlingAt(size_t expected)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    size_t count = threadCount();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = threadCount();
    }
    return count;
}

// The count once it has stopped moving: a thread that has just ended may
// still be listed for a moment.
size_t steadyThreadCount()
{
    size_t count = threadCount();
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const size_t again = threadCount();
        if (again == count) {
            break;
        }
        count = again;
    }
    return count;
}

} // namespace

TEST(SimulatorFleet, AddressRuns)
{
    const struct
    {
        const char* text;
        size_t count; // 0: refused
    } cases[] = {
        {"127.0.160.1-127.0.160.3", 3},
        {"127.0.160.7-127.0.160.7", 1},
        {"127.0.160.250-127.0.161.2", 7}, // .255 and .0 left out
        {"127.0.160.5-127.0.160.1", 0},
        {"10.0.0.1-10.0.0.2", 0},
        {"127.0.160.1", 0},
        {"127.0.160.1-", 0},
        {"127.0.160.0-127.0.160.0", 0},
        {"127.0.0.1-127.0.255.254", 0}, // more than a process may serve
    };
    for (const auto& c : cases) {
        std::string error;
        const auto range = ParseAddressRange(c.text, &error);
        ASSERT_EQ(range.has_value(), c.count != 0) << c.text << ": " << error;
        if (range) {
            EXPECT_EQ(range->Addresses().size(), c.count) << c.text;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_EQ(ParseAddressRange("127.0.160.254-127.0.161.1", nullptr)->Addresses(),
              (std::vector<std::string>{"127.0.160.254", "127.0.161.1"}));
}

TEST(SimulatorFleet, EachAddressIsADeviceOfItsOwnServedByOneThread)
{
    const DatabaseSize size{4, 12, 20, 6};
    const auto databaseFor = [&](const std::string&, uint32_t number) {
        return GenerateDatabase(size, nullptr, Numbering::Gaps, number).value();
    };
    // A sanitizer's runtime starts a thread of its own with the first one the
    // process makes: make one first, so the count below is the fleet's alone.
    std::thread([] {}).join();
    const size_t threadsBefore = steadyThreadCount();
    SimulatorFleet fleet(QuietOptions());
    std::string error;
    ASSERT_TRUE(
        fleet.Start(*ParseAddressRange("127.0.160.1-127.0.160.3", nullptr), 0, databaseFor, &error))
        << error;
    ASSERT_EQ(fleet.Size(), 3u);
    EXPECT_EQ(threadCountSettlingAt(threadsBefore + 1), threadsBefore + 1);

    // Each device answers from its own database, the one its address draws;
    // the same address draws the same database every time.
    std::vector<std::string> firstNames;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        const DeviceDatabase db = fleet.Device(i).Database();
        EXPECT_EQ(db, databaseFor("", AddressNumber(fleet.Address(i))));
        EXPECT_TRUE(CheckDatabase(db).empty()) << fleet.Address(i);
        firstNames.push_back(db.tv.front().name);

        SimClient c(fleet.Address(i), fleet.Device(i).Port());
        c.Send(msg::QueryProgram, 0, kKindTv);
        const Frames got = c.ReadCount(1);
        ASSERT_EQ(got.size(), 1u) << fleet.Address(i);
        EXPECT_EQ(CodeOf(got[0]), msg::ProgramInfo);
    }
    EXPECT_NE(firstNames[0], firstNames[1]);
    EXPECT_NE(firstNames[1], firstNames[2]);
    EXPECT_NE(fleet.Device(0).Database(), GenerateDatabase(size, nullptr).value());

    // Faults reach every device; two clients at once on one device.
    FaultOptions faults;
    faults.statusOverrides = {{msg::QueryVersion, 35}};
    fleet.SetFaults(faults);
    SimClient a(fleet.Address(2), fleet.Device(2).Port());
    SimClient b(fleet.Address(2), fleet.Device(2).Port());
    SimClient other(fleet.Address(0), fleet.Device(0).Port());
    for (SimClient* c : {&a, &b, &other}) {
        c->Send(msg::QueryVersion);
        const Frames got = c->ReadCount(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(IsStatus(got[0], msg::QueryVersion, 35));
    }
    EXPECT_EQ(fleet.Stats().connections, 6u);

    const auto before = std::chrono::steady_clock::now();
    fleet.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(threadCountSettlingAt(threadsBefore), threadsBefore);
    EXPECT_EQ(other.ReadToEnd().size(), 0u); // closed by the stop
}
