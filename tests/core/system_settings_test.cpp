#include "core/fake_database_host.h"
#include "database/list_manager.h"
#include "database/system_settings.h"
#include "link/message_code.h"

#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::testing;

namespace {

// A record whose every byte is told apart: 0x26 0x05 in front, then a
// pattern through the address fields and the trailing byte.
SystemRecord heldRecord(uint8_t byte0 = 0x26, uint8_t byte1 = 0x05)
{
    SystemRecord r;
    for (size_t i = 0; i < r.wire.size(); ++i) {
        r.wire[i] = static_cast<uint8_t>(0x40 + i);
    }
    r.wire[0] = byte0;
    r.wire[1] = byte1;
    r.wire[2] = 0x12; // a polling interval of 577
    r.wire[3] = 0x00;
    r.wire[18] = 0; // no address change
    return r;
}

void setWord(SystemRecord& r, uint32_t word)
{
    for (int i = 0; i < 4; ++i) {
        r.wire[i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

// The bytes that differ between two records, as (offset, from, to).
std::vector<std::tuple<int, int, int>> diff(const SystemWire& from, const SystemWire& to)
{
    std::vector<std::tuple<int, int, int>> out;
    for (size_t i = 0; i < from.size(); ++i) {
        if (from[i] != to[i]) {
            out.emplace_back(int(i), from[i], to[i]);
        }
    }
    return out;
}

} // namespace

TEST(SystemSettings, RecordDecodesIntoThePageChoices)
{
    // 0x26: 4:3, English, satellite input, 1080I@60Hz; 0x05: Original, 204.
    const SystemSettings s = ReadSystemSettings(heldRecord(0x26, 0x05));
    EXPECT_TRUE(s.tsLength204);
    EXPECT_EQ(s.tsOutput, 1);
    EXPECT_EQ(s.language, 1);
    EXPECT_TRUE(s.ratio4To3);
    EXPECT_EQ(s.outputType, 1);

    // Values the page has no button for select none: TS output 3, menu
    // language 2, output type 7. The other two groups always have one.
    const SystemSettings odd = ReadSystemSettings(heldRecord(0xE8, 0x03));
    EXPECT_FALSE(odd.tsLength204);
    EXPECT_EQ(odd.tsOutput, -1);
    EXPECT_EQ(odd.language, -1);
    EXPECT_FALSE(odd.ratio4To3);
    EXPECT_EQ(odd.outputType, -1);
}

TEST(SystemSettings, PollingIntervalLivesInTheUpperBitsOfTheFirstWord)
{
    SystemRecord r = heldRecord();
    setWord(r, (99999u << 11) | 0x526);
    EXPECT_EQ(ReadSystemSettings(r).polling, 99999);
    setWord(r, 204800000u - 1);
    EXPECT_EQ(ReadSystemSettings(r).polling, 99999);
    setWord(r, 204800000u); // no valid interval: shown as 0
    EXPECT_EQ(ReadSystemSettings(r).polling, 0);
    setWord(r, 0xFFFFFFFFu);
    EXPECT_EQ(ReadSystemSettings(r).polling, 0);

    // Applying 99999 writes bits 11-31 and keeps the flag bits 0-10.
    const SystemRecord held = heldRecord();
    SystemSettings page = ReadSystemSettings(held);
    page.polling = 99999;
    const SystemRequest request = BuildSystemRequest(held, false, system_choice::Apply, page);
    ASSERT_TRUE(request.send);
    const uint32_t word = ReadLe32(request.bytes.data());
    EXPECT_EQ(word >> 11, 99999u);
    EXPECT_EQ(word & 0x7FF, ReadLe32(held.wire.data()) & 0x7FF);
    EXPECT_TRUE(std::equal(request.bytes.begin() + 4, request.bytes.end(), held.wire.begin() + 4));

    // Out of the spin edit's range is held to it rather than wrapping into
    // the flag bits.
    page.polling = 5000000;
    EXPECT_EQ(ReadLe32(WriteSystemSettings(held.wire, page).data()) >> 11, 99999u);
}

TEST(SystemSettings, ApplyChangesOnlyWhatThePageChanged)
{
    const SystemRecord held = heldRecord();
    SystemSettings page = ReadSystemSettings(held);

    // Unchanged settings send nothing.
    SystemRequest request = BuildSystemRequest(held, false, system_choice::Apply, page);
    EXPECT_FALSE(request.send);
    EXPECT_EQ(request.result, system_result::Ok);

    // 720P@60Hz: byte 0 bits 5-7 become 3, nothing else moves.
    page.outputType = 3;
    request = BuildSystemRequest(held, false, system_choice::Apply, page);
    ASSERT_TRUE(request.send);
    EXPECT_EQ(request.result, system_result::Ok);
    EXPECT_EQ(diff(held.wire, request.bytes),
              (std::vector<std::tuple<int, int, int>>{{0, 0x26, 0x66}}));

    // Every field at once: 188, De-Scrambled, Chinese, 16:9, 720P@50Hz.
    page = {false, 0, 0, false, 2, ReadSystemSettings(held).polling};
    request = BuildSystemRequest(held, false, system_choice::Apply, page);
    EXPECT_EQ(request.bytes[0], 0x40); // 010 0 00 0 0
    EXPECT_EQ(request.bytes[1], 0x00);
    EXPECT_EQ(ReadSystemSettings(SystemRecord{request.bytes}), page);

    // A group with nothing selected keeps the device's value.
    const SystemRecord odd = heldRecord(0xE8, 0x03);
    SystemSettings oddPage = ReadSystemSettings(odd);
    oddPage.ratio4To3 = true;
    request = BuildSystemRequest(odd, false, system_choice::Apply, oddPage);
    EXPECT_EQ(diff(odd.wire, request.bytes),
              (std::vector<std::tuple<int, int, int>>{{0, 0xE8, 0xEA}}));
}

TEST(SystemSettings, ResetAndSignalSourceSetOneBitAndAskForADisconnect)
{
    const SystemRecord held = heldRecord();
    const SystemSettings edited{false, 2, 0, false, 3, 7}; // page edits never go with them

    SystemRequest request = BuildSystemRequest(held, true, system_choice::Asi, edited);
    EXPECT_TRUE(request.send);
    EXPECT_EQ(request.result, system_result::Disconnect);
    EXPECT_EQ(diff(held.wire, request.bytes),
              (std::vector<std::tuple<int, int, int>>{{0, 0x26, 0x27}}));

    request = BuildSystemRequest(held, false, system_choice::Asi, edited);
    EXPECT_EQ(request.result, system_result::Disconnect);
    EXPECT_EQ(diff(held.wire, request.bytes),
              (std::vector<std::tuple<int, int, int>>{{0, 0x26, 0x36}}));

    request = BuildSystemRequest(heldRecord(0x36), false, system_choice::Satellite);
    EXPECT_EQ(request.bytes[0], 0x26);

    // Neither a choice of the page nor a held record: nothing to send.
    EXPECT_FALSE(BuildSystemRequest(held, false, 4).send);
    for (bool reset : {false, true}) {
        for (int choice : {0, 1, 9}) {
            request = BuildSystemRequest(std::nullopt, reset, choice, edited);
            EXPECT_FALSE(request.send);
            EXPECT_EQ(request.result, system_result::NoRecord);
        }
    }
}

TEST(SystemSettings, RequestsGoOutAsSetSystemInfoWithTheHeldRecord)
{
    LanguageScope language;
    FakeDatabaseHost host;
    ListManager db(host);
    EXPECT_EQ(SendSystemRequest(db, host, true, system_choice::Apply), system_result::NoRecord);
    EXPECT_TRUE(host.TakeRequests().empty());

    const SystemRecord held = heldRecord();
    db.StoreSystemRecord(held.wire.data(), held.wire.size());
    EXPECT_EQ(SendSystemRequest(db, host, true, system_choice::Apply), system_result::Disconnect);
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].code, msg::SetSystemInfo);
    SystemWire expected = held.wire;
    expected[0] |= 0x01;
    EXPECT_EQ(host.payloads[0], std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST(SystemSettings, VolumeCommandsAndDisplay)
{
    LanguageScope language;
    FakeDatabaseHost host;
    const std::pair<int, int> table[] = {{1, 0x0A}, {2, 0xF0}, {3, 0x7F}, {4, 0x05}, {5, 0x0A}};
    for (const auto& [action, byte] : table) {
        EXPECT_EQ(SendVolumeCommand(host, action), 0);
    }
    for (int action : {0, 6, -1}) {
        EXPECT_EQ(SendVolumeCommand(host, action), system_result::Unknown);
    }
    ASSERT_EQ(host.requests.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(host.requests[i],
                  (FakeDatabaseHost::Request{msg::SetVolume, table[i].second, 0}));
    }

    // Muted at 7: grey bar at 7, the button offers the sound back.
    const VolumeDisplay muted = MakeVolumeDisplay({7, 1});
    EXPECT_EQ(muted, (VolumeDisplay{7, true, 128, 128, 128, 109}));
    EXPECT_EQ(VolumeLogText({7, 1}), "Silence");
    const VolumeDisplay sounding = MakeVolumeDisplay({15, 0});
    EXPECT_EQ(sounding, (VolumeDisplay{15, false, 0, 255, 0, 110}));
    EXPECT_EQ(VolumeLogText({12, 0}), "Pronounce:volume12");
}
