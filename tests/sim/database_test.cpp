// The simulator's device database: consistency rules, edits, the JSON file,
// the generator and GBK names.

#include "lang/gbk_text.h"
#include "sim/database_edits.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"

#include <functional>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::sim;

namespace {

// Numbered 0, 1, 2...: these tests follow the device's index arithmetic.
DeviceDatabase generated(DatabaseSize size, Numbering numbering = Numbering::Dense)
{
    std::string error;
    auto db = GenerateDatabase(size, &error, numbering);
    EXPECT_TRUE(db) << error;
    return db.value_or(DeviceDatabase{});
}

} // namespace

TEST(DeviceDatabaseCheck, EachBrokenRuleIsReported)
{
    const DeviceDatabase good = generated({3, 6, 5, 3});
    ASSERT_TRUE(CheckDatabase(good).empty());
    const std::pair<const char*, std::function<void(DeviceDatabase&)>> breaks[] = {
        {"satellite next", [](DeviceDatabase& db) { db.satellites[0].next = 2; }},
        {"satellite first prev", [](DeviceDatabase& db) { db.satellites[0].prev = 1; }},
        {"satellite index twice", [](DeviceDatabase& db) { db.satellites[2].index = 0; }},
        {"satellite index 0xFF", [](DeviceDatabase& db) { db.satellites[2].index = kNone; }},
        {"transponder last next", [](DeviceDatabase& db) { db.transponders[5].next = 0; }},
        {"transponder of no satellite",
         [](DeviceDatabase& db) { db.transponders[1].satellite = 9; }},
        {"program out of place", [](DeviceDatabase& db) { std::swap(db.tv[1], db.tv[2]); }},
        {"program next link", [](DeviceDatabase& db) { db.tv[1].next = db.tv[1].link; }},
        {"program last next link", [](DeviceDatabase& db) { db.radio[2].next = 0; }},
        {"link twice", [](DeviceDatabase& db) { db.radio[1].link = db.radio[0].link; }},
        {"program of no transponder", [](DeviceDatabase& db) { db.tv[4].tp = 40; }},
        {"name too long", [](DeviceDatabase& db) { db.satellites[1].name.assign(32, 'x'); }},
        {"name with NUL", [](DeviceDatabase& db) { db.tv[0].name = std::string("a\0b", 3); }},
        {"playing missing",
         [](DeviceDatabase& db) {
             db.playing = {7, kKindRadio};
         }},
        {"playing of no kind",
         [](DeviceDatabase& db) {
             db.playing = {0, 3};
         }},
        {"volume", [](DeviceDatabase& db) { db.volume.level = 16; }},
        {"video PID", [](DeviceDatabase& db) { db.tv[0].videoPid = 0x2000; }},
    };
    for (const auto& [what, breakIt] : breaks) {
        DeviceDatabase db = good;
        breakIt(db);
        EXPECT_FALSE(CheckDatabase(db).empty()) << what;
    }
}

TEST(DeviceDatabaseCheck, LabelsAreTheManagersTreeTexts)
{
    Transponder tp;
    tp.frequency = 1234;
    tp.symbolRate = 567;
    tp.polarisation = 1;
    EXPECT_EQ(TransponderLabel(tp), "1234 H 567");
    tp.polarisation = 0;
    EXPECT_EQ(TransponderLabel(tp), "1234 V 567");
    Program p;
    p.index = 4;
    p.scrambled = 1;
    p.name = "News";
    EXPECT_EQ(ProgramLabel(p), "P 005:$ News");
    p.name.assign(31, 'n');
    p.scrambled = 0;
    EXPECT_EQ(ProgramLabel(p).size(), 39u);
}

TEST(DatabaseEdits, DeletesCascadeRenumberAndKeepLinks)
{
    DeviceDatabase db = generated({3, 6, 8, 4});
    // TV programs sit on transponders 0 0 1 2 3 3 4 5; play the one at index 6.
    db.playing = {6, kKindTv};
    const uint8_t linkOf7 = db.tv[7].link;

    ASSERT_TRUE(DeleteTransponder(db, 3));
    EXPECT_TRUE(CheckDatabase(db).empty());
    EXPECT_EQ(db.tv.size(), 6u);
    EXPECT_EQ(db.playing, (Playing{4, kKindTv})); // renumbered with its list
    EXPECT_EQ(db.tv[5].link, linkOf7);            // links stay, indices move
    EXPECT_EQ(db.tv[4].next, linkOf7);
    EXPECT_FALSE(DeleteTransponder(db, 3));

    ASSERT_TRUE(DeleteProgram(db, kKindTv, 4));
    EXPECT_EQ(db.playing, Playing{}); // the playing program went
    EXPECT_FALSE(DeleteProgram(db, 3, 0));

    ASSERT_TRUE(DeleteSatellite(db, 0));
    EXPECT_TRUE(CheckDatabase(db).empty());
    for (const Transponder& t : db.transponders) {
        EXPECT_NE(t.satellite, 0);
    }
    EXPECT_EQ(db.satellites.front().prev, kNone);
}

TEST(DatabaseEdits, AddsTakeTheLowestFreeIndexAndGroupBySatellite)
{
    DeviceDatabase db = generated({3, 3, 0, 0}); // one transponder per satellite
    ASSERT_TRUE(DeleteTransponder(db, 1));
    Transponder tp;
    tp.satellite = 0;
    EXPECT_EQ(AddTransponder(db, tp), std::optional<uint8_t>(1));
    EXPECT_EQ(db.transponders[1].index, 1);
    EXPECT_EQ(db.transponders[1].satellite, 0);
    tp.satellite = 1; // has none now: goes before satellite 2's
    EXPECT_EQ(AddTransponder(db, tp), std::optional<uint8_t>(3));
    EXPECT_EQ(db.transponders[2].index, 3);
    EXPECT_TRUE(CheckDatabase(db).empty());
    tp.satellite = 7;
    EXPECT_FALSE(AddTransponder(db, tp));

    DeviceDatabase full = generated({255, 0, 0, 0});
    EXPECT_FALSE(AddSatellite(full, Satellite{}));
    ASSERT_TRUE(DeleteSatellite(full, 100));
    EXPECT_EQ(AddSatellite(full, Satellite{}), std::optional<uint8_t>(100));
    EXPECT_EQ(full.satellites.back().index, 100);
    EXPECT_TRUE(CheckDatabase(full).empty());
}

TEST(DatabaseEdits, VolumeCommandsStayInRange)
{
    Volume v{15, false};
    ApplyVolumeCommand(v, 0x0A);
    EXPECT_EQ(v, (Volume{15, false}));
    ApplyVolumeCommand(v, 0xF0);
    EXPECT_TRUE(v.muted);
    Volume low{0, true};
    ApplyVolumeCommand(low, 0x05);
    ApplyVolumeCommand(low, 0x7F);
    EXPECT_EQ(low, (Volume{0, false}));
    ApplyVolumeCommand(low, 0x33);
    EXPECT_EQ(low, (Volume{0, false}));
}

TEST(DatabaseJson, GeneratedDatabaseSurvivesTheRoundTrip)
{
    for (const DatabaseSize& size : {DatabaseSize{0, 0, 0, 0}, DatabaseSize{6, 40, 60, 20},
                                     DatabaseSize{255, 255, 255, 255}}) {
        const DeviceDatabase db = generated(size);
        const std::string text = DatabaseToJson(db);
        std::string error;
        const std::optional<DeviceDatabase> back = DatabaseFromJson(text, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(*back, db);
        EXPECT_EQ(DatabaseToJson(*back), text);
    }
}

TEST(DatabaseJson, WritesTheSchemaInItsOrderWithUtf8Names)
{
    const DeviceDatabase db = generated({3, 3, 2, 1});
    const nlohmann::ordered_json json = DatabaseToJsonValue(db);
    std::vector<std::string> keys;
    for (const auto& item : json.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"satellites", "transponders", "tv", "radio",
                                              "playing", "system", "volume", "version"}));
    std::vector<std::string> programKeys;
    for (const auto& item : json["tv"][0].items()) {
        programKeys.push_back(item.key());
    }
    EXPECT_EQ(programKeys,
              (std::vector<std::string>{"index", "link", "next", "tp", "pcr_pid", "video_pid",
                                        "teletext_pid", "scrambled", "module", "audio",
                                        "audio_choice", "name", "label"}));
    EXPECT_EQ(json["satellites"][2]["name"], "中星6B 115.5E");
    EXPECT_EQ(db.satellites[2].name.substr(0, 2), "\xD6\xD0"); // 中 in GBK
    EXPECT_EQ(json["tv"][0]["label"], "P 001:  CCTV-1 综合");
    EXPECT_EQ(json["transponders"][0]["label"], "10714 H 27500");
    EXPECT_EQ(json["system"], "04800c00c0a80164ffffff00001ca53e00010000");
    EXPECT_EQ(json["tv"][0]["audio"].size(), 3u);
}

TEST(DatabaseJson, ReadsHandWrittenFilesAndRefusesBadOnes)
{
    const std::string minimal = R"({
      "satellites": [{"index": 4, "name": "Astra 19.2E"}, {"index": 1, "name": "亚太7号"}],
      "transponders": [{"index": 0, "satellite": 1, "frequency": 3840, "symbol_rate": 27500}],
      "tv": [{"link": 9, "tp": 0, "video_pid": "0x1FF", "audio": [{"type": 4, "pid": 514}],
              "name": "Test", "label": "ignored"}],
      "playing": {"index": 0, "kind": 1},
      "volume": {"level": 3, "muted": true}
    })";
    std::string error;
    const std::optional<DeviceDatabase> db = DatabaseFromJson(minimal, &error);
    ASSERT_TRUE(db) << error;
    EXPECT_EQ(db->satellites[0].next, 1);
    EXPECT_EQ(db->satellites[1].prev, 4);
    EXPECT_EQ(db->tv[0].videoPid, 0x1FF);
    EXPECT_EQ(db->tv[0].next, kNone);
    EXPECT_EQ(db->tv[0].audio[0], (Audio{4, 514}));
    EXPECT_EQ(db->tv[0].audio[1], Audio{});
    EXPECT_EQ(db->volume, (Volume{3, true}));

    const std::pair<std::string, const char*> bad[] = {
        {R"({"satelites": []})", "unknown key"},
        {R"({"tv": [{"tp": 0, "name": "x"}]})", "\"link\" is missing"},
        {R"({"satellites": [{"index": 0, "name": "中央电视台综合频道高清国际版本12"}]})",
         "at most 31"},
        {R"({"satellites": [{"index": 256, "name": "x"}]})", "from 0 to 255"},
        {R"({"satellites": [{"index": 0, "prev": 255, "next": 7, "name": "x"}]})", "next index 7"},
        {R"({"system": "0011"})", "40 hexadecimal"},
        {R"({"version": [1, 2, 3]})", "4 numbers"},
        {R"({"satellites": [)", "not valid JSON"},
        {R"({"satellites": [{"index": 0, "name_hex": "410"}]})", "in hexadecimal"},
        {R"({"satellites": [{"index": 0, "name_hex": "41000d"}]})", "NUL"},
    };
    for (const auto& [text, reason] : bad) {
        error.clear();
        EXPECT_FALSE(DatabaseFromJson(text, &error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(DatabaseGenerator, MaximalDatabaseIsConsistentWithEdgeCaseNames)
{
    const DeviceDatabase db = generated({255, 255, 255, 255});
    EXPECT_TRUE(CheckDatabase(db).empty());
    EXPECT_EQ(db, generated({255, 255, 255, 255})); // the same every time

    auto hasFullName = [](const auto& list, bool gbk) {
        return std::any_of(list.begin(), list.end(), [gbk](const auto& r) {
            return r.name.size() == kMaxNameBytes &&
                   (static_cast<unsigned char>(r.name[0]) >= 0x81) == gbk;
        });
    };
    for (bool gbk : {false, true}) {
        EXPECT_TRUE(hasFullName(db.satellites, gbk));
        EXPECT_TRUE(hasFullName(db.tv, gbk));
        EXPECT_TRUE(hasFullName(db.radio, gbk));
    }
    // Link numbers are not the indices, and every name came through GBK.
    EXPECT_TRUE(std::any_of(db.tv.begin(), db.tv.end(),
                            [](const Program& p) { return p.link != p.index; }));
    for (const auto* list : {&db.tv, &db.radio}) {
        for (const Program& p : *list) {
            EXPECT_NE(p.name, "?");
            EXPECT_EQ(Utf8ToGbk(GbkToUtf8(p.name)), p.name);
        }
    }
}

TEST(DatabaseGenerator, NumbersLeaveGapsAndListOrderIsNotIndexOrder)
{
    for (const DatabaseSize size : {DatabaseSize{1, 5, 10, 0}, DatabaseSize{40, 200, 200, 60},
                                    DatabaseSize{255, 255, 255, 255}}) {
        const DeviceDatabase db = generated(size, Numbering::Gaps);
        EXPECT_TRUE(CheckDatabase(db).empty());
        EXPECT_EQ(db.satellites.size(), size.satellites);
        const auto dense = [](const auto& list) {
            for (size_t i = 0; i < list.size(); ++i) {
                if (list[i].index != i) {
                    return false;
                }
            }
            return true;
        };
        EXPECT_FALSE(dense(db.satellites)) << size.satellites;
        if (size.satellites < kMaxItems) {
            EXPECT_FALSE(dense(db.transponders));
        }
        EXPECT_TRUE(dense(db.tv)); // program indices are positions on every device
    }
}

TEST(DatabaseGenerator, RefusesImpossibleSizes)
{
    std::string error;
    EXPECT_FALSE(GenerateDatabase({256, 0, 0, 0}, &error));
    EXPECT_FALSE(GenerateDatabase({0, 1, 0, 0}, &error));
    EXPECT_FALSE(GenerateDatabase({1, 0, 0, 1}, &error));
    EXPECT_EQ(ParseDatabaseSize("3,4,5,6").value().radio, 6u);
    for (const char* text : {"3,4,5", "3,4,5,6,7", "3,-4,5,6", "a,b,c,d", "3,4,5,6x"}) {
        EXPECT_FALSE(ParseDatabaseSize(text)) << text;
    }
}

TEST(GbkText, ConvertsCutsOnCharacterBoundariesAndMarksBadBytes)
{
    EXPECT_EQ(Utf8ToGbk("中国"), std::optional<std::string>("\xD6\xD0\xB9\xFA"));
    EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80")); // an emoji has no GBK form
    EXPECT_EQ(GbkToUtf8("A\xFF"
                        "B"),
              "A\xEF\xBF\xBD"
              "B");
    const std::string name = "x\xD6\xD0\xB9\xFA"; // x中国
    EXPECT_EQ(CutGbk(name, 4), "x\xD6\xD0");
    EXPECT_EQ(CutGbk(name, 5), name);

    // A satellite record whose name fills all 32 bytes loses the split character.
    std::array<uint8_t, 40> record{};
    record[8] = 'A';
    for (size_t i = 9; i + 1 < 39; i += 2) {
        record[i] = 0xD6;
        record[i + 1] = 0xD0;
    }
    record[39] = 0xD6; // 'A' then 15.5 characters
    EXPECT_EQ(DecodeSatellite(record.data()).name.size(), 31u);
}
