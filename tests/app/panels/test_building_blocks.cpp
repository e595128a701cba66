// The shared pieces of the panels: slider and toggle rows bound to a settings object, the
// segmented control, the panel frame with its Reset button, symbol icons.
#include "group_box.h"
#include "gui_test.h"
#include "image_settings.h"
#include "panel_style.h"
#include "segmented_control.h"
#include "slider_view.h"
#include "symbol_icon.h"
#include "toggle_view.h"

#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <functional>

using namespace lumenfield;

namespace {

PropertyBinding<double> exposureOf(ImageSettings& settings)
{
    return bindProperty(settings, &ImageSettings::exposure, &ImageSettings::setExposure,
                        &ImageSettings::exposureChanged);
}

PropertyBinding<bool> invertOf(ImageSettings& settings)
{
    return bindProperty(settings, &ImageSettings::invert, &ImageSettings::setInvert, &ImageSettings::invertChanged);
}

QString labelText(const QWidget* view, const char* name)
{
    return view->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

const QString arrow = QStringLiteral("arrow.counterclockwise");

// What a button shows in `image`, within `area` less its border: the fill (its most frequent colour)
// and the ink on it (the colour farthest in contrast from the fill).
struct Face {
    QColor fill;
    QColor ink;
};

Face faceOf(const QImage& image, const QRect& area)
{
    const qreal ratio = image.devicePixelRatio();
    const QRect inside = QRect((QRectF(area).topLeft() * ratio).toPoint(), (QSizeF(area.size()) * ratio).toSize())
                             .adjusted(3, 3, -3, -3);
    QHash<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); y++)
        for (int x = inside.left(); x <= inside.right(); x++) counts[image.pixel(x, y)]++;
    Face face;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() <= most) continue;
        most = it.value();
        face.fill = QColor(it.key());
    }
    double farthest = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double contrast = ui::contrastRatio(QColor(it.key()), face.fill);
        if (contrast <= farthest) continue;
        farthest = contrast;
        face.ink = QColor(it.key());
    }
    return face;
}

} // namespace

class BuildingBlocksTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sliderShowsItsValueAndTheUsersMoves()
    {
        ImageSettings settings;
        SliderView view(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1);
        QCOMPARE((QStringList{labelText(&view, "caption"), labelText(&view, "badge"), labelText(&view, "minimum"),
                              labelText(&view, "maximum")}),
                 (QStringList{"Exposure:", "0.0", "-2.0", "2.0"}));
        QCOMPARE(formatOneDecimal(-0.04), QStringLiteral("-0.0"));

        // A drag from the handle (at 0.0, the middle) to the right ends between the steps.
        showForSnapshot(&view);
        QSlider* slider = view.slider();
        const QPoint middle(slider->width() / 2, slider->height() / 2);
        QTest::mousePress(slider, Qt::LeftButton, {}, middle);
        QTest::mouseMove(slider, middle + QPoint(37, 0));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, middle + QPoint(37, 0));
        const double dragged = settings.exposure();
        QVERIFY(dragged > 0.1 && dragged < 2.0);
        QVERIFY(std::abs(dragged * 10 - std::round(dragged * 10)) > 1e-6);
        QCOMPARE(labelText(&view, "badge"), formatOneDecimal(dragged));
        slider->setValue(5925); // a key press or a drag to the position of 0.37
        QVERIFY(std::abs(settings.exposure() - 0.37) < 1e-12);
        QCOMPARE(labelText(&view, "badge"), QStringLiteral("0.4"));
    }

    // Offered far more height than it needs, the row keeps the badge at its line and padding and
    // centres it beside the caption.
    // An arrow press or a wheel notch moves the shown value by its last digit, PageUp and PageDown
    // by ten of those, from what the badge shows and never past an end; a click beside the handle
    // pages as PageUp does. The model still takes the values between that a drag leaves.
    void keysAndWheelStepByTheShownDigit()
    {
        ImageSettings settings;
        SliderView exposure(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1);
        SliderView threshold(bindProperty(settings, &ImageSettings::threshold, &ImageSettings::setThreshold,
                                          &ImageSettings::thresholdChanged),
                             QStringLiteral("Threshold"), 0.2, 0.8, 0.1);
        const auto key = [](SliderView& row, Qt::Key pressed) {
            return [&row, pressed] { QTest::keyClick(row.slider(), pressed); };
        };
        const auto wheel = [](SliderView& row, QPoint turned) {
            return [&row, turned] {
                const QPointF at = row.slider()->rect().center();
                QWheelEvent event(at, row.slider()->mapToGlobal(at), QPoint(), turned, Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(row.slider(), &event);
            };
        };
        const auto set = [&](double value) { return [&settings, value] { settings.setExposure(value); }; };
        const struct {
            std::function<void()> act;
            SliderView& row;
            const char* badge;
            double value;
        } steps[] = {
            {key(exposure, Qt::Key_Right), exposure, "0.1", 0.1},
            {key(exposure, Qt::Key_Up), exposure, "0.2", 0.2},
            {key(exposure, Qt::Key_PageUp), exposure, "1.2", 1.2},
            {key(exposure, Qt::Key_PageUp), exposure, "2.0", 2.0},
            {key(exposure, Qt::Key_Right), exposure, "2.0", 2.0},
            {key(exposure, Qt::Key_PageDown), exposure, "1.0", 1.0},
            {key(exposure, Qt::Key_Left), exposure, "0.9", 0.9},
            {key(exposure, Qt::Key_Down), exposure, "0.8", 0.8},
            {wheel(exposure, QPoint(0, 120)), exposure, "0.9", 0.9},
            {wheel(exposure, QPoint(0, -240)), exposure, "0.7", 0.7},
            {wheel(exposure, QPoint(-120, 0)), exposure, "0.8", 0.8}, // scrolled to the right
            {wheel(exposure, QPoint(0, 60)), exposure, "0.8", 0.8},   // half a notch of a fine wheel
            {wheel(exposure, QPoint(0, 60)), exposure, "0.9", 0.9},   // and the other half
            {set(0.37), exposure, "0.4", 0.37},                       // as a drag leaves it
            {key(exposure, Qt::Key_Right), exposure, "0.5", 0.5},
            {set(0.25), exposure, "0.2", 0.25},
            {key(exposure, Qt::Key_Right), exposure, "0.3", 0.3},
            {set(5.0), exposure, "5.0", 5.0}, // stored beyond the end: only back towards the range
            {key(exposure, Qt::Key_Up), exposure, "5.0", 5.0},
            {key(exposure, Qt::Key_Down), exposure, "1.9", 1.9},
            {key(threshold, Qt::Key_Right), threshold, "0.6", 0.6},
            {key(threshold, Qt::Key_PageUp), threshold, "0.8", 0.8},
            {key(threshold, Qt::Key_PageDown), threshold, "0.2", 0.2},
            {wheel(threshold, QPoint(0, 120)), threshold, "0.3", 0.3},
        };
        int index = 0;
        for (const auto& step : steps) {
            step.act();
            const QString where = QStringLiteral("step %1").arg(index++);
            QVERIFY2(step.row.badge()->text() == QLatin1String(step.badge),
                     qPrintable(where + QStringLiteral(": badge ") + step.row.badge()->text()));
            const double value = &step.row == &exposure ? settings.exposure() : settings.threshold();
            QVERIFY2(value == step.value, qPrintable(where + QStringLiteral(": value %1").arg(value, 0, 'g', 17)));
        }

        // A click beside the handle pages.
        showForSnapshot(&exposure);
        settings.setExposure(0.0);
        QSlider* slider = exposure.slider();
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 3, slider->height() / 2));
        QVERIFY2(std::abs(settings.exposure() - 1.0) < 1e-3, qPrintable(QString::number(settings.exposure())));
    }

    void sliderBadgeKeepsItsHeight()
    {
        ImageSettings settings;
        SliderView view(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1);
        view.resize(400, 120);
        view.show();
        QCoreApplication::processEvents();
        QLabel* badge = view.badge();
        QCOMPARE(badge->height(), QFontMetrics(badge->font()).height() + 2 * 3);
        QCOMPARE(badge->width(), 50);
        const QWidget* caption = view.findChild<QLabel*>(QStringLiteral("caption"));
        QCOMPARE(badge->geometry().center().y(), caption->geometry().center().y());
        QVERIFY(view.sizeHint().height() < 120);
    }

    void modelChangesAreShownWithoutWritingBack()
    {
        ImageSettings settings;
        SliderView view(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1);
        settings.setExposure(-1.0);
        QCOMPARE(view.slider()->value(), SliderView::positions / 4);
        QSignalSpy changes(&settings, &ImageSettings::exposureChanged);
        // Beyond the range: the handle at the end, the value kept, also by a second row on it.
        settings.setExposure(5.0);
        SliderView again(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1);
        QCoreApplication::processEvents();
        QCOMPARE(labelText(&view, "badge"), QStringLiteral("5.0"));
        QCOMPARE(view.slider()->value(), SliderView::positions);
        QCOMPARE(settings.exposure(), 5.0);
        QCOMPARE(changes.size(), 1);
    }

    void segmentedControl()
    {
        SegmentedControl control;
        control.addItem(QStringLiteral("in"), 10);
        control.addItem(QStringLiteral("cm"), 20);
        QSignalSpy activated(&control, &SegmentedControl::activated);
        control.setCurrentTag(20);
        QCOMPARE(control.currentTag(), std::optional<qint64>(20));
        control.setCurrentTag(99);
        QCOMPARE(control.currentTag(), std::nullopt);
        QVERIFY(!control.button(0)->isChecked() && !control.button(1)->isChecked());
        QCOMPARE(activated.size(), 0);

        control.show();
        for (int index : {0, 0, 1}) QTest::mouseClick(control.button(index), Qt::LeftButton);
        QCOMPARE(activated.size(), 3);
        QCOMPARE((QList<qint64>{activated[0][0].toLongLong(), activated[2][0].toLongLong()}), (QList<qint64>{10, 20}));
        QCOMPARE(control.currentTag(), std::optional<qint64>(20));

        // The chosen segment stands out as measured on screen: its fill against the others', and its
        // text on that fill, also while the control is disabled.
        control.addItem(QStringLiteral("mm"), 30);
        showForSnapshot(&control, 240);
        for (const bool enabled : {true, false}) {
            control.setEnabled(enabled);
            const QImage image = control.grab().toImage();
            const Face chosen = faceOf(image, control.button(1)->geometry());
            const QString what = QStringLiteral("%1: chosen %2 on %3")
                                     .arg(enabled ? "enabled" : "disabled", chosen.ink.name(), chosen.fill.name());
            QVERIFY2(ui::contrastRatio(chosen.ink, chosen.fill) >= 4.5, qPrintable(what));
            for (const int other : {0, 2}) {
                const Face face = faceOf(image, control.button(other)->geometry());
                QVERIFY2(ui::contrastRatio(chosen.fill, face.fill) >= 3.0,
                         qPrintable(what + QStringLiteral(", other on ") + face.fill.name()));
            }
            saveSnapshot(&control,
                         enabled ? QStringLiteral("blocks-segmented") : QStringLiteral("blocks-segmented-off"));
        }
    }

    void resetButtonAndGroupBox()
    {
        int resets = 0;
        std::unique_ptr<GroupBox> box(makeGroupBox(new QLabel(QStringLiteral("content")),
                                                   makePanelLabel(
                                                       QStringLiteral("Output Settings:"), [&] { resets++; }, false)));
        auto* reset = box->findChild<QToolButton*>(QStringLiteral("resetButton"));
        QCOMPARE(reset->text(), QStringLiteral("Reset"));
        QVERIFY(!reset->icon().isNull());
        showForSnapshot(box.get());
        QTest::mouseClick(reset, Qt::LeftButton);
        QCOMPARE(resets, 1);
        box->setEnabled(false);
        QVERIFY(!reset->isEnabled());
        QTest::mouseClick(reset, Qt::LeftButton);
        QCOMPARE(resets, 1);
    }

    void toggleViewFollowsItsProperty()
    {
        ImageSettings settings;
        for (const std::optional<QString>& symbol : {std::optional<QString>(), std::optional<QString>(arrow)}) {
            ToggleView toggle(invertOf(settings), QStringLiteral("Invert"), symbol);
            QCOMPARE(toggle.icon().isNull(), !symbol.has_value());
            QCOMPARE(toggle.isChecked(), settings.invert());
            const bool before = settings.invert();
            toggle.show();
            QTest::mouseClick(&toggle, Qt::LeftButton);
            QCOMPARE(settings.invert(), !before);
            settings.setInvert(before);
            QCOMPARE(toggle.isChecked(), before);
        }
    }

    void symbolsAreTinted()
    {
        const QImage image = symbolIcon(arrow, ui::red(), 16).pixmap(16, 16).toImage();
        int drawn = 0;
        for (int y = 0; y < 16; y++) {
            for (int x = 0; x < 16; x++) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() < 128) continue;
                QVERIFY(pixel.red() >= 0xF0 && pixel.green() <= 0x50 && pixel.blue() <= 0x40);
                drawn++;
            }
        }
        QVERIFY(drawn > 20 && drawn < 16 * 16 / 2);
        QVERIFY(symbolIcon(QStringLiteral("no.such.symbol"), Qt::black, 16).isNull());
    }

    void snapshots()
    {
        ImageSettings settings;
        settings.setSharpeness(5.0);
        QWidget sliders;
        auto* rows = new QVBoxLayout(&sliders);
        rows->addWidget(new SliderView(exposureOf(settings), QStringLiteral("Exposure:"), -2.0, 2.0, 0.1));
        rows->addWidget(new SliderView(bindProperty(settings, &ImageSettings::contrast, &ImageSettings::setContrast,
                                                    &ImageSettings::contrastChanged),
                                       QStringLiteral("Contrast:"), 0.5, 1.5, 0.1));
        rows->addWidget(new SliderView(bindProperty(settings, &ImageSettings::sharpeness, &ImageSettings::setSharpeness,
                                                    &ImageSettings::sharpenessChanged),
                                       QStringLiteral("Sharpness"), -2.0, 2.0, 0.1));
        showForSnapshot(&sliders);
        QVERIFY(!saveSnapshot(&sliders, QStringLiteral("blocks-sliders")).isEmpty());

        ImageSettings on;
        on.setInvert(true);
        QWidget toggles;
        auto* column = new QVBoxLayout(&toggles);
        for (ImageSettings* model : {&settings, &on}) {
            column->addWidget(new ToggleView(invertOf(*model), QStringLiteral("Invert")));
            column->addWidget(new ToggleView(invertOf(*model), QStringLiteral("Invert"), arrow));
        }
        showForSnapshot(&toggles);
        QVERIFY(!saveSnapshot(&toggles, QStringLiteral("blocks-toggles")).isEmpty());
    }
};

LF_GUI_TEST_MAIN(BuildingBlocksTest)
#include "test_building_blocks.moc"
