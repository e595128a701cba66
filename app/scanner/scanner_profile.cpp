#include "scanner_profile.h"

#include "console_lines.h"
#include "quorvane_scanner.h"
#include "shared_support.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

namespace lumenfield {

namespace {

// Larger files are no profile of a scanner, and lcms2 takes 32-bit sizes.
constexpr qint64 kLargestProfile = qint64{64} << 20;

std::optional<QString> existing(const QString& folder, const QString& name)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (QFileInfo(path).isFile()) return path;
    return std::nullopt;
}

} // namespace

std::optional<QString> scannerProfileFolder()
{
    const std::filesystem::path shared = platform::sharedSupportFolder();
    if (shared.empty()) return std::nullopt;
    return QFile::decodeName((shared / "Profile").c_str());
}

std::optional<QString> scannerProfileFileName(const QuorvaneScanner* scanner, VekScanSource source,
                                              const QString& folder)
{
    const bool film = isFilm(source);
    if (scanner == nullptr)
        return existing(folder, film ? QStringLiteral("vqgentk.icm") : QStringLiteral("vqgenrk.icm"));
    const SCANNERINFO info = scanner->info();
    const auto name = [&](const char* suffix) {
        return QString::asprintf("vq%04x_%04x%s.icm", unsigned{info.masterModelCode}, unsigned{info.subModelCode},
                                 suffix);
    };
    if (auto path = existing(folder, name(film ? "xt" : "xr"))) return path;
    return existing(folder, name(film ? "tk" : "rk"));
}

ColorProfile loadScannerProfile(const QuorvaneScanner* scanner, VekScanSource source,
                                const std::optional<QString>& folder)
{
    const std::optional<QString> from = folder ? folder : scannerProfileFolder();
    if (!from) return nullptr;
    const std::optional<QString> path = scannerProfileFileName(scanner, source, *from);
    if (!path) return nullptr;
    QFile file(*path);
    QByteArray data;
    if (file.open(QIODevice::ReadOnly)) data = file.read(kLargestProfile + 1);
    if (file.error() != QFileDevice::NoError) {
        printLineFormatted("Error loading scanner profile data: %s", qPrintable(file.errorString()));
        return nullptr;
    }
    if (data.isEmpty() || data.size() > kLargestProfile) return nullptr;
    ColorProfile profile(cmsOpenProfileFromMem(data.constData(), static_cast<cmsUInt32Number>(data.size())));
    if (profile && cmsGetColorSpace(profile.get()) != cmsSigRgbData) profile.reset();
    return profile;
}

} // namespace lumenfield
