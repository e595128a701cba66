#include "slider_view.h"

#include "panel_style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace lumenfield {

namespace {

constexpr int badgeWidth = 50;
constexpr int endLabelWidth = 30;
constexpr int badgeGap = 9;

QLabel* fixedLabel(const QString& text, int width, Qt::Alignment alignment, const QString& objectName)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setFixedWidth(width);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

// A wheel notch, in eighths of a degree.
constexpr int notch = 120;

// A slider whose arrow keys, PageUp and PageDown and wheel notches are handed to `step` as a number of
// steps (ten for a page), instead of moving the handle by positions, which are far finer than what
// the row shows.
class SteppedSlider : public QSlider {
public:
    explicit SteppedSlider(std::function<void(int)> step) : QSlider(Qt::Horizontal), step_(std::move(step)) {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        int steps = 0;
        switch (event->key()) {
        case Qt::Key_Left: steps = isRightToLeft() ? 1 : -1; break;
        case Qt::Key_Right: steps = isRightToLeft() ? -1 : 1; break;
        case Qt::Key_Up: steps = 1; break;
        case Qt::Key_Down: steps = -1; break;
        case Qt::Key_PageUp: steps = 10; break;
        case Qt::Key_PageDown: steps = -10; break;
        default: QSlider::keyPressEvent(event); return;
        }
        event->accept();
        step_(steps);
    }

    void wheelEvent(QWheelEvent* event) override
    {
        // Turned away from the user or scrolled to the right goes up, as a slider's wheel does; a
        // fine-grained wheel steps once its small turns add up to a notch.
        const QPoint delta = event->angleDelta();
        int turned = delta.y() != 0 ? delta.y() : -delta.x();
        if (event->inverted()) turned = -turned;
        wheelTurn_ += turned;
        const int notches = wheelTurn_ / notch;
        wheelTurn_ -= notches * notch;
        event->accept();
        if (notches != 0) step_(notches);
    }

private:
    std::function<void(int)> step_;
    int wheelTurn_ = 0;
};

} // namespace

QString formatOneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return QString::fromLatin1(text);
}

SliderView::SliderView(PropertyBinding<double> value, const QString& title, double min, double max, double step,
                       QWidget* parent)
    : QWidget(parent), value_(std::move(value)), min_(min), max_(max), step_(step)
{
    Q_ASSERT_X(min <= max, "SliderView", "min above max");
    // A row is as tall as its tallest part, however much room it is offered.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    row->addWidget(fixedLabel(title, ui::captionWidth, Qt::AlignRight, QStringLiteral("caption")));
    row->addSpacing(badgeGap);
    badge_ = fixedLabel(QString(), badgeWidth, Qt::AlignHCenter, QStringLiteral("badge"));
    badge_->setFont(ui::monospacedFont());
    // Its line and its padding, never more.
    badge_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    badge_->setStyleSheet(QStringLiteral("QLabel { padding: 3px 8px; color: rgba(0, 0, 0, 50%);"
                                         " background-color: rgba(0, 0, 0, 10%); border-radius: 4px; }"));
    row->addWidget(badge_);
    row->addSpacing(ui::defaultSpacing);
    QLabel* minLabel = fixedLabel(formatOneDecimal(min), endLabelWidth, Qt::AlignRight, QStringLiteral("minimum"));
    minLabel->setFont(ui::monospacedFont());
    row->addWidget(minLabel);
    row->addSpacing(ui::defaultSpacing);
    slider_ = new SteppedSlider([this](int steps) { stepBy(steps); });
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setRange(0, positions);
    // What else moves the handle by steps (a click beside it) moves it about as far.
    if (max > min) {
        const int shownStepPositions = std::max(1, int(std::lround(positions * shownStep / (max - min))));
        slider_->setSingleStep(shownStepPositions);
        slider_->setPageStep(10 * shownStepPositions);
    }
    row->addWidget(slider_, 1);
    row->addSpacing(ui::defaultSpacing);
    QLabel* maxLabel = fixedLabel(formatOneDecimal(max), endLabelWidth, Qt::AlignLeft, QStringLiteral("maximum"));
    maxLabel->setFont(ui::monospacedFont());
    row->addWidget(maxLabel);

    // Only the user moves the slider with its signals on (see showValue).
    connect(slider_, &QSlider::valueChanged, this, [this](int position) { value_.set(valueAt(position)); });
    value_.observe(this, [this] { showValue(); });
    showValue();
}

void SliderView::showValue()
{
    const double value = value_.get();
    badge_->setText(formatOneDecimal(value));
    // A value beyond the ends puts the handle at the nearer end; the model keeps its value.
    showing(slider_, [&] { slider_->setValue(positionOf(value)); });
}

void SliderView::stepBy(int steps)
{
    // From the value as the badge shows it, to the next shown value that many steps away; the ends
    // stop it, and a value stored beyond an end only moves back towards the range.
    const double value = value_.get();
    const double from = std::isnan(value) ? min_ : std::clamp(value, min_, max_);
    const double perUnit = std::round(1.0 / shownStep);
    const long shown = std::lround(formatOneDecimal(from).toDouble() * perUnit);
    const double next = std::clamp(double(shown + steps) / perUnit, min_, max_);
    if (steps > 0 ? next > value : next < value) value_.set(next);
}

double SliderView::valueAt(int position) const
{
    return min_ + (max_ - min_) * (double(position) / positions);
}

int SliderView::positionOf(double value) const
{
    double fraction = max_ > min_ ? (value - min_) / (max_ - min_) : 0.0;
    if (!(fraction > 0.0)) fraction = 0.0; // also NaN
    if (fraction > 1.0) fraction = 1.0;
    return int(std::lround(fraction * positions));
}

} // namespace lumenfield
