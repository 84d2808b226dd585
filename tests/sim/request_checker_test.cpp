// The simulator's check of what a manager writes: well-formed requests pass
// however the stream is cut; each kind of broken frame is counted.

#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/request_checker.h"

#include <gtest/gtest.h>
#include <vector>

using namespace vireo;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes request(uint8_t code, std::vector<uint8_t> data = {})
{
    const auto frame = ComposeRequest(code, 1, 2, data);
    return Bytes(frame->view().begin(), frame->view().end());
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

} // namespace

TEST(RequestChecker, CountsBrokenFramesOnlyWhereverTheStreamIsCut)
{
    const Bytes signal = request(msg::QuerySignal);
    const Bytes tp = request(msg::QueryTp);
    const Bytes program = request(msg::DeleteProgram, Bytes(20, 7));
    Bytes badCrc = tp;
    badCrc[badCrc.size() - 3] ^= 0xFF;
    Bytes torn = program; // a frame whose length byte belongs to another code
    torn[2] = tp[2];
    Bytes unknownCode(6);
    FinishFrame(unknownCode.data(), 0x7E, 2);

    const struct
    {
        const char* name;
        Bytes stream;
        size_t malformed;
    } table[] = {
        {"whole requests", join({signal, tp, program, signal}), 0},
        {"stray bytes between requests", join({signal, {0x00, 0x17}, tp}), 1},
        {"bad CRC", join({badCrc, signal}), 1},
        {"length of another code", join({torn, signal}), 1},
        {"code never sent", join({unknownCode, signal}), 1},
        {"cut short at the close", join({signal, Bytes(tp.begin(), tp.begin() + 5)}), 1},
    };
    for (const auto& row : table) {
        // Fed whole, and again one byte at a time: the count is the same.
        for (const size_t piece : {row.stream.size(), size_t{1}}) {
            sim::RequestChecker checker;
            size_t malformed = 0;
            for (size_t at = 0; at < row.stream.size(); at += piece) {
                const size_t n = std::min(piece, row.stream.size() - at);
                malformed += checker.Feed(std::span(row.stream.data() + at, n));
            }
            malformed += checker.Finish();
            EXPECT_EQ(malformed, row.malformed) << row.name << ", pieces of " << piece;
        }
    }
}
