#include "image_settings.h"

#include "property_update.h"
#include "settings_table.h"

namespace lumenfield {

namespace {

// The ten stored values in the order they are read and written. Inversion and the experimental
// switches are not stored; they start false.
auto storedProperties()
{
    using S = ImageSettings;
    return std::tuple{
        stored("adjustmentMethod", &S::adjustmentMethod, &S::setAdjustmentMethod, AdjustmentMethod::manual),
        stored("exposure", &S::exposure, &S::setExposure, 0.0, {.take = within(S::exposureRange)}),
        stored("brightness", &S::brightness, &S::setBrightness, 0.0, {.take = within(S::brightnessRange)}),
        stored("contrast", &S::contrast, &S::setContrast, 1.0, {.take = within(S::contrastRange)}),
        stored("saturation", &S::saturation, &S::setSaturation, 1.0, {.take = within(S::saturationRange)}),
        stored("hue", &S::hue, &S::setHue, 0.0, {.take = within(S::hueRange)}),
        stored("sharpeness", &S::sharpeness, &S::setSharpeness, 0.0, {.take = within(S::sharpenessRange)}),
        stored("grayMode", &S::grayMode, &S::setGrayMode, GrayMode::noir),
        stored("bwMode", &S::bwMode, &S::setBwMode, BWMode::automatic),
        stored("threshold", &S::threshold, &S::setThreshold, 0.5, {.take = within(S::thresholdRange)}),
    };
}

} // namespace

ImageSettings::ImageSettings(QObject* parent) : QObject(parent)
{
    applyDefaults(*this, storedProperties());
}

void ImageSettings::setExposure(double value)
{
    updateProperty(this, values_.exposure, value, &ImageSettings::exposureChanged);
}

void ImageSettings::setBrightness(double value)
{
    updateProperty(this, values_.brightness, value, &ImageSettings::brightnessChanged);
}

void ImageSettings::setContrast(double value)
{
    updateProperty(this, values_.contrast, value, &ImageSettings::contrastChanged);
}

void ImageSettings::setSaturation(double value)
{
    updateProperty(this, values_.saturation, value, &ImageSettings::saturationChanged);
}

void ImageSettings::setHue(double value)
{
    updateProperty(this, values_.hue, value, &ImageSettings::hueChanged);
}

void ImageSettings::setSharpeness(double value)
{
    updateProperty(this, values_.sharpeness, value, &ImageSettings::sharpenessChanged);
}

void ImageSettings::setGrayMode(GrayMode value)
{
    updateProperty(this, values_.grayMode, value, &ImageSettings::grayModeChanged);
}

void ImageSettings::setBwMode(BWMode value)
{
    updateProperty(this, values_.bwMode, value, &ImageSettings::bwModeChanged);
}

void ImageSettings::setThreshold(double value)
{
    updateProperty(this, values_.threshold, value, &ImageSettings::thresholdChanged);
}

void ImageSettings::setAdjustmentMethod(AdjustmentMethod value)
{
    updateProperty(this, values_.adjustmentMethod, value, &ImageSettings::adjustmentMethodChanged);
}

void ImageSettings::setInvert(bool value)
{
    updateProperty(this, values_.invert, value, &ImageSettings::invertChanged);
}

void ImageSettings::setExperiment(bool value)
{
    updateProperty(this, values_.experiment, value, &ImageSettings::experimentChanged);
}

void ImageSettings::setContrastStretch(bool value)
{
    updateProperty(this, values_.contrastStretch, value, &ImageSettings::contrastStretchChanged);
}

ImageSettings::Values ImageSettings::values() const
{
    Q_ASSERT(QThread::currentThread() == thread());
    return values_;
}

void ImageSettings::load(const QSettings& store)
{
    loadRows(store, *this, storedProperties());
}

void ImageSettings::save(QSettings& store) const
{
    saveRows(store, *this, storedProperties());
}

void ImageSettings::reset()
{
    resetRows(*this, storedProperties());
}

} // namespace lumenfield
