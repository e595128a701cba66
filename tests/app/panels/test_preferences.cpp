// The preferences window: its tabs, the General options, the Scanner tab's rows and segments, the
// identification line, and the two views no window shows.
#include "app_settings.h"
#include "app_settings_general_tab_view.h"
#include "app_settings_image_tab_view.h"
#include "app_settings_scanner_tab_view.h"
#include "app_settings_view.h"
#include "clear_calibration_confirm.h"
#include "custom_segmented_picker.h"
#include "exposure_ratio_segments.h"
#include "gui_test.h"
#include "panel_style.h"
#include "scan_manager.h"
#include "scanner_info_view.h"
#include "segmented_control.h"
#include "stdout_capture.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <limits>
#include <memory>

namespace {

// Never asked in these tests.
class NoConfirm : public ClearCalibrationConfirm {
public:
    bool confirmClear(QWidget*) override { return false; }
};

struct Capabilities {
    uint8_t shrink = 1;
    uint8_t smart = 1;
    ScannerRange range{50, 200, 3};
};

std::shared_ptr<QuorvaneScanner> makeScanner(const Capabilities& given = {},
                                             const SCANNERINFO& info = {0x6204, 0, "Fake Scanner", 100, 105})
{
    auto scanner = std::make_shared<QuorvaneScanner>();
    scanner->setInfo(info);
    ScannerCapabilities capabilities;
    capabilities.isSupportShrinkableExposureRatio = given.shrink;
    capabilities.isSupportSmartCalibration = given.smart;
    capabilities.shrinkableExposureRange = given.range;
    scanner->setCapabilities(capabilities);
    return scanner;
}

// The names of the rows the tab shows, in order.
QStringList shownRows(const AppSettingsScannerTabView& tab)
{
    QStringList names;
    for (QWidget* row : tab.rows())
        if (!row->isHidden()) names << row->objectName();
    return names;
}

QStringList segmentTexts(const SegmentedControl* control)
{
    QStringList texts;
    for (int i = 0; control && i < control->count(); i++) texts << control->button(i)->text();
    return texts;
}

QString lineOf(const SCANNERINFO& info)
{
    return ScannerInfoView(info).text();
}

const QStringList allRows = {"exposureRatioRow", "scanQualityRow", "calibrationModeRow", "calibrationDataRow"};

} // namespace

class PreferencesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ScanManager> manager;
    NoConfirm confirm;
    QTemporaryDir stores;

    std::unique_ptr<AppSettingsScannerTabView> scannerTab()
    {
        return std::make_unique<AppSettingsScannerTabView>(*settings, *manager, confirm);
    }
    std::unique_ptr<QSettings> store() const
    {
        return std::make_unique<QSettings>(stores.filePath(QStringLiteral("image.ini")), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init()
    {
        settings = std::make_unique<AppSettings>();
        manager = std::make_unique<ScanManager>();
    }
    void cleanup()
    {
        manager.reset();
        settings.reset();
        QFile::remove(stores.filePath(QStringLiteral("image.ini")));
    }

    void settingsTabsFromRawValues()
    {
        QCOMPARE(fromRaw<SettingsTab>(0), std::optional(SettingsTab::general));
        QCOMPARE(fromRaw<SettingsTab>(1), std::optional(SettingsTab::scanner));
        QCOMPARE(fromRaw<SettingsTab>(2), std::optional(SettingsTab::image));
        QVERIFY(!fromRaw<SettingsTab>(3));
        QVERIFY(!fromRaw<SettingsTab>(-1));
    }

    void windowKeepsItsSizeAndStartsOnGeneral()
    {
        QPointer<AppSettingsView> first = openAppSettingsWindow(*settings, *manager, confirm);
        QVERIFY(first->isWindow() && first->testAttribute(Qt::WA_DeleteOnClose));
        QTabWidget* tabs = first->tabWidget();
        QCOMPARE((QStringList{tabs->tabText(0), tabs->tabText(1)}), (QStringList{"General", "Scanner"}));
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(first->windowTitle(), QStringLiteral("General"));
        QCOMPARE(first->size(), QSize(532, 332));
        saveSnapshot(first, QStringLiteral("prefs-general"));

        QSignalSpy selected(first.data(), &AppSettingsView::selectedSettingsTabChanged);
        tabs->setCurrentIndex(1); // as a click on the tab does
        QCOMPARE(first->selectedSettingsTab(), SettingsTab::scanner);
        QCOMPARE(first->windowTitle(), QStringLiteral("Scanner"));
        QCOMPARE(first->size(), QSize(532, 332));
        first->setSelectedSettingsTab(SettingsTab::image);
        QCOMPARE(first->selectedSettingsTab(), SettingsTab::scanner);
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(selected.count(), 1);
        first->setSelectedSettingsTab(SettingsTab::general);
        QCOMPARE(first->windowTitle(), QStringLiteral("General"));
        first->setSelectedSettingsTab(SettingsTab::scanner);

        first->close();
        QTRY_VERIFY(first.isNull());
        std::unique_ptr<AppSettingsView> second(openAppSettingsWindow(*settings, *manager, confirm));
        QCOMPARE(second->selectedSettingsTab(), SettingsTab::general);
        QCOMPARE(second->tabWidget()->currentIndex(), 0);
        QCOMPARE(second->windowTitle(), QStringLiteral("General"));
    }

    void generalOptionsWriteAtOnceAndFollowTheModel()
    {
        AppSettingsGeneralTabView tab(*settings);
        QCheckBox* openImage = tab.findChild<QCheckBox*>(QStringLiteral("openImageCheck"));
        QCheckBox* resetSuffix = tab.findChild<QCheckBox*>(QStringLiteral("resetSuffixCheck"));
        QCOMPARE(openImage->text(), QStringLiteral("Open the image or folder after scanning"));
        QCOMPARE(resetSuffix->text(), QStringLiteral("Reset the suffix value of filename for a new day"));
        QVERIFY(openImage->isChecked() && resetSuffix->isChecked());

        QSignalSpy openChanges(settings.get(), &AppSettings::isOpenImageAfterScanChanged);
        QSignalSpy suffixChanges(settings.get(), &AppSettings::isResetSuffixForNewDayChanged);
        openImage->click();
        QCOMPARE(openChanges.count(), 1);
        QVERIFY(!settings->isOpenImageAfterScan());
        resetSuffix->click();
        QCOMPARE(suffixChanges.count(), 1);
        QVERIFY(!settings->isResetSuffixForNewDay());

        // The model's changes are shown, and not written back.
        settings->setOpenImageAfterScan(true);
        settings->setResetSuffixForNewDay(true);
        QVERIFY(openImage->isChecked() && resetSuffix->isChecked());
        QCOMPARE(openChanges.count(), 2);
        QCOMPARE(suffixChanges.count(), 2);
        QVERIFY(QSettings().allKeys().isEmpty());
    }

    void rowsFollowTheScannerAndTheCalibrationMode()
    {
        StdoutCapture output;
        auto tab = scannerTab();
        QCOMPARE(shownRows(*tab), QStringList{"scanQualityRow"});
        QVERIFY(!tab->scannerInfoView());

        manager->setScanner(makeScanner());
        QCOMPARE(shownRows(*tab), allRows);
        QVERIFY(tab->scannerInfoView());
        settings->setCalibrationMode(VekCalibrationMode::typical);
        QCOMPARE(shownRows(*tab), allRows.mid(0, 3));
        settings->setCalibrationMode(VekCalibrationMode::smart);
        QCOMPARE(shownRows(*tab), allRows);

        manager->setScanner(makeScanner({1, 0}));
        QCOMPARE(shownRows(*tab), allRows.mid(0, 2));
        manager->setScanner(makeScanner({2, 1}));
        QCOMPARE(shownRows(*tab), allRows.mid(1));
        manager->setScanner(nullptr);
        QCOMPARE(shownRows(*tab), QStringList{"scanQualityRow"});
        QVERIFY(!tab->scannerInfoView());
    }

    void exposureSegmentsFollowTheRange()
    {
        StdoutCapture output;
        auto tab = scannerTab();
        QCOMPARE(tab->exposureRatioLabel(2), QString());
        QCOMPARE(tab->exposureRatioValue(2), 100);

        manager->setScanner(makeScanner());
        SegmentedControl* segments = tab->exposureRatioSegmented();
        QCOMPARE(segmentTexts(segments), (QStringList{"0.5", "1.0", "1.5", "2.0"}));
        QCOMPARE((std::vector<qint64>{tab->exposureRatioValue(1), tab->exposureRatioValue(2), tab->exposureRatioValue(3),
                                      tab->exposureRatioValue(4)}),
                 (std::vector<qint64>{50, 100, 150, 200}));
        QCOMPARE(segments->currentTag(), std::optional<qint64>(100));

        // The step of 33 has no segment of 100: none is checked until the user picks one.
        manager->setScanner(makeScanner({1, 1, {0, 100, 3}}));
        segments = tab->exposureRatioSegmented();
        QCOMPARE(segmentTexts(segments), (QStringList{"0.3", "0.7", "1.0", "1.3"}));
        QCOMPARE(tab->exposureRatioValue(4), 132);
        QVERIFY(!segments->currentTag());
        QCOMPARE(settings->exposureRatio(), 100);
        QSignalSpy changes(settings.get(), &AppSettings::changed);
        segments->button(1)->click();
        QCOMPARE(settings->exposureRatio(), 66);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(segments->currentTag(), std::optional<qint64>(66));

        // Ranges that give no usable step: no row, no crash, and the functions' fallback.
        const int32_t max = std::numeric_limits<int32_t>::max();
        const int32_t min = std::numeric_limits<int32_t>::min();
        for (const ScannerRange& range : {ScannerRange{50, 200, 0}, ScannerRange{50, 200, -1}, ScannerRange{0, max, max},
                                          ScannerRange{200, 50, 3}, ScannerRange{min, max, 3}, ScannerRange{0, 40, 50}}) {
            manager->setScanner(makeScanner({1, 1, range}));
            QCOMPARE(shownRows(*tab), allRows.mid(1));
            QVERIFY(!tab->exposureRatioSegmented());
            QCOMPARE(tab->exposureRatioLabel(1), QString());
            QCOMPARE(tab->exposureRatioValue(1), 100);
            QVERIFY(exposureRatioSegments(range).empty());
        }
        // The largest range that still fits: 65 segments up to 2^31 − 1 would not, 64 steps do.
        QCOMPARE(exposureRatioStep(ScannerRange{0, 64 * 1000, 64}), std::optional<int64_t>(1000));
        QVERIFY(!exposureRatioStep(ScannerRange{0, max, 64}));
    }

    void qualityAndCalibrationPickers()
    {
        StdoutCapture output;
        manager->setScanner(makeScanner());
        settings->setScanQualityRawValue(3);
        auto tab = scannerTab();
        auto* quality = tab->findChild<SegmentedControl*>(QStringLiteral("scanQualitySegmented"));
        auto* calibration = tab->findChild<SegmentedControl*>(QStringLiteral("calibrationModeSegmented"));
        QCOMPARE(segmentTexts(quality), (QStringList{"Speed", "Quality"}));
        QVERIFY(!quality->button(0)->icon().isNull() && !quality->button(1)->icon().isNull());
        QVERIFY(!quality->currentTag());
        quality->button(1)->click();
        QCOMPARE(settings->scanQualityRawValue(), 8);
        QCOMPARE(segmentTexts(calibration), (QStringList{"Smart", "Typical"}));
        QCOMPARE(calibration->currentTag(), std::optional<qint64>(0));
        calibration->button(1)->click();
        QCOMPARE(settings->calibrationModeRawValue(), 1);
        QCOMPARE(settings->exposureRatio(), 100);
        // The calibration mode stays usable while a scan runs.
        manager->setScanStatus(rawValue(VekScanStatus::reading));
        QVERIFY(calibration->isEnabled() && tab->isEnabled());
    }

    void identificationLine()
    {
        StdoutCapture output;
        const auto name = [](uint16_t master, uint8_t sub) { return lineOf({master, sub, "x", 100, 0}).section(" / ", 0, 0); };
        QCOMPARE(name(0x6204, 0), QStringLiteral("Velquor K5200"));
        QCOMPARE(name(0x6204, 2), QStringLiteral("Tessaly K7700 Plus"));
        QCOMPARE(name(0x6204, 1), QStringLiteral("Quorvane Velquor"));
        QCOMPARE(name(0x1234, 0), QStringLiteral("Quorvane Velquor"));

        QCOMPARE(ScannerInfoView::driverVersionText({0, 0, "", 123, 0}), QStringLiteral(" / Driver: V1.23"));
        QCOMPARE(ScannerInfoView::driverVersionText({0, 0, "", 0, 0}), QStringLiteral(" / Driver: V0.00"));
        const auto firmware = [](uint16_t revision) { return ScannerInfoView::firmwareVersionText({0, 0, "", 0, revision}); };
        QCOMPARE(firmware(105), QStringLiteral(" / Firmware: V1.05"));
        QCOMPARE(firmware(123), QStringLiteral(" / Firmware: V1.23"));
        QCOMPARE(firmware(1), QStringLiteral(" / Firmware: V0.01"));
        QCOMPARE(firmware(65535), QStringLiteral(" / Firmware: V655.35"));
        QCOMPARE(firmware(0), QString());
        QCOMPARE(lineOf({0x6204, 0, "x", 123, 105}), QStringLiteral("Velquor K5200 / Driver: V1.23 / Firmware: V1.05"));
        QCOMPARE(lineOf({0x6204, 0, "x", 123, 0}), QStringLiteral("Velquor K5200 / Driver: V1.23"));

        // One trace line per rebuild; the device's name is data, not a format.
        const int before = output.lines("Scanner info: ");
        auto tab = scannerTab();
        manager->setScanner(makeScanner({}, {0x6204, 0, "%s%n", 100, 105}));
        QCOMPARE(output.lines("Scanner info: "), before + 1);
        QVERIFY(output.text().find("Scanner info: master 0x6204, sub 0, name \"%s%n\", driver 100, firmware 105\n") !=
                std::string::npos);
        settings->setScanQuality(VekScanQuality::speed);
        QCOMPARE(output.lines("Scanner info: "), before + 2);
        QCOMPARE(tab->scannerInfoView()->text(), QStringLiteral("Velquor K5200 / Driver: V1.00 / Firmware: V1.05"));
    }

    void scannerTabSnapshots()
    {
        StdoutCapture output;
        AppSettingsView none(*settings, *manager, confirm);
        none.setSelectedSettingsTab(SettingsTab::scanner);
        none.show();
        saveSnapshot(&none, QStringLiteral("prefs-scanner-none"));

        manager->setScanner(makeScanner());
        AppSettingsView view(*settings, *manager, confirm);
        view.setSelectedSettingsTab(SettingsTab::scanner);
        view.show();
        QCOMPARE(view.size(), QSize(532, 332));
        saveSnapshot(&view, QStringLiteral("prefs-scanner"));
        // Everything lies within the tab, and no caption is cut.
        AppSettingsScannerTabView* tab = view.scannerTab();
        const QRect inside = tab->rect();
        for (QWidget* widget : tab->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(tab)) continue;
            const QRect area(widget->mapTo(tab, QPoint(0, 0)), widget->size());
            QVERIFY2(inside.contains(area), qPrintable(widget->objectName()));
            if (auto* label = qobject_cast<QLabel*>(widget); label && label->objectName() == "caption")
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        }
    }

    void imageTabReadsAndWritesItsKeys()
    {
        {
            auto values = store();
            AppSettingsImageTabView tab(*values);
            QVERIFY(tab.findChild<QCheckBox*>(QStringLiteral("nativeRGBMatchingCheck"))->isChecked());
            QCheckBox* embed = tab.findChild<QCheckBox*>(QStringLiteral("embedICCProfileCheck"));
            QVERIFY(embed->isChecked());
            auto* profile = tab.findChild<QComboBox*>(QStringLiteral("selectedProfileCombo"));
            QCOMPARE(profile->currentText(), QStringLiteral("Adobe RGB(1998)"));
            showForSnapshot(&tab, 500);
            saveSnapshot(&tab, QStringLiteral("prefs-image-tab"));

            embed->click();
            QCOMPARE(QSettings(values->fileName(), QSettings::IniFormat).value("embedICCProfile").toString(),
                     QStringLiteral("false"));
            QVERIFY(profile->isEnabled());
            profile->showPopup();
            profile->view()->setCurrentIndex(profile->view()->model()->index(1, 0));
            QTest::keyClick(profile->view(), Qt::Key_Return);
            QCOMPARE(profile->currentText(), QStringLiteral("sRGB IEC61966-2-1"));
            QCOMPARE(QSettings(values->fileName(), QSettings::IniFormat).value("selectedProfile").toInt(), 1);
        }
        {
            // A new tab shows what was stored.
            auto values = store();
            AppSettingsImageTabView tab(*values);
            QVERIFY(!tab.embedICCProfile() && tab.nativeRGBMatching());
            QCOMPARE(tab.selectedProfile(), ICCProfile::sRGB);
            QVERIFY(!tab.findChild<QCheckBox*>(QStringLiteral("embedICCProfileCheck"))->isChecked());
            values->setValue("selectedProfile", 7);
            values->setValue("nativeRGBMatching", "maybe");
        }
        auto values = store();
        AppSettingsImageTabView tab(*values);
        QCOMPARE(tab.selectedProfile(), ICCProfile::adobeRGB);
        QVERIFY(tab.nativeRGBMatching());
        QCOMPARE(tab.findChild<QComboBox*>(QStringLiteral("selectedProfileCombo"))->currentText(),
                 QStringLiteral("Adobe RGB(1998)"));
    }

    void customPickerButtons()
    {
        QVERIFY(CustomSegmentedPicker({}, {}, 0).findChildren<QPushButton*>().isEmpty());
        for (int outside : {-1, 5}) {
            CustomSegmentedPicker picker({"A", "B", "C"}, {"hare", "tortoise", "microbe"}, outside);
            for (int i = 0; i < 3; i++) QCOMPARE(picker.fieldColor(i), ui::gray());
        }
        CustomSegmentedPicker picker({"Speed", "Quality", "Detail"}, {"hare", "tortoise", "microbe"}, 0);
        QSignalSpy chosen(&picker, &CustomSegmentedPicker::selectionChanged);
        QTest::mouseClick(picker.button(1), Qt::LeftButton);
        QCOMPARE(picker.selection(), 1);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE((QList<QColor>{picker.fieldColor(0), picker.fieldColor(1), picker.fieldColor(2)}),
                 (QList<QColor>{ui::gray(), ui::blue(), ui::gray()}));
        showForSnapshot(&picker, picker.sizeHint().width());
        saveSnapshot(&picker, QStringLiteral("custom-picker"));

        CustomSegmentedPicker shortIcons({"One", "Two"}, {"hare"}, 0);
        QVERIFY(shortIcons.button(0)->findChild<QLabel*>(QStringLiteral("icon")));
        QVERIFY(!shortIcons.button(1)->findChild<QLabel*>(QStringLiteral("icon")));
        QCOMPARE(shortIcons.button(1)->findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("Two"));
    }
};

LF_GUI_TEST_MAIN(PreferencesTest)
#include "test_preferences.moc"
