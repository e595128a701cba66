// The row filter and the two compressors of the PNG and TIFF writers, each working on one strip of
// rows at a time so that strips can be encoded on separate threads.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumenfield {

// Each byte of `row` less the byte `pixelBytes` before it, modulo 256, the first pixel as it is:
// TIFF's horizontal predictor and PNG's Sub filter for 8-bit samples.
void differenceRow(const std::uint8_t* row, std::uint8_t* out, std::size_t bytes, std::size_t pixelBytes);

// A codec's output, kept from strip to strip and only ever growing. Room is made well ahead of what
// is written, but only the bytes written (and those kept when it grows) are ever touched, so the
// room takes no memory.
class OutputBytes {
public:
    // Room for `more` bytes after the first `used`, which stay as they are.
    void reserve(std::size_t used, std::size_t more);
    std::uint8_t* data() { return data_.get(); }
    // The first `used` bytes, as a vector of their own.
    std::vector<std::uint8_t> copy(std::size_t used) const;

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
};

// TIFF's LZW: codes of 9 to 12 bits packed from the most significant bit, a Clear code first, the
// code width growing one code before the table needs it, a Clear code and a fresh table when the
// table fills, End of Information last. Each strip is a stream of its own.
class LzwEncoder {
public:
    LzwEncoder();
    void begin();
    void add(const std::uint8_t* data, std::size_t size);
    std::vector<std::uint8_t> end();

private:
    struct Slot {
        std::uint32_t key; // prefix code << 8 | next byte
        std::uint16_t code;
        std::uint16_t generation; // the slot is empty unless this is the table's generation
    };

    void put(std::uint32_t code);
    void resetTable();

    std::vector<Slot> slots_;
    std::uint16_t generation_ = 0;
    OutputBytes out_;
    std::size_t used_ = 0;
    std::uint64_t bits_ = 0; // pending bits, the newest at the bottom
    int pending_ = 0;        // how many of them
    int width_ = 9;
    std::uint32_t nextCode_ = 0;
    std::int32_t prefix_ = -1; // the code of the string matched so far, -1 for none
};

// deflate with zlib: `zlib` makes each strip a whole zlib stream (header, data, Adler-32), `raw`
// makes pieces of one raw deflate stream that can be joined as they are: every piece but the last
// ends on a byte boundary with the stream left open (a sync flush), the last one closes it.
// zlib's level 6 with a shorter search: on scans, documents and photographs its files are at most
// 8 % larger than level 6's, made about twice as fast.
class Deflater {
public:
    enum class Framing {
        zlib,
        raw
    };

    explicit Deflater(Framing framing);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void begin();
    void add(const std::uint8_t* data, std::size_t size);
    std::vector<std::uint8_t> end(bool last = true);

private:
    void run(int flush);

    z_stream stream_{};
    OutputBytes out_;
    std::size_t used_ = 0;
};

// The first two bytes of a zlib stream made by a Deflater.
std::uint16_t zlibHeader();

} // namespace lumenfield
