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
// that sets it (loadWithin, loadOneOf): a value no control can give is as unusable as a wrong type.
#pragma once

#include "enumerations.h"
#include "scanner_enumerations.h"
#include "value_range.h"

#include <QAnyStringView>
#include <QRectF>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
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

// Hands the value under `key` to `setter` of `object` when it is usable and `accepts` takes it (the
// range or the list of the control that sets the value). A missing key sets `missing` when there is
// one; any other value changes nothing, so the property keeps the sound value it has.
template <typename T, typename Object, typename Setter, typename Accepts>
void loadAccepted(const QSettings& store, QAnyStringView key, Object* object, Setter setter, Accepts accepts,
                  std::optional<T> missing = std::nullopt)
{
    if (!store.contains(key)) {
        if (missing) std::invoke(setter, object, *missing);
    } else if (const std::optional<T> value = readStored<T>(store, key); value && accepts(*value)) {
        std::invoke(setter, object, *value);
    }
}

// loadAccepted for a value whose every usable reading is accepted.
template <typename T, typename Object, typename Setter>
void loadStored(const QSettings& store, QAnyStringView key, Object* object, Setter setter,
                std::optional<T> missing = std::nullopt)
{
    loadAccepted<T>(
        store, key, object, setter, [](const T&) { return true; }, missing);
}

// loadAccepted for a number that must lie within `range`.
template <typename T, typename Object, typename Setter>
void loadWithin(const QSettings& store, QAnyStringView key, Object* object, Setter setter, ValueRange<T> range)
{
    loadAccepted<T>(store, key, object, setter, [range](const T& value) { return range.contains(value); });
}

// loadAccepted for a value that must be one of `offered`.
template <typename T, typename Object, typename Setter, std::size_t N>
void loadOneOf(const QSettings& store, QAnyStringView key, Object* object, Setter setter,
               const std::array<T, N>& offered, std::optional<T> missing = std::nullopt)
{
    loadAccepted<T>(
        store, key, object, setter,
        [&offered](const T& value) { return std::find(offered.begin(), offered.end(), value) != offered.end(); },
        missing);
}

} // namespace lumenfield
