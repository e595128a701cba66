#include "app_settings_image_tab_view.h"

#include "combo_helpers.h"
#include "panel_style.h"
#include "stored_values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QSettings>
#include <QVBoxLayout>

namespace lumenfield {

namespace {

constexpr int rowSpacing = 10;

constexpr const char* nativeRGBMatchingKey = "nativeRGBMatching";
constexpr const char* embedICCProfileKey = "embedICCProfile";
constexpr const char* selectedProfileKey = "selectedProfile";

QCheckBox* makeCheck(const QString& name, const QString& text, bool on)
{
    auto* check = new QCheckBox(text);
    check->setObjectName(name);
    check->setChecked(on);
    return check;
}

QVariant storedForm(bool value)
{
    return value;
}

// Enumerations are stored as their raw values.
QVariant storedForm(ICCProfile value)
{
    return rawValue(value);
}

} // namespace

AppSettingsImageTabView::AppSettingsImageTabView(QSettings& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , nativeRGBMatching_(readStored<bool>(store, nativeRGBMatchingKey).value_or(true))
    , embedICCProfile_(readStored<bool>(store, embedICCProfileKey).value_or(true))
    , selectedProfile_(readStored<ICCProfile>(store, selectedProfileKey).value_or(ICCProfile::adobeRGB))
{
    setObjectName(QStringLiteral("imageTab"));
    nativeRGBMatchingCheck_ = makeCheck(QStringLiteral("nativeRGBMatchingCheck"),
                                        QStringLiteral("Native Mode RGB Color Matching"), nativeRGBMatching_);
    embedICCProfileCheck_ = makeCheck(QStringLiteral("embedICCProfileCheck"),
                                      QStringLiteral("Embed ICC Destination Profile:"), embedICCProfile_);
    // Always enabled, whether or not a profile is embedded.
    selectedProfileCombo_ = makeCombo(QStringLiteral("selectedProfileCombo"));
    std::vector<ComboItem> profiles;
    for (ICCProfile profile : allCases<ICCProfile>()) profiles.emplace_back(displayName(profile), rawValue(profile));
    setComboItems(selectedProfileCombo_, profiles);
    setComboTag(selectedProfileCombo_, rawValue(selectedProfile_));

    auto* profileRow = new QHBoxLayout;
    profileRow->setSpacing(ui::defaultSpacing);
    profileRow->addWidget(embedICCProfileCheck_, 0, Qt::AlignVCenter);
    profileRow->addWidget(selectedProfileCombo_, 1, Qt::AlignVCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(rowSpacing);
    layout->setContentsMargins(ui::defaultPadding, ui::defaultPadding, ui::defaultPadding, ui::defaultPadding);
    layout->addWidget(nativeRGBMatchingCheck_, 0, Qt::AlignLeft);
    layout->addLayout(profileRow);
    layout->addStretch(1);

    connect(nativeRGBMatchingCheck_, &QCheckBox::clicked, this,
            [this](bool on) { write(nativeRGBMatchingKey, nativeRGBMatching_, on); });
    connect(embedICCProfileCheck_, &QCheckBox::clicked, this,
            [this](bool on) { write(embedICCProfileKey, embedICCProfile_, on); });
    onComboChosen(selectedProfileCombo_, [this](qint64 tag) {
        if (const std::optional<ICCProfile> profile = fromRawValue<ICCProfile>(tag))
            write(selectedProfileKey, selectedProfile_, *profile);
    });
}

template <typename T> void AppSettingsImageTabView::write(const char* key, T& field, const T& value)
{
    field = value;
    store_.setValue(key, storedForm(value));
    store_.sync();
}

} // namespace lumenfield
