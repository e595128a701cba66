// Strict reading of the settings store.
//
// Values read back from the store's file are texts, and Qt's own conversions are lenient ("abc" is a
// true boolean, "nan" a number), so every settings object reads through these functions. Each gives
// no value when the stored value is absent or unusable; callers with a rule of their own for an
// absent key ask `contains` first.
//
// Usable values:
//   bool      a boolean, or the text "true" or "false" in any case, or "1" or "0"
//   integer   an integer value, or a whole decimal text that fits in 64 bits
//   double    a number or a text that converts completely, and is finite
//   QString   a string value
//   QRectF    a rectangle value with four finite numbers
//   a closed enumeration: a usable integer that is the raw value of one of its cases
//   an open enumeration: any usable integer
//
// On top of that each settings object takes a value only within the range or the list of the control
// that sets it (the `take` of its row, settings_table.h): a value no control can give is as unusable
// as a wrong type.
#pragma once

#include "enumerations.h"
#include "scanner_enumerations.h"
#include "value_range.h"

#include <QAnyStringView>
#include <QRectF>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <optional>
#include <type_traits>

namespace lumenfield {

std::optional<bool> storedBool(const QVariant& value);
std::optional<qint64> storedInteger(const QVariant& value);
std::optional<double> storedDouble(const QVariant& value);
std::optional<QString> storedText(const QVariant& value);
std::optional<QRectF> storedRect(const QVariant& value);

template <typename T> std::optional<T> readStored(const QSettings& store, QAnyStringView key)
{
    const QVariant value = store.value(key);
    if constexpr (std::is_same_v<T, bool>) {
        return storedBool(value);
    } else if constexpr (std::is_same_v<T, qint64>) {
        return storedInteger(value);
    } else if constexpr (std::is_same_v<T, double>) {
        return storedDouble(value);
    } else if constexpr (std::is_same_v<T, QString>) {
        return storedText(value);
    } else if constexpr (std::is_same_v<T, QRectF>) {
        return storedRect(value);
    } else if constexpr (ClosedEnum<T>) {
        const std::optional<qint64> raw = storedInteger(value);
        return raw ? fromRawValue<T>(*raw) : std::nullopt;
    } else {
        static_assert(OpenEnum<T>, "no strict reading for this type");
        const std::optional<qint64> raw = storedInteger(value);
        return raw ? std::optional<T>(static_cast<T>(*raw)) : std::nullopt;
    }
}

} // namespace lumenfield
