// The one way a settings object changes a published property: store the value, then emit the
// property's signal with the new value and the object-wide `changed()`, and only when the value
// really changed. Used by the settings objects' setters only.
#pragma once

#include <QObject>
#include <QRectF>
#include <QThread>

#include <bit>
#include <cstdint>
#include <type_traits>

namespace lumenfield {

// Doubles and rectangles compare by their bits: Qt's comparison of rectangles is fuzzy, and a
// setter that ignored a change below its tolerance would lose the exact value.
inline bool sameValue(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline bool sameValue(const QRectF& a, const QRectF& b)
{
    return sameValue(a.x(), b.x()) && sameValue(a.y(), b.y()) && sameValue(a.width(), b.width()) &&
        sameValue(a.height(), b.height());
}

template <typename T> bool sameValue(const T& a, const T& b)
{
    return a == b;
}

// `signal` takes the new value, or its raw value for an enumeration published as an integer.
template <typename Object, typename T, typename Argument>
void updateProperty(Object* object, T& field, const T& value, void (Object::*signal)(Argument))
{
    Q_ASSERT(QThread::currentThread() == object->thread());
    if (sameValue(field, value)) return;
    field = value;
    if constexpr (std::is_enum_v<T> && !std::is_same_v<std::decay_t<Argument>, T>) {
        Q_EMIT(object->*signal)(static_cast<std::decay_t<Argument>>(value));
    } else {
        Q_EMIT(object->*signal)(value);
    }
    Q_EMIT object->changed();
}

} // namespace lumenfield
