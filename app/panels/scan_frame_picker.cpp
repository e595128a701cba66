#include "scan_frame_picker.h"

#include "caption_row.h"
#include "combo_helpers.h"
#include "panel_style.h"
#include "property_update.h"
#include "scan_settings.h"
#include "segmented_control.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace lumenfield {

ScanFramePicker::ScanFramePicker(ScanSettings& settings, QWidget* parent)
    : QWidget(parent)
    , settings_(settings)
    , frameTypeReaction_(
          this, [this] { return settings_.scanFrameTypeRawValue(); }, [this](qint64 type) { applyFrameType(type); })
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(ui::defaultSpacing);

    frameTypeCombo_ = makeCombo(QStringLiteral("frameTypeCombo"));
    layout->addWidget(makeCaptionRow(QStringLiteral("Scan Frame:"), frameTypeCombo_));

    auto* readOut = new QHBoxLayout;
    readOut->setSpacing(0);
    readOut->addStretch(1);
    frameSizeLabel_ = new QLabel;
    frameSizeLabel_->setObjectName(QStringLiteral("frameSizeLabel"));
    frameSizeLabel_->setFont(ui::monospacedFont());
    frameSizeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    frameSizeLabel_->setContentsMargins(0, 0, ui::defaultSpacing, 0);
    readOut->addWidget(frameSizeLabel_);
    unitSegmented_ = new SegmentedControl;
    unitSegmented_->setObjectName(QStringLiteral("unitSegmented"));
    for (Unit unit : allUnits) unitSegmented_->addItem(unitLabel(unit), qint64(unit));
    unitSegmented_->setFixedWidth(ui::captionWidth);
    readOut->addWidget(unitSegmented_);
    layout->addLayout(readOut);

    onComboChosen(frameTypeCombo_, [this](qint64 type) { settings_.setScanFrameTypeRawValue(type); });
    connect(unitSegmented_, &SegmentedControl::activated, this, [this](qint64 unit) {
        unit_ = Unit(unit);
        refresh();
    });
    frameTypeReaction_.follow(&settings_, &ScanSettings::scanFrameTypeChanged);
    connect(&settings_, &ScanSettings::changed, this, &ScanFramePicker::refresh);
    refresh();
}

void ScanFramePicker::setFullScanRect(const QRectF& fullScanRect)
{
    if (sameValue(fullScanRect, fullScanRect_)) return;
    fullScanRect_ = fullScanRect;
    refresh();
}

double ScanFramePicker::scale() const
{
    return ScanSettings::previewResolution * settings_.previewImageScale();
}

void ScanFramePicker::refresh()
{
    std::vector<ComboItem> items;
    for (VekScanFrameType type : listedFrameTypes(fullScanRect_, settings_.resolution()))
        items.push_back({QString::fromLatin1(frameTypeEntry(rawValue(type))->label), rawValue(type)});
    setComboItems(frameTypeCombo_, items);
    setComboTag(frameTypeCombo_, settings_.scanFrameTypeRawValue());
    frameSizeLabel_->setText(frameSizeText(settings_.previewRect(), scale(), unit_));
    unitSegmented_->setCurrentTag(qint64(unit_));
}

void ScanFramePicker::applyFrameType(qint64 type)
{
    const std::optional<FrameUpdate> update = frameForType(type, settings_.previewRect(), scale(), fullScanRect_);
    if (!update) return;
    settings_.setPreviewRect(update->previewRect);
    if (update->customized) settings_.setScanFrameType(VekScanFrameType::customized);
}

} // namespace lumenfield
