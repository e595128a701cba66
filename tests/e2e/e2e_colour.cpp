// The colour of a scan made with the default image settings, end to end: a chart of known sRGB
// patches on the simulated scanner (whose sensor is linear in light), read through the driver
// bundle as built, processed and written by the application's own scan and save flow in each output
// format and with each output profile. Each file is rendered through the profile it carries (sRGB
// when it carries none) by lcms2, which shares no code with the writer, and must match the chart:
// a mean CIEDE2000 difference of at most 2 and no patch above 5.
//
// Film: a positive is the chart itself as transmittance; a negative is made from the chart so that
// its transmittance is the complement of the encoded positive, T = 1 - E(s), which the negative-film
// processing (inverted tone tables, then a decoding tone curve) turns back into the positive.
#include "chart_scan_engine.h"
#include "content_controller.h"
#include "e2e_main.h"
#include "image_processor.h"
#include "preview_image.h"
#include "scan_chart.h"
#include "varnoth_session.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <vips/vips8>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace lumenfield;

namespace {

using Rgb = std::array<int, 3>;

// The chart: kColumns × kRows patches of kPatch pixels at kChartDpi, 1.2 × 2.1 inches, small enough
// for the film holder's 1.5-inch width.
constexpr int kChartDpi = 100;
constexpr int kPatch = 30;
constexpr int kColumns = 4, kRows = 7;
constexpr std::array<Rgb, kColumns * kRows> kPatches{{
    {255, 255, 255}, {0, 0, 0},       {16, 16, 16},    {32, 32, 32}, // paper white, deep black
    {48, 48, 48},    {64, 64, 64},    {80, 80, 80},    {96, 96, 96}, // the grey ramp
    {128, 128, 128}, {160, 160, 160}, {192, 192, 192}, {224, 224, 224},
    {220, 40, 40},   {40, 180, 60},   {40, 60, 200},   {240, 220, 40}, // saturated colours
    {40, 180, 200},  {200, 50, 170},  {225, 170, 140}, {150, 100, 70}, // and skin-like tones
    {240, 140, 30},  {110, 70, 170},  {128, 128, 40},  {20, 90, 100},
    {170, 200, 235}, {110, 20, 25},   {20, 60, 30},    {245, 235, 220},
}};

// The scan: the whole chart at the default resolution, 150 dpi.
constexpr int kScanDpi = 150;

double encode(double u)
{
    return u <= 0.0031308 ? 12.92 * u : 1.055 * std::pow(u, 1.0 / 2.4) - 0.055;
}

// The chart as a 16-bit sRGB file; `negative` makes the film negative of it.
std::string writeChart(const QString& folder, bool negative)
{
    const int width = kColumns * kPatch, height = kRows * kPatch;
    std::vector<uint16_t> pixels(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double s = kPatches[(y / kPatch) * kColumns + x / kPatch][c] / 255.0;
                const double value = negative ? encode(1.0 - encode(s)) : s;
                pixels[(std::size_t(y) * width + x) * 3 + c] = uint16_t(std::lround(value * 65535.0));
            }
    const double pixelsPerMm = kChartDpi / 25.4;
    const vips::VImage image =
        vips::VImage::new_from_memory(pixels.data(), pixels.size() * 2, width, height, 3, VIPS_FORMAT_USHORT)
            .copy(vips::VImage::option()
                      ->set("interpretation", VIPS_INTERPRETATION_RGB16)
                      ->set("xres", pixelsPerMm)
                      ->set("yres", pixelsPerMm));
    const std::string path = QFile::encodeName(folder + (negative ? "/negative.png" : "/chart.png")).toStdString();
    image.pngsave(path.c_str());
    return path;
}

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformCloser {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformCloser>;

cmsCIELab labOfSRGB(const std::array<double, 3>& rgb)
{
    const Profile srgb(cmsCreate_sRGBProfile());
    const Profile lab(cmsCreateLab4Profile(cmsD50_xyY()));
    const Transform toLab(
        cmsCreateTransform(srgb.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
    cmsCIELab out{};
    cmsDoTransform(toLab.get(), rgb.data(), &out, 1);
    return out;
}

struct Difference {
    double mean = 0.0;
    double largest = 0.0;
    int worst = -1;
    bool measured = false;
    std::vector<std::array<double, 3>> patches; // sRGB, 0 to 1
};

using Means = std::vector<std::array<double, 3>>;

// The interior of each patch of sRGB pixels `rgb` (3 bands of `T`, 150 dpi), averaged after
// `toSRGB` turns them into sRGB from 0 to 1; nothing when a patch lies outside.
template <typename T>
std::optional<Means> patchMeans(const T* rgb, int width, int height,
                                const std::function<void(const T*, double*, int)>& toSRGB)
{
    const double scale = double(kScanDpi) / kChartDpi;
    Means means;
    for (int p = 0; p < kColumns * kRows; ++p) {
        const int inset = 10;
        const int x0 = int((p % kColumns) * kPatch * scale) + inset,
                  x1 = int((p % kColumns + 1) * kPatch * scale) - inset;
        const int y0 = int((p / kColumns) * kPatch * scale) + inset,
                  y1 = int((p / kColumns + 1) * kPatch * scale) - inset;
        std::array<double, 3> mean{};
        int count = 0;
        std::vector<std::array<double, 3>> row(std::size_t(std::max(x1 - x0, 0)));
        for (int y = y0; y < std::min(y1, height) && x1 <= width; ++y) {
            toSRGB(rgb + (std::size_t(y) * width + x0) * 3, row.data()->data(), x1 - x0);
            for (const auto& v : row)
                for (int c = 0; c < 3; ++c) mean[c] += v[c];
            count += x1 - x0;
        }
        if (count == 0) {
            ADD_FAILURE() << "patch " << p << " lies outside the image";
            return std::nullopt;
        }
        for (double& m : mean) m /= count;
        means.push_back(mean);
    }
    return means;
}

// The file's patches rendered through its own profile into sRGB (sRGB when it carries none) by lcms2.
std::optional<Means> filePatchMeans(const QString& path, bool expectProfile)
{
    const vips::VImage file = vips::VImage::new_from_file(QFile::encodeName(path).constData());
    EXPECT_EQ(file.format(), VIPS_FORMAT_UCHAR) << qPrintable(path);
    const bool hasProfile = file.get_typeof(VIPS_META_ICC_NAME) != 0;
    EXPECT_EQ(hasProfile, expectProfile) << qPrintable(path);
    Profile source;
    if (hasProfile) {
        std::size_t size = 0;
        const void* data = file.get_blob(VIPS_META_ICC_NAME, &size);
        source.reset(cmsOpenProfileFromMem(data, cmsUInt32Number(size)));
    } else {
        source.reset(cmsCreate_sRGBProfile());
    }
    if (!source) {
        ADD_FAILURE() << "unreadable profile in " << qPrintable(path);
        return std::nullopt;
    }
    const Profile srgb(cmsCreate_sRGBProfile());
    const Transform toSRGB(
        cmsCreateTransform(source.get(), TYPE_RGB_8, srgb.get(), TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
    const vips::VImage rgb = file.extract_band(0, vips::VImage::option()->set("n", 3)).copy_memory();
    std::size_t size = 0;
    const std::unique_ptr<void, decltype(&g_free)> memory(rgb.write_to_memory(&size), g_free);
    const double scale = double(kScanDpi) / kChartDpi;
    // The chart's whole area, give or take the driver's rounding of the frame.
    EXPECT_NEAR(rgb.width(), kColumns * kPatch * scale, 2) << qPrintable(path);
    EXPECT_NEAR(rgb.height(), kRows * kPatch * scale, 2) << qPrintable(path);
    return patchMeans<uint8_t>(
        static_cast<const uint8_t*>(memory.get()), rgb.width(), rgb.height(),
        [&](const uint8_t* in, double* out, int n) { cmsDoTransform(toSRGB.get(), in, out, cmsUInt32Number(n)); });
}

// The file rendered through its own profile into sRGB, each patch's interior averaged there, and
// compared with the chart patch.
Difference compareWithChart(const QString& path, bool expectProfile)
{
    Difference result;
    const std::optional<Means> means = filePatchMeans(path, expectProfile);
    if (!means) return result;
    result.patches = *means;
    double sum = 0.0;
    for (int p = 0; p < kColumns * kRows; ++p) {
        const Rgb& chart = kPatches[p];
        const cmsCIELab want = labOfSRGB({chart[0] / 255.0, chart[1] / 255.0, chart[2] / 255.0});
        const cmsCIELab got = labOfSRGB((*means)[p]);
        const double difference = cmsCIE2000DeltaE(&want, &got, 1.0, 1.0, 1.0);
        sum += difference;
        if (difference > result.largest) {
            result.largest = difference;
            result.worst = p;
        }
    }
    result.mean = sum / (kColumns * kRows);
    result.measured = true;
    return result;
}

// Every scan here is meant to succeed: a failure the window would show fails the test.
struct NoDialogs : SaveDialogs {
    ReplaceAnswer askReplace() override { return ReplaceAnswer::cancel; }
    void showFailure(const FailureMessage& message) override
    {
        ADD_FAILURE() << message.title.toStdString() << ": " << message.detail.toStdString();
    }
    std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString&) override
    {
        showFailure(message);
        return std::nullopt;
    }
};

struct NoOpener : FileOpener {
    void open(const QString&) override {}
};

struct Output {
    OutputFormat format;
    bool embed;
    ICCProfile profile;
};

QString nameOf(VekScanSource source, const Output& output)
{
    const char* sources[] = {"", "reflective", "", "positive", "negative"};
    const char* profiles[] = {"generic", "srgb", "adobergb"};
    return QStringLiteral("%1-%2-%3")
        .arg(QLatin1String(sources[rawValue(source)]))
        .arg(displayName(output.format).toLower())
        .arg(QLatin1String(output.embed ? profiles[rawValue(output.profile)] : "none"));
}

class ColourEndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(charts_.isValid() && pictures_.isValid());
        // The program's names, which place its data folder and so the raw image.
        QCoreApplication::setOrganizationName(QStringLiteral("Lumenfield"));
        QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
        bench_ = std::make_unique<varnoth_test::Bench>();
        model_ = &bench_->addScanner();
        controller_ =
            std::make_unique<ContentController>(manager_, app_, scanSettings_, imageSettings_, frameCrop_, output_);
        controller_->setSaveDialogs(std::make_shared<NoDialogs>());
        controller_->setFileOpener(std::make_shared<NoOpener>());
        app_.setOpenImageAfterScan(false);
        output_.setDirectoryPath(pictures_.path());
        output_.setAutoSuffix(false);
        scanner_ = varnoth_test::connectManager(*bench_, manager_);
        ASSERT_TRUE(scanner_);
    }
    void TearDown() override
    {
        if (scanner_) varnoth_test::disconnectManager(manager_, scanner_);
        controller_.reset();
        QCoreApplication::processEvents();
        bench_->shutdown();
    }

    void useChart(bool negative)
    {
        std::string error;
        auto chart = sim::file_chart(writeChart(charts_.path(), negative), kChartDpi, &error);
        ASSERT_TRUE(chart) << error;
        model_->with_chart_engine([&](sim::ChartScanEngine& engine) {
            engine.set_chart(chart);
            engine.set_sensor(sim::Sensor::Realistic);
        });
    }

    // A card larger than the scan frame, so that no white beyond it is scanned: each pixel's 16-bit
    // sRGB value (all three channels alike) from `value`, in chart pixels.
    void useCard(const QString& name, const std::function<int(int x, int y)>& value)
    {
        const int width = 200, height = 300;
        const QString path = charts_.path() + "/" + name + ".png";
        std::vector<uint16_t> card(std::size_t(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) card[(std::size_t(y) * width + x) * 3 + c] = uint16_t(value(x, y));
        vips::VImage::new_from_memory(card.data(), card.size() * 2, width, height, 3, VIPS_FORMAT_USHORT)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
            .pngsave(QFile::encodeName(path).constData());
        std::string error;
        auto chart = sim::file_chart(QFile::encodeName(path).toStdString(), kChartDpi, &error);
        ASSERT_TRUE(chart) << error;
        model_->with_chart_engine([&](sim::ChartScanEngine& engine) { engine.set_chart(chart); });
    }

    // A final scan of the chart through the scan button's flow, saved with `output` under a name of
    // its own (`tag` told apart scans of different charts); the file's path.
    QString scanAndSave(VekScanSource source, const Output& output, const QString& tag = {})
    {
        const QString name = tag + nameOf(source, output);
        scanSettings_.setScanSourceRawValue(rawValue(source));
        scanSettings_.setResolution(kScanDpi);
        scanSettings_.setPreviewImageScale(1.0);
        // Preview points at scale 1 are pixels at the preview resolution.
        const double points = ScanSettings::previewResolution / kChartDpi;
        scanSettings_.setPreviewRect(QRectF(0, 0, kColumns * kPatch * points, kRows * kPatch * points));
        // The scan button needs a preview of the source; its pixels play no part in the scan.
        controller_->setRawPreview(rawValue(source),
                                   vips::VImage::black(8, 8, vips::VImage::option()->set("bands", 3)));
        output_.setPrefix(name);
        output_.setFormat(output.format);
        output_.setEmbeddedICCProfile(output.embed);
        output_.setIccProfile(output.profile);
        if (!controller_->scanImage()) {
            ADD_FAILURE() << "the scan did not start for " << qPrintable(name);
            return {};
        }
        if (!QTest::qWaitFor([&] { return !controller_->isFlowBusy(); }, 120000)) {
            ADD_FAILURE() << "the scan did not end for " << qPrintable(name);
            return {};
        }
        return pictures_.filePath(name + "." + displayName(output.format).toLower());
    }

    void expectMatchesChart(VekScanSource source, const Output& output)
    {
        const QString path = scanAndSave(source, output);
        if (path.isEmpty()) return;
        ASSERT_TRUE(QFile::exists(path)) << qPrintable(path);
        const Difference d = compareWithChart(path, output.embed);
        if (!d.measured) return;
        std::printf("colour: %-28s mean dE2000 %.2f, largest %.2f (patch %d)\n", qPrintable(nameOf(source, output)),
                    d.mean, d.largest, d.worst);
        EXPECT_LE(d.mean, 2.0) << qPrintable(path);
        EXPECT_LE(d.largest, 5.0) << qPrintable(path) << ", patch " << d.worst;
        // The chart holds white and black, so the levels leave the dark greys where the tone curve
        // puts them: at the level nearest their light, within 2 levels, as long as the scanner's
        // samples are rounded to 8 bits, not cut.
        for (int p : {3, 4, 5})
            for (int c = 0; c < 3; ++c)
                EXPECT_LE(std::abs(std::lround(d.patches[p][c] * 255.0) - kPatches[p][c]), 2)
                    << qPrintable(path) << ", grey " << kPatches[p][c] << " came back as " << d.patches[p][c] * 255.0;
    }

    QTemporaryDir charts_;
    QTemporaryDir pictures_;
    std::unique_ptr<varnoth_test::Bench> bench_;
    varnoth_test::HookedScannerModel* model_ = nullptr;
    ScanManager manager_;
    AppSettings app_;
    ScanSettings scanSettings_;
    ImageSettings imageSettings_;
    ScanFrameCrop frameCrop_;
    OutputSettings output_;
    std::unique_ptr<ContentController> controller_;
    std::shared_ptr<QuorvaneScanner> scanner_;
};

TEST_F(ColourEndToEnd, ReflectiveInEveryFormatAndProfile)
{
    useChart(false);
    for (OutputFormat format : {OutputFormat::jpeg, OutputFormat::png, OutputFormat::tiff})
        for (ICCProfile profile : {ICCProfile::generic, ICCProfile::sRGB, ICCProfile::adobeRGB})
            expectMatchesChart(VekScanSource::reflective, {format, true, profile});
    // Without an embedded profile the pixels are sRGB.
    for (OutputFormat format : {OutputFormat::jpeg, OutputFormat::png, OutputFormat::tiff})
        expectMatchesChart(VekScanSource::reflective, {format, false, ICCProfile::adobeRGB});
}

TEST_F(ColourEndToEnd, PositiveFilm)
{
    useChart(false);
    expectMatchesChart(VekScanSource::positiveFilm, {OutputFormat::tiff, true, ICCProfile::generic});
}

TEST_F(ColourEndToEnd, NegativeFilmGivesThePositive)
{
    useChart(true);
    expectMatchesChart(VekScanSource::negativeFilm, {OutputFormat::tiff, true, ICCProfile::generic});
    expectMatchesChart(VekScanSource::negativeFilm, {OutputFormat::png, true, ICCProfile::sRGB});
}

// A grey card whose light falls on the border between two raw levels, 54.5 × 257 of 65535 (sRGB
// 127.4), so that the sensor's column-to-column differences show as a level of noise in the raw
// image. The default chain keeps it as uniform and as light as it is instead of stretching the noise.
TEST_F(ColourEndToEnd, AGreyCardStaysUniform)
{
    useCard("grey", [](int, int) { return 32746; });
    const QString written = scanAndSave(VekScanSource::reflective, {OutputFormat::png, true, ICCProfile::sRGB});
    ASSERT_FALSE(written.isEmpty());

    // The raw image holds the noise: both levels occur.
    const vips::VImage raw = vips::VImage::new_from_file(QFile::encodeName(varnoth_test::rawImagePath()).constData());
    EXPECT_EQ(raw.min(), 54.0);
    EXPECT_EQ(raw.max(), 55.0);
    // Where the chain puts a uniform grey of either level: 127 and 128.
    const vips::VImage stats = vips::VImage::new_from_file(QFile::encodeName(written).constData()).stats();
    for (int band = 1; band <= 3; ++band) {
        std::printf("grey card: band %d mean %.2f, sigma %.2f\n", band, stats.getpoint(4, band)[0],
                    stats.getpoint(5, band)[0]);
        EXPECT_NEAR(stats.getpoint(4, band)[0], 127.5, 4.0) << "band " << band;
        EXPECT_LE(stats.getpoint(5, band)[0], 2.0) << "band " << band;
    }
}

// A grey card with two black specks 0.03 inch across, and one with a weave of ±6 levels and a dark
// fibre on 1 chart pixel in 2500, keep the tone of a clean grey card: the specks and fibres are too
// few to make the card a full-range image that the levels would stretch to white.
TEST_F(ColourEndToEnd, SpecksAndGrainLeaveAGreyCardsTone)
{
    const auto grey = [](double v) { return int(std::lround(v * 257.0)); };
    const auto noise = [](int x, int y) { return ((unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u)) >> 13; };
    const struct {
        const char* name;
        std::function<int(int, int)> value;
    } cards[] = {
        {"clean", [&](int, int) { return grey(128); }},
        {"specked",
         [&](int x, int y) {
             // 3 chart pixels are 0.03 inch at 100 dpi.
             for (const auto& [cx, cy] : {std::pair{40.0, 60.0}, std::pair{90.0, 170.0}})
                 if ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy) <= 2.25) return 0;
             return grey(128);
         }},
        {"textured",
         [&](int x, int y) {
             if (noise(x, y) % 2500 == 0) return grey(40);
             return grey((x / 2 + y / 2) % 2 == 0 ? 134 : 122);
         }},
    };
    double cleanMean = 0.0;
    for (const auto& card : cards) {
        useCard(QLatin1String(card.name), card.value);
        const QString written = scanAndSave(VekScanSource::reflective, {OutputFormat::png, true, ICCProfile::sRGB},
                                            QLatin1String(card.name) + "-");
        ASSERT_FALSE(written.isEmpty());
        const vips::VImage rgb = vips::VImage::new_from_file(QFile::encodeName(written).constData())
                                     .extract_band(0, vips::VImage::option()->set("n", 3));
        const double mean = rgb.avg();
        const double white = (rgb >= 250.0).avg() / 255.0;
        std::printf("grey card, %s: mean %.2f, %.3f %% white\n", card.name, mean, 100.0 * white);
        if (card.name == std::string("clean")) {
            cleanMean = mean;
            continue;
        }
        EXPECT_NEAR(mean, cleanMean, 6.0) << card.name;
        EXPECT_LT(white, 0.001) << card.name;
    }
}

// The Raw method adjusts nothing and says so: each file, in every format and profile, rendered
// through the profile it carries, shows the chart's grey tones within 4 levels; and the preview's
// processed frame, drawn without colour management as sRGB, shows what the file does.
TEST_F(ColourEndToEnd, RawMethodFilesShowTheChartsTones)
{
    useChart(false);
    imageSettings_.setAdjustmentMethod(AdjustmentMethod::raw);
    const int greys = 12; // the first three rows of patches
    std::optional<Means> file;
    for (OutputFormat format : {OutputFormat::jpeg, OutputFormat::png, OutputFormat::tiff})
        for (const auto& [embed, profile] :
             {std::pair{true, ICCProfile::generic}, std::pair{true, ICCProfile::sRGB},
              std::pair{true, ICCProfile::adobeRGB}, std::pair{false, ICCProfile::adobeRGB}}) {
            const Output output{format, embed, profile};
            const QString path = scanAndSave(VekScanSource::reflective, output);
            if (path.isEmpty()) continue;
            const std::optional<Means> means = filePatchMeans(path, embed);
            if (!means) continue;
            double largest = 0.0;
            for (int p = 0; p < greys; ++p) {
                const double off = std::fabs((*means)[p][1] * 255.0 - kPatches[p][1]);
                largest = std::max(largest, off);
                EXPECT_LE(off, 4.0) << qPrintable(path) << ", grey " << kPatches[p][1];
            }
            std::printf("raw: %-28s greys within %.2f levels\n", qPrintable(nameOf(VekScanSource::reflective, output)),
                        largest);
            if (format == OutputFormat::png && embed && profile == ICCProfile::sRGB) file = means;
        }
    ASSERT_TRUE(file);

    // The preview at its resolution, 150 dpi like the scan, processed as the preview pane does.
    controller_->setRawPreview(rawValue(VekScanSource::reflective), std::nullopt);
    ASSERT_TRUE(controller_->previewScan());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !controller_->isFlowBusy() && controller_->currentRawPreview(); }, 120000));
    const Image& preview = *controller_->currentRawPreview();
    const int width = int(kColumns * kPatch * 1.5), height = int(kRows * kPatch * 1.5);
    ASSERT_GE(preview.width(), width);
    ASSERT_GE(preview.height(), height);
    const QImage shown = toQImage(ImageProcessor::processImage(preview.extract_area(0, 0, width, height),
                                                               scanSettings_.values(), imageSettings_.values()))
                             .convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(shown.isNull());
    std::vector<uint8_t> bytes;
    for (int y = 0; y < height; ++y)
        bytes.insert(bytes.end(), shown.constScanLine(y), shown.constScanLine(y) + 3 * width);
    const std::optional<Means> drawn =
        patchMeans<uint8_t>(bytes.data(), width, height, [](const uint8_t* in, double* out, int n) {
            for (int i = 0; i < 3 * n; ++i) out[i] = in[i] / 255.0;
        });
    ASSERT_TRUE(drawn);
    for (int p = 0; p < kColumns * kRows; ++p)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR((*drawn)[p][c] * 255.0, (*file)[p][c] * 255.0, 1.0) << "patch " << p << " channel " << c;
}

} // namespace

int main(int argc, char** argv)
{
    return runEndToEndTests(argc, argv, QStringLiteral(LF_SNAPSHOT_DIR));
}
