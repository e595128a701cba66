#include "color_space.h"
#include "image_file.h"
#include "image_helpers.h"
#include "image_processor.h"
#include "vips_save_options.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <lcms2.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace lumenfield;

namespace {

// Options that write over what an earlier case left at the path.
WriteOptions options(OutputFormat format, qint64 dpi = 300)
{
    WriteOptions o;
    o.format = format;
    o.dpi = dpi;
    o.takenName = TakenName::replace;
    return o;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Files in the folder whose names start with a dot: left-over temporary files.
QStringList hiddenFiles(const QString& folder)
{
    QStringList hidden;
    for (const QString& entry : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (entry.startsWith('.')) hidden << entry;
    return hidden;
}

struct TiffTags {
    uint16_t compression = 0, photometric = 0, samples = 0, unit = 0;
    std::vector<uint16_t> extraSamples;
    float xres = 0, yres = 0;
};

TiffTags tiffTags(const QString& path)
{
    TiffTags tags;
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff) return tags;
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &tags.compression);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &tags.photometric);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &tags.samples);
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &tags.unit);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &tags.xres);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &tags.yres);
    uint16_t count = 0;
    uint16_t* types = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &types)) tags.extraSamples.assign(types, types + count);
    TIFFClose(tiff);
    return tags;
}

// The JPEG segments: marker and payload, up to the start of the scan.
std::vector<std::pair<int, QByteArray>> jpegSegments(const QByteArray& bytes)
{
    std::vector<std::pair<int, QByteArray>> segments;
    qsizetype at = 2;
    while (at + 4 <= bytes.size() && uint8_t(bytes[at]) == 0xFF) {
        const int marker = uint8_t(bytes[at + 1]);
        const int length = (uint8_t(bytes[at + 2]) << 8) | uint8_t(bytes[at + 3]);
        segments.emplace_back(marker, bytes.mid(at + 4, length - 2));
        if (marker == 0xDA) break;
        at += 2 + length;
    }
    return segments;
}

int firstLuminanceQuantiser(const QByteArray& jpeg)
{
    for (const auto& [marker, payload] : jpegSegments(jpeg))
        if (marker == 0xDB && (uint8_t(payload[0]) & 0x0F) == 0) return uint8_t(payload[1]);
    return -1;
}

std::optional<QByteArray> embeddedProfile(const QString& path)
{
    const std::optional<Image> image = readImageFile(path);
    const Image file = Image::new_from_file(QFile::encodeName(path).constData());
    if (!image || file.get_typeof("icc-profile-data") == 0) return std::nullopt;
    size_t size = 0;
    const void* data = file.get_blob("icc-profile-data", &size);
    return QByteArray(static_cast<const char*>(data), qsizetype(size));
}

std::string profileDescription(const QByteArray& profile)
{
    cmsHPROFILE handle = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    if (!handle) return {};
    char text[256] = {};
    cmsGetProfileInfoASCII(handle, cmsInfoDescription, "en", "US", text, sizeof text);
    cmsCloseProfile(handle);
    return text;
}

// Working values whose 8-bit forms in each space convert back within a level.
Image colourPatch()
{
    static constexpr Floats3 values[] = {{0.3f, 0.5f, 0.75f}, {1, 1, 1},          {0, 0, 0},
                                         {0.5f, 0.3f, 1.0f},  {0.9f, 0.4f, 0.6f}, {0.35f, 0.35f, 0.35f}};
    return floatImage(6, 4, [](int x, int) { return values[x]; });
}

} // namespace

class ImageFile : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    QString file(const QString& name) const { return folder.path() + '/' + name; }
    QTemporaryDir folder;
    Image chart = testChart(90, 60);
};

TEST(EncoderProperties, FollowTheOptionsFormat)
{
    WriteOptions o = options(OutputFormat::png, 300);
    EXPECT_EQ(encoderProperties(o), (EncoderProperties{300, 300, std::nullopt, std::nullopt}));
    o.format = OutputFormat::tiff;
    o.tiffCompression = TIFFCompression::jpeg;
    EXPECT_EQ(encoderProperties(o), (EncoderProperties{300, 300, 7, std::nullopt}));
    o.format = OutputFormat::jpeg;
    o.jpegQuality = JPEGQuality::lowest;
    EXPECT_EQ(encoderProperties(o), (EncoderProperties{300, 300, std::nullopt, 0.05}));
    o.dpi = 0;
    EXPECT_EQ(encoderProperties(o).dpiWidth, 1);
    o.dpi = 70000;
    EXPECT_EQ(encoderProperties(o).dpiHeight, 65535);
}

TEST(EncoderProperties, SaverOptions)
{
    EXPECT_EQ(vipsTiffCompression(TIFFCompression::none), VIPS_FOREIGN_TIFF_COMPRESSION_NONE);
    EXPECT_EQ(vipsTiffCompression(TIFFCompression::lzw), VIPS_FOREIGN_TIFF_COMPRESSION_LZW);
    EXPECT_EQ(vipsTiffCompression(TIFFCompression::jpeg), VIPS_FOREIGN_TIFF_COMPRESSION_JPEG);
    EXPECT_EQ(vipsTiffCompression(TIFFCompression::zip), VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE);
    EXPECT_EQ(vipsJpegQuality(JPEGQuality::highest), 100);
    EXPECT_EQ(vipsJpegQuality(JPEGQuality::lowest), 5);
}

TEST_F(ImageFile, TiffCarriesCompressionLayoutAndResolution)
{
    for (TIFFCompression compression : allCases<TIFFCompression>()) {
        WriteOptions o = options(OutputFormat::tiff);
        o.tiffCompression = compression;
        const QString path = file("out.tiff");
        ASSERT_EQ(writeImage(chart, path, OutputFormat::tiff, o), path);
        const TiffTags tags = tiffTags(path);
        EXPECT_EQ(tags.compression, rawValue(compression));
        if (compression == TIFFCompression::jpeg) {
            EXPECT_EQ(tags.photometric, PHOTOMETRIC_YCBCR);
            EXPECT_EQ(tags.samples, 3);
        } else {
            EXPECT_EQ(tags.photometric, PHOTOMETRIC_RGB);
            EXPECT_EQ(tags.samples, 4);
            EXPECT_EQ(tags.extraSamples, std::vector<uint16_t>{EXTRASAMPLE_UNASSALPHA});
        }
        EXPECT_EQ(tags.unit, RESUNIT_INCH);
        EXPECT_NEAR(tags.xres, 300, 1e-3);
        EXPECT_NEAR(tags.yres, 300, 1e-3);
    }
}

TEST_F(ImageFile, PngIsRgbaWithItsDensity)
{
    const QString path = file("out.png");
    ASSERT_TRUE(writeImage(chart, path, OutputFormat::png, options(OutputFormat::png)));
    EXPECT_EQ(Image::new_from_file(QFile::encodeName(path).constData()).bands(), 4);
    const QByteArray bytes = contents(path);
    const qsizetype at = bytes.indexOf("pHYs");
    ASSERT_GT(at, 0);
    const auto be32 = [&](qsizetype i) {
        return (uint32_t(uint8_t(bytes[i])) << 24) | (uint8_t(bytes[i + 1]) << 16) | (uint8_t(bytes[i + 2]) << 8) |
            uint8_t(bytes[i + 3]);
    };
    EXPECT_EQ(be32(at + 4), 11811u);
    EXPECT_EQ(be32(at + 8), 11811u);
    EXPECT_EQ(uint8_t(bytes[at + 12]), 1); // per metre
}

TEST_F(ImageFile, JpegHasJfifDensityAndItsQuality)
{
    const QString path = file("out.jpeg");
    ASSERT_TRUE(writeImage(chart, path, OutputFormat::jpeg, options(OutputFormat::jpeg)));
    const QByteArray bytes = contents(path);
    ASSERT_GE(bytes.size(), 20);
    EXPECT_EQ(bytes.left(2), QByteArray("\xFF\xD8"));
    const auto segments = jpegSegments(bytes);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments[0].first, 0xE0);
    const QByteArray jfif = segments[0].second;
    EXPECT_EQ(jfif.left(5), QByteArray("JFIF", 5));
    EXPECT_EQ(uint8_t(jfif[7]), 1); // dots per inch
    EXPECT_EQ((uint8_t(jfif[8]) << 8) | uint8_t(jfif[9]), 300);
    EXPECT_EQ((uint8_t(jfif[10]) << 8) | uint8_t(jfif[11]), 300);
    EXPECT_EQ(QImage(path).dotsPerMeterX(), 11811);

    const std::map<JPEGQuality, int> expected{{JPEGQuality::highest, 1},
                                              {JPEGQuality::high, 8},
                                              {JPEGQuality::medium, 16},
                                              {JPEGQuality::low, 32},
                                              {JPEGQuality::lowest, 160}};
    for (const auto& [quality, entry] : expected) {
        WriteOptions o = options(OutputFormat::jpeg);
        o.jpegQuality = quality;
        ASSERT_TRUE(writeImage(chart, path, OutputFormat::jpeg, o));
        EXPECT_EQ(firstLuminanceQuantiser(contents(path)), entry) << rawValue(quality);
    }
}

TEST_F(ImageFile, SaverFollowsTheArgumentAndPropertiesTheOptions)
{
    WriteOptions png = options(OutputFormat::png);
    png.tiffCompression = TIFFCompression::lzw;
    const QString tiff = file("a.tiff");
    ASSERT_TRUE(writeImage(chart, tiff, OutputFormat::tiff, png));
    EXPECT_EQ(tiffTags(tiff).compression, COMPRESSION_NONE); // no compression entry

    WriteOptions tiffOptions = options(OutputFormat::tiff);
    tiffOptions.jpegQuality = JPEGQuality::lowest;
    const QString jpeg = file("b.jpeg");
    ASSERT_TRUE(writeImage(chart, jpeg, OutputFormat::jpeg, tiffOptions));
    EXPECT_EQ(firstLuminanceQuantiser(contents(jpeg)), 8); // the encoder's default quality
}

TEST_F(ImageFile, ProfilesAreEmbeddedOrLeftOut)
{
    for (ICCProfile profile : allCases<ICCProfile>()) {
        WriteOptions o = options(OutputFormat::tiff);
        o.tiffCompression = TIFFCompression::none;
        o.iccProfile = profile;
        for (OutputFormat format : allCases<OutputFormat>()) {
            const QString path = file("p." + displayName(format).toLower());
            ASSERT_TRUE(writeImage(chart, path, format, o));
            const std::optional<QByteArray> embedded = embeddedProfile(path);
            ASSERT_TRUE(embedded) << displayName(format).toStdString();
            EXPECT_EQ(profileDescription(*embedded), displayName(profile).toStdString());
        }
    }
    // Without embedding: no profile, and the choice of profile changes no byte.
    WriteOptions off = options(OutputFormat::png);
    off.embedProfile = false;
    QByteArray first;
    for (ICCProfile profile : allCases<ICCProfile>()) {
        off.iccProfile = profile;
        const QString path = file("off.png");
        ASSERT_TRUE(writeImage(chart, path, OutputFormat::png, off));
        EXPECT_FALSE(embeddedProfile(path));
        if (first.isEmpty()) first = contents(path);
        EXPECT_EQ(contents(path), first);
    }
}

TEST_F(ImageFile, PixelsComeBackThroughTheirProfile)
{
    const Image patch = colourPatch();
    const std::vector<std::uint8_t> expected = bytesOf(encode8(patch, EncodeSpace::sRGB));
    const ColorProfile srgb = colorSpace(ICCProfile::sRGB);
    for (ICCProfile profile : allCases<ICCProfile>()) {
        WriteOptions o = options(OutputFormat::tiff);
        o.tiffCompression = TIFFCompression::none;
        o.iccProfile = profile;
        const QString path = file("patch.tiff");
        ASSERT_TRUE(writeImage(patch, path, OutputFormat::tiff, o));
        const std::optional<QByteArray> embedded = embeddedProfile(path);
        const std::optional<Image> read = readImageFile(path);
        ASSERT_TRUE(embedded && read);
        cmsHPROFILE fileProfile = cmsOpenProfileFromMem(embedded->constData(), cmsUInt32Number(embedded->size()));
        cmsHTRANSFORM transform = cmsCreateTransform(fileProfile, TYPE_RGB_8, srgb.get(), TYPE_RGB_8,
                                                     INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
        ASSERT_NE(transform, nullptr);
        const std::vector<std::uint8_t> stored = bytesOf(*read);
        std::vector<std::uint8_t> converted(stored.size());
        cmsDoTransform(transform, stored.data(), converted.data(), cmsUInt32Number(stored.size() / 3));
        cmsDeleteTransform(transform);
        cmsCloseProfile(fileProfile);
        EXPECT_LE(maxDifference(converted, expected), 1) << displayName(profile).toStdString();
    }
}

TEST_F(ImageFile, DeviceRgbEqualsSRGBAndBlackAndWhiteStaysGrey)
{
    WriteOptions srgb = options(OutputFormat::png);
    srgb.iccProfile = ICCProfile::sRGB;
    WriteOptions device = srgb;
    device.embedProfile = false;
    ASSERT_TRUE(writeImage(chart, file("s.png"), OutputFormat::png, srgb));
    ASSERT_TRUE(writeImage(chart, file("d.png"), OutputFormat::png, device));
    EXPECT_EQ(bytesOf(*readImageFile(file("s.png"))), bytesOf(*readImageFile(file("d.png"))));

    ScanSettings::Values scan = ScanSettings().values();
    scan.colorType = VekColorType::blackAndWhite;
    const Image bw = ImageProcessor::processImage(chart, scan, ImageSettings().values());
    for (OutputFormat format : allCases<OutputFormat>()) {
        const QString path = file("bw." + displayName(format).toLower());
        ASSERT_TRUE(writeImage(bw, path, format, options(format)));
        const std::vector<std::uint8_t> pixels = bytesOf(*readImageFile(path));
        for (size_t i = 0; i < pixels.size(); i += 3)
            ASSERT_TRUE(pixels[i] == pixels[i + 1] && pixels[i] == pixels[i + 2]) << i;
    }
}

TEST_F(ImageFile, FailedWritesLeaveNothingBehind)
{
    EXPECT_FALSE(writeImage(chart, file("missing/out.png"), OutputFormat::png, options(OutputFormat::png)));
    ASSERT_TRUE(QDir(folder.path()).mkdir("sub"));
    EXPECT_FALSE(writeImage(chart, file("sub"), OutputFormat::png, options(OutputFormat::png)));
    EXPECT_TRUE(QFileInfo(file("sub")).isDir());
    EXPECT_TRUE(hiddenFiles(folder.path()).isEmpty());

    if (geteuid() != 0) {
        const QString path = file("sub/old.png");
        ASSERT_TRUE(writeImage(chart, path, OutputFormat::png, options(OutputFormat::png)));
        const QByteArray old = contents(path);
        ASSERT_EQ(::chmod(QFile::encodeName(file("sub")).constData(), 0555), 0);
        EXPECT_FALSE(writeImage(testChart(30, 20), path, OutputFormat::png, options(OutputFormat::png)));
        ::chmod(QFile::encodeName(file("sub")).constData(), 0755);
        EXPECT_EQ(contents(path), old);
        EXPECT_TRUE(hiddenFiles(file("sub")).isEmpty());
    }
}

TEST_F(ImageFile, PixelsThatFailKeepTheOldFile)
{
    const QString source = file("cut.jpeg");
    testChart(300, 200).jpegsave(QFile::encodeName(source).constData());
    ASSERT_EQ(::truncate(QFile::encodeName(source).constData(), QFileInfo(source).size() / 2), 0);
    const Image broken = Image::new_from_file(QFile::encodeName(source).constData(),
                                              Image::option()->set("fail_on", VIPS_FAIL_ON_ERROR));
    for (OutputFormat format : allCases<OutputFormat>())
        for (TIFFCompression compression : allCases<TIFFCompression>()) {
            if (format != OutputFormat::tiff && compression != TIFFCompression::none) continue;
            WriteOptions o = options(format);
            o.tiffCompression = compression;
            const QString path = file("keep." + displayName(format).toLower());
            ASSERT_TRUE(writeImage(chart, path, format, o));
            const QByteArray old = contents(path);
            EXPECT_FALSE(writeImage(broken, path, format, o)) << displayName(compression).toStdString();
            EXPECT_EQ(contents(path), old);
            EXPECT_TRUE(hiddenFiles(folder.path()).isEmpty());
            EXPECT_EQ(vips_error_buffer(), std::string());
        }
    // A file standing at the path when the new one is put in place stays, unless replacing it was
    // asked for; beside it the new file takes the next free name.
    const QString taken = file("taken.png");
    {
        QFile someone(taken);
        ASSERT_TRUE(someone.open(QIODevice::WriteOnly));
        someone.write("someone's");
    }
    WriteOptions keep = options(OutputFormat::png);
    keep.takenName = TakenName::keep;
    errno = 0;
    EXPECT_FALSE(writeImage(chart, taken, OutputFormat::png, keep));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(contents(taken), QByteArray("someone's"));
    EXPECT_TRUE(hiddenFiles(folder.path()).isEmpty());
    keep.takenName = TakenName::besideIt;
    EXPECT_EQ(writeImage(chart, taken, OutputFormat::png, keep), file("taken (2).png"));
    EXPECT_EQ(contents(taken), QByteArray("someone's"));
}

TEST_F(ImageFile, NewFilesFollowTheUmask)
{
    const mode_t previous = ::umask(022);
    const QString path = file("mode.png");
    ASSERT_TRUE(writeImage(chart, path, OutputFormat::png, options(OutputFormat::png)));
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(ImageFile, WrittenPixelsReadBack)
{
    const std::vector<std::uint8_t> pixels = bytesOf(chart);
    for (OutputFormat format : allCases<OutputFormat>())
        for (TIFFCompression compression : allCases<TIFFCompression>()) {
            if (format != OutputFormat::tiff && compression != TIFFCompression::none) continue;
            WriteOptions o = options(format);
            o.tiffCompression = compression;
            o.jpegQuality = JPEGQuality::highest;
            o.iccProfile = ICCProfile::sRGB;
            const QString path = file("back." + displayName(format).toLower());
            ASSERT_TRUE(writeImage(chart, path, format, o));
            const std::optional<Image> read = readImageFile(path);
            ASSERT_TRUE(read);
            EXPECT_EQ(read->bands(), 3);
            EXPECT_EQ(read->format(), VIPS_FORMAT_UCHAR);
            const bool lossless =
                format == OutputFormat::png || (format == OutputFormat::tiff && compression != TIFFCompression::jpeg);
            if (lossless)
                EXPECT_EQ(bytesOf(*read), pixels) << displayName(format).toStdString();
            else // quality 100 for JPEG files, the encoder's 75 inside TIFF
                EXPECT_LT((*read - chart).abs().avg(), format == OutputFormat::jpeg ? 1.5 : 6.0)
                    << displayName(format).toStdString();
        }
}

TEST_F(ImageFile, DamagedOrOversizedFilesGiveNothing)
{
    for (const char* name : {"cut.jpeg", "cut.tiff"}) {
        const QString path = file(name);
        ASSERT_TRUE(writeImage(chart, path, name[4] == 'j' ? OutputFormat::jpeg : OutputFormat::tiff,
                               options(OutputFormat::png)));
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), QFileInfo(path).size() * 2 / 3), 0);
        EXPECT_FALSE(readImageFile(path)) << name;
    }
    QFile text(file("notes.png"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not an image at all\n");
    text.close();
    EXPECT_FALSE(readImageFile(file("notes.png")));
    EXPECT_FALSE(readImageFile(file("nothing-here.tiff")));

    // Formats the application never writes are not read, whatever the name says.
    const QString other = file("other.tiff");
    chart.cast(VIPS_FORMAT_UCHAR).ppmsave(QFile::encodeName(other).constData());
    ASSERT_TRUE(Image::new_from_file(QFile::encodeName(other).constData()).width() == 90);
    EXPECT_FALSE(readImageFile(other));

    // A tile in the middle of the file that does not decode fails the read.
    const QString tiled = file("tiled.tiff");
    Image::gaussnoise(512, 512, Image::option()->set("seed", 1))
        .cast(VIPS_FORMAT_UCHAR)
        .tiffsave(QFile::encodeName(tiled).constData(),
                  Image::option()
                      ->set("tile", true)
                      ->set("tile_width", 128)
                      ->set("tile_height", 128)
                      ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE));
    ASSERT_TRUE(readImageFile(tiled));
    {
        QFile damaged(tiled);
        ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
        ASSERT_TRUE(damaged.seek(damaged.size() / 2));
        damaged.write(QByteArray(256, char(0xA5)));
    }
    EXPECT_FALSE(readImageFile(tiled));

    const QString wide = file("wide.tiff");
    Image::black(70000, 1).cast(VIPS_FORMAT_UCHAR).tiffsave(QFile::encodeName(wide).constData());
    EXPECT_FALSE(readImageFile(wide));
    // A name with characters libvips would read as load options is still just a name.
    const QString odd = file("odd[page=1].png");
    ASSERT_TRUE(writeImage(chart, odd, OutputFormat::png, options(OutputFormat::png)));
    EXPECT_TRUE(readImageFile(odd));
    EXPECT_EQ(vips_error_buffer(), std::string());
}
