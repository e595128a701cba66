#include "app_settings.h"

#include "property_update.h"
#include "settings_table.h"

namespace lumenfield {

namespace {

// What a load knows of the connected scanner; a new object and a save use none of it.
struct ScannerOffers {
    bool calibrationCommandSupported = true;
    std::optional<ValueRange<qint64>> exposureRatios;
};

// The six stored values in the order they are read and written, with the rules of load() in the
// header.
auto storedProperties(const ScannerOffers& offers = {})
{
    using S = AppSettings;
    return std::tuple{
        stored("showPreviousPreview", &S::isShowPreviousPreview, &S::setShowPreviousPreview, true,
               {.missingSetsDefault = true}),
        stored("openImageAfterScan", &S::isOpenImageAfterScan, &S::setOpenImageAfterScan, true,
               {.missingSetsDefault = true}),
        stored("resetFilenameSuffix", &S::isResetSuffixForNewDay, &S::setResetSuffixForNewDay, true,
               {.missingSetsDefault = true}),
        stored("exposureRatio", &S::exposureRatio, &S::setExposureRatio, 100,
               {.take = within(offers.exposureRatios.value_or(S::exposureRatioField))}),
        stored("scanQuality", &S::scanQuality, &S::setScanQuality, VekScanQuality::quality,
               {.take = oneOf(S::scanQualities), .missingSetsDefault = true}),
        stored(
            "calibrationMode", &S::calibrationMode, &S::setCalibrationMode, VekCalibrationMode::smart,
            {.take = oneOf(S::calibrationModes),
             .missing = offers.calibrationCommandSupported ? VekCalibrationMode::smart : VekCalibrationMode::typical}),
    };
}

} // namespace

AppSettings::AppSettings(QObject* parent) : QObject(parent)
{
    applyDefaults(*this, storedProperties());
}

void AppSettings::setShowPreviousPreview(bool value)
{
    updateProperty(this, isShowPreviousPreview_, value, &AppSettings::isShowPreviousPreviewChanged);
}

void AppSettings::setOpenImageAfterScan(bool value)
{
    updateProperty(this, isOpenImageAfterScan_, value, &AppSettings::isOpenImageAfterScanChanged);
}

void AppSettings::setResetSuffixForNewDay(bool value)
{
    updateProperty(this, isResetSuffixForNewDay_, value, &AppSettings::isResetSuffixForNewDayChanged);
}

void AppSettings::setExposureRatio(qint64 value)
{
    updateProperty(this, exposureRatio_, value, &AppSettings::exposureRatioChanged);
}

void AppSettings::setScanQuality(VekScanQuality value)
{
    updateProperty(this, scanQuality_, value, &AppSettings::scanQualityChanged);
}

void AppSettings::setCalibrationMode(VekCalibrationMode value)
{
    updateProperty(this, calibrationMode_, value, &AppSettings::calibrationModeChanged);
}

void AppSettings::load(const QSettings& store, bool calibrationCommandSupported,
                       std::optional<ValueRange<qint64>> exposureRatios)
{
    loadRows(store, *this, storedProperties({calibrationCommandSupported, exposureRatios}));
}

void AppSettings::save(QSettings& store) const
{
    saveRows(store, *this, storedProperties());
}

} // namespace lumenfield
