#include "tiff_writer.h"

#include "atomic_file.h"
#include "parallel_strips.h"
#include "strip_codecs.h"

#include <tiffio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <memory>

namespace lumenfield {

namespace {

// As in the files written before: readers that fetch a strip at a time need no more than this.
constexpr int kRowsPerStrip = 128;
// Uncompressed strips are as large as their rows: 16 rows keep the few strips the workers have in
// flight at some 10 MB for a 10000-pixel-wide image with its alpha band, where strips of 128 rows
// would hold 80 MB.
constexpr int kRawRowsPerStrip = 16;

// libtiff reaches the caller's descriptor through these; closing it stays with the caller.
int descriptorOf(thandle_t handle)
{
    return *static_cast<int*>(handle);
}

tmsize_t readFile(thandle_t handle, void* data, tmsize_t size)
{
    for (;;) {
        const ssize_t got = ::read(descriptorOf(handle), data, static_cast<size_t>(size));
        if (got >= 0 || errno != EINTR) return got;
    }
}

tmsize_t writeFile(thandle_t handle, void* data, tmsize_t size)
{
    return writeAll(descriptorOf(handle), data, static_cast<size_t>(size)) ? size : -1;
}

toff_t seekFile(thandle_t handle, toff_t offset, int whence)
{
    return static_cast<toff_t>(::lseek(descriptorOf(handle), static_cast<off_t>(offset), whence));
}

int keepOpen(thandle_t)
{
    return 0;
}

toff_t fileSize(thandle_t handle)
{
    struct stat info {};
    return ::fstat(descriptorOf(handle), &info) == 0 ? static_cast<toff_t>(info.st_size) : 0;
}

int noMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void noUnmap(thandle_t, void*, toff_t) {}

// The writer prints nothing: a failure shows in its result.
int quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// Rows through the horizontal predictor, then through `Codec`, one strip per stream.
template <typename Codec> class PredictedStrips final : public StripEncoder {
public:
    template <typename... Arguments>
    explicit PredictedStrips(std::size_t pixelBytes, Arguments... arguments)
        : pixelBytes_(pixelBytes), codec_(arguments...)
    {}

    void begin(int) override { codec_.begin(); }

    // A row at a time: the codecs carry their state from call to call, and a buffer of one row
    // takes a hundredth of the memory of a slab's.
    void add(const std::uint8_t* rows, int count, std::size_t rowBytes) override
    {
        differenced_.resize(rowBytes);
        for (int row = 0; row < count; ++row) {
            differenceRow(rows + static_cast<std::size_t>(row) * rowBytes, differenced_.data(), rowBytes, pixelBytes_);
            codec_.add(differenced_.data(), rowBytes);
        }
    }

    std::vector<std::uint8_t> end() override { return codec_.end(); }

private:
    const std::size_t pixelBytes_;
    Codec codec_;
    std::vector<std::uint8_t> differenced_;
};

// Rows as they are, for a file without compression.
class RawStrips final : public StripEncoder {
public:
    void begin(int) override { bytes_.clear(); }
    void add(const std::uint8_t* rows, int count, std::size_t rowBytes) override
    {
        bytes_.insert(bytes_.end(), rows, rows + static_cast<std::size_t>(count) * rowBytes);
    }
    std::vector<std::uint8_t> end() override { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

int tiffCompression(TIFFCompression compression)
{
    switch (compression) {
    case TIFFCompression::lzw: return COMPRESSION_LZW;
    case TIFFCompression::zip: return COMPRESSION_ADOBE_DEFLATE;
    default: return COMPRESSION_NONE;
    }
}

void setTags(TIFF* tiff, VipsImage* in, TIFFCompression compression, int rowsPerStrip)
{
    const bool compressed = compression != TIFFCompression::none;
    const int bands = in->Bands;
    const bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(in->Xsize)) &&
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(in->Ysize)) &&
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, bands) &&
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, tiffCompression(compression)) &&
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, bands >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, in->Xres * 25.4) &&
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, in->Yres * 25.4) &&
        (!compressed || TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL)) &&
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    if (!ok) throw vips::VError("writer: cannot set the TIFF tags");
    if (bands == 2 || bands == 4) {
        const std::uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        if (!TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha)) throw vips::VError("writer: cannot set the alpha");
    }
    if (vips_image_get_typeof(in, VIPS_META_ICC_NAME) != 0) {
        const void* profile = nullptr;
        size_t size = 0;
        if (vips_image_get_blob(in, VIPS_META_ICC_NAME, &profile, &size) ||
            !TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(size), profile))
            throw vips::VError("writer: cannot embed the colour profile");
    }
}

} // namespace

void writeTiffStrips(const Image& pixels, int descriptor, TIFFCompression compression, bool bigTiff)
{
    VipsImage* in = pixels.get_image();
    if (in->BandFmt != VIPS_FORMAT_UCHAR || in->Bands < 1 || in->Bands > 4)
        throw vips::VError("writer: TIFF takes 1 to 4 bands of 8 bits");
    if (compression != TIFFCompression::lzw && compression != TIFFCompression::zip &&
        compression != TIFFCompression::none)
        throw vips::VError("writer: TIFF strips are written here without compression, with LZW or with ZIP");
    const int rowsPerStrip = compression == TIFFCompression::none ? kRawRowsPerStrip : kRowsPerStrip;

    const std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) throw vips::VError("writer: out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    int handle = descriptor;
    const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("image", bigTiff ? "w8" : "w", &handle, readFile,
                                                                   writeFile, seekFile, keepOpen, fileSize, noMap,
                                                                   noUnmap, options.get()));
    if (!tiff) throw vips::VError("writer: cannot start the TIFF file");
    setTags(tiff.get(), in, compression, rowsPerStrip);

    const auto pixelBytes = static_cast<std::size_t>(in->Bands);
    const auto makeEncoder = [&]() -> std::unique_ptr<StripEncoder> {
        if (compression == TIFFCompression::none) return std::make_unique<RawStrips>();
        if (compression == TIFFCompression::lzw) return std::make_unique<PredictedStrips<LzwEncoder>>(pixelBytes);
        return std::make_unique<PredictedStrips<Deflater>>(pixelBytes, Deflater::Framing::zlib);
    };
    encodeStrips(pixels, rowsPerStrip, makeEncoder, [&](int strip, std::vector<std::uint8_t>& bytes) {
        const auto size = static_cast<tmsize_t>(bytes.size());
        if (TIFFWriteRawStrip(tiff.get(), static_cast<std::uint32_t>(strip), bytes.data(), size) != size)
            throw vips::VError("writer: cannot write the file");
    });
    if (!TIFFWriteDirectory(tiff.get())) throw vips::VError("writer: cannot write the file");
}

} // namespace lumenfield
