#include "color_space.h"
#include "enumerations.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <tuple>

using namespace lumenfield;

namespace {

template <typename E> QStringList displayNames()
{
    QStringList names;
    for (E value : allCases<E>()) names << displayName(value);
    return names;
}

template <typename E> void expectEveryCaseRoundTrips()
{
    for (E value : allCases<E>()) EXPECT_EQ(fromRawValue<E>(rawValue(value)), value);
}

} // namespace

TEST(Enumerations, RawValuesWithoutACaseGiveNone)
{
    for (qint64 raw : {2, 3, 4, 6}) EXPECT_FALSE(fromRawValue<TIFFCompression>(raw)) << raw;
    EXPECT_EQ(fromRawValue<TIFFCompression>(8), TIFFCompression::zip);
    EXPECT_FALSE(fromRawValue<JPEGQuality>(76));
    EXPECT_FALSE(fromRawValue<JPEGQuality>(0));
    EXPECT_EQ(fromRawValue<JPEGQuality>(5), JPEGQuality::lowest);
    for (qint64 raw : {3, -1}) {
        EXPECT_FALSE(fromRawValue<GrayMode>(raw));
        EXPECT_FALSE(fromRawValue<ICCProfile>(raw));
        EXPECT_FALSE(fromRawValue<OutputFormat>(raw));
    }
    EXPECT_FALSE(fromRawValue<BWMode>(2));
    EXPECT_FALSE(fromRawValue<PrefixType>(2));
    // Only the low 32 bits agree with a case.
    EXPECT_FALSE(fromRawValue<TIFFCompression>((qint64(1) << 32) + 1));

    EXPECT_FALSE(scanModeFromRawValue(u"Preview"));
    EXPECT_FALSE(scanModeFromRawValue(u""));
    EXPECT_EQ(scanModeFromRawValue(u"scan"), ScanMode::scan);
    EXPECT_EQ(scanModeFromRawValue(rawValue(ScanMode::preview)), ScanMode::preview);
}

TEST(Enumerations, CasesListedInDeclarationOrderWithTheirTexts)
{
    expectEveryCaseRoundTrips<BWMode>();
    expectEveryCaseRoundTrips<GrayMode>();
    expectEveryCaseRoundTrips<AdjustmentMethod>();
    expectEveryCaseRoundTrips<ICCProfile>();
    expectEveryCaseRoundTrips<OutputFormat>();
    expectEveryCaseRoundTrips<PrefixType>();
    expectEveryCaseRoundTrips<TIFFCompression>();
    expectEveryCaseRoundTrips<JPEGQuality>();

    EXPECT_EQ(displayNames<JPEGQuality>(), QStringList({"Highest", "High", "Medium", "Low", "Lowest"}));
    EXPECT_EQ(displayNames<AdjustmentMethod>(), QStringList({"Manual", "Photo", "Doc", "Raw"}));
    EXPECT_EQ(displayNames<ICCProfile>(), QStringList({"Generic RGB", "sRGB IEC61966-2-1", "Adobe RGB(1998)"}));
    EXPECT_EQ(displayNames<OutputFormat>(), QStringList({"JPEG", "PNG", "TIFF"}));
    EXPECT_EQ(displayNames<PrefixType>(), QStringList({"Date", "Text"}));
    EXPECT_EQ(displayNames<TIFFCompression>(), QStringList({"None", "LZW", "JPEG", "ZIP"}));
}

TEST(Enumerations, ProfilesAreRGBWithTheirToneCurves)
{
    // (profile, what the tone curve makes of 0.5)
    const std::tuple<ICCProfile, double> expected[] = {
        {ICCProfile::generic, 0.5},
        {ICCProfile::sRGB, 0.21404},     // the sRGB curve
        {ICCProfile::adobeRGB, 0.21776}, // 0.5 ^ (563 / 256)
    };
    for (const auto& [profile, atHalf] : expected) {
        const ColorProfile space = colorSpace(profile);
        ASSERT_TRUE(space);
        EXPECT_EQ(cmsGetColorSpace(space.get()), cmsSigRgbData);
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(space.get(), cmsSigRedTRCTag));
        ASSERT_TRUE(curve);
        EXPECT_NEAR(cmsEvalToneCurveFloat(curve, 0.5f), atHalf, 1e-4) << displayName(profile).toStdString();

        char description[64] = {};
        const auto* mlu = static_cast<const cmsMLU*>(cmsReadTag(space.get(), cmsSigProfileDescriptionTag));
        ASSERT_TRUE(mlu);
        cmsMLUgetASCII(mlu, "en", "US", description, sizeof description);
        EXPECT_EQ(QString::fromLatin1(description), displayName(profile));
    }
}
