#include "image_settings_view.h"

#include "caption_row.h"
#include "enum_segmented.h"
#include "group_box.h"
#include "image_settings.h"
#include "panel_style.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "segmented_control.h"
#include "slider_view.h"
#include "symbol_icon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int iconCellWidth = 24;
constexpr int iconSize = 14;
constexpr int descriptionGap = 4;

template <typename Getter, typename Setter, typename Signal>
SliderView* makeSlider(ImageSettings& settings, Getter getter, Setter setter, Signal signal, const QString& title,
                       ValueRange<double> range, const QString& objectName)
{
    // The range is the one the settings load accepts.
    auto* slider = new SliderView(bindProperty(settings, getter, setter, signal), title, range.min, range.max, 0.1);
    slider->setObjectName(objectName);
    return slider;
}

QWidget* named(QWidget* widget, const QString& objectName)
{
    widget->setObjectName(objectName);
    return widget;
}

} // namespace

QString ImageSettingsView::methodDescription(AdjustmentMethod method)
{
    switch (method) {
    case AdjustmentMethod::photo:
        return QStringLiteral("Automatic photo processing optimizes exposure, contrast, and color based on image "
                              "content. No manual adjustment is needed. Recommended for most photo scenarios.");
    case AdjustmentMethod::doc:
        return QStringLiteral("Document mode enhances clarity and sharpness for scanned documents, making text and "
                              "lines more distinct. Ideal for receipts, contracts, and printed pages.");
    case AdjustmentMethod::raw:
        return QStringLiteral("Raw mode does not apply any image processing; it provides the native scanned image "
                              "exactly as captured by the scanner. Choose this mode if you need the untouched "
                              "original for custom workflows or advanced editing.");
    case AdjustmentMethod::manual: break;
    }
    return QString();
}

ImageSettingsView::ImageSettingsView(ImageSettings& imageSettings, ScanSettings& scanSettings, ScanManager& manager,
                                     QWidget* parent)
    : QWidget(parent), imageSettings_(imageSettings), scanSettings_(scanSettings)
{
    ImageSettings& s = imageSettings_;
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setSpacing(ui::defaultSpacing);
    rows->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);

    bwModeSegmented_ = makeEnumSegmented<BWMode>(
        QStringLiteral("bwModeSegmented"),
        [](BWMode mode) { return mode == BWMode::manual ? QStringLiteral("Manual") : QStringLiteral("Automatic"); },
        [&s](BWMode mode) { s.setBwMode(mode); });
    bwModeRow_ = named(makeCaptionRow(QStringLiteral("B&W Mode:"), bwModeSegmented_), QStringLiteral("bwModeRow"));
    thresholdSlider_ =
        makeSlider(s, &ImageSettings::threshold, &ImageSettings::setThreshold, &ImageSettings::thresholdChanged,
                   QStringLiteral("Threshold"), ImageSettings::thresholdRange, QStringLiteral("thresholdSlider"));

    adjustmentSegmented_ = makeEnumSegmented<AdjustmentMethod>(
        QStringLiteral("adjustmentSegmented"), [&s](AdjustmentMethod method) { s.setAdjustmentMethod(method); });
    adjustmentRow_ =
        named(makeCaptionRow(QStringLiteral("Adjustment :"), adjustmentSegmented_), QStringLiteral("adjustmentRow"));

    sliders_ = named(new QWidget, QStringLiteral("sliders"));
    auto* sliderRows = new QVBoxLayout(sliders_);
    sliderRows->setContentsMargins(0, 0, 0, 0);
    sliderRows->setSpacing(ui::defaultSpacing);
    sliderRows->addWidget(makeSlider(s, &ImageSettings::exposure, &ImageSettings::setExposure,
                                     &ImageSettings::exposureChanged, QStringLiteral("Exposure:"),
                                     ImageSettings::exposureRange, QStringLiteral("exposureSlider")));
    sliderRows->addWidget(makeSlider(s, &ImageSettings::contrast, &ImageSettings::setContrast,
                                     &ImageSettings::contrastChanged, QStringLiteral("Contrast:"),
                                     ImageSettings::contrastRange, QStringLiteral("contrastSlider")));
    saturationSlider_ =
        makeSlider(s, &ImageSettings::saturation, &ImageSettings::setSaturation, &ImageSettings::saturationChanged,
                   QStringLiteral("Saturation:"), ImageSettings::saturationRange, QStringLiteral("saturationSlider"));
    sliderRows->addWidget(saturationSlider_);
    hueSlider_ = makeSlider(s, &ImageSettings::hue, &ImageSettings::setHue, &ImageSettings::hueChanged,
                            QStringLiteral("Hue:"), ImageSettings::hueRange, QStringLiteral("hueSlider"));
    sliderRows->addWidget(hueSlider_);
    sliderRows->addWidget(makeSlider(s, &ImageSettings::sharpeness, &ImageSettings::setSharpeness,
                                     &ImageSettings::sharpenessChanged, QStringLiteral("Sharpness"),
                                     ImageSettings::sharpenessRange, QStringLiteral("sharpnessSlider")));

    // The description stands under the picker, indented by the caption column.
    descriptionRow_ = named(new QWidget, QStringLiteral("descriptionRow"));
    auto* descriptionLayout = new QHBoxLayout(descriptionRow_);
    descriptionLayout->setContentsMargins(0, 0, 0, 0);
    descriptionLayout->setSpacing(0);
    descriptionLayout->setAlignment(Qt::AlignTop);
    descriptionLayout->addSpacing(ui::captionWidth);
    auto* text = new QHBoxLayout;
    text->setSpacing(descriptionGap);
    text->setAlignment(Qt::AlignTop);
    text->setContentsMargins(0, descriptionGap, 0, 0);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("methodIcon"));
    icon->setFixedWidth(iconCellWidth);
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    icon->setPixmap(
        symbolIcon(QStringLiteral("wand.and.stars"), ui::accentColor(palette()), iconSize).pixmap(iconSize));
    text->addWidget(icon, 0, Qt::AlignTop);
    methodDescription_ = new QLabel;
    methodDescription_->setObjectName(QStringLiteral("methodDescription"));
    methodDescription_->setWordWrap(true);
    methodDescription_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    methodDescription_->setFont(ui::footnoteFont());
    QPalette secondary = methodDescription_->palette();
    secondary.setColor(QPalette::WindowText, ui::secondaryColor(palette()));
    methodDescription_->setPalette(secondary);
    text->addWidget(methodDescription_, 1);
    descriptionLayout->addLayout(text, 1);

    for (QWidget* row :
         {bwModeRow_, static_cast<QWidget*>(thresholdSlider_), adjustmentRow_, sliders_, descriptionRow_})
        rows->addWidget(row);

    groupBox_ = makeGroupBox(content,
                             makePanelLabel(
                                 QStringLiteral("Image Settings:"), [this] { resetImageSettings(); }, true));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(groupBox_);

    followScannerBusy(groupBox_, manager);
    connect(&imageSettings_, &ImageSettings::changed, this, &ImageSettingsView::refresh);
    connect(&scanSettings_, &ScanSettings::changed, this, &ImageSettingsView::refresh);
    connect(&manager, &ScanManager::changed, this, &ImageSettingsView::refresh);
    refresh();
}

void ImageSettingsView::refresh()
{
    const bool blackAndWhite = scanSettings_.colorType() == VekColorType::blackAndWhite;
    const bool colour = scanSettings_.colorType() == VekColorType::color;
    const AdjustmentMethod method = imageSettings_.adjustmentMethod();
    const bool manual = method == AdjustmentMethod::manual;

    bwModeSegmented_->setCurrentTag(rawValue(imageSettings_.bwMode()));
    adjustmentSegmented_->setCurrentTag(rawValue(method));
    methodDescription_->setText(methodDescription(method));

    bwModeRow_->setVisible(blackAndWhite);
    thresholdSlider_->setVisible(blackAndWhite && imageSettings_.bwMode() == BWMode::manual);
    adjustmentRow_->setVisible(!blackAndWhite);
    sliders_->setVisible(!blackAndWhite && manual);
    saturationSlider_->setVisible(colour);
    hueSlider_->setVisible(colour);
    descriptionRow_->setVisible(!blackAndWhite && !manual);
}

void ImageSettingsView::loadImageSettings(QSettings& store)
{
    imageSettings_.load(store);
}

void ImageSettingsView::saveImageSettings(QSettings& store)
{
    imageSettings_.save(store);
}

void ImageSettingsView::resetImageSettings()
{
    imageSettings_.reset();
}

} // namespace lumenfield
