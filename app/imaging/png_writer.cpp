#include "png_writer.h"

#include "atomic_file.h"
#include "parallel_strips.h"
#include "strip_codecs.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

namespace lumenfield {

namespace {

// Bytes of filtered rows per piece of the stream: large enough that starting each piece without
// history costs next to nothing, small enough to spread an image over every core.
constexpr std::size_t kPieceBytes = std::size_t{2} << 20;
// Rows go in unfiltered: the Sub filter halves the files of photographs but makes those of
// documents and line art larger, and rows with no filter give files as large as before.
constexpr std::uint8_t kNoFilter = 0;

void append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
std::vector<std::uint8_t> chunk(std::string_view type, const std::uint8_t* data, std::size_t size,
                                std::string_view prefix = {})
{
    std::vector<std::uint8_t> out;
    out.reserve(12 + prefix.size() + size);
    append32(out, static_cast<std::uint32_t>(prefix.size() + size));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), prefix.begin(), prefix.end());
    if (size > 0) out.insert(out.end(), data, data + size);
    append32(out, static_cast<std::uint32_t>(crc32_z(0, out.data() + 4, out.size() - 4)));
    return out;
}

void write(int descriptor, const std::vector<std::uint8_t>& bytes)
{
    if (!writeAll(descriptor, bytes.data(), bytes.size())) throw vips::VError("writer: cannot write the file");
}

// What the stream's Adler-32 needs of each piece.
struct PieceCheck {
    uLong adler = 1;
    std::size_t length = 0;
};

// Compresses the rows of one piece, and gives them as an IDAT chunk (the stream's
// header in front of the first piece).
class PieceEncoder final : public StripEncoder {
public:
    PieceEncoder(int pieces, std::vector<PieceCheck>& checks) : pieces_(pieces), checks_(checks) {}

    void begin(int piece) override
    {
        piece_ = piece;
        check_ = PieceCheck{adler32_z(0, nullptr, 0), 0};
        deflater_.begin();
    }

    void add(const std::uint8_t* rows, int count, std::size_t rowBytes) override
    {
        const std::size_t line = rowBytes + 1;
        filtered_.resize(static_cast<std::size_t>(count) * line);
        for (int row = 0; row < count; ++row) {
            std::uint8_t* out = filtered_.data() + static_cast<std::size_t>(row) * line;
            out[0] = kNoFilter;
            std::memcpy(out + 1, rows + static_cast<std::size_t>(row) * rowBytes, rowBytes);
        }
        check_.adler = adler32_z(check_.adler, filtered_.data(), filtered_.size());
        check_.length += filtered_.size();
        deflater_.add(filtered_.data(), filtered_.size());
    }

    std::vector<std::uint8_t> end() override
    {
        const std::vector<std::uint8_t> data = deflater_.end(piece_ == pieces_ - 1);
        checks_[static_cast<std::size_t>(piece_)] = check_;
        std::array<char, 2> header{};
        if (piece_ == 0) {
            const std::uint16_t bytes = zlibHeader();
            header = {static_cast<char>(bytes >> 8), static_cast<char>(bytes & 0xFF)};
        }
        return chunk("IDAT", data.data(), data.size(),
                     std::string_view(header.data(), piece_ == 0 ? header.size() : 0));
    }

private:
    const int pieces_;
    std::vector<PieceCheck>& checks_;
    Deflater deflater_{Deflater::Framing::raw};
    std::vector<std::uint8_t> filtered_;
    int piece_ = 0;
    PieceCheck check_;
};

} // namespace

void writePng(const Image& pixels, int descriptor)
{
    VipsImage* in = pixels.get_image();
    if (in->BandFmt != VIPS_FORMAT_UCHAR || in->Bands < 1 || in->Bands > 4)
        throw vips::VError("writer: PNG takes 1 to 4 bands of 8 bits");
    static constexpr std::uint8_t kColourTypes[] = {0, 4, 2, 6}; // grey, with alpha, RGB, RGBA

    write(descriptor, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    std::vector<std::uint8_t> header;
    append32(header, static_cast<std::uint32_t>(in->Xsize));
    append32(header, static_cast<std::uint32_t>(in->Ysize));
    header.insert(header.end(), {8, kColourTypes[in->Bands - 1], 0, 0, 0});
    write(descriptor, chunk("IHDR", header.data(), header.size()));

    if (vips_image_get_typeof(in, VIPS_META_ICC_NAME) != 0) {
        const void* profile = nullptr;
        size_t size = 0;
        if (vips_image_get_blob(in, VIPS_META_ICC_NAME, &profile, &size)) throw vips::VError();
        uLongf packedSize = compressBound(static_cast<uLong>(size));
        std::vector<std::uint8_t> packed(packedSize);
        if (compress2(packed.data(), &packedSize, static_cast<const Bytef*>(profile), static_cast<uLong>(size),
                      Z_BEST_COMPRESSION) != Z_OK)
            throw vips::VError("writer: cannot compress the colour profile");
        // Profile name "icc", compression method 0.
        write(descriptor, chunk("iCCP", packed.data(), packedSize, std::string_view("icc\0\0", 5)));
    }

    std::vector<std::uint8_t> density;
    append32(density, static_cast<std::uint32_t>(std::lround(in->Xres * 1000.0))); // per metre
    append32(density, static_cast<std::uint32_t>(std::lround(in->Yres * 1000.0)));
    density.push_back(1);
    write(descriptor, chunk("pHYs", density.data(), density.size()));

    const auto rowBytes = static_cast<std::size_t>(VIPS_IMAGE_SIZEOF_LINE(in));
    const int pieceRows = static_cast<int>(std::clamp<std::size_t>(kPieceBytes / (rowBytes + 1), 1, in->Ysize));
    const int pieces = (in->Ysize + pieceRows - 1) / pieceRows;
    std::vector<PieceCheck> checks(static_cast<std::size_t>(pieces));
    encodeStrips(
        pixels, pieceRows, [&] { return std::make_unique<PieceEncoder>(pieces, checks); },
        [&](int, std::vector<std::uint8_t>& bytes) { write(descriptor, bytes); });

    uLong adler = checks[0].adler;
    for (std::size_t i = 1; i < checks.size(); ++i)
        adler = adler32_combine(adler, checks[i].adler, static_cast<z_off_t>(checks[i].length));
    std::vector<std::uint8_t> trailer;
    append32(trailer, static_cast<std::uint32_t>(adler));
    write(descriptor, chunk("IDAT", trailer.data(), trailer.size()));
    write(descriptor, chunk("IEND", nullptr, 0));
}

} // namespace lumenfield
