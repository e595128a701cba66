// The fuzzer's bytes as an image file the application reads back (a preview cache or the raw image
// of a scan): a decoded image of a sane size, or a clear failure.
#include "fuzz_check.h"
#include "image_file.h"
#include "scratch_folder.h"

#include <QString>

#include <cstdlib>

#include <vips/vips8>

using namespace lumenfield;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Started once and shut down at exit, as the application does: libvips keeps its worker
    // threads and their bookkeeping until then.
    static const bool started = VIPS_INIT("fuzz_image_file") == 0 && std::atexit([] { vips_shutdown(); }) == 0;
    FUZZ_CHECK(started);
    static const QString path = QString::fromStdString(fuzz::scratch_folder()) + QStringLiteral("image.tiff");
    FUZZ_CHECK(fuzz::write_file(path.toStdString(), data, size));
    if (const std::optional<Image> image = readImageFile(path)) {
        FUZZ_CHECK(image->width() > 0 && image->height() > 0);
        FUZZ_CHECK(image->width() <= 65535 && image->height() <= 65535);
        FUZZ_CHECK(int64_t{image->width()} * image->height() <= 400000000);
    }
    return 0;
}
