// The fuzzer's bytes as the application's stored settings file, loaded into all four settings
// objects: every value ends within what its control offers (or keeps its default), and what was
// loaded is saved and loaded again unchanged.
#include "app_settings.h"
#include "enumerations.h"
#include "fuzz_check.h"
#include "image_settings.h"
#include "output_file_name.h"
#include "output_settings.h"
#include "scan_settings.h"
#include "scratch_folder.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QSettings>
#include <QString>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

using namespace lumenfield;

namespace {

template <ClosedEnum E> bool valid(E value)
{
    return fromRawValue<E>(rawValue(value)).has_value();
}

bool finite(const QRectF& r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

bool within(double v, double low, double high)
{
    return v >= low && v <= high;
}

template <typename T, size_t N> bool oneOf(T value, const T (&offered)[N])
{
    return std::find(std::begin(offered), std::end(offered), value) != std::end(offered);
}

// What the panels' controls offer.
void checkRanges(const AppSettings& app, const ScanSettings& scan, const ImageSettings& image,
                 const OutputSettings& output)
{
    FUZZ_CHECK(app.exposureRatio() >= 0 && app.exposureRatio() <= 65535);
    FUZZ_CHECK(oneOf(app.scanQuality(), {VekScanQuality::speed, VekScanQuality::quality}));
    FUZZ_CHECK(oneOf(app.calibrationMode(), {VekCalibrationMode::smart, VekCalibrationMode::typical}));

    FUZZ_CHECK(oneOf(scan.scanSource(),
                     {VekScanSource::reflective, VekScanSource::positiveFilm, VekScanSource::negativeFilm}));
    FUZZ_CHECK(oneOf(scan.colorType(), {VekColorType::color, VekColorType::gray, VekColorType::blackAndWhite}));
    FUZZ_CHECK(
        oneOf(scan.resolution(), {qint64{150}, qint64{300}, qint64{600}, qint64{1200}, qint64{2400}, qint64{4800}}));
    FUZZ_CHECK(rawValue(scan.scanFrameType()) >= rawValue(VekScanFrameType::fullArea) &&
               rawValue(scan.scanFrameType()) <= rawValue(VekScanFrameType::customized));
    FUZZ_CHECK(std::isfinite(scan.previewImageScale()) && scan.previewImageScale() > 0.0);
    FUZZ_CHECK(finite(scan.previewRect()));

    FUZZ_CHECK(valid(image.adjustmentMethod()) && valid(image.grayMode()) && valid(image.bwMode()));
    FUZZ_CHECK(within(image.exposure(), -2.0, 2.0));
    FUZZ_CHECK(within(image.brightness(), -1.0, 1.0));
    FUZZ_CHECK(within(image.contrast(), 0.5, 1.5));
    FUZZ_CHECK(within(image.saturation(), 0.0, 2.0));
    FUZZ_CHECK(within(image.hue(), -1.0, 1.0));
    FUZZ_CHECK(within(image.sharpeness(), -2.0, 2.0));
    FUZZ_CHECK(within(image.threshold(), 0.2, 0.8));

    FUZZ_CHECK(valid(output.prefixType()) && valid(output.format()) && valid(output.tiffCompression()));
    FUZZ_CHECK(valid(output.jpegQuality()) && valid(output.iccProfile()));
    FUZZ_CHECK(output.suffixLength() >= 2 && output.suffixLength() <= 5);
    FUZZ_CHECK(output.directoryPath().startsWith(u'/') && !output.directoryPath().contains(QChar(u'\0')));
}

// Saved and loaded again, every value comes back as it was.
void checkRoundTrip(const QString& path, const AppSettings& app, const ScanSettings& scan, const ImageSettings& image,
                    const OutputSettings& output, QDate today)
{
    {
        QSettings store(path, QSettings::IniFormat);
        store.clear();
        app.save(store);
        scan.save(store);
        image.save(store);
        output.save(store);
        store.sync();
        FUZZ_CHECK(store.status() == QSettings::NoError);
    }
    const QSettings store(path, QSettings::IniFormat);
    AppSettings app2;
    app2.load(store, true);
    FUZZ_CHECK(app2.isShowPreviousPreview() == app.isShowPreviousPreview());
    FUZZ_CHECK(app2.isOpenImageAfterScan() == app.isOpenImageAfterScan());
    FUZZ_CHECK(app2.isResetSuffixForNewDay() == app.isResetSuffixForNewDay());
    FUZZ_CHECK(app2.exposureRatio() == app.exposureRatio());
    FUZZ_CHECK(app2.scanQuality() == app.scanQuality() && app2.calibrationMode() == app.calibrationMode());
    ScanSettings scan2;
    scan2.load(store);
    const ScanSettings::Values a = scan.values(), b = scan2.values();
    FUZZ_CHECK(a.scanSource == b.scanSource && a.colorType == b.colorType && a.resolution == b.resolution);
    FUZZ_CHECK(a.scanFrameType == b.scanFrameType && a.previewImageScale == b.previewImageScale);
    FUZZ_CHECK(a.previewRect == b.previewRect);
    ImageSettings image2;
    image2.load(store);
    const ImageSettings::Values c = image.values(), d = image2.values();
    FUZZ_CHECK(c.exposure == d.exposure && c.brightness == d.brightness && c.contrast == d.contrast);
    FUZZ_CHECK(c.saturation == d.saturation && c.hue == d.hue && c.sharpeness == d.sharpeness);
    FUZZ_CHECK(c.grayMode == d.grayMode && c.bwMode == d.bwMode && c.threshold == d.threshold);
    FUZZ_CHECK(c.adjustmentMethod == d.adjustmentMethod);
    OutputSettings output2;
    output2.load(store, false, today);
    FUZZ_CHECK(output2.directoryPath() == output.directoryPath() && output2.prefixType() == output.prefixType());
    FUZZ_CHECK(output2.prefix() == output.prefix() && output2.isAutoSuffix() == output.isAutoSuffix());
    FUZZ_CHECK(output2.suffixNumber() == output.suffixNumber() && output2.suffixLength() == output.suffixLength());
    FUZZ_CHECK(output2.format() == output.format() && output2.tiffCompression() == output.tiffCompression());
    FUZZ_CHECK(output2.jpegQuality() == output.jpegQuality() && output2.iccProfile() == output.iccProfile());
    FUZZ_CHECK(output2.isEmbeddedICCProfile() == output.isEmbeddedICCProfile());
}

} // namespace

// Qt's settings parser sizes some buffers from lengths inside the file, and drops the value when
// such an allocation cannot be had. Here, as in the application, an allocation above 2 GB fails
// instead of ending the run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=2048";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_user_settings";
    static char* argv[] = {name, nullptr};
    static const bool home = (fuzz::use_private_home(), true);
    (void)home;
    static QCoreApplication app(argc, argv);
    // QSettings keeps what it read of a file per path, so every input gets a path of its own.
    static unsigned long count = 0;
    const QString path = QString::fromStdString(fuzz::scratch_folder()) + QStringLiteral("store%1.conf").arg(++count);
    FUZZ_CHECK(fuzz::write_file(path.toStdString(), data, size));
    const QDate today(2026, 12, 9);
    AppSettings appSettings;
    ScanSettings scan;
    ImageSettings image;
    OutputSettings output;
    {
        const QSettings store(path, QSettings::IniFormat);
        for (bool supported : {false, true}) {
            AppSettings other;
            other.load(store, supported);
            checkRanges(other, scan, image, output);
        }
        appSettings.load(store, true);
        scan.load(store);
        image.load(store);
        for (bool resetForNewDay : {true, false}) {
            output.load(store, resetForNewDay, today);
            checkRanges(appSettings, scan, image, output);
            const QString file = outputFileName(output.prefix(), output.isAutoSuffix(), output.suffixNumber(),
                                                output.suffixLength(), output.format());
            FUZZ_CHECK(!file.contains(u'/') && !file.contains(QChar(u'\0')));
            FUZZ_CHECK(file != QStringLiteral(".") && file != QStringLiteral(".."));
        }
    }
    checkRoundTrip(path + QStringLiteral(".saved"), appSettings, scan, image, output, today);
    QFile::remove(path + QStringLiteral(".saved"));
    QFile::remove(path);
    return 0;
}
