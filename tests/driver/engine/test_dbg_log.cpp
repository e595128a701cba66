#include "dbg_log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class DbgLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = fs::temp_directory_path() / "dbglog.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        DBG_RESET_SETTINGS();
    }
    void TearDown() override
    {
        DBG_RESET_SETTINGS();
        DBG_INIT(nullptr, DBG_MODE_STDOUT);
        fs::remove_all(dir_);
    }
    // Settings as given, then DBG_INIT on the test folder in file mode.
    void init(std::initializer_list<std::pair<const char*, uint32_t>> settings, int mode = DBG_MODE_FILE)
    {
        for (auto [key, value] : settings) ASSERT_TRUE(DBG_SET_SETTING(key, value)) << key;
        DBG_INIT(dir_.c_str(), mode);
    }
    std::string read(const std::string& name) const
    {
        std::ifstream in(dir_ + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string log() const { return read("DEBUG-LOG-6204.txt"); }
    bool exists(const std::string& name) const { return fs::exists(dir_ + name); }

    std::string dir_;
};

TEST_F(DbgLog, LevelsGateMessagesAndDumps)
{
    init({});
    DBG_LOG(1, "error %d\n", 1);
    const double table[3] = {1, 2, 3};
    DBG_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_X", 1, 3, table);
    EXPECT_FALSE(exists("DEBUG-LOG-6204.txt"));
    EXPECT_FALSE(exists("CorrectionTable_X.csv"));

    init({{"LEVEL", 30}, {"FILE_LEVEL", 10}});
    EXPECT_EQ(DBG_LEVEL(), 30);
    EXPECT_EQ(DBG_FILE_LEVEL(), 10);
    DBG_LOG(30, "kept\n");
    DBG_LOG(40, "dropped\n");
    DBG_CORRECTION_TABLE_CSV_FIE(20, "Deeper", 1, 3, table);
    DBG_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_X", 1, 3, table);
    EXPECT_EQ(log(), "kept\n");
    EXPECT_FALSE(exists("Deeper.csv"));
    EXPECT_TRUE(exists("CorrectionTable_X.csv"));
    EXPECT_FALSE(DBG_SET_SETTING("NO_SUCH_KEY", 1));
}

TEST_F(DbgLog, HexDumpLines)
{
    init({{"LEVEL", 40}});
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 17);
    DBG_HEX(40, bytes.data(), 20);
    const std::string first = "\t00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff \n";
    const std::string second = "\t10 21 32 43 " + std::string(36, ' ') + "\n";
    ASSERT_EQ(first.size(), 50u);
    ASSERT_EQ(second.size(), 50u);
    EXPECT_EQ(log(), first + second);

    fs::remove(dir_ + "DEBUG-LOG-6204.txt");
    DBG_HEX(40, bytes.data(), 100);
    const std::string four = log();
    EXPECT_EQ(four.size(), 4u * 50u);
    EXPECT_EQ(four.substr(150, 50), "\t30 41 52 63 74 85 96 a7 b8 c9 da eb fc 0d 1e 2f \n");

    fs::remove(dir_ + "DEBUG-LOG-6204.txt");
    DBG_HEX(40, bytes.data(), 0);
    DBG_HEX(40, nullptr, 16);
    DBG_HEX(41, bytes.data(), 16);
    EXPECT_FALSE(exists("DEBUG-LOG-6204.txt"));
}

TEST_F(DbgLog, MessagesAreCutAndWrittenLiterally)
{
    init({{"LEVEL", 10}});
    const std::string long_text(600, 'x');
    DBG_LOG(1, "%s", long_text.c_str());
    EXPECT_EQ(log(), std::string(511, 'x'));

    fs::remove(dir_ + "DEBUG-LOG-6204.txt");
    DBG_LOG(1, "name=%s\n", "%s%n%x");
    EXPECT_EQ(log(), "name=%s%n%x\n");

    init({{"LEVEL", 10}}, DBG_MODE_STDOUT);
    testing::internal::CaptureStdout();
    DBG_LOG(1, "name=%s\n", "%s%n%x");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "name=%s%n%x\n");
    EXPECT_EQ(log(), "name=%s%n%x\n"); // mode 1 leaves the file alone
}

TEST_F(DbgLog, FileModeAppendsAcrossMessagesAndInits)
{
    init({{"LEVEL", 10}});
    DBG_LOG(1, "one ");
    DBG_LOG(10, "two ");
    DBG_INIT(dir_.c_str(), DBG_MODE_FILE);
    DBG_LOG(1, "three");
    EXPECT_EQ(log(), "one two three");

    // An unopenable log file drops the message.
    const std::string missing = dir_ + "no/such/folder/";
    DBG_INIT(missing.c_str(), DBG_MODE_FILE);
    DBG_LOG(1, "lost");
    EXPECT_FALSE(fs::exists(missing));

    // No folder: standard output, and dumps are skipped.
    DBG_SET_SETTING("FILE_LEVEL", 10);
    DBG_INIT(nullptr, DBG_MODE_FILE);
    testing::internal::CaptureStdout();
    DBG_LOG(1, "to stdout");
    const uint16_t table[3] = {1, 2, 3};
    DBG_LOOKUP_TABLE_CSV_FILE(10, "LookupTable", 1, 3, table);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout");
    EXPECT_FALSE(exists("LookupTable.csv"));
}

TEST_F(DbgLog, ImageMaskFromTheTable)
{
    init({{"DRAKSHADING", 1}, {"FINALIMAGE", 5}});
    EXPECT_EQ(DBG_IMAGE_MASK(), 8193u);
    DBG_RESET_SETTINGS();
    DBG_INIT(nullptr, DBG_MODE_STDOUT);
    EXPECT_EQ(DBG_IMAGE_MASK(), 0u);
    EXPECT_EQ(DBG_LEVEL(), 0);
}

TEST_F(DbgLog, CsvDumps)
{
    init({{"FILE_LEVEL", 10}});
    const std::vector<double> rgb = {1, 2, 3, 4, 5, 6};
    DBG_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_RGB", 2, 3, rgb.data());
    EXPECT_EQ(read("CorrectionTable_RGB.csv"), "1.000000, 2.000000, 3.000000,\n4.000000, 5.000000, 6.000000,\n");

    const std::vector<double> pairs = {1.5, 9, 2.5, 9, 3.5, 9};
    DBG_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_X", 3, 2, pairs.data());
    EXPECT_EQ(read("CorrectionTable_X.csv"), "1.500000,\n2.500000,\n3.500000,\n");

    const std::vector<uint32_t> fixed = {98304, 65536, 0};
    DBG_SCAN_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_SCAN_FIXED_POINT", 1, 3, fixed.data());
    EXPECT_EQ(read("CorrectionTable_SCAN_FIXED_POINT.csv"), "1.500000, 1.000000, 0.000000,\n");

    const std::vector<uint16_t> lut = {0, 65535, 7, 8};
    DBG_LOOKUP_TABLE_CSV_FILE(10, "LookupTable", 4, 1, lut.data());
    EXPECT_EQ(read("LookupTable.csv"), "0,\n65535,\n7,\n8,\n");
    DBG_LOOKUP_TABLE_CSV_FILE(10, "LookupTable3", 1, 3, lut.data());
    EXPECT_EQ(read("LookupTable3.csv"), "0, 65535, 7,\n");

    // A file that cannot be created is skipped.
    init({{"FILE_LEVEL", 10}});
    fs::create_directory(dir_ + "Blocked.csv");
    DBG_LOOKUP_TABLE_CSV_FILE(10, "Blocked", 4, 1, lut.data());
    EXPECT_TRUE(fs::is_directory(dir_ + "Blocked.csv"));
}

// Each dumper reads exactly rows x columns values (the sanitizer build checks the bounds).
TEST_F(DbgLog, DumpsReadExactlyRowsTimesColumns)
{
    init({{"FILE_LEVEL", 10}});
    for (unsigned columns = 1; columns <= 3; ++columns) {
        const unsigned rows = 5;
        std::vector<double> d(rows * columns, 0.25);
        std::vector<uint32_t> u(rows * columns, 65536);
        std::vector<uint16_t> w(rows * columns, 9);
        DBG_CORRECTION_TABLE_CSV_FIE(10, "d", rows, columns, d.data());
        DBG_SCAN_CORRECTION_TABLE_CSV_FIE(10, "u", rows, columns, u.data());
        DBG_LOOKUP_TABLE_CSV_FILE(10, "w", rows, columns, w.data());
        const std::string d_line = columns == 3 ? "0.250000, 0.250000, 0.250000,\n" : "0.250000,\n";
        std::string expected;
        for (unsigned r = 0; r < rows; ++r) expected += d_line;
        EXPECT_EQ(read("d.csv"), expected) << columns;
        EXPECT_EQ(read("w.csv").size(), rows * (columns == 3 ? std::string("9, 9, 9,\n").size() : 3u)) << columns;
    }
}

TEST_F(DbgLog, LongFolderKeepsTheWholeName)
{
    std::string folder = dir_;
    while (folder.size() < 250) folder += "f";
    folder += "/";
    fs::create_directories(folder);
    DBG_SET_SETTING("LEVEL", 1);
    DBG_SET_SETTING("FILE_LEVEL", 10);
    DBG_INIT(folder.c_str(), DBG_MODE_FILE);
    DBG_LOG(1, "x");
    const double t[1] = {1};
    DBG_CORRECTION_TABLE_CSV_FIE(10, "CorrectionTable_SCAN", 1, 1, t);
    EXPECT_TRUE(fs::exists(folder + "DEBUG-LOG-6204.txt"));
    EXPECT_TRUE(fs::exists(folder + "CorrectionTable_SCAN.csv"));
}

TEST_F(DbgLog, NumbersUseADecimalPointInAnyLocale)
{
    init({{"FILE_LEVEL", 10}});
    const std::vector<double> values = {-1.25, 123456789.125, 1e-7, -0.0000004, 1e20};
    std::string expected;
    for (double v : values) {
        char line[512];
        std::snprintf(line, sizeof line, "%f,\n", v);
        expected += line;
    }
    DBG_CORRECTION_TABLE_CSV_FIE(10, "n", static_cast<unsigned>(values.size()), 1, values.data());
    EXPECT_EQ(read("n.csv"), expected);

    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
        DBG_CORRECTION_TABLE_CSV_FIE(10, "n", static_cast<unsigned>(values.size()), 1, values.data());
        std::setlocale(LC_NUMERIC, "C");
        EXPECT_EQ(read("n.csv"), expected) << name;
        break;
    }
}

} // namespace
