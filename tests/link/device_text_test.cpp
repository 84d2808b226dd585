#include "core/temp_dir.h"
#include "database/list_manager.h"
#include "device/program_commands.h"
#include "dialogs/satellite_fields.h"
#include "link/message_code.h"
#include "live_device.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "snapshot/device_dump.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace vireo;
using namespace vireo::test;

namespace {

constexpr LinkTiming kFast{std::chrono::microseconds(20)};
constexpr const char* kAddress = "127.0.68.1";

bool hasControlByte(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

// An IRD whose names hold line breaks, a tab, terminal controls and half GBK
// characters, the first of them made to look like another device's log line.
// Log, trees and dump show them as data; the LNB Set of the satellite sends
// its own bytes back.
TEST(DeviceText, HostileNamesStayDataInLogTreeDumpAndSet)
{
    const std::string forged = "Evil\r\n(127.0.0.9:S) (2026-1-8 1";
    const std::string halfCharacter = "Ab\xB0\tZ\x1B[2J\x7F";
    const std::string satelliteName = "\tSat\r\xB0\n";
    sim::DeviceDatabase db = sim::GenerateDatabase({2, 3, 6, 2}, nullptr).value();
    db.satellites[0].name = satelliteName;
    db.tv[0].name = forged;
    db.tv[0].scrambled = 0;
    db.tv[1].name = halfCharacter;
    db.tv[1].scrambled = 0;
    db.radio[0].name = "\x01\xB0:";
    db.playing = {0, sim::kKindTv};

    TempDir logs;
    LiveDevice d(kAddress, "Lab\tA", db, sim::QuietOptions(), kFast, logs.path());
    ASSERT_TRUE(d.started);
    const std::shared_ptr<ListManager> manager = d.core.Database();
    // The signal report's line names the playing program.
    const std::string playingLine = "Play Program TV: P 001:  Evil\\r\\n(127.0.0.9:S) (2026-1-8 1 ";
    ASSERT_TRUE(WaitUntil([&] {
        const auto lines = d.pane.Lines();
        return manager->IsShown(item_kind::Tv) && manager->IsShown(item_kind::Radio) &&
               std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.starts_with(playingLine); });
    }));

    // Every program is one node whose text shows its name's bytes as escapes.
    for (int kind : {item_kind::Tv, item_kind::Radio}) {
        ProgramTree& tree = kind == item_kind::Tv ? d.core.TvTree() : d.core.RadioTree();
        std::lock_guard lock(manager->ProgramLock(kind));
        for (const auto& program : manager->Programs(kind)) {
            ASSERT_TRUE(tree.Exists(program->node));
            EXPECT_FALSE(hasControlByte(tree.Text(program->node))) << tree.Text(program->node);
        }
    }
    const TreeNodeId evilNode = [&] {
        std::lock_guard lock(manager->ProgramLock(item_kind::Tv));
        return manager->Programs(item_kind::Tv)[0]->node;
    }();
    EXPECT_EQ(d.core.TvTree().Text(evilNode), "P 001:  Evil\\r\\n(127.0.0.9:S) (2026-1-8 1");
    // Stored as the IRD sent it, shown with escapes.
    SatelliteWire stored{};
    {
        std::lock_guard lock(manager->SatelliteLock());
        const auto& satellites = manager->Satellites();
        const auto it = std::find_if(satellites.begin(), satellites.end(),
                                     [&](const auto& s) { return s->Name() == satelliteName; });
        ASSERT_NE(it, satellites.end());
        stored = (*it)->wire;
        EXPECT_EQ(d.core.TvTree().Text((*it)->tvNode), "\\tSat\\r\\xb0\\n");
        EXPECT_EQ(d.core.RadioTree().Text((*it)->radioNode), "\\tSat\\r\\xb0\\n");
    }

    // The dump is valid JSON, names are display text, and the simulator reads
    // the IRD's own bytes back from it.
    const std::string dump = DatabaseJson(*manager);
    const auto json = nlohmann::json::parse(dump);
    EXPECT_EQ(json["tv"][1]["name"], "Ab\\xb0\\tZ\\x1b[2J\\x7f");
    EXPECT_EQ(dump, sim::DatabaseToJson(d.irb.Database()));
    std::string error;
    const std::optional<sim::DeviceDatabase> back = sim::DatabaseFromJson(dump, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->satellites[0].name, satelliteName);
    EXPECT_EQ(back->tv[0].name, forged);
    EXPECT_EQ(back->tv[1].name, halfCharacter);
    EXPECT_EQ(back->radio[0].name, "\x01\xB0:");

    // Playing the second program logs its label as one line.
    ProgramCommands commands(d.core.Content());
    {
        std::lock_guard lock(manager->ProgramLock(item_kind::Tv));
        d.core.TvTree().SetSelected(manager->Programs(item_kind::Tv)[1]->node);
    }
    commands.Play(false);
    ASSERT_TRUE(d.pane.WaitFor("Play Program TV: P 002:  Ab\\xb0\\tZ\\x1b[2J\\x7f"));

    // LNB Set with the name left as shown sends the stored bytes back.
    SatelliteFields fields = SatelliteFieldsFromRecord(stored);
    fields.lnbPower = 1 - fields.lnbPower;
    const SatelliteRequest set = BuildSatelliteRequest(SatDialogMode::Set, stored, fields);
    ASSERT_TRUE(set.Ok());
    d.core.Content().SendRequest(msg::SetSatellite, 0, 0, set.record);
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::SetSatellite).empty(); }));
    const auto frame = d.framesOf(msg::SetSatellite).front();
    const size_t nameAt = 3 + SatelliteRecord::kHeaderSize;
    ASSERT_GT(frame.size(), nameAt + satelliteName.size());
    EXPECT_EQ(std::string(frame.begin() + nameAt, frame.begin() + nameAt + satelliteName.size()),
              satelliteName);
    EXPECT_EQ(frame[nameAt + satelliteName.size()], 0);

    // The log file holds one line per event, each ending CR CR LF, each with
    // the caption's display text as its tag, then the closing banner.
    d.core.Teardown();
    const size_t lineCount = d.core.LogPane().LineCount();
    d.core.LogPane().FlushOnClose();
    std::string file = readFile(logs.path() / (std::string(kAddress) + ".txt"));
    const std::string banner = std::string(kClosingBanner) + "\r\n\r\n";
    ASSERT_TRUE(file.ends_with(banner));
    file.resize(file.size() - banner.size());
    size_t lines = 0;
    for (size_t start = 0; start < file.size(); ++lines) {
        const size_t end = file.find("\r\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = file.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_TRUE(line.starts_with("(127.0.68.1:Lab\\tA) (")) << line;
        start = end + 3;
    }
    EXPECT_EQ(lines, lineCount);
}
