// Encoding a lazy image on every core: the image is cut into strips of whole rows, each strip is
// computed and encoded by one worker thread, and the encoded strips come back in order.
#pragma once

#include "vips_image.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lumenfield {

// What a worker does with the strips it takes. One encoder per worker thread, so it may keep
// state (tables, buffers) from strip to strip.
class StripEncoder {
public:
    virtual ~StripEncoder() = default;
    // A new strip, `strip` counted from the top.
    virtual void begin(int strip) = 0;
    // The next `count` rows of the strip, `rowBytes` bytes each, top first.
    virtual void add(const std::uint8_t* rows, int count, std::size_t rowBytes) = 0;
    // The strip's encoded bytes.
    virtual std::vector<std::uint8_t> end() = 0;
};

// Computes `image` (8-bit samples) strip by strip on up to `workers` threads (libvips' concurrency
// when 0), each strip `stripRows` rows (the last one what is left), encodes each with an encoder
// made by `makeEncoder` for its thread and hands the results to `emit` in strip order on the
// calling thread. Only a few strips are in memory at a time: workers wait while the strip they
// would take runs too far ahead of the one emitted last. Throws vips::VError when a strip cannot
// be computed; an exception from an encoder or from `emit` ends the work and is passed on.
void encodeStrips(const Image& image, int stripRows, const std::function<std::unique_ptr<StripEncoder>()>& makeEncoder,
                  const std::function<void(int strip, std::vector<std::uint8_t>& bytes)>& emit, int workers = 0);

} // namespace lumenfield
