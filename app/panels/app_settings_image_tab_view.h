// An image tab for the preferences window that no window shows: colour matching and the embedded
// destination profile, kept in the settings store under their own keys. Nothing reads them.
//
// The three values are read strictly when the tab is made ("nativeRGBMatching" and
// "embedICCProfile" default to true, "selectedProfile" to Adobe RGB; an unusable or unknown value
// gives the default), and each change by the user is written and synced at once.
#pragma once

#include "enumerations.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QSettings;

namespace lumenfield {

class AppSettingsImageTabView : public QWidget {
    Q_OBJECT

public:
    explicit AppSettingsImageTabView(QSettings& store, QWidget* parent = nullptr);

    bool nativeRGBMatching() const { return nativeRGBMatching_; }
    bool embedICCProfile() const { return embedICCProfile_; }
    ICCProfile selectedProfile() const { return selectedProfile_; }

private:
    template <typename T> void write(const char* key, T& field, const T& value);

    QSettings& store_;
    bool nativeRGBMatching_;
    bool embedICCProfile_;
    ICCProfile selectedProfile_;
    QCheckBox* nativeRGBMatchingCheck_;
    QCheckBox* embedICCProfileCheck_;
    QComboBox* selectedProfileCombo_;
};

} // namespace lumenfield
