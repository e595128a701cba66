// The whole program in one process, played as a user plays it: the application object and the
// windows that main() makes, the real driver plug-in (a copy of the built bundle) and the simulated
// scanner showing the demonstration page, under a real X server (xvfb-run). Mouse and keyboard go to
// the real widgets, found by their names under the top-level windows.
//
// It connects, previews, draws and moves a frame, sets the suffix, scans, checks the saved file,
// opens the preferences and closes the main window, then checks what the program stored and printed.
// At the first show of the main window it writes the Settings and Preview buttons' centres
// (main-window coordinates) for the smoke test of the real program.
#include "app_data_folder.h"
#include "app_settings_view.h"
#include "atomic_file.h"
#include "chart_scan_engine.h"
#include "content_view.h"
#include "e2e_main.h"
#include "file_permissions.h"
#include "gui_test.h"
#include "lumenfield_app.h"
#include "output_file_name.h"
#include "output_settings.h"
#include "preload.h"
#include "preview_image_view.h"
#include "quorvane_scanner.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scanner_model.h"
#include "scanner_plug.h"
#include "scanner_profiles.h"
#include "scan_chart.h"
#include "splash_screen_view.h"
#include "testbed.h"
#include "usb_descriptors.h"
#include "usb_ids.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>
#include <lcms2.h>
#include <libusb.h>
#include <tiffio.h>
#include <vips/vips8>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumenfield;

// Texts in the failures as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

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

template <typename T = QWidget> T* inWindow(const char* window, const char* name)
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

// Acts on the next modal dialog named `name` once it shows: a flow waits inside the dialog's own
// event loop, so the answer has to come from a timer.
class ModalAnswer : public QObject {
public:
    ModalAnswer(const char* name, std::function<void(QWidget*)> act) : name_(QLatin1String(name)), act_(std::move(act))
    {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (!window->isVisible() || window->objectName() != name_ || done_) continue;
                done_ = true;
                timer_.stop();
                act_(window);
                return;
            }
        });
        timer_.start();
    }
    bool done() const { return done_; }

private:
    QString name_;
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    bool done_ = false;
};

QString withoutBreaks(const QString& text)
{
    return QString(text).remove(QChar(0x200B));
}

// Claims the simulated scanner's interface from a USB handle of its own, as another program would.
class OtherProgram {
public:
    OtherProgram()
    {
        if (libusb_init(&context_) != 0) return;
        handle_ = libusb_open_device_with_vid_pid(context_, VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID);
        if (handle_ && libusb_claim_interface(handle_, 0) == 0) claimed_ = true;
    }
    ~OtherProgram() { release(); }
    bool claimed() const { return claimed_; }
    void release()
    {
        if (handle_) {
            if (claimed_) libusb_release_interface(handle_, 0);
            libusb_close(handle_);
            handle_ = nullptr;
        }
        if (context_) libusb_exit(context_);
        context_ = nullptr;
        claimed_ = false;
    }

private:
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool claimed_ = false;
};

// The text of the notice box the window shows ("failureMessage": headline, then the reason), once
// it shows; the box is then closed with OK. Empty when none showed within `limitMs`.
QString takeNotice(int limitMs = 5000)
{
    QString text;
    [[maybe_unused]] const bool shown = QTest::qWaitFor(
        [&] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(window);
                if (!box || !box->isVisible() || box->objectName() != QLatin1String("failureMessage")) continue;
                text = box->text() + u'\n' + withoutBreaks(box->informativeText());
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
                return true;
            }
            return false;
        },
        limitMs);
    return text;
}

// Another program that puts a file at `path` the moment this program's temporary file appears beside
// it, that is while the scan is written under a name that was free when the save began: a second
// copy of the program, a sync client. One file, once.
class NameTaker {
public:
    static constexpr char kBytes[] = "another program's file";

    explicit NameTaker(const QString& path) : path_(QFile::encodeName(path))
    {
        events_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (events_ >= 0)
            ::inotify_add_watch(events_, QFile::encodeName(QFileInfo(path).path()).constData(), IN_CREATE);
        thread_ = std::thread([this] { watch(); });
    }
    ~NameTaker()
    {
        stop_ = true;
        thread_.join();
        if (events_ >= 0) ::close(events_);
    }
    // Whether it made its file while the scan was being written; false when it came too late.
    bool took() const { return took_; }

private:
    void watch()
    {
        alignas(inotify_event) char buffer[4096];
        while (!stop_ && events_ >= 0) {
            pollfd ready{events_, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0) continue;
            const ssize_t size = ::read(events_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->len == 0 || !isOwnTemporaryName(QFile::decodeName(event->name))) continue;
                const int file = ::open(path_.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
                if (file >= 0) {
                    took_ = ::write(file, kBytes, sizeof kBytes - 1) == ssize_t(sizeof kBytes - 1);
                    ::close(file);
                }
                return;
            }
        }
    }

    QByteArray path_;
    int events_ = -1;
    std::atomic<bool> stop_ = false;
    std::atomic<bool> took_ = false;
    std::thread thread_;
};

// Whether this process runs in a mount namespace of its own (made in main()), where a small file
// system can be mounted for a test and goes with the process.
bool& privateMounts()
{
    static bool made = false;
    return made;
}

// A file system of 64 KiB mounted over `folder` (hiding what it holds) and filled to the last byte;
// unmounted again when it goes.
class FullFileSystem {
public:
    explicit FullFileSystem(const QString& folder) : folder_(QFile::encodeName(folder))
    {
        if (!privateMounts() || ::mount("lumenfield-full", folder_.constData(), "tmpfs", 0, "size=64k,mode=0755") != 0)
            return;
        mounted_ = true;
        const int filler = ::open((folder_ + "/filler").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        const std::vector<char> block(4096, 'x');
        while (filler >= 0 && ::write(filler, block.data(), block.size()) > 0) {}
        full_ = errno == ENOSPC;
        if (filler >= 0) ::close(filler);
    }
    ~FullFileSystem()
    {
        if (mounted_) ::umount2(folder_.constData(), MNT_DETACH);
    }
    bool full() const { return mounted_ && full_; }

private:
    QByteArray folder_;
    bool mounted_ = false;
    bool full_ = false;
};

// A scanner of the default profile on `testbed`, scanning the demonstration page through a realistic
// sensor; null (with a failure) when the profile or the page cannot be had.
sim::ScannerModel* addDemoScanner(sim::Testbed& testbed)
{
    const std::optional<sim::ScannerRecords> records = sim::scanner_profile("default");
    std::string error;
    const std::shared_ptr<const sim::Chart> chart = sim::parse_chart("file:" LF_DEMO_CHART "@100", &error);
    if (!records || !chart) {
        ADD_FAILURE() << "no default scanner or no demonstration page: " << error;
        return nullptr;
    }
    sim::ScannerModel& scanner = testbed.add_with<sim::ScannerModel>(sim::scanner_device(), *records).second;
    scanner.with_chart_engine([&](sim::ChartScanEngine& engine) {
        engine.set_chart(chart);
        engine.set_sensor(sim::Sensor::Realistic);
    });
    return &scanner;
}

class EndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
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
    QFile::remove(QStringLiteral(LF_E2E_POSITION_FILE));
    sim::Testbed testbed;
    ASSERT_TRUE(addDemoScanner(testbed));

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
        // The Preview button's on the second line.
        QWidget* previewButton = inWindow("main-window", "previewButton");
        ASSERT_TRUE(previewButton);
        const QPoint preview = previewButton->mapTo(window, previewButton->rect().center());
        position.write(QStringLiteral("%1 %2\n").arg(preview.x()).arg(preview.y()).toLatin1());
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

    // 8. The preferences, over the middle of the main window: General first, then the Scanner tab;
    //    closed again with Escape.
    QTest::mouseClick(settingsButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("settings-window"); }, 5000));
    QWidget* preferences = topLevel("settings-window");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(preferences));
    const QPoint off = preferences->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(std::abs(off.x()), 4) << off.x() << ", " << off.y() << " off the middle";
    EXPECT_LE(std::abs(off.y()), 4) << off.x() << ", " << off.y() << " off the middle";
    EXPECT_EQ(preferences->windowTitle(), QStringLiteral("General"));
    auto* tabs = inWindow<QTabWidget>("settings-window", "settingsTabs");
    ASSERT_TRUE(tabs);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
    EXPECT_EQ(preferences->windowTitle(), QStringLiteral("Scanner"));
    // The main window, its parent, counts as active for it: wait until it is itself.
    preferences->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == preferences; }, 5000));
    QTest::keyClick(preferences, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([] { return !topLevel("settings-window"); }, 5000));

    // 9. The main window's close request ends the program through its close path.
    EXPECT_EQ(runEventLoopUntilQuit([window] { window->close(); }, kConnectMs), 0);
    EXPECT_EQ(topLevel("main-window"), nullptr);
    QSettings store;
    for (const char* key : {"showPreviousPreview", "openImageAfterScan", "resetFilenameSuffix", "exposureRatio",
                            "scanQuality", "calibrationMode", "directoryPath", "prefixType", "prefix", "isAutoSuffix",
                            "suffixLength", "format", "tiffCompression", "jpegQuality", "isEmbedded", "iccProfile"})
        EXPECT_TRUE(store.contains(QLatin1String(key))) << key;
    EXPECT_EQ(store.value("suffixNumber").toString(), QStringLiteral("8"));
    EXPECT_EQ(store.value("openImageAfterScan").toString(), QStringLiteral("false"));

    const QString printed = output.finish();
    EXPECT_TRUE(printed.contains(QStringLiteral("scan progress: 100%")));
    for (const QString& line : printed.split('\n'))
        EXPECT_FALSE(line.startsWith(QStringLiteral("Failed"))) << qPrintable(line);
}

// A save into a read-only folder, the settings and quit shortcuts, and a scanner unplugged during a
// scan and plugged back: each failure is said in the window, and the program goes on to a scan
// that is saved.
TEST_F(EndToEnd, FailuresAreToldAndTheProgramRecovers)
{
    sim::Testbed testbed;
    const std::optional<sim::ScannerRecords> records = sim::scanner_profile("default");
    ASSERT_TRUE(records);
    std::string chartError;
    std::shared_ptr<const sim::Chart> chart = sim::parse_chart("file:" LF_DEMO_CHART "@100", &chartError);
    ASSERT_TRUE(chart) << chartError;
    sim::ScannerPlug plug(testbed, *records, [chart](sim::ScannerModel& scanner) {
        scanner.with_chart_engine([&](sim::ChartScanEngine& engine) {
            engine.set_chart(chart);
            engine.set_sensor(sim::Sensor::Realistic);
        });
    });
    plug.plug();

    QTemporaryDir folders;
    ASSERT_TRUE(folders.isValid());
    const QString readOnly = folders.filePath(QStringLiteral("read-only"));
    const QString elsewhere = folders.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(readOnly) && QDir().mkpath(elsewhere));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
    // A hidden file of the user's, a day old, in the folder the scan is saved in after the failure.
    const QString hidden = elsewhere + QStringLiteral("/.holiday.png.backup");
    {
        QFile file(hidden);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the user's");
    }
    const timespec dayOld[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(hidden).constData(), dayOld, 0), 0);

    CapturedOutput output(QDir::temp().filePath(QStringLiteral("e2e-failures-%1.txt").arg(::getpid())));
    LumenfieldApp app;
    {
        // After the application object, which names the store.
        QSettings store;
        store.clear();
        store.setValue("openImageAfterScan", false);
        store.setValue("directoryPath", readOnly);
        store.setValue("prefixType", 1);
        store.setValue("prefix", "Failure");
    }
    app.scanManager().setScanner(std::make_shared<QuorvaneScanner>(bundle_.parent_path()));
    ScanManager& manager = app.scanManager();
    app.start();
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("main-window") && !topLevel("splash-window"); }, kConnectMs));
    auto* window = static_cast<ContentView*>(topLevel("main-window"));

    // The settings shortcut opens the preferences; Ctrl+W closes them.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keySequence(window, QKeySequence(QStringLiteral("Ctrl+,")));
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("settings-window"); }, 5000));
    QWidget* preferences = topLevel("settings-window");
    // The main window, its parent, counts as active for it: wait until it is itself.
    preferences->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == preferences; }, 5000));
    QTest::keySequence(preferences, QKeySequence(QStringLiteral("Ctrl+W")));
    ASSERT_TRUE(QTest::qWaitFor([] { return !topLevel("settings-window"); }, 5000));

    QTest::mouseClick(inWindow("main-window", "previewButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->controller().isFlowBusy(); }, kScanMs));
    ASSERT_TRUE(window->controller().rawPreview(1).has_value());

    // 1. The scan cannot be written where the settings say: the box tells why and where, and the
    //    scan is saved in the folder chosen next.
    QString told;
    ModalAnswer failed("saveFailureMessage", [&](QWidget* box) {
        told = withoutBreaks(static_cast<QMessageBox*>(box)->informativeText());
        saveSnapshot(box, QStringLiteral("e2e-save-failed"));
        QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("chooseFolderButton")), Qt::LeftButton);
    });
    QTimer folderDialog;
    folderDialog.setInterval(50);
    QObject::connect(&folderDialog, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(top); dialog && dialog->isVisible()) {
                folderDialog.stop();
                // The dialog lists folders in the background; a selection made while it loads can
                // be lost, so the folder is typed whole, as a user can.
                dialog->setDirectory(elsewhere);
                auto* typed = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_TRUE(typed);
                typed->setText(elsewhere);
                QMetaObject::invokeMethod(dialog, "accept");
                return;
            }
        }
    });
    folderDialog.start();
    QTest::mouseClick(inWindow("main-window", "scanButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.done() && !window->controller().isFlowBusy(); }, kScanMs));
    EXPECT_TRUE(told.contains(readOnly + QStringLiteral("/failure-001.tiff failed: Permission denied")))
        << qPrintable(told);
    EXPECT_EQ(QDir(readOnly).entryList(QDir::Files | QDir::Hidden), QStringList{});
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::Files), QStringList{QStringLiteral("failure-001.tiff")});
    EXPECT_TRUE(QFile::exists(hidden));
    EXPECT_EQ(app.outputSettings().directoryPath(), elsewhere);
    EXPECT_EQ(manager.scanStatus(), 0);

    // 2. The cable pulled during the next scan: the connect screen says so; Connect after the
    //    scanner is back brings the main window, and a scan is saved.
    // A frame of 4 × 4 inches, whose image comes in many transfers: the cable goes after the first.
    app.scanSettings().setPreviewRect(QRectF(0, 0, 600, 600));
    plug.unplug_after_image_bytes(4096);
    QTest::mouseClick(inWindow("main-window", "scanButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("splash-window") != nullptr; }, kScanMs));
    ASSERT_TRUE(plug.wait_for_cycle(std::chrono::seconds(10)));
    auto* splash = static_cast<SplashScreenView*>(topLevel("splash-window"));
    auto* message = inWindow<QLabel>("splash-window", "statusMessage");
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->text().startsWith(QStringLiteral("The connection to the scanner was lost (driver code ")))
        << qPrintable(message->text());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(manager.scanStatus(), 7);
    saveSnapshot(splash, QStringLiteral("e2e-connect-lost"));
    plug.plug();
    QTest::mouseClick(inWindow("splash-window", "connectButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible() && !topLevel("splash-window"); }, kConnectMs))
        << "the main window did not come back";
    EXPECT_EQ(plug.plugs(), 2);
    QTest::mouseClick(inWindow("main-window", "scanButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !window->controller().isFlowBusy() && QDir(elsewhere).entryList(QDir::Files).size() == 2; },
        kScanMs))
        << "no scan after the scanner came back";
    EXPECT_EQ(manager.scanStatus(), 0);

    // 3. The quit shortcut ends the program and stores the settings, as closing the window does.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(runEventLoopUntilQuit([window] { QTest::keySequence(window, QKeySequence(QStringLiteral("Ctrl+Q"))); },
                                    kConnectMs),
              0);
    ::chmod(QFile::encodeName(readOnly).constData(), 0755);
    QSettings store;
    EXPECT_EQ(store.value("directoryPath").toString(), elsewhere);
    EXPECT_EQ(store.value("suffixNumber").toString(), QStringLiteral("3"));
    const QString printed = output.finish();
    EXPECT_TRUE(printed.contains(QStringLiteral("Failed to save scanned image file!")));
    EXPECT_TRUE(printed.contains(QStringLiteral("Failed to scan!")));
}

// Nothing of the user's is replaced or deleted, and a scan that has been read is saved, whatever
// happens to the copies the program keeps: the preview and the raw copy not stored in a read-only or
// full data folder, a page the scanner ends early, a file another program puts at the planned name
// while the scan is written, and a quit while the scan is processed. Each is told in the window.
TEST_F(EndToEnd, NoFileOfTheUsersAndNoFinishedScanIsLost)
{
    sim::Testbed testbed;
    sim::ScannerModel* const scanner = addDemoScanner(testbed);
    ASSERT_TRUE(scanner);

    QTemporaryDir outputs;
    ASSERT_TRUE(outputs.isValid());
    CapturedOutput output(QDir::temp().filePath(QStringLiteral("e2e-safety-%1.txt").arg(::getpid())));
    LumenfieldApp app;
    {
        QSettings store;
        store.clear();
        store.setValue("openImageAfterScan", false);
        store.setValue("directoryPath", outputs.path());
        store.setValue("prefixType", 1);
        store.setValue("prefix", "Safe");
        store.setValue("suffixNumber", 1);
        store.setValue("resolution", 300);
    }
    const std::optional<QString> data = applicationDataFolder(true);
    ASSERT_TRUE(data);
    // The user's hidden files beside the outputs and in the data folder, a day old, and a temporary
    // file of the program's own that a killed save left there as long ago.
    const auto dayOld = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const timespec times[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    };
    for (const QString& folder : {outputs.path(), *data}) {
        dayOld(folder + QStringLiteral("/.holiday.png.backup"), "the user's");
        dayOld(folder + QStringLiteral("/.lumenfield-Ab12Cd"), "left behind");
    }
    app.scanManager().setScanner(std::make_shared<QuorvaneScanner>(bundle_.parent_path()));
    ScanManager& manager = app.scanManager();
    app.start();
    ASSERT_TRUE(QTest::qWaitFor([] { return topLevel("main-window") && !topLevel("splash-window"); }, kConnectMs));
    auto* window = static_cast<ContentView*>(topLevel("main-window"));
    ContentController& controller = window->controller();
    const auto click = [&](const char* button) {
        QTest::mouseClick(inWindow("main-window", button), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !controller.isFlowBusy(); }, kScanMs);
    };
    const auto saved = [&] { return QDir(outputs.path()).entryList(QDir::Files); };
    // The width of a saved scan of the frame.
    const auto scanned = [&](const QString& name) { return readTiff(outputs.filePath(name)).width; };
    uint32_t width = 0;

    // 1. A read-only data folder: the preview is shown and the scan saved, and the window says that
    //    their copies could not be kept.
    ASSERT_EQ(::chmod(QFile::encodeName(*data).constData(), 0555), 0);
    ASSERT_TRUE(click("previewButton"));
    EXPECT_TRUE(controller.rawPreview(1).has_value());
    QString notice = takeNotice();
    EXPECT_EQ(notice,
              QStringLiteral("The preview could not be stored.\nWriting %1/raw_image.tiff failed: Permission "
                             "denied. The preview is shown all the same.")
                  .arg(*data));
    // A frame of about 2 × 2 inches.
    const double scale = app.scanSettings().previewImageScale();
    app.scanSettings().setPreviewRect(QRectF(150, 150, 300 * scale, 300 * scale));
    ASSERT_TRUE(click("scanButton"));
    ::chmod(QFile::encodeName(*data).constData(), 0755);
    notice = takeNotice();
    EXPECT_EQ(notice,
              QStringLiteral("The raw copy of the scan could not be kept.\nWriting %1/raw_image.tiff failed: "
                             "Permission denied. The scan is processed and saved all the same.")
                  .arg(*data));
    EXPECT_EQ(saved(), QStringList{QStringLiteral("safe-001.tiff")});
    width = scanned(QStringLiteral("safe-001.tiff"));
    EXPECT_NEAR(width, 600, 2);

    // 2. A full data folder: the same. Where no file system can be mounted, the raw image's partial
    //    file is made a link to /dev/full, whose writes fail as those of a full disk do.
    {
        FullFileSystem full(*data);
        const QString partial = *data + QStringLiteral("/raw_image.tiff.part");
        if (!full.full()) {
            std::printf("No file system of its own could be mounted: writes to /dev/full stand for a full disk.\n");
            ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), partial));
        }
        ASSERT_TRUE(click("scanButton"));
        notice = takeNotice();
        EXPECT_EQ(notice,
                  QStringLiteral("The raw copy of the scan could not be kept.\nWriting %1/raw_image.tiff "
                                 "failed: No space left on device. The scan is processed and saved all the "
                                 "same.")
                      .arg(*data));
        EXPECT_EQ(scanned(QStringLiteral("safe-002.tiff")), width);
        EXPECT_FALSE(QFileInfo(partial).isSymLink());
    }

    // 3. A page the scanner ends early: the image is kept, white below the last line, and the window
    //    says how far the scan came.
    scanner->with_chart_engine([](sim::ChartScanEngine& engine) { engine.set_geometry_fault({.end_after = 200}); });
    ASSERT_TRUE(click("scanButton"));
    scanner->with_chart_engine([](sim::ChartScanEngine& engine) { engine.set_geometry_fault({}); });
    notice = takeNotice();
    const QRegularExpressionMatch early =
        QRegularExpression(QStringLiteral("^The scan ended early.\nThe scanner ended the scan after (\\d+) of "
                                          "(\\d+) lines; below them the image is white.$"))
            .match(notice);
    ASSERT_TRUE(early.hasMatch()) << qPrintable(notice);
    EXPECT_LT(early.captured(1).toInt(), early.captured(2).toInt());
    const QString ended = outputs.filePath(QStringLiteral("safe-003.tiff"));
    EXPECT_EQ(readTiff(ended).height, early.captured(2).toUInt());
    {
        const vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(ended).constData());
        const int read = early.captured(1).toInt();
        EXPECT_GT(image.extract_area(0, read + 2, image.width(), image.height() - read - 2).min(), 250.0);
    }

    // 4. Another program puts a file at the planned name while the scan is written: that is the
    //    collision it is. The file stays, the question is asked, and Cancel saves the scan beside it.
    bool taken = false;
    for (int attempt = 0; attempt < 3 && !taken; ++attempt) {
        const QString planned = outputFilePath(app.outputSettings());
        const qint64 number = app.outputSettings().suffixNumber();
        QString asked;
        ModalAnswer question("replaceQuestion", [&](QWidget* box) {
            asked = static_cast<QMessageBox*>(box)->text();
            QTest::mouseClick(static_cast<QMessageBox*>(box)->buttons().at(1), Qt::LeftButton);
        });
        NameTaker other(planned);
        const QStringList before = saved();
        ASSERT_TRUE(click("scanButton"));
        if (!other.took()) continue; // the scan was in place first: once more
        taken = true;
        EXPECT_EQ(asked, QStringLiteral("File Already Exists"));
        QFile file(planned);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray(NameTaker::kBytes));
        QStringList added = saved();
        for (const QString& name : before) added.removeOne(name);
        added.removeOne(QFileInfo(planned).fileName());
        ASSERT_EQ(added.size(), 1) << qPrintable(added.join(' '));
        EXPECT_TRUE(added.front().startsWith(QFileInfo(planned).completeBaseName() + QStringLiteral(" (")))
            << qPrintable(added.front());
        EXPECT_EQ(scanned(added.front()), width);
        EXPECT_EQ(app.outputSettings().suffixNumber(), number + 1);
    }
    EXPECT_TRUE(taken) << "the other program never came in time";

    // The sweep took the program's own left-over file, and none of the user's.
    for (const QString& folder : {outputs.path(), *data}) {
        EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/.holiday.png.backup"))) << qPrintable(folder);
        EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/.lumenfield-Ab12Cd"))) << qPrintable(folder);
    }

    // 5. A quit while the scan is processed: the scan is saved first, and the stored counter names the
    //    file after it. The window says why it waits.
    EXPECT_EQ(takeNotice(0), QString());
    const qint64 number = app.outputSettings().suffixNumber();
    const QString next = outputFilePath(app.outputSettings());
    QString note;
    bool quit = false;
    QObject::connect(&manager, &ScanManager::scanStatusChanged, window, [&](qint64 status) {
        if (status == rawValue(VekScanStatus::processingImage) && !quit) {
            quit = true;
            window->quitAction()->trigger();
        } else if (quit && note.isEmpty()) {
            note = window->closingNote();
        }
    });
    EXPECT_EQ(runEventLoopUntilQuit([&] { QTest::mouseClick(inWindow("main-window", "scanButton"), Qt::LeftButton); },
                                    kScanMs),
              0);
    EXPECT_TRUE(quit);
    EXPECT_EQ(note, QStringLiteral("Saving the scan before quitting."));
    EXPECT_TRUE(QFile::exists(next)) << qPrintable(next);
    QSettings store;
    EXPECT_EQ(store.value("suffixNumber").toLongLong(), number + 1);
    const QString stored = QStringLiteral("%1/safe-%2.tiff").arg(outputs.path()).arg(number + 1, 3, 10, QChar(u'0'));
    EXPECT_FALSE(QFile::exists(stored)) << qPrintable(stored);
    output.finish();
}

// The connect screen tells a scanner that another program holds, and a driver that does not load.
TEST_F(EndToEnd, ConnectScreenTellsABusyScannerAndABrokenDriver)
{
    sim::Testbed testbed;
    const std::optional<sim::ScannerRecords> records = sim::scanner_profile("default");
    ASSERT_TRUE(records);
    testbed.add_with<sim::ScannerModel>(sim::scanner_device(), *records);
    const auto failedText = [](LumenfieldApp& app) {
        [&] {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return app.splashWindow() && !app.splashWindow()->isConnecting(); }, kConnectMs));
        }();
        auto* message = inWindow<QLabel>("splash-window", "statusMessage");
        // The bar's fade out, for the snapshot.
        QTest::qWait(400);
        return message ? withoutBreaks(message->text()) : QString();
    };
    {
        OtherProgram other;
        ASSERT_TRUE(other.claimed());
        LumenfieldApp app;
        app.scanManager().setScanner(std::make_shared<QuorvaneScanner>(bundle_.parent_path()));
        app.start();
        EXPECT_EQ(failedText(app),
                  QStringLiteral("The scanner is in use by another program. Close that program, then press Connect."));
        saveSnapshot(app.splashWindow(), QStringLiteral("e2e-connect-busy"));
        // Once the other program lets go, Connect finds it.
        other.release();
        QTest::mouseClick(inWindow("splash-window", "connectButton"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([] { return topLevel("main-window") && !topLevel("splash-window"); }, kConnectMs));
    }
    {
        const std::filesystem::path code = bundle_ / "Contents" / "Linux" / "Varnoth.so";
        {
            QFile file(QString::fromStdString(code.string()));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(256, 'x'));
        }
        LumenfieldApp app;
        app.scanManager().setScanner(std::make_shared<QuorvaneScanner>(bundle_.parent_path()));
        app.start();
        const QString text = failedText(app);
        EXPECT_TRUE(text.startsWith(QStringLiteral("The scanner driver could not be loaded from %1: ")
                                        .arg(QString::fromStdString(bundle_.string()))))
            << qPrintable(text);
        // The loader's reason, and every line of the text.
        EXPECT_TRUE(text.endsWith(QStringLiteral(": invalid ELF header (Contents/Linux/Varnoth.so).")))
            << qPrintable(text);
        const auto* message = inWindow<QLabel>("splash-window", "statusMessage");
        ASSERT_TRUE(message);
        EXPECT_GE(message->height(), message->heightForWidth(message->width()));
        saveSnapshot(app.splashWindow(), QStringLiteral("e2e-connect-driver-failed"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    return runEndToEndTests(argc, argv, QStringLiteral(LF_E2E_SCREENSHOTS), [] {
        // Before any thread: mounts of this process's own, which go with it (where it may mount).
        privateMounts() =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        // As root a read-only folder would still take files.
        dropFilePermissionOverride();
    });
}
