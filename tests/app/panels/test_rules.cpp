// The rules of the scan settings panel and the scan frame picker, on a full area of 8.5 × 11.7
// inches at 150 preview points per inch.
#include "scan_frame_rules.h"
#include "scan_settings_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace lumenfield;

namespace {

const QRectF fullArea(0, 0, 8.5, 11.7);
constexpr double scale = 150;

std::vector<std::string> listedLabels(qint64 resolution)
{
    std::vector<std::string> labels;
    for (VekScanFrameType type : listedFrameTypes(fullArea, resolution))
        labels.push_back(frameTypeEntry(rawValue(type))->label);
    return labels;
}

std::vector<std::string> texts(const std::vector<ComboItem>& items)
{
    std::vector<std::string> out;
    for (const ComboItem& item : items) out.push_back(item.text.toStdString() + "=" + std::to_string(item.tag));
    return out;
}

void expectFrame(const QRectF& actual, const QRectF& expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

const std::vector<std::string> photoSizes = {
    "Portrait: 8 x 10", "Landscape: 10 x 8", "Portrait: 6 x 8",  "Landscape: 8 x 6", "Portrait: 5 x 7",
    "Landscape: 7 x 5", "Portrait: 4 x 6",   "Landscape: 6 x 4", "Portrait: 3 x 5",  "Landscape: 5 x 3"};

TEST(ScanFrameRules, ListsTheSizesThatFitTheResolution)
{
    std::vector<std::string> at600 = {"Customized", "Full Area", "Letter", "A4", "A5", "B5"};
    at600.insert(at600.end(), photoSizes.begin(), photoSizes.end());
    EXPECT_EQ(listedLabels(600), at600);
    std::vector<std::string> at1200 = {"Customized", "A5"};
    at1200.insert(at1200.end(), photoSizes.begin() + 2, photoSizes.end());
    EXPECT_EQ(listedLabels(1200), at1200);
    EXPECT_EQ(listedLabels(4800), std::vector<std::string>{"Customized"});
    ASSERT_EQ(frameTypeTable().size(), 19u);
    EXPECT_EQ(frameTypeEntry(-1), nullptr);
    EXPECT_EQ(frameTypeEntry(19), nullptr);
}

TEST(ScanFrameRules, ChoosingATypeSetsTheFrame)
{
    // Wider than the full area: cut at its right edge, and customized.
    std::optional<FrameUpdate> update = frameForType(9, QRectF(0, 0, 100, 100), scale, fullArea);
    ASSERT_TRUE(update);
    expectFrame(update->previewRect, QRectF(0, 0, 1275, 1200));
    EXPECT_TRUE(update->customized);

    // Letter from (1, 1) inches passes the full width and height.
    update = frameForType(2, QRectF(150, 150, 10, 10), scale, fullArea);
    ASSERT_TRUE(update);
    expectFrame(update->previewRect, QRectF(150, 150, 1125, 1605));
    EXPECT_TRUE(update->customized);

    // The full area, and any value outside 0 to 18, give the full area, keeping the type.
    for (qint64 type : {0, 25, -3}) {
        update = frameForType(type, QRectF(37, 40, 10, 10), scale, fullArea);
        ASSERT_TRUE(update) << type;
        expectFrame(update->previewRect, QRectF(0, 0, 1275, 1755));
        EXPECT_FALSE(update->customized) << type;
    }

    // "Customized" moves nothing; an unusable scale changes nothing.
    EXPECT_FALSE(frameForType(18, QRectF(1, 2, 3, 4), scale, fullArea));
    EXPECT_FALSE(frameForType(2, QRectF(1, 2, 3, 4), 0, fullArea));
    EXPECT_FALSE(frameForType(2, QRectF(1, 2, 3, 4), std::nan(""), fullArea));
}

TEST(ScanFrameRules, AnOriginBeyondTheFullAreaStartsTheSizeAtItsOrigin)
{
    // (10, 2) and (1, 12) inches: nothing of an A5 would lie on the full area.
    for (const QRectF& frame : {QRectF(1500, 300, 100, 100), QRectF(150, 1800, 100, 100), QRectF(1275, 0, 10, 10)}) {
        const std::optional<FrameUpdate> update = frameForType(6, frame, scale, fullArea);
        ASSERT_TRUE(update);
        expectFrame(update->previewRect, QRectF(0, 0, 5.83 * scale, 8.27 * scale));
        EXPECT_TRUE(update->customized);
        EXPECT_TRUE(QRectF(0, 0, 1275, 1755).contains(update->previewRect));
    }
}

TEST(ScanFrameRules, ReadOutAndUnits)
{
    const QRectF frame(0, 0, 1275, 1650);
    EXPECT_EQ(frameSizeText(frame, scale, Unit::inch), "8.5 x 11.0");
    EXPECT_EQ(frameSizeText(frame, scale, Unit::centimeter), "21.6 x 27.9");
    EXPECT_EQ(frameSizeText(frame, 0, Unit::inch), "");
    EXPECT_EQ(frameSizeText(frame, INFINITY, Unit::inch), "");
    EXPECT_EQ(roundedToPlaces(1.25, 1), 1.3);
    EXPECT_EQ(roundedToPlaces(-1.25, 1), -1.3);

    for (Unit unit : allUnits) EXPECT_EQ(unitFromRaw(rawValue(unit)), unit);
    EXPECT_EQ(unitFromRaw(u"cm"), std::nullopt);
}

TEST(ScanSettingsRules, ResolutionsOfAModel)
{
    EXPECT_EQ(maxResolution(0x6204, 0), 4800);
    EXPECT_EQ(maxResolution(0x6204, 2), 4800);
    EXPECT_EQ(maxResolution(0x6204, 1), 1200);
    EXPECT_EQ(maxResolution(0x6205, 0), 1200);
    EXPECT_EQ(resolutionChoices(1200), (std::vector<qint64>{150, 300, 600, 1200}));
    EXPECT_EQ(resolutionChoices(4800), (std::vector<qint64>{150, 300, 600, 1200, 2400, 4800}));
    EXPECT_EQ(texts(resolutionItems({150, 4800})), (std::vector<std::string>{"150 DPI=150", "4800 DPI=4800"}));
}

TEST(ScanSettingsRules, SourcesOfTheCapabilities)
{
    const std::vector<std::string> reflective{"Reflective=1"};
    EXPECT_EQ(texts(scanSourceItems(0x0104)), (std::vector<std::string>{"Reflective=1", "Positive=3", "Negative=4"}));
    EXPECT_EQ(texts(scanSourceItems(0x0004)), (std::vector<std::string>{"Reflective=1", "Positive=3"}));
    EXPECT_EQ(texts(scanSourceItems(0x0100)), (std::vector<std::string>{"Reflective=1", "Negative=4"}));
    EXPECT_EQ(texts(scanSourceItems(0)), reflective);
    EXPECT_EQ(texts(scanSourceItems(0x0201)), reflective);
    EXPECT_EQ(texts(colorTypeItems()), (std::vector<std::string>{"RGB Color=0", "Grayscale=1", "Black & White=2"}));
}

TEST(ScanSettingsRules, ClampKeepsTheFrameWithinTheResolution)
{
    // 2400 dpi: at most 4.1667 inches, 625 points a side.
    FrameUpdate update = clampScanFrame(QRectF(0, 0, 1000, 1500), scale, 2400, fullArea);
    expectFrame(update.previewRect, QRectF(0, 0, 625, 625));
    EXPECT_TRUE(update.customized);
    // 1200 dpi: 8.3333 inches; the height fits. The origin never moves.
    update = clampScanFrame(QRectF(20, 30, 1275, 1000), scale, 1200, fullArea);
    expectFrame(update.previewRect, QRectF(20, 30, 1250, 1000));
    EXPECT_TRUE(update.customized);
    // Within the limits, a resolution of 0 or less, and an unusable scale: the frame stays.
    for (const auto& [resolution, s] :
         std::vector<std::pair<qint64, double>>{{600, scale}, {0, scale}, {-300, scale}, {2400, 0}, {2400, NAN}}) {
        const QRectF frame = resolution == 600 ? QRectF(10, 10, 300, 300) : QRectF(0, 0, 1000, 1500);
        EXPECT_EQ(clampScanFrame(frame, s, resolution, fullArea), (FrameUpdate{frame, false})) << resolution;
    }
}

TEST(ScanSettingsRules, NearestListedResolution)
{
    const std::vector<qint64> upTo1200{150, 300, 600, 1200};
    const std::pair<qint64, qint64> cases[] = {{4800, 1200},
                                               {2400, 1200},
                                               {1200, 1200},
                                               {700, 600},
                                               {900, 600},
                                               {901, 1200},
                                               {225, 150},
                                               {75, 150},
                                               {0, 150},
                                               {-5, 150},
                                               {std::numeric_limits<qint64>::max(), 1200},
                                               {std::numeric_limits<qint64>::min(), 150}};
    for (const auto& [stored, offered] : cases) EXPECT_EQ(nearestResolution(upTo1200, stored), offered) << stored;
    EXPECT_EQ(nearestResolution({}, 4800), 4800);
}

// The frame on a film unit of 1.5 × 9 inches (225 × 1350 points).
TEST(ScanFrameRules, FitToTheAreaOfTheSource)
{
    const QRectF film(0, 0, 1.5, 9);
    const QRectF defaultFrame(0, 0, 100, 100);
    const qint64 custom = rawValue(VekScanFrameType::customized);
    const qint64 letter = rawValue(VekScanFrameType::letter);
    const qint64 full = rawValue(VekScanFrameType::fullArea);
    const struct {
        QRectF frame;
        qint64 type;
        QRectF fitted;
        bool customized;
    } cases[] = {
        {QRectF(10, 20, 100, 200), letter, QRectF(10, 20, 100, 200), false},             // within: untouched
        {QRectF(0, 0, 225 + 1e-7, 1350), letter, QRectF(0, 0, 225 + 1e-7, 1350), false}, // past by a rounding
        {QRectF(0, 0, 1275, 1650), letter, QRectF(0, 0, 225, 1350), true},               // cut to the unit
        {QRectF(100, 1300, 300, 300), custom, QRectF(100, 1300, 125, 50), true},
        {QRectF(450, 0, 100, 100), custom, defaultFrame, true},           // wholly beside it
        {QRectF(225, 0, 100, 100), custom, defaultFrame, true},           // touching its edge
        {QRectF(0, 1400, 100, 100), letter, defaultFrame, true},          // wholly below it
        {QRectF(450, 0, 100, 100), full, QRectF(0, 0, 225, 1350), false}, // "Full Area" is the unit
        {QRectF(0, 0, 1275, 1755), full, QRectF(0, 0, 225, 1350), false},
    };
    for (const auto& c : cases) {
        const FrameUpdate update = fitFrameToArea(c.frame, scale, c.type, film, defaultFrame);
        expectFrame(update.previewRect, c.fitted);
        EXPECT_EQ(update.customized, c.customized) << c.type;
    }
    // A default frame larger than the unit (a small scale) is cut as well.
    const FrameUpdate small = fitFrameToArea(QRectF(500, 500, 5, 5), 50, custom, film, defaultFrame);
    expectFrame(small.previewRect, QRectF(0, 0, 75, 100));
    // Without a usable scale or an area, nothing is known to fit to.
    const QRectF outside(450, 0, 100, 100);
    for (const auto& [s, area] : std::vector<std::pair<double, QRectF>>{{0, film}, {NAN, film}, {scale, QRectF()}})
        EXPECT_EQ(fitFrameToArea(outside, s, custom, area, defaultFrame), (FrameUpdate{outside, false}));
}

} // namespace
