// The rules of the scan settings panel, as plain functions: the highest resolution of a model, the
// resolutions offered, the scan sources offered and the frame's limit at a resolution. The nearest
// offered resolution (nearestResolution) is the settings' own rule.
#pragma once

#include "combo_helpers.h"
#include "scan_frame_rules.h"
#include "scan_settings.h"

#include <QRectF>

#include <cstdint>
#include <vector>

namespace lumenfield {

// 4800 for scanner id 0x6204 with sub-model 0 or 2, else 1200.
qint64 maxResolution(std::uint16_t masterModelCode, std::uint8_t subModelCode);
// From 150 up to `max`, each the double of the one before: 150, 300, …, max (ascending).
std::vector<qint64> resolutionChoices(qint64 max);
// "%d DPI" of each choice, tagged with the choice.
std::vector<ComboItem> resolutionItems(const std::vector<qint64>& choices);
// "Reflective" (1) always, "Positive" (3) with bit 0x0004 of `sources`, "Negative" (4) with 0x0100.
std::vector<ComboItem> scanSourceItems(std::uint16_t sources);
// "RGB Color" (0), "Grayscale" (1), "Black & White" (2).
std::vector<ComboItem> colorTypeItems();

// Keeps each side of the frame within 10000 pixels at `resolution` and within the full area (the
// current source's area): a side too long is cut at its far end (the origin never moves) and the
// type becomes 18. The frame is left as it is for a resolution of 0 or less and for an unusable scale.
FrameUpdate clampScanFrame(const QRectF& previewRect, double scale, qint64 resolution, const QRectF& fullScanRect);

} // namespace lumenfield
