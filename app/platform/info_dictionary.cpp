#include "info_dictionary.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <fstream>
#include <system_error>

namespace lumenfield {

namespace platform {

namespace {

// An information dictionary holds a handful of short texts.
constexpr std::uintmax_t kLargestPropertyList = 1 << 20;

// Reads the elements of a <dict> whose start element the reader has just read, up to its end
// element. False when the dict is not a sequence of key and value pairs.
bool readDict(QXmlStreamReader& xml, InfoDictionary& out)
{
    std::optional<QString> key;
    while (xml.readNextStartElement()) {
        if (!key) {
            if (xml.name() != QLatin1String("key")) return false;
            key = xml.readElementText();
            if (xml.hasError()) return false;
            continue;
        }
        if (xml.name() == QLatin1String("key")) return false;
        if (xml.name() == QLatin1String("string")) {
            const QString text = xml.readElementText();
            if (xml.hasError()) return false;
            out[key->toStdString()] = text.toStdString();
        } else {
            // Any other type of value: the key counts as missing.
            out.erase(key->toStdString());
            xml.skipCurrentElement();
        }
        key.reset();
    }
    return !key && !xml.hasError();
}

} // namespace

std::optional<InfoDictionary> readInfoDictionary(const std::filesystem::path& file)
{
    // Read through the path's own bytes (names need not be UTF-8), and only from a regular file: a
    // FIFO in place of the file would block the reader.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kLargestPropertyList) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (!in.read(bytes.data(), bytes.size())) return std::nullopt;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist")) return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict")) return std::nullopt;
    InfoDictionary dictionary;
    if (!readDict(xml, dictionary)) return std::nullopt;
    // The rest of the document must still be well-formed.
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError()) return std::nullopt;
    return dictionary;
}

} // namespace platform

} // namespace lumenfield
