#include "history/history_database.h"
#include "history/silence_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

constexpr int64_t kNow = 1'800'000'000'000;

// Two connections to one file, as the desktop and a monitor hold it: a
// silence one stores the other reads; it covers its device or group only,
// until its end or until ended early, and ends once.
TEST(SilenceStore, SharedThroughTheFileAndEndedOnce)
{
    TempDir dir;
    const auto file = dir.path() / kHistoryFileName;
    auto desktop = HistoryDatabase::Open(file).database;
    auto monitor = HistoryDatabase::Open(file, false).database;
    ASSERT_TRUE(desktop && monitor);

    Silence device{0, Silence::Target::Device, "10.0.0.7", kNow + 60000, "dish work", "op", kNow};
    Silence group{
        0, Silence::Target::Group, "Uplinks", kNow + 1000, "\xe7\xbb\xb4\xe6\x8a\xa4", "op", kNow};
    Silence past{0, Silence::Target::Device, "10.0.0.8", kNow - 1, "over", "op", kNow - 5000};
    for (Silence* s : {&device, &group, &past}) {
        ASSERT_TRUE(SilenceStore::Add(*desktop, *s));
    }
    EXPECT_GT(group.id, device.id);

    std::vector<Silence> running = SilenceStore::Running(*monitor, kNow);
    ASSERT_EQ(running.size(), 2u);
    EXPECT_EQ(running[0], device);
    EXPECT_EQ(running[1], group);

    struct Case
    {
        std::string address, group;
        int64_t at;
        bool silenced;
    };
    for (const Case& c :
         {Case{"10.0.0.7", "", kNow, true}, Case{"10.0.0.9", "Uplinks", kNow, true},
          Case{"10.0.0.9", "Uplinks", kNow + 1000, false}, Case{"10.0.0.9", "", kNow, false},
          Case{"10.0.0.8", "", kNow, false}, Case{"Uplinks", "", kNow, false}}) {
        EXPECT_EQ(IsSilenced(running, c.address, c.group, c.at), c.silenced)
            << c.address << " " << c.group << " " << c.at;
    }

    EXPECT_TRUE(SilenceStore::End(*monitor, device.id, kNow + 10));
    EXPECT_FALSE(SilenceStore::End(*monitor, device.id, kNow + 20));
    EXPECT_FALSE(SilenceStore::End(*monitor, past.id, kNow + 20)); // over already
    running = SilenceStore::Running(*desktop, kNow + 10);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].target, "Uplinks");
}

} // namespace
} // namespace vireo
