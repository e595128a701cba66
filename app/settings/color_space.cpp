#include "color_space.h"

#include <QByteArray>

#include <array>

namespace lumenfield {

namespace {

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyYTRIPLE kSRGBPrimaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
constexpr cmsCIExyYTRIPLE kAdobeRGBPrimaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};

struct ToneCurveFree {
    void operator()(cmsToneCurve* curve) const noexcept { cmsFreeToneCurve(curve); }
};
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFree>;

ColorProfile makeRGBProfile(const cmsCIExyYTRIPLE& primaries, double gamma)
{
    const ToneCurve curve(cmsBuildGamma(nullptr, gamma));
    if (!curve) return nullptr;
    std::array<cmsToneCurve*, 3> curves{curve.get(), curve.get(), curve.get()};
    // lcms2 copies the curves into the profile.
    return ColorProfile(cmsCreateRGBProfile(&kD65, &primaries, curves.data()));
}

bool setDescription(cmsHPROFILE profile, const QString& text)
{
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (!mlu) return false;
    const QByteArray ascii = text.toLatin1();
    const bool ok =
        cmsMLUsetASCII(mlu, "en", "US", ascii.constData()) && cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

} // namespace

ColorProfile colorSpace(ICCProfile profile)
{
    ColorProfile result;
    switch (profile) {
    case ICCProfile::generic: result = makeRGBProfile(kSRGBPrimaries, 1.0); break;
    case ICCProfile::sRGB: result.reset(cmsCreate_sRGBProfile()); break;
    case ICCProfile::adobeRGB: result = makeRGBProfile(kAdobeRGBPrimaries, 563.0 / 256.0); break;
    }
    if (result && !setDescription(result.get(), displayName(profile))) result.reset();
    return result;
}

} // namespace lumenfield
