#include "link/message_code.h"
#include "snapshot/apply_journal.h"
#include "snapshot/apply_plan.h"
#include "snapshot/apply_verify.h"
#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vireo;
using Json = nlohmann::json;

namespace {

// Two satellites, three TPs, two TV programs and the system record, with
// gapped indices as a device holds them after years of edits.
Json baseDocument()
{
    return Json::parse(R"({
      "satellites": [
        {"index": 3, "prev": 255, "next": 7, "flags": 4, "lo_high": 10600, "lo_low": 9750,
         "name": "Astra 19.2E"},
        {"index": 7, "prev": 3, "next": 255, "flags": 0, "lo_high": 5150, "lo_low": 5150,
         "name": "中星6B"}],
      "transponders": [
        {"index": 10, "satellite": 3, "frequency": 11000, "symbol_rate": 27500,
         "modulation": 2, "pilot": 0, "polarisation": 1, "fec": 3, "label": "11000 H 27500"},
        {"index": 2, "satellite": 3, "frequency": 12000, "symbol_rate": 22000,
         "modulation": 0, "pilot": 1, "polarisation": 0, "fec": 4},
        {"index": 5, "satellite": 7, "frequency": 3840, "symbol_rate": 27500,
         "modulation": 2, "pilot": 0, "polarisation": 0, "fec": 2}],
      "tv": [
        {"index": 0, "link": 4, "next": 6, "tp": 10, "pcr_pid": 256, "video_pid": 256,
         "audio": [{"type": 1, "pid": 257}], "name": "News", "label": "P 001:  News"},
        {"index": 1, "link": 6, "next": 255, "tp": 5, "pcr_pid": 512, "video_pid": 512,
         "audio": [{"type": 4, "pid": 513}], "name": "CCTV"}],
      "radio": [],
      "system": "26050c00c0a80114ffffff000011223344550000"
    })");
}

Snapshot read(const Json& document)
{
    std::string error;
    const std::optional<Snapshot> s = ReadSnapshot(document.dump(), &error);
    EXPECT_TRUE(s.has_value()) << error;
    return s.value_or(Snapshot{});
}

// "section change fields" per difference, for compact expectations.
std::vector<std::string> summary(const SnapshotDiff& diff)
{
    std::vector<std::string> out;
    for (const DiffEntry& e : diff.entries) {
        std::string line = e.section + (e.change == DiffEntry::Change::OnlyInA   ? " a"
                                        : e.change == DiffEntry::Change::OnlyInB ? " b"
                                                                                 : " changed");
        if (e.change == DiffEntry::Change::Changed) {
            for (const FieldDiff& f : e.fields) {
                line += " " + f.field;
            }
        }
        out.push_back(line);
    }
    return out;
}

// Gives satellite 3 the index 40 and satellite 7 the index 1, every TP a new
// index, and lists everything the other way round.
void renumber(Json& d)
{
    for (Json& s : d["satellites"]) {
        s["index"] = s["index"] == 3 ? 40 : 1;
        s.erase("prev");
        s.erase("next");
    }
    std::reverse(d["satellites"].begin(), d["satellites"].end());
    const std::map<int, int> tps{{10, 200}, {2, 0}, {5, 77}};
    for (Json& t : d["transponders"]) {
        t["satellite"] = t["satellite"] == 3 ? 40 : 1;
        t["index"] = tps.at(t["index"].get<int>());
    }
    std::reverse(d["transponders"].begin(), d["transponders"].end());
    for (Json& p : d["tv"]) {
        p["tp"] = tps.at(p["tp"].get<int>());
    }
}

// Every number as text in hexadecimal, labels as the hexadecimal display
// mode writes them.
void hexadecimal(Json& d)
{
    std::function<void(Json&)> walk = [&](Json& j) {
        for (auto& [key, value] : j.items()) {
            if (value.is_number_integer()) {
                char text[16];
                std::snprintf(text, sizeof text, "0x%X", value.get<unsigned>());
                value = text;
            } else if (value.is_structured()) {
                walk(value);
            }
        }
    };
    walk(d);
    d["tv"][0]["label"] = "P 001:  News h";
}

} // namespace

TEST(SnapshotDiff, PairsRecordsByContent)
{
    struct Case
    {
        const char* what;
        std::function<void(Json&)> change;
        std::vector<std::string> expected;
        DiffOptions options = {};
    };
    DiffOptions appliedOnly;
    appliedOnly.appliedSystemOnly = true;
    const std::vector<Case> cases = {
        {"renumbered and reordered", renumber, {}},
        {"hexadecimal display mode", hexadecimal, {}},
        {"with a snapshot head",
         [](Json& d) {
             d["format"] = 1;
             d["taken_at"] = "2026-12-09T02:11:35Z";
             d["device"] = {{"address", "10.0.0.5"}, {"name", "Studio"}};
         },
         {}},
        // The trail byte of the last character differs: another name that
        // may look alike. Same LNB: the same satellite, renamed.
        {"name differs in one GBK byte, same LNB",
         [](Json& d) { d["satellites"][1]["name_hex"] = "d6d0d0c83642"; },
         {"satellites changed name"}},
        {"name differs in one GBK byte, other LNB",
         [](Json& d) {
             d["satellites"][1]["name_hex"] = "d6d0d0c83642";
             d["satellites"][1]["lo_high"] = 5750;
         },
         {"satellites a", "satellites b", "transponders a", "transponders b", "tv a", "tv b"}},
        {"renamed, the same orbital position and LNB",
         [](Json& d) { d["satellites"][0]["name"] = "SES Astra 1KX 19.2E"; },
         {"satellites changed name"}},
        // The same LNB settings are common to unrelated satellites.
        {"another satellite on the same LNB",
         [](Json& d) { d["satellites"][0]["name"] = "Eutelsat 16A 16.0E"; },
         {"satellites a", "satellites b", "transponders a", "transponders a", "transponders b",
          "transponders b", "tv a", "tv b"}},
        {"TP retuned",
         [](Json& d) { d["transponders"][0]["symbol_rate"] = 30000; },
         {"transponders changed symbol_rate"}},
        {"TP on the other polarisation",
         [](Json& d) { d["transponders"][0]["polarisation"] = 0; },
         {"transponders a", "transponders b", "tv a", "tv b"}},
        {"program's audio",
         [](Json& d) { d["tv"][0]["audio"][0]["pid"] = 258; },
         {"tv changed audio_1"}},
        {"polling and address",
         [](Json& d) { d["system"] = "26050d00c0a80115ffffff000011223344550000"; },
         {"system changed polling_interval ip"}},
        {"address only, applied settings compared",
         // Signal source and address differ; neither is applied.
         [](Json& d) { d["system"] = "36050c00c0a80115ffffff000011223344550000"; },
         {},
         appliedOnly},
    };
    const Snapshot a = read(baseDocument());
    for (const Case& c : cases) {
        Json b = baseDocument();
        c.change(b);
        EXPECT_EQ(summary(DiffSnapshots(a, read(b), c.options)), c.expected) << c.what;
    }
}

TEST(SnapshotDiff, NamesThatShowAlikeReadDifferentlyAndBadDocumentsAreRefused)
{
    // A lone lead byte shows as an escape; its bytes follow in hex.
    EXPECT_EQ(NameText("A\x81"), "\"A\\x81\" [4181]");
    EXPECT_EQ(NameText("News"), "\"News\"");

    std::string error;
    EXPECT_FALSE(ReadSnapshot("{\"satellites\": 3}", &error));
    EXPECT_NE(error.find("list"), std::string::npos);
    EXPECT_FALSE(ReadSnapshot("{\"satellites\": [{\"name\": \"x\"}]}", &error));
    EXPECT_NE(error.find("index"), std::string::npos);
    EXPECT_FALSE(ReadSnapshot("not json", &error));
    Json tooLong = baseDocument();
    tooLong["satellites"][0]["name"] = std::string(32, 'x');
    EXPECT_FALSE(ReadSnapshot(tooLong.dump(), &error));

    const std::string text =
        DiffText(DiffSnapshots(read(baseDocument()), Snapshot{}), "a.json", "b.json");
    EXPECT_NE(text.find("- only in a.json: \"Astra 19.2E\""), std::string::npos) << text;
    EXPECT_EQ(Json::parse(DiffJson(SnapshotDiff{}, "a", "b"))["same"], true);
}

TEST(ApplyPlan, KeepsWhatBothHoldAndDeletesLastCountingTheProgramsThatGo)
{
    Json device = baseDocument();
    // An extra satellite with a TP of its own, and two extra TPs under Astra,
    // one carrying a program.
    device["satellites"][1]["next"] = 9;
    device["satellites"].push_back(
        {{"index", 9}, {"prev", 7}, {"next", 255}, {"lo_high", 1}, {"name", "Old"}});
    device["transponders"].push_back({{"index", 12}, {"satellite", 3}, {"frequency", 10700}});
    device["transponders"].push_back({{"index", 30}, {"satellite", 3}, {"frequency", 10800}});
    device["transponders"].push_back({{"index", 31}, {"satellite", 9}, {"frequency", 10900}});
    device["tv"][1]["next"] = 7;
    device["tv"].push_back(
        {{"index", 2}, {"link", 7}, {"next", 255}, {"tp", 31}, {"name", "Gone"}});
    device["radio"].push_back(
        {{"index", 0}, {"link", 0}, {"next", 255}, {"tp", 12}, {"name", "Gone too"}});
    Json wanted = baseDocument();
    wanted["satellites"][0]["lo_low"] = 9700;
    wanted["satellites"][1]["next"] = 11;
    wanted["satellites"].push_back(
        {{"index", 11}, {"prev", 7}, {"next", 255}, {"lo_high", 2}, {"name", "New"}});
    wanted["transponders"].push_back({{"index", 0}, {"satellite", 11}, {"frequency", 4000}});
    wanted["transponders"][2]["fec"] = 1;
    wanted["transponders"][0]["symbol_rate"] = 30000; // retuned: kept, programs and all

    const ApplyPlan plan = PlanApply(read(wanted), read(device), apply_section::All);
    std::vector<std::pair<uint8_t, int>> steps; // code and the index the payload names
    for (const PlanStep& s : plan.steps) {
        steps.push_back({s.code, s.payload.at(s.code == msg::AddTp ? 1 : 0)});
    }
    const std::vector<std::pair<uint8_t, int>> expected = {
        {msg::SetSatellite, 3}, {msg::ModifyTp, 10},      {msg::ModifyTp, 5},
        {msg::AddSatellite, 0}, {msg::AddTp, kNoIndex},   {msg::DeleteTp, 30},
        {msg::DeleteTp, 12},    {msg::DeleteSatellite, 9}};
    EXPECT_EQ(steps, expected);
    EXPECT_TRUE(plan.steps[4].awaitsSatellite);
    EXPECT_EQ(plan.FirstStage().size(), 4u);
    // Changes in place go before an add that may renumber what they name.
    ApplyPlan twoAdds = plan;
    twoAdds.steps.insert(twoAdds.steps.begin() + 4, plan.steps[3]);
    EXPECT_EQ(twoAdds.FirstStage(true).size(), 4u);
    EXPECT_EQ(twoAdds.FirstStage(false).size(), 5u);
    EXPECT_TRUE(plan.problems.empty());
    EXPECT_EQ(plan.ProgramsLost(), 2u);
    EXPECT_EQ(plan.steps[6].programsLost, 1u);
    EXPECT_EQ(plan.steps[7].tpsLost, 1u);
    const PlanSummary sum = plan.Summary();
    EXPECT_EQ(SummaryText(sum), "satellites 1 added, 1 changed, 1 deleted; TPs 1 added, 2 changed, "
                                "3 deleted; system settings unchanged; 2 programs lost with "
                                "deleted TPs");
    // Deletes go one at a time, each planned from a fresh read.
    ApplyPlan deletesOnly = plan;
    deletesOnly.steps.erase(deletesOnly.steps.begin(), deletesOnly.steps.begin() + 5);
    EXPECT_EQ(deletesOnly.FirstStage().size(), 1u);

    // Without the satellites, the new satellite's TP cannot go anywhere.
    const ApplyPlan tpsOnly = PlanApply(read(wanted), read(device), apply_section::Transponders);
    ASSERT_EQ(tpsOnly.problems.size(), 1u);
    EXPECT_NE(tpsOnly.problems[0].find("\"New\" is not on the device"), std::string::npos);
    for (const PlanStep& s : tpsOnly.steps) {
        EXPECT_TRUE(s.code == msg::DeleteTp || s.code == msg::ModifyTp) << s.text;
    }
}

TEST(ApplyPlan, SystemSettingsNeverCarryNetworkSignalSourceOrReset)
{
    SystemRecord device;
    const uint8_t deviceBytes[20] = {0x11, 0x00, 0x0C, 0x00, 10,   0,    0,    5,    255, 0,
                                     0,    0,    0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 1,   0x42};
    std::copy(std::begin(deviceBytes), std::end(deviceBytes), device.wire.begin());
    SystemRecord wanted;
    wanted.wire.fill(0xFF);
    wanted.wire[0] = 0xEE; // ratio 4:3, English bits, 720P@60Hz, no reset, satellite source

    const SystemRecord out = AppliedSystem(device, wanted);
    EXPECT_EQ(out.wire[0], 0xFE); // the device's signal source (ASI) stays, reset clear
    EXPECT_EQ(out.wire[1], 0xFF);
    EXPECT_TRUE(std::equal(out.wire.begin() + 4, out.wire.begin() + 18, device.wire.begin() + 4));
    EXPECT_EQ(out.wire[18], 0);
    EXPECT_EQ(out.wire[19], 0x42);

    Snapshot a, b;
    a.system = device;
    b.system = device;
    b.system->wire[4] = 192; // only the address differs: nothing to send
    EXPECT_TRUE(PlanApply(b, a, apply_section::System).Empty());

    EXPECT_EQ(ParseApplySections("satellites,tps"),
              apply_section::Satellites | apply_section::Transponders);
    EXPECT_EQ(ParseApplySections("system"), apply_section::System);
    EXPECT_FALSE(ParseApplySections("network"));
    EXPECT_FALSE(ParseApplySections(""));
}

TEST(ApplyVerify, ProgramsBothSidesHeldAndTheDeviceLostDoNotMatch)
{
    const Snapshot before = read(baseDocument());
    Json lost = baseDocument();
    lost["tv"].erase(0); // "News" went with a TP deleted and added again
    lost["tv"][0]["index"] = 0;
    EXPECT_TRUE(VerifyApplied(before, before, before, apply_section::All).Empty());
    const SnapshotDiff diff = VerifyApplied(before, read(lost), before, apply_section::All);
    EXPECT_EQ(summary(diff), std::vector<std::string>{"tv a"});
    EXPECT_EQ(SharedProgramsHeld(before, read(lost), before), 1u);
    // A program the device never held is not asked of it.
    EXPECT_TRUE(VerifyApplied(before, read(lost), read(lost), apply_section::All).Empty());
    // Nor are programs when only the system settings were applied.
    EXPECT_TRUE(VerifyApplied(before, read(lost), before, apply_section::System).Empty());
}

// A group's steps are announced together; what the lines after it say of
// each decides whether it was taken, in flight or perhaps never sent. The
// same reading holds when the lines after the group never reached the disk
// and when the last line is torn.
TEST(ApplyJournal, GroupsReadBackAsTakenInFlightOrUnconfirmed)
{
    std::string folder = (std::filesystem::temp_directory_path() / "vireo-journal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    JournalHead head;
    head.address = "127.0.0.1";
    head.beforeState = folder + "/before.json";
    head.targetDocument = "{}";
    head.plan = {"a", "b", "c", "d"};
    std::string error;
    const std::string path = folder + "/run.journal";
    {
        const auto journal = ApplyJournal::Create(path, head, &error);
        ASSERT_TRUE(journal) << error;
        EXPECT_TRUE(journal->Intending(1, {"a"}));
        EXPECT_TRUE(journal->Sending(1) && journal->Done(1));
        EXPECT_TRUE(journal->Intending(2, {"b", "c", "d"}));
        EXPECT_TRUE(journal->Sending(2) && journal->Done(2) && journal->Sending(3));
    }
    std::string text;
    {
        std::ifstream in(path);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const size_t group = text.find("{\"from\":2");
    ASSERT_NE(group, std::string::npos);
    const size_t groupEnd = text.find('\n', group) + 1;
    struct Case
    {
        std::string text;
        std::vector<std::string> done, inDoubt, unconfirmed;
    };
    const std::vector<Case> cases = {
        {text + "{\"end\":\"sto", {"a", "b"}, {"c"}, {"d"}},
        {text.substr(0, groupEnd), {"a"}, {}, {"b", "c", "d"}},
    };
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::trunc) << c.text;
        const std::optional<JournalRecord> r = ReadApplyJournal(path, &error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r->head.plan, head.plan);
        EXPECT_EQ(r->done, c.done);
        EXPECT_EQ(r->inDoubt, c.inDoubt);
        EXPECT_EQ(r->unconfirmed, c.unconfirmed);
        EXPECT_TRUE(r->end.empty());
    }
    std::filesystem::remove_all(folder);
}
