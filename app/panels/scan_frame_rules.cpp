#include "scan_frame_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumenfield {

namespace {

using T = VekScanFrameType;

constexpr std::array<FrameTypeEntry, 19> frameTypes{{
    {T::fullArea, "Full Area", 0, 0},
    {T::legal, "Legal", 8.5, 14},
    {T::letter, "Letter", 8.5, 11},
    {T::a3, "A3", 11.69, 16.54},
    {T::a4, "A4", 8.27, 11.69},
    {T::b4, "B4", 9.84, 13.9},
    {T::a5, "A5", 5.83, 8.27},
    {T::b5, "B5", 6.92, 9.84},
    {T::portrait8x10, "Portrait: 8 x 10", 8, 10},
    {T::landscape10x8, "Landscape: 10 x 8", 10, 8},
    {T::portrait6x8, "Portrait: 6 x 8", 6, 8},
    {T::landscape8x6, "Landscape: 8 x 6", 8, 6},
    {T::portrait5x7, "Portrait: 5 x 7", 5, 7},
    {T::landscape7x5, "Landscape: 7 x 5", 7, 5},
    {T::portrait4x6, "Portrait: 4 x 6", 4, 6},
    {T::landscape6x4, "Landscape: 6 x 4", 6, 4},
    {T::portrait3x5, "Portrait: 3 x 5", 3, 5},
    {T::landscape5x3, "Landscape: 5 x 3", 5, 3},
    {T::customized, "Customized", 0, 0},
}};

QRectF scaled(const QRectF& rect, double factor)
{
    return QRectF(rect.x() * factor, rect.y() * factor, rect.width() * factor, rect.height() * factor);
}

} // namespace

std::span<const FrameTypeEntry> frameTypeTable()
{
    return frameTypes;
}

const FrameTypeEntry* frameTypeEntry(qint64 type)
{
    if (type < 0 || type >= qint64(frameTypes.size())) return nullptr;
    return &frameTypes[std::size_t(type)];
}

double maxFrameInches(const QRectF& fullScanRect, qint64 resolution)
{
    return std::min(fullScanRect.height(), 10000.0 / double(resolution));
}

std::vector<VekScanFrameType> listedFrameTypes(const QRectF& fullScanRect, qint64 resolution)
{
    const double limit = maxFrameInches(fullScanRect, resolution);
    const auto fits = [limit](double width, double height) { return width <= limit && height <= limit; };
    std::vector<VekScanFrameType> listed{T::customized};
    if (fits(fullScanRect.width(), fullScanRect.height())) listed.push_back(T::fullArea);
    for (const FrameTypeEntry& entry : frameTypes) {
        if (entry.type != T::fullArea && entry.type != T::customized && fits(entry.width, entry.height))
            listed.push_back(entry.type);
    }
    return listed;
}

bool usableScale(double scale)
{
    return std::isfinite(scale) && scale > 0.0;
}

std::optional<FrameUpdate> frameForType(qint64 type, const QRectF& previewRect, double scale,
                                        const QRectF& fullScanRect)
{
    if (type == rawValue(T::customized) || !usableScale(scale)) return std::nullopt;
    const QRectF current = physicalFrameSize(previewRect, scale, Unit::inch);
    const FrameTypeEntry* entry = frameTypeEntry(type);
    QRectF frame = fullScanRect;
    if (entry && entry->type != T::fullArea) frame = QRectF(current.topLeft(), QSizeF(entry->width, entry->height));

    // Measured against the full area's width and height, not its right and bottom edges.
    FrameUpdate update;
    update.customized =
        fullScanRect.width() < frame.x() + frame.width() || fullScanRect.height() < frame.y() + frame.height();
    QRectF cut = fullScanRect.intersected(frame);
    if (!(cut.width() > 0.0 && cut.height() > 0.0)) {
        // Nothing of the size lies on the full area: start it at the area's origin instead.
        frame.moveTopLeft(fullScanRect.topLeft());
        cut = fullScanRect.intersected(frame);
        update.customized = true;
    }
    update.previewRect = scaled(cut, scale);
    return update;
}

FrameUpdate fitFrameToArea(const QRectF& previewRect, double scale, qint64 frameType, const QRectF& area,
                           const QRectF& defaultFrame)
{
    FrameUpdate update{previewRect, false};
    if (!usableScale(scale) || !(area.width() > 0.0 && area.height() > 0.0)) return update;
    const double slack = 1e-6 * scale;
    const QRectF onArea = scaled(area, scale);
    const auto near = [slack](double a, double b) { return std::abs(a - b) <= slack; };
    if (frameType == rawValue(T::fullArea)) {
        const QRectF full = frameForType(frameType, previewRect, scale, area)->previewRect;
        const bool same = near(previewRect.left(), full.left()) && near(previewRect.top(), full.top()) &&
            near(previewRect.right(), full.right()) && near(previewRect.bottom(), full.bottom());
        if (!same) update.previewRect = full;
        return update;
    }
    const bool inside = previewRect.left() >= onArea.left() - slack && previewRect.top() >= onArea.top() - slack &&
        previewRect.right() <= onArea.right() + slack && previewRect.bottom() <= onArea.bottom() + slack;
    if (inside) return update;
    QRectF cut = previewRect.intersected(onArea);
    if (!(cut.width() > 0.0 && cut.height() > 0.0)) cut = defaultFrame.intersected(onArea);
    update.previewRect = cut;
    update.customized = true;
    return update;
}

QString rawValue(Unit unit)
{
    return unit == Unit::inch ? QStringLiteral("inch") : QStringLiteral("centimeter");
}

std::optional<Unit> unitFromRaw(QStringView raw)
{
    for (Unit unit : allUnits) {
        if (raw == rawValue(unit)) return unit;
    }
    return std::nullopt;
}

QString unitLabel(Unit unit)
{
    return unit == Unit::inch ? QStringLiteral("in") : QStringLiteral("cm");
}

QRectF physicalFrameSize(const QRectF& previewRect, double scale, Unit unit)
{
    const QRectF inches = scaled(previewRect, 1.0 / scale);
    return unit == Unit::inch ? inches : scaled(inches, 2.54);
}

QString frameSizeText(const QRectF& previewRect, double scale, Unit unit)
{
    if (!usableScale(scale)) return QString();
    const QRectF size = physicalFrameSize(previewRect, scale, unit);
    char text[128];
    std::snprintf(text, sizeof text, "%.1f x %.1f", size.width(), size.height());
    return QString::fromLatin1(text);
}

double roundedToPlaces(double value, int places)
{
    const double factor = std::pow(10.0, places);
    return std::round(value * factor) / factor;
}

} // namespace lumenfield
