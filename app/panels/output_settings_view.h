// The "Output Settings:" panel: a banner with a sample of the next output file's name and path
// (framed in yellow, with a warning symbol, when that file exists), then the folder, the name's
// prefix and number suffix, the format with its compression or quality, and the colour profile, all
// editing the shared OutputSettings. The whole panel is disabled while the scanner is busy.
//
// The main window loads the application options first, then calls loadOutputSettings when it is
// first shown, and saveOutputSettings when it closes.
#pragma once

#include "enumerations.h"
#include "property_binding.h"

#include <QDate>
#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;

namespace lumenfield {

class AppSettings;
class ElidedLabel;
class FolderChooser;
class GroupBox;
class OutputSettings;
class ScanManager;
class SegmentedControl;

// The black banner at the top of the panel: the sample name, and under it the sample path with the
// warning symbol. Its border is yellow while the file exists, white otherwise.
class SampleFileBanner : public QWidget {
    Q_OBJECT

public:
    explicit SampleFileBanner(QWidget* parent = nullptr);

    void showSample(const QString& name, const QString& path, bool exists);
    bool fileExists() const { return exists_; }
    QColor borderColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ElidedLabel* name_;
    ElidedLabel* path_;
    QLabel* warning_;
    bool exists_ = false;
};

class OutputSettingsView : public QWidget {
    Q_OBJECT

public:
    OutputSettingsView(OutputSettings& outputSettings, AppSettings& appSettings, ScanManager& manager,
                       FolderChooser& folderChooser, QWidget* parent = nullptr);

    GroupBox* groupBox() const { return groupBox_; }
    SampleFileBanner* banner() const { return banner_; }

    // Where today's date comes from (the current date unless replaced).
    void setTodayProvider(std::function<QDate()> today);
    QString todayString() const;

    // The next output file's name as the settings give it, before the written name is lower-cased.
    QString sampleFileName() const;
    // The folder, "/" and the sample name.
    QString sampleFilePath() const;
    // The text prefix kept aside while the date prefix is in use; "Scan" in a new panel, never
    // stored.
    QString prefixText() const { return prefixText_; }

    // Reads the eleven output values with the new-day rule of the application options as they stand.
    // The prefix type's reaction does not run for what the load changes.
    void loadOutputSettings(QSettings& store);
    void saveOutputSettings(QSettings& store);
    // The eleven values to their defaults, the folder created when missing; nothing is stored and
    // the kept text prefix stays.
    void resetOutputSettings();
    // Asks the folder chooser for the output folder.
    void chooseDirectory();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void showSuffixNumber();
    void takeSuffixNumber();
    void prefixTypeChanged(PrefixType type);

    OutputSettings& settings_;
    AppSettings& appSettings_;
    FolderChooser& folderChooser_;
    std::function<QDate()> today_;
    QString prefixText_ = QStringLiteral("Scan");
    GroupBox* groupBox_;
    SampleFileBanner* banner_;
    QPushButton* directoryButton_;
    SegmentedControl* prefixTypeSegmented_;
    QLineEdit* prefixEdit_;
    QCheckBox* suffixCheck_;
    QLineEdit* suffixNumberEdit_;
    QLabel* suffixLengthLabel_;
    SegmentedControl* suffixLengthSegmented_;
    SegmentedControl* formatSegmented_;
    QWidget* compressionRow_;
    SegmentedControl* compressionSegmented_;
    QWidget* qualityRow_;
    QComboBox* qualityCombo_;
    QCheckBox* embedProfileCheck_;
    QComboBox* iccProfileCombo_;
    DeferredReaction<PrefixType> prefixTypeReaction_;
};

} // namespace lumenfield
