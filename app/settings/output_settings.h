// Where and how a final scan is written: folder, file-name prefix and number suffix, format, TIFF
// compression, JPEG quality and the output colour profile.
#pragma once

#include "enumerations.h"
#include "value_range.h"

#include <QDate>
#include <QObject>
#include <QSettings>
#include <QString>

namespace lumenfield {

// The date as "yyyyMMdd" with the digits 0-9, whatever the locale: the date prefix of file names and
// the stamp by which the output settings recognise a new day.
QString todayString(QDate today = QDate::currentDate());

class OutputSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString directoryPath READ directoryPath WRITE setDirectoryPath NOTIFY directoryPathChanged)
    Q_PROPERTY(PrefixType prefixType READ prefixType WRITE setPrefixType NOTIFY prefixTypeChanged)
    Q_PROPERTY(QString prefix READ prefix WRITE setPrefix NOTIFY prefixChanged)
    Q_PROPERTY(bool isAutoSuffix READ isAutoSuffix WRITE setAutoSuffix NOTIFY isAutoSuffixChanged)
    Q_PROPERTY(qint64 suffixNumber READ suffixNumber WRITE setSuffixNumber NOTIFY suffixNumberChanged)
    Q_PROPERTY(qint64 suffixLength READ suffixLength WRITE setSuffixLength NOTIFY suffixLengthChanged)
    Q_PROPERTY(OutputFormat format READ format WRITE setFormat NOTIFY formatChanged)
    Q_PROPERTY(
        TIFFCompression tiffCompression READ tiffCompression WRITE setTiffCompression NOTIFY tiffCompressionChanged)
    Q_PROPERTY(JPEGQuality jpegQuality READ jpegQuality WRITE setJpegQuality NOTIFY jpegQualityChanged)
    Q_PROPERTY(bool isEmbeddedICCProfile READ isEmbeddedICCProfile WRITE setEmbeddedICCProfile NOTIFY
                   isEmbeddedICCProfileChanged)
    Q_PROPERTY(ICCProfile iccProfile READ iccProfile WRITE setIccProfile NOTIFY iccProfileChanged)

public:
    // The folder is the default output folder (created when missing) and the prefix today's date.
    explicit OutputSettings(QObject* parent = nullptr);

    // The folder named after the application (or "Lumenfield" when it has no name) in the user's
    // Pictures folder, created with its parents when nothing stands at its path. When creation fails
    // a line is printed and the path is still returned. Empty when there is no Pictures folder.
    static QString defaultOutputDirectoryPath();
    static QString defaultOutputDirectoryPath(const QString& picturesRoot, const QString& folderName);

    QString directoryPath() const { return directoryPath_; }
    void setDirectoryPath(const QString& value);
    PrefixType prefixType() const { return prefixType_; }
    void setPrefixType(PrefixType value);
    QString prefix() const { return prefix_; }
    void setPrefix(const QString& value);
    bool isAutoSuffix() const { return isAutoSuffix_; }
    void setAutoSuffix(bool value);
    // The number of the next file.
    qint64 suffixNumber() const { return suffixNumber_; }
    void setSuffixNumber(qint64 value);
    // Digits of the suffix.
    qint64 suffixLength() const { return suffixLength_; }
    void setSuffixLength(qint64 value);
    OutputFormat format() const { return format_; }
    void setFormat(OutputFormat value);
    TIFFCompression tiffCompression() const { return tiffCompression_; }
    void setTiffCompression(TIFFCompression value);
    JPEGQuality jpegQuality() const { return jpegQuality_; }
    void setJpegQuality(JPEGQuality value);
    bool isEmbeddedICCProfile() const { return isEmbeddedICCProfile_; }
    void setEmbeddedICCProfile(bool value);
    ICCProfile iccProfile() const { return iccProfile_; }
    void setIccProfile(ICCProfile value);

    // The lengths the suffix-length picker offers.
    static constexpr ValueRange<qint64> suffixLengths{2, 5};

    // Whether `path` can be the output folder: an absolute path without a NUL (which would cut it
    // short). An empty or relative folder would put the files in "/" or in the working folder.
    static bool isUsableFolder(const QString& path);
    // Sets the default output folder when the folder is not usable; answers whether it is usable now.
    // Run by the load and again by the save flow before it plans a file's path.
    bool ensureUsableFolder();

    // Reads the eleven keys; a missing or unusable value keeps the current one, and so does a suffix
    // length the picker does not offer. A stored folder that is not usable gives the default folder,
    // and so does a folder in memory that is not usable when nothing usable is stored. With a date
    // prefix the prefix becomes `today`, and a stored prefix that is not `today` marks a new day, on
    // which the suffix restarts at 1 when `resetSuffixForNewDay` asks for it.
    void load(const QSettings& store, bool resetSuffixForNewDay, QDate today = QDate::currentDate());
    // Writes "directoryPath", "prefixType", "prefix", "isAutoSuffix", "suffixNumber",
    // "suffixLength", "format", "tiffCompression", "jpegQuality", "isEmbedded" and "iccProfile".
    void save(QSettings& store) const;
    // All eleven values back to those of a newly created object.
    void reset();

Q_SIGNALS:
    void directoryPathChanged(const QString& value);
    void prefixTypeChanged(PrefixType value);
    void prefixChanged(const QString& value);
    void isAutoSuffixChanged(bool value);
    void suffixNumberChanged(qint64 value);
    void suffixLengthChanged(qint64 value);
    void formatChanged(OutputFormat value);
    void tiffCompressionChanged(TIFFCompression value);
    void jpegQualityChanged(JPEGQuality value);
    void isEmbeddedICCProfileChanged(bool value);
    void iccProfileChanged(ICCProfile value);
    // After any property's own signal.
    void changed();

private:
    // Start at the defaults of the table in output_settings.cpp.
    QString directoryPath_;
    PrefixType prefixType_{};
    QString prefix_;
    bool isAutoSuffix_{};
    qint64 suffixNumber_{};
    qint64 suffixLength_{};
    OutputFormat format_{};
    TIFFCompression tiffCompression_{};
    JPEGQuality jpegQuality_{};
    bool isEmbeddedICCProfile_{};
    ICCProfile iccProfile_{};
};

} // namespace lumenfield
