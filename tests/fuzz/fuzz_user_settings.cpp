// The fuzzer's bytes as the application's stored settings file, loaded into all four settings
// objects: every value ends in its range or keeps its default.
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

#include <cmath>
#include <memory>

namespace {

template <ClosedEnum E>
bool valid(E value)
{
    return fromRawValue<E>(rawValue(value)).has_value();
}

bool finite(const QRectF& r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
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
    {
        const QSettings store(path, QSettings::IniFormat);
        for (bool supported : {false, true}) {
            AppSettings appSettings;
            appSettings.load(store, supported);
            // Scan quality and calibration mode are open: the scanner takes any raw value.
            (void)appSettings.scanQuality();
        }

        ScanSettings scan;
        scan.load(store);
        FUZZ_CHECK(std::isfinite(scan.previewImageScale()) && scan.previewImageScale() > 0.0);
        FUZZ_CHECK(finite(scan.previewRect()));

        ImageSettings image;
        image.load(store);
        FUZZ_CHECK(valid(image.adjustmentMethod()) && valid(image.grayMode()) && valid(image.bwMode()));
        for (double v : {image.exposure(), image.brightness(), image.contrast(), image.saturation(), image.hue(),
                         image.sharpeness(), image.threshold()})
            FUZZ_CHECK(std::isfinite(v));

        for (bool resetForNewDay : {false, true}) {
            OutputSettings output;
            output.load(store, resetForNewDay, QDate(2026, 12, 9));
            FUZZ_CHECK(valid(output.prefixType()) && valid(output.format()) && valid(output.tiffCompression()));
            FUZZ_CHECK(valid(output.jpegQuality()) && valid(output.iccProfile()));
            const QString file = outputFileName(output.prefix(), output.isAutoSuffix(), output.suffixNumber(),
                                                output.suffixLength(), output.format());
            FUZZ_CHECK(!file.contains(u'/') && !file.contains(QChar(u'\0')));
            FUZZ_CHECK(file != QStringLiteral(".") && file != QStringLiteral(".."));
        }
    }
    QFile::remove(path);
    return 0;
}
