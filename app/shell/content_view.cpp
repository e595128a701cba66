#include "content_view.h"

#include "app_settings.h"
#include "image_settings_view.h"
#include "output_settings_view.h"
#include "panel_style.h"
#include "preview_image_view.h"
#include "scan_manager.h"
#include "scan_settings_view.h"
#include "symbol_icon.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

namespace lumenfield {

namespace {

constexpr int kColumnWidth = 400;
constexpr int kSymbolSize = 18;

// A column of panels 400 wide, padded on every side, the panels at its top.
QWidget* makeColumn(const char* name, std::initializer_list<QWidget*> panels)
{
    auto* column = new QWidget;
    column->setObjectName(QLatin1String(name));
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    layout->setSpacing(16);
    for (QWidget* panel : panels) layout->addWidget(panel);
    layout->addStretch();
    column->setFixedWidth(kColumnWidth + 2 * ui::defaultPadding);
    return column;
}

QToolButton* makeToolButton(const char* name, const QString& text)
{
    auto* button = new QToolButton;
    button->setObjectName(QLatin1String(name));
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(kSymbolSize, kSymbolSize));
    return button;
}

QWidget* makeSpacer()
{
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return spacer;
}

} // namespace

ContentView::ContentView(ScanManager& scanManager, AppSettings& appSettings, ScanSettings& scanSettings,
                         ImageSettings& imageSettings, ScanFrameCrop& frameCrop, OutputSettings& outputSettings,
                         std::function<void()> openSettings, QWidget* parent)
    : QMainWindow(parent)
    , scanManager_(scanManager)
    , appSettings_(appSettings)
    , scanSettings_(scanSettings)
    , openSettings_(std::move(openSettings))
    , controller_(
          new ContentController(scanManager, appSettings, scanSettings, imageSettings, frameCrop, outputSettings, this))
{
    setObjectName(QStringLiteral("main-window"));
    setWindowTitle(QString());
    controller_->setSaveDialogs(std::make_shared<MessageBoxSaveDialogs>(this));

    scanView_ = new ScanSettingsView(scanSettings, scanManager);
    imageView_ = new ImageSettingsView(imageSettings, scanSettings, scanManager);
    outputView_ = new OutputSettingsView(outputSettings, appSettings, scanManager, folderChooser_);

    auto* previewArea = new QWidget;
    previewArea->setObjectName(QStringLiteral("previewArea"));
    previewArea->setMinimumSize(600, 800);
    previewArea->setPalette(QPalette(QColor::fromRgbF(0.19f, 0.19f, 0.21f)));
    previewArea->setAutoFillBackground(true);
    pane_ = new PreviewImageView(scanManager, scanSettings, imageSettings, frameCrop);
    auto* previewLayout = new QVBoxLayout(previewArea);
    previewLayout->setContentsMargins(16, 16, 16, 16);
    previewLayout->addWidget(pane_);

    auto* central = new QWidget;
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(ui::defaultSpacing);
    columns->addWidget(makeColumn("leftColumn", {scanView_, imageView_}));
    columns->addWidget(previewArea, 1);
    columns->addWidget(makeColumn("rightColumn", {outputView_}));
    setCentralWidget(central);

    buildToolbar();
    buildMenus();

    connect(controller_, &ContentController::actionStateChanged, this, &ContentView::showActions);
    connect(controller_, &ContentController::rawPreviewChanged, this, &ContentView::showPreview);
    connect(&scanSettings_, &ScanSettings::scanSourceChanged, this, &ContentView::showPreview);
    connect(&appSettings_, &AppSettings::exposureRatioChanged, this, &ContentView::showExposureRatio);
    showActions();
    showExposureRatio();
    showPreview();
}

QString ContentView::exposureRatioText(qint64 exposureRatio)
{
    // C's rounding of the binary value: 125 reads 1.2, 95 reads 0.9.
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", double(exposureRatio) / 100.0);
    return QString::fromLatin1(text);
}

const QString& ContentView::exposureWarning()
{
    static const QString text =
        QStringLiteral("Because the exposure is not the normal value, the scanning result may not be accurate.");
    return text;
}

void ContentView::buildToolbar()
{
    auto* bar = new QToolBar;
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addToolBar(bar);

    const QColor primary = ui::primaryColor(palette());
    const QColor secondary = ui::secondaryColor(palette());

    badge_ = new QLabel;
    badge_->setObjectName(QStringLiteral("productBadge"));
    const QColor fill = ui::gray();
    badge_->setStyleSheet(QStringLiteral("QLabel { color: black; background: rgba(%1, %2, %3, 10%); padding: 8px; "
                                         "border-radius: 8px; }")
                              .arg(fill.red())
                              .arg(fill.green())
                              .arg(fill.blue()));

    settingsButton_ = makeToolButton("settingsButton", QStringLiteral("Settings"));
    settingsButton_->setIcon(symbolIcon(QStringLiteral("gearshape.circle.fill"), secondary, kSymbolSize));
    connect(settingsButton_, &QToolButton::clicked, this, [this] {
        if (openSettings_) openSettings_();
    });

    exposureIndicator_ = new QWidget;
    exposureIndicator_->setObjectName(QStringLiteral("exposureIndicator"));
    auto* exposureRow = new QHBoxLayout(exposureIndicator_);
    exposureRow->setContentsMargins(8, 8, 8, 8);
    exposureRow->setSpacing(2);
    exposureSymbol_ = new QLabel;
    exposureText_ = new QLabel;
    exposureText_->setObjectName(QStringLiteral("exposureText"));
    exposureText_->setFont(ui::monospacedFont());
    exposureRow->addWidget(exposureSymbol_);
    exposureRow->addWidget(exposureText_);

    previewButton_ = makeToolButton("previewButton", QStringLiteral("Preview"));
    previewButton_->setIcon(symbolIcon(QStringLiteral("eye"), primary, kSymbolSize));
    connect(previewButton_, &QToolButton::clicked, this, [this] { controller_->previewScan(); });

    scanButton_ = makeToolButton("scanButton", QStringLiteral("Scan"));
    scanButton_->setIcon(symbolIcon(QStringLiteral("scanner"), primary, kSymbolSize));
    connect(scanButton_, &QToolButton::clicked, this, [this] { controller_->scanImage(); });

    directoryButton_ = makeToolButton("openDirectoryButton", QStringLiteral("Directory"));
    directoryButton_->setIcon(symbolIcon(QStringLiteral("folder"), secondary, kSymbolSize));
    connect(directoryButton_, &QToolButton::clicked, this, [this] { controller_->openOutputDirectory(); });

    for (QWidget* item : {static_cast<QWidget*>(badge_), static_cast<QWidget*>(settingsButton_), exposureIndicator_,
                          makeSpacer(), static_cast<QWidget*>(previewButton_), static_cast<QWidget*>(scanButton_),
                          makeSpacer(), static_cast<QWidget*>(directoryButton_)})
        bar->addWidget(item);
}

void ContentView::buildMenus()
{
    const auto shortcut = [](QKeySequence::StandardKey key, const char* fallback) {
        const QKeySequence standard(key);
        return standard.isEmpty() ? QKeySequence(QLatin1String(fallback)) : standard;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    quitAction_ = file->addAction(QStringLiteral("&Quit"));
    quitAction_->setObjectName(QStringLiteral("quitAction"));
    quitAction_->setShortcut(shortcut(QKeySequence::Quit, "Ctrl+Q"));
    quitAction_->setMenuRole(QAction::QuitRole);
    connect(quitAction_, &QAction::triggered, this, &ContentView::close);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    settingsAction_ = edit->addAction(QStringLiteral("&Settings..."));
    settingsAction_->setObjectName(QStringLiteral("settingsAction"));
    settingsAction_->setShortcut(shortcut(QKeySequence::Preferences, "Ctrl+,"));
    settingsAction_->setMenuRole(QAction::PreferencesRole);
    connect(settingsAction_, &QAction::triggered, this, [this] {
        if (openSettings_) openSettings_();
    });

    QMenu* scan = menuBar()->addMenu(QStringLiteral("S&can"));
    stopAction_ = scan->addAction(QStringLiteral("S&top"));
    stopAction_->setObjectName(QStringLiteral("stopAction"));
    stopAction_->setShortcut(QKeySequence(Qt::Key_Escape));
    // The same as the progress card's Stop: only the session's stop flag.
    connect(stopAction_, &QAction::triggered, this, [this] { scanManager_.stopScan(); });
}

void ContentView::showActions()
{
    badge_->setText(controller_->productName());
    settingsButton_->setEnabled(!controller_->isScanning());
    settingsAction_->setEnabled(!controller_->isScanning());
    const auto status = VekScanStatus(scanManager_.scanStatus());
    stopAction_->setEnabled(status == VekScanStatus::starting || status == VekScanStatus::reading);
    previewButton_->setEnabled(controller_->isPreviewEnabled());
    scanButton_->setEnabled(controller_->isScanEnabled());
}

void ContentView::showExposureRatio()
{
    const qint64 ratio = appSettings_.exposureRatio();
    const bool normal = ratio == 100;
    const QColor colour = normal ? ui::secondaryColor(palette()) : ui::pink();
    exposureSymbol_->setPixmap(symbolIcon(QStringLiteral("microbe"), colour, kSymbolSize).pixmap(kSymbolSize));
    exposureText_->setText(exposureRatioText(ratio));
    QPalette textPalette = exposureText_->palette();
    textPalette.setColor(QPalette::WindowText, colour);
    exposureText_->setPalette(textPalette);
    exposureIndicator_->setToolTip(normal ? QString() : exposureWarning());
}

void ContentView::showPreview()
{
    pane_->setPreviewImage(controller_->currentRawPreview());
}

void ContentView::loadSettings(QSettings& store)
{
    scanView_->loadScanSettings(store);
    imageView_->loadImageSettings(store);
    // Last: its new-day rule reads the application options.
    outputView_->loadOutputSettings(store);
    controller_->loadPreviousPreviewImages();
}

void ContentView::saveSettings(QSettings& store)
{
    controller_->savePreviewImages();
    scanView_->saveScanSettings(store);
    imageView_->saveImageSettings(store);
    outputView_->saveOutputSettings(store);
}

void ContentView::closeEvent(QCloseEvent* event)
{
    const QString note = controller_->finishFlowForQuit();
    if (!note.isEmpty()) {
        // A quit of the application is refused with it, and comes back as this window's close.
        event->ignore();
        statusBar()->showMessage(note);
        if (!closeWaiting_) {
            closeWaiting_ = true;
            connect(controller_, &ContentController::flowBusyChanged, this, [this](bool busy) {
                if (!busy)
                    QMetaObject::invokeMethod(
                        this, [this] { close(); }, Qt::QueuedConnection);
            });
        }
        return;
    }
    event->accept();
    Q_EMIT closing();
}

QString ContentView::closingNote() const
{
    const QStatusBar* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    return bar ? bar->currentMessage() : QString();
}

} // namespace lumenfield
