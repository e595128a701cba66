// The Scanner tab with the driver bundle as built, on the simulated scanner: the rows and segments
// its capabilities give, its identification line, and erasing the calibration data it wrote.
#include "app_settings.h"
#include "app_settings_scanner_tab_view.h"
#include "clear_calibration_confirm.h"
#include "gui_test.h"
#include "preload.h"
#include "scan_manager.h"
#include "scanner_info_view.h"
#include "segmented_control.h"
#include "stdout_capture.h"
#include "varnoth_session.h"

#include <QToolButton>

#include <vips/vips8>

#include <filesystem>
#include <memory>

using namespace lumenfield;

namespace {

struct Perform : ClearCalibrationConfirm {
    QStringList results;
    bool confirmClear(QWidget*) override { return true; }
    void showClearResult(QWidget*, bool, const QString& text) override { results << text; }
};

} // namespace

class PrefsVarnothTest : public QObject {
    Q_OBJECT

    std::unique_ptr<varnoth_test::Bench> bench;
    std::shared_ptr<QuorvaneScanner> scanner;
    std::unique_ptr<ScanManager> manager;
    AppSettings settings;
    Perform perform;

    void connectScanner(const std::string& profile)
    {
        bench = std::make_unique<varnoth_test::Bench>();
        bench->addScanner(profile);
        manager = std::make_unique<ScanManager>();
        scanner = varnoth_test::connectManager(*bench, *manager);
        QVERIFY(scanner);
    }
    static QString infoLine(const AppSettingsScannerTabView& tab)
    {
        return tab.scannerInfoView() ? tab.scannerInfoView()->text() : QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VIPS_INIT("test_prefs_varnoth") == 0); }

    void cleanup()
    {
        if (manager && scanner) varnoth_test::disconnectManager(*manager, scanner);
        manager.reset();
        scanner.reset();
        bench.reset();
    }

    void defaultProfile()
    {
        connectScanner("default");
        settings.setCalibrationMode(VekCalibrationMode::smart);
        settings.setExposureRatio(100);
        AppSettingsScannerTabView tab(settings, *manager, perform);
        QString shown;
        for (int i = 0; i < 4; i++)
            if (!tab.rows()[std::size_t(i)]->isHidden()) shown += QChar('A' + i);
        QCOMPARE(shown, QStringLiteral("ABCD"));
        SegmentedControl* segments = tab.exposureRatioSegmented();
        QVERIFY(segments);
        QStringList texts;
        for (int i = 0; i < segments->count(); i++) texts << segments->button(i)->text();
        QCOMPARE(texts, (QStringList{"0.5", "1.0", "1.5", "2.0"}));
        QCOMPARE(segments->currentTag(), std::optional<qint64>(100));
        QVERIFY(segments->button(1)->isChecked());
        QCOMPARE(infoLine(tab), QStringLiteral("Velquor K5200 / Driver: V1.00 / Firmware: V1.05"));

        // One small scan writes the calibration file; Perform erases it.
        ScanSettings::Values values = ScanSettings().values();
        values.resolution = 150;
        values.previewImageScale = 1.0;
        values.previewRect = QRectF(30, 30, 60, 30);
        std::optional<QString> scanned;
        manager->runOnWorker([&] {
            scanned = manager->scan(values, ScanMode::scan, 100, VekScanQuality::quality, VekCalibrationMode::smart);
        });
        manager->waitForWorker();
        QCoreApplication::processEvents();
        QVERIFY(scanned.has_value());
        QVERIFY(std::filesystem::exists(bench->calibrationFile()));

        StdoutCapture output;
        tab.findChild<QToolButton*>(QStringLiteral("clearCalibrationButton"))->click();
        manager->waitForWorker();
        QCoreApplication::processEvents();
        QCOMPARE(output.lines("Calibration data cleared"), 1);
        QVERIFY(!std::filesystem::exists(bench->calibrationFile()));
    }

    void submodel2()
    {
        connectScanner("submodel2");
        AppSettingsScannerTabView tab(settings, *manager, perform);
        QCOMPARE(infoLine(tab), QStringLiteral("Tessaly K7700 Plus / Driver: V1.00 / Firmware: V1.05"));
    }
};

LF_GUI_TEST_MAIN_AFTER(PrefsVarnothTest, sim::reexec_with_preload(argc, argv))

#include "test_prefs_varnoth.moc"
