// The system settings page's requests and displays against the simulated IRD:
// what goes out on the wire, what the device's answers show, and the
// disconnect that follows a sent reset or signal-source change.

#include "database/list_manager.h"
#include "database/system_settings.h"
#include "dialogs/network_fields.h"
#include "link/message_code.h"
#include "live_device.h"
#include "sim/database_generator.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

// Fast, yet with time limits long enough that a loaded machine does not
// re-send the full refresh (which would show everything twice).
constexpr LinkTiming kFast{std::chrono::microseconds(200)};

// An IRD reporting 0x26 0x05 (204, Original, English, 4:3, 1080I@60Hz, LNB
// IN, polling 300), muted at volume 7.
sim::DeviceDatabase deviceDatabase()
{
    sim::DeviceDatabase db = sim::GenerateDatabase({1, 2, 3, 1}, nullptr).value();
    const uint32_t word = (300u << 11) | 0x526;
    for (int i = 0; i < 4; ++i) {
        db.system[i] = static_cast<uint8_t>(word >> (8 * i));
    }
    db.volume = {7, true};
    return db;
}

struct Device : LiveDevice
{
    explicit Device(const std::string& address)
        : LiveDevice(address, "Sys", deviceDatabase(), sim::QuietOptions(), kFast)
    {}
    bool seen(const std::string& call) const
    {
        const auto calls = view.Calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    int count(const std::string& call) const
    {
        const auto calls = view.Calls();
        return int(std::count(calls.begin(), calls.end(), call));
    }
    // The payload of the last frame the IRD received with `code`.
    std::vector<uint8_t> lastPayload(uint8_t code) const
    {
        const auto frames = irb.ReceivedFrames();
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if (it->size() > 5 && (*it)[1] == code) {
                return {it->begin() + 3, it->end() - 3};
            }
        }
        return {};
    }
    std::vector<uint8_t> held() const
    {
        const std::array<uint8_t, 20> wire = deviceDatabase().system;
        return {wire.begin(), wire.end()};
    }
};

} // namespace

TEST(SystemSettingsLive, RefreshShowsTheSettingsAndTheVolume)
{
    Device d("127.0.64.1");
    ASSERT_TRUE(d.started);
    ASSERT_TRUE(d.view.WaitFor("settings 204 1 1 4:3 1 300 1"));
    ASSERT_TRUE(d.view.WaitFor("volume 7 rgb 128,128,128 row 109 1"));
    EXPECT_TRUE(d.seen("signalSource 1"));
    const int silences = d.pane.Count("Silence");
    const int shown = d.count("settings 204 1 1 4:3 1 300 1");
    EXPECT_GE(silences, 1);

    // Shown and unchanged: showing the tab again redraws nothing; "Cancel"
    // (forced) redraws the settings.
    const auto db = d.core.Database();
    EXPECT_EQ(db->ShowItem(item_kind::System), db_result::UpToDate);
    EXPECT_EQ(db->ShowItem(item_kind::Volume), db_result::UpToDate);
    d.core.Content().SystemTabShown();
    EXPECT_EQ(d.count("settings 204 1 1 4:3 1 300 1"), shown);
    d.core.Content().RedisplaySystemSettings();
    EXPECT_EQ(d.count("settings 204 1 1 4:3 1 300 1"), shown + 1);
    EXPECT_EQ(d.pane.Count("Silence"), silences);
}

TEST(SystemSettingsLive, ApplySendsThePageOverTheHeldRecord)
{
    Device d("127.0.64.2");
    ASSERT_TRUE(d.started);
    const size_t before = d.irb.ReceivedFrames().size();
    SystemSettings page = ReadSystemSettings(*d.core.Database()->System());
    EXPECT_EQ(d.core.Content().ApplySystemSettings(page), system_result::Ok);

    page.outputType = 3; // 720P@60Hz
    page.polling = 99999;
    EXPECT_EQ(d.core.Content().ApplySystemSettings(page), system_result::Ok);
    ASSERT_TRUE(d.irb.WaitForReceived(before + 1, 5s));
    EXPECT_EQ(d.irb.ReceivedFrames().size(), before + 1); // the unchanged Apply sent nothing
    std::vector<uint8_t> expected = d.held();
    const uint32_t word = (99999u << 11) | 0x566; // byte 0: 0x26 with output type 3
    for (int i = 0; i < 4; ++i) {
        expected[i] = static_cast<uint8_t>(word >> (8 * i));
    }
    EXPECT_EQ(d.lastPayload(msg::SetSystemInfo), expected);

    // The device's answer is the new held record, shown on the page; the
    // session stays up.
    ASSERT_TRUE(d.view.WaitFor("settings 204 1 1 4:3 3 99999 1"));
    EXPECT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }));
    EXPECT_TRUE(d.core.Session().linked);
}

TEST(SystemSettingsLive, SentSignalSourceChangeEndsTheSession)
{
    Device d("127.0.64.3");
    ASSERT_TRUE(d.started);
    EXPECT_EQ(d.core.Content().ChangeSignalSource(system_choice::Asi), system_result::Disconnect);
    ASSERT_TRUE(d.pane.WaitFor("IRD signal has changed, please update!"));
    ASSERT_TRUE(d.pane.WaitFor("Disconnect successfully"));
    std::vector<uint8_t> expected = d.held();
    expected[0] |= 0x10;
    EXPECT_EQ(d.lastPayload(msg::SetSystemInfo), expected);
}

TEST(SystemSettingsLive, SentFactoryResetEndsTheSession)
{
    Device d("127.0.64.4");
    ASSERT_TRUE(d.started);
    EXPECT_EQ(d.core.Content().FactoryReset(), system_result::Disconnect);
    ASSERT_TRUE(d.pane.WaitFor("IRD has restarted, please update!"));
    ASSERT_TRUE(d.pane.WaitFor("Disconnect successfully"));
    std::vector<uint8_t> expected = d.held();
    expected[0] |= 0x01;
    EXPECT_EQ(d.lastPayload(msg::SetSystemInfo), expected);
}

TEST(SystemSettingsLive, SoundOnSendsItsByteAndTheAnswerTurnsTheGaugeGreen)
{
    Device d("127.0.64.5");
    ASSERT_TRUE(d.started);
    EXPECT_EQ(d.core.Content().SendVolumeCommand(volume_action::SoundOn), 0);
    ASSERT_TRUE(d.view.WaitFor("volume 7 rgb 0,255,0 row 110 0"));
    EXPECT_EQ(d.lastPayload(msg::SetVolume), std::vector<uint8_t>{0x7F});
    EXPECT_TRUE(d.pane.WaitFor("Pronounce:volume7"));
}

TEST(SystemSettingsLive, AcknowledgedNetworkChangeAsksTheWindowToCheckTheAddress)
{
    Device d("127.0.64.6");
    ASSERT_TRUE(d.started);
    std::mutex mutex;
    std::vector<uint32_t> forgotten;
    d.core.Content().SetNeighbourCacheFlush([&](uint32_t address) {
        std::lock_guard lock(mutex);
        forgotten.push_back(address);
    });
    SystemRecordBytes stored{};
    std::copy_n(d.held().begin(), 20, stored.begin());
    const SystemRecordBytes record =
        BuildNetworkRecord(stored, "192.168.001.077", "255.255.255.000", "00.11.22.33.44.55");
    ASSERT_FALSE(d.core.Session().SendRequest(msg::SetSystemInfo, 0, 0, record)); // false: queued
    ASSERT_TRUE(d.pane.WaitFor("IRD ip has changed, pleasr update!"));
    ASSERT_TRUE(d.view.WaitFor("postAddressCheck 192.168.1.77 1"));
    EXPECT_EQ(d.lastPayload(msg::SetSystemInfo),
              std::vector<uint8_t>(record.begin(), record.end()));
    // An address change keeps the session: the window decides what follows.
    EXPECT_TRUE(d.core.Session().linked);
    // The host forgets the link-layer addresses of the old and the new address.
    std::lock_guard lock(mutex);
    EXPECT_EQ(forgotten, (std::vector<uint32_t>{0x7F004006, 0xC0A8014D}));
}
