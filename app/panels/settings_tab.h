// The tabs of the preferences window.
#pragma once

#include <QtGlobal>

#include <optional>

namespace lumenfield {

// `image` names a tab that the window does not have; selecting it changes nothing.
enum class SettingsTab : int {
    general = 0,
    scanner = 1,
    image = 2
};

template <typename E> constexpr std::optional<E> fromRaw(qint64 raw);

// The case of a raw value; none for any other integer.
template <> constexpr std::optional<SettingsTab> fromRaw<SettingsTab>(qint64 raw)
{
    switch (raw) {
    case 0: return SettingsTab::general;
    case 1: return SettingsTab::scanner;
    case 2: return SettingsTab::image;
    default: return std::nullopt;
    }
}

} // namespace lumenfield
