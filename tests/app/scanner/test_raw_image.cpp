// Blocks placed on the canvas, the raw TIFF writer, and the scanner profiles.
#include "fake_driver.h"
#include "quorvane_scanner.h"
#include "raw_image.h"
#include "scanner_profile.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>
#include <limits>
#include <vector>

namespace {

// A recognisable byte for each pixel component of a line.
uint8_t component(int line, std::size_t index)
{
    return uint8_t(line * 7 + index * 13);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(RawImage, BlocksTakeThreeBytesPerPixelOfEachLineAndLandAtTheirLine)
{
    // 256 lines of a 2000-pixel image in lines of 6004 bytes, the padding unlike any pixel.
    const int width = 2000;
    const int lines = 256;
    const std::size_t rowBytes = 3 * width + 4;
    std::vector<uint8_t> buffer(rowBytes * lines, 0xEE);
    for (int line = 0; line < lines; line++)
        for (std::size_t i = 0; i < 3 * width; i++) buffer[line * rowBytes + i] = component(line, i);

    std::optional<BlockImage> block = makeBlockImage(buffer.data(), width, lines, rowBytes);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->width, width);
    EXPECT_EQ(block->lines, lines);

    std::optional<RawCanvas> canvas = RawCanvas::create(width, 600);
    ASSERT_TRUE(canvas.has_value());
    canvas->place(*block, 300);
    for (int row = 0; row < 600; row++) {
        const uint8_t* pixels = canvas->data() + row * canvas->rowBytes();
        for (std::size_t i = 0; i < canvas->rowBytes(); i++) {
            const bool covered = row >= 300 && row < 300 + lines;
            ASSERT_EQ(pixels[i], covered ? component(row - 300, i) : 0xFF) << row << ", " << i;
        }
    }
    // A block reaching past the bottom is cut there.
    canvas->place(*block, 500);
    EXPECT_EQ(canvas->data()[599 * canvas->rowBytes()], component(99, 0));

    // Sizes that describe no image.
    EXPECT_FALSE(makeBlockImage(buffer.data(), width, lines, 3 * width - 1));
    EXPECT_FALSE(makeBlockImage(buffer.data(), 0, lines, rowBytes));
    EXPECT_FALSE(RawCanvas::create(0, 10));
    EXPECT_FALSE(RawCanvas::create(10, -1));
}

TEST(RawImage, BigTIFFFromTheSizeWhereClassicOffsetsRunOut)
{
    // 3 × 65536 × 21840 = 2^32 − 2^20.
    EXPECT_TRUE(needsBigTIFF(65536, 21840));
    EXPECT_FALSE(needsBigTIFF(65536, 21839));
    EXPECT_TRUE(needsBigTIFF(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()));
    EXPECT_FALSE(needsBigTIFF(10000, 10000));
    EXPECT_FALSE(needsBigTIFF(0, 1 << 30));
}

class RawTIFFTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vips_cache_set_max(0);
        ASSERT_TRUE(dir.isValid());
        canvas = RawCanvas::create(5, 3);
        ASSERT_TRUE(canvas.has_value());
        std::vector<uint8_t> line(15);
        for (std::size_t i = 0; i < line.size(); i++) line[i] = uint8_t(i * 16);
        std::optional<BlockImage> block = makeBlockImage(line.data(), 5, 1, line.size());
        ASSERT_TRUE(block.has_value());
        canvas->place(*block, 1);
    }
    QString path() const { return dir.path() + "/raw_image.tiff"; }

    QTemporaryDir dir;
    std::optional<RawCanvas> canvas;
};

TEST_F(RawTIFFTest, ClassicAndBigTIFFReadBackAsTheCanvas)
{
    for (const bool big : {false, true}) {
        testing::internal::CaptureStdout();
        ASSERT_EQ(writeTIFF(*canvas, path(), big), path());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_FALSE(QFile::exists(path() + ".part"));
        const QByteArray bytes = fileBytes(path());
        ASSERT_GE(bytes.size(), 4);
        EXPECT_EQ(bytes.mid(0, 4), big ? QByteArray("II\x2B\0", 4) : QByteArray("II\x2A\0", 4));

        vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path()).constData());
        ASSERT_EQ(image.width(), 5);
        ASSERT_EQ(image.height(), 3);
        ASSERT_EQ(image.bands(), 3);
        EXPECT_EQ(image.interpretation(), VIPS_INTERPRETATION_sRGB);
        EXPECT_FALSE(image.get_typeof(VIPS_META_ICC_NAME)); // the driver's bytes, no profile
        std::size_t size = 0;
        void* memory = image.write_to_memory(&size);
        ASSERT_EQ(size, canvas->byteCount());
        EXPECT_EQ(std::memcmp(memory, canvas->data(), size), 0);
        g_free(memory);
    }
}

TEST_F(RawTIFFTest, AFailedWriteLeavesThePreviousFile)
{
    ASSERT_TRUE(writeTIFF(*canvas, path()).has_value());
    const QByteArray previous = fileBytes(path());
    // A full disk under the partial file.
    ASSERT_TRUE(QFile::link("/dev/full", path() + ".part"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writeTIFF(*canvas, path()).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to write image to file\n");
    EXPECT_EQ(fileBytes(path()), previous);
    EXPECT_FALSE(QFileInfo(path() + ".part").exists() || QFileInfo(path() + ".part").isSymLink());

    // No folder to write into.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writeTIFF(*canvas, dir.path() + "/missing/raw_image.tiff").has_value());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to write image to file\n");
}

class ScannerProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.reset();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { scanner.unloadDriver(); }

    void connect(uint8_t subModel)
    {
        driver.subModel = subModel;
        ASSERT_TRUE(scanner.loadDriver());
    }
    void touch(const QString& name) const
    {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    std::optional<QString> found(const QuorvaneScanner* on, VekScanSource source) const
    {
        const std::optional<QString> path = scannerProfileFileName(on, source, dir.path());
        if (!path) return std::nullopt;
        EXPECT_TRUE(path->startsWith(dir.path() + "/"));
        return path->mid(dir.path().size() + 1);
    }
    bool save(cmsHPROFILE profile, const QString& name) const
    {
        const bool saved = cmsSaveProfileToFile(profile, QFile::encodeName(dir.path() + "/" + name).constData());
        cmsCloseProfile(profile);
        return saved;
    }

    fake::FakeDriver& driver = fake::FakeDriver::instance();
    fake::DriverFolder folder;
    QuorvaneScanner scanner{folder.add("FakeAlpha").path()};
    QTemporaryDir dir;
};

TEST_F(ScannerProfileTest, NamesTriedForEachSourceAndScanner)
{
    connect(0);
    for (const char* name : {"vqgenrk.icm", "vqgentk.icm", "VQ6204_0000XR.icm", "vq6204_0000xt.ICM"}) touch(name);
    EXPECT_EQ(found(&scanner, VekScanSource::reflective), std::nullopt); // no generic name with a scanner
    touch("vq6204_0000rk.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::reflective), "vq6204_0000rk.icm");
    touch("vq6204_0000xr.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::reflective), "vq6204_0000xr.icm");
    EXPECT_EQ(found(&scanner, VekScanSource(2)), "vq6204_0000xr.icm");

    touch("vq6204_0000tk.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::negativeFilm), "vq6204_0000tk.icm");
    touch("vq6204_0000xt.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::negativeFilm), "vq6204_0000xt.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::positiveFilm), "vq6204_0000xt.icm");

    // Without a scanner only the generic names count.
    EXPECT_EQ(found(nullptr, VekScanSource::reflective), "vqgenrk.icm");
    EXPECT_EQ(found(nullptr, VekScanSource::negativeFilm), "vqgentk.icm");
    QFile::remove(dir.path() + "/vqgentk.icm");
    EXPECT_EQ(found(nullptr, VekScanSource::positiveFilm), std::nullopt);

    scanner.unloadDriver();
    connect(2);
    touch("vq6204_0002xr.icm");
    EXPECT_EQ(found(&scanner, VekScanSource::reflective), "vq6204_0002xr.icm");
}

TEST_F(ScannerProfileTest, LoadsOnlyReadableRGBProfiles)
{
    ASSERT_TRUE(save(cmsCreate_sRGBProfile(), "vqgenrk.icm"));
    ColorProfile profile = loadScannerProfile(nullptr, VekScanSource::reflective, dir.path());
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(cmsGetColorSpace(profile.get()), cmsSigRgbData);

    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    ASSERT_TRUE(save(cmsCreateGrayProfile(cmsD50_xyY(), gamma), "vqgentk.icm"));
    cmsFreeToneCurve(gamma);
    EXPECT_EQ(loadScannerProfile(nullptr, VekScanSource::negativeFilm, dir.path()), nullptr);

    QFile text(dir.path() + "/vqgenrk.icm");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
    text.write("not a profile\n");
    text.close();
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadScannerProfile(nullptr, VekScanSource::reflective, dir.path()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // A file that opens but cannot be read (this also holds for a privileged user).
    QFile::remove(dir.path() + "/vqgenrk.icm");
    ASSERT_TRUE(QFile::link("/proc/self/mem", dir.path() + "/vqgenrk.icm"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadScannerProfile(nullptr, VekScanSource::reflective, dir.path()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error loading scanner profile data: ", 0), 0u);
}

} // namespace
