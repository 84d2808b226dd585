// Firmware upgrades against the simulated IRD: what goes over the link, what
// the device window's log and progress show, and how the window is handed
// back (a new session, or a disconnect) whatever happens on the way.

#include "link/message_code.h"
#include "live_device.h"
#include "sim/database_generator.h"
#include "upgrade/upgrade_frame.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A second lasts 200 ms: the 25-second read limit is 5 s.
constexpr LinkTiming kFast{std::chrono::microseconds(200)};
constexpr upgrade::VersionId kDeviceVersion{1, 2, 3, 3};
constexpr upgrade::VersionId kNewer{1, 2, 3, 4};

// An upgrade file: the version bytes, then `imageBytes` bytes of a pattern.
std::string writeFile(const std::string& name, const upgrade::VersionId& version, size_t imageBytes)
{
    const fs::path dir = fs::temp_directory_path() / "vireo-upgrade-test";
    fs::create_directories(dir);
    const fs::path path = dir / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(version.data()), 4);
    for (size_t i = 0; i < imageBytes; ++i) {
        out.put(static_cast<char>(i * 7 + 1));
    }
    return path.string();
}

std::vector<uint8_t> imageOf(size_t imageBytes)
{
    std::vector<uint8_t> image(imageBytes);
    for (size_t i = 0; i < imageBytes; ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return image;
}

struct Device : LiveDevice
{
    explicit Device(const std::string& address, sim::UpgradeFaults faults = {})
        : LiveDevice(address, "Up", database(), options(std::move(faults)), kFast)
    {}
    static sim::DeviceDatabase database()
    {
        sim::DeviceDatabase db = sim::GenerateDatabase({1, 1, 2, 0}, nullptr).value();
        db.version = kDeviceVersion;
        return db;
    }
    static sim::SimulatorOptions options(sim::UpgradeFaults faults)
    {
        sim::SimulatorOptions o = sim::QuietOptions();
        o.faults.upgrade = std::move(faults);
        return o;
    }
    void upgrade(int type, const std::string& path)
    {
        core.Upgrade().SetJob(type, path);
        core.Session().SendRequest(msg::StartUpgrade);
    }
    // The window is back with a new session, or disconnected.
    bool restarted() { return pane.WaitFor("Begin monitoring", 2); }
    bool disconnected() { return pane.WaitFor("Disconnect successfully"); }
    std::string lastProgress() const
    {
        const auto calls = view.Calls();
        const auto last = std::find_if(calls.rbegin(), calls.rend(), [](const std::string& c) {
            return c.rfind("upgrade ", 0) == 0;
        });
        return last == calls.rend() ? std::string() : *last;
    }
    int linesStartingWith(const std::string& head) const
    {
        const auto lines = pane.Lines();
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const std::string& l) { return l.rfind(head, 0) == 0; }));
    }
};

} // namespace

TEST(Upgrade, TwoBlocksGoOverAndTheDeviceRestartsWithTheNewVersion)
{
    Device d("127.0.67.1");
    ASSERT_TRUE(d.started);
    const std::string path = writeFile("two-blocks.bin", kNewer, 1025);
    d.upgrade(upgrade::upgrade_type::Main, path);
    ASSERT_TRUE(d.pane.WaitFor("Upgrading completely, please waiting for IRD restart!"));
    ASSERT_TRUE(d.restarted());

    const std::vector<std::string> expected = {
        "Begin Upgrading" + path,
        "IRD version ID: Loader:1.2\tSoftware:3.3",
        "Upgrading file version ID: Loader:1.2\tSoftware:3.4",
        "Total blocks: 2",
        "In transporting: 0%!",
        "In transporting: 50%!",
        "Translation completely!",
        "Upgrading: 25%!",
        "Upgrading: 50%!",
        "Upgrading: 75%!",
        "Upgrading: 100%!",
        "Upgrading completely, please waiting for IRD restart!"};
    const auto lines = d.pane.Lines();
    const auto first = std::find(lines.begin(), lines.end(), expected.front());
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(std::vector<std::string>(
                  first, first + std::min<long>(expected.size(), lines.end() - first)),
              expected);

    const sim::UpgradeRecord seen = d.irb.Upgrades();
    EXPECT_EQ(seen.blockSizes, (std::vector<size_t>{1024, 1}));
    EXPECT_EQ(seen.image, imageOf(1025));
    ASSERT_EQ(seen.announcements.size(), 1u);
    // Type 6, 8 bytes: the version bytes in reverse order, then the length.
    EXPECT_EQ(seen.announcements[0],
              (std::vector<uint8_t>{0, 6, 0, 8, 4, 3, 2, 1, 0, 0, 0x04, 0x01}));
    EXPECT_EQ(d.irb.Database().version, kNewer);
    // The device, back up, reports its signal: the window is asked for a
    // refresh (which it runs on its own thread) and then shows the new version.
    ASSERT_TRUE(d.view.WaitFor("postRefresh 1"));
    d.core.Session().RefreshIrd();
    EXPECT_TRUE(WaitUntil([&] {
        const auto version = d.core.Content().DeviceVersion();
        return d.core.Loaded() && version && *version == kNewer;
    }));
    EXPECT_EQ(d.core.Upgrade().HeldImageBytes(), 0u);
    EXPECT_FALSE(d.core.Session().upgradeRunning);
    EXPECT_TRUE(d.core.Session().upgradeEnded);

    // The progress display follows both stages and ends.
    for (const char* call :
         {"upgrade sending 0/2 0 1", "upgrade sending 1/2 50 1", "upgrade writing 2/2 25 1",
          "upgrade writing 2/2 100 1", "upgrade idle 2/2 0 1"}) {
        EXPECT_TRUE(d.view.WaitFor(call, 1s)) << call;
    }
}

TEST(Upgrade, AFileNotNewerThanTheDeviceIsNeverAnnounced)
{
    Device d("127.0.67.2");
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("same.bin", kDeviceVersion, 3000));
    ASSERT_TRUE(d.disconnected());
    EXPECT_EQ(d.pane.Count("Upgrading file error"), 1);
    EXPECT_EQ(d.irb.Upgrades().hellos, 1);
    EXPECT_TRUE(d.irb.Upgrades().announcements.empty());
    EXPECT_FALSE(d.core.Session().linked);
}

TEST(Upgrade, AFileWithoutImageDataEndsWithAFileErrorAndANewSession)
{
    Device d("127.0.67.3");
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("empty.bin", kNewer, 0));
    ASSERT_TRUE(d.restarted());
    EXPECT_EQ(d.pane.Count("Upgrading file error"), 1);
    EXPECT_TRUE(d.irb.Upgrades().announcements.empty());
}

TEST(Upgrade, DataAndKeyAnnounceTheLengthAloneTheOthersTheVersionToo)
{
    const std::string path = writeFile("types.bin", kNewer, 10);
    int n = 0;
    for (int type :
         {upgrade::upgrade_type::Data, upgrade::upgrade_type::Key, upgrade::upgrade_type::Loader}) {
        Device d("127.0.67." + std::to_string(10 + n++));
        ASSERT_TRUE(d.started);
        d.upgrade(type, path);
        ASSERT_TRUE(d.restarted());
        const auto seen = d.irb.Upgrades().announcements;
        ASSERT_EQ(seen.size(), 1u) << type;
        const bool lengthOnly = type != upgrade::upgrade_type::Loader;
        std::vector<uint8_t> expected = {0, uint8_t(type), 0, uint8_t(lengthOnly ? 4 : 8)};
        if (!lengthOnly) {
            expected.insert(expected.end(), {4, 3, 2, 1});
        }
        expected.insert(expected.end(), {0, 0, 0, 10});
        EXPECT_EQ(seen[0], expected) << type;
    }
}

TEST(Upgrade, TwoHundredBlocksLogEachPercentageOnceAndADotForTheNext)
{
    Device d("127.0.67.4");
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("dots.bin", kNewer, 200 * 1024));
    ASSERT_TRUE(d.restarted());
    EXPECT_EQ(d.linesStartingWith("In transporting: "), 100);
    EXPECT_EQ(d.pane.Count("In transporting: 0%!."), 1);
    EXPECT_EQ(d.pane.Count("In transporting: 99%!."), 1);
    EXPECT_EQ(d.irb.Upgrades().image.size(), 200u * 1024);
}

TEST(Upgrade, TheDeviceMayAskForTheAnnouncementAgainAndSendStrayFrames)
{
    sim::UpgradeFaults faults;
    faults.deviceIdAtBlock = 1;
    faults.unknownTypeAtBlock = 2;
    faults.splitFrames = true;
    faults.writing = {-1, -1, 50, -1, -1, 100}; // two unexpected frames, twice
    Device d("127.0.67.5", faults);
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::LoaderMainFpga, writeFile("stray.bin", kNewer, 4000));
    ASSERT_TRUE(d.pane.WaitFor("Upgrading completely, please waiting for IRD restart!"));
    ASSERT_TRUE(d.restarted());
    const sim::UpgradeRecord seen = d.irb.Upgrades();
    ASSERT_EQ(seen.announcements.size(), 2u);
    EXPECT_EQ(seen.announcements[0], seen.announcements[1]);
    EXPECT_EQ(seen.image, imageOf(4000));
    EXPECT_TRUE(d.view.WaitFor("notice Unknown frame: 99 1", 1s));
    // Every frame of the writing stage was acknowledged, the final one too.
    EXPECT_EQ(seen.acknowledgements, 7);
    EXPECT_EQ(d.pane.Count("Communication has failed, exit connection"), 0);
}

TEST(Upgrade, FailuresEndWithTheFailureLineAndANewSession)
{
    struct Case
    {
        const char* name;
        sim::UpgradeFaults faults;
    };
    std::vector<Case> cases(5);
    cases[0] = {"three unexpected frames in a row", {}};
    cases[0].faults.writing = {50, -1, -1, -1, 100};
    cases[1] = {"failure status after the blocks", {}};
    cases[1].faults.transferStatus = 3;
    cases[2] = {"connection closed mid-transfer", {}};
    cases[2].faults.closeAtBlock = 2;
    cases[3] = {"payload of 16385 bytes", {}};
    cases[3].faults.oversizedAtBlock = 1;
    cases[4] = {"failure status after writing", {}};
    cases[4].faults.finalStatus = 5;

    const std::string path = writeFile("fail.bin", kNewer, 5000);
    int n = 0;
    for (const Case& c : cases) {
        Device d("127.0.67." + std::to_string(20 + n++), c.faults);
        ASSERT_TRUE(d.started) << c.name;
        d.upgrade(upgrade::upgrade_type::Main, path);
        ASSERT_TRUE(d.restarted()) << c.name;
        EXPECT_EQ(d.pane.Count("Communication has failed, exit connection"), 1) << c.name;
        EXPECT_EQ(d.pane.Count("Upgrading completely, please waiting for IRD restart!"), 0)
            << c.name;
        EXPECT_EQ(d.irb.Database().version, kDeviceVersion) << c.name;
        EXPECT_EQ(d.lastProgress().rfind("upgrade idle", 0), 0u) << c.name;
    }
}

TEST(Upgrade, AnUnknownFrameInTheHandshakeIsShownThenEndsTheUpgrade)
{
    sim::UpgradeFaults faults;
    faults.unknownTypeAtHello = true;
    Device d("127.0.130.4", faults);
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("handshake.bin", kNewer, 2048));
    ASSERT_TRUE(d.restarted());
    EXPECT_TRUE(d.view.WaitFor("notice Unknown frame: 99 1", 1s));
    EXPECT_EQ(d.pane.Count("Communication has failed, exit connection"), 1);
    const sim::UpgradeRecord seen = d.irb.Upgrades();
    EXPECT_EQ(seen.hellos, 1);
    EXPECT_TRUE(seen.announcements.empty());
    EXPECT_EQ(d.irb.Database().version, kDeviceVersion);
}

TEST(Upgrade, AskingForABlockAfterTheLastGivesTheWindowBackQuietly)
{
    sim::UpgradeFaults faults;
    faults.extraBlockRequest = true;
    Device d("127.0.67.6", faults);
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("extra.bin", kNewer, 2048));
    ASSERT_TRUE(d.restarted());
    EXPECT_EQ(d.pane.Count("Communication has failed, exit connection"), 0);
    EXPECT_EQ(d.pane.Count("Translation completely!"), 0);
    EXPECT_FALSE(d.core.Session().upgradeRunning);
}

TEST(Upgrade, ClosingTheWindowMidTransferEndsTheThreadAndFreesTheImage)
{
    sim::UpgradeFaults faults;
    faults.writeStepMs = 60000; // the device takes its time writing
    Device d("127.0.67.7", faults);
    ASSERT_TRUE(d.started);
    d.upgrade(upgrade::upgrade_type::Main, writeFile("slow.bin", kNewer, 3000));
    ASSERT_TRUE(d.pane.WaitFor("Translation completely!"));
    d.core.Teardown(); // joins every thread of the window
    EXPECT_FALSE(d.core.Session().upgradeRunning);
    EXPECT_EQ(d.core.Upgrade().HeldImageBytes(), 0u);
    EXPECT_EQ(d.pane.Count("Communication has failed, exit connection"), 0);
    EXPECT_EQ(d.pane.Count("Begin monitoring"), 1);
}
