// The scan settings panel with and without a scanner: its rows and lists, the user's choices and
// the reactions they run, load, save and reset, and the busy rule.
#include "gui_test.h"
#include "group_box.h"
#include "panel_test.h"
#include "property_update.h"
#include "scan_frame_picker.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scan_settings_view.h"
#include "segmented_control.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>
#include <tuple>

using namespace lumenfield;

namespace {

QStringList itemTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); i++) texts << combo->itemText(i);
    return texts;
}

// What each of the four rows shows first: its caption, or the text standing in for it.
QStringList rowTexts(const ScanSettingsView& view)
{
    QStringList texts;
    QLayout* rows = view.groupBox()->content()->layout();
    for (int i = 0; i < rows->count(); i++) {
        QWidget* row = rows->itemAt(i)->widget();
        auto* label = qobject_cast<QLabel*>(row);
        if (!label) label = row->findChild<QLabel*>(QStringLiteral("caption"));
        texts << (label ? label->text() : QString());
    }
    return texts;
}

void choose(QComboBox* combo, const QString& text)
{
    QVERIFY2(chooseComboItem(combo, text), qPrintable(text));
}

bool operator==(const ScanSettings::Values& a, const ScanSettings::Values& b)
{
    const auto tied = [](const ScanSettings::Values& v) {
        return std::tie(v.scanSource, v.colorType, v.resolution, v.scanFrameType, v.previewImageScale, v.previewRect);
    };
    return tied(a) == tied(b);
}

const QStringList noScannerRows = {"No Scanner Connected", "Color Type:", "No Scanner Connected",
                                   "No Scanner Connected"};

} // namespace

class ScanSettingsViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScanSettings> settings;
    std::unique_ptr<ScanManager> manager;
    std::unique_ptr<ScanSettingsView> view;
    QTemporaryDir stores;

    // A scanner of id 0x6204 (sub-model 0 lists up to 4800 dpi, 1 up to 1200), with both film sources,
    // a full area of 8.5 × 11.7 and a film unit of 1.5 × 9 inches.
    void connectScanner(uint8_t subModel = 0)
    {
        auto scanner = std::make_shared<QuorvaneScanner>();
        scanner->setInfo(SCANNERINFO{0x6204, subModel, "Fake Scanner", 100, 0x105});
        ScannerCapabilities capabilities;
        capabilities.sources = 0x0104;
        capabilities.fullScanRect = QRectF(0, 0, 8.5, 11.7);
        capabilities.filmFrameCap = ScannerFrameCap{4800, ScannerFrameLimits{0, 0, 7200, 43200}};
        scanner->setCapabilities(capabilities);
        manager->setScanner(scanner);
        manager->setScanStatus(rawValue(VekScanStatus::ready));
    }
    template <typename T = QComboBox> T* control(const char* name) const
    {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString readOut() const { return control<QLabel>("frameSizeLabel")->text(); }
    std::unique_ptr<QSettings> store(const QString& name)
    {
        return std::make_unique<QSettings>(stores.filePath(name), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init()
    {
        settings = std::make_unique<ScanSettings>();
        manager = std::make_unique<ScanManager>();
        view = std::make_unique<ScanSettingsView>(*settings, *manager);
    }
    void cleanup()
    {
        view.reset();
        manager.reset();
        settings.reset();
    }

    void rowsWithoutAndWithAScanner()
    {
        QCOMPARE(rowTexts(*view), noScannerRows);
        QCOMPARE(view->framePicker(), nullptr);
        QCOMPARE(itemTexts(control("colorTypeCombo")), (QStringList{"RGB Color", "Grayscale", "Black & White"}));
        QCOMPARE(control("colorTypeCombo")->currentText(), QStringLiteral("RGB Color"));

        connectScanner();
        QCOMPARE(rowTexts(*view), (QStringList{"Scan Source:", "Color Type:", "Resolution:", "Scan Frame:"}));
        QCOMPARE(itemTexts(control("scanSourceCombo")), (QStringList{"Reflective", "Positive", "Negative"}));
        QCOMPARE(itemTexts(control("resolutionCombo")),
                 (QStringList{"150 DPI", "300 DPI", "600 DPI", "1200 DPI", "2400 DPI", "4800 DPI"}));
        QCOMPARE(control("resolutionCombo")->currentText(), QStringLiteral("150 DPI"));
        QCOMPARE(
            itemTexts(control("frameTypeCombo")),
            (QStringList{"Customized", "Full Area", "Letter", "A4", "A5", "B5", "Portrait: 8 x 10", "Landscape: 10 x 8",
                         "Portrait: 6 x 8", "Landscape: 8 x 6", "Portrait: 5 x 7", "Landscape: 7 x 5",
                         "Portrait: 4 x 6", "Landscape: 6 x 4", "Portrait: 3 x 5", "Landscape: 5 x 3"}));
        QCOMPARE(control("frameTypeCombo")->currentText(), QStringLiteral("Customized"));
        QCOMPARE(readOut(), QStringLiteral("0.7 x 0.7"));
        // No caption is cut off in its column.
        for (const QLabel* caption : view->findChildren<QLabel*>(QStringLiteral("caption")))
            QVERIFY2(caption->fontMetrics().horizontalAdvance(caption->text()) <= caption->width(),
                     qPrintable(caption->text()));

        // The lists follow the scanner and the resolution.
        manager->scanner()->setInfo(SCANNERINFO{0x6204, 1, {}, 0, 0});
        manager->setScanStatus(rawValue(VekScanStatus::stopped));
        QCOMPARE(itemTexts(control("resolutionCombo")), (QStringList{"150 DPI", "300 DPI", "600 DPI", "1200 DPI"}));
        settings->setResolution(1200);
        QCOMPARE(control("frameTypeCombo")->count(), 10);

        manager->setScanner(nullptr);
        QCOMPARE(rowTexts(*view), noScannerRows);
        QCOMPARE(view->framePicker(), nullptr);
    }

    void userChoicesRunTheirReactions()
    {
        connectScanner();
        settings->setPreviewRect(QRectF(0, 0, 1000, 1500));
        choose(control("resolutionCombo"), QStringLiteral("2400 DPI"));
        QCOMPARE(settings->resolution(), 2400);
        settle();
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 625, 625));
        QCOMPARE(settings->scanFrameType(), VekScanFrameType::customized);

        choose(control("scanSourceCombo"), QStringLiteral("Negative"));
        choose(control("colorTypeCombo"), QStringLiteral("Grayscale"));
        QCOMPARE(settings->scanSource(), VekScanSource::negativeFilm);
        QCOMPARE(settings->colorType(), VekColorType::gray);

        // "Letter" from (1, 1) inches on the glass: cut at the full area, then customized.
        choose(control("scanSourceCombo"), QStringLiteral("Reflective"));
        choose(control("resolutionCombo"), QStringLiteral("300 DPI"));
        settle();
        settings->setPreviewRect(QRectF(150, 150, 100, 100));
        choose(control("frameTypeCombo"), QStringLiteral("Letter"));
        QCOMPARE(settings->scanFrameType(), VekScanFrameType::letter);
        settle();
        QCOMPARE(settings->previewRect(), QRectF(150, 150, 1125, 1605));
        QCOMPARE(settings->scanFrameType(), VekScanFrameType::customized);
        QCOMPARE(control("frameTypeCombo")->currentText(), QStringLiteral("Customized"));
    }

    void loadRunsTheReactionsOfWhatItChanges()
    {
        connectScanner();
        {
            auto stored = store(QStringLiteral("clamp.ini"));
            stored->setValue("resolution", 2400);
            stored->setValue("previewRect", QRectF(0, 0, 1000, 1500));
            stored->setValue("previewImageScale", 1.0);
            stored->setValue("frameType", 18);
            view->loadScanSettings(*stored);
        }
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 1000, 1500)); // not before the load has finished
        settle();
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 625, 625));
        QCOMPARE(settings->scanFrameType(), VekScanFrameType::customized);

        // Resolution and frame type as they are: the stored frame is still held to the glass and to
        // 10000 pixels a side at the resolution, as the pickers and gestures would hold it.
        auto stored = store(QStringLiteral("same.ini"));
        stored->setValue("resolution", 2400);
        stored->setValue("frameType", 18);
        stored->setValue("previewRect", QRectF(0, 0, 2000, 2000));
        view->loadScanSettings(*stored);
        settle();
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 625, 625));
        // One wholly beside the glass is refused for the default frame.
        stored->setValue("previewRect", QRectF(1275, 100, 150, 150));
        view->loadScanSettings(*stored);
        settle();
        QCOMPARE(settings->previewRect(), ScanSettings::defaultPreviewRect());

        // Without a scanner nothing is known to hold it to.
        manager->setScanner(nullptr);
        stored->setValue("resolution", 1200);
        stored->setValue("previewRect", QRectF(0, 0, 2000, 2000));
        view->loadScanSettings(*stored);
        settle();
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 2000, 2000));
    }

    void storedValuesNoPickerOffersAreNotShownOrScanned()
    {
        connectScanner();
        auto stored = store(QStringLiteral("unlisted.ini"));
        stored->setValue("resolution", 700);
        stored->setValue("scanSource", 2);
        stored->setValue("colorType", 9);
        stored->setValue("frameType", 25);
        view->loadScanSettings(*stored);
        settle();
        // The resolution nearest to the one stored.
        const struct {
            const char* combo;
            const char* shown;
        } shown[] = {{"resolutionCombo", "600 DPI"},
                     {"scanSourceCombo", "Reflective"},
                     {"colorTypeCombo", "RGB Color"},
                     {"frameTypeCombo", "Customized"}};
        for (const auto& row : shown) QCOMPARE(control(row.combo)->currentText(), QString::fromLatin1(row.shown));
        QCOMPARE(settings->resolution(), 600);
        settings->setResolution(ScanSettings().resolution());
        QVERIFY(settings->values() == ScanSettings().values());
        // A type that the resolution does not list shows blank.
        settings->setResolution(4800);
        settings->setScanFrameType(VekScanFrameType::a4);
        QCOMPARE(control("frameTypeCombo")->currentIndex(), -1);
    }

    // A resolution that the scanner's list does not hold (stored for a model that goes up to 4800 dpi,
    // now on one that ends at 1200) gives way to the nearest one listed: shown, and scanned.
    void resolutionOfAnotherModelFallsBackToTheNearestListed()
    {
        connectScanner(1);
        settings->setPreviewRect(QRectF(0, 0, 1275, 1650));
        auto stored = store(QStringLiteral("model.ini"));
        stored->setValue("resolution", 4800);
        view->loadScanSettings(*stored);
        QCOMPARE(settings->resolution(), 1200);
        QCOMPARE(control("resolutionCombo")->currentText(), QStringLiteral("1200 DPI"));
        settle();
        // Its limit holds the frame as choosing 1200 would: 10000 pixels are 8.33 inches.
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 1250, 1250));
        QCOMPARE(readOut(), QStringLiteral("8.3 x 8.3"));

        // A scanner of a smaller list taking over, and a value set directly, fall back the same way.
        manager->setScanner(nullptr);
        connectScanner(0);
        settings->setResolution(2400);
        QCOMPARE(control("resolutionCombo")->currentText(), QStringLiteral("2400 DPI"));
        connectScanner(1);
        QCOMPARE(settings->resolution(), 1200);
        settings->setResolution(700);
        QCOMPARE(settings->resolution(), 600);
        settings->setResolution(225);
        QCOMPARE(settings->resolution(), 150);
        QCOMPARE(control("resolutionCombo")->currentText(), QStringLiteral("150 DPI"));
    }

    // On the film sources the frame, "Full Area" and the listed sizes are those of the film unit
    // (1.5 × 9 inches), and the read-out says so; back on the glass the frame stays as it was cut.
    void frameFollowsTheAreaOfTheSource()
    {
        connectScanner();
        choose(control("frameTypeCombo"), QStringLiteral("Full Area"));
        settle();
        QCOMPARE(readOut(), QStringLiteral("8.5 x 11.7"));

        const struct {
            const char* source;
            const char* readOut;
            QRectF frame;
        } fullArea[] = {{"Positive", "1.5 x 9.0", QRectF(0, 0, 225, 1350)},
                        {"Reflective", "8.5 x 11.7", QRectF(0, 0, 1275, 1755)},
                        {"Negative", "1.5 x 9.0", QRectF(0, 0, 225, 1350)}};
        for (const auto& row : fullArea) {
            choose(control("scanSourceCombo"), QString::fromLatin1(row.source));
            settle();
            QCOMPARE(readOut(), QString::fromLatin1(row.readOut));
            QCOMPARE(settings->previewRect(), row.frame);
            QCOMPARE(control("frameTypeCombo")->currentText(), QStringLiteral("Full Area"));
        }
        // Every size listed on film is cut to the film unit when chosen.
        QVERIFY(itemTexts(control("frameTypeCombo")).contains(QStringLiteral("Portrait: 4 x 6")));
        QVERIFY(!itemTexts(control("frameTypeCombo")).contains(QStringLiteral("Letter")));
        choose(control("frameTypeCombo"), QStringLiteral("Portrait: 4 x 6"));
        settle();
        QCOMPARE(settings->previewRect(), QRectF(0, 0, 225, 900));
        QCOMPARE(readOut(), QStringLiteral("1.5 x 6.0"));
        QCOMPARE(control("frameTypeCombo")->currentText(), QStringLiteral("Customized"));

        // A frame of the glass wholly beside the film unit gives the default frame there.
        choose(control("scanSourceCombo"), QStringLiteral("Reflective"));
        settings->setPreviewRect(QRectF(450, 300, 150, 150));
        choose(control("scanSourceCombo"), QStringLiteral("Positive"));
        settle();
        QCOMPARE(settings->previewRect(), ScanSettings::defaultPreviewRect());
        QCOMPARE(readOut(), QStringLiteral("0.7 x 0.7"));

        // A frame within the film unit is left alone, bit for bit.
        const QRectF within(10.1, 20.2, 150.3, 300.4);
        settings->setPreviewRect(within);
        for (const char* source : {"Reflective", "Negative"}) {
            choose(control("scanSourceCombo"), QString::fromLatin1(source));
            settle();
            QVERIFY(sameValue(settings->previewRect(), within));
        }
    }

    void resetKeepsTheScaleAndStoresNothing()
    {
        connectScanner();
        settings->setScanSource(VekScanSource::positiveFilm);
        settings->setColorType(VekColorType::blackAndWhite);
        settings->setResolution(600);
        settings->setPreviewImageScale(2.5);
        settings->setPreviewRect(QRectF(10, 20, 300, 400));
        settings->setScanFrameType(VekScanFrameType::a5);
        settle();
        auto stored = store(QStringLiteral("reset.ini"));
        view->saveScanSettings(*stored);
        stored->sync();
        QFile file(stores.filePath(QStringLiteral("reset.ini")));
        const auto bytes = [&] { return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); };
        const QByteArray before = bytes();
        file.close();

        QTest::mouseClick(control<QToolButton>("resetButton"), Qt::LeftButton);
        settle();
        ScanSettings::Values expected = ScanSettings().values();
        expected.previewImageScale = 2.5;
        QVERIFY(settings->values() == expected);
        stored->sync();
        QCOMPARE(bytes(), before);
    }

    void busyDisablesEveryControl()
    {
        connectScanner();
        const auto enabled = [&](bool expected) {
            for (const char* name : {"scanSourceCombo", "colorTypeCombo", "resolutionCombo", "frameTypeCombo"})
                QCOMPARE(control(name)->isEnabled(), expected);
            QCOMPARE(control<QToolButton>("resetButton")->isEnabled(), expected);
            QCOMPARE(control<SegmentedControl>("unitSegmented")->isEnabled(), expected);
        };
        for (qint64 status : {1, 2, 3, 4, 5, 2, 0, 7}) {
            manager->setScanStatus(status);
            enabled(!(status >= 1 && status <= 4));
        }
        // A panel made while the scanner is busy starts disabled.
        manager->setScanStatus(rawValue(VekScanStatus::reading));
        ScanSettingsView late(*settings, *manager);
        QVERIFY(!late.groupBox()->isEnabled());
    }

    void unitChangesTheReadOutOnly()
    {
        connectScanner();
        settings->setPreviewRect(QRectF(0, 0, 1275, 1650));
        QCOMPARE(readOut(), QStringLiteral("8.5 x 11.0"));
        auto* unit = control<SegmentedControl>("unitSegmented");
        QCOMPARE(unit->currentTag(), std::optional<qint64>(qint64(Unit::inch)));
        QSignalSpy changes(settings.get(), &ScanSettings::changed);
        view->show();
        QTest::mouseClick(unit->button(1), Qt::LeftButton);
        QCOMPARE(readOut(), QStringLiteral("21.6 x 27.9"));
        QCOMPARE(view->framePicker()->unit(), Unit::centimeter);
        QCOMPARE(changes.size(), 0);
        settings->setPreviewImageScale(2.0); // the read-out follows the scale
        QCOMPARE(readOut(), QStringLiteral("10.8 x 14.0"));
        settings->setPreviewImageScale(1.0);
        // A new row starts in inches.
        manager->setScanner(nullptr);
        connectScanner();
        QCOMPARE(readOut(), QStringLiteral("8.5 x 11.0"));
    }

    void saveAndLoadKeepEveryValue()
    {
        connectScanner();
        settings->setScanSource(VekScanSource::positiveFilm);
        settings->setColorType(VekColorType::gray);
        settings->setResolution(600);
        settings->setPreviewImageScale(1.5);
        settings->setPreviewRect(QRectF(15, 30, 10, 10));
        choose(control("frameTypeCombo"), QStringLiteral("Full Area"));
        settle();
        const ScanSettings::Values saved = settings->values();
        QCOMPARE(saved.scanFrameType, VekScanFrameType::fullArea);
        QCOMPARE(saved.previewRect, QRectF(0, 0, 337.5, 2025)); // the film unit, 1.5 × 9 inches
        auto stored = store(QStringLiteral("round.ini"));
        view->saveScanSettings(*stored);

        ScanSettings loaded;
        ScanSettingsView other(loaded, *manager);
        other.loadScanSettings(*stored);
        settle();
        QVERIFY(loaded.values() == saved);
    }

    // At the top of a far taller column the panel is as tall as its rows, with and without a scanner.
    void keepsItsNaturalHeightInATallColumn()
    {
        TallColumn column(view.get());
        for (bool scanner : {false, true, false}) {
            if (scanner)
                connectScanner();
            else
                manager->setScanner(nullptr);
            settleLayouts();
            const QString mismatch = heightMismatch(view.get(), view->groupBox()->content());
            QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("scanner %1: ").arg(scanner) + mismatch));
        }
    }

    void snapshots()
    {
        connectScanner();
        settings->setResolution(600);
        choose(control("frameTypeCombo"), QStringLiteral("A4"));
        settle();
        QCOMPARE(readOut(), QStringLiteral("8.3 x 11.7"));
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("scan-panel")).isEmpty());
        QTest::mouseClick(control<SegmentedControl>("unitSegmented")->button(1), Qt::LeftButton);
        QCOMPARE(readOut(), QStringLiteral("21.0 x 29.7"));
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("scan-panel-cm")).isEmpty());
        manager->setScanStatus(rawValue(VekScanStatus::reading));
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("scan-panel-busy")).isEmpty());

        manager->setScanner(nullptr);
        manager->setScanStatus(rawValue(VekScanStatus::ready));
        showForSnapshot(view.get());
        QVERIFY(!saveSnapshot(view.get(), QStringLiteral("scan-panel-no-scanner")).isEmpty());
    }
};

LF_GUI_TEST_MAIN(ScanSettingsViewTest)
#include "test_scan_settings_view.moc"
