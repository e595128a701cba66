// How a scanned image is post-processed: the adjustment method with its values, the gray and
// black-and-white conversions, inversion and the experimental switches.
#pragma once

#include "enumerations.h"
#include "value_range.h"

#include <QObject>
#include <QSettings>

namespace lumenfield {

class ImageSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(double exposure READ exposure WRITE setExposure NOTIFY exposureChanged)
    Q_PROPERTY(double brightness READ brightness WRITE setBrightness NOTIFY brightnessChanged)
    Q_PROPERTY(double contrast READ contrast WRITE setContrast NOTIFY contrastChanged)
    Q_PROPERTY(double saturation READ saturation WRITE setSaturation NOTIFY saturationChanged)
    Q_PROPERTY(double hue READ hue WRITE setHue NOTIFY hueChanged)
    Q_PROPERTY(double sharpeness READ sharpeness WRITE setSharpeness NOTIFY sharpenessChanged)
    Q_PROPERTY(GrayMode grayMode READ grayMode WRITE setGrayMode NOTIFY grayModeChanged)
    Q_PROPERTY(BWMode bwMode READ bwMode WRITE setBwMode NOTIFY bwModeChanged)
    Q_PROPERTY(double threshold READ threshold WRITE setThreshold NOTIFY thresholdChanged)
    Q_PROPERTY(AdjustmentMethod adjustmentMethod READ adjustmentMethod WRITE setAdjustmentMethod NOTIFY
                   adjustmentMethodChanged)
    Q_PROPERTY(bool invert READ invert WRITE setInvert NOTIFY invertChanged)
    Q_PROPERTY(bool experiment READ experiment WRITE setExperiment NOTIFY experimentChanged)
    Q_PROPERTY(bool contrastStretch READ contrastStretch WRITE setContrastStretch NOTIFY contrastStretchChanged)

public:
    // A copy of the values, taken on the GUI thread for the post-processing.
    struct Values {
        double exposure;
        double brightness;
        double contrast;
        double saturation;
        double hue;
        double sharpeness;
        GrayMode grayMode;
        BWMode bwMode;
        double threshold; // black-and-white threshold
        AdjustmentMethod adjustmentMethod;
        bool invert;
        bool experiment;
        bool contrastStretch;
    };

    explicit ImageSettings(QObject* parent = nullptr);

    double exposure() const { return values_.exposure; }
    void setExposure(double value);
    double brightness() const { return values_.brightness; }
    void setBrightness(double value);
    double contrast() const { return values_.contrast; }
    void setContrast(double value);
    double saturation() const { return values_.saturation; }
    void setSaturation(double value);
    double hue() const { return values_.hue; }
    void setHue(double value);
    double sharpeness() const { return values_.sharpeness; }
    void setSharpeness(double value);
    GrayMode grayMode() const { return values_.grayMode; }
    void setGrayMode(GrayMode value);
    BWMode bwMode() const { return values_.bwMode; }
    void setBwMode(BWMode value);
    double threshold() const { return values_.threshold; }
    void setThreshold(double value);
    AdjustmentMethod adjustmentMethod() const { return values_.adjustmentMethod; }
    void setAdjustmentMethod(AdjustmentMethod value);
    bool invert() const { return values_.invert; }
    void setInvert(bool value);
    bool experiment() const { return values_.experiment; }
    void setExperiment(bool value);
    bool contrastStretch() const { return values_.contrastStretch; }
    void setContrastStretch(bool value);

    Values values() const;

    // The ranges of the panel's sliders. No control sets the brightness; it is an offset added to
    // channels of 0 to 1, so anything beyond ±1 would only wash the image out to one colour.
    static constexpr ValueRange<double> exposureRange{-2.0, 2.0};
    static constexpr ValueRange<double> brightnessRange{-1.0, 1.0};
    static constexpr ValueRange<double> contrastRange{0.5, 1.5};
    static constexpr ValueRange<double> saturationRange{0.0, 2.0};
    static constexpr ValueRange<double> hueRange{-1.0, 1.0};
    static constexpr ValueRange<double> sharpenessRange{-2.0, 2.0};
    static constexpr ValueRange<double> thresholdRange{0.2, 0.8};

    // Reads the ten stored values (adjustment method, the six numbers, gray mode, black-and-white
    // mode, threshold); a missing or unusable value, or a number outside its range above, keeps the
    // current one.
    void load(const QSettings& store);
    // Writes the ten keys.
    void save(QSettings& store) const;
    // The ten stored values back to their defaults; inversion and the switches stay.
    void reset();

Q_SIGNALS:
    void exposureChanged(double value);
    void brightnessChanged(double value);
    void contrastChanged(double value);
    void saturationChanged(double value);
    void hueChanged(double value);
    void sharpenessChanged(double value);
    void grayModeChanged(GrayMode value);
    void bwModeChanged(BWMode value);
    void thresholdChanged(double value);
    void adjustmentMethodChanged(AdjustmentMethod value);
    void invertChanged(bool value);
    void experimentChanged(bool value);
    void contrastStretchChanged(bool value);
    // After any property's own signal.
    void changed();

private:
    // The stored values start at the defaults of the table in image_settings.cpp.
    Values values_{};
};

} // namespace lumenfield
