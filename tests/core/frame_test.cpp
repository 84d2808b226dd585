#include "link/crc16.h"
#include "link/frame_splitter.h"
#include "link/message_code.h"
#include "link/request_frame.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vireo;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frameOf(uint8_t code, const Bytes& payload)
{
    Bytes f(payload.size() + 6);
    std::copy(payload.begin(), payload.end(), f.begin() + 3);
    FinishFrame(f.data(), code, static_cast<uint8_t>(payload.size() + 2));
    return f;
}

Bytes composed(uint8_t code, int a = 0, int b = 0, const Bytes& data = {})
{
    auto frame = ComposeRequest(code, a, b, data);
    if (!frame) {
        return {};
    }
    auto v = frame->view();
    return Bytes(v.begin(), v.end());
}

// Collects what the splitter dispatches.
struct Collector
{
    std::vector<Bytes> frames;
    FrameSplitter splitter{
        [this](const uint8_t* f, uint8_t length) { frames.emplace_back(f, f + length + 4); }};

    void feed(const Bytes& b) { splitter.SplitFrames(b.data(), b.size()); }
};

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

} // namespace

TEST(Crc16, CheckValueAndKnownFrames)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x31C3);
    EXPECT_TRUE(CheckCrc(reinterpret_cast<const uint8_t*>(check.data()), check.size(), 0x31C3));
    EXPECT_FALSE(CheckCrc(reinterpret_cast<const uint8_t*>(check.data()), check.size(), 0x31C4));
    EXPECT_EQ(Crc16(nullptr, 0), 0);
}

TEST(ComposeRequest, ExampleFrames)
{
    EXPECT_EQ(composed(msg::QuerySignal), (Bytes{0x88, 0x61, 0x02, 0x59, 0x18, 0x99}));
    EXPECT_EQ(composed(msg::UpdateAll), (Bytes{0x88, 0x6A, 0x02, 0xA3, 0xC4, 0x99}));
    EXPECT_EQ(composed(msg::SetVolume, 0x0A), (Bytes{0x88, 0x12, 0x03, 0x0A, 0x1A, 0xD9, 0x99}));
}

TEST(ComposeRequest, PayloadLengthOfEveryCode)
{
    const Bytes record(40, 0x5A);
    const struct
    {
        uint8_t code;
        size_t payload;
    } table[] = {
        {msg::SetSystemInfo, 20},  {msg::SetVolume, 1},      {msg::QueryVersion, 0},
        {msg::QuerySystemInfo, 0}, {msg::SetSatellite, 40},  {msg::QueryTp, 12},
        {msg::AddTp, 12},          {msg::DeleteTp, 12},      {msg::ModifyTp, 12},
        {msg::ScanSatellite, 8},   {msg::ScanTp, 12},        {msg::AddSatellite, 40},
        {msg::DeleteSatellite, 8}, {msg::QuerySatellite, 8}, {msg::StopScan, 0},
        {msg::QueryProgram, 20},   {msg::PlayProgram, 20},   {msg::MultiDescramble, 20},
        {msg::DeleteProgram, 20},  {msg::SelectAudio, 20},   {msg::QuerySignal, 0},
        {msg::StartUpgrade, 0},    {msg::Reboot, 0},         {msg::UpdateAll, 0},
    };
    for (const auto& row : table) {
        Bytes data = record;
        if (row.code == msg::SelectAudio) {
            data[18] = 0x01;
        }
        const Bytes f = composed(row.code, 1, 1, data);
        ASSERT_EQ(f.size(), row.payload + 6) << std::hex << int(row.code);
        EXPECT_EQ(f[0], 0x88);
        EXPECT_EQ(f[1], row.code);
        EXPECT_EQ(f[2], row.payload + 2);
        EXPECT_EQ(f.back(), 0x99);
        const uint16_t crc = Crc16(f.data() + 1, f[2]);
        EXPECT_EQ(f[f.size() - 3], crc & 0xFF);
        EXPECT_EQ(f[f.size() - 2], crc >> 8);
        EXPECT_LE(f.size(), kMaxRequestSize);
    }
    EXPECT_FALSE(ComposeRequest(0x00));
    EXPECT_FALSE(ComposeRequest(0x63)); // StatusReply is never a request
    EXPECT_FALSE(ComposeRequest(0xFF));
}

TEST(ComposeRequest, ArgumentsLandInTheirBytes)
{
    Bytes f = composed(msg::QueryTp, 0xFF, 7);
    EXPECT_EQ(f[3], 0xFF);
    EXPECT_EQ(f[4], 7);
    EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 15), Bytes(10, 0));

    f = composed(msg::QuerySatellite, 3);
    EXPECT_EQ(f[3], 3);
    EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 11), Bytes(7, 0));

    f = composed(msg::QueryProgram, 0xFF, 2);
    EXPECT_EQ(f[3], 0xFF);
    EXPECT_EQ(f[3 + 6], 2);
    f = composed(msg::PlayProgram, 5, 0xF9); // only bits 0-2 of b
    EXPECT_EQ(f[3], 5);
    EXPECT_EQ(f[3 + 6], 1);

    Bytes program(20);
    for (size_t i = 0; i < program.size(); ++i) {
        program[i] = static_cast<uint8_t>(i + 1);
    }
    f = composed(msg::MultiDescramble, 0x42, 0, program);
    Bytes expected = program;
    expected[11] = 0x42;
    EXPECT_EQ(Bytes(f.begin() + 3, f.begin() + 23), expected);

    f = composed(msg::DeleteProgram, 9, 9, program);
    EXPECT_EQ(Bytes(f.begin() + 3, f.begin() + 23), program);
}

TEST(ComposeRequest, SelectAudioRewritesByte18)
{
    auto audioByte = [](uint8_t current, int a) -> int {
        Bytes record(20, 0);
        record[18] = current;
        auto f = ComposeRequest(msg::SelectAudio, a, 0, record);
        return f ? f->bytes[3 + 18] : -1;
    };
    EXPECT_EQ(audioByte(0x01, 250), 0xF1);
    EXPECT_EQ(audioByte(0xF2, 251), 0x02);
    EXPECT_EQ(audioByte(0xF0, 2), 0xF2);
    EXPECT_EQ(audioByte(0x02, 0), 0x00);
    EXPECT_EQ(audioByte(0x00, 0x11), 0x01); // only the low nibble of a
    EXPECT_EQ(audioByte(0x00, 3), -1);      // audio 3 does not exist
    EXPECT_EQ(audioByte(0x35, 251), -1);
    EXPECT_EQ(audioByte(0x05, 250), -1);
}

TEST(ComposeRequest, MissingCallerRecordIsNotSent)
{
    EXPECT_FALSE(ComposeRequest(msg::SetSatellite));
    EXPECT_FALSE(ComposeRequest(msg::AddSatellite));
    EXPECT_FALSE(ComposeRequest(msg::AddSatellite, 0, 0, Bytes(39, 1)));
    EXPECT_FALSE(ComposeRequest(msg::DeleteTp, 0, 0, Bytes(11, 1)));
    EXPECT_FALSE(ComposeRequest(msg::SetSystemInfo));
    EXPECT_TRUE(ComposeRequest(msg::DeleteSatellite, 0, 0, Bytes(8, 1)));
    // A longer record is cut to the request's own length.
    const Bytes f = composed(msg::ScanSatellite, 0, 0, Bytes(30, 7));
    EXPECT_EQ(f.size(), 14u);
}

TEST(FrameSplitter, ValidFrameAndSeveralInOneRead)
{
    Collector c;
    const Bytes signal{0x88, 0x61, 0x02, 0x59, 0x18, 0x99};
    c.feed(signal);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], signal);
    EXPECT_TRUE(c.splitter.FrameReady());
    EXPECT_EQ(c.splitter.LastLength(), 2);
    EXPECT_EQ(c.splitter.LastSize(), 6u);

    const Bytes status = frameOf(msg::StatusReply, {0x24, 0x00});
    c.frames.clear();
    c.feed(cat({status, signal, status}));
    ASSERT_EQ(c.frames.size(), 3u);
    EXPECT_EQ(c.frames[0], status);
    EXPECT_EQ(c.frames[1], signal);
    EXPECT_EQ(c.frames[2], status);
    EXPECT_FALSE(c.splitter.HasPending());
}

TEST(FrameSplitter, EndByteInsidePayloadOrCrc)
{
    // Search for a payload whose CRC contains 0x99 and check both cases.
    Collector c;
    const Bytes payloadWith99 = frameOf(msg::SignalStatus, {0x99, 0x99});
    c.feed(payloadWith99);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], payloadWith99);

    Bytes crcWith99;
    for (int v = 0; v < 65536 && crcWith99.empty(); ++v) {
        Bytes f = frameOf(msg::SignalStatus, {uint8_t(v & 0xFF), uint8_t(v >> 8)});
        if (f[4] != 0x99 && f[3] != 0x99 && (f[5] == 0x99 || f[6] == 0x99)) {
            crcWith99 = f;
        }
    }
    ASSERT_FALSE(crcWith99.empty());
    c.frames.clear();
    c.feed(crcWith99);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], crcWith99);
}

TEST(FrameSplitter, Resynchronisation)
{
    const Bytes good = frameOf(msg::StatusReply, {0x6A, 0x00});
    Bytes corrupt = frameOf(msg::ProgramInfo, Bytes(20, 0x31));
    corrupt[10] ^= 0x01;

    struct Case
    {
        const char* name;
        Bytes stream;
        size_t expected;
    } cases[] = {
        {"garbage before the start byte", cat({Bytes{0x01, 0x99, 0x42, 0x00}, good}), 1},
        {"altered payload byte", cat({corrupt, good}), 1},
        {"start byte with an impossible length", cat({Bytes{0x88, 0x13, 0xF0}, good}), 1},
        {"length byte too small", cat({Bytes{0x88, 0x61, 0x01, 0x59, 0x18, 0x99}, good}), 1},
        {"zero length frame", cat({Bytes{0x88, 0x00, 0x00, 0x99}, good}), 1},
        {"150 bytes without an end byte", cat({Bytes{0x88}, Bytes(160, 0x11), good}), 1},
        {"stray start bytes, then 150 more bytes", cat({Bytes(3, 0x88), good, good, Bytes(150, 0)}),
         2},
        {"only garbage", Bytes(500, 0x42), 0},
    };
    for (const auto& tc : cases) {
        Collector c;
        c.feed(tc.stream);
        EXPECT_EQ(c.frames.size(), tc.expected) << tc.name;
        for (const auto& f : c.frames) {
            EXPECT_EQ(f, good) << tc.name;
        }
    }
}

TEST(FrameSplitter, StrayStartByteWithPlausibleLengthHoldsTheStream)
{
    // A stray 0x88 whose next-but-one byte is a possible length may begin a
    // long frame: the bytes after it wait until 150 bytes prove otherwise.
    const Bytes good = frameOf(msg::StatusReply, {0x6A, 0x00});
    Collector c;
    c.feed(cat({Bytes{0x88, 0x13, 0x40}, good}));
    EXPECT_TRUE(c.frames.empty());
    EXPECT_TRUE(c.splitter.HasPending());
    c.feed(Bytes(150, 0x00));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], good);
}

TEST(FrameSplitter, QuietStreamReleasesAFrameHeldByAStrayStartByte)
{
    const Bytes good = frameOf(msg::StatusReply, {0x6A, 0x00});
    Collector c;
    c.feed(cat({Bytes{0x88, 0x13, 0x40, 0x99}, good}));
    ASSERT_TRUE(c.frames.empty());
    EXPECT_TRUE(c.splitter.FlushStuck());
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], good);
    EXPECT_FALSE(c.splitter.HasPending());

    // A genuinely incomplete frame is left waiting for the rest.
    Collector d;
    d.feed(Bytes(good.begin(), good.begin() + 4));
    EXPECT_FALSE(d.splitter.FlushStuck());
    EXPECT_TRUE(d.splitter.HasPending());
    d.feed(Bytes(good.begin() + 4, good.end()));
    ASSERT_EQ(d.frames.size(), 1u);

    // A held frame followed by the start of another: the first comes out, the
    // second keeps waiting.
    Collector e;
    e.feed(cat({Bytes{0x88, 0x31, 0x30}, good, Bytes(good.begin(), good.begin() + 3)}));
    EXPECT_TRUE(e.splitter.FlushStuck());
    EXPECT_EQ(e.frames.size(), 1u);
    EXPECT_TRUE(e.splitter.HasPending());
}

TEST(FrameSplitter, FrameSplitAfterAnyByte)
{
    const Bytes a = frameOf(msg::ProgramInfo, Bytes(30, 0x77));
    const Bytes b = frameOf(msg::StatusReply, {0x31, 0x00});
    const Bytes stream = cat({Bytes{0x00, 0x13}, a, b});
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Collector c;
        c.feed(Bytes(stream.begin(), stream.begin() + cut));
        c.feed(Bytes(stream.begin() + cut, stream.end()));
        ASSERT_EQ(c.frames.size(), 2u) << "cut " << cut;
        EXPECT_EQ(c.frames[0], a);
        EXPECT_EQ(c.frames[1], b);
        EXPECT_FALSE(c.splitter.HasPending());
    }
}

TEST(FrameSplitter, ByteByByteAndLargestFrame)
{
    const Bytes largest = frameOf(msg::ProgramInfo, Bytes(144, 0x99));
    ASSERT_EQ(largest.size(), kMaxFrameSize);
    const Bytes tooLarge = frameOf(msg::ProgramInfo, Bytes(145, 0x01));
    Collector c;
    for (uint8_t byte : cat({largest, tooLarge, largest})) {
        c.splitter.SplitFrames(&byte, 1);
    }
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0], largest);
    EXPECT_EQ(c.frames[1], largest);
}

TEST(FrameSplitter, PendingFrameIsKeptUntilResetOrStop)
{
    const Bytes f = frameOf(msg::VersionInfo, {1, 2, 3, 4});
    Collector c;
    c.feed(Bytes(f.begin(), f.begin() + 5));
    EXPECT_TRUE(c.splitter.HasPending());
    EXPECT_EQ(c.splitter.PendingLength(), 5u);
    c.splitter.Reset();
    c.feed(Bytes(f.begin() + 5, f.end()));
    EXPECT_TRUE(c.frames.empty());

    std::atomic<bool> stopping{true};
    int dispatched = 0;
    FrameSplitter stopped([&](const uint8_t*, uint8_t) { ++dispatched; }, &stopping);
    stopped.SplitFrames(f.data(), f.size());
    EXPECT_EQ(dispatched, 0);
}

TEST(FrameSplitter, ChunkLargerThanTheReassemblyBuffer)
{
    const Bytes f = frameOf(msg::ProgramInfo, Bytes(20, 0x31));
    Bytes stream(f.begin(), f.begin() + 7);
    Bytes big;
    while (big.size() < 3 * FrameSplitter::kReassemblySize) {
        big.insert(big.end(), f.begin(), f.end());
    }
    Collector c;
    c.feed(stream); // leaves a pending frame start
    c.feed(big);
    EXPECT_EQ(c.frames.size(), big.size() / f.size());
}
