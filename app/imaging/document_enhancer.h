// CIDocumentEnhancer: evens out the paper of a page against its own background and deepens the
// ink. With amount A:
//   1. e = E(clamp(c)) per channel;
//   2. the background bg: e box-averaged by k = max(1, ceil(long side / 512)), the 7 x 7 maximum,
//      a Gaussian blur of sigma 2, kept in memory and scaled back to full size bilinearly;
//   3. v = clamp(e / max(bg, 0.05));
//   4. c' = D(clamp(1 - (1 - v) (1 + 0.1 A))).
#pragma once

#include "point_program.h"
#include "vips_image.h"

#include <memory>
#include <vector>

namespace lumenfield {

// The background at reduced size, with the size of the image it belongs to.
struct DocumentBackground {
    int width = 0;
    int height = 0;
    int fullWidth = 0;
    int fullHeight = 0;
    std::vector<float> values; // width x height x 3
};

// e = E(clamp(c)).
PointOpPtr clampedEncodeOp();
// Step 2 from the encoded image e. Evaluates the image once. Throws vips::VError.
std::shared_ptr<const DocumentBackground> documentBackground(const Image& encoded);
// Steps 3 and 4 from the working pixels and the background.
PointOpPtr documentEnhancerOp(std::shared_ptr<const DocumentBackground> background, double amount);

Image documentEnhancer(const Image& image, double amount);

} // namespace lumenfield
