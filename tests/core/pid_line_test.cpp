#include "database/pid_line.h"
#include "lang/language_table.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vireo;

namespace {

// The first 20 bytes of a program record, built field by field.
struct Pids
{
    unsigned video = 0; // 16-bit words as on the wire, kind or type bits included
    unsigned audio[3] = {0, 0, 0};
    unsigned pcr = 0;
    unsigned teletext = 0;

    std::array<uint8_t, 20> Bytes() const
    {
        std::array<uint8_t, 20> record{};
        const auto put = [&](size_t offset, unsigned word) {
            record[offset] = static_cast<uint8_t>(word & 0xFF);
            record[offset + 1] = static_cast<uint8_t>(word >> 8);
        };
        record[0] = 4; // index and the other fields must not matter
        record[10] = 1;
        record[18] = 0xF1;
        put(4, pcr);
        put(6, video);
        put(8, teletext);
        put(12, audio[0]);
        put(14, audio[1]);
        put(16, audio[2]);
        return record;
    }
};

constexpr unsigned Typed(unsigned pid, unsigned type)
{
    return pid << 3 | type;
}

class PidLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    void TearDown() override { DestroyLanguageTable(); }
};

TEST_F(PidLineTest, FormatPidLabelsByKindAndWritesTheNumber)
{
    struct Case
    {
        int format;
        unsigned value;
        int kind;
        const char* expected;
    };
    const Case cases[] = {
        {1, 650, 1, "AUD PID:650d; "},      {2, 650, 1, "AUD PID:28ah; "},
        {1, 8191, 4, "AC3 PID:8191d; "},    {2, 8191, 4, "AC3 PID:1fffh; "},
        {2, 0xABC, 10, "VID PID:abch; "},   {1, 512, 11, "PCR PID:512d; "},
        {1, 65535, 11, "PCR PID:65535d; "}, {2, 0x20, 12, "TEL PID:20h; "},
        {1, 0, 10, "VID PID:0d; "},         {1, 5, 0, "Unkwon Audio PID:5d; "},
        {2, 5, 7, "Unkwon Audio PID:5h; "}, {1, 5, 13, "Unkwon Audio PID:5d; "},
        {0, 512, 10, "VID PID:"},           {3, 512, 11, "PCR PID:"},
        {-1, 512, 1, "AUD PID:"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatPid(c.format, c.value, c.kind), c.expected)
            << "format " << c.format << " value " << c.value << " kind " << c.kind;
    }
}

TEST(PidLineLanguageTest, LabelsComeFromTheActiveLanguage)
{
    DestroyLanguageTable();
    EXPECT_EQ(FormatPid(1, 512, 10), "512d; "); // no table yet: no label

    SetLanguageFlag(0);
    BuildLanguageTable();
    EXPECT_EQ(FormatPid(1, 512, 10), "\312\323\306\265PID:512d; ");
    EXPECT_EQ(FormatPid(2, 512, 4), "AC3 PID:200h; ");
    DestroyLanguageTable();
}

TEST_F(PidLineTest, BuildPidLineJoinsThePresentPidsInOrder)
{
    struct Case
    {
        const char* name;
        Pids pids;
        const char* decimal;
        const char* hex;
    };
    const Case cases[] = {
        {"video, one audio and PCR",
         {Typed(512, 1), {Typed(650, 1), 0, 0}, 512, 0},
         "VID PID:512d; AUD PID:650d; PCR PID:512d; ",
         "VID PID:200h; AUD PID:28ah; PCR PID:200h; "},
        {"no PID at all", {}, "", ""},
        {"everything, audio types AC3, untyped and plain",
         {Typed(0x100, 2), {Typed(0x101, 4), Typed(0x102, 0), Typed(0x103, 1)}, 0x1FFE, 0x1234},
         "VID PID:256d; AC3 PID:257d; Unkwon Audio PID:258d; AUD PID:259d; PCR PID:8190d; "
         "TEL PID:4660d; ",
         "VID PID:100h; AC3 PID:101h; Unkwon Audio PID:102h; AUD PID:103h; PCR PID:1ffeh; "
         "TEL PID:1234h; "},
        {"audio 2 alone", {0, {0, Typed(77, 1), 0}, 0, 0}, "AUD PID:77d; ", "AUD PID:4dh; "},
        {"audio 3 alone, type 7",
         {0, {0, 0, Typed(9, 7)}, 0, 0},
         "Unkwon Audio PID:9d; ",
         "Unkwon Audio PID:9h; "},
        // PID 0 with any kind bits and PID 0x1FFF count as absent.
        {"video word 7", {7, {}, 0, 0}, "", ""},
        {"video word 8", {8, {}, 0, 0}, "VID PID:1d; ", "VID PID:1h; "},
        {"video word 0xFFF7", {0xFFF7, {}, 0, 0}, "VID PID:8190d; ", "VID PID:1ffeh; "},
        {"video word 0xFFF8", {0xFFF8, {}, 0, 0}, "", ""},
        {"audio words 7 and 0xFFFF", {0, {7, 0xFFFF, 0xFFF8}, 0, 0}, "", ""},
        // PCR and teletext are whole 16-bit values, not shifted.
        {"PCR 0xFFFF, teletext 8",
         {0, {}, 0xFFFF, 8},
         "PCR PID:65535d; TEL PID:8d; ",
         "PCR PID:ffffh; TEL PID:8h; "},
        {"teletext 1 alone", {0, {}, 0, 1}, "TEL PID:1d; ", "TEL PID:1h; "},
    };
    for (const Case& c : cases) {
        const auto record = c.pids.Bytes();
        EXPECT_EQ(BuildPidLine(record.data(), 1), c.decimal) << c.name;
        EXPECT_EQ(BuildPidLine(record.data(), 2), c.hex) << c.name;
        // A line with numbers is never written without them.
        EXPECT_EQ(BuildPidLine(record.data(), 0), "") << c.name;
        EXPECT_EQ(BuildPidLine(record.data(), 3), "") << c.name;
    }
    EXPECT_EQ(BuildPidLine(nullptr, 1), "");
}

TEST_F(PidLineTest, TheFormatIsReadBackFromTheLine)
{
    struct Case
    {
        std::string_view text;
        int format;
    };
    const Case cases[] = {
        {"VID PID:512d; AUD PID:650d; PCR PID:512d; ", 1},
        {"VID PID:200h; AUD PID:28ah; PCR PID:200h; ", 2},
        {"PID:12D; ", 1},
        {"PID:ABH; ", 2},
        {"d; ", 1},
        {"h; ", 2},
        {"VID PID:", 0},
        {"VID PID:512d;", 0},
        {"abc", 0},
        {"d;", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PidLineFormat(c.text), c.format) << c.text;
    }

    // Whatever a line was built in is what comes back, in either language.
    const Pids sample{Typed(512, 1), {Typed(650, 4), 0, 0}, 0, 0x1FFF};
    for (const uint8_t flag : {1, 0}) {
        SetLanguageFlag(flag);
        BuildLanguageTable();
        for (const int format : {1, 2}) {
            EXPECT_EQ(PidLineFormat(BuildPidLine(sample.Bytes().data(), format)), format);
        }
    }
    // A program without PIDs has an empty line, which has no format.
    EXPECT_EQ(PidLineFormat(BuildPidLine(Pids{}.Bytes().data(), 2)), 0);
}

// Records the images each change reports.
class ImageLog : public ProgramTreeObserver
{
public:
    void BeginUpdate() override {}
    void EndUpdate() override {}
    void NodeAdded(const TreeNode&, TreeNodeId, size_t) override {}
    void NodeRemoved(TreeNodeId) override {}
    void NodeChanged(const TreeNode& node) override
    {
        images.push_back(node.image);
        states.push_back(node.stateImage);
    }
    void NodeExpanded(TreeNodeId, bool) override {}
    std::vector<int> images;
    std::vector<int> states;
};

TEST(SetNodeIconTest, EachCodeSetsItsImageOrStateImage)
{
    struct Case
    {
        int code;
        bool known;
        int image; // node starts with image 6 and state image 6
        int stateImage;
    };
    const Case cases[] = {
        {1, true, 0, -1}, {2, true, 1, -1},  {3, true, 2, 6},   {4, true, 3, 6},
        {5, true, 4, -1}, {13, true, 7, 6},  {14, true, 8, 6},  {8, true, 6, 9},
        {9, true, 6, 5},  {10, true, 6, -1}, {0, false, 6, 6},  {6, false, 6, 6},
        {7, false, 6, 6}, {11, false, 6, 6}, {12, false, 6, 6}, {15, false, 6, 6},
    };
    for (const Case& c : cases) {
        ProgramTree tree;
        const TreeNodeId id = tree.Add(kNoTreeNode, "node");
        tree.SetImage(id, 6);
        tree.SetStateImage(id, 6);
        EXPECT_EQ(SetNodeIcon(tree, c.code, id), c.known) << c.code;
        EXPECT_EQ(tree.Node(id).image, c.image) << c.code;
        EXPECT_EQ(tree.Node(id).stateImage, c.stateImage) << c.code;
    }
    ProgramTree empty;
    EXPECT_FALSE(SetNodeIcon(empty, 1, 1));
}

TEST(SetNodeIconTest, ModuleCodesClearTheImageFirst)
{
    for (const auto& [code, image] : {std::pair{13, 7}, std::pair{14, 8}}) {
        ProgramTree tree;
        const TreeNodeId id = tree.Add(kNoTreeNode, "program");
        tree.SetImage(id, image); // already showing it: the widget still redraws
        ImageLog log;
        tree.SetObserver(&log);
        SetNodeIcon(tree, code, id);
        EXPECT_EQ(log.images, (std::vector<int>{kNoTreeImage, image})) << code;
    }
}

TEST(ProgramImageTest, ByModuleStateAndTree)
{
    struct Case
    {
        int moduleState;
        bool radio;
        int image;
    };
    const Case cases[] = {
        {0, false, 2}, {0, true, 3}, {1, false, 8}, {1, true, 8},
        {2, false, 7}, {2, true, 7}, {3, false, 2}, {0xFF, true, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgramImage(c.moduleState, c.radio), c.image)
            << c.moduleState << (c.radio ? " radio" : " tv");
    }
}

TEST_F(PidLineTest, SwitchPidFormatRewritesTheSelectedLine)
{
    ProgramTree tree;
    const auto record = Pids{Typed(512, 1), {Typed(650, 1), 0, 0}, 512, 0}.Bytes();
    const TreeNodeId sat = tree.Add(kNoTreeNode, "Asiasat", TreeNodeData::Satellite);
    const TreeNodeId tp = tree.Add(sat, "3840 H 27500", TreeNodeData::Tp);
    const TreeNodeId program = tree.Add(tp, "P 005:$ News", TreeNodeData::Program);
    const TreeNodeId line = tree.Add(program, BuildPidLine(record.data(), 1));

    // Only a selected child of a program, and only with a record.
    EXPECT_FALSE(SwitchPidFormat(tree, 2, record.data()));
    tree.SetSelected(program);
    EXPECT_FALSE(SwitchPidFormat(tree, 2, record.data()));
    EXPECT_EQ(tree.Text(program), "P 005:$ News");
    tree.SetSelected(line);
    EXPECT_FALSE(SwitchPidFormat(tree, 2, nullptr));
    EXPECT_EQ(tree.Text(line), "VID PID:512d; AUD PID:650d; PCR PID:512d; ");

    EXPECT_TRUE(SwitchPidFormat(tree, 2, record.data()));
    EXPECT_EQ(tree.Text(line), "VID PID:200h; AUD PID:28ah; PCR PID:200h; ");
    EXPECT_EQ(PidLineFormat(tree.Text(line)), 2);
    EXPECT_TRUE(SwitchPidFormat(tree, 1, record.data()));
    EXPECT_EQ(tree.Text(line), "VID PID:512d; AUD PID:650d; PCR PID:512d; ");
    EXPECT_TRUE(SwitchPidFormat(tree, 5, record.data()));
    EXPECT_EQ(tree.Text(line), "");
}

} // namespace
