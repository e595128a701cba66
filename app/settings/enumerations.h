// The application's own closed enumerations: what the user picks for post-processing and output.
//
// Each is a closed set of cases with a fixed raw value. The raw value is what the settings store
// holds, and for TIFFCompression and JPEGQuality also what the image writer hands on. Conversion
// from a raw value gives no case for any value that no case has.
#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <concepts>
#include <optional>
#include <span>
#include <type_traits>

namespace lumenfield {

// The kind of scan handed to the scan session; raw values are texts, compared exactly.
enum class ScanMode {
    preview,
    scan
};

// Conversion to black and white.
enum class BWMode {
    manual = 0,
    automatic = 1
}; // `auto` is a C++ keyword

// Conversion to gray.
enum class GrayMode {
    mono = 0,
    noir = 1,
    tonal = 2
};

enum class AdjustmentMethod {
    manual = 0,
    photo = 1,
    doc = 2,
    raw = 3
};

// Colour space of the written image. `generic` is the linear generic RGB space, although its display
// text is "Generic RGB".
enum class ICCProfile {
    generic = 0,
    sRGB = 1,
    adobeRGB = 2
};

enum class OutputFormat {
    jpeg = 0,
    png = 1,
    tiff = 2
};

// How the output file name begins.
enum class PrefixType {
    date = 0,
    text = 1
};

// Raw values are the values of the TIFF compression tag.
enum class TIFFCompression {
    none = 1,
    lzw = 5,
    jpeg = 7,
    zip = 8
};

// Raw values are the quality in percent. Cases run from the highest to the lowest quality.
enum class JPEGQuality {
    highest = 100,
    high = 75,
    medium = 50,
    low = 25,
    lowest = 5
};

// The cases of each closed enumeration with integer raw values, in declaration order (the order a
// picker lists them in).
template <typename E> struct EnumCases;

template <> struct EnumCases<BWMode> {
    static constexpr std::array values{BWMode::manual, BWMode::automatic};
};
template <> struct EnumCases<GrayMode> {
    static constexpr std::array values{GrayMode::mono, GrayMode::noir, GrayMode::tonal};
};
template <> struct EnumCases<AdjustmentMethod> {
    static constexpr std::array values{AdjustmentMethod::manual, AdjustmentMethod::photo, AdjustmentMethod::doc,
                                       AdjustmentMethod::raw};
};
template <> struct EnumCases<ICCProfile> {
    static constexpr std::array values{ICCProfile::generic, ICCProfile::sRGB, ICCProfile::adobeRGB};
};
template <> struct EnumCases<OutputFormat> {
    static constexpr std::array values{OutputFormat::jpeg, OutputFormat::png, OutputFormat::tiff};
};
template <> struct EnumCases<PrefixType> {
    static constexpr std::array values{PrefixType::date, PrefixType::text};
};
template <> struct EnumCases<TIFFCompression> {
    static constexpr std::array values{TIFFCompression::none, TIFFCompression::lzw, TIFFCompression::jpeg,
                                       TIFFCompression::zip};
};
template <> struct EnumCases<JPEGQuality> {
    static constexpr std::array values{JPEGQuality::highest, JPEGQuality::high, JPEGQuality::medium, JPEGQuality::low,
                                       JPEGQuality::lowest};
};

// A closed enumeration with integer raw values.
template <typename E>
concept ClosedEnum = std::is_enum_v<E> && requires
{
    EnumCases<E>::values;
};

template <ClosedEnum E> constexpr std::span<const E> allCases()
{
    return EnumCases<E>::values;
}

template <ClosedEnum E> constexpr qint64 rawValue(E value)
{
    return static_cast<qint64>(value);
}

// The case whose raw value equals `raw` exactly, or none. Compared in 64 bits, so a value that only
// agrees with a case in its low bits is no case.
template <ClosedEnum E> constexpr std::optional<E> fromRawValue(qint64 raw)
{
    for (E value : allCases<E>()) {
        if (rawValue(value) == raw) return value;
    }
    return std::nullopt;
}

QString rawValue(ScanMode mode);
std::optional<ScanMode> scanModeFromRawValue(QStringView raw);

// Display texts, for the enumerations that a picker shows by name.
QString displayName(AdjustmentMethod value);
QString displayName(ICCProfile value);
QString displayName(OutputFormat value);
QString displayName(PrefixType value);
QString displayName(TIFFCompression value);
QString displayName(JPEGQuality value);

template <typename E>
concept DisplayedEnum = ClosedEnum<E> && requires(E value)
{
    {
        displayName(value)
        } -> std::same_as<QString>;
};

// Identity of a case in a list: its raw value.
template <DisplayedEnum E> constexpr qint64 id(E value)
{
    return rawValue(value);
}

} // namespace lumenfield
