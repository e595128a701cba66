// The "General" tab of the preferences window: two options of the shared AppSettings, each written
// at the user's click and shown again at every change of the model.
#pragma once

#include <QWidget>

class QCheckBox;

namespace lumenfield {

class AppSettings;

class AppSettingsGeneralTabView : public QWidget {
    Q_OBJECT

public:
    explicit AppSettingsGeneralTabView(AppSettings& settings, QWidget* parent = nullptr);

    // "openImageCheck": isOpenImageAfterScan.
    QCheckBox* openImageCheck() const { return openImage_; }
    // "resetSuffixCheck": isResetSuffixForNewDay.
    QCheckBox* resetSuffixCheck() const { return resetSuffix_; }

private:
    QCheckBox* openImage_;
    QCheckBox* resetSuffix_;
};

} // namespace lumenfield
