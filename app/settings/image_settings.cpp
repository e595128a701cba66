#include "image_settings.h"

#include "property_update.h"
#include "stored_values.h"

ImageSettings::ImageSettings(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::optional<vips::VImage>>();
}

void ImageSettings::setExposure(double value) {
    updateProperty(this, m_values.exposure, value, &ImageSettings::exposureChanged);
}

void ImageSettings::setBrightness(double value) {
    updateProperty(this, m_values.brightness, value, &ImageSettings::brightnessChanged);
}

void ImageSettings::setContrast(double value) {
    updateProperty(this, m_values.contrast, value, &ImageSettings::contrastChanged);
}

void ImageSettings::setSaturation(double value) {
    updateProperty(this, m_values.saturation, value, &ImageSettings::saturationChanged);
}

void ImageSettings::setHue(double value) {
    updateProperty(this, m_values.hue, value, &ImageSettings::hueChanged);
}

void ImageSettings::setSharpeness(double value) {
    updateProperty(this, m_values.sharpeness, value, &ImageSettings::sharpenessChanged);
}

void ImageSettings::setGrayMode(GrayMode value) {
    updateProperty(this, m_values.grayMode, value, &ImageSettings::grayModeChanged);
}

void ImageSettings::setBwMode(BWMode value) {
    updateProperty(this, m_values.bwMode, value, &ImageSettings::bwModeChanged);
}

void ImageSettings::setThreshold(double value) {
    updateProperty(this, m_values.threshold, value, &ImageSettings::thresholdChanged);
}

void ImageSettings::setAdjustmentMethod(AdjustmentMethod value) {
    updateProperty(this, m_values.adjustmentMethod, value, &ImageSettings::adjustmentMethodChanged);
}

void ImageSettings::setInvert(bool value) {
    updateProperty(this, m_values.invert, value, &ImageSettings::invertChanged);
}

void ImageSettings::setScanFrameRawImage(const std::optional<vips::VImage>& value) {
    Q_ASSERT(QThread::currentThread() == thread());
    const bool same = value.has_value() == m_scanFrameRawImage.has_value() &&
                      (!value || value->get_image() == m_scanFrameRawImage->get_image());
    if (same) return;
    m_scanFrameRawImage = value;
    Q_EMIT scanFrameRawImageChanged(m_scanFrameRawImage);
    Q_EMIT changed();
}

void ImageSettings::setExperiment(bool value) {
    updateProperty(this, m_values.experiment, value, &ImageSettings::experimentChanged);
}

void ImageSettings::setContrastStretch(bool value) {
    updateProperty(this, m_values.contrastStretch, value, &ImageSettings::contrastStretchChanged);
}

ImageSettings::Values ImageSettings::values() const {
    Q_ASSERT(QThread::currentThread() == thread());
    return m_values;
}

void ImageSettings::load(const QSettings& store) {
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

void ImageSettings::save(QSettings& store) const {
    store.setValue("adjustmentMethod", rawValue(m_values.adjustmentMethod));
    store.setValue("exposure", m_values.exposure);
    store.setValue("brightness", m_values.brightness);
    store.setValue("contrast", m_values.contrast);
    store.setValue("saturation", m_values.saturation);
    store.setValue("hue", m_values.hue);
    store.setValue("sharpeness", m_values.sharpeness);
    store.setValue("grayMode", rawValue(m_values.grayMode));
    store.setValue("bwMode", rawValue(m_values.bwMode));
    store.setValue("threshold", m_values.threshold);
}

void ImageSettings::reset() {
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
