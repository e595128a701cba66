#include "stored_values.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace lumenfield {

namespace {

bool isText(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QString;
}

// Parses the whole of `text` as a number in the C locale; leading or trailing characters,
// whitespace included, make it unusable.
template <typename T> std::optional<T> parseWhole(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    T result{};
    const auto [end, error] = std::from_chars(first, last, result);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return result;
}

} // namespace

std::optional<bool> storedBool(const QVariant& value)
{
    if (value.metaType().id() == QMetaType::Bool) return value.toBool();
    if (!isText(value)) return std::nullopt;
    const QString text = value.toString();
    if (text.compare(u"true", Qt::CaseInsensitive) == 0 || text == u"1") return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0 || text == u"0") return false;
    return std::nullopt;
}

std::optional<qint64> storedInteger(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong: return value.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > static_cast<qulonglong>(std::numeric_limits<qint64>::max())) return std::nullopt;
        return static_cast<qint64>(unsignedValue);
    }
    case QMetaType::QString: return parseWhole<qint64>(value.toString());
    default: return std::nullopt;
    }
}

std::optional<double> storedDouble(const QVariant& value)
{
    std::optional<double> number;
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float: number = value.toDouble(); break;
    case QMetaType::QString: number = parseWhole<double>(value.toString()); break;
    default:
        if (const std::optional<qint64> integer = storedInteger(value)) number = static_cast<double>(*integer);
        break;
    }
    if (number && !std::isfinite(*number)) return std::nullopt;
    return number;
}

std::optional<QString> storedText(const QVariant& value)
{
    if (!isText(value)) return std::nullopt;
    return value.toString();
}

std::optional<QRectF> storedRect(const QVariant& value)
{
    if (value.metaType().id() != QMetaType::QRectF) return std::nullopt;
    const QRectF rect = value.toRectF();
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width()) ||
        !std::isfinite(rect.height()))
        return std::nullopt;
    return rect;
}

} // namespace lumenfield
