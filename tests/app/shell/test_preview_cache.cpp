// The preview cache's TIFF encoding: the pixels as they are, at the preview resolution in inches.
#include "preview_cache.h"
#include "scan_settings.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <memory>
#include <vector>

using namespace lumenfield;

TEST(PreviewCache, KeepsThePixelsAtThePreviewResolutionInInches)
{
    std::vector<uint8_t> pixels(7 * 5 * 3);
    for (std::size_t i = 0; i < pixels.size(); i++) pixels[i] = uint8_t(i * 37);
    // As read back from a cache file of an older version: 10 pixels per centimetre.
    const Image image = Image::new_from_memory(pixels.data(), pixels.size(), 7, 5, 3, VIPS_FORMAT_UCHAR)
                            .copy(Image::option()->set("xres", 1.0)->set("yres", 1.0));
    const std::optional<QByteArray> bytes = previewTIFF(image);
    ASSERT_TRUE(bytes);
    const Image read = Image::new_from_buffer(bytes->constData(), std::size_t(bytes->size()), "");
    EXPECT_STREQ(read.get_string("resolution-unit"), "in");
    EXPECT_NEAR(read.xres() * 25.4, ScanSettings::previewResolution, 1e-3);
    EXPECT_NEAR(read.yres() * 25.4, ScanSettings::previewResolution, 1e-3);
    ASSERT_EQ(read.width(), 7);
    ASSERT_EQ(read.bands(), 3);
    std::size_t size = 0;
    const std::unique_ptr<void, decltype(&g_free)> back(read.write_to_memory(&size), g_free);
    ASSERT_EQ(size, pixels.size());
    EXPECT_EQ(std::memcmp(back.get(), pixels.data(), size), 0);
}
