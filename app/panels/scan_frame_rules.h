// The rules of the scan frame picker, as plain functions: the frame types and their sizes, which of
// them fit, the frame a chosen type makes, and the frame's size in inches or centimetres.
//
// Frames are in preview points (see ScanSettings::previewRect); `scale` is preview points per inch,
// ScanSettings::previewResolution × previewImageScale. The full area is the area of the current scan
// source in inches (the film unit's on the film sources, the glass otherwise).
#pragma once

#include "scanner_enumerations.h"

#include <QRectF>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace lumenfield {

struct FrameTypeEntry {
    VekScanFrameType type;
    const char* label;
    double width; // inches; 0 for the full area and for a frame drawn by hand
    double height;
};

// All 19 frame types in value order, 0 "Full Area" to 18 "Customized".
std::span<const FrameTypeEntry> frameTypeTable();
// The entry of a frame type, none for a value outside 0 to 18.
const FrameTypeEntry* frameTypeEntry(qint64 type);

// The longest side a listed size may have: the full area's height or 10000 pixels at `resolution`,
// whichever is smaller. The same limit serves for both sides.
double maxFrameInches(const QRectF& fullScanRect, qint64 resolution);
// The types the picker lists, in order: 18, then 0 when the full area fits the limit, then each of
// 1 to 17 whose width and height fit it.
std::vector<VekScanFrameType> listedFrameTypes(const QRectF& fullScanRect, qint64 resolution);

// A new frame for the settings, and whether the frame type becomes 18 ("Customized").
struct FrameUpdate {
    QRectF previewRect;
    bool customized = false;
    friend bool operator==(const FrameUpdate&, const FrameUpdate&) = default;
};

// Whether `scale` can convert between points and inches: a finite number above 0.
bool usableScale(double scale);

// The frame that choosing `type` makes from the current `previewRect`: the type's size at the
// frame's origin (the full area for 0 and for a value outside 0 to 18), cut to the full area; the
// type becomes 18 when the size reaches past the full area's width or height. When the origin lies
// at or beyond the full area, the size is placed at the full area's origin before it is cut. None
// for 18 (the frame stays as drawn) and for an unusable scale.
std::optional<FrameUpdate> frameForType(qint64 type, const QRectF& previewRect, double scale,
                                        const QRectF& fullScanRect);

// Keeps the frame on `area`, the current source's area in inches, when the source, its area or the
// preview changes and when a stored frame is loaded:
//   - "Full Area" (0) becomes the area, as choosing it would make it, and keeps its type;
//   - a frame reaching past the area is cut to it and the type becomes 18;
//   - a frame with nothing on the area is refused: the default frame takes its place, cut to the area
//     too, and the type becomes 18.
// A frame past the area by less than a millionth of an inch (rounding of a rescale) stays as it is.
// Nothing changes for an unusable scale or an area without size.
FrameUpdate fitFrameToArea(const QRectF& previewRect, double scale, qint64 frameType, const QRectF& area,
                           const QRectF& defaultFrame);

enum class Unit {
    inch,
    centimeter
};

constexpr std::array<Unit, 2> allUnits{Unit::inch, Unit::centimeter};
// "inch" or "centimeter".
QString rawValue(Unit unit);
std::optional<Unit> unitFromRaw(QStringView raw);
// "in" or "cm".
QString unitLabel(Unit unit);

// The frame in `unit` (origin and size).
QRectF physicalFrameSize(const QRectF& previewRect, double scale, Unit unit);
// "<width> x <height>" in `unit`, each "%.1f"; empty for an unusable scale.
QString frameSizeText(const QRectF& previewRect, double scale, Unit unit);

// `value` rounded to `places` decimal places, halves away from zero.
double roundedToPlaces(double value, int places);

} // namespace lumenfield
