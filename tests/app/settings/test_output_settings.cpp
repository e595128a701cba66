#include "output_settings.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

using namespace lumenfield;

namespace {

const QDate kToday(2024, 3, 1);

// A store with a date prefix from `prefixDay` and suffix number 17.
QByteArray dateStore(QDate prefixDay)
{
    return "prefixType=0\nsuffixNumber=17\nprefix=" + todayString(prefixDay).toUtf8();
}

} // namespace

TEST(OutputSettings, CreationGivesTheDefaults)
{
    StoreFiles files;
    OutputSettings s;
    s.load(*files.empty(), true);
    EXPECT_EQ(s.directoryPath(), QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/Lumenfield");
    EXPECT_TRUE(QFileInfo(s.directoryPath()).isDir());
    EXPECT_EQ(s.prefixType(), PrefixType::date);
    EXPECT_EQ(s.prefix(), todayString());
    EXPECT_TRUE(s.isAutoSuffix());
    EXPECT_EQ(s.suffixNumber(), 1);
    EXPECT_EQ(s.suffixLength(), 3);
    EXPECT_EQ(s.format(), OutputFormat::tiff);
    EXPECT_EQ(s.tiffCompression(), TIFFCompression::jpeg);
    EXPECT_EQ(s.jpegQuality(), JPEGQuality::high);
    EXPECT_TRUE(s.isEmbeddedICCProfile());
    EXPECT_EQ(s.iccProfile(), ICCProfile::generic);
}

TEST(OutputSettings, TodayStringIgnoresTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    EXPECT_EQ(todayString(QDate(987, 12, 5)), "09871205");
    QLocale::setDefault(QLocale::c());
}

TEST(OutputSettingsLoad, NewDayRestartsTheSuffixWhenAsked)
{
    StoreFiles files;
    const struct {
        QByteArray stored;
        bool reset;
        qint64 suffix;
        QString prefix;
    } cases[] = {
        {dateStore(kToday.addDays(-1)), true, 1, todayString(kToday)},
        {dateStore(kToday.addDays(-1)), false, 17, todayString(kToday)},
        {dateStore(kToday), true, 17, todayString(kToday)},
        {dateStore(kToday.addDays(1)), true, 1, todayString(kToday)}, // the clock was set back
        {"prefixType=1\nprefix=Film\nsuffixNumber=5", true, 5, "Film"},
        {"prefixType=0\nsuffixNumber=17", true, 17, todayString(kToday)}, // no stored prefix
    };
    for (const auto& c : cases) {
        OutputSettings s;
        s.setPrefix(todayString(kToday));
        s.load(*files.withText(c.stored), c.reset, kToday);
        EXPECT_EQ(s.suffixNumber(), c.suffix) << c.stored.toStdString();
        EXPECT_EQ(s.prefix(), c.prefix) << c.stored.toStdString();
    }
}

TEST(OutputSettingsLoad, UnknownOrUnusableValuesKeepTheCurrentOnes)
{
    StoreFiles files;
    OutputSettings s;
    const QString folder = s.directoryPath();
    s.load(*files.withText("prefixType=2\ntiffCompression=5\njpegQuality=50\nformat=9\n"
                           "suffixNumber=abc\nsuffixLength=9\nisAutoSuffix=maybe\ndirectoryPath=@Size(1 2)"),
           true, kToday);
    EXPECT_EQ(s.prefixType(), PrefixType::date);
    EXPECT_EQ(s.tiffCompression(), TIFFCompression::lzw);
    EXPECT_EQ(s.jpegQuality(), JPEGQuality::medium);
    EXPECT_EQ(s.format(), OutputFormat::tiff);
    EXPECT_EQ(s.suffixNumber(), 1);
    EXPECT_EQ(s.suffixLength(), 3);
    EXPECT_TRUE(s.isAutoSuffix());
    EXPECT_EQ(s.directoryPath(), folder);

    s.setPrefixType(PrefixType::text);
    s.load(*files.withText("prefixType=2\ntiffCompression=6"), true, kToday);
    EXPECT_EQ(s.prefixType(), PrefixType::text);
    EXPECT_EQ(s.tiffCompression(), TIFFCompression::lzw);
}

// An empty folder planned "/scan-001.tiff" and a relative one wrote into the working folder: a stored
// folder that is not an absolute path gives the default folder, also over a usable one in memory.
TEST(OutputSettingsLoad, FoldersThatAreNotAbsoluteGiveTheDefaultFolder)
{
    StoreFiles files;
    const QString folder = OutputSettings().directoryPath();
    ASSERT_TRUE(folder.startsWith('/'));
    const struct {
        QByteArray stored;
        QString expected;
    } cases[] = {
        {"directoryPath=", folder},
        {"directoryPath=scans", folder},
        {"directoryPath=./scans", folder},
        {"directoryPath=~/scans", folder},
        {"directoryPath=:/scans", folder},
        {"directoryPath=/srv/a\\0b", folder}, // "\0" in the file is a NUL in the text
        {"directoryPath=/srv/scans", "/srv/scans"},
        {"directoryPath=/", "/"},
    };
    for (const auto& c : cases) {
        OutputSettings s;
        s.setDirectoryPath("/elsewhere");
        s.load(*files.withText(c.stored), true, kToday);
        EXPECT_EQ(s.directoryPath(), c.expected) << c.stored.toStdString();
    }
    // Nothing usable stored: a folder in memory that cannot be used gives way too.
    OutputSettings s;
    s.setDirectoryPath("");
    s.load(*files.withText("directoryPath=@Size(1 2)"), true, kToday);
    EXPECT_EQ(s.directoryPath(), folder);
}

TEST(OutputSettingsLoad, OnlyTheSuffixLengthsOfThePickerAreTaken)
{
    StoreFiles files;
    for (qint64 length : {-1, 0, 1, 2, 5, 6, 1000}) {
        OutputSettings s;
        s.load(*files.withText("suffixLength=" + QByteArray::number(length)), true, kToday);
        EXPECT_EQ(s.suffixLength(), length == 2 || length == 5 ? length : 3) << length;
    }
}

TEST(OutputSettingsSave, WritesTheElevenKeysAndRoundTrips)
{
    StoreFiles files;
    OutputSettings saved;
    saved.setDirectoryPath(QString::fromUtf8("/srv/scans, \"old\"/Ünïcode=1"));
    saved.setPrefixType(PrefixType::text);
    saved.setPrefix(" @Film; #2 ");
    saved.setAutoSuffix(false);
    saved.setSuffixNumber(123);
    saved.setSuffixLength(5);
    saved.setFormat(OutputFormat::png);
    saved.setTiffCompression(TIFFCompression::zip);
    saved.setJpegQuality(JPEGQuality::lowest);
    saved.setEmbeddedICCProfile(false);
    saved.setIccProfile(ICCProfile::adobeRGB);
    auto store = files.empty();
    saved.save(*store);
    QStringList expected{"directoryPath", "format",     "iccProfile",   "isAutoSuffix", "isEmbedded",     "jpegQuality",
                         "prefix",        "prefixType", "suffixLength", "suffixNumber", "tiffCompression"};
    expected.sort();
    EXPECT_EQ(sortedKeys(*store), expected);

    OutputSettings loaded;
    loaded.load(*files.copyOf(*store), true, kToday);
    for (const char* name : {"directoryPath", "prefixType", "prefix", "isAutoSuffix", "suffixNumber", "suffixLength",
                             "format", "tiffCompression", "jpegQuality", "isEmbeddedICCProfile", "iccProfile"})
        EXPECT_EQ(loaded.property(name), saved.property(name)) << name;
}

TEST(OutputSettingsReset, RestoresAllElevenValues)
{
    OutputSettings s;
    const OutputSettings defaults;
    s.setDirectoryPath("/elsewhere");
    s.setPrefixType(PrefixType::text);
    s.setPrefix("Film");
    s.setSuffixNumber(40);
    s.setFormat(OutputFormat::jpeg);
    s.setIccProfile(ICCProfile::sRGB);
    s.reset();
    for (const char* name : {"directoryPath", "prefixType", "prefix", "suffixNumber", "format", "iccProfile"})
        EXPECT_EQ(s.property(name), defaults.property(name)) << name;
}

TEST(DefaultOutputFolder, CreatesTheFolderOrReturnsWhatStandsThere)
{
    QTemporaryDir root;
    const QString nested = root.filePath("a/b");
    EXPECT_EQ(OutputSettings::defaultOutputDirectoryPath(nested, "Scans"), nested + "/Scans");
    EXPECT_TRUE(QFileInfo(nested + "/Scans").isDir());

    QFile file(root.filePath("Lumenfield"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    EXPECT_EQ(OutputSettings::defaultOutputDirectoryPath(root.path(), ""), file.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep");

    EXPECT_EQ(OutputSettings::defaultOutputDirectoryPath("", "Scans"), "");

    testing::internal::CaptureStdout();
    EXPECT_EQ(OutputSettings::defaultOutputDirectoryPath(file.fileName(), "Scans"), file.fileName() + "/Scans");
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Failed to create Lumenfield directory: ", 0), 0u);
}
