// A labelled slider row for a continuous setting: caption, value badge, minimum, slider, maximum.
#pragma once

#include "property_binding.h"

#include <QString>
#include <QWidget>

class QLabel;
class QSlider;

namespace lumenfield {

// "%.1f" of `value`, as every number of the rows is shown (-0.04 gives "-0.0").
QString formatOneDecimal(double value);
// The last digit that formatOneDecimal shows.
inline constexpr double shownStep = 0.1;

class SliderView : public QWidget {
    Q_OBJECT

public:
    // The slider runs continuously from `min` to `max` (which must not be below `min`); `step` is
    // carried with the row but does not snap the slider. An arrow key or a wheel notch moves the
    // shown value by its last digit (shownStep), PageUp and PageDown by ten of those, never past an
    // end; a drag sets any value between.
    SliderView(PropertyBinding<double> value, const QString& title, double min, double max, double step,
               QWidget* parent = nullptr);

    double minimum() const { return min_; }
    double maximum() const { return max_; }
    double step() const { return step_; }
    QSlider* slider() const { return slider_; }
    QLabel* badge() const { return badge_; }

    // Positions of the slider, mapped linearly onto min..max.
    static constexpr int positions = 10000;

private:
    void showValue();
    void stepBy(int steps);
    double valueAt(int position) const;
    int positionOf(double value) const;

    PropertyBinding<double> value_;
    double min_;
    double max_;
    double step_;
    QLabel* badge_;
    QSlider* slider_;
};

} // namespace lumenfield
