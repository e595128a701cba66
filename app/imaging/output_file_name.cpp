#include "output_file_name.h"

#include "output_settings.h"

#include <algorithm>
#include <cstdio>

namespace lumenfield {

QString composeOutputName(const QString& prefix, bool isAutoSuffix, qint64 suffixNumber, qint64 suffixLength,
                          OutputFormat format)
{
    QString name = prefix;
    for (QChar& c : name)
        if (c == u'/' || c == QChar(0)) c = u'_';
    if (isAutoSuffix) {
        // The width is an argument, never part of a format built from data.
        const int width = static_cast<int>(std::clamp<qint64>(suffixLength, 1, 10));
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*lld", width, static_cast<long long>(suffixNumber));
        name += u'-' + QString::fromLatin1(digits);
    }
    return name + u'.' + displayName(format).toLower();
}

QString outputFileName(const QString& prefix, bool isAutoSuffix, qint64 suffixNumber, qint64 suffixLength,
                       OutputFormat format)
{
    return composeOutputName(prefix, isAutoSuffix, suffixNumber, suffixLength, format).toLower();
}

QString outputFilePath(const OutputSettings& settings)
{
    return settings.directoryPath() + u'/' +
        outputFileName(settings.prefix(), settings.isAutoSuffix(), settings.suffixNumber(), settings.suffixLength(),
                       settings.format());
}

} // namespace lumenfield
