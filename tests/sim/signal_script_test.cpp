#include "sim/signal_script.h"

#include <gtest/gtest.h>

namespace vireo::sim {
namespace {

using namespace std::chrono_literals;

TEST(SignalScript, LoopsThroughItsSteps)
{
    std::string why;
    const auto script = ParseSignalScript("# fade and loss\n\n2 70 60 1\n0.5 5 0 0\r\n"
                                          "  1.5 99 1 1\n",
                                          &why);
    ASSERT_TRUE(script) << why;
    struct Case
    {
        std::chrono::milliseconds at;
        int intensity;
        bool locked;
    };
    const Case cases[] = {{0ms, 70, true},    {1999ms, 70, true}, {2000ms, 5, false},
                          {2499ms, 5, false}, {2500ms, 99, true}, {3999ms, 99, true},
                          {4000ms, 70, true}, {6250ms, 5, false}, {40'003'500ms, 99, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at.count());
        const SignalLevel level = script->LevelAt(c.at);
        EXPECT_EQ(level.intensity, c.intensity);
        EXPECT_EQ(level.locked, c.locked);
    }
}

TEST(SignalScript, RefusesBadLines)
{
    for (const char* text :
         {"", "# only a comment\n", "2 70 60\n", "2 70 60 1 9\n", "0 70 60 1\n", "-1 70 60 1\n",
          "2 100 60 1\n", "2 70 -1 1\n", "2 70 60 2\n", "two 70 60 1\n", "nan 1 1 1\n"}) {
        SCOPED_TRACE(text);
        std::string why;
        EXPECT_FALSE(ParseSignalScript(text, &why));
        EXPECT_FALSE(why.empty());
    }
}

} // namespace
} // namespace vireo::sim
