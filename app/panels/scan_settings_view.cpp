#include "scan_settings_view.h"

#include "caption_row.h"
#include "combo_helpers.h"
#include "group_box.h"
#include "panel_style.h"
#include "scan_frame_picker.h"
#include "scan_manager.h"
#include "scan_settings.h"
#include "scan_settings_rules.h"

#include <QLabel>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int rowSpacing = 10;

QLabel* noScanner()
{
    return makePlaceholder(QStringLiteral("No Scanner Connected"));
}

} // namespace

ScanSettingsView::ScanSettingsView(ScanSettings& settings, ScanManager& manager, QWidget* parent)
    : QWidget(parent)
    , settings_(settings)
    , manager_(manager)
    , resolutionReaction_(
          this, [this] { return settings_.resolution(); }, [this](qint64) { fitFrame(); })
{
    auto* content = new QWidget;
    rows_ = new QVBoxLayout(content);
    rows_->setSpacing(rowSpacing);
    rows_->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    colorTypeCombo_ = makeCombo(QStringLiteral("colorTypeCombo"));
    sourceRow_ = noScanner();
    resolutionRow_ = noScanner();
    frameRow_ = noScanner();
    rows_->addWidget(sourceRow_);
    rows_->addWidget(makeCaptionRow(QStringLiteral("Color Type:"), colorTypeCombo_));
    rows_->addWidget(resolutionRow_);
    rows_->addWidget(frameRow_);

    groupBox_ = makeGroupBox(content,
                             makePanelLabel(
                                 QStringLiteral("Scan Settings:"), [this] { resetScanSettings(); }, true));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(groupBox_);

    onComboChosen(colorTypeCombo_, [this](qint64 tag) { settings_.setColorTypeRawValue(tag); });
    followScannerBusy(groupBox_, manager_);
    resolutionReaction_.follow(&settings_, &ScanSettings::resolutionChanged);
    // The source's area changes with the source and the scanner; the frame's size in inches with the
    // preview's scale when it is set apart from the frame.
    connect(&settings_, &ScanSettings::scanSourceChanged, this, &ScanSettingsView::scheduleFit);
    connect(&settings_, &ScanSettings::previewImageScaleChanged, this, &ScanSettingsView::scheduleFit);
    connect(&manager_, &ScanManager::changed, this, &ScanSettingsView::scheduleFit);
    connect(&settings_, &ScanSettings::changed, this, &ScanSettingsView::refresh);
    connect(&manager_, &ScanManager::changed, this, &ScanSettingsView::refresh);
    refresh();
}

void ScanSettingsView::replaceRow(QWidget*& row, QWidget* replacement)
{
    delete rows_->replaceWidget(row, replacement); // the old row's layout item is ours to free
    delete row;
    row = replacement;
}

void ScanSettingsView::showScannerRows(bool present)
{
    scannerRows_ = present;
    if (!present) {
        scanSourceCombo_ = resolutionCombo_ = nullptr;
        framePicker_ = nullptr;
        replaceRow(sourceRow_, noScanner());
        replaceRow(resolutionRow_, noScanner());
        replaceRow(frameRow_, noScanner());
        return;
    }
    scanSourceCombo_ = makeCombo(QStringLiteral("scanSourceCombo"));
    onComboChosen(scanSourceCombo_, [this](qint64 tag) { settings_.setScanSourceRawValue(tag); });
    replaceRow(sourceRow_, makeCaptionRow(QStringLiteral("Scan Source:"), scanSourceCombo_));
    resolutionCombo_ = makeCombo(QStringLiteral("resolutionCombo"));
    onComboChosen(resolutionCombo_, [this](qint64 tag) { settings_.setResolution(tag); });
    replaceRow(resolutionRow_, makeCaptionRow(QStringLiteral("Resolution:"), resolutionCombo_));
    framePicker_ = new ScanFramePicker(settings_);
    framePicker_->setObjectName(QStringLiteral("scanFramePicker"));
    replaceRow(frameRow_, framePicker_);
}

void ScanSettingsView::refresh()
{
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    if (bool(scanner) != scannerRows_) showScannerRows(bool(scanner));
    setComboItems(colorTypeCombo_, colorTypeItems());
    setComboTag(colorTypeCombo_, settings_.colorTypeRawValue());
    if (!scanner) return;
    const SCANNERINFO info = scanner->info();
    const ScannerCapabilities capabilities = scanner->capabilities();
    const std::vector<qint64> resolutions = resolutionChoices(maxResolution(info.masterModelCode, info.subModelCode));
    // A resolution of another model would be scanned although the box shows none: the nearest one
    // offered takes its place, and that change refreshes the panel again.
    if (const qint64 offered = nearestResolution(resolutions, settings_.resolution());
        offered != settings_.resolution()) {
        settings_.setResolution(offered);
        return;
    }
    setComboItems(scanSourceCombo_, scanSourceItems(capabilities.sources));
    setComboTag(scanSourceCombo_, settings_.scanSourceRawValue());
    setComboItems(resolutionCombo_, resolutionItems(resolutions));
    setComboTag(resolutionCombo_, settings_.resolution());
    framePicker_->setFullScanRect(sourceScanArea(capabilities, settings_.scanSourceRawValue()));
}

QRectF ScanSettingsView::sourceArea() const
{
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    return scanner ? sourceScanArea(scanner->capabilities(), settings_.scanSourceRawValue()) : QRectF();
}

void ScanSettingsView::scheduleFit()
{
    if (fitScheduled_) return;
    fitScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { fitFrame(); }, Qt::QueuedConnection);
}

void ScanSettingsView::fitFrame()
{
    fitScheduled_ = false;
    const QRectF area = sourceArea();
    if (area.isEmpty()) return;
    const double scale = ScanSettings::previewResolution * settings_.previewImageScale();
    const FrameUpdate onArea = fitFrameToArea(settings_.previewRect(), scale, settings_.scanFrameTypeRawValue(), area,
                                              ScanSettings::defaultPreviewRect());
    const FrameUpdate limited = clampScanFrame(onArea.previewRect, scale, settings_.resolution(), area);
    settings_.setPreviewRect(limited.previewRect);
    if (onArea.customized || limited.customized) settings_.setScanFrameType(VekScanFrameType::customized);
}

void ScanSettingsView::loadScanSettings(QSettings& store)
{
    settings_.load(store);
    // A stored frame is checked against the glass and the resolution once the load has finished,
    // whether or not the load changed what the reactions follow.
    scheduleFit();
}

void ScanSettingsView::saveScanSettings(QSettings& store)
{
    settings_.save(store);
}

void ScanSettingsView::resetScanSettings()
{
    settings_.reset();
}

} // namespace lumenfield
