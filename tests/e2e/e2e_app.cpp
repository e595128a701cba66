// The whole program in one process, played as a user plays it: the application object and the
// windows that main() makes, the real driver plug-in (a copy of the built bundle) and the simulated
// scanner showing the demonstration page, under a real X server (xvfb-run). Mouse and keyboard go to
// the real widgets, found by their names under the top-level windows.
//
// It connects, previews, draws and moves a frame, sets the suffix, scans, checks the saved file,
// opens the preferences and closes the main window, then checks what the program stored and printed.
// At the first show of the main window it writes the Settings button's centre (main-window
// coordinates) for the smoke test of the real program.
#include "app_data_folder.h"
#include "app_settings_view.h"
#include "chart_scan_engine.h"
#include "content_view.h"
#include "e2e_main.h"
#include "gui_test.h"
#include "lumenfield_app.h"
#include "output_settings.h"
#include "preload.h"
#include "preview_image_view.h"
#include "quorvane_scanner.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "scan_chart.h"
#include "splash_screen_view.h"
#include "testbed.h"
#include "usb_descriptors.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>
#include <vips/vips8>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Generous limits: calibration and the scans run on a simulated device, sanitised in one build.
constexpr int kConnectMs = 120000;
constexpr int kScanMs = 240000;

QWidget* topLevel(const char* name)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->objectName() == QLatin1String(name)) return window;
    return nullptr;
}

template <typename T = QWidget>
T* inWindow(const char* window, const char* name)
{
    QWidget* top = topLevel(window);
    return top ? top->findChild<T*>(QLatin1String(name)) : nullptr;
}

// A press, moves of at most 30 points and a release on `widget`, each sent to the widget under the
// pointer as a mouse would.
void drag(QWidget* widget, QPoint from, QPoint to)
{
    QWidget* target = widget->childAt(from) ? widget->childAt(from) : widget;
    const auto local = [&](QPoint p) { return target->mapFrom(widget, p); };
    QTest::mousePress(target, Qt::LeftButton, {}, local(from));
    const QPoint travel = to - from;
    const int steps = std::max(1, int(std::ceil(std::max(std::abs(travel.x()), std::abs(travel.y())) / 30.0)));
    for (int step = 1; step <= steps; ++step) QTest::mouseMove(target, local(from + travel * step / steps));
    QTest::mouseRelease(target, Qt::LeftButton, {}, local(to));
}

void expectNear(const QRectF& actual, const QRectF& expected, double tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.width(), expected.width(), tolerance);
    EXPECT_NEAR(actual.height(), expected.height(), tolerance);
}

// What the program prints to its standard output while it runs, kept in a file and then echoed.
class CapturedOutput {
public:
    explicit CapturedOutput(const QString& path) : path_(path)
    {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int file = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (saved_ >= 0 && file >= 0) ::dup2(file, STDOUT_FILENO);
        if (file >= 0) ::close(file);
    }
    ~CapturedOutput() { finish(); }

    QString finish()
    {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
            QFile file(path_);
            if (file.open(QIODevice::ReadOnly)) text_ = QString::fromLocal8Bit(file.readAll());
            std::fputs(qPrintable(text_), stdout);
        }
        return text_;
    }

private:
    QString path_;
    QString text_;
    int saved_ = -1;
};

struct TiffFacts {
    uint16_t compression = 0, samples = 0, bits = 0, unit = 0;
    float xres = 0, yres = 0;
    uint32_t width = 0, height = 0;
    bool linearProfile = false;
};

TiffFacts readTiff(const QString& path)
{
    TiffFacts facts;
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!tiff) return facts;
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &facts.compression);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &facts.samples);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &facts.bits);
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &facts.unit);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &facts.xres);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &facts.yres);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &facts.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &facts.height);
    uint32_t profileSize = 0;
    void* profileData = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileSize, &profileData) && profileSize > 0) {
        if (cmsHPROFILE profile = cmsOpenProfileFromMem(profileData, profileSize)) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigRedTRCTag));
            facts.linearProfile = curve && cmsIsToneCurveLinear(curve);
            cmsCloseProfile(profile);
        }
    }
    TIFFClose(tiff);
    return facts;
}

class EndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(QStringLiteral(LF_E2E_POSITION_FILE));
        ASSERT_TRUE(drivers_.isValid());
        bundle_ = std::filesystem::path(drivers_.path().toStdString()) / "Varnoth.bundle";
        std::error_code error;
        std::filesystem::copy(LF_DRIVER_BUNDLE, bundle_, std::filesystem::copy_options::recursive, error);
        ASSERT_FALSE(error) << "cannot copy the driver bundle: " << error.message();
    }

    QTemporaryDir drivers_;
    std::filesystem::path bundle_;
};

TEST_F(EndToEnd, ConnectPreviewFrameScanSaveAndQuit)
{
    // The simulated scanner with the default profile, scanning the demonstration page.
    sim::Testbed testbed;
    const std::optional<sim::ScannerRecords> records = sim::scanner_profile("default");
    ASSERT_TRUE(records);
    auto [device, scanner] = testbed.add_with<sim::ScannerModel>(sim::scanner_device(), *records);
    std::string chartError;
    std::shared_ptr<const sim::Chart> chart = sim::parse_chart("file:" LF_DEMO_CHART "@100", &chartError);
    ASSERT_TRUE(chart) << chartError;
    scanner.with_chart_engine([&](sim::ChartScanEngine& engine) {
        engine.set_chart(chart);
        engine.set_sensor(sim::Sensor::Realistic);
    });

    CapturedOutput output(QDir::temp().filePath(QStringLiteral("e2e-output-%1.txt").arg(::getpid())));
    LumenfieldApp app;
    {
        QSettings store;
        store.setValue("resolution", 300);
        // Opening the file would fork a desktop opener while the USB preload holds its locks.
        store.setValue("openImageAfterScan", false);
    }
    app.scanManager().setScanner(std::make_shared<QuorvaneScanner>(bundle_.parent_path()));
    ScanManager& manager = app.scanManager();
    ScanSettings& scan = app.scanSettings();
    app.start();

    // 1. Connecting, then the main window alone, ready.
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("splash-window"); }, 5000));
    auto* message = inWindow<QLabel>("splash-window", "statusMessage");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text(), QStringLiteral("Connecting..."));
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("main-window") && !topLevel("splash-window"); }, kConnectMs))
        << "the main window did not replace the connect window";
    EXPECT_EQ(manager.scanStatus(), 0);
    QWidget* window = topLevel("main-window");
    auto* settingsButton = inWindow<QToolButton>("main-window", "settingsButton");
    ASSERT_TRUE(settingsButton);
    {
        QDir().mkpath(QFileInfo(QStringLiteral(LF_E2E_POSITION_FILE)).path());
        QFile position(QStringLiteral(LF_E2E_POSITION_FILE));
        ASSERT_TRUE(position.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QPoint centre = settingsButton->mapTo(window, settingsButton->rect().center());
        position.write(QStringLiteral("%1 %2\n").arg(centre.x()).arg(centre.y()).toLatin1());
    }

    // 2. A preview of the page.
    auto* pane = inWindow<PreviewImageView>("main-window", "previewPane");
    ASSERT_TRUE(pane);
    QTest::mouseClick(inWindow("main-window", "previewButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.scanStatus() == 5 && pane->previewImage().has() && scan.scanSourceRawValue() == 1; },
        kScanMs))
        << "no preview; status " << manager.scanStatus();

    // 3. A new frame drawn on the preview.
    drag(pane, QPoint(60, 80), QPoint(360, 280));
    expectNear(scan.previewRect(), QRectF(60, 80, 300, 200), 1.0);
    EXPECT_EQ(scan.scanFrameTypeRawValue(), 18);

    // 4. The frame moved by a drag inside it.
    const QRectF drawn = scan.previewRect();
    drag(pane, QPoint(200, 180), QPoint(240, 210));
    expectNear(scan.previewRect(), drawn.translated(40, 30), 1.0);
    EXPECT_EQ(scan.scanFrameTypeRawValue(), 18);
    const QRectF frame = scan.previewRect();
    const double scale = scan.previewImageScale();

    // 5. The suffix typed in.
    auto* suffix = inWindow<QLineEdit>("main-window", "suffixNumberEdit");
    ASSERT_TRUE(suffix);
    QTest::mouseClick(suffix, Qt::LeftButton);
    QTest::keyClick(suffix, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(suffix, QStringLiteral("7"));
    QTest::keyClick(suffix, Qt::Key_Return);
    EXPECT_EQ(app.outputSettings().suffixNumber(), 7);

    // 6. The scan, through writing the file, back to ready.
    QList<qint64> statuses;
    QObject::connect(&manager, &ScanManager::scanStatusChanged, window, [&] { statuses << manager.scanStatus(); });
    const QDate before = QDate::currentDate();
    QTest::mouseClick(inWindow("main-window", "scanButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return statuses.contains(4) && statuses.lastIndexOf(0) > statuses.lastIndexOf(4); }, kScanMs))
        << "the scan did not end; statuses seen: " << statuses.size();
    const QDate after = QDate::currentDate();

    // 7. Exactly one file, named by the day and the suffix, as the settings ask.
    const QDir pictures(QDir::home().filePath(QStringLiteral("Pictures/Lumenfield")));
    const QStringList files = pictures.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1) << qPrintable(files.join(' '));
    const QStringList accepted = {before.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("-007.tiff"),
                                  after.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("-007.tiff")};
    EXPECT_TRUE(accepted.contains(files.front())) << qPrintable(files.front());
    const QString saved = pictures.filePath(files.front());
    const TiffFacts facts = readTiff(saved);
    EXPECT_EQ(facts.compression, 7);
    EXPECT_EQ(facts.samples, 3);
    EXPECT_EQ(facts.bits, 8);
    EXPECT_EQ(facts.unit, RESUNIT_INCH);
    EXPECT_FLOAT_EQ(facts.xres, 300.0f);
    EXPECT_FLOAT_EQ(facts.yres, 300.0f);
    EXPECT_TRUE(facts.linearProfile) << "no ICC profile with a linear tone curve";

    const std::optional<QString> data = applicationDataFolder(false);
    ASSERT_TRUE(data);
    const TiffFacts raw = readTiff(*data + QStringLiteral("/raw_image.tiff"));
    EXPECT_EQ(facts.width, raw.width);
    EXPECT_EQ(facts.height, raw.height);
    const double expectedWidth = frame.width() / (ScanSettings::previewResolution * scale) * 300;
    const double expectedHeight = frame.height() / (ScanSettings::previewResolution * scale) * 300;
    EXPECT_NEAR(facts.width, expectedWidth, std::max(2.0, expectedWidth / 100));
    EXPECT_NEAR(facts.height, expectedHeight, std::max(2.0, expectedHeight / 100));
    // The page's patches, ramp and bars, not a flat field.
    const vips::VImage stats = vips::VImage::new_from_file(saved.toLocal8Bit().constData()).stats();
    for (int band = 1; band <= 3; ++band)
        EXPECT_GT(stats.getpoint(5, band)[0], 10.0) << "channel " << band << " is nearly flat";
    EXPECT_TRUE(QFile::exists(*data + QStringLiteral("/reflecive_preview.tiff")));
    saveSnapshot(window, QStringLiteral("e2e-main-after-scan"));

    // 8. The preferences: General first, then the Scanner tab; closed again.
    QTest::mouseClick(settingsButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("settings-window"); }, 5000));
    QWidget* preferences = topLevel("settings-window");
    EXPECT_EQ(preferences->windowTitle(), QStringLiteral("General"));
    auto* tabs = inWindow<QTabWidget>("settings-window", "settingsTabs");
    ASSERT_TRUE(tabs);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
    EXPECT_EQ(preferences->windowTitle(), QStringLiteral("Scanner"));
    preferences->close();
    EXPECT_TRUE(QTest::qWaitFor([] { return !topLevel("settings-window"); }, 5000));

    // 9. The main window's close request ends the program through its close path.
    EXPECT_EQ(runEventLoopUntilQuit([window] { window->close(); }, kConnectMs), 0);
    EXPECT_EQ(topLevel("main-window"), nullptr);
    QSettings store;
    for (const char* key : {"showPreviousPreview", "openImageAfterScan", "resetFilenameSuffix", "exposureRatio",
                            "scanQuality", "calibrationMode", "directoryPath", "prefixType", "prefix",
                            "isAutoSuffix", "suffixLength", "format", "tiffCompression", "jpegQuality",
                            "isEmbedded", "iccProfile"})
        EXPECT_TRUE(store.contains(QLatin1String(key))) << key;
    EXPECT_EQ(store.value("suffixNumber").toString(), QStringLiteral("8"));
    EXPECT_EQ(store.value("openImageAfterScan").toString(), QStringLiteral("false"));

    const QString printed = output.finish();
    EXPECT_TRUE(printed.contains(QStringLiteral("scan progress: 100%")));
    for (const QString& line : printed.split('\n')) EXPECT_FALSE(line.startsWith(QStringLiteral("Failed"))) << qPrintable(line);
}

} // namespace

int main(int argc, char** argv)
{
    return runEndToEndTests(argc, argv, QStringLiteral(LF_E2E_SCREENSHOTS));
}
