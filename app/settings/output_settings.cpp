#include "output_settings.h"

#include "property_update.h"
#include "stored_values.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <iostream>
#include <system_error>

namespace lumenfield {

QString todayString(QDate today)
{
    return today.toString(u"yyyyMMdd");
}

OutputSettings::OutputSettings(QObject* parent) : QObject(parent), directoryPath_(defaultOutputDirectoryPath())
{
    if (prefixType_ == PrefixType::date) prefix_ = todayString();
}

QString OutputSettings::defaultOutputDirectoryPath()
{
    return defaultOutputDirectoryPath(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                      QCoreApplication::applicationName());
}

QString OutputSettings::defaultOutputDirectoryPath(const QString& picturesRoot, const QString& folderName)
{
    if (picturesRoot.isEmpty()) return {};
    const QString name = folderName.isEmpty() ? QStringLiteral("Lumenfield") : folderName;
    const QString path = QDir::cleanPath(picturesRoot + u'/' + name);
    if (!QFileInfo::exists(path)) {
        std::error_code error;
        std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
        if (error) std::cout << "Failed to create Lumenfield directory: " << error.message() << std::endl;
    }
    return path;
}

void OutputSettings::setDirectoryPath(const QString& value)
{
    updateProperty(this, directoryPath_, value, &OutputSettings::directoryPathChanged);
}

void OutputSettings::setPrefixType(PrefixType value)
{
    updateProperty(this, prefixType_, value, &OutputSettings::prefixTypeChanged);
}

void OutputSettings::setPrefix(const QString& value)
{
    updateProperty(this, prefix_, value, &OutputSettings::prefixChanged);
}

void OutputSettings::setAutoSuffix(bool value)
{
    updateProperty(this, isAutoSuffix_, value, &OutputSettings::isAutoSuffixChanged);
}

void OutputSettings::setSuffixNumber(qint64 value)
{
    updateProperty(this, suffixNumber_, value, &OutputSettings::suffixNumberChanged);
}

void OutputSettings::setSuffixLength(qint64 value)
{
    updateProperty(this, suffixLength_, value, &OutputSettings::suffixLengthChanged);
}

void OutputSettings::setFormat(OutputFormat value)
{
    updateProperty(this, format_, value, &OutputSettings::formatChanged);
}

void OutputSettings::setTiffCompression(TIFFCompression value)
{
    updateProperty(this, tiffCompression_, value, &OutputSettings::tiffCompressionChanged);
}

void OutputSettings::setJpegQuality(JPEGQuality value)
{
    updateProperty(this, jpegQuality_, value, &OutputSettings::jpegQualityChanged);
}

void OutputSettings::setEmbeddedICCProfile(bool value)
{
    updateProperty(this, isEmbeddedICCProfile_, value, &OutputSettings::isEmbeddedICCProfileChanged);
}

void OutputSettings::setIccProfile(ICCProfile value)
{
    updateProperty(this, iccProfile_, value, &OutputSettings::iccProfileChanged);
}

bool OutputSettings::isUsableFolder(const QString& path)
{
    return path.startsWith(u'/') && !path.contains(QChar(0));
}

bool OutputSettings::ensureUsableFolder()
{
    if (isUsableFolder(directoryPath_)) return true;
    setDirectoryPath(defaultOutputDirectoryPath());
    return isUsableFolder(directoryPath_);
}

void OutputSettings::load(const QSettings& store, bool resetSuffixForNewDay, QDate today)
{
    const QString todayText = todayString(today);
    // A stored folder that cannot be used gives the default folder, not the one in memory.
    if (const std::optional<QString> folder = readStored<QString>(store, "directoryPath"))
        setDirectoryPath(isUsableFolder(*folder) ? *folder : defaultOutputDirectoryPath());
    ensureUsableFolder();
    loadStored<PrefixType>(store, "prefixType", this, &OutputSettings::setPrefixType);

    // With a date prefix the stored prefix is the date of the last save, so a different text (a
    // later day, or an earlier one after the clock was set back) starts a new day.
    const QString storedPrefix = readStored<QString>(store, "prefix").value_or(prefix_);
    const bool newDay = prefixType_ == PrefixType::date && storedPrefix != todayText;
    if (newDay && resetSuffixForNewDay)
        setSuffixNumber(1);
    else
        loadStored<qint64>(store, "suffixNumber", this, &OutputSettings::setSuffixNumber);
    setPrefix(prefixType_ == PrefixType::date ? todayText : storedPrefix);

    loadStored<bool>(store, "isAutoSuffix", this, &OutputSettings::setAutoSuffix);
    loadWithin<qint64>(store, "suffixLength", this, &OutputSettings::setSuffixLength, suffixLengths);
    loadStored<OutputFormat>(store, "format", this, &OutputSettings::setFormat);
    loadStored<TIFFCompression>(store, "tiffCompression", this, &OutputSettings::setTiffCompression);
    loadStored<JPEGQuality>(store, "jpegQuality", this, &OutputSettings::setJpegQuality);
    loadStored<bool>(store, "isEmbedded", this, &OutputSettings::setEmbeddedICCProfile);
    loadStored<ICCProfile>(store, "iccProfile", this, &OutputSettings::setIccProfile);
}

void OutputSettings::save(QSettings& store) const
{
    store.setValue("directoryPath", directoryPath_);
    store.setValue("prefixType", rawValue(prefixType_));
    store.setValue("prefix", prefix_);
    store.setValue("isAutoSuffix", isAutoSuffix_);
    store.setValue("suffixNumber", suffixNumber_);
    store.setValue("suffixLength", suffixLength_);
    store.setValue("format", rawValue(format_));
    store.setValue("tiffCompression", rawValue(tiffCompression_));
    store.setValue("jpegQuality", rawValue(jpegQuality_));
    store.setValue("isEmbedded", isEmbeddedICCProfile_);
    store.setValue("iccProfile", rawValue(iccProfile_));
}

void OutputSettings::reset()
{
    const OutputSettings defaults;
    setDirectoryPath(defaults.directoryPath());
    setPrefixType(defaults.prefixType());
    setPrefix(defaults.prefix());
    setAutoSuffix(defaults.isAutoSuffix());
    setSuffixNumber(defaults.suffixNumber());
    setSuffixLength(defaults.suffixLength());
    setFormat(defaults.format());
    setTiffCompression(defaults.tiffCompression());
    setJpegQuality(defaults.jpegQuality());
    setEmbeddedICCProfile(defaults.isEmbeddedICCProfile());
    setIccProfile(defaults.iccProfile());
}

} // namespace lumenfield
