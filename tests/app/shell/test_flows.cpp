// The main window's working half without a window: the toolbar's rules, the preview flow and its
// cache files, the final scan with its save step, and the question box, on the real scan session
// against the scriptable fake driver.
#include "atomic_file.h"
#include "content_controller.h"
#include "fake_driver.h"
#include "file_permissions.h"
#include "gui_test.h"
#include "image_file.h"
#include "preview_cache.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumenfield;

namespace {

using namespace std::chrono_literals;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

bool samePixels(const Image& a, const Image& b)
{
    return a.width() == b.width() && a.height() == b.height() && a.bands() == b.bands() && (a == b).min() == 255;
}

// An 8-bit RGB image with a pattern of its own.
Image pattern(int width, int height, int seed)
{
    QByteArray bytes(qsizetype(width) * height * 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 7 + seed * (i % 3 + 1)) & 0xFF);
    return Image(vips_image_new_from_memory_copy(bytes.constData(), std::size_t(bytes.size()), width, height, 3,
                                                 VIPS_FORMAT_UCHAR));
}

// Standard output into a file for the test's checks, passed on to standard error afterwards.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        saved_ = ::dup(1);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), 1);
    }
    ~StdoutCapture()
    {
        take();
        ::dup2(saved_, 1);
        ::close(saved_);
        std::fclose(file_);
    }
    // What was printed since the last call.
    std::string take()
    {
        std::fflush(stdout);
        std::string text;
        char buffer[4096];
        std::fseek(file_, long(read_), SEEK_SET);
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
        read_ += text.size();
        std::fputs(text.c_str(), stderr);
        return text;
    }

private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
    std::size_t read_ = 0;
};

struct ScriptedDialogs : SaveDialogs {
    QList<ReplaceAnswer> answers;
    int asked = 0;
    // The failures shown, and those of saves that asked for another folder.
    QList<FailureMessage> failures;
    QList<FailureMessage> saveFailures;
    // The answers to the folder question; none (give up) when it runs out.
    QList<QString> folders;
    ReplaceAnswer askReplace() override
    {
        ++asked;
        return answers.isEmpty() ? ReplaceAnswer::cancel : answers.takeFirst();
    }
    void showFailure(const FailureMessage& message) override { failures << message; }
    std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString&) override
    {
        saveFailures << message;
        if (folders.isEmpty()) return std::nullopt;
        return folders.takeFirst();
    }
};

struct RecordingOpener : FileOpener {
    QStringList opened;
    void open(const QString& path) override { opened << path; }
};

const QByteArray kDamaged("II*\0\x08\0\0\0damaged", 15);

bool has(const std::string& text, const char* line)
{
    return text.find(line) != std::string::npos;
}

} // namespace

class FlowsTest : public QObject {
    Q_OBJECT

    // The shared objects of a main window, with the fakes in its seams.
    struct Window {
        ScanManager manager;
        AppSettings app;
        ScanSettings scanSettings;
        ImageSettings imageSettings;
        ScanFrameCrop frameCrop;
        OutputSettings output;
        ContentController controller{manager, app, scanSettings, imageSettings, frameCrop, output};
        std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
        std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
        QTemporaryDir outputFolder;
        QList<qint64> statuses;
    };

    fake::FakeDriver& driver = fake::FakeDriver::instance();
    std::unique_ptr<fake::DriverFolder> drivers;
    std::shared_ptr<QuorvaneScanner> scanner;
    std::unique_ptr<Window> window;
    std::unique_ptr<StdoutCapture> console;
    // Short names for the window's parts.
    ScanManager* manager = nullptr;
    AppSettings* app = nullptr;
    ScanSettings* scanSettings = nullptr;
    ImageSettings* imageSettings = nullptr;
    OutputSettings* output = nullptr;
    ContentController* controller = nullptr;
    ScriptedDialogs* dialogs = nullptr;
    RecordingOpener* opener = nullptr;
    QList<qint64>* statusesSeen = nullptr;

    static QString dataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }
    QString outputPath(const QString& name) const { return window->outputFolder.filePath(name); }
    bool finished() const
    {
        return QTest::qWaitFor([&] { return !controller->isFlowBusy(); }, 20000);
    }
    // The scan session's own scan, with the raw file replaced by bytes no decoder takes.
    ScanFunction damagingScan()
    {
        return [manager = manager](const ScanSettings::Values& s, ScanMode m, qint64 e, VekScanQuality q,
                                   VekCalibrationMode c) {
            ScanResult result{manager->scan(s, m, e, q, c), manager->lastFailure()};
            if (result.path) writeFile(*result.path, kDamaged);
            return result;
        };
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_shell_flows") == 0); }

    void init()
    {
        QFile::remove(dataFolder());
        QDir(dataFolder()).removeRecursively();
        QVERIFY(QDir().mkpath(dataFolder()));
        driver.reset();
        drivers = std::make_unique<fake::DriverFolder>();
        drivers->add("FakeAlpha");
        scanner = std::make_shared<QuorvaneScanner>(drivers->path());
        QVERIFY(scanner->loadDriver());
        driver.clearTrace();
        window = std::make_unique<Window>();
        Window& w = *window;
        std::tie(manager, app, scanSettings, imageSettings, output, controller, dialogs, opener, statusesSeen) =
            std::tuple(&w.manager, &w.app, &w.scanSettings, &w.imageSettings, &w.output, &w.controller, w.dialogs.get(),
                       w.opener.get(), &w.statuses);
        manager->setScanner(scanner);
        manager->setScanStatus(rawValue(VekScanStatus::ready));
        output->setDirectoryPath(w.outputFolder.path());
        output->setPrefixType(PrefixType::text);
        output->setPrefix(QStringLiteral("Scan"));
        output->setSuffixNumber(12);
        controller->setSaveDialogs(w.dialogs);
        controller->setFileOpener(w.opener);
        connect(manager, &ScanManager::scanStatusChanged, this, [&w](qint64 status) { w.statuses << status; });
        console = std::make_unique<StdoutCapture>();
    }

    void cleanup()
    {
        console.reset();
        window->manager.waitForWorker();
        scanner->unloadDriver();
        window.reset();
        scanner.reset();
        drivers.reset();
    }

    void rules()
    {
        QCOMPARE(controller->productName(), QStringLiteral("Velquor K5200"));
        manager->setScanner(nullptr);
        QCOMPARE(controller->productName(), QStringLiteral("Quorvane Scanner"));
        const auto handMade = std::make_shared<QuorvaneScanner>();
        manager->setScanner(handMade);
        const struct {
            uint16_t model;
            uint8_t sub;
            const char* name;
        } names[] = {{0x6204, 0, "Velquor K5200"},
                     {0x6204, 2, "Tessaly K7700 Plus"},
                     {0x6204, 1, "Quorvane Velquor"},
                     {0x6205, 0, "Quorvane Velquor"}};
        for (const auto& row : names) {
            handMade->setInfo(SCANNERINFO{row.model, row.sub, "", 0, 0});
            QCOMPARE(controller->productName(), QString::fromLatin1(row.name));
        }

        for (qint64 status = 0; status <= 7; ++status) {
            manager->setScanStatus(status);
            QCOMPARE(controller->isScanning(), status >= 1 && status <= 4);
        }
        manager->setScanStatus(0);

        // A final scan needs a preview of its own source; other sources are not held back.
        controller->setRawPreview(1, pattern(4, 4, 0));
        const struct {
            qint64 source;
            bool disabled;
        } sources[] = {{1, false}, {3, true}, {4, true}, {2, false}};
        for (const auto& row : sources) {
            scanSettings->setScanSourceRawValue(row.source);
            QCOMPARE(controller->isScanDisabled(), row.disabled);
        }
        scanSettings->setScanSourceRawValue(1);
        manager->setScanStatus(4);
        QVERIFY(controller->isScanDisabled());
        QVERIFY(!controller->isPreviewEnabled());
        manager->setScanStatus(5);
        QVERIFY(controller->isPreviewEnabled() && controller->isScanEnabled());

        QSignalSpy action(controller, &ContentController::actionStateChanged);
        manager->setScanner(scanner);
        manager->setScanStatus(0);
        scanSettings->setScanSourceRawValue(3);
        controller->setRawPreview(3, pattern(4, 4, 1));
        QCOMPARE(action.count(), 4);
        QVERIFY(controller->previewScan());
        QVERIFY(!controller->isPreviewEnabled() && !controller->isScanEnabled());
        QCOMPARE(action.count(), 5);
        QVERIFY(finished());
    }

    void previewFlow()
    {
        controller->loadPreviousPreviewImages();
        for (const qint64 source : {1, 3, 4}) {
            scanSettings->setScanSourceRawValue(source);
            QVERIFY(!controller->rawPreview(source) && controller->isScanDisabled());
        }

        // A positive-film preview over an older one.
        const QString positive = dataFolder() + "/positive_preview.tiff";
        writeFile(positive, "older preview");
        scanSettings->setScanSourceRawValue(3);
        QSignalSpy changed(controller, &ContentController::rawPreviewChanged);
        QVERIFY(controller->previewScan());
        QVERIFY(finished());
        QCOMPARE(*statusesSeen, (QList<qint64>{1, 2, 5}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toLongLong(), 3);
        QVERIFY(!controller->rawPreview(1) && !controller->rawPreview(4));
        QVERIFY(controller->rawPreview(3) && controller->rawPreview(3)->width() == 120);
        QVERIFY(!QFile::exists(dataFolder() + "/raw_image.tiff"));
        QCOMPARE(readImageFile(positive)->height(), 40);
        QVERIFY(controller->isScanEnabled());

        // A refused scan changes nothing.
        const QByteArray kept = fileBytes(positive);
        driver.reply(SE_CMD_START_SCAN, SE_VERB_SET, SE_ERR_DEVICE_REFUSED);
        console->take();
        QVERIFY(controller->previewScan());
        QVERIFY(finished());
        QVERIFY(has(console->take(), "Failed to preview!\n"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(fileBytes(positive), kept);
        QCOMPARE(dialogs->failures.size(), 1);
        QCOMPARE(dialogs->failures[0].title, QStringLiteral("The preview failed."));
        QCOMPARE(dialogs->failures[0].detail, QStringLiteral("The scanner did not start the scan (driver code -190)."));
        QVERIFY(controller->isPreviewEnabled());
    }

    void previewKeepsTheClickedSource()
    {
        driver.scan.delay = 300ms;
        scanSettings->setScanSourceRawValue(3);
        QVERIFY(controller->previewScan());
        QVERIFY(QTest::qWaitFor([&] { return driver.entered(SE_CMD_READ_LINES) > 0; }, 20000));
        scanSettings->setScanSourceRawValue(1);
        QVERIFY(finished());
        QVERIFY(controller->rawPreview(3) && !controller->rawPreview(1));
        QVERIFY(QFile::exists(dataFolder() + "/positive_preview.tiff"));
        QVERIFY(!QFile::exists(dataFolder() + "/reflecive_preview.tiff"));
    }

    void previewThatCannotBeStored()
    {
        // A folder where the file goes: it stays, and so does the raw file; the preview is shown.
        QVERIFY(QDir(dataFolder()).mkpath("reflecive_preview.tiff/inside"));
        QVERIFY(controller->previewScan());
        QVERIFY(finished());
        QVERIFY(has(console->take(), "Failed to save preview image file: Is a directory\n"));
        QCOMPARE(dialogs->failures.size(), 1);
        QCOMPARE(dialogs->failures[0].title, QStringLiteral("The preview could not be stored."));
        QCOMPARE(QString(dialogs->failures[0].detail).remove(QChar(0x200B)),
                 QStringLiteral("Writing %1/reflecive_preview.tiff failed: Is a directory. The preview is shown all "
                                "the same.")
                     .arg(dataFolder()));
        QVERIFY(controller->rawPreview(1) && controller->rawPreview(1)->width() == 120);
        QVERIFY(QFileInfo(dataFolder() + "/reflecive_preview.tiff/inside").isDir());
        QVERIFY(QFile::exists(dataFolder() + "/raw_image.tiff"));

        // A damaged file is moved in and ignored without a word.
        controller->setScanFunction(damagingScan());
        scanSettings->setScanSourceRawValue(4);
        QVERIFY(controller->previewScan());
        QVERIFY(finished());
        QVERIFY(!has(console->take(), "Failed"));
        QVERIFY(!controller->rawPreview(4));
        QCOMPARE(fileBytes(dataFolder() + "/negative_preview.tiff"), kDamaged);
        QCOMPARE(dialogs->failures.size(), 2);
        QCOMPARE(dialogs->failures[1].title, QStringLiteral("The preview could not be shown."));
    }

    void previewCaches()
    {
        const QString folder = dataFolder();
        writeFile(folder + "/reflecive_preview.tiff", "kept");
        writeFile(folder + "/positive_preview.tiff", "kept");
        controller->setRawPreview(4, pattern(30, 20, 4));
        controller->savePreviewImages();
        QVERIFY(samePixels(*readImageFile(folder + "/negative_preview.tiff"), *controller->rawPreview(4)));
        QCOMPARE(fileBytes(folder + "/reflecive_preview.tiff") + fileBytes(folder + "/positive_preview.tiff"),
                 QByteArray("keptkept"));

        controller->setRawPreview(1, pattern(30, 20, 1));
        controller->setRawPreview(3, pattern(20, 30, 3));
        controller->savePreviewImages();
        ContentController reopened(*manager, *app, *scanSettings, *imageSettings, window->frameCrop, *output);
        reopened.loadPreviousPreviewImages();
        for (const qint64 source : {1, 3, 4})
            QVERIFY(samePixels(*reopened.rawPreview(source), *controller->rawPreview(source)));

        // Files that cannot be replaced, each with its own message.
        for (const char* name : {"reflecive_preview.tiff", "positive_preview.tiff", "negative_preview.tiff"}) {
            QFile::remove(folder + '/' + name);
            QVERIFY(QDir(folder).mkdir(name));
        }
        console->take();
        controller->savePreviewImages();
        QCOMPARE(QString::fromStdString(console->take()),
                 QStringLiteral("Failed to write reflective preview image to file: Is a directory\n"
                                "Failed to write positive preview image to file:  Is a directory\n"
                                "Failed to write negative preview image to file:   Is a directory\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{});

        // Without a data folder every source shares one file in the home folder.
        QVERIFY(QDir(folder).removeRecursively());
        writeFile(folder, "no folder here");
        for (const qint64 source : {1, 3, 4, 2})
            QCOMPARE(previewImageURL(source), QDir::homePath() + "/reflecive_preview.tiff");
        QVERIFY(has(console->take(), "Failed to get application support directory URL\n"));
        QFile::remove(folder);
    }

    void scanAndSave()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        std::atomic<bool> writing = false;
        QThread* writerThread = nullptr;
        controller->setImageWriter(
            [&](const Image& image, const QString& path, OutputFormat format, const WriteOptions& options) {
                writerThread = QThread::currentThread();
                writing = true;
                std::this_thread::sleep_for(300ms);
                writing = false;
                return writeImage(image, path, format, options);
            });
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ticks += writing; });
        timer.start(10);

        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        const QString written = outputPath("scan-012.tiff");
        QCOMPARE(opener->opened, QStringList{written});
        QCOMPARE(readImageFile(written)->width(), 120);
        QCOMPARE(output->suffixNumber(), 13);
        QCOMPARE(*statusesSeen, (QList<qint64>{1, 2, 5, 3, 4, 0}));
        QCOMPARE(dialogs->asked, 0);
        QVERIFY(writerThread && writerThread != QThread::currentThread());
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));

        controller->openOutputDirectory();
        QCOMPARE(opener->opened.last(), window->outputFolder.path());

        // Nothing opens when it is not asked for; the counter stays at its largest value.
        app->setOpenImageAfterScan(false);
        output->setSuffixNumber(std::numeric_limits<qint64>::max());
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(QFile::exists(outputPath("scan-9223372036854775807.tiff")));
        QCOMPARE(opener->opened.size(), 2);
        QCOMPARE(output->suffixNumber(), std::numeric_limits<qint64>::max());
    }

    // A final scan is processed from the image the scan session kept in memory, and what it writes is
    // the very file that reading raw_image.tiff back gave before: in each colour type, and for an
    // image that ended early (white below its last line).
    void scanFromMemoryWritesWhatTheFileReadBackGave()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        driver.scan.geometry = SEImageInfo{120, 300, 360};
        const QString raw = dataFolder() + "/raw_image.tiff";
        // With the raw file gone once the scan has written it, only the image in memory is left.
        const ScanFunction inMemory = [manager = manager, raw](const ScanSettings::Values& s, ScanMode m, qint64 e,
                                                               VekScanQuality q, VekCalibrationMode c) {
            ScanResult result;
            result.path = manager->scan(s, m, e, q, c, &result.image);
            result.failure = manager->lastFailure();
            if (result.path) QFile::remove(raw);
            return result;
        };
        // Without the image the flow reads the file back, as it always did.
        const ScanFunction fromFile = [manager = manager](const ScanSettings::Values& s, ScanMode m, qint64 e,
                                                          VekScanQuality q, VekCalibrationMode c) {
            return ScanResult{manager->scan(s, m, e, q, c), manager->lastFailure()};
        };
        const struct {
            const char* name;
            VekColorType colorType;
            AdjustmentMethod method;
            OutputFormat format;
            std::optional<uint32_t> endsAt;
        } cases[] = {
            {"colour, manual, TIFF", VekColorType::color, AdjustmentMethod::manual, OutputFormat::tiff, {}},
            {"grey, photo, PNG", VekColorType::gray, AdjustmentMethod::photo, OutputFormat::png, {}},
            {"line art, doc, JPEG", VekColorType::blackAndWhite, AdjustmentMethod::doc, OutputFormat::jpeg, {}},
            {"colour ending at line 200, JPEG", VekColorType::color, AdjustmentMethod::manual, OutputFormat::jpeg, 200},
        };
        imageSettings->setSharpeness(0.5);
        imageSettings->setSaturation(1.4);
        // An embedded profile carries the time it was made; without one, the two files are
        // byte for byte the same when their pixels and headers are.
        output->setEmbeddedICCProfile(false);
        for (const auto& c : cases) {
            scanSettings->setColorType(c.colorType);
            imageSettings->setAdjustmentMethod(c.method);
            output->setFormat(c.format);
            driver.scan.errorAtLine = c.endsAt;
            driver.scan.errorCode = SE_END_OF_IMAGE;
            QByteArray written[2];
            for (int path = 0; path < 2; ++path) {
                controller->setScanFunction(path == 0 ? inMemory : fromFile);
                QVERIFY(controller->scanImage());
                QVERIFY(finished());
                QCOMPARE(manager->scanStatus(), rawValue(VekScanStatus::ready));
                written[path] = fileBytes(opener->opened.last());
            }
            QVERIFY2(!written[0].isEmpty(), c.name);
            QVERIFY2(written[0] == written[1], c.name);
            const std::optional<Image> image = readImageFile(opener->opened.last());
            QVERIFY2(image && image->height() == 300, c.name);
            // Below the last line read the scan is white, whatever the processing made of white.
            if (c.endsAt) QVERIFY2(image->extract_area(0, 210, 120, 90).min() > 200, c.name);
        }
    }

    // An empty folder (a folder dialog without a URL) planned "/scan-012.tiff", and a relative one a
    // file in the working folder: both give way to the default folder before the file is planned.
    void folderThatIsNotAbsolute()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QString folder = OutputSettings::defaultOutputDirectoryPath();
        QVERIFY(folder.startsWith('/'));
        const struct {
            QString folder;
            const char* written;
        } rows[] = {{QStringLiteral("relative-scans"), "scan-012.tiff"}, {QString(), "scan-013.tiff"}};
        for (const auto& row : rows) {
            output->setDirectoryPath(row.folder);
            QVERIFY(controller->scanImage());
            QVERIFY(finished());
            QCOMPARE(output->directoryPath(), folder);
            QCOMPARE(opener->opened.last(), folder + '/' + row.written);
            QVERIFY(readImageFile(folder + '/' + row.written).has_value());
            QVERIFY(QFile::remove(folder + '/' + row.written));
        }
        QVERIFY(!QFile::exists(QStringLiteral("relative-scans")));
    }

    void takenNames()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QString planned = outputPath("scan-012.tiff");
        writeFile(planned, "older scan");

        dialogs->answers = {ReplaceAnswer::replace};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(dialogs->asked, 1);
        QCOMPARE(readImageFile(planned)->width(), 120);
        QCOMPARE(output->suffixNumber(), 13);

        // Cancel: a timestamped name beside the untouched file.
        const QByteArray replaced = fileBytes(planned);
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 30, 5));
        controller->setClock([now] { return now; });
        output->setSuffixNumber(12);
        dialogs->answers = {ReplaceAnswer::cancel};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        const QString stamped = outputPath(QStringLiteral("scan-012 (20240315_%1).tiff").arg(now.toSecsSinceEpoch()));
        QCOMPARE(opener->opened.last(), stamped);
        QVERIFY(readImageFile(stamped).has_value());
        QCOMPARE(fileBytes(planned), replaced);
        QCOMPARE(output->suffixNumber(), 13);

        // Without the suffix every name after the first is taken.
        output->setAutoSuffix(false);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(dialogs->asked, 2);
        QVERIFY(QFile::exists(outputPath("scan.tiff")));
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(dialogs->asked, 3);
        QCOMPARE(output->suffixNumber(), 15);
    }

    void saveFailures()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QString planned = outputPath("scan-012.tiff");
        writeFile(planned, "older scan");

        // The writer fails after Replace: the old file survives.
        controller->setImageWriter(
            [](const Image&, const QString&, OutputFormat, const WriteOptions&) { return std::optional<QString>(); });
        dialogs->answers = {ReplaceAnswer::replace};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(has(console->take(), "Failed to save scanned image file!\n"));
        QCOMPARE(fileBytes(planned), QByteArray("older scan"));
        QVERIFY(opener->opened.isEmpty());
        QCOMPARE(output->suffixNumber(), 12);
        QCOMPARE(manager->scanStatus(), 0);
        // Asked for another folder, and given up.
        QCOMPARE(dialogs->saveFailures.size(), 1);
        QCOMPARE(dialogs->saveFailures[0].title, QStringLiteral("The scan could not be saved."));
        QVERIFY(dialogs->saveFailures[0].detail.contains(QStringLiteral("scan-\u200B012.tiff failed")) ||
                dialogs->saveFailures[0].detail.contains(QStringLiteral("scan-012.tiff failed")));

        // A folder at the name is never replaced.
        controller->setImageWriter(&writeImage);
        QVERIFY(QFile::remove(planned) && QDir(window->outputFolder.path()).mkpath("scan-012.tiff/inside"));
        dialogs->answers = {ReplaceAnswer::replace};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(has(console->take(),
                    "Failed to delete the exist file: Is a directory\n"
                    "Failed to save scanned image file!\n"));
        QVERIFY(QFileInfo(planned + "/inside").isDir());
        QCOMPARE(output->suffixNumber(), 12);
        QCOMPARE(manager->scanStatus(), 0);
        QCOMPARE(dialogs->saveFailures.size(), 2);
        QVERIFY(dialogs->saveFailures[1].detail.contains(QStringLiteral("Is a directory")));

        // An unreadable raw image ends the flow at ready, without a file.
        statusesSeen->clear();
        controller->setScanFunction(damagingScan());
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(has(console->take(), "Failed to load scanned image!\n"));
        QCOMPARE(*statusesSeen, (QList<qint64>{1, 2, 5, 3, 0}));
        QCOMPARE(dialogs->failures.last().title, QStringLiteral("The scan failed."));
        QVERIFY(dialogs->failures.last().detail.contains(dataFolder() + "/raw_image.tiff"));
        QCOMPARE(QDir(window->outputFolder.path()).entryList(QDir::Files), QStringList{});
        QCOMPARE(output->suffixNumber(), 12);

        // A refused scan runs no save step.
        statusesSeen->clear();
        controller->setScanFunction([manager = manager](const ScanSettings::Values& s, ScanMode m, qint64 e,
                                                        VekScanQuality q, VekCalibrationMode c) {
            return ScanResult{manager->scan(s, m, e, q, c), manager->lastFailure()};
        });
        driver.reply(SE_CMD_START_SCAN, SE_VERB_SET, SE_ERR_DEVICE_REFUSED);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(has(console->take(), "Failed to scan!\n"));
        QCOMPARE(*statusesSeen, (QList<qint64>{1, 5}));
        QCOMPARE(dialogs->asked, 2);
        QCOMPARE(dialogs->failures.last().detail,
                 QStringLiteral("The scanner did not start the scan (driver code -190)."));
        // A setting the driver refuses is named.
        driver.reply(SE_CMD_RESOLUTION, SE_VERB_SET, SE_ERR_RANGE);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(dialogs->failures.last().detail,
                 QStringLiteral("The scanner refused the resolution (driver code -108)."));
        QVERIFY(controller->isScanEnabled());
    }

    void aFailedSaveKeepsTheScanUntilAnotherFolderIsChosen()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QString readOnly = window->outputFolder.filePath("read-only");
        QVERIFY(QDir().mkpath(readOnly));
        QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0555) == 0);
        output->setDirectoryPath(readOnly);
        QTemporaryDir elsewhere;
        dialogs->folders = {elsewhere.path()};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        ::chmod(QFile::encodeName(readOnly).constData(), 0755);

        QCOMPARE(dialogs->saveFailures.size(), 1);
        QCOMPARE(dialogs->saveFailures[0].detail,
                 QStringLiteral("Writing %1 failed: Permission denied.\nChoose another folder to save the scan in, or "
                                "discard the scan.")
                     .arg(QString(readOnly + "/scan-012.tiff").replace(u'/', QStringLiteral("/\u200B"))));
        QVERIFY(has(console->take(), "Failed to save scanned image file!\n"));
        // The same scan, saved in the folder chosen, which the output settings now name.
        QCOMPARE(output->directoryPath(), elsewhere.path());
        const std::optional<Image> saved = readImageFile(elsewhere.filePath("scan-012.tiff"));
        QVERIFY(saved && saved->width() == 120);
        QCOMPARE(QDir(readOnly).entryList(QDir::Files | QDir::Hidden), QStringList{});
        QCOMPARE(output->suffixNumber(), 13);
        QCOMPARE(opener->opened, QStringList{elsewhere.filePath("scan-012.tiff")});
        QCOMPARE(*statusesSeen, (QList<qint64>{1, 2, 5, 3, 4, 0}));
        QVERIFY(controller->isScanEnabled());
    }

    void cancelKeepsEveryFile()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 30, 5));
        controller->setClock([now] { return now; });
        const QString planned = outputPath("scan-012.tiff");
        const QString stamped = QStringLiteral("scan-012 (20240315_%1)").arg(now.toSecsSinceEpoch());
        // The planned name and the timestamped name are both taken.
        writeFile(planned, "older scan");
        writeFile(outputPath(stamped + ".tiff"), "scan of the same second");
        writeFile(outputPath(stamped + " (2).tiff"), "and another");
        dialogs->answers = {ReplaceAnswer::cancel};
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(fileBytes(planned), QByteArray("older scan"));
        QCOMPARE(fileBytes(outputPath(stamped + ".tiff")), QByteArray("scan of the same second"));
        QCOMPARE(fileBytes(outputPath(stamped + " (2).tiff")), QByteArray("and another"));
        QCOMPARE(opener->opened, QStringList{outputPath(stamped + " (3).tiff")});
        QVERIFY(readImageFile(outputPath(stamped + " (3).tiff")).has_value());
        QCOMPARE(output->suffixNumber(), 13);
        QCOMPARE(numberedPath(QStringLiteral("/a.b/name"), 1), QStringLiteral("/a.b/name (2)"));
        QCOMPARE(numberedPath(QStringLiteral("/a/.hidden"), 2), QStringLiteral("/a/.hidden (3)"));
    }

    void aLongPrefixIsSaved()
    {
        // 245 characters and "-012.tiff": 254 bytes, one short of the longest name.
        controller->setRawPreview(1, pattern(8, 8, 0));
        const QString prefix(245, u'p');
        output->setPrefix(prefix);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QVERIFY(dialogs->saveFailures.isEmpty());
        QVERIFY(readImageFile(outputPath(prefix + "-012.tiff")).has_value());
        QCOMPARE(QDir(window->outputFolder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{prefix + "-012.tiff"});

        // Cancel with the name taken: the timestamped name is shortened before the date to fit the
        // file system's 255 bytes, by whole characters, and the date and seconds stay whole; so does
        // a taken timestamped name's " (2)".
        const QDateTime now(QDate(2024, 3, 15), QTime(10, 30, 5));
        controller->setClock([now] { return now; });
        const QString stamp = QStringLiteral(" (20240315_%1)").arg(now.toSecsSinceEpoch());
        const struct {
            QString prefix;
            qsizetype stemBytes; // of the name before the date: 255 - 27 for the date, seconds and
                                 // extension - 7 for a " (1000)", in whole characters
        } rows[] = {{prefix, 221}, {QString(111, u'\u00e9'), 220}};
        for (const auto& row : rows) {
            output->setPrefix(row.prefix);
            const QString planned = outputPath(row.prefix + "-012.tiff");
            writeFile(planned, "older scan");
            for (int taken = 0; taken < 2; ++taken) {
                output->setSuffixNumber(12);
                dialogs->answers = {ReplaceAnswer::cancel};
                QVERIFY(controller->scanImage());
                QVERIFY(finished());
                QVERIFY(dialogs->saveFailures.isEmpty());
                const QString name = QFileInfo(opener->opened.last()).fileName();
                QVERIFY2(name.toUtf8().size() <= 255, qPrintable(name));
                QVERIFY2(name.endsWith(stamp + (taken ? " (2).tiff" : ".tiff")), qPrintable(name));
                const QString stem = name.left(name.indexOf(stamp));
                QVERIFY2((row.prefix + "-012").startsWith(stem), qPrintable(name));
                QCOMPARE(stem.toUtf8().size(), row.stemBytes);
                QVERIFY(readImageFile(opener->opened.last()).has_value());
                QCOMPARE(fileBytes(planned), QByteArray("older scan"));
            }
        }
    }

    void staleTemporariesOfOurOwnGo()
    {
        const QString folder = window->outputFolder.path();
        const auto make = [&](const QString& name, qint64 ageSeconds) {
            writeFile(folder + '/' + name, "left behind");
            const timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(folder + '/' + name).constData(), times, 0) == 0);
        };
        const qint64 old = 3600;
        make(".lumenfield-Ab12Cd", old);
        make(".lumenfield-young1", 10);        // still being written, maybe
        make(".lumenfield-Locked", old);       // held by a running writer
        make(".bashrc.abc123", old);           // not ours
        make(".scan.tiff.tooLongSuffix", old); // not ours
        make("scan-001.tiff", old);            // the user's
        // The user's, in forms that a pattern looser than our own names would take.
        make(".holiday.png.backup", old);
        make(".scan-007.tiff.X1y2Z3", old);
        make(".lumenfield-Ab12Cd1", old);
        make(".lumenfield-Ab12C", old);
        make(".lumenfield-Ab-2Cd", old);
        make("raw_image.tiff.part", old); // the raw image's partial file is only ours in the data folder
        QVERIFY(QFile::link(folder + "/scan-001.tiff", folder + "/.lumenfield-Linked"));
        // The data folder's, which a killed scan or preview left there, go when a scan starts.
        const auto makeData = [&](const QString& name, qint64 ageSeconds) {
            const QString path = dataFolder() + '/' + name;
            writeFile(path, "left behind");
            const timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
        };
        makeData("raw_image.tiff.part", old);
        makeData(".lumenfield-Xy34Zw", old);
        makeData(".positive_preview.tiff.Ab12Cd", old);
        makeData(".holiday.png.backup", old);
        const int held = ::open(QFile::encodeName(folder + "/.lumenfield-Locked").constData(), O_RDONLY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);

        // The next save into the folder clears them.
        controller->setRawPreview(1, pattern(8, 8, 0));
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        ::close(held);
        QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        left.sort();
        QStringList expected = {".bashrc.abc123",      ".lumenfield-Linked",       ".lumenfield-Locked",
                                ".lumenfield-young1",  ".scan.tiff.tooLongSuffix", "scan-001.tiff",
                                "scan-012.tiff",       ".holiday.png.backup",      ".scan-007.tiff.X1y2Z3",
                                ".lumenfield-Ab12Cd1", ".lumenfield-Ab12C",        ".lumenfield-Ab-2Cd",
                                "raw_image.tiff.part"};
        expected.sort();
        QCOMPARE(left, expected);
        QVERIFY(!QFile::exists(dataFolder() + "/raw_image.tiff.part"));
        QVERIFY(!QFile::exists(dataFolder() + "/.lumenfield-Xy34Zw"));
        QVERIFY(QFile::exists(dataFolder() + "/.positive_preview.tiff.Ab12Cd"));
        QVERIFY(QFile::exists(dataFolder() + "/.holiday.png.backup"));
        // Once the writer is gone, the locked one goes too.
        QCOMPARE(removeStaleTemporaries(folder), 1);
        QVERIFY(!QFile::exists(folder + "/.lumenfield-Locked"));
    }

    void aLostScannerIsReleased()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        QSignalSpy lost(controller, &ContentController::scannerLost);
        // A failed transfer (a time-out, a stall) is a failed read: the scanner may still be there.
        driver.reply(SE_CMD_READ_LINES, SE_VERB_SET, SE_ERR_TRANSFER);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(lost.count(), 0);
        QCOMPARE(dialogs->failures.size(), 1);
        QCOMPARE(dialogs->failures[0].detail,
                 QStringLiteral("Reading the image from the scanner failed (driver code -188)."));
        QCOMPARE(manager->scanStatus(), rawValue(VekScanStatus::stopped));
        dialogs->failures.clear();
        // A scanner that has left the bus is lost.
        driver.reply(SE_CMD_READ_LINES, SE_VERB_SET, SE_ERR_NO_DEVICE);
        QVERIFY(controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(lost.count(), 1);
        QVERIFY(lost.at(0).at(0).toString().startsWith(
            QStringLiteral("The connection to the scanner was lost (driver code -103).")));
        QVERIFY(dialogs->failures.isEmpty());
        QCOMPARE(manager->scanStatus(), rawValue(VekScanStatus::notConnected));
        // Its driver is unloaded, so the device is free for the next connect.
        QVERIFY(QTest::qWaitFor([&] { return driver.trace().back().compact() == "close"; }, 5000));
        QVERIFY(!controller->isFlowBusy());
        QVERIFY(scanner->loadDriver());
    }

    void aStopIsNoFailure()
    {
        driver.scan.delay = 300ms;
        QVERIFY(controller->previewScan());
        QVERIFY(QTest::qWaitFor([&] { return driver.entered(SE_CMD_READ_LINES) > 0; }, 20000));
        manager->stopScan();
        QVERIFY(finished());
        QVERIFY(dialogs->failures.isEmpty());
        QVERIFY(!controller->rawPreview(1));
    }

    void oneFlowAtATime()
    {
        controller->setRawPreview(1, pattern(8, 8, 0));
        QVERIFY(controller->previewScan());
        QVERIFY(!controller->previewScan());
        QVERIFY(!controller->scanImage());
        QVERIFY(finished());
        QCOMPARE(driver.calls(SE_CMD_START_SCAN).size(), 1u);
        QVERIFY(controller->scanImage());
        QVERIFY(!controller->previewScan());
        QVERIFY(finished());
        QCOMPARE(driver.calls(SE_CMD_START_SCAN).size(), 2u);
    }

    void questionBox()
    {
        MessageBoxSaveDialogs product;
        bool checked = false;
        const auto answer = [&](bool replace) {
            QTimer::singleShot(0, this, [&, replace] {
                QVERIFY(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000));
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                QCOMPARE(box->icon(), QMessageBox::Warning);
                QCOMPARE(box->text(), QStringLiteral("File Already Exists"));
                QCOMPARE(box->informativeText(),
                         QStringLiteral("The file already exists at the destination. Do you want to replace it? If "
                                        "you choose not to replace, the file name will include the timestamp."));
                QCOMPARE(box->windowModality(), Qt::ApplicationModal);
                const QList<QAbstractButton*> buttons = box->buttons();
                QCOMPARE(buttons.size(), 2);
                QCOMPARE(buttons[0]->text(), QStringLiteral("Replace"));
                QCOMPARE(box->buttonRole(buttons[0]), QMessageBox::AcceptRole);
                QCOMPARE(box->defaultButton(), buttons[0]);
                QCOMPARE(buttons[1]->text(), QStringLiteral("Cancel"));
                QCOMPARE(box->buttonRole(buttons[1]), QMessageBox::RejectRole);
                if (!checked) saveSnapshot(box, QStringLiteral("replace_question"));
                checked = true;
                buttons[replace ? 0 : 1]->click();
            });
        };
        answer(false);
        QCOMPARE(product.askReplace(), ReplaceAnswer::cancel);
        QVERIFY(checked);
        answer(true);
        QCOMPARE(product.askReplace(), ReplaceAnswer::replace);
    }

    void histogram()
    {
        QVERIFY(!controller->histogramImage());
        // 1 % white pixels on black, left as they are by the raw method.
        const Image white = Image::xyz(100, 100)[1] == 0;
        const Image frame = white.bandjoin(std::vector<Image>{white, white});
        imageSettings->setAdjustmentMethod(AdjustmentMethod::raw);
        window->frameCrop.setImage(frame);
        const std::optional<Image> picture = controller->histogramImage();
        QVERIFY(picture);
        QCOMPARE(picture->width(), 350);
        QCOMPARE(picture->height(), 216);
        QCOMPARE(picture->bands(), 3);
        for (int channel = 0; channel < 3; ++channel) {
            const Image band = (*picture)[channel];
            QCOMPARE(band.extract_area(0, 0, 1, 216).avg() * 216, 216.0);
            QCOMPARE(band.extract_area(349, 0, 1, 216).avg() * 216, 43.0);
            QCOMPARE(band.extract_area(349, 216 - 43, 1, 43).min(), 1.0);
            QCOMPARE(band.extract_area(1, 0, 348, 216).max(), 0.0);
        }
    }
};

LF_GUI_TEST_MAIN_AFTER(FlowsTest, dropFilePermissionOverride())
#include "test_flows.moc"
