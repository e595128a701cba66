#include "output_settings_view.h"

#include "app_settings.h"
#include "caption_row.h"
#include "combo_helpers.h"
#include "elided_label.h"
#include "enum_segmented.h"
#include "folder_chooser.h"
#include "group_box.h"
#include "output_file_name.h"
#include "output_settings.h"
#include "panel_style.h"
#include "scan_manager.h"
#include "segmented_control.h"
#include "symbol_icon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include <charconv>
#include <optional>

namespace lumenfield {

namespace {

constexpr int captionWidth = 90;
constexpr int rowSpacing = 10;
constexpr int bannerHeight = 64;
constexpr int bannerBorder = 3;
constexpr qreal bannerRadius = 4;
constexpr int dividerPadding = 5;
constexpr int numberWidth = 50;
// Room between the folder button's border and its text.
constexpr int pathInset = 6;

const QColor sampleNameColor = QColor::fromRgbF(0.99f, 0.95f, 0.81f);

// The folder button: the path elided in the middle to the button's width, the whole path as its
// tooltip. It asks for the width of the whole path but accepts less.
class PathButton : public QPushButton {
public:
    PathButton()
    {
        setObjectName(QStringLiteral("directoryButton"));
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    void setPath(const QString& path)
    {
        setToolTip(path);
        if (path == path_ && !text().isEmpty()) return;
        path_ = path;
        updateGeometry();
        elide();
    }

    QSize sizeHint() const override { return sizeFor(path_); }
    QSize minimumSizeHint() const override { return QSize(sizeFor(QString()).width(), sizeHint().height()); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QPushButton::resizeEvent(event);
        elide();
    }

private:
    QSize sizeFor(const QString& text) const
    {
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = text;
        const QSize contents(fontMetrics().horizontalAdvance(text) + 2 * pathInset, fontMetrics().height());
        return style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, this);
    }
    void elide()
    {
        const int room = qMax(width() - sizeFor(QString()).width(), 0);
        setText(fontMetrics().horizontalAdvance(path_) <= room
                    ? path_
                    : fontMetrics().elidedText(path_, Qt::ElideMiddle, room));
    }

    QString path_;
};

QLabel* outputCaption(const QString& text)
{
    QLabel* caption = makeCaption(text);
    caption->setFixedWidth(captionWidth);
    return caption;
}

// A row of the caption column: the caption, `gap` px, then `control` taking the rest of the width.
QWidget* makeRow(const QString& caption, QWidget* control, int gap = 0)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(outputCaption(caption));
    layout->addSpacing(gap);
    layout->addWidget(control, 1);
    return row;
}

QFrame* makeDivider(int padding = 0)
{
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    divider->setContentsMargins(0, padding, 0, padding);
    divider->setFixedHeight(divider->sizeHint().height() + 2 * padding);
    return divider;
}

// Text made of an optional minus and decimal digits that fits in 64 bits; anything else is no number.
std::optional<qint64> parseSuffixNumber(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    if (QString::fromLatin1(bytes) != text) return std::nullopt;
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    const char* digits = begin != end && *begin == '-' ? begin + 1 : begin;
    if (digits == end) return std::nullopt;
    for (const char* c = digits; c != end; c++)
        if (*c < '0' || *c > '9') return std::nullopt;
    long long value = 0;
    const std::from_chars_result result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return qint64(value);
}

} // namespace

SampleFileBanner::SampleFileBanner(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sampleFileBanner"));
    setFixedHeight(bannerHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    name_ = new ElidedLabel(Qt::ElideRight);
    name_->setObjectName(QStringLiteral("sampleNameLabel"));
    name_->setFont(ui::titleFont());
    QPalette namePalette = name_->palette();
    namePalette.setColor(QPalette::WindowText, sampleNameColor);
    name_->setPalette(namePalette);

    path_ = new ElidedLabel(Qt::ElideMiddle);
    path_->setObjectName(QStringLiteral("samplePathLabel"));
    path_->setFont(ui::captionFont());
    QPalette pathPalette = path_->palette();
    pathPalette.setColor(QPalette::WindowText, ui::gray());
    path_->setPalette(pathPalette);

    warning_ = new QLabel;
    warning_->setObjectName(QStringLiteral("sampleWarningIcon"));
    const int iconSize = QFontInfo(ui::captionFont()).pixelSize() + 2;
    warning_->setPixmap(
        symbolIcon(QStringLiteral("exclamationmark.triangle"), ui::yellow(), iconSize).pixmap(iconSize));
    warning_->setToolTip(
        QStringLiteral("The file already exists, you will be asked whether to overwrite after scanning is completed"));
    warning_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2 * bannerBorder, 0, 2 * bannerBorder, 0);
    layout->setSpacing(ui::defaultSpacing);
    layout->addStretch(1);
    auto* nameRow = new QHBoxLayout;
    nameRow->addStretch(1);
    nameRow->addWidget(name_);
    nameRow->addStretch(1);
    layout->addLayout(nameRow);
    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(ui::defaultSpacing);
    pathRow->addStretch(1);
    pathRow->addWidget(path_);
    pathRow->addWidget(warning_);
    pathRow->addStretch(1);
    layout->addLayout(pathRow);
    layout->addStretch(1);
}

void SampleFileBanner::showSample(const QString& name, const QString& path, bool exists)
{
    name_->setFullText(name);
    path_->setFullText(path);
    warning_->setVisible(exists);
    if (exists != exists_) {
        exists_ = exists;
        update();
    }
}

QColor SampleFileBanner::borderColor() const
{
    return exists_ ? ui::yellow() : QColor(Qt::white);
}

void SampleFileBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A fixed dark fill, so that the cream name stays readable under any palette.
    painter.setBrush(ui::blackAtOpacity(0.85));
    painter.setPen(QPen(borderColor(), bannerBorder));
    const qreal half = bannerBorder / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), bannerRadius, bannerRadius);
}

OutputSettingsView::OutputSettingsView(OutputSettings& outputSettings, AppSettings& appSettings, ScanManager& manager,
                                       FolderChooser& folderChooser, QWidget* parent)
    : QWidget(parent)
    , settings_(outputSettings)
    , appSettings_(appSettings)
    , folderChooser_(folderChooser)
    , today_([] { return QDate::currentDate(); })
    , prefixTypeReaction_(
          this, [this] { return settings_.prefixType(); }, [this](PrefixType type) { prefixTypeChanged(type); })
{
    OutputSettings& s = settings_;
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ui::defaultSpacing);
    banner_ = new SampleFileBanner;
    column->addWidget(banner_);
    auto* rows = new QVBoxLayout;
    rows->setSpacing(rowSpacing);
    rows->setContentsMargins(ui::defaultPadding, 0, ui::defaultPadding, 0);
    column->addLayout(rows);

    // 1. The folder, with a stretch after the button.
    auto* directoryRow = new QWidget;
    auto* directoryLayout = new QHBoxLayout(directoryRow);
    directoryLayout->setContentsMargins(0, 4, 0, 0);
    directoryLayout->setSpacing(0);
    directoryLayout->addWidget(outputCaption(QStringLiteral("Directory:")));
    directoryLayout->addSpacing(9);
    auto* pathButton = new PathButton;
    directoryButton_ = pathButton;
    directoryLayout->addWidget(directoryButton_);
    directoryLayout->addStretch(1);
    connect(directoryButton_, &QPushButton::clicked, this, &OutputSettingsView::chooseDirectory);
    rows->addWidget(directoryRow);
    rows->addWidget(makeDivider());

    // 3, 4. The prefix.
    prefixTypeSegmented_ = makeEnumSegmented<PrefixType>(QStringLiteral("prefixTypeSegmented"),
                                                         [&s](PrefixType type) { s.setPrefixType(type); });
    rows->addWidget(makeRow(QStringLiteral("Prefix Type:"), prefixTypeSegmented_));
    prefixEdit_ = new QLineEdit;
    prefixEdit_->setObjectName(QStringLiteral("prefixEdit"));
    prefixEdit_->setPlaceholderText(QStringLiteral("Prffiex:"));
    connect(prefixEdit_, &QLineEdit::textEdited, this, [&s](const QString& text) { s.setPrefix(text); });
    rows->addWidget(makeRow(QStringLiteral("Prefix:"), prefixEdit_, 8));

    // 5. The number suffix.
    auto* suffixRow = new QWidget;
    auto* suffixLayout = new QHBoxLayout(suffixRow);
    suffixLayout->setContentsMargins(0, 0, 0, 0);
    suffixLayout->setSpacing(0);
    auto* suffixCell = new QWidget;
    suffixCell->setFixedWidth(captionWidth);
    auto* suffixCellLayout = new QHBoxLayout(suffixCell);
    suffixCellLayout->setContentsMargins(0, 0, 0, 0);
    suffixCheck_ = new QCheckBox(QStringLiteral("Suffix:"));
    suffixCheck_->setObjectName(QStringLiteral("suffixCheck"));
    suffixCellLayout->addStretch(1);
    suffixCellLayout->addWidget(suffixCheck_);
    suffixLayout->addWidget(suffixCell);
    auto* suffixControls = new QHBoxLayout;
    suffixControls->setContentsMargins(8, 0, 0, 0);
    suffixControls->setSpacing(ui::defaultSpacing);
    suffixNumberEdit_ = new QLineEdit;
    suffixNumberEdit_->setObjectName(QStringLiteral("suffixNumberEdit"));
    suffixNumberEdit_->setPlaceholderText(QStringLiteral("Number:"));
    suffixNumberEdit_->setFixedWidth(numberWidth);
    suffixControls->addWidget(suffixNumberEdit_);
    suffixLengthLabel_ = new QLabel(QStringLiteral("Length:"));
    suffixLengthLabel_->setObjectName(QStringLiteral("suffixLengthLabel"));
    suffixControls->addWidget(suffixLengthLabel_);
    suffixLengthSegmented_ = new SegmentedControl;
    suffixLengthSegmented_->setObjectName(QStringLiteral("suffixLengthSegmented"));
    for (qint64 length = OutputSettings::suffixLengths.min; length <= OutputSettings::suffixLengths.max; length++)
        suffixLengthSegmented_->addItem(QString::number(length), length);
    suffixControls->addWidget(suffixLengthSegmented_, 1);
    suffixLayout->addLayout(suffixControls, 1);
    connect(suffixCheck_, &QCheckBox::clicked, this, [&s](bool on) { s.setAutoSuffix(on); });
    connect(suffixNumberEdit_, &QLineEdit::editingFinished, this, &OutputSettingsView::takeSuffixNumber);
    connect(suffixLengthSegmented_, &SegmentedControl::activated, this,
            [&s](qint64 length) { s.setSuffixLength(length); });
    rows->addWidget(suffixRow);
    rows->addWidget(makeDivider(dividerPadding));

    // 7 to 9. The format and its options.
    formatSegmented_ = makeEnumSegmented<OutputFormat>(QStringLiteral("formatSegmented"),
                                                       [&s](OutputFormat format) { s.setFormat(format); });
    rows->addWidget(makeRow(QStringLiteral("Format:"), formatSegmented_));
    compressionSegmented_ =
        makeEnumSegmented<TIFFCompression>(QStringLiteral("compressionSegmented"),
                                           [&s](TIFFCompression compression) { s.setTiffCompression(compression); });
    compressionRow_ = makeRow(QStringLiteral("Compression:"), compressionSegmented_);
    compressionRow_->setObjectName(QStringLiteral("compressionRow"));
    rows->addWidget(compressionRow_);
    qualityCombo_ = makeCombo(QStringLiteral("qualityCombo"));
    for (JPEGQuality quality : allCases<JPEGQuality>()) {
        if (quality == JPEGQuality::high || quality == JPEGQuality::lowest)
            qualityCombo_->insertSeparator(qualityCombo_->count());
        qualityCombo_->addItem(displayName(quality), rawValue(quality));
    }
    onComboChosen(qualityCombo_, [&s](qint64 tag) {
        if (const std::optional<JPEGQuality> quality = fromRawValue<JPEGQuality>(tag)) s.setJpegQuality(*quality);
    });
    qualityRow_ = makeRow(QStringLiteral("Quality:"), qualityCombo_, 1);
    qualityRow_->setObjectName(QStringLiteral("qualityRow"));
    rows->addWidget(qualityRow_);
    rows->addWidget(makeDivider(dividerPadding));

    // 11. The colour profile, its caption at the top.
    auto* profileRow = new QWidget;
    auto* profileLayout = new QHBoxLayout(profileRow);
    profileLayout->setContentsMargins(0, 0, 0, 0);
    profileLayout->setSpacing(0);
    QLabel* profileCaption = outputCaption(QStringLiteral("ICC Profile:"));
    profileLayout->addWidget(profileCaption, 0, Qt::AlignTop);
    auto* profileControls = new QVBoxLayout;
    profileControls->setSpacing(ui::defaultSpacing);
    embedProfileCheck_ = new QCheckBox(QStringLiteral("Embed ICC Destination Profile"));
    embedProfileCheck_->setObjectName(QStringLiteral("embedProfileCheck"));
    // The caption stands level with the checkbox beside it.
    profileCaption->setFixedHeight(embedProfileCheck_->sizeHint().height());
    auto* embedLine = new QHBoxLayout;
    embedLine->setContentsMargins(8, 0, 0, 0);
    embedLine->addWidget(embedProfileCheck_);
    profileControls->addLayout(embedLine);
    iccProfileCombo_ = makeCombo(QStringLiteral("iccProfileCombo"));
    std::vector<ComboItem> profiles;
    for (ICCProfile profile : allCases<ICCProfile>()) profiles.emplace_back(displayName(profile), rawValue(profile));
    setComboItems(iccProfileCombo_, profiles);
    auto* profileLine = new QHBoxLayout;
    profileLine->setContentsMargins(1, 0, 0, 0);
    profileLine->addWidget(iccProfileCombo_);
    profileControls->addLayout(profileLine);
    profileLayout->addLayout(profileControls, 1);
    connect(embedProfileCheck_, &QCheckBox::clicked, this, [&s](bool on) { s.setEmbeddedICCProfile(on); });
    onComboChosen(iccProfileCombo_, [&s](qint64 tag) {
        if (const std::optional<ICCProfile> profile = fromRawValue<ICCProfile>(tag)) s.setIccProfile(*profile);
    });
    rows->addWidget(profileRow);

    groupBox_ = makeGroupBox(content,
                             makePanelLabel(
                                 QStringLiteral("Output Settings:"), [this] { resetOutputSettings(); }, false));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(groupBox_);

    followScannerBusy(groupBox_, manager);
    prefixTypeReaction_.follow(&settings_, &OutputSettings::prefixTypeChanged);
    connect(&settings_, &OutputSettings::suffixNumberChanged, this, &OutputSettingsView::showSuffixNumber);
    connect(&settings_, &OutputSettings::changed, this, &OutputSettingsView::refresh);
    connect(&appSettings_, &AppSettings::changed, this, &OutputSettingsView::refresh);
    connect(&manager, &ScanManager::changed, this, &OutputSettingsView::refresh);
    showSuffixNumber();
    refresh();
}

void OutputSettingsView::setTodayProvider(std::function<QDate()> today)
{
    today_ = std::move(today);
}

QString OutputSettingsView::todayString() const
{
    return lumenfield::todayString(today_());
}

QString OutputSettingsView::sampleFileName() const
{
    return composeOutputName(settings_.prefix(), settings_.isAutoSuffix(), settings_.suffixNumber(),
                             settings_.suffixLength(), settings_.format());
}

QString OutputSettingsView::sampleFilePath() const
{
    return settings_.directoryPath() + u'/' + sampleFileName();
}

void OutputSettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void OutputSettingsView::refresh()
{
    const OutputSettings& s = settings_;
    // The file that a scan would write, which is the sample lower-cased.
    banner_->showSample(sampleFileName(), sampleFilePath(), QFileInfo::exists(outputFilePath(s)));
    static_cast<PathButton*>(directoryButton_)->setPath(s.directoryPath());

    prefixTypeSegmented_->setCurrentTag(rawValue(s.prefixType()));
    if (prefixEdit_->text() != s.prefix()) {
        showing(prefixEdit_, [&] {
            const int cursor = prefixEdit_->cursorPosition();
            prefixEdit_->setText(s.prefix());
            prefixEdit_->setCursorPosition(qMin(cursor, int(s.prefix().size())));
        });
    }
    prefixEdit_->setEnabled(s.prefixType() != PrefixType::date);

    showing(suffixCheck_, [&] { suffixCheck_->setChecked(s.isAutoSuffix()); });
    suffixLengthSegmented_->setCurrentTag(s.suffixLength());
    for (QWidget* control : {static_cast<QWidget*>(suffixNumberEdit_), static_cast<QWidget*>(suffixLengthLabel_),
                             static_cast<QWidget*>(suffixLengthSegmented_)})
        control->setEnabled(s.isAutoSuffix());

    formatSegmented_->setCurrentTag(rawValue(s.format()));
    compressionSegmented_->setCurrentTag(rawValue(s.tiffCompression()));
    setComboTag(qualityCombo_, rawValue(s.jpegQuality()));
    compressionRow_->setVisible(s.format() == OutputFormat::tiff);
    qualityRow_->setVisible(s.format() == OutputFormat::jpeg);

    showing(embedProfileCheck_, [&] { embedProfileCheck_->setChecked(s.isEmbeddedICCProfile()); });
    setComboTag(iccProfileCombo_, rawValue(s.iccProfile()));
    iccProfileCombo_->setEnabled(s.isEmbeddedICCProfile());
}

void OutputSettingsView::showSuffixNumber()
{
    showing(suffixNumberEdit_, [&] { suffixNumberEdit_->setText(QString::number(settings_.suffixNumber())); });
}

void OutputSettingsView::takeSuffixNumber()
{
    if (const std::optional<qint64> number = parseSuffixNumber(suffixNumberEdit_->text()))
        settings_.setSuffixNumber(*number);
    // Unreadable text goes back to the number in force; a readable one is shown as the model has it.
    showSuffixNumber();
}

void OutputSettingsView::prefixTypeChanged(PrefixType type)
{
    if (type == PrefixType::date) {
        prefixText_ = settings_.prefix();
        settings_.setPrefix(todayString());
    } else {
        settings_.setPrefix(prefixText_);
    }
}

void OutputSettingsView::chooseDirectory()
{
    if (const std::optional<QString> folder = folderChooser_.chooseFolder(this, settings_.directoryPath()))
        settings_.setDirectoryPath(*folder);
}

void OutputSettingsView::loadOutputSettings(QSettings& store)
{
    settings_.load(store, appSettings_.isResetSuffixForNewDay(), today_());
    // What the load set is what the panel has seen: its prefix stays.
    prefixTypeReaction_.resync();
}

void OutputSettingsView::saveOutputSettings(QSettings& store)
{
    settings_.save(store);
}

void OutputSettingsView::resetOutputSettings()
{
    settings_.reset();
    // A new day's prefix is today's date as this panel counts days.
    if (settings_.prefixType() == PrefixType::date) settings_.setPrefix(todayString());
}

} // namespace lumenfield
