// The parallel PNG and TIFF encoders, checked against readers that share none of their code
// (libtiff's decoder and tools, zlib's inflate, ImageMagick, libvips, Qt) and against the files
// libvips' own savers make of the same pixels.
#include "image_file.h"
#include "image_helpers.h"
#include "parallel_strips.h"
#include "png_writer.h"
#include "strip_codecs.h"
#include "tiff_writer.h"
#include "unsharp_mask.h"
#include "working_color.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cmath>
#include <random>
#include <stdexcept>

using namespace lumenfield;

namespace {

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed, int range = 256)
{
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(generator() % unsigned(range));
    return bytes;
}

// One LZW stream decoded by libtiff: a one-row, one-band image whose only strip is `stream`.
std::vector<std::uint8_t> libtiffLzwDecode(const QString& path, const std::vector<std::uint8_t>& stream,
                                           std::size_t size)
{
    const QByteArray name = QFile::encodeName(path);
    TIFF* out = TIFFOpen(name.constData(), "w");
    if (!out) return {};
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, std::uint32_t(size));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFWriteRawStrip(out, 0, const_cast<std::uint8_t*>(stream.data()), tmsize_t(stream.size()));
    TIFFClose(out);
    TIFF* in = TIFFOpen(name.constData(), "r");
    if (!in) return {};
    std::vector<std::uint8_t> decoded(size);
    const tmsize_t got = TIFFReadEncodedStrip(in, 0, decoded.data(), tmsize_t(size));
    TIFFClose(in);
    if (got != tmsize_t(size)) decoded.clear();
    return decoded;
}

std::vector<std::uint8_t> lzw(const std::vector<std::uint8_t>& data, std::size_t piece)
{
    LzwEncoder encoder;
    encoder.begin();
    for (std::size_t at = 0; at < data.size(); at += piece)
        encoder.add(data.data() + at, std::min(piece, data.size() - at));
    return encoder.end();
}

// An 8-bit RGB image of `height` rows whose every byte of row y is y modulo 256.
Image rowNumbers(int width, int height)
{
    return byteImage(width, height, [](int, int y) {
        const auto v = static_cast<std::uint8_t>(y);
        return Bytes3{v, v, v};
    });
}

// Gives each strip's rows back as they came, remembering the threads that made them.
class CopyEncoder final : public StripEncoder {
public:
    void begin(int) override { bytes_.clear(); }
    void add(const std::uint8_t* rows, int count, std::size_t rowBytes) override
    {
        bytes_.insert(bytes_.end(), rows, rows + std::size_t(count) * rowBytes);
    }
    std::vector<std::uint8_t> end() override { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

struct ToolRun {
    int exitCode = -1;
    QString out, error;
};

ToolRun run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    ToolRun result;
    if (!process.waitForFinished(60000)) return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.error = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// tiffdump's listing without the values that depend on where the strips lie in the file.
QStringList tagListing(const QString& path)
{
    QStringList lines;
    for (const QString& line : run("tiffdump", {path}).out.split('\n')) {
        if (line.startsWith("StripOffsets") || line.startsWith("StripByteCounts") || line.startsWith("Directory") ||
            line.endsWith(":"))
            continue;
        lines << line;
    }
    return lines;
}

// The embedded colour profile without its creation time, which changes from second to second.
std::string profile(const Image& image)
{
    if (image.get_typeof("icc-profile-data") == 0) return {};
    size_t size = 0;
    const void* data = image.get_blob("icc-profile-data", &size);
    std::string bytes(static_cast<const char*>(data), size);
    if (bytes.size() >= 36) bytes.replace(24, 12, 12, '\0');
    return bytes;
}

// Content the writer meets: a scan with sensor noise, a document in black and white, a smooth
// photograph, each large enough for several pieces of the PNG stream and several TIFF strips.
struct Content {
    const char* name;
    Image image;
};

std::vector<Content> contents(int width = 1200, int height = 900)
{
    std::vector<Content> all;
    std::mt19937 noise(7);
    all.push_back({"noisy scan", byteImage(width, height, [&](int x, int y) {
                       const int n = int(noise() % 8u);
                       return Bytes3{std::uint8_t(20 + x * 200 / width + n), std::uint8_t(20 + y * 200 / height + n),
                                     std::uint8_t(40 + (x + y) * 100 / (width + height) + n)};
                   })});
    all.push_back({"document", byteImage(width, height, [&](int x, int y) {
                       const bool ink =
                           (y / 30) % 2 == 0 && (x / 7 + y / 5) % 4 != 0 && noise() % 16u < 12 && x % 400 < 350;
                       const std::uint8_t v = ink ? 0 : 255;
                       return Bytes3{v, v, v};
                   })});
    all.push_back({"photograph", byteImage(width, height, [&](int x, int y) {
                       const int n = int(noise() % 4u);
                       return Bytes3{std::uint8_t(128 + 100 * std::sin(x * 0.003) * std::cos(y * 0.002) + n),
                                     std::uint8_t(128 + 90 * std::sin((x + y) * 0.002) + n),
                                     std::uint8_t(100 + 80 * std::cos(x * 0.001 - y * 0.004) + n)};
                   })});
    return all;
}

// The file libvips' own saver makes of the same rendering, as the writer did before.
void saveWithLibvips(const Image& rendering, const QString& path, OutputFormat format, TIFFCompression compression)
{
    const QByteArray name = QFile::encodeName(path);
    if (format == OutputFormat::png) {
        rendering.pngsave(name.constData());
        return;
    }
    rendering.tiffsave(name.constData(),
                       Image::option()
                           ->set("compression",
                                 compression == TIFFCompression::lzw       ? VIPS_FOREIGN_TIFF_COMPRESSION_LZW
                                     : compression == TIFFCompression::zip ? VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE
                                                                           : VIPS_FOREIGN_TIFF_COMPRESSION_NONE)
                           ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                           ->set("xres", rendering.xres())
                           ->set("yres", rendering.yres()));
}

} // namespace

TEST(StripCodecs, LzwStreamsDecodeWithLibtiff)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
    };
    std::vector<Case> cases;
    cases.push_back({"one byte", {42}});
    cases.push_back({"a run", std::vector<std::uint8_t>(70000, 9)});
    cases.push_back({"noise, many full tables", randomBytes(200000, 1)});
    cases.push_back({"few values", randomBytes(150000, 2, 5)});
    // Random bytes add about one code per byte: these lengths end the stream right where the
    // code width grows (codes 511, 1023, 2047) or the table fills (4094).
    for (const std::size_t middle : {253, 765, 1789, 3836, 3836 + 253})
        for (std::size_t size = middle - 6; size <= middle + 6; ++size)
            cases.push_back({"ends near a width change", randomBytes(size, unsigned(size))});
    for (const Case& c : cases) {
        const QString path = folder.path() + "/lzw.tiff";
        EXPECT_EQ(libtiffLzwDecode(path, lzw(c.data, c.data.size()), c.data.size()), c.data)
            << c.name << ", " << c.data.size() << " bytes";
        // Handed over in pieces, as the rows of a strip come: the same stream.
        EXPECT_EQ(lzw(c.data, 977), lzw(c.data, c.data.size())) << c.name;
    }
    // A stream that is used again starts afresh.
    LzwEncoder encoder;
    const std::vector<std::uint8_t> data = randomBytes(5000, 3);
    encoder.begin();
    encoder.add(data.data(), data.size());
    const std::vector<std::uint8_t> first = encoder.end();
    encoder.begin();
    encoder.add(data.data(), data.size());
    EXPECT_EQ(encoder.end(), first);
}

TEST(ParallelStrips, EveryStripComesOnceInOrder)
{
    struct Case {
        int height, stripRows, workers;
    };
    for (const Case c : {Case{1, 128, 8}, Case{300, 16, 1}, Case{301, 7, 8}, Case{1000, 128, 3}, Case{64, 64, 4}}) {
        const Image image = rowNumbers(5, c.height);
        const std::vector<std::uint8_t> all = bytesOf(image);
        std::vector<int> order;
        std::vector<std::uint8_t> joined;
        encodeStrips(
            image, c.stripRows, [] { return std::make_unique<CopyEncoder>(); },
            [&](int strip, std::vector<std::uint8_t>& bytes) {
                order.push_back(strip);
                joined.insert(joined.end(), bytes.begin(), bytes.end());
            },
            c.workers);
        const int strips = (c.height + c.stripRows - 1) / c.stripRows;
        ASSERT_EQ(int(order.size()), strips) << c.height << "/" << c.stripRows;
        for (int i = 0; i < strips; ++i) EXPECT_EQ(order[std::size_t(i)], i);
        EXPECT_EQ(joined, all) << c.height << "/" << c.stripRows << " on " << c.workers;
    }
}

TEST(ParallelStrips, RowsWiderThanOnePieceComeTogetherAsLibvipsComputesThem)
{
    // Every byte tells its column, row and band apart; widths that are and are not a multiple of
    // the pieces the rows are computed in; and a chain with a margin, whose pieces each need their
    // neighbours' pixels, against libvips computing the whole image itself.
    const Image sharpened = encode8(unsharpMask(testChart(1300, 150), 1.5), EncodeSpace::sRGB);
    struct Case {
        const char* name;
        Image image;
    };
    const Case cases[] = {
        {"colour, 1100 wide",
         byteImage(1100, 70,
                   [](int x, int y) {
                       return Bytes3{std::uint8_t(x), std::uint8_t(x >> 8 | y << 3), std::uint8_t(x * 7 + y)};
                   })},
        {"grey, 1536 wide",
         byteImage(1536, 40,
                   [](int x, int y) {
                       const auto v = std::uint8_t(x * 3 + y + (x >> 8));
                       return Bytes3{v, v, v};
                   })
             .extract_band(0)},
        {"sharpened chart", sharpened},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.image.format(), VIPS_FORMAT_UCHAR) << c.name;
        std::vector<std::uint8_t> joined;
        encodeStrips(
            c.image, 32, [] { return std::make_unique<CopyEncoder>(); },
            [&](int, std::vector<std::uint8_t>& bytes) { joined.insert(joined.end(), bytes.begin(), bytes.end()); }, 4);
        EXPECT_TRUE(joined == bytesOf(c.image)) << c.name;
    }
}

TEST(ParallelStrips, AFailureAnywhereEndsTheWorkAndIsPassedOn)
{
    const Image image = rowNumbers(50, 2000);
    // The file side fails at the fifth strip.
    int emitted = 0;
    EXPECT_THROW(encodeStrips(
                     image, 16, [] { return std::make_unique<CopyEncoder>(); },
                     [&](int strip, std::vector<std::uint8_t>&) {
                         if (strip == 4) throw vips::VError("disk full");
                         ++emitted;
                     },
                     8),
                 vips::VError);
    EXPECT_EQ(emitted, 4);

    // An encoder fails on one strip.
    class Failing final : public StripEncoder {
    public:
        void begin(int strip) override
        {
            if (strip == 37) throw std::runtime_error("no memory");
        }
        void add(const std::uint8_t*, int, std::size_t) override {}
        std::vector<std::uint8_t> end() override { return {1}; }
    };
    std::atomic<int> seen = 0;
    EXPECT_THROW(encodeStrips(
                     image, 16, [] { return std::make_unique<Failing>(); },
                     [&](int strip, std::vector<std::uint8_t>&) { seen = strip; }, 8),
                 std::runtime_error);
    EXPECT_LT(seen, 37);

    // Pixels that cannot be computed.
    QTemporaryDir folder;
    const QString cut = folder.path() + "/cut.jpeg";
    testChart(300, 400).jpegsave(QFile::encodeName(cut).constData());
    ASSERT_EQ(::truncate(QFile::encodeName(cut).constData(), QFileInfo(cut).size() / 2), 0);
    const Image broken =
        Image::new_from_file(QFile::encodeName(cut).constData(), Image::option()->set("fail_on", VIPS_FAIL_ON_ERROR));
    EXPECT_THROW(encodeStrips(
                     broken, 8, [] { return std::make_unique<CopyEncoder>(); }, [](int, std::vector<std::uint8_t>&) {}),
                 vips::VError);
    vips_error_clear();
}

TEST(StripWriters, FilesMatchLibvipsFilesForEveryReader)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    struct Kind {
        OutputFormat format;
        TIFFCompression compression;
    };
    for (const Content& content : contents()) {
        for (const Kind kind :
             {Kind{OutputFormat::png, TIFFCompression::none}, Kind{OutputFormat::tiff, TIFFCompression::none},
              Kind{OutputFormat::tiff, TIFFCompression::lzw}, Kind{OutputFormat::tiff, TIFFCompression::zip}}) {
            WriteOptions options;
            options.format = kind.format;
            options.tiffCompression = kind.compression;
            options.iccProfile = ICCProfile::adobeRGB;
            options.dpi = 600;
            options.takenName = TakenName::replace;
            const QString what =
                QString("%1 as %2 %3").arg(content.name, displayName(kind.format), displayName(kind.compression));
            SCOPED_TRACE(what.toStdString());
            const QString extension = displayName(kind.format).toLower();
            const QString ours = folder.path() + "/ours." + extension;
            const QString theirs = folder.path() + "/theirs." + extension;
            ASSERT_TRUE(writeImage(content.image, ours, kind.format, options));
            const Image rendering = fileRendering(content.image, kind.format, options);
            saveWithLibvips(rendering, theirs, kind.format, kind.compression);
            const std::vector<std::uint8_t> expected = bytesOf(rendering);

            // libvips: the same pixels, profile and resolution.
            const Image read = Image::new_from_file(QFile::encodeName(ours).constData());
            EXPECT_EQ(bytesOf(read), expected);
            const Image reference = Image::new_from_file(QFile::encodeName(theirs).constData());
            EXPECT_EQ(profile(read), profile(reference));
            EXPECT_FALSE(profile(read).empty());
            EXPECT_NEAR(read.xres(), reference.xres(), 1e-6);
            EXPECT_NEAR(read.yres(), reference.yres(), 1e-6);

            // ImageMagick: not one pixel differs from libvips' file.
            const ToolRun compare = run("compare", {"-metric", "AE", ours, theirs, "null:"});
            EXPECT_EQ(compare.exitCode, 0) << compare.error.toStdString();
            EXPECT_EQ(compare.error.trimmed(), "0");

            // No larger than the file libvips makes, but for a tenth.
            EXPECT_LE(double(QFileInfo(ours).size()), 1.10 * double(QFileInfo(theirs).size()))
                << QFileInfo(ours).size() << " against " << QFileInfo(theirs).size();

            if (kind.format == OutputFormat::tiff) {
                // libtiff's tools: every strip decodes, the same tags, the same data.
                const ToolRun info = run("tiffinfo", {"-D", ours});
                EXPECT_EQ(info.exitCode, 0);
                EXPECT_EQ(info.error, "");
                // Uncompressed strips are as large as their rows, so they are made shorter than
                // libvips' 128 rows; nothing else in the file may differ.
                const bool raw = kind.compression == TIFFCompression::none;
                const auto withoutStripHeight = [](QStringList tags) {
                    tags.removeIf([](const QString& line) { return line.startsWith("RowsPerStrip"); });
                    return tags;
                };
                EXPECT_EQ(withoutStripHeight(tagListing(ours)), withoutStripHeight(tagListing(theirs)));
                EXPECT_EQ(tagListing(ours).filter("RowsPerStrip").join(""),
                          raw ? "RowsPerStrip (278) SHORT (3) 1<16>"
                              : tagListing(theirs).filter("RowsPerStrip").join(""));
                EXPECT_EQ(run("tiffcmp", {ours, theirs}).out, raw ? "RowsPerStrip: 16 128\n" : "");
            } else {
                // Qt's reader, over libpng.
                const QImage qt(ours);
                ASSERT_FALSE(qt.isNull());
                EXPECT_EQ(qt.pixelColor(700, 500), QImage(theirs).pixelColor(700, 500));
                EXPECT_EQ(qt.size(), QSize(1200, 900));
                EXPECT_EQ(qt.dotsPerMeterX(), 23622);
            }
        }
    }
}

TEST(StripWriters, PngStreamIsOneZlibStreamOfTheRows)
{
    const Image image = contents(1500, 1100)[0].image.bandjoin_const({255.0}).copy(
        Image::option()->set("xres", 10.0)->set("yres", 20.0));
    QTemporaryDir folder;
    const QString path = folder.path() + "/rows.png";
    {
        const int descriptor = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(descriptor, 0);
        writePng(image, descriptor);
        ::close(descriptor);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    ASSERT_EQ(png.left(8), QByteArray("\x89PNG\r\n\x1A\n", 8));
    // Chunk by chunk: every CRC right, the types in order, the IDAT data gathered.
    const auto be32 = [&](qsizetype at) {
        return (std::uint32_t(std::uint8_t(png[at])) << 24) | (std::uint32_t(std::uint8_t(png[at + 1])) << 16) |
            (std::uint32_t(std::uint8_t(png[at + 2])) << 8) | std::uint8_t(png[at + 3]);
    };
    QStringList types;
    std::vector<std::uint8_t> stream;
    int dataChunks = 0;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = be32(at);
        ASSERT_LE(at + 12 + qsizetype(length), png.size());
        const auto* body = reinterpret_cast<const Bytef*>(png.constData() + at + 4);
        EXPECT_EQ(be32(at + 8 + length), std::uint32_t(crc32(0, body, length + 4)));
        const QString type = QString::fromLatin1(png.mid(at + 4, 4));
        if (type == "IDAT") {
            stream.insert(stream.end(), body + 4, body + 4 + length);
            ++dataChunks;
        }
        if (types.isEmpty() || types.last() != type) types << type;
        if (type == "pHYs") {
            EXPECT_EQ(be32(at + 8), 10000u);
            EXPECT_EQ(be32(at + 12), 20000u);
        }
        at += 12 + length;
    }
    EXPECT_EQ(types, (QStringList{"IHDR", "pHYs", "IDAT", "IEND"}));
    EXPECT_GE(dataChunks, 4); // several pieces joined
    // zlib's inflate checks the joined stream and its Adler-32.
    const std::vector<std::uint8_t> pixels = bytesOf(image);
    const std::size_t rowBytes = std::size_t(image.width()) * 4;
    std::vector<std::uint8_t> rows(std::size_t(image.height()) * (rowBytes + 1) + 1);
    uLongf size = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &size, stream.data(), uLong(stream.size())), Z_OK);
    ASSERT_EQ(size, rows.size() - 1);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = rows.data() + std::size_t(y) * (rowBytes + 1);
        ASSERT_EQ(row[0], 0) << y;
        ASSERT_EQ(std::memcmp(row + 1, pixels.data() + std::size_t(y) * rowBytes, rowBytes), 0) << y;
    }
}

TEST(StripWriters, BigTiffAndFailedWrites)
{
    const Image image = testChart(300, 500).bandjoin_const({255.0});
    QTemporaryDir folder;
    const QString path = folder.path() + "/big.tiff";
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    writeTiffStrips(image, descriptor, TIFFCompression::zip, true);
    ::close(descriptor);
    EXPECT_TRUE(run("tiffdump", {path}).out.contains("<BigTIFF>"));
    EXPECT_EQ(bytesOf(Image::new_from_file(QFile::encodeName(path).constData())), bytesOf(image));

    // A disk that is full: an error, not a hang or a file said to be written.
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_THROW(writePng(image, full), vips::VError);
    for (TIFFCompression compression : {TIFFCompression::none, TIFFCompression::lzw, TIFFCompression::zip})
        EXPECT_THROW(writeTiffStrips(image, full, compression, false), vips::VError);
    ::close(full);
}
