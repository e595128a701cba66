#include "output_settings.h"

#include "property_update.h"
#include "console_lines.h"
#include "settings_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace lumenfield {

QString todayString(QDate today)
{
    return today.toString(u"yyyyMMdd");
}

namespace {

// The day a load runs on, and whether a new day restarts the suffix.
struct LoadDay {
    bool resetSuffixForNewDay = false;
    QDate today = QDate::currentDate();
};

constexpr char suffixNumberKey[] = "suffixNumber";

// A stored folder that cannot be used gives the default folder, not the one in memory.
void loadFolder(OutputSettings& self, const QSettings& store, QAnyStringView key)
{
    if (const std::optional<QString> folder = readStored<QString>(store, key))
        self.setDirectoryPath(OutputSettings::isUsableFolder(*folder) ? *folder
                                                                      : OutputSettings::defaultOutputDirectoryPath());
    self.ensureUsableFolder();
}

// The prefix with the suffix number. With a date prefix the stored prefix is the date of the last
// save, so a different text (a later day, or an earlier one after the clock was set back) starts a
// new day.
void loadPrefixAndNumber(OutputSettings& self, const QSettings& store, QAnyStringView key, const LoadDay& day)
{
    const QString todayText = todayString(day.today);
    const QString storedPrefix = readStored<QString>(store, key).value_or(self.prefix());
    const bool date = self.prefixType() == PrefixType::date;
    if (date && storedPrefix != todayText && day.resetSuffixForNewDay)
        self.setSuffixNumber(1);
    else if (const std::optional<qint64> number = readStored<qint64>(store, suffixNumberKey))
        self.setSuffixNumber(*number);
    self.setPrefix(date ? todayText : storedPrefix);
}

// The default prefix: today's date with a date prefix.
QString defaultPrefix(const OutputSettings& settings)
{
    return settings.prefixType() == PrefixType::date ? todayString() : QStringLiteral("Scan");
}

// The eleven stored values in the order they are written, with the rules of load() in the header.
// The suffix number is read with the prefix, at the prefix's place.
auto storedProperties(const LoadDay& day = {})
{
    using S = OutputSettings;
    return std::tuple{
        stored("directoryPath", &S::directoryPath, &S::setDirectoryPath,
               [](const S&) { return S::defaultOutputDirectoryPath(); }, {.load = loadFolder}),
        stored("prefixType", &S::prefixType, &S::setPrefixType, PrefixType::date),
        stored("prefix", &S::prefix, &S::setPrefix, defaultPrefix,
               {.load = [day](S& self, const QSettings& store,
                              QAnyStringView key) { loadPrefixAndNumber(self, store, key, day); }}),
        stored("isAutoSuffix", &S::isAutoSuffix, &S::setAutoSuffix, true),
        stored(suffixNumberKey, &S::suffixNumber, &S::setSuffixNumber, 1,
               {.load = [](S&, const QSettings&, QAnyStringView) {}}),
        stored("suffixLength", &S::suffixLength, &S::setSuffixLength, 3, {.take = within(S::suffixLengths)}),
        stored("format", &S::format, &S::setFormat, OutputFormat::tiff),
        stored("tiffCompression", &S::tiffCompression, &S::setTiffCompression, TIFFCompression::jpeg),
        stored("jpegQuality", &S::jpegQuality, &S::setJpegQuality, JPEGQuality::high),
        stored("isEmbedded", &S::isEmbeddedICCProfile, &S::setEmbeddedICCProfile, true),
        stored("iccProfile", &S::iccProfile, &S::setIccProfile, ICCProfile::generic),
    };
}

} // namespace

OutputSettings::OutputSettings(QObject* parent) : QObject(parent)
{
    applyDefaults(*this, storedProperties());
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
        if (error) printLine("Failed to create Lumenfield directory: " + error.message());
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
    loadRows(store, *this, storedProperties({resetSuffixForNewDay, today}));
}

void OutputSettings::save(QSettings& store) const
{
    saveRows(store, *this, storedProperties());
}

void OutputSettings::reset()
{
    resetRows(*this, storedProperties());
}

} // namespace lumenfield
