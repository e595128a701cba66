#include "app_settings_view.h"

#include "app_settings_general_tab_view.h"
#include "app_settings_scanner_tab_view.h"
#include "panel_style.h"
#include "symbol_icon.h"

#include <QFontInfo>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace lumenfield {

namespace {

constexpr QSize tabSize(500, 300);

QString tabTitle(SettingsTab tab)
{
    return tab == SettingsTab::scanner ? QStringLiteral("Scanner") : QStringLiteral("General");
}

// Places `window` over the middle of `over`'s window (or of the screen, without one), wholly on that
// screen when it fits.
void centreOver(QWidget* window, const QWidget* over)
{
    window->adjustSize();
    const QWidget* under = over ? over->window() : nullptr;
    const QScreen* screen = under ? under->screen() : window->screen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(under ? under->frameGeometry().center() : available.center());
    frame.moveLeft(
        std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() + 1 - frame.width())));
    frame.moveTop(
        std::clamp(frame.top(), available.top(), std::max(available.top(), available.bottom() + 1 - frame.height())));
    window->move(frame.topLeft());
}

} // namespace

AppSettingsView::AppSettingsView(AppSettings& settings, ScanManager& manager, ClearCalibrationConfirm& confirm,
                                 QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("appSettingsView"));
    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->setFixedSize(tabSize);
    const int iconSize = QFontInfo(ui::bodyFont()).pixelSize() + 2;
    tabs_->setIconSize(QSize(iconSize, iconSize));
    const QColor iconColour = ui::primaryColor(palette());

    general_ = new AppSettingsGeneralTabView(settings);
    scanner_ = new AppSettingsScannerTabView(settings, manager, confirm);
    // The tab index is the raw value of its SettingsTab.
    tabs_->addTab(general_, symbolIcon(QStringLiteral("gear"), iconColour, iconSize), tabTitle(SettingsTab::general));
    tabs_->addTab(scanner_, symbolIcon(QStringLiteral("scanner"), iconColour, iconSize),
                  tabTitle(SettingsTab::scanner));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    layout->addWidget(tabs_);
    // The tab widget's fixed size fixes the view's, whichever tab is shown.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setWindowTitle(tabTitle(selected_));
    connect(tabs_, &QTabWidget::currentChanged, this, &AppSettingsView::followTab);
}

void AppSettingsView::setSelectedSettingsTab(SettingsTab tab)
{
    if (tab == SettingsTab::image) return;
    tabs_->setCurrentIndex(static_cast<int>(tab));
}

void AppSettingsView::followTab(int index)
{
    const std::optional<SettingsTab> tab = fromRaw<SettingsTab>(index);
    if (!tab || *tab == selected_) return;
    selected_ = *tab;
    setWindowTitle(tabTitle(selected_));
    Q_EMIT selectedSettingsTabChanged(selected_);
}

AppSettingsView* openAppSettingsWindow(AppSettings& settings, ScanManager& manager, ClearCalibrationConfirm& confirm,
                                       QWidget* parent)
{
    auto* view = new AppSettingsView(settings, manager, confirm, parent);
    view->setWindowFlag(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(key, view);
        QObject::connect(shortcut, &QShortcut::activated, view, &QWidget::close);
    }
    centreOver(view, parent);
    view->show();
    return view;
}

} // namespace lumenfield
