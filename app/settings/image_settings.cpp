#include "image_settings.h"

#include "property_update.h"
#include "stored_values.h"

namespace lumenfield {

ImageSettings::ImageSettings(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::optional<vips::VImage>>();
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

void ImageSettings::setScanFrameRawImage(const std::optional<vips::VImage>& value)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const bool same = value.has_value() == scanFrameRawImage_.has_value() &&
        (!value || value->get_image() == scanFrameRawImage_->get_image());
    if (same) return;
    scanFrameRawImage_ = value;
    Q_EMIT scanFrameRawImageChanged(scanFrameRawImage_);
    Q_EMIT changed();
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
    loadStored<AdjustmentMethod>(store, "adjustmentMethod", this, &ImageSettings::setAdjustmentMethod);
    loadWithin<double>(store, "exposure", this, &ImageSettings::setExposure, exposureRange);
    loadWithin<double>(store, "brightness", this, &ImageSettings::setBrightness, brightnessRange);
    loadWithin<double>(store, "contrast", this, &ImageSettings::setContrast, contrastRange);
    loadWithin<double>(store, "saturation", this, &ImageSettings::setSaturation, saturationRange);
    loadWithin<double>(store, "hue", this, &ImageSettings::setHue, hueRange);
    loadWithin<double>(store, "sharpeness", this, &ImageSettings::setSharpeness, sharpenessRange);
    loadStored<GrayMode>(store, "grayMode", this, &ImageSettings::setGrayMode);
    loadStored<BWMode>(store, "bwMode", this, &ImageSettings::setBwMode);
    loadWithin<double>(store, "threshold", this, &ImageSettings::setThreshold, thresholdRange);
}

void ImageSettings::save(QSettings& store) const
{
    store.setValue("adjustmentMethod", rawValue(values_.adjustmentMethod));
    store.setValue("exposure", values_.exposure);
    store.setValue("brightness", values_.brightness);
    store.setValue("contrast", values_.contrast);
    store.setValue("saturation", values_.saturation);
    store.setValue("hue", values_.hue);
    store.setValue("sharpeness", values_.sharpeness);
    store.setValue("grayMode", rawValue(values_.grayMode));
    store.setValue("bwMode", rawValue(values_.bwMode));
    store.setValue("threshold", values_.threshold);
}

void ImageSettings::reset()
{
    const ImageSettings defaults;
    setAdjustmentMethod(defaults.adjustmentMethod());
    setExposure(defaults.exposure());
    setBrightness(defaults.brightness());
    setContrast(defaults.contrast());
    setSaturation(defaults.saturation());
    setHue(defaults.hue());
    setSharpeness(defaults.sharpeness());
    setGrayMode(defaults.grayMode());
    setBwMode(defaults.bwMode());
    setThreshold(defaults.threshold());
}

} // namespace lumenfield
