#include "app_settings_scanner_tab_view.h"

#include "app_settings.h"
#include "clear_calibration_confirm.h"
#include "console_lines.h"
#include "exposure_ratio_segments.h"
#include "panel_style.h"
#include "scan_manager.h"
#include "scanner_info_view.h"
#include "segmented_control.h"
#include "symbol_icon.h"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int rowSpacing = 10;
constexpr int captionColumn = 120;
constexpr int noteIndent = 8;
// Keeps a caption off the control beside it.
constexpr int captionGap = 4;

// Symbols at the size of the text beside them.
int symbolSize()
{
    return QFontInfo(ui::bodyFont()).pixelSize();
}

QLabel* symbolLabel(const QString& name, const QColor& colour)
{
    auto* label = new QLabel;
    label->setObjectName(name);
    const int size = symbolSize();
    label->setPixmap(symbolIcon(name, colour, size).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

// The caption cell of a row: `text`, after `symbol` when there is one, right-aligned in the
// caption column.
QWidget* captionCell(const QString& text, QLabel* symbol = nullptr)
{
    auto* cell = new QWidget;
    cell->setFixedWidth(captionColumn);
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, captionGap, 0);
    layout->setSpacing(ui::defaultSpacing);
    layout->addStretch(1);
    if (symbol) layout->addWidget(symbol);
    auto* caption = new QLabel(text);
    caption->setObjectName(QStringLiteral("caption"));
    layout->addWidget(caption);
    return cell;
}

// A row: the caption cell, then `content` taking the rest of the width.
QWidget* makeRow(const QString& name, QWidget* caption, QWidget* content, Qt::Alignment alignment)
{
    auto* row = new QWidget;
    row->setObjectName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(caption, 0, alignment);
    layout->addWidget(content, 1, alignment);
    return row;
}

SegmentedControl* makeSegmented(const QString& name)
{
    auto* control = new SegmentedControl;
    control->setObjectName(name);
    return control;
}

} // namespace

AppSettingsScannerTabView::AppSettingsScannerTabView(AppSettings& settings, ScanManager& manager,
                                                     ClearCalibrationConfirm& confirm, QWidget* parent)
    : QWidget(parent), settings_(settings), manager_(manager), confirm_(confirm)
{
    setObjectName(QStringLiteral("scannerTab"));
    const QColor primary = ui::primaryColor(palette());
    const int iconSize = symbolSize();

    // A: the picker (made once the range is known) above the note.
    auto* exposureContent = new QWidget;
    exposureColumn_ = new QVBoxLayout(exposureContent);
    exposureColumn_->setContentsMargins(0, 0, 0, 0);
    exposureColumn_->setSpacing(ui::defaultSpacing);
    auto* note = new QWidget;
    note->setObjectName(QStringLiteral("exposureRatioNote"));
    auto* noteLayout = new QHBoxLayout(note);
    noteLayout->setContentsMargins(noteIndent, 0, 0, 0);
    noteLayout->setSpacing(ui::defaultSpacing);
    noteLayout->addWidget(symbolLabel(QStringLiteral("exclamationmark.circle.fill"), ui::red()), 0, Qt::AlignTop);
    auto* noteText = new QLabel(QStringLiteral(
        "Note: When using Smart calibration mode, adjusting the exposure ratio will automatically reset all "
        "calibration data."));
    noteText->setObjectName(QStringLiteral("noteText"));
    noteText->setFont(ui::captionFont());
    noteText->setWordWrap(true);
    noteLayout->addWidget(noteText, 1, Qt::AlignTop);
    exposureColumn_->addWidget(note);
    QWidget* exposureCaption =
        captionCell(QStringLiteral("Exposure Ratio:"), symbolLabel(QStringLiteral("microbe"), primary));
    exposureRow_ = makeRow(QStringLiteral("exposureRatioRow"), exposureCaption, exposureContent, Qt::AlignTop);

    // B
    quality_ = makeSegmented(QStringLiteral("scanQualitySegmented"));
    quality_->addItem(QStringLiteral("Speed"), rawValue(VekScanQuality::speed),
                      symbolIcon(QStringLiteral("hare"), primary, iconSize));
    quality_->addItem(QStringLiteral("Quality"), rawValue(VekScanQuality::quality),
                      symbolIcon(QStringLiteral("tortoise"), primary, iconSize));
    for (int i = 0; i < quality_->count(); i++) quality_->button(i)->setIconSize(QSize(iconSize, iconSize));
    qualityRow_ = makeRow(QStringLiteral("scanQualityRow"), captionCell(QStringLiteral("Scan Quality:")), quality_,
                          Qt::AlignVCenter);
    // The top-aligned caption of A lines up with its picker's text.
    exposureCaption->setFixedHeight(quality_->sizeHint().height());

    // C
    calibrationMode_ = makeSegmented(QStringLiteral("calibrationModeSegmented"));
    calibrationMode_->addItem(QStringLiteral("Smart"), rawValue(VekCalibrationMode::smart));
    calibrationMode_->addItem(QStringLiteral("Typical"), rawValue(VekCalibrationMode::typical));
    calibrationRow_ = makeRow(QStringLiteral("calibrationModeRow"), captionCell(QStringLiteral("Calibration Mode:")),
                              calibrationMode_, Qt::AlignVCenter);

    // D
    clearButton_ = new QToolButton;
    clearButton_->setObjectName(QStringLiteral("clearCalibrationButton"));
    clearButton_->setAutoRaise(true);
    clearButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    clearButton_->setIcon(symbolIcon(QStringLiteral("minus.circle.fill"), ui::red(), iconSize));
    clearButton_->setIconSize(QSize(iconSize, iconSize));
    clearButton_->setText(QStringLiteral("Clear"));
    QPalette red = clearButton_->palette();
    red.setColor(QPalette::ButtonText, ui::red());
    clearButton_->setPalette(red);
    auto* clearCell = new QWidget;
    auto* clearLayout = new QHBoxLayout(clearCell);
    clearLayout->setContentsMargins(9, 3, 0, 3);
    clearLayout->addWidget(clearButton_);
    clearLayout->addStretch(1);
    dataRow_ = makeRow(QStringLiteral("calibrationDataRow"), captionCell(QStringLiteral("Calibration Data:")),
                       clearCell, Qt::AlignVCenter);

    auto* rowsLayout = new QVBoxLayout;
    rowsLayout->setSpacing(rowSpacing);
    rowsLayout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    for (QWidget* row : rows()) rowsLayout->addWidget(row);

    infoRow_ = new QHBoxLayout;
    infoRow_->setContentsMargins(0, 0, 0, 0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, ui::defaultPadding);
    layout->addLayout(rowsLayout);
    layout->addStretch(1);
    layout->addLayout(infoRow_);

    connect(quality_, &SegmentedControl::activated, this,
            [this](qint64 tag) { settings_.setScanQualityRawValue(tag); });
    connect(calibrationMode_, &SegmentedControl::activated, this,
            [this](qint64 tag) { settings_.setCalibrationModeRawValue(tag); });
    connect(clearButton_, &QToolButton::clicked, this, &AppSettingsScannerTabView::confirmClearCalibrationData);
    connect(&settings_, &AppSettings::changed, this, &AppSettingsScannerTabView::refresh);
    connect(&manager_, &ScanManager::changed, this, &AppSettingsScannerTabView::refresh);
    refresh();
}

std::vector<QWidget*> AppSettingsScannerTabView::rows() const
{
    return {exposureRow_, qualityRow_, calibrationRow_, dataRow_};
}

std::optional<ScannerRange> AppSettingsScannerTabView::exposureRange() const
{
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    if (!scanner) return std::nullopt;
    return scanner->capabilities().shrinkableExposureRange;
}

QString AppSettingsScannerTabView::exposureRatioLabel(int32_t position) const
{
    return lumenfield::exposureRatioLabel(exposureRange(), position);
}

qint64 AppSettingsScannerTabView::exposureRatioValue(int32_t position) const
{
    return lumenfield::exposureRatioValue(exposureRange(), position);
}

void AppSettingsScannerTabView::refresh()
{
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    // Read anew each time: the capabilities are not watched.
    const ScannerCapabilities capabilities = scanner ? scanner->capabilities() : ScannerCapabilities{};
    const std::vector<ExposureRatioSegment> segments = scanner && capabilities.isSupportShrinkableExposureRatio == 1
        ? exposureRatioSegments(capabilities.shrinkableExposureRange)
        : std::vector<ExposureRatioSegment>{};
    setExposureSegments(segments);
    if (exposureRatio_) exposureRatio_->setCurrentTag(settings_.exposureRatio());
    exposureRow_->setVisible(!segments.empty());

    quality_->setCurrentTag(settings_.scanQualityRawValue());
    const bool smartCalibration = scanner && capabilities.isSupportSmartCalibration == 1;
    calibrationMode_->setCurrentTag(settings_.calibrationModeRawValue());
    calibrationRow_->setVisible(smartCalibration);
    dataRow_->setVisible(smartCalibration && settings_.calibrationMode() == VekCalibrationMode::smart);

    rebuildScannerInfo(scanner);
}

void AppSettingsScannerTabView::setExposureSegments(const std::vector<ExposureRatioSegment>& segments)
{
    std::vector<std::pair<QString, qint64>> wanted;
    for (const ExposureRatioSegment& segment : segments) wanted.emplace_back(segment.label, segment.value);
    if (wanted == exposureShown_) return;
    exposureShown_ = wanted;
    if (exposureRatio_) {
        // Later: this may run inside the old picker's own click.
        exposureColumn_->removeWidget(exposureRatio_);
        exposureRatio_->hide();
        exposureRatio_->deleteLater();
        exposureRatio_ = nullptr;
    }
    if (wanted.empty()) return;
    exposureRatio_ = makeSegmented(QStringLiteral("exposureRatioSegmented"));
    for (const auto& [label, value] : wanted) exposureRatio_->addItem(label, value);
    connect(exposureRatio_, &SegmentedControl::activated, this,
            [this](qint64 tag) { settings_.setExposureRatio(tag); });
    exposureColumn_->insertWidget(0, exposureRatio_);
}

void AppSettingsScannerTabView::rebuildScannerInfo(const std::shared_ptr<QuorvaneScanner>& scanner)
{
    delete infoView_;
    infoView_ = nullptr;
    if (!scanner) return;
    infoView_ = new ScannerInfoView(scanner->info());
    infoRow_->addWidget(infoView_, 0, Qt::AlignHCenter);
}

void AppSettingsScannerTabView::confirmClearCalibrationData()
{
    if (!confirm_.confirmClear(this)) return;
    // The scanner may have gone while the question was open.
    const std::shared_ptr<QuorvaneScanner> scanner = manager_.scanner();
    if (!scanner || manager_.scanStatus() == rawValue(VekScanStatus::notConnected)) {
        confirm_.showClearResult(this, false,
                                 QStringLiteral("The calibration data could not be cleared: no scanner is connected."));
        return;
    }
    // On the worker, behind any scan in progress; the answer comes back to the GUI thread, where
    // the session outlives the tab.
    ScanManager* manager = &manager_;
    manager_.runOnWorker([scanner, manager, confirm = &confirm_, tab = QPointer<AppSettingsScannerTabView>(this)] {
        const bool cleared = scanner->clearAllCalibrationData();
        const int16_t answer = scanner->lastError().answer.code();
        QMetaObject::invokeMethod(
            manager,
            [cleared, answer, confirm, tab] {
                printLine(cleared ? "Calibration data cleared" : "Failed to clear calibration data");
                confirm->showClearResult(tab, cleared,
                                         cleared ? QStringLiteral("The calibration data were cleared.")
                                                 : QStringLiteral("The calibration data could not be cleared (driver "
                                                                  "code %1).")
                                                       .arg(answer));
            },
            Qt::QueuedConnection);
    });
}

} // namespace lumenfield
