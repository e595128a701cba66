// The image settings panel: which rows show for each colour type, method and mode, the user's
// clicks, load, save and reset through the panel, and the busy rule.
#include "group_box.h"
#include "gui_test.h"
#include "image_settings.h"
#include "image_settings_view.h"
#include "panel_test.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "segmented_control.h"
#include "slider_view.h"

#include <QFontMetrics>
#include <QSlider>
#include <QToolButton>

#include <tuple>

using namespace lumenfield;

namespace {

auto tied(const ImageSettings::Values& v)
{
    return std::tie(v.exposure, v.brightness, v.contrast, v.saturation, v.hue, v.sharpeness, v.grayMode, v.bwMode,
                    v.threshold, v.adjustmentMethod, v.invert, v.experiment, v.contrastStretch);
}

struct Panel {
    ImageSettings settings;
    ScanSettings scan;
    ScanManager manager;
    ImageSettingsView view{settings, scan, manager};

    template <typename T = QWidget> T* control(const char* name) const
    {
        return view.findChild<T*>(QString::fromLatin1(name));
    }
    SegmentedControl* segmented(const char* name) const { return control<SegmentedControl>(name); }
    // One text of each visible slider row: "badge", "minimum" or "maximum".
    QStringList sliderTexts(const char* part) const
    {
        QStringList texts;
        for (const SliderView* slider : view.findChildren<SliderView*>())
            if (slider->isVisibleTo(&view)) texts << slider->findChild<QLabel*>(QString::fromLatin1(part))->text();
        return texts;
    }
};

} // namespace

class ImageSettingsViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Panel> p;
    FreshStores stores;

private Q_SLOTS:
    void init() { p = std::make_unique<Panel>(); }
    void cleanup() { p.reset(); }

    void rowsFollowColourTypeMethodAndMode()
    {
        QCOMPARE(visibleCaptions(&p->view),
                 (QStringList{"Adjustment :", "Exposure:", "Contrast:", "Saturation:", "Hue:", "Sharpness"}));
        QCOMPARE(p->sliderTexts("minimum"), (QStringList{"-2.0", "0.5", "0.0", "-1.0", "-2.0"}));
        QCOMPARE(p->sliderTexts("maximum"), (QStringList{"2.0", "1.5", "2.0", "1.0", "2.0"}));
        QCOMPARE(p->segmented("adjustmentSegmented")->currentTag(), std::optional<qint64>(0));
        p->scan.setColorType(VekColorType::gray);
        QCOMPARE(visibleCaptions(&p->view), (QStringList{"Adjustment :", "Exposure:", "Contrast:", "Sharpness"}));

        p->scan.setColorType(VekColorType::blackAndWhite);
        QCOMPARE(visibleCaptions(&p->view), QStringList{"B&W Mode:"});
        QCOMPARE(p->segmented("bwModeSegmented")->currentTag(), std::optional<qint64>(1));
        p->settings.setBwMode(BWMode::manual);
        QCOMPARE(visibleCaptions(&p->view), (QStringList{"B&W Mode:", "Threshold"}));
        QCOMPARE(p->sliderTexts("minimum") + p->sliderTexts("maximum"), (QStringList{"0.2", "0.8"}));

        // Showing and hiding rows changes no value.
        p->settings.setThreshold(0.7);
        const ImageSettings::Values before = p->settings.values();
        p->scan.setColorType(VekColorType::color);
        p->scan.setColorType(VekColorType::blackAndWhite);
        QVERIFY(tied(p->settings.values()) == tied(before));
        QCOMPARE(p->sliderTexts("badge"), QStringList{"0.7"});

        p->scan.setColorType(VekColorType::color);
        const std::pair<AdjustmentMethod, const char*> descriptions[] = {
            {AdjustmentMethod::photo,
             "Automatic photo processing optimizes exposure, contrast, and color based on image content. No manual "
             "adjustment is needed. Recommended for most photo scenarios."},
            {AdjustmentMethod::doc,
             "Document mode enhances clarity and sharpness for scanned documents, making text and lines more "
             "distinct. Ideal for receipts, contracts, and printed pages."},
            {AdjustmentMethod::raw,
             "Raw mode does not apply any image processing; it provides the native scanned image exactly as "
             "captured by the scanner. Choose this mode if you need the untouched original for custom workflows "
             "or advanced editing."}};
        for (const auto& [method, text] : descriptions) {
            p->settings.setAdjustmentMethod(method);
            QCOMPARE(p->control<QLabel>("methodDescription")->text(), QString::fromLatin1(text));
            QVERIFY(p->control("methodDescription")->isVisibleTo(&p->view));
            QVERIFY(p->control("methodIcon")->isVisibleTo(&p->view));
            QVERIFY(!p->control<QLabel>("methodIcon")->pixmap().isNull());
            QCOMPARE(visibleCaptions(&p->view), QStringList{"Adjustment :"});
        }
    }

    void clicksWriteTheModel()
    {
        // Every slider of the panel steps by the last digit its badge shows, 0.1.
        QStringList before;
        QStringList after;
        for (SliderView* slider : p->view.findChildren<SliderView*>()) {
            before << formatOneDecimal(slider->badge()->text().toDouble() + 0.1);
            QTest::keyClick(slider->slider(), Qt::Key_Right);
            after << slider->badge()->text();
        }
        QCOMPARE(after.size(), 6);
        QCOMPARE(after, before);
        QCOMPARE(p->settings.exposure(), 0.1);
        QCOMPARE(p->settings.threshold(), 0.6);
        QTest::mouseClick(p->segmented("adjustmentSegmented")->button(1), Qt::LeftButton);
        QCOMPARE(p->settings.adjustmentMethod(), AdjustmentMethod::photo);
        p->scan.setColorType(VekColorType::blackAndWhite);
        QTest::mouseClick(p->segmented("bwModeSegmented")->button(0), Qt::LeftButton);
        QCOMPARE(p->settings.bwMode(), BWMode::manual);
        QTest::mouseClick(p->segmented("bwModeSegmented")->button(1), Qt::LeftButton);
        QCOMPARE(p->settings.bwMode(), BWMode::automatic);
    }

    void loadsKeepWhatTheStoreCannotGive()
    {
        p->view.loadImageSettings(*stores.make());
        const ImageSettings::Values defaults{
            0.0,   0.0,   1.0,  1.0, 0.0, 0.0, GrayMode::noir, BWMode::automatic, 0.5, AdjustmentMethod::manual,
            false, false, false};
        QVERIFY(tied(p->settings.values()) == tied(defaults));

        // Unknown cases keep the values, and so does a number beyond its slider's range; a number
        // within it is taken and shown.
        p->settings.setAdjustmentMethod(AdjustmentMethod::doc);
        p->settings.setBwMode(BWMode::manual);
        p->view.loadImageSettings(*stores.make("adjustmentMethod=7\nbwMode=5\nexposure=5.0\ncontrast=1.5\n"));
        QCOMPARE(p->settings.adjustmentMethod(), AdjustmentMethod::doc);
        QCOMPARE(p->settings.bwMode(), BWMode::manual);
        p->settings.setAdjustmentMethod(AdjustmentMethod::manual);
        QCOMPARE(p->settings.exposure(), 0.0);
        QCOMPARE(p->settings.contrast(), 1.5);
        QCOMPARE(p->sliderTexts("badge").value(0), QStringLiteral("0.0"));
        QCOMPARE(p->sliderTexts("badge").value(1), QStringLiteral("1.5"));
    }

    void resetAndSave()
    {
        p->settings.setAdjustmentMethod(AdjustmentMethod::photo);
        p->settings.setExposure(1.2);
        p->settings.setSaturation(0.3);
        p->settings.setThreshold(0.8);
        p->settings.setInvert(true);
        auto store = stores.make();
        p->view.saveImageSettings(*store);
        store->sync();
        const QByteArray before = fileBytes(store->fileName());

        QTest::mouseClick(p->control<QToolButton>("resetButton"), Qt::LeftButton);
        QCOMPARE(p->settings.adjustmentMethod(), AdjustmentMethod::manual);
        QCOMPARE(p->settings.threshold(), 0.5);
        QVERIFY(p->settings.invert());
        QCOMPARE(p->sliderTexts("badge"), (QStringList{"0.0", "1.0", "1.0", "0.0", "0.0"}));
        store->sync();
        QCOMPARE(fileBytes(store->fileName()), before);

        // Every save writes all ten keys.
        store->clear();
        p->view.saveImageSettings(*store);
        QStringList keys = store->allKeys();
        keys.sort();
        QCOMPARE(keys,
                 (QStringList{"adjustmentMethod", "brightness", "bwMode", "contrast", "exposure", "grayMode", "hue",
                              "saturation", "sharpeness", "threshold"}));
    }

    void busyDisablesEveryControl()
    {
        p->scan.setColorType(VekColorType::blackAndWhite);
        p->settings.setBwMode(BWMode::manual);
        for (qint64 status : {1, 2, 3, 4, 0, 5, 7}) {
            p->manager.setScanStatus(status);
            const bool expected = !(status >= 1 && status <= 4);
            for (const char* name : {"bwModeSegmented", "adjustmentSegmented", "resetButton"})
                QCOMPARE(p->control(name)->isEnabled(), expected);
            for (const SliderView* slider : p->view.findChildren<SliderView*>())
                QCOMPARE(slider->slider()->isEnabled(), expected);
        }
    }

    // In a column far taller than the panel, the panel is as tall as it asks to be whichever rows
    // show, sits at the top, and each of its rows and badges keeps its own height.
    void keepsItsNaturalHeightInATallColumn()
    {
        TallColumn column(&p->view);
        const struct {
            VekColorType colorType;
            AdjustmentMethod method;
            BWMode mode;
            int sliders;
        } cases[] = {{VekColorType::color, AdjustmentMethod::manual, BWMode::automatic, 5},
                     {VekColorType::gray, AdjustmentMethod::manual, BWMode::automatic, 3},
                     {VekColorType::blackAndWhite, AdjustmentMethod::manual, BWMode::manual, 1},
                     {VekColorType::blackAndWhite, AdjustmentMethod::manual, BWMode::automatic, 0},
                     {VekColorType::color, AdjustmentMethod::photo, BWMode::automatic, 0},
                     {VekColorType::gray, AdjustmentMethod::raw, BWMode::automatic, 0},
                     {VekColorType::color, AdjustmentMethod::doc, BWMode::automatic, 0},
                     {VekColorType::color, AdjustmentMethod::manual, BWMode::automatic, 5}};
        for (const auto& c : cases) {
            p->scan.setColorType(c.colorType);
            p->settings.setAdjustmentMethod(c.method);
            p->settings.setBwMode(c.mode);
            settleLayouts();
            const QString what = QStringLiteral("colour type %1, method %2, mode %3")
                                     .arg(rawValue(c.colorType))
                                     .arg(rawValue(c.method))
                                     .arg(rawValue(c.mode));
            const QString mismatch = heightMismatch(&p->view, p->view.groupBox()->content());
            QVERIFY2(mismatch.isEmpty(), qPrintable(what + ": " + mismatch));
            int sliders = 0;
            for (SliderView* slider : p->view.findChildren<SliderView*>()) {
                if (!slider->isVisible()) continue;
                sliders++;
                QVERIFY2(slider->height() == naturalHeight(slider), qPrintable(what + ": " + slider->objectName()));
                // The value's line and 3 px above and below it.
                QVERIFY2(slider->badge()->height() == QFontMetrics(slider->badge()->font()).height() + 2 * 3,
                         qPrintable(what + QStringLiteral(": badge %1 high").arg(slider->badge()->height())));
            }
            QVERIFY2(sliders == c.sliders, qPrintable(what));
        }
    }

    void snapshots()
    {
        const auto snapshot = [&](const char* name) {
            showForSnapshot(&p->view);
            QVERIFY(!saveSnapshot(&p->view, QString::fromLatin1(name)).isEmpty());
        };
        snapshot("image-panel-color");
        p->scan.setColorType(VekColorType::gray);
        snapshot("image-panel-gray");
        p->scan.setColorType(VekColorType::blackAndWhite);
        p->settings.setBwMode(BWMode::manual);
        snapshot("image-panel-bw");
        p->scan.setColorType(VekColorType::color);
        p->settings.setAdjustmentMethod(AdjustmentMethod::raw);
        snapshot("image-panel-raw");
    }
};

LF_GUI_TEST_MAIN(ImageSettingsViewTest)
#include "test_image_settings_view.moc"
