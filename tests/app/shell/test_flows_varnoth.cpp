// The preview and final-scan flows without a window, with the driver bundle as built on the
// simulated scanner: the preview caches of two sources cover their own areas, and a final scan is
// written under the day's name and advances the counter.
#include "content_controller.h"
#include "gui_test.h"
#include "image_file.h"
#include "preload.h"
#include "varnoth_session.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

using namespace lumenfield;

namespace {

struct NoDialogs : SaveDialogs {
    int asked = 0;
    QList<FailureMessage> failures;
    ReplaceAnswer askReplace() override
    {
        ++asked;
        return ReplaceAnswer::cancel;
    }
    void showFailure(const FailureMessage& message) override { failures << message; }
    std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString&) override
    {
        failures << message;
        return std::nullopt;
    }
};

struct RecordingOpener : FileOpener {
    QStringList opened;
    void open(const QString& path) override { opened << path; }
};

} // namespace

class FlowsVarnothTest : public QObject {
    Q_OBJECT

    static QString dataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_shell_flows_varnoth") == 0); }

    void previewsAndAFinalScan()
    {
        vips_cache_set_max(0);
        QDir(dataFolder()).removeRecursively();
        auto bench = std::make_unique<varnoth_test::Bench>();
        bench->addScanner();
        auto scanner = std::make_shared<QuorvaneScanner>(bench->driverFolder());
        QVERIFY(scanner->loadDriver());
        const ScannerCapabilities caps = scanner->capabilities();
        {
            ScanManager manager;
            AppSettings app;
            ScanSettings scanSettings;
            ImageSettings imageSettings;
            ScanFrameCrop frameCrop;
            OutputSettings output;
            ContentController controller(manager, app, scanSettings, imageSettings, frameCrop, output);
            auto dialogs = std::make_shared<NoDialogs>();
            auto opener = std::make_shared<RecordingOpener>();
            controller.setSaveDialogs(dialogs);
            controller.setFileOpener(opener);
            // Opening a file forks, which the virtual bus's preload does not survive.
            app.setOpenImageAfterScan(false);
            QTemporaryDir pictures;
            output.setDirectoryPath(pictures.path());
            manager.setScanner(scanner);
            manager.setScanStatus(rawValue(VekScanStatus::ready));
            const auto finished = [&] { return QTest::qWaitFor([&] { return !controller.isFlowBusy(); }, 60000); };

            // A reflective preview, then a positive-film one: each cache holds its source's area at
            // the preview resolution.
            const struct {
                qint64 source;
                const char* file;
                ScannerFrameCap cap;
            } previews[] = {{1, "reflecive_preview.tiff", caps.frameCap},
                            {3, "positive_preview.tiff", caps.filmFrameCap}};
            for (const auto& preview : previews) {
                scanSettings.setScanSourceRawValue(preview.source);
                QVERIFY(controller.previewScan());
                QVERIFY(finished());
                const std::optional<Image> cached = readImageFile(dataFolder() + '/' + preview.file);
                QVERIFY2(cached, preview.file);
                const double inch = 150.0 / preview.cap.SampleRes;
                QVERIFY(std::abs(cached->width() - preview.cap.Max.Right * inch) <= 1.0);
                QVERIFY(std::abs(cached->height() - preview.cap.Max.Bottom * inch) <= 1.0);
                QVERIFY(controller.rawPreview(preview.source));
                QCOMPARE(controller.rawPreview(preview.source)->width(), cached->width());
            }
            QVERIFY(QFile::exists(dataFolder() + "/reflecive_preview.tiff"));
            QVERIFY(!QFile::exists(dataFolder() + "/negative_preview.tiff"));

            // A final scan of a small frame of the flatbed.
            scanSettings.setScanSourceRawValue(1);
            scanSettings.setResolution(150);
            scanSettings.setPreviewImageScale(1.0);
            scanSettings.setPreviewRect(QRectF(30, 30, 90, 60));
            QCOMPARE(output.suffixNumber(), 1);
            QVERIFY(controller.scanImage());
            QVERIFY(finished());
            const QString name = QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + "-001.tiff";
            const std::optional<Image> written = readImageFile(pictures.filePath(name));
            QVERIFY2(written, qPrintable(name));
            const std::optional<Image> raw = readImageFile(dataFolder() + "/raw_image.tiff");
            QVERIFY(raw);
            QCOMPARE(written->width(), raw->width());
            QCOMPARE(written->height(), raw->height());
            QCOMPARE(raw->width(), 90);
            QCOMPARE(output.suffixNumber(), 2);
            QCOMPARE(dialogs->asked, 0);
            QVERIFY(opener->opened.isEmpty());
            QCOMPARE(manager.scanStatus(), rawValue(VekScanStatus::ready));

            varnoth_test::disconnectManager(manager, scanner);
        }
        bench.reset();
    }
};

LF_GUI_TEST_MAIN_AFTER(FlowsVarnothTest, sim::reexec_with_preload(argc, argv))

#include "test_flows_varnoth.moc"
