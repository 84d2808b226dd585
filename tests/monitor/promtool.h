#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace vireo::test {

// When promtool is installed, it must accept the page too.
inline void PromtoolAccepts(const std::string& text)
{
    if (std::system("command -v promtool > /dev/null 2>&1") != 0) {
        return;
    }
    const auto path = std::filesystem::temp_directory_path() / "vireo-monitor-metrics.txt";
    std::ofstream(path) << text;
    const std::string command = "promtool check metrics < " + path.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << text;
    std::filesystem::remove(path);
}

} // namespace vireo::test
