// The closed range of values a control offers, as the settings loaders check stored values against it.
#pragma once

namespace lumenfield {

template <typename T> struct ValueRange {
    T min;
    T max;

    constexpr bool contains(const T& value) const { return min <= value && value <= max; }
};

} // namespace lumenfield
