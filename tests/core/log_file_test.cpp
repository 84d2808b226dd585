#include "log/log_buffer.h"
#include "log/log_file.h"
#include "temp_dir.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <thread>

using namespace vireo;

namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Lines as the file stores them: the prefix is checked by shape, the message exactly.
const std::regex kLineShape(R"(\(([^)]*)\) \(\d{4}-\d{1,2}-\d{1,2} \d\d:\d\d:\d\d\): (.*))");

class RecordingPane : public LogPaneObserver
{
public:
    void OnLogLineAdded(const std::string& line) override { lines.push_back(line); }
    void OnLogCleared() override
    {
        lines.clear();
        ++clears;
    }
    std::vector<std::string> lines;
    int clears = 0;
};

} // namespace

TEST(LogPrefix, FormatAndCaptionAddress)
{
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    // 2008-05-12 09:03:07 UTC
    const auto when = std::chrono::system_clock::from_time_t(1210582987);
    EXPECT_EQ(FormatLogPrefix("192.168.1.20:Studio A", when),
              "(192.168.1.20:Studio A) (2008-5-12 09:03:07): ");
    EXPECT_EQ(FormatLogPrefix("", when), "() (2008-5-12 09:03:07): ");
    if (oldTz) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    EXPECT_EQ(CaptionAddress("192.168.1.5:Studio"), "192.168.1.5");
    EXPECT_EQ(CaptionAddress("192.168.1.5:"), "192.168.1.5");
    EXPECT_EQ(CaptionAddress("10.0.0.1:a:b"), "10.0.0.1");
    EXPECT_EQ(CaptionAddress("no-colon"), "no-colon");
}

TEST(AppendLogFile, ResultsAndTextModeBytes)
{
    TempDir dir;
    const auto logs = dir.path() / "Logs";
    EXPECT_EQ(AppendLogFile("a\r\n", "10.0.0.1", false, logs), AppendLogResult::NoLogsFolder);
    EXPECT_FALSE(std::filesystem::exists(logs));

    std::filesystem::create_directory(logs);
    EXPECT_EQ(AppendLogFile("one\r\ntwo\r\n", "10.0.0.1", false, logs), AppendLogResult::Written);
    EXPECT_EQ(AppendLogFile("three\r\n", "10.0.0.1", true, logs), AppendLogResult::Written);
    EXPECT_EQ(readFile(logs / "10.0.0.1.txt"),
              "one\r\r\ntwo\r\r\nthree\r\r\n"
              "**********Closing Here**********Closing Here**********\r\n\r\n");

    // A file name that would leave the folder is refused.
    EXPECT_EQ(AppendLogFile("x", "../evil", false, logs), AppendLogResult::CannotOpen);
    EXPECT_EQ(AppendLogFile("x", "", false, logs), AppendLogResult::CannotOpen);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "evil.txt"));

    // A folder in place of the file cannot be opened.
    std::filesystem::create_directory(logs / "10.0.0.2.txt");
    EXPECT_EQ(AppendLogFile("x", "10.0.0.2", false, logs), AppendLogResult::CannotOpen);
}

TEST(AppendLogFile, AFullFileIsRotatedKeepingOneEarlierFileBesideIt)
{
    TempDir dir;
    const auto logs = dir.path() / "Logs";
    std::filesystem::create_directory(logs);
    const std::string batch(40, 'x');
    for (int n = 0; n < 3; ++n) { // 40, 80, 120 bytes: the third batch fills it
        EXPECT_EQ(AppendLogFile(batch, "10.0.0.1", false, logs, 100), AppendLogResult::Written);
    }
    EXPECT_EQ(readFile(logs / "10.0.0.1.txt").size(), 120u); // batches are never split
    AppendLogFile("fourth", "10.0.0.1", false, logs, 100);
    EXPECT_EQ(readFile(logs / "10.0.0.1.txt"), "fourth");
    EXPECT_EQ(readFile(logs / RotatedLogName("10.0.0.1")).size(), 120u);
    for (int n = 0; n < 3; ++n) {
        AppendLogFile(batch, "10.0.0.1", false, logs, 100);
    }
    AppendLogFile("seventh", "10.0.0.1", false, logs, 100);
    // Only the one earlier file is kept: the second rotation replaced it.
    EXPECT_EQ(readFile(logs / RotatedLogName("10.0.0.1")), "fourth" + batch + batch + batch);
    EXPECT_EQ(readFile(logs / "10.0.0.1.txt"), "seventh");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(logs),
                            std::filesystem::directory_iterator()),
              2);
}

TEST(LogBuffer, ClosedWindowWritesItsLinesThenTheBanner)
{
    TempDir dir;
    const auto logs = dir.path() / "Logs";
    std::filesystem::create_directory(logs);
    {
        LogBuffer log("192.168.1.5:Studio", logs);
        log.AddLogLine("Begin connect remote port");
        log.AddLogLine("Connect successfully");
        log.AddLogLine("Disconnect successfully");
        EXPECT_EQ(log.LineCount(), 3u);
        log.FlushOnClose();
        EXPECT_EQ(log.LineCount(), 0u);
        log.FlushOnClose(); // an empty pane writes nothing, not even the banner
    }
    const std::string file = readFile(logs / "192.168.1.5.txt");
    const std::string banner = "**********Closing Here**********Closing Here**********\r\n\r\n";
    ASSERT_GE(file.size(), banner.size());
    EXPECT_EQ(file.substr(file.size() - banner.size()), banner);

    const std::string body = file.substr(0, file.size() - banner.size());
    const char* expected[] = {"Begin connect remote port", "Connect successfully",
                              "Disconnect successfully"};
    size_t pos = 0;
    for (const char* message : expected) {
        const size_t end = body.find("\r\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::smatch m;
        const std::string line = body.substr(pos, end - pos);
        ASSERT_TRUE(std::regex_match(line, m, kLineShape)) << line;
        EXPECT_EQ(m[1], "192.168.1.5:Studio");
        EXPECT_EQ(m[2], message);
        pos = end + 3;
    }
    EXPECT_EQ(pos, body.size());

    // Reopening the same address appends after the earlier banner.
    LogBuffer again("192.168.1.5:Other", logs);
    again.AddLogLine("Begin monitoring");
    again.FlushOnClose();
    const std::string grown = readFile(logs / "192.168.1.5.txt");
    EXPECT_EQ(grown.substr(0, file.size()), file);
    EXPECT_NE(grown.find("(192.168.1.5:Other)", file.size()), std::string::npos);
}

TEST(LogBuffer, FlushesAtFiveHundredLines)
{
    TempDir dir;
    const auto logs = dir.path() / "Logs";
    std::filesystem::create_directory(logs);
    RecordingPane pane;
    LogBuffer log("10.1.1.1:X", logs);
    log.SetObserver(&pane);
    for (int i = 0; i < 499; ++i) {
        log.AddLogLine("line " + std::to_string(i));
    }
    EXPECT_FALSE(std::filesystem::exists(logs / "10.1.1.1.txt"));
    EXPECT_EQ(pane.lines.size(), 499u);

    log.AddLogLine("line 499");
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(pane.lines.size(), 0u);
    EXPECT_EQ(pane.clears, 1);
    const std::string file = readFile(logs / "10.1.1.1.txt");
    size_t count = 0;
    for (size_t p = file.find("\r\r\n"); p != std::string::npos; p = file.find("\r\r\n", p + 3)) {
        ++count;
    }
    EXPECT_EQ(count, 500u);
    EXPECT_EQ(file.find("Closing Here"), std::string::npos);
    EXPECT_NE(file.find("line 0\r\r\n"), std::string::npos);
    EXPECT_NE(file.find("line 499\r\r\n"), std::string::npos);
}

TEST(LogBuffer, MissingFolderDiscardsTheBatch)
{
    TempDir dir;
    RecordingPane pane;
    LogBuffer log("10.1.1.2:X", dir.path() / "Logs");
    log.SetObserver(&pane);
    for (size_t i = 0; i < LogBuffer::kFlushLines; ++i) {
        log.AddLogLine("x");
    }
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(pane.clears, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Logs"));
}

TEST(LogBuffer, LinesFromTwoThreadsAreNeitherLostNorInterleaved)
{
    TempDir dir;
    const auto logs = dir.path() / "Logs";
    std::filesystem::create_directory(logs);
    LogBuffer log("10.1.1.3:X", logs);
    constexpr int kPerThread = 1249; // 2498 lines: four full batches and a closing one
    auto writer = [&log](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            log.AddLogLine(std::string(40, tag) + std::to_string(i));
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    log.FlushOnClose();

    const std::string file = readFile(logs / "10.1.1.3.txt");
    int countA = 0;
    int countB = 0;
    size_t pos = 0;
    for (size_t end = file.find("\r\r\n"); end != std::string::npos;
         end = file.find("\r\r\n", pos)) {
        const std::string line = file.substr(pos, end - pos);
        pos = end + 3;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLineShape)) << line;
        const std::string message = m[2];
        if (message.rfind(std::string(40, 'a'), 0) == 0) {
            EXPECT_EQ(message, std::string(40, 'a') + std::to_string(countA++));
        } else {
            EXPECT_EQ(message, std::string(40, 'b') + std::to_string(countB++));
        }
    }
    EXPECT_EQ(countA, kPerThread);
    EXPECT_EQ(countB, kPerThread);
    EXPECT_EQ(file.substr(pos), "**********Closing Here**********Closing Here**********\r\n\r\n");
}
