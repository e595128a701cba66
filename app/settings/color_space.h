// Colour spaces of the output profiles, built with lcms2.
#pragma once

#include "enumerations.h"

#include <lcms2.h>

#include <memory>
#include <type_traits>

namespace lumenfield {

struct ColorProfileCloser {
    void operator()(cmsHPROFILE profile) const noexcept { cmsCloseProfile(profile); }
};

// An lcms2 profile owned by its holder.
using ColorProfile = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, ColorProfileCloser>;

// A new RGB profile for the case, with the case's display text as its description:
//   generic   linear RGB: sRGB primaries, D65, gamma 1.0
//   sRGB      the sRGB IEC61966-2-1 space
//   adobeRGB  Adobe RGB (1998): its primaries, D65, gamma 563/256
// Null only when lcms2 cannot allocate.
ColorProfile colorSpace(ICCProfile profile);

} // namespace lumenfield
