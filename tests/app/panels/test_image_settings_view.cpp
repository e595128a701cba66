// The image settings panel: which rows show for each colour type, method and mode, the user's
// clicks, load, save and reset through the panel, and the busy rule.
#include "group_box.h"
#include "gui_test.h"
#include "image_settings.h"
#include "image_settings_view.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "segmented_control.h"
#include "slider_view.h"

#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>
#include <tuple>

namespace {

const QStringList colourCaptions = {"Adjustment :", "Exposure:", "Contrast:", "Saturation:", "Hue:", "Sharpness"};
const QStringList tenKeys = {"adjustmentMethod", "brightness", "bwMode",     "contrast",   "exposure",
                             "grayMode",         "hue",        "saturation", "sharpeness", "threshold"};

auto tied(const ImageSettings::Values& v)
{
    return std::tie(v.exposure, v.brightness, v.contrast, v.saturation, v.hue, v.sharpeness, v.grayMode, v.bwMode,
                    v.threshold, v.adjustmentMethod, v.invert, v.experiment, v.contrastStretch);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ImageSettingsViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ImageSettings> settings;
    std::unique_ptr<ScanSettings> scanSettings;
    std::unique_ptr<ScanManager> manager;
    std::unique_ptr<ImageSettingsView> view;
    QTemporaryDir stores;
    int storeCount = 0;

    // A store in a file no QSettings has opened before (they cache a file's contents per path).
    std::unique_ptr<QSettings> freshStore()
    {
        return std::make_unique<QSettings>(stores.filePath(QStringLiteral("image%1.ini").arg(++storeCount)),
                                           QSettings::IniFormat);
    }
    template <typename T = QWidget>
    T* control(const char* name) const
    {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    bool visible(const char* name) const { return control(name)->isVisibleTo(view.get()); }
    // The captions a user sees, top to bottom.
    QStringList visibleCaptions() const
    {
        QStringList texts;
        for (const QLabel* caption : view->findChildren<QLabel*>(QStringLiteral("caption")))
            if (caption->isVisibleTo(view.get())) texts << caption->text();
        return texts;
    }
    QStringList visibleSliderTexts(const char* part) const
    {
        QStringList texts;
        for (const SliderView* slider : view->findChildren<SliderView*>())
            if (slider->isVisibleTo(view.get()))
                texts << slider->findChild<QLabel*>(QString::fromLatin1(part))->text();
        return texts;
    }

private Q_SLOTS:
    void init()
    {
        settings = std::make_unique<ImageSettings>();
        scanSettings = std::make_unique<ScanSettings>();
        manager = std::make_unique<ScanManager>();
        view = std::make_unique<ImageSettingsView>(*settings, *scanSettings, *manager);
    }
    void cleanup()
    {
        view.reset();
        manager.reset();
        scanSettings.reset();
        settings.reset();
    }

    void rowsFollowColourTypeMethodAndMode()
    {
        QCOMPARE(visibleCaptions(), colourCaptions);
        QCOMPARE(visibleSliderTexts("minimum"), (QStringList{"-2.0", "0.5", "0.0", "-1.0", "-2.0"}));
        QCOMPARE(visibleSliderTexts("maximum"), (QStringList{"2.0", "1.5", "2.0", "1.0", "2.0"}));
        QCOMPARE(control<SegmentedControl>("adjustmentSegmented")->currentTag(), std::optional<qint64>(0));
        QVERIFY(!visible("descriptionRow"));

        scanSettings->setColorType(VekColorType::gray);
        QCOMPARE(visibleCaptions(), (QStringList{"Adjustment :", "Exposure:", "Contrast:", "Sharpness"}));

        scanSettings->setColorType(VekColorType::blackAndWhite);
        QCOMPARE(visibleCaptions(), QStringList{"B&W Mode:"});
        QCOMPARE(control<SegmentedControl>("bwModeSegmented")->currentTag(), std::optional<qint64>(1));
        settings->setBwMode(BWMode::manual);
        QCOMPARE(visibleCaptions(), (QStringList{"B&W Mode:", "Threshold"}));
        QCOMPARE(visibleSliderTexts("minimum"), QStringList{"0.2"});
        QCOMPARE(visibleSliderTexts("maximum"), QStringList{"0.8"});

        // Showing and hiding rows changes no value.
        settings->setThreshold(0.7);
        const ImageSettings::Values before = settings->values();
        scanSettings->setColorType(VekColorType::color);
        scanSettings->setColorType(VekColorType::blackAndWhite);
        QVERIFY(tied(settings->values()) == tied(before));
        QCOMPARE(view->findChild<SliderView*>("thresholdSlider")->badge()->text(), QStringLiteral("0.7"));

        scanSettings->setColorType(VekColorType::color);
        const QStringList texts = {
            "Automatic photo processing optimizes exposure, contrast, and color based on image content. No manual "
            "adjustment is needed. Recommended for most photo scenarios.",
            "Document mode enhances clarity and sharpness for scanned documents, making text and lines more "
            "distinct. Ideal for receipts, contracts, and printed pages.",
            "Raw mode does not apply any image processing; it provides the native scanned image exactly as captured "
            "by the scanner. Choose this mode if you need the untouched original for custom workflows or advanced "
            "editing."};
        const AdjustmentMethod methods[] = {AdjustmentMethod::photo, AdjustmentMethod::doc, AdjustmentMethod::raw};
        for (int i = 0; i < 3; i++) {
            settings->setAdjustmentMethod(methods[i]);
            QCOMPARE(control<QLabel>("methodDescription")->text(), texts[i]);
            QVERIFY(visible("methodDescription") && visible("methodIcon"));
            QVERIFY(!control<QLabel>("methodIcon")->pixmap().isNull());
            QCOMPARE(visibleCaptions(), QStringList{"Adjustment :"});
        }
    }

    void clicksWriteTheModel()
    {
        QTest::mouseClick(control<SegmentedControl>("adjustmentSegmented")->button(1), Qt::LeftButton);
        QCOMPARE(settings->adjustmentMethod(), AdjustmentMethod::photo);
        scanSettings->setColorType(VekColorType::blackAndWhite);
        auto* mode = control<SegmentedControl>("bwModeSegmented");
        QTest::mouseClick(mode->button(0), Qt::LeftButton);
        QCOMPARE(settings->bwMode(), BWMode::manual);
        QTest::mouseClick(mode->button(1), Qt::LeftButton);
        QCOMPARE(settings->bwMode(), BWMode::automatic);
    }

    void loadsKeepWhatTheStoreCannotGive()
    {
        // An empty store gives the defaults (method manual, exposure 0.0, contrast 1.0, saturation 1.0,
        // hue 0.0, sharpness 0.0, mode auto, threshold 0.5).
        view->loadImageSettings(*freshStore());
        const ImageSettings::Values defaults{0.0, 0.0, 1.0, 1.0, 0.0, 0.0, GrayMode::noir, BWMode::automatic,
                                             0.5, AdjustmentMethod::manual, false, false, false};
        QVERIFY(tied(settings->values()) == tied(defaults));

        // Unknown cases keep the values; a double out of the slider's range is taken as it is.
        settings->setAdjustmentMethod(AdjustmentMethod::doc);
        settings->setBwMode(BWMode::manual);
        auto store = freshStore();
        store->setValue("adjustmentMethod", 7);
        store->setValue("bwMode", 5);
        store->setValue("exposure", 5.0);
        view->loadImageSettings(*store);
        QCOMPARE(settings->adjustmentMethod(), AdjustmentMethod::doc);
        QCOMPARE(settings->bwMode(), BWMode::manual);
        settings->setAdjustmentMethod(AdjustmentMethod::manual);
        QCOMPARE(settings->exposure(), 5.0);
        auto* exposure = view->findChild<SliderView*>("exposureSlider");
        QCOMPARE(exposure->badge()->text(), QStringLiteral("5.0"));
        scanSettings->setColorType(VekColorType::gray); // a refresh
        QCOMPARE(settings->exposure(), 5.0);
        QCOMPARE(exposure->badge()->text(), QStringLiteral("5.0"));
    }

    void resetRestoresTheTenAndStoresNothing()
    {
        settings->setAdjustmentMethod(AdjustmentMethod::photo);
        settings->setExposure(1.2);
        settings->setSaturation(0.3);
        settings->setThreshold(0.8);
        settings->setInvert(true);
        auto store = freshStore();
        view->saveImageSettings(*store);
        store->sync();
        const QByteArray before = fileBytes(store->fileName());
        QVERIFY(!before.isEmpty());

        QTest::mouseClick(control<QToolButton>("resetButton"), Qt::LeftButton);
        QCOMPARE(settings->adjustmentMethod(), AdjustmentMethod::manual);
        QCOMPARE(settings->threshold(), 0.5);
        QVERIFY(settings->invert());
        QCOMPARE(visibleSliderTexts("badge"), (QStringList{"0.0", "1.0", "1.0", "0.0", "0.0"}));
        store->sync();
        QCOMPARE(fileBytes(store->fileName()), before);
    }

    void saveWritesAllTenKeys()
    {
        auto store = freshStore();
        view->saveImageSettings(*store);
        store->clear();
        QVERIFY(store->allKeys().isEmpty());
        view->saveImageSettings(*store);
        QStringList keys = store->allKeys();
        keys.sort();
        QCOMPARE(keys, tenKeys);
        QCOMPARE(store->value("sharpeness").toDouble(), 0.0);
    }

    void busyDisablesEveryControl()
    {
        scanSettings->setColorType(VekColorType::blackAndWhite);
        settings->setBwMode(BWMode::manual);
        const auto enabled = [&](bool expected) {
            for (const char* name : {"bwModeSegmented", "adjustmentSegmented", "resetButton"})
                QCOMPARE(control(name)->isEnabled(), expected);
            for (const SliderView* slider : view->findChildren<SliderView*>())
                QCOMPARE(slider->slider()->isEnabled(), expected);
        };
        for (qint64 status : {1, 2, 3, 4, 0, 5, 7}) {
            manager->setScanStatus(status);
            enabled(!(status >= 1 && status <= 4));
        }
    }

    void snapshots()
    {
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("image-panel-color")).isEmpty());
        scanSettings->setColorType(VekColorType::gray);
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("image-panel-gray")).isEmpty());
        scanSettings->setColorType(VekColorType::blackAndWhite);
        settings->setBwMode(BWMode::manual);
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("image-panel-bw")).isEmpty());
        scanSettings->setColorType(VekColorType::color);
        settings->setAdjustmentMethod(AdjustmentMethod::raw);
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("image-panel-raw")).isEmpty());
    }
};

LF_GUI_TEST_MAIN(ImageSettingsViewTest)
#include "test_image_settings_view.moc"
