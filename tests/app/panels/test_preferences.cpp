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
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <limits>

using namespace lumenfield;

namespace {

class NoConfirm : public ClearCalibrationConfirm {
public:
    bool confirmClear(QWidget*) override { return false; }
    void showClearResult(QWidget*, bool, const QString&) override {}
};

std::shared_ptr<QuorvaneScanner> makeScanner(uint8_t shrink = 1, uint8_t smart = 1, ScannerRange range = {50, 200, 3},
                                             const SCANNERINFO& info = {0x6204, 0, "Fake Scanner", 100, 105})
{
    auto scanner = std::make_shared<QuorvaneScanner>();
    scanner->setInfo(info);
    ScannerCapabilities capabilities;
    capabilities.isSupportShrinkableExposureRatio = shrink;
    capabilities.isSupportSmartCalibration = smart;
    capabilities.shrinkableExposureRange = range;
    scanner->setCapabilities(capabilities);
    return scanner;
}

// The rows shown, by their letter.
QString shownRows(const AppSettingsScannerTabView& tab)
{
    QString letters;
    for (int i = 0; i < 4; i++)
        if (!tab.rows()[std::size_t(i)]->isHidden()) letters += QChar('A' + i);
    return letters;
}

QStringList segmentTexts(const SegmentedControl* control)
{
    QStringList texts;
    for (int i = 0; control && i < control->count(); i++) texts << control->button(i)->text();
    return texts;
}

} // namespace

class PreferencesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ScanManager> manager;
    NoConfirm confirm;
    QTemporaryDir stores;
    std::optional<StdoutCapture> output;

    std::unique_ptr<AppSettingsScannerTabView> scannerTab()
    {
        return std::make_unique<AppSettingsScannerTabView>(*settings, *manager, confirm);
    }
    std::unique_ptr<QSettings> store() const
    {
        return std::make_unique<QSettings>(stores.filePath(QStringLiteral("image.ini")), QSettings::IniFormat);
    }
    template <typename T> static T* child(const QWidget* widget, const char* name)
    {
        return widget->findChild<T*>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void init()
    {
        settings = std::make_unique<AppSettings>();
        manager = std::make_unique<ScanManager>();
        output.emplace();
    }
    void cleanup()
    {
        output.reset();
        manager.reset();
        settings.reset();
    }

    void windowTabsTitleAndSize()
    {
        for (int raw : {0, 1, 2}) QCOMPARE(fromRaw<SettingsTab>(raw), std::optional(SettingsTab(raw)));
        QVERIFY(!fromRaw<SettingsTab>(3) && !fromRaw<SettingsTab>(-1));

        QPointer<AppSettingsView> first = openAppSettingsWindow(*settings, *manager, confirm);
        QTabWidget* tabs = first->tabWidget();
        QCOMPARE((QStringList{tabs->tabText(0), tabs->tabText(1), first->windowTitle()}),
                 (QStringList{"General", "Scanner", "General"}));
        QCOMPARE(first->size(), QSize(532, 332));
        saveSnapshot(first, QStringLiteral("prefs-general"));
        tabs->setCurrentIndex(1); // as a click on the tab does
        QCOMPARE(first->selectedSettingsTab(), SettingsTab::scanner);
        QCOMPARE(first->windowTitle(), QStringLiteral("Scanner"));
        QCOMPARE(first->size(), QSize(532, 332));
        QSignalSpy selected(first.data(), &AppSettingsView::selectedSettingsTabChanged);
        first->setSelectedSettingsTab(SettingsTab::image);
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(selected.count(), 0);

        // Closing deletes the window; the next one starts on General.
        first->close();
        QTRY_VERIFY(first.isNull());
        std::unique_ptr<AppSettingsView> second(openAppSettingsWindow(*settings, *manager, confirm));
        QCOMPARE(second->selectedSettingsTab(), SettingsTab::general);
        QCOMPARE(second->windowTitle(), QStringLiteral("General"));
    }

    // The window opens over the middle of the main window, wherever that stands, and Escape and
    // Ctrl+W close it.
    void windowOpensOverTheMainWindowAndClosesByKey()
    {
        QWidget main;
        main.setGeometry(150, 100, 600, 450);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(QStringLiteral("Ctrl+W"))}) {
            QPointer<AppSettingsView> window = openAppSettingsWindow(*settings, *manager, confirm, &main);
            QVERIFY(QTest::qWaitForWindowExposed(window));
            const QPoint off = window->frameGeometry().center() - main.frameGeometry().center();
            // The margin of the frame, which the window system adds once the window shows.
            QVERIFY2(std::abs(off.x()) <= 4 && std::abs(off.y()) <= 4,
                     qPrintable(QStringLiteral("%1, %2 off the middle").arg(off.x()).arg(off.y())));
            // Its parent active counts for it too: wait until it is itself.
            window->activateWindow();
            QTRY_VERIFY(QApplication::activeWindow() == window);
            QTest::keySequence(window, key);
            QTRY_VERIFY(window.isNull());
        }
    }

    void generalOptionsWriteAtOnceAndFollowTheModel()
    {
        AppSettingsGeneralTabView tab(*settings);
        QCheckBox* boxes[] = {child<QCheckBox>(&tab, "openImageCheck"), child<QCheckBox>(&tab, "resetSuffixCheck")};
        QCOMPARE((QStringList{boxes[0]->text(), boxes[1]->text()}),
                 (QStringList{"Open the image or folder after scanning",
                              "Reset the suffix value of filename for a new day"}));
        QSignalSpy openChanges(settings.get(), &AppSettings::isOpenImageAfterScanChanged);
        QSignalSpy suffixChanges(settings.get(), &AppSettings::isResetSuffixForNewDayChanged);
        for (QCheckBox* box : boxes) box->click();
        QVERIFY(!settings->isOpenImageAfterScan() && !settings->isResetSuffixForNewDay());
        QCOMPARE(openChanges.count() + suffixChanges.count(), 2);
        // Model changes are shown without being written back.
        settings->setOpenImageAfterScan(true);
        settings->setResetSuffixForNewDay(true);
        QVERIFY(boxes[0]->isChecked() && boxes[1]->isChecked());
        QCOMPARE(openChanges.count() + suffixChanges.count(), 4);
        QVERIFY(QSettings().allKeys().isEmpty());
    }

    void rowsFollowTheScannerAndTheCalibrationMode()
    {
        auto tab = scannerTab();
        QCOMPARE(shownRows(*tab), QStringLiteral("B"));
        QVERIFY(!tab->scannerInfoView());
        manager->setScanner(makeScanner());
        QCOMPARE(shownRows(*tab), QStringLiteral("ABCD"));
        QVERIFY(tab->scannerInfoView());
        settings->setCalibrationMode(VekCalibrationMode::typical);
        QCOMPARE(shownRows(*tab), QStringLiteral("ABC"));
        settings->setCalibrationMode(VekCalibrationMode::smart);
        QCOMPARE(shownRows(*tab), QStringLiteral("ABCD"));
        manager->setScanner(makeScanner(1, 0));
        QCOMPARE(shownRows(*tab), QStringLiteral("AB"));
        manager->setScanner(makeScanner(2, 1));
        QCOMPARE(shownRows(*tab), QStringLiteral("BCD"));
        manager->setScanner(nullptr);
        QCOMPARE(shownRows(*tab), QStringLiteral("B"));
        QVERIFY(!tab->scannerInfoView());
    }

    void exposureSegmentsFollowTheRange()
    {
        auto tab = scannerTab();
        QCOMPARE(tab->exposureRatioLabel(2), QString());
        QCOMPARE(tab->exposureRatioValue(2), 100);
        manager->setScanner(makeScanner());
        QCOMPARE(segmentTexts(tab->exposureRatioSegmented()), (QStringList{"0.5", "1.0", "1.5", "2.0"}));
        QCOMPARE((QList<qint64>{tab->exposureRatioValue(1), tab->exposureRatioValue(4)}), (QList<qint64>{50, 200}));
        QCOMPARE(tab->exposureRatioSegmented()->currentTag(), std::optional<qint64>(100));

        // A step of 33 has no segment of 100: none is checked until the user picks one.
        manager->setScanner(makeScanner(1, 1, {0, 100, 3}));
        SegmentedControl* segments = tab->exposureRatioSegmented();
        QCOMPARE(segmentTexts(segments), (QStringList{"0.3", "0.7", "1.0", "1.3"}));
        QCOMPARE(tab->exposureRatioValue(4), 132);
        QVERIFY(!segments->currentTag());
        QSignalSpy changes(settings.get(), &AppSettings::changed);
        segments->button(1)->click();
        QCOMPARE(settings->exposureRatio(), 66);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(segments->currentTag(), std::optional<qint64>(66));

        // Ranges without a usable step: no row and no crash, "" and 100.
        const int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
        for (ScannerRange range : {ScannerRange{50, 200, 0},
                                   {50, 200, -1},
                                   {0, max, max},
                                   {200, 50, 3},
                                   {min, max, 3},
                                   {0, 40, 50},
                                   {0, max, 64}}) {
            manager->setScanner(makeScanner(1, 1, range));
            QCOMPARE(shownRows(*tab), QStringLiteral("BCD"));
            QCOMPARE(tab->exposureRatioLabel(1), QString());
            QCOMPARE(tab->exposureRatioValue(1), 100);
        }
        QCOMPARE(exposureRatioSegments(ScannerRange{0, 64 * 1000, 64}).size(), std::size_t(65));
    }

    void qualityAndCalibrationPickers()
    {
        manager->setScanner(makeScanner());
        settings->setScanQualityRawValue(3);
        auto tab = scannerTab();
        auto* quality = child<SegmentedControl>(tab.get(), "scanQualitySegmented");
        auto* calibration = child<SegmentedControl>(tab.get(), "calibrationModeSegmented");
        QCOMPARE(segmentTexts(quality) + segmentTexts(calibration),
                 (QStringList{"Speed", "Quality", "Smart", "Typical"}));
        QVERIFY(!quality->currentTag());
        quality->button(1)->click();
        calibration->button(1)->click();
        QCOMPARE((QList<qint64>{settings->scanQualityRawValue(), settings->calibrationModeRawValue()}),
                 (QList<qint64>{8, 1}));
        manager->setScanStatus(rawValue(VekScanStatus::reading));
        QVERIFY(calibration->isEnabled() && tab->isEnabled());
    }

    void identificationLine()
    {
        const auto line = [](SCANNERINFO info) { return ScannerInfoView(info).text(); };
        for (auto [master, sub, name] : {std::tuple{0x6204, 0, "Velquor K5200"},
                                         {0x6204, 2, "Tessaly K7700 Plus"},
                                         {0x6204, 1, "Quorvane Velquor"},
                                         {0x1234, 0, "Quorvane Velquor"}})
            QCOMPARE(line({uint16_t(master), uint8_t(sub), "x", 0, 0}), QString(name) + " / Driver: V0.00");
        QCOMPARE(ScannerInfoView::driverVersionText({0, 0, "", 123, 0}), QStringLiteral(" / Driver: V1.23"));
        for (auto [revision, text] : {std::pair{105, "1.05"}, {123, "1.23"}, {1, "0.01"}, {65535, "655.35"}})
            QCOMPARE(ScannerInfoView::firmwareVersionText({0, 0, "", 0, uint16_t(revision)}),
                     " / Firmware: V" + QString(text));
        QCOMPARE(line({0x6204, 0, "x", 123, 105}), QStringLiteral("Velquor K5200 / Driver: V1.23 / Firmware: V1.05"));

        // One trace line per rebuild; the device's name is data, not a format.
        const int before = output->lines("Scanner info: ");
        auto tab = scannerTab();
        manager->setScanner(makeScanner(1, 1, {50, 200, 3}, {0x6204, 0, "%s%n", 100, 105}));
        settings->setScanQuality(VekScanQuality::speed);
        QCOMPARE(output->lines("Scanner info: "), before + 2);
        QVERIFY(output->text().find("Scanner info: master 0x6204, sub 0, name \"%s%n\", driver 100, firmware 105\n") !=
                std::string::npos);
    }

    void scannerTabSnapshots()
    {
        AppSettingsView none(*settings, *manager, confirm);
        none.setSelectedSettingsTab(SettingsTab::scanner);
        none.show();
        saveSnapshot(&none, QStringLiteral("prefs-scanner-none"));
        manager->setScanner(makeScanner());
        AppSettingsView view(*settings, *manager, confirm);
        view.setSelectedSettingsTab(SettingsTab::scanner);
        view.show();
        saveSnapshot(&view, QStringLiteral("prefs-scanner"));
        QCOMPARE(view.scannerTab()->scannerInfoView()->text(),
                 QStringLiteral("Velquor K5200 / Driver: V1.00 / Firmware: V1.05"));
        // Everything lies within the tab, and no caption is cut.
        AppSettingsScannerTabView* tab = view.scannerTab();
        for (QWidget* widget : tab->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(tab)) continue;
            QVERIFY2(tab->rect().contains(QRect(widget->mapTo(tab, QPoint()), widget->size())),
                     qPrintable(widget->objectName()));
            if (widget->objectName() == "caption") QVERIFY(widget->width() >= widget->sizeHint().width());
        }
    }

    void imageTabReadsAndWritesItsKeys()
    {
        const auto stored = [this](const char* key) {
            return QSettings(store()->fileName(), QSettings::IniFormat).value(key);
        };
        {
            auto values = store();
            AppSettingsImageTabView tab(*values);
            QVERIFY(child<QCheckBox>(&tab, "nativeRGBMatchingCheck")->isChecked());
            auto* embed = child<QCheckBox>(&tab, "embedICCProfileCheck");
            auto* profile = child<QComboBox>(&tab, "selectedProfileCombo");
            QVERIFY(embed->isChecked());
            QCOMPARE(profile->currentText(), QStringLiteral("Adobe RGB(1998)"));
            showForSnapshot(&tab, 500);
            saveSnapshot(&tab, QStringLiteral("prefs-image-tab"));
            embed->click();
            QCOMPARE(stored("embedICCProfile").toString(), QStringLiteral("false"));
            QVERIFY(profile->isEnabled());
            profile->showPopup();
            profile->view()->setCurrentIndex(profile->view()->model()->index(1, 0));
            QTest::keyClick(profile->view(), Qt::Key_Return);
            QCOMPARE(stored("selectedProfile").toInt(), 1);
        }
        {
            auto values = store();
            AppSettingsImageTabView tab(*values);
            QVERIFY(!child<QCheckBox>(&tab, "embedICCProfileCheck")->isChecked());
            QCOMPARE(child<QComboBox>(&tab, "selectedProfileCombo")->currentText(),
                     QStringLiteral("sRGB IEC61966-2-1"));
            values->setValue("selectedProfile", 7);
            values->setValue("nativeRGBMatching", "maybe");
        }
        auto values = store();
        AppSettingsImageTabView tab(*values);
        QVERIFY(tab.selectedProfile() == ICCProfile::adobeRGB && tab.nativeRGBMatching() && !tab.embedICCProfile());
    }

    void customPickerButtons()
    {
        QVERIFY(CustomSegmentedPicker({}, {}, 0).findChildren<QPushButton*>().isEmpty());
        const QStringList icons = {"hare", "tortoise", "microbe"};
        for (int outside : {-1, 5}) {
            CustomSegmentedPicker picker({"A", "B", "C"}, icons, outside);
            QVERIFY(picker.fieldColor(0) == ui::gray() && picker.fieldColor(1) == ui::gray() &&
                    picker.fieldColor(2) == ui::gray());
        }
        CustomSegmentedPicker picker({"Speed", "Quality", "Detail"}, icons, 0);
        QSignalSpy chosen(&picker, &CustomSegmentedPicker::selectionChanged);
        QTest::mouseClick(picker.button(1), Qt::LeftButton);
        QCOMPARE(picker.selection(), 1);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE((QList<QColor>{picker.fieldColor(0), picker.fieldColor(1), picker.fieldColor(2)}),
                 (QList<QColor>{ui::gray(), ui::blue(), ui::gray()}));
        showForSnapshot(&picker, picker.sizeHint().width());
        saveSnapshot(&picker, QStringLiteral("custom-picker"));

        CustomSegmentedPicker shortIcons({"One", "Two"}, {"hare"}, 0);
        QVERIFY(child<QWidget>(shortIcons.button(0), "icon") && !child<QWidget>(shortIcons.button(1), "icon"));
        QCOMPARE(child<QLabel>(shortIcons.button(1), "title")->text(), QStringLiteral("Two"));
    }
};

LF_GUI_TEST_MAIN(PreferencesTest)
#include "test_preferences.moc"
