#include "output_file_name.h"
#include "output_settings.h"

#include <gtest/gtest.h>

using namespace lumenfield;

namespace {

QString name(const QString& prefix, bool suffix, qint64 number, qint64 length, OutputFormat format)
{
    return outputFileName(prefix, suffix, number, length, format);
}

QString suffixOf(qint64 number, qint64 length)
{
    const QString n = name(QString(), true, number, length, OutputFormat::png);
    return n.left(n.size() - 4);
}

} // namespace

TEST(OutputFileName, FollowsTheNamingRule)
{
    EXPECT_EQ(name("Scan", true, 12, 3, OutputFormat::tiff), "scan-012.tiff");
    EXPECT_EQ(name("20240131", false, 12, 3, OutputFormat::jpeg), "20240131.jpeg");
    EXPECT_EQ(name("Film", true, 5, 2, OutputFormat::png), "film-05.png");
    EXPECT_EQ(name("Scan", false, 5, 2, OutputFormat::png), "scan.png");
    EXPECT_EQ(suffixOf(1, 5), "-00001");
    EXPECT_EQ(suffixOf(100, 2), "-100");
    EXPECT_EQ(suffixOf(7, 3), "-007");
    EXPECT_EQ(suffixOf(1234, 3), "-1234");
    EXPECT_EQ(name("", false, 1, 3, OutputFormat::tiff), ".tiff");
}

TEST(OutputFileName, LowerCasesTheNameButNotTheFolder)
{
    EXPECT_EQ(name("SCAN", true, 1, 3, OutputFormat::tiff), "scan-001.tiff");
    EXPECT_EQ(name("ScAn", true, 1, 3, OutputFormat::tiff), "scan-001.tiff");
    EXPECT_EQ(composeOutputName("ScAn", true, 1, 3, OutputFormat::tiff), "ScAn-001.tiff");
    EXPECT_EQ(name(QStringLiteral("İ"), false, 1, 3, OutputFormat::png), QStringLiteral("i̇.png"));

    OutputSettings settings;
    settings.setDirectoryPath("/Tmp/Out");
    settings.setPrefix("ScAn");
    settings.setAutoSuffix(true);
    settings.setSuffixNumber(4);
    settings.setSuffixLength(3);
    settings.setFormat(OutputFormat::jpeg);
    EXPECT_EQ(outputFilePath(settings), "/Tmp/Out/scan-004.jpeg");
    settings.setDirectoryPath("/Tmp/Out/");
    EXPECT_EQ(outputFilePath(settings), "/Tmp/Out//scan-004.jpeg");
}

TEST(OutputFileName, SuffixWidthIsLimitedAndNeverAFormat)
{
    EXPECT_EQ(suffixOf(7, -3), "-7");
    EXPECT_EQ(suffixOf(7, 0), "-7");
    EXPECT_EQ(suffixOf(7, 11), "-0000000007");
    EXPECT_EQ(suffixOf(7, 1000), "-0000000007");
    EXPECT_EQ(suffixOf(qint64(1) << 40, 3), "-1099511627776");
    EXPECT_EQ(suffixOf(-5, 3), "--05");
}

TEST(OutputFileName, PrefixCannotLeaveTheFolder)
{
    EXPECT_EQ(name("../evil", true, 1, 3, OutputFormat::tiff), ".._evil-001.tiff");
    EXPECT_EQ(name(QString("a") + QChar(0) + "b/c", false, 1, 3, OutputFormat::png), "a_b_c.png");
}
