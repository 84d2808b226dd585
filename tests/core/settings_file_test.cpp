#include "app/settings_file.h"
#include "log/address_text.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vireo;
namespace fs = std::filesystem;

namespace {

const std::string kExample = "[Address]\r\n"
                             "machine=y192.168.1.20:Studio A\r\n"
                             "machine=y192.168.1.21:\r\n"
                             "[LANGUAGE]\r\n"
                             "language=1\r\n"
                             "\r\n";

// A fresh folder per test, removed afterwards.
class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "vireo-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_dir);
    }

    fs::path file() const { return m_dir / kSettingsFileName; }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    fs::path m_dir;
};

void writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every machine must match its row: same position, caption address ':' name,
// tick as its auto-connect flag.
void expectConsistent(const SettingsReadResult& r)
{
    ASSERT_EQ(r.items.size(), r.machines.size());
    for (size_t i = 0; i < r.machines.size(); ++i) {
        const ChosenMachine& m = r.machines[i];
        EXPECT_EQ(m.index, static_cast<int>(i));
        EXPECT_TRUE(m.open);
        EXPECT_EQ(r.items[i].caption, m.address + ":" + m.name);
        EXPECT_EQ(r.items[i].checked, m.autoConnect);
    }
}

} // namespace

TEST(AddressText, ValidAndInvalid)
{
    for (const char* ok :
         {"192.168.1.20", "0.0.0.0", "255.255.255.255", "001.002.003.004", "10..0.1", "..."}) {
        EXPECT_TRUE(IsValidIPv4Text(ok)) << ok;
    }
    for (const char* bad :
         {"", "10.0.0.256", "10.0.0", "10.0.0.1.", "10.0.0.1 ", " 10.0.0.1", "a.b.c.d", "10.0.0.-1",
          "0001.0.0.0", "1.2.3.0255", "999.1.1.1", "10.0.0.1:", "1.1.1.1111111111111111111111"}) {
        EXPECT_FALSE(IsValidIPv4Text(bad)) << bad;
    }
}

TEST(NextLineStart, LineEnds)
{
    const struct
    {
        std::string data;
        size_t pos;
        size_t next;
    } cases[] = {
        {"ab\r\ncd", 0, 4}, {"ab\r\ncd", 4, 6},     {"", 0, 0},
        {"a\rb\r\n", 0, 5}, {"a\r\r\nx\r\n", 0, 7}, // the CR after a lone CR is not examined
        {"ab\r", 0, 3},     {"ab\r", 2, 3},         {"a\nb\r\n", 0, 5}, // LF alone ends nothing
        {"abc", 9, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NextLineStart(c.data, c.pos), c.next) << testing::PrintToString(c.data);
    }
}

TEST(ParseSettings, Cases)
{
    using Rows = std::vector<ListItem>;
    const std::string name20(20, 'N');
    const struct
    {
        const char* what;
        std::string data;
        Rows rows;
        int language;
    } cases[] = {
        {"example", kExample, {{"192.168.1.20:Studio A", true}, {"192.168.1.21:", true}}, 1},
        {"trailing zero byte",
         kExample + '\0',
         {{"192.168.1.20:Studio A", true}, {"192.168.1.21:", true}},
         1},
        {"empty", "", {}, 0},
        {"language first, last machine line ignored",
         "[LANGUAGE]\r\nlanguage=1\r\n[Address]\r\nmachine=n10.0.0.1:A\r\nmachine=y10.0.0.2:B\r\n",
         {{"10.0.0.1:A", false}},
         1},
        {"last line without line end",
         "[Address]\r\nmachine=y10.0.0.1:A\r\nmachine=y10.0.0.2:B",
         {{"10.0.0.1:A", true}},
         0},
        {"bad addresses skipped",
         "[Address]\r\nmachine=y10.0.0.256:X\r\nmachine=y10.0.0:X\r\nmachine=y10.0.0.1\r\n"
         "machine=y0010.0.0.1:X\r\nmachine=y0000000000000010.0.0.1:X\r\nmachine=\r\n"
         "machin=y10.0.0.3:X\r\nmachine=n10.0.0.4:ok\r\n[LANGUAGE]\r\n",
         {{"10.0.0.4:ok", false}},
         0},
        {"name limit, ':' in name, duplicates",
         "[Address]\r\nmachine=y10.0.0.1:" + name20 + "\r\nmachine=y10.0.0.1:" + name20 +
             "X\r\nmachine=n10.0.0.1:a:b\r\n[LANGUAGE]\r\n",
         {{"10.0.0.1:" + name20, true}, {"10.0.0.1:", true}, {"10.0.0.1:a:b", false}},
         0},
        {"other sections skipped",
         "junk\r\n[Other]\r\nmachine=y10.0.0.9:Z\r\nlanguage=1\r\n[Address]\r\n"
         "machine=y10.0.0.1:A\r\n[Other]\r\nmachine=y10.0.0.8:Z\r\n[LANGUAGE]\r\nlanguage=1\r\n",
         {{"10.0.0.1:A", true}},
         1},
        {"last language line wins", "[LANGUAGE]\r\nlanguage=1\r\nlanguage=0\r\n", {}, 0},
        {"language digit 2", "[LANGUAGE]\r\nlanguage=2\r\n", {}, 0},
        {"second language section wins",
         "[LANGUAGE]\r\nlanguage=0\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n",
         {},
         1},
        {"language line too short at the end", "[LANGUAGE]\r\nlanguage=1", {}, 0},
        {"LF line ends", "[Address]\nmachine=y10.0.0.1:A\n[LANGUAGE]\nlanguage=1\n", {}, 0},
        {"bare headers", "[Address][LANGUAGE]", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SettingsReadResult r = ParseSettings(c.data);
        EXPECT_TRUE(r.checkboxes);
        EXPECT_EQ(r.items, c.rows);
        EXPECT_EQ(r.languageIndex, c.language);
        expectConsistent(r);
    }
}

TEST(FormatSettings, BytesOfTheFile)
{
    EXPECT_EQ(FormatSettings({{"192.168.1.20:Studio A", true}, {"192.168.1.21:", true}}, 1),
              kExample);
    EXPECT_EQ(FormatSettings({{"10.0.0.2:b", false}, {"10.0.0.1:a", true}}, 0),
              "[Address]\r\nmachine=n10.0.0.2:b\r\nmachine=y10.0.0.1:a\r\n"
              "[LANGUAGE]\r\nlanguage=0\r\n\r\n");
    EXPECT_EQ(FormatSettings({}, 2), "[Address]\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n");
}

TEST(FormatSettings, LineBreakInCaptionCannotAddMachines)
{
    const std::string bytes =
        FormatSettings({{"10.0.0.1:a\r\nmachine=y10.0.0.2:", false}, {"10.0.0.3:\rc", false}}, 0);
    const SettingsReadResult r = ParseSettings(bytes);
    ASSERT_EQ(r.machines.size(), 2u);
    EXPECT_EQ(r.machines[0].address, "10.0.0.1");
    EXPECT_EQ(r.machines[1].name, " c");
}

TEST_F(SettingsFileTest, ExampleWrittenAndReadBack)
{
    ASSERT_TRUE(
        WriteSettingsFile(file(), {{"192.168.1.20:Studio A", true}, {"192.168.1.21:", true}}, 1));
    EXPECT_EQ(readBytes(file()), kExample);

    const SettingsReadResult r = ReadSettingsFile(file());
    EXPECT_TRUE(r.checkboxes);
    EXPECT_EQ(r.languageIndex, 1);
    EXPECT_EQ(r.machines, (std::vector<ChosenMachine>{{0, "192.168.1.20", true, true, "Studio A"},
                                                      {1, "192.168.1.21", true, true, ""}}));
    expectConsistent(r);
}

TEST_F(SettingsFileTest, ReadFailures)
{
    const struct
    {
        SettingsReadError error;
        const char* text;
    } cases[] = {
        {SettingsReadError::NoFile, "None of machine recorde!"},
        {SettingsReadError::OpenFailed, "Open file error!"},
        {SettingsReadError::BadHandle, "Read record file error!"},
        {SettingsReadError::SizeUnknown, "file size error!"},
        {SettingsReadError::ShortRead, "None of machine recorded!"},
    };
    for (const auto& c : cases) {
        const SettingsReadResult r = SettingsReadFailure(c.error);
        EXPECT_FALSE(r.checkboxes);
        EXPECT_EQ(r.items, (std::vector<ListItem>{{c.text, false}}));
        EXPECT_TRUE(r.machines.empty());
        EXPECT_EQ(r.languageIndex, 0);
    }

    const SettingsReadResult missing = SettingsReadFailure(SettingsReadError::NoFile);
    EXPECT_EQ(ReadSettingsFile(file()), missing);
    fs::create_directory(file());
    EXPECT_EQ(ReadSettingsFile(file()), missing);
    fs::remove(file());

    writeBytes(file(), "");
    EXPECT_EQ(ReadSettingsFile(file()), ParseSettings(""));
    if (::geteuid() != 0) { // the superuser reads any file
        writeBytes(file(), kExample);
        fs::permissions(file(), fs::perms::none);
        EXPECT_EQ(ReadSettingsFile(file()), missing);
    }
}

TEST_F(SettingsFileTest, ReplacesFileKeepingItsMode)
{
    writeBytes(file(), "old");
    fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteSettingsFile(file(), {{"10.0.0.1:a", false}}, 0));
    EXPECT_EQ(readBytes(file()), FormatSettings({{"10.0.0.1:a", false}}, 0));
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(), std::vector<std::string>{kSettingsFileName});
}

TEST_F(SettingsFileTest, WritesThroughALinkToTheFileItLeadsTo)
{
    fs::create_directory(m_dir / "shared");
    writeBytes(m_dir / "shared" / "site.ini", "old");
    fs::create_symlink(fs::path("shared") / "site.ini", file());
    ASSERT_TRUE(WriteSettingsFile(file(), {{"10.0.0.1:a", true}}, 1));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(readBytes(m_dir / "shared" / "site.ini"), FormatSettings({{"10.0.0.1:a", true}}, 1));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "shared"), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, FailedWriteKeepsOldFile)
{
    std::string reason;
    EXPECT_FALSE(WriteSettingsFile(m_dir / "missing" / kSettingsFileName, {}, 1, &reason));
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(reason, "cannot create a file in " + (m_dir / "missing").string() +
                          ": No such file or directory");

    // The target is a folder: nothing can replace it.
    fs::create_directory(file());
    EXPECT_FALSE(WriteSettingsFile(file(), {}, 1));
    EXPECT_TRUE(fs::is_directory(file()));
    EXPECT_EQ(entries(), std::vector<std::string>{kSettingsFileName});
    fs::remove(file());

    // The disk fills up in the middle of the write.
    writeBytes(file(), kExample);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<SettingsMachine> many(20, SettingsMachine{"10.0.0.1:some name", true});
    const bool written = WriteSettingsFile(file(), many, 0, &reason);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(reason, "cannot write " + file().string() + ": File too large");
    EXPECT_EQ(readBytes(file()), kExample);
    EXPECT_EQ(entries(), std::vector<std::string>{kSettingsFileName});

    if (::geteuid() != 0) { // the superuser writes into any folder
        fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(WriteSettingsFile(file(), many, 0));
        EXPECT_EQ(readBytes(file()), kExample);
        EXPECT_EQ(entries(), std::vector<std::string>{kSettingsFileName});
    }
}
