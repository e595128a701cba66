#include "app_settings_general_tab_view.h"

#include "app_settings.h"
#include "panel_style.h"
#include "property_binding.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int rowSpacing = 10;

// A check box that shows the property and writes the user's clicks (only they: `clicked` is not
// emitted for changes made by the program).
QCheckBox* boundCheck(const QString& name, const QString& text, PropertyBinding<bool> property, QWidget* context)
{
    auto* check = new QCheckBox(text);
    check->setObjectName(name);
    check->setChecked(property.get());
    QObject::connect(check, &QCheckBox::clicked, context, [set = property.set](bool on) { set(on); });
    property.observe(check, [check, get = property.get] { showing(check, [&] { check->setChecked(get()); }); });
    return check;
}

} // namespace

AppSettingsGeneralTabView::AppSettingsGeneralTabView(AppSettings& settings, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("generalTab"));
    openImage_ =
        boundCheck(QStringLiteral("openImageCheck"), QStringLiteral("Open the image or folder after scanning"),
                   bindProperty(settings, &AppSettings::isOpenImageAfterScan, &AppSettings::setOpenImageAfterScan,
                                &AppSettings::isOpenImageAfterScanChanged),
                   this);
    resetSuffix_ = boundCheck(
        QStringLiteral("resetSuffixCheck"), QStringLiteral("Reset the suffix value of filename for a new day"),
        bindProperty(settings, &AppSettings::isResetSuffixForNewDay, &AppSettings::setResetSuffixForNewDay,
                     &AppSettings::isResetSuffixForNewDayChanged),
        this);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(rowSpacing);
    layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    layout->addWidget(openImage_, 0, Qt::AlignLeft);
    layout->addWidget(resetSuffix_, 0, Qt::AlignLeft);
    layout->addStretch(1);
}

} // namespace lumenfield
