// The scanner interface's enumerations, shared by the settings, the scanner object and the scan
// session.
//
// They are open: any 64-bit integer is a value of them (a stored scan source 2 is scan source 2), so
// they convert from and to their raw value with a plain cast. The named cases are the values the
// system knows.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <type_traits>

namespace lumenfield {

enum class VekScanSource : std::int64_t {
    reflective = 1,
    positiveFilm = 3,
    negativeFilm = 4
};

enum class VekColorType : std::int64_t {
    color = 0,
    gray = 1,
    blackAndWhite = 2
};

// 0 the full scan area, 1 to 17 paper and photo sizes, 18 a frame drawn by hand.
enum class VekScanFrameType : std::int64_t {
    fullArea = 0,
    legal = 1,
    letter = 2,
    a3 = 3,
    a4 = 4,
    b4 = 5,
    a5 = 6,
    b5 = 7,
    portrait8x10 = 8,
    landscape10x8 = 9,
    portrait6x8 = 10,
    landscape8x6 = 11,
    portrait5x7 = 12,
    landscape7x5 = 13,
    portrait4x6 = 14,
    landscape6x4 = 15,
    portrait3x5 = 16,
    landscape5x3 = 17,
    customized = 18,
};

// Passed to the scanner unchanged; the application offers these two.
enum class VekScanQuality : std::int64_t {
    speed = 1,
    quality = 8
};

enum class VekCalibrationMode : std::int64_t {
    smart = 0,
    typical = 1
};

enum class VekScanStatus : std::int64_t {
    ready = 0,
    starting = 1,
    reading = 2,
    processingImage = 3,
    writingFile = 4,
    stopped = 5,
    notConnected = 7, // no driver loaded yet
};

template <typename E>
concept OpenEnum =
    std::is_same_v<E, VekScanSource> || std::is_same_v<E, VekColorType> || std::is_same_v<E, VekScanFrameType> ||
    std::is_same_v<E, VekScanQuality> || std::is_same_v<E, VekCalibrationMode> || std::is_same_v<E, VekScanStatus>;

template <OpenEnum E> constexpr qint64 rawValue(E value)
{
    return static_cast<qint64>(value);
}

// Whether the source is one the system knows (a scan of any other cannot be started); whether it
// is film, scanned through the film unit.
constexpr bool isKnownSource(VekScanSource source)
{
    return source == VekScanSource::reflective || source == VekScanSource::positiveFilm ||
        source == VekScanSource::negativeFilm;
}

constexpr bool isFilm(VekScanSource source)
{
    return source == VekScanSource::positiveFilm || source == VekScanSource::negativeFilm;
}

// The scan controls are disabled while the status is one of these.
constexpr bool isBusy(VekScanStatus status)
{
    return status == VekScanStatus::starting || status == VekScanStatus::reading ||
        status == VekScanStatus::processingImage || status == VekScanStatus::writingFile;
}

} // namespace lumenfield
