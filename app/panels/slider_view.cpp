#include "slider_view.h"

#include "panel_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

#include <cmath>
#include <cstdio>

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
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setRange(0, positions);
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
