// The configuration file: what sets each flag, what does not, and where the file is looked for.
#include "external_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr char kRaw[] = "ENV_VEK_DRIVER_SCAN_RAW_FROM_HOME";
constexpr char kHome[] = "ENV_VEK_DRIVER_SCAN_FROM_HOME";
constexpr char kRgb[] = "ENV_VEK_DRIVER_DISABLE_HORIZONTAL_MAGNIFICATION_OF_RGB";

class ExternalConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lfcfgXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        folder_ = dir_.string() + "/";
    }
    void TearDown() override
    {
        ExternalConfig_Init(nullptr);
        fs::remove_all(dir_);
    }
    void write(const std::string& text) { std::ofstream(dir_ / EXTERNAL_CONFIG_FILE, std::ios::binary) << text; }
    // Reads the folder's file afresh and answers the three flags.
    external_config_t read()
    {
        ExternalConfig_Init(folder_.c_str());
        external_config_t c{9, 9, 9};
        ExternalConfig_Read(&c);
        return c;
    }

    fs::path dir_;
    std::string folder_;
};

TEST_F(ExternalConfig, WhatSetsTheScanFromHomeFlag)
{
    const std::string k = kHome;
    const std::pair<std::string, uint8_t> cases[] = {
        {k + "=1", 1},
        {k + "=1\r\n", 1},
        {k + " = 1\n", 0},
        {k + "X=1\n", 0},
        {"X" + k + "=1\n", 0},
        {k + "=2\n" + k + "=1\n", 2}, // the first line wins
        {k + "=abc\n", 0},
        {k + "=256\n", 0}, // the low byte
        {k + "=257\n", 1},
        {k + "=99999999999\n", 0xFF}, // clamped to INT_MAX, then the low byte
        {k + "=-1\n", 0xFF},
        {std::string(255, 'x') + k + "=1\n", 0}, // the tail of a long line is not a line
        {std::string(600, 'y') + "\n" + k + "=7\n", 7},
        {"", 0},
    };
    for (const auto& [text, flag] : cases) {
        write(text);
        EXPECT_EQ(read().scan_from_home, flag) << text.substr(0, 60);
    }
}

TEST_F(ExternalConfig, TheThreeKeysFillTheThreeFlagsAndEachInitStartsAfresh)
{
    write(std::string(kRgb) + "=3\n" + kRaw + "=1\n" + kHome + "=2\n");
    const external_config_t c = read();
    EXPECT_EQ(c.scan_raw_from_home, 1);
    EXPECT_EQ(c.scan_from_home, 2);
    EXPECT_EQ(c.disable_horizontal_magnification_of_rgb, 3);

    fs::remove(dir_ / EXTERNAL_CONFIG_FILE);
    const external_config_t none = read();
    EXPECT_EQ(none.scan_raw_from_home + none.scan_from_home + none.disable_horizontal_magnification_of_rgb, 0);
}

TEST_F(ExternalConfig, AnEmptyFolderNeverReadsTheWorkingDirectory)
{
    write(std::string(kHome) + "=1\n");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    for (const char* folder : {"", static_cast<const char*>(nullptr)}) {
        ExternalConfig_Init(folder);
        external_config_t c{9, 9, 9};
        ExternalConfig_Read(&c);
        EXPECT_EQ(c.scan_from_home, 0);
    }
    fs::current_path(cwd);
    EXPECT_EQ(read().scan_from_home, 1);
}

TEST_F(ExternalConfig, ValuesAreCutToTheOutputSize)
{
    write(std::string(kHome) + "=123456789\n");
    const std::string file = folder_ + EXTERNAL_CONFIG_FILE;
    char out[5];
    ASSERT_TRUE(read_value_from_ini(file.c_str(), kHome, out, sizeof out));
    EXPECT_STREQ(out, "1234");
    EXPECT_EQ(get_config_int(file.c_str(), kRaw, 42), 42);
}

} // namespace
