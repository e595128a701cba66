// The stored properties of a settings object as one table: a row a property with its key, the
// getter and setter of its Qt property, its default, and what a stored value must be to be taken.
// The object's construction, load, save and reset all read the rows in their order, so a property
// is declared once.
//
// Loading a row: a missing key sets the row's `missing` value when it has one (or the default when
// `missingSetsDefault`), and otherwise changes nothing; a present key is read strictly (readStored)
// and what `take` gives for a usable value is set. A value that is unusable, or that `take` refuses,
// changes nothing, so the property keeps the sound value it has. A row with a `load` rule of its
// own is loaded by that rule instead, at its place in the order.
//
// Saving a row writes the getter's value under the key, an enumeration as its raw value.
#pragma once

#include "stored_values.h"

#include <QAnyStringView>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace lumenfield {

// What a usable stored value gives: itself when it is accepted, another value (the nearest one
// offered), or nothing when it is refused.
template <typename T> using StoredTake = std::function<std::optional<T>(const T&)>;

template <typename Object, typename T> struct StoredRules {
    StoredTake<T> take{};            // none: every usable value is taken as it is
    std::optional<T> missing{};      // what a missing key sets
    bool missingSetsDefault = false; // a missing key sets the default
    bool resets = true;              // whether reset() brings the default back
    std::function<void(Object&, const QSettings&, QAnyStringView key)> load{}; // a rule of its own
};

template <typename Object, typename T, typename Argument> struct StoredProperty {
    const char* key;
    T (Object::*get)() const;
    void (Object::*set)(Argument);
    std::function<T(const Object&)> defaultOf;
    StoredRules<Object, T> rules;
};

// A row with a fixed default.
template <typename Object, typename T, typename Argument>
StoredProperty<Object, T, Argument> stored(const char* key, T (Object::*get)() const, void (Object::*set)(Argument),
                                           std::type_identity_t<T> defaultValue,
                                           const std::type_identity_t<StoredRules<Object, T>>& rules = {})
{
    return {key, get, set, [defaultValue](const Object&) { return defaultValue; }, rules};
}

// A row whose default is computed when it is applied, from the object as the earlier rows left it.
template <typename Object, typename T, typename Argument>
StoredProperty<Object, T, Argument> stored(const char* key, T (Object::*get)() const, void (Object::*set)(Argument),
                                           std::type_identity_t<std::function<T(const Object&)>> defaultOf,
                                           const std::type_identity_t<StoredRules<Object, T>>& rules = {})
{
    return {key, get, set, std::move(defaultOf), rules};
}

// `take` for a number within `range`.
template <typename T> StoredTake<T> within(ValueRange<T> range)
{
    return [range](const T& value) { return range.contains(value) ? std::optional<T>(value) : std::nullopt; };
}

// `take` for a value that is one of `offered`.
template <typename T, std::size_t N> StoredTake<T> oneOf(const std::array<T, N>& offered)
{
    return [offered](const T& value) {
        return std::find(offered.begin(), offered.end(), value) != offered.end() ? std::optional<T>(value)
                                                                                 : std::nullopt;
    };
}

// `take` for a value that `accepts` takes.
template <typename T> StoredTake<T> where(std::function<bool(const T&)> accepts)
{
    return [accepts = std::move(accepts)](const T& value) {
        return accepts(value) ? std::optional<T>(value) : std::nullopt;
    };
}

// The value a row writes: an enumeration as its raw value, anything else as it is.
template <typename T> QVariant storedForm(const T& value)
{
    if constexpr (std::is_enum_v<T>) {
        return QVariant(rawValue(value));
    } else {
        return QVariant::fromValue(value);
    }
}

template <typename Object, typename T, typename Argument>
void loadRow(const QSettings& store, Object& object, const StoredProperty<Object, T, Argument>& row)
{
    const StoredRules<Object, T>& rules = row.rules;
    if (rules.load) {
        rules.load(object, store, row.key);
    } else if (!store.contains(row.key)) {
        if (rules.missing)
            (object.*row.set)(*rules.missing);
        else if (rules.missingSetsDefault)
            (object.*row.set)(row.defaultOf(object));
    } else if (const std::optional<T> value = readStored<T>(store, row.key)) {
        if (const std::optional<T> taken = rules.take ? rules.take(*value) : value) (object.*row.set)(*taken);
    }
}

template <typename Object, typename... Rows>
void loadRows(const QSettings& store, Object& object, const std::tuple<Rows...>& rows)
{
    std::apply([&](const Rows&... row) { (loadRow(store, object, row), ...); }, rows);
}

template <typename Object, typename... Rows>
void saveRows(QSettings& store, const Object& object, const std::tuple<Rows...>& rows)
{
    std::apply([&](const Rows&... row) { (store.setValue(row.key, storedForm((object.*row.get)())), ...); }, rows);
}

// Every row's default, through the setters: what a new object starts from.
template <typename Object, typename... Rows> void applyDefaults(Object& object, const std::tuple<Rows...>& rows)
{
    std::apply([&](const Rows&... row) { ((object.*row.set)(row.defaultOf(object)), ...); }, rows);
}

// The default of every row that resets.
template <typename Object, typename... Rows> void resetRows(Object& object, const std::tuple<Rows...>& rows)
{
    std::apply(
        [&](const Rows&... row) { ((row.rules.resets ? (object.*row.set)(row.defaultOf(object)) : void()), ...); },
        rows);
}

} // namespace lumenfield
