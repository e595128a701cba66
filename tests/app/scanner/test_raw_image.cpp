// Blocks placed on the canvas, the raw TIFF writer, and the scanner profiles.
#include "fake_driver.h"
#include "quorvane_scanner.h"
#include "raw_image.h"
#include "scanner_profile.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>
#include <limits>
#include <vector>

using namespace lumenfield;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a call printed.
template <typename Call> std::string printed(Call call)
{
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

TEST(RawImage, LinesLandAtTheirRowsAndTheRestIsWhite)
{
    // 256 lines of a 2000-pixel image in lines of 6004 bytes, the padding unlike any pixel.
    const std::size_t width = 2000, lines = 256, rowBytes = 3 * width + 4;
    const auto component = [](std::size_t line, std::size_t i) { return uint8_t(line * 7 + i * 13); };
    std::vector<uint8_t> buffer(rowBytes * lines, 0xEE);
    for (std::size_t line = 0; line < lines; line++)
        for (std::size_t i = 0; i < 3 * width; i++) buffer[line * rowBytes + i] = component(line, i);

    std::optional<RawCanvas> canvas = RawCanvas::create(width, 600);
    ASSERT_TRUE(canvas.has_value());
    ASSERT_EQ(canvas->rowBytes(), 3 * width);
    // Rows 0..299 read straight in, as lines of the canvas's own width.
    for (std::size_t row = 0; row < 300; row++)
        for (std::size_t i = 0; i < 3 * width; i++) canvas->row(0)[row * 3 * width + i] = component(row + 1000, i);
    canvas->copyLines(buffer.data(), 300, lines, rowBytes);
    canvas->whiten(400);
    canvas->copyLines(buffer.data(), 500, lines, rowBytes); // cut at the bottom
    for (std::size_t row = 0; row < 600; row++)
        for (std::size_t i = 0; i < canvas->rowBytes(); i++) {
            const uint8_t expected = row >= 500 ? component(row - 500, i)
                : row >= 400                    ? 0xFF
                : row >= 300                    ? component(row - 300, i)
                                                : component(row + 1000, i);
            ASSERT_EQ(canvas->data()[row * canvas->rowBytes() + i], expected) << row << ", " << i;
        }

    // Lines narrower than the canvas's rows describe no part of it.
    canvas->copyLines(buffer.data(), 0, 1, 3 * width - 1);
    EXPECT_EQ(canvas->data()[0], component(1000, 0));
    EXPECT_FALSE(RawCanvas::create(0, 10));
    EXPECT_FALSE(RawCanvas::create(10, -1));
}

// The canvas handed over as an image, with what reading its TIFF file back gives: the pixels, the
// colour space, the resolution and its unit. The image frees the pixels when it goes.
TEST(RawImage, TheCanvasBecomesTheImageItsFileHolds)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/raw_image.tiff";
    std::optional<RawCanvas> canvas = RawCanvas::create(7, 5);
    ASSERT_TRUE(canvas);
    for (std::size_t i = 0; i < canvas->byteCount(); i++) canvas->row(0)[i] = uint8_t(i * 37 + 11);
    ASSERT_EQ(writeTIFF(*canvas, path, 600), path);
    const vips::VImage file = vips::VImage::new_from_file(QFile::encodeName(path).constData());

    const vips::VImage image = std::move(*canvas).intoImage(600);
    EXPECT_EQ(canvas->data(), nullptr);
    ASSERT_EQ((std::vector<int>{image.width(), image.height(), image.bands(), image.format()}),
              (std::vector<int>{7, 5, 3, VIPS_FORMAT_UCHAR}));
    EXPECT_EQ(image.interpretation(), file.interpretation());
    EXPECT_NEAR(image.xres(), file.xres(), 1e-6);
    EXPECT_NEAR(image.yres(), file.yres(), 1e-6);
    EXPECT_STREQ(image.get_string("resolution-unit"), file.get_string("resolution-unit"));
    EXPECT_EQ((image == file).min(), 255.0);
}

TEST(RawImage, BigTIFFFromTheSizeWhereClassicOffsetsRunOut)
{
    // 3 × 65536 × 21840 = 2^32 − 2^20.
    EXPECT_TRUE(needsBigTIFF(65536, 21840));
    EXPECT_FALSE(needsBigTIFF(65536, 21839));
    EXPECT_TRUE(needsBigTIFF(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()));
    EXPECT_FALSE(needsBigTIFF(0, 1 << 30));
}

TEST(RawImage, WrittenAsTheCanvasOrNotAtAll)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/raw_image.tiff";
    std::optional<RawCanvas> canvas = RawCanvas::create(5, 3);
    std::vector<uint8_t> line(15);
    for (std::size_t i = 0; i < line.size(); i++) line[i] = uint8_t(i * 16);
    canvas->whiten(0);
    canvas->copyLines(line.data(), 1, 1, line.size());

    for (const bool big : {false, true}) {
        EXPECT_EQ(printed([&] { EXPECT_EQ(writeTIFF(*canvas, path, 300, big), path); }), "");
        EXPECT_EQ(fileBytes(path).left(4), big ? QByteArray("II\x2B\0", 4) : QByteArray("II\x2A\0", 4));
        vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData());
        EXPECT_EQ(image.interpretation(), VIPS_INTERPRETATION_sRGB);
        EXPECT_FALSE(image.get_typeof(VIPS_META_ICC_NAME)); // the driver's bytes, no profile
        // The scan's resolution, in inches.
        EXPECT_STREQ(image.get_string("resolution-unit"), "in");
        EXPECT_NEAR(image.xres() * 25.4, 300.0, 1e-3);
        EXPECT_NEAR(image.yres() * 25.4, 300.0, 1e-3);
        std::size_t size = 0;
        std::unique_ptr<void, decltype(&g_free)> pixels(image.write_to_memory(&size), g_free);
        ASSERT_EQ(size, canvas->byteCount());
        EXPECT_EQ(std::memcmp(pixels.get(), canvas->data(), size), 0);
    }

    // A full disk under the partial file, and no folder to write into.
    const QByteArray previous = fileBytes(path);
    ASSERT_TRUE(QFile::link("/dev/full", path + ".part"));
    for (const QString& to : {path, dir.path() + "/missing/raw_image.tiff"})
        EXPECT_EQ(printed([&] { EXPECT_FALSE(writeTIFF(*canvas, to, 300)); }), "Failed to write image to file\n");
    EXPECT_EQ(fileBytes(path), previous);
    EXPECT_FALSE(QFileInfo(path + ".part").isSymLink());
}

TEST(ScannerProfile, NamesTriedForEachSourceAndScanner)
{
    fake::FakeDriver::instance().reset();
    fake::DriverFolder drivers;
    QuorvaneScanner scanner(drivers.add("FakeAlpha").path());
    ASSERT_TRUE(scanner.loadDriver());
    QTemporaryDir dir;
    const auto touch = [&](const QString& name) { QFile(dir.path() + "/" + name).open(QIODevice::WriteOnly); };
    const auto found = [&](const QuorvaneScanner* on, int64_t source) {
        return scannerProfileFileName(on, VekScanSource(source), dir.path()).value_or("/").section('/', -1);
    };
    for (const char* name : {"vqgenrk.icm", "vqgentk.icm", "VQ6204_0000XR.icm", "vq6204_0000xt.ICM"}) touch(name);
    EXPECT_EQ(found(&scanner, 1), ""); // no generic name with a scanner, and the case counts
    touch("vq6204_0000rk.icm");
    EXPECT_EQ(found(&scanner, 1), "vq6204_0000rk.icm");
    touch("vq6204_0000xr.icm");
    EXPECT_EQ(found(&scanner, 1), "vq6204_0000xr.icm");
    EXPECT_EQ(found(&scanner, 2), "vq6204_0000xr.icm");
    touch("vq6204_0000tk.icm");
    EXPECT_EQ(found(&scanner, 4), "vq6204_0000tk.icm");
    touch("vq6204_0000xt.icm");
    EXPECT_EQ(found(&scanner, 4), "vq6204_0000xt.icm");
    EXPECT_EQ(found(&scanner, 3), "vq6204_0000xt.icm");
    EXPECT_EQ(found(nullptr, 1), "vqgenrk.icm");
    EXPECT_EQ(found(nullptr, 3), "vqgentk.icm");

    scanner.unloadDriver();
    fake::FakeDriver::instance().subModel = 2;
    ASSERT_TRUE(scanner.loadDriver());
    touch("vq6204_0002xr.icm");
    EXPECT_EQ(found(&scanner, 1), "vq6204_0002xr.icm");
    scanner.unloadDriver();
}

TEST(ScannerProfile, LoadsOnlyReadableRGBProfiles)
{
    QTemporaryDir dir;
    const QByteArray reflective = QFile::encodeName(dir.path() + "/vqgenrk.icm");
    const auto load = [&](int64_t source) { return loadScannerProfile(nullptr, VekScanSource(source), dir.path()); };
    ColorProfile made(cmsCreate_sRGBProfile());
    ASSERT_TRUE(cmsSaveProfileToFile(made.get(), reflective.constData()));
    ColorProfile loaded = load(1);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(cmsGetColorSpace(loaded.get()), cmsSigRgbData);

    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    made.reset(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
    cmsFreeToneCurve(gamma);
    ASSERT_TRUE(cmsSaveProfileToFile(made.get(), QFile::encodeName(dir.path() + "/vqgentk.icm").constData()));
    EXPECT_EQ(load(4), nullptr);

    QFile text(reflective);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate) && text.write("not a profile\n") > 0);
    text.close();
    EXPECT_EQ(printed([&] { EXPECT_EQ(load(1), nullptr); }), "");

    // A file that opens but cannot be read, also for a privileged user.
    ASSERT_TRUE(QFile::remove(reflective) && QFile::link("/proc/self/mem", reflective));
    EXPECT_EQ(printed([&] { EXPECT_EQ(load(1), nullptr); }).rfind("Error loading scanner profile data: ", 0), 0u);
}

} // namespace
