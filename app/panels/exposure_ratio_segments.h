// The segments of the exposure-ratio picker, computed from the range the scanner reports.
//
// Segment p (1 to Steps + 1) has the value p × step, step = (Max − Min) / Steps truncated, and the
// label "%.1f" of value / 100 (100 is the normal exposure, "1.0"). The range is usable only when
// 1 ≤ Steps ≤ 64, the step is at least 1 and the largest value fits in 32 bits: a scanner with a
// range narrower than its steps, or absurd numbers, gets no picker rather than a division by zero
// or billions of segments.
#pragma once

#include "quorvane_scanner.h"
#include "value_range.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace lumenfield {

struct ExposureRatioSegment {
    QString label;
    qint64 value = 0;
};

// The step of a usable range; none otherwise.
std::optional<int64_t> exposureRatioStep(const ScannerRange& range);

// The label and value at `position`. Without a range (no scanner) or with an unusable one, "" and
// 100.
QString exposureRatioLabel(const std::optional<ScannerRange>& range, int32_t position);
qint64 exposureRatioValue(const std::optional<ScannerRange>& range, int32_t position);

// Every segment in order; none without a usable range.
std::vector<ExposureRatioSegment> exposureRatioSegments(const std::optional<ScannerRange>& range);

// The smallest and the largest value of the picker when the scanner offers it (it supports the
// exposure-ratio command and reports a usable range); none otherwise.
std::optional<ValueRange<qint64>> exposureRatioPickerRange(const ScannerCapabilities& capabilities);

} // namespace lumenfield
