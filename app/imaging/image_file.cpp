#include "image_file.h"

#include "atomic_file.h"
#include "color_space.h"
#include "output_settings.h"
#include "png_writer.h"
#include "scan_settings.h"
#include "tiff_writer.h"
#include "vips_save_options.h"
#include "working_color.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace lumenfield {

namespace {

EncodeSpace spaceOf(const WriteOptions& options)
{
    if (!options.embedProfile) return EncodeSpace::sRGB; // the device RGB space
    switch (options.iccProfile) {
    case ICCProfile::generic: return EncodeSpace::linear;
    case ICCProfile::sRGB: return EncodeSpace::sRGB;
    case ICCProfile::adobeRGB: return EncodeSpace::adobeRGB;
    }
    return EncodeSpace::sRGB;
}

std::vector<std::uint8_t> profileBytes(ICCProfile which)
{
    const ColorProfile profile = colorSpace(which);
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        throw vips::VError("writer: cannot build the colour profile");
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        throw vips::VError("writer: cannot serialise the colour profile");
    bytes.resize(size);
    return bytes;
}

// Metadata an input file may have brought along. The written file carries the rendered pixels, the
// resolution and the chosen profile only, as the platform's writer did.
bool isForeignMetadata(const char* name)
{
    static constexpr const char* kPrefixes[] = {
        "exif-", "xmp-", "iptc-", "ipct-", "photoshop-", "icc-profile-data", "orientation", "png-comment-", "gif-"};
    for (const char* prefix : kPrefixes)
        if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

// The 8-bit pixels with the resolution and the profile of the options, on a fresh header.
Image renderForFile(const Image& image, const WriteOptions& options, double pixelsPerMillimetre, bool withAlpha)
{
    Image pixels = encode8(image, spaceOf(options));
    if (withAlpha) pixels = pixels.bandjoin_const({255.0});
    Image out = pixels.copy(Image::option()
                                ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                ->set("xres", pixelsPerMillimetre)
                                ->set("yres", pixelsPerMillimetre));
    VipsImage* header = out.get_image();
    char** fields = vips_image_get_fields(header);
    for (char** field = fields; field && *field; ++field)
        if (isForeignMetadata(*field)) vips_image_remove(header, *field);
    g_strfreev(fields);
    if (options.embedProfile) {
        const std::vector<std::uint8_t> bytes = profileBytes(options.iccProfile);
        vips_image_set_blob_copy(header, "icc-profile-data", bytes.data(), bytes.size());
    }
    return out;
}

// The JFIF segment libvips leaves out: version 1.01, density in dots per inch, no thumbnail.
// Readers such as Qt's take the density from it only.
std::array<std::uint8_t, 18> jfifSegment(qint64 dpi)
{
    const auto high = static_cast<std::uint8_t>(dpi >> 8), low = static_cast<std::uint8_t>(dpi & 0xff);
    return {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x01, high, low, high, low, 0x00, 0x00};
}

// Passes the encoder's bytes on to the file, with the JFIF segment right after the start-of-image
// marker.
struct JfifInserter {
    int descriptor;
    std::array<std::uint8_t, 18> segment;
    std::array<std::uint8_t, 2> start{};
    gint64 passed = 0;
    bool inserted = false;

    static gint64 onWrite(VipsTargetCustom*, const void* data, gint64 length, JfifInserter* self)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        gint64 done = 0;
        while (done < length) {
            if (!self->inserted && self->passed == 2) {
                if (self->start[0] != 0xFF || self->start[1] != 0xD8) return -1;
                if (!writeAll(self->descriptor, self->segment.data(), self->segment.size())) return -1;
                self->inserted = true;
            }
            gint64 chunk = length - done;
            if (!self->inserted) chunk = std::min<gint64>(chunk, 2 - self->passed);
            if (!self->inserted) std::memcpy(self->start.data() + self->passed, bytes + done, size_t(chunk));
            if (!writeAll(self->descriptor, bytes + done, size_t(chunk))) return -1;
            done += chunk;
            self->passed += chunk;
        }
        return length;
    }

    static int onEnd(VipsTargetCustom*, JfifInserter* self) { return self->inserted ? 0 : -1; }
};

void saveJpeg(const Image& pixels, int descriptor, const EncoderProperties& properties)
{
    JfifInserter inserter{descriptor, jfifSegment(properties.dpiWidth)};
    VipsTargetCustom* custom = vips_target_custom_new();
    g_signal_connect(custom, "write", G_CALLBACK(JfifInserter::onWrite), &inserter);
    g_signal_connect(custom, "end", G_CALLBACK(JfifInserter::onEnd), &inserter);
    const vips::VTarget target(VIPS_TARGET(custom));
    vips::VOption* saveOptions = Image::option();
    if (properties.lossyCompressionQuality)
        saveOptions->set("Q", static_cast<int>(*properties.lossyCompressionQuality * 100.0 + 0.5));
    pixels.jpegsave_target(target, saveOptions);
    if (!inserter.inserted) throw vips::VError("writer: the encoder wrote no image");
}

void saveTiff(const Image& pixels, int descriptor, TIFFCompression compression)
{
    // BigTIFF where plain TIFF's 32-bit offsets could run out, as for the raw scan.
    const double bytes = double(pixels.width()) * pixels.height() * pixels.bands();
    const bool bigTiff = bytes >= 4294967296.0 - 1048576.0;
    // JPEG inside a TIFF is libvips' saver's; every other compression is written by strips here.
    if (compression != TIFFCompression::jpeg) {
        writeTiffStrips(pixels, descriptor, compression, bigTiff);
        return;
    }
    const vips::VTarget target = vips::VTarget::new_to_descriptor(descriptor);
    pixels.tiffsave_target(target,
                           Image::option()
                               ->set("compression", vipsTiffCompression(compression))
                               ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                               ->set("xres", pixels.xres())
                               ->set("yres", pixels.yres())
                               ->set("bigtiff", bigTiff));
}

// Whether the file of `format` with `compression` gets an opaque alpha band.
bool hasAlpha(OutputFormat format, TIFFCompression compression)
{
    if (format == OutputFormat::png) return true;
    return format == OutputFormat::tiff && compression != TIFFCompression::jpeg;
}

TIFFCompression compressionOf(const EncoderProperties& properties)
{
    // An entry that does not belong to the chosen saver is ignored: a TIFF without a compression
    // entry is written uncompressed.
    return fromRawValue<TIFFCompression>(properties.tiffCompression.value_or(1)).value_or(TIFFCompression::none);
}

} // namespace

WriteOptions WriteOptions::from(const OutputSettings& output, const ScanSettings& scan)
{
    return {output.format(),     output.tiffCompression(), output.jpegQuality(), output.isEmbeddedICCProfile(),
            output.iccProfile(), scan.resolution()};
}

EncoderProperties encoderProperties(const WriteOptions& options)
{
    EncoderProperties properties;
    properties.dpiWidth = properties.dpiHeight = std::clamp<qint64>(options.dpi, 1, 65535);
    if (options.format == OutputFormat::tiff)
        properties.tiffCompression = rawValue(options.tiffCompression);
    else if (options.format == OutputFormat::jpeg)
        properties.lossyCompressionQuality = double(rawValue(options.jpegQuality)) / 100.0;
    return properties;
}

Image fileRendering(const Image& image, OutputFormat format, const WriteOptions& options)
{
    const EncoderProperties properties = encoderProperties(options);
    return renderForFile(image, options, double(properties.dpiWidth) / 25.4,
                         hasAlpha(format, compressionOf(properties)));
}

std::optional<QString> writeImage(const Image& image, const QString& path, OutputFormat format,
                                  const WriteOptions& options)
{
    const EncoderProperties properties = encoderProperties(options);
    const TIFFCompression compression = compressionOf(properties);
    const auto encode = [&](int descriptor) {
        try {
            const Image pixels = fileRendering(image, format, options);
            switch (format) {
            case OutputFormat::png: writePng(pixels, descriptor); break;
            case OutputFormat::tiff: saveTiff(pixels, descriptor, compression); break;
            default: saveJpeg(pixels, descriptor, properties); break;
            }
            return true;
        } catch (const vips::VError&) {
            vips_error_clear();
            return false;
        }
    };
    switch (options.takenName) {
    case TakenName::replace:
        if (!replaceFileAtomically(path, encode)) return std::nullopt;
        return path;
    case TakenName::besideIt:
        return createFileAtomically([&](int attempt) { return numberedPath(path, attempt); }, encode);
    case TakenName::keep: break;
    }
    return createFileAtomically([&](int) { return path; }, encode, 1);
}

namespace {

bool isOwnFormatLoader(std::string_view loader)
{
    return loader == "VipsForeignLoadJpegSource" || loader == "VipsForeignLoadPngSource" ||
        loader == "VipsForeignLoadTiffSource";
}

// Every pixel of `pipeline` computed into a memory image by the calling thread, a few rows at a
// time and from the top. libvips' own way of computing runs on its worker threads, and after a
// tile of a damaged file fails to decode, one of those can take the whole process down; here the
// failure is only an exception.
Image computeInThisThread(const Image& pipeline)
{
    constexpr int kRows = 16;
    VipsImage* in = pipeline.get_image();
    Image out = Image::new_memory();
    if (vips_image_pipelinev(out.get_image(), VIPS_DEMAND_STYLE_THINSTRIP, in, nullptr)) throw vips::VError();
    const std::unique_ptr<VipsRegion, decltype(&g_object_unref)> region(vips_region_new(in), &g_object_unref);
    if (!region) throw vips::VError();
    for (int top = 0; top < in->Ysize; top += kRows) {
        VipsRect rows{0, top, in->Xsize, std::min(kRows, in->Ysize - top)};
        if (vips_region_prepare(region.get(), &rows)) throw vips::VError();
        for (int y = rows.top; y < rows.top + rows.height; ++y)
            if (vips_image_write_line(out.get_image(), y, VIPS_REGION_ADDR(region.get(), 0, y))) throw vips::VError();
    }
    return out;
}

} // namespace

std::optional<Image> readImageFile(const QString& path)
{
    try {
        const QByteArray name = QFile::encodeName(path);
        // From a source rather than by name, so that no part of the path is read as load options.
        // The options are made only once a loader is known: the binding leaks them when it throws.
        const vips::VSource source = vips::VSource::new_from_file(name.constData());
        // Only the formats the application writes: the files read back are its own, and the other
        // loaders are no use here but can take the whole program down on a damaged file.
        const char* loader = vips_foreign_find_load_source(source.get_source());
        if (!loader || !isOwnFormatLoader(loader)) throw vips::VError();
        // Read once from the top: the loaders then decode as they are asked, in the asking thread.
        const Image file = Image::new_from_source(
            source, "", Image::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_ERROR));
        if (file.width() > 65535 || file.height() > 65535 || double(file.width()) * file.height() > 400e6)
            return std::nullopt;
        Image pixels = file.colourspace(VIPS_INTERPRETATION_sRGB);
        if (pixels.format() != VIPS_FORMAT_UCHAR) pixels = pixels.cast(VIPS_FORMAT_UCHAR);
        // Decoded here, so that a damaged file shows now and not during a later paint.
        return computeInThisThread(threeBands(pixels));
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

} // namespace lumenfield
