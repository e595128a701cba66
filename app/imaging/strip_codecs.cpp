#include "strip_codecs.h"

#include <vips/vips8>

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumenfield {

void OutputBytes::reserve(std::size_t used, std::size_t more)
{
    if (used + more <= capacity_) return;
    const std::size_t capacity = std::max(capacity_ * 2, used + more);
    // Not zeroed: zeroing would touch every page of the room.
    std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
    if (used > 0) std::memcpy(grown.get(), data_.get(), used);
    data_ = std::move(grown);
    capacity_ = capacity;
}

std::vector<std::uint8_t> OutputBytes::copy(std::size_t used) const
{
    return std::vector<std::uint8_t>(data_.get(), data_.get() + used);
}

void differenceRow(const std::uint8_t* row, std::uint8_t* out, std::size_t bytes, std::size_t pixelBytes)
{
    const std::size_t first = std::min(bytes, pixelBytes);
    std::memcpy(out, row, first);
    for (std::size_t i = first; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - pixelBytes]);
}

// ---- LZW ---------------------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kClear = 256;
constexpr std::uint32_t kEndOfInformation = 257;
constexpr std::uint32_t kFirstCode = 258;
// The table is cleared once its next code would be 4094, so no code needs more than 12 bits.
constexpr std::uint32_t kFullTable = 4094;
constexpr int kSlotBits = 13; // at most 3836 entries in 8192 slots
constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;

inline std::uint32_t slotOf(std::uint32_t key)
{
    return (key * 0x9E3779B1u) >> (32 - kSlotBits);
}

} // namespace

LzwEncoder::LzwEncoder() : slots_(std::size_t{1} << kSlotBits, Slot{0, 0, 0}) {}

void LzwEncoder::resetTable()
{
    if (++generation_ == 0) {
        std::fill(slots_.begin(), slots_.end(), Slot{0, 0, 0});
        generation_ = 1;
    }
    nextCode_ = kFirstCode;
    width_ = 9;
}

void LzwEncoder::put(std::uint32_t code)
{
    bits_ = (bits_ << width_) | code;
    pending_ += width_;
    while (pending_ >= 8) {
        pending_ -= 8;
        out_.data()[used_++] = static_cast<std::uint8_t>(bits_ >> pending_);
    }
}

void LzwEncoder::begin()
{
    used_ = 0;
    bits_ = 0;
    pending_ = 0;
    prefix_ = -1;
    resetTable();
    out_.reserve(used_, 16);
    put(kClear);
}

void LzwEncoder::add(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return;
    // Room for a 12-bit code per byte and the Clear codes between them.
    out_.reserve(used_, 2 * size + 16);
    std::size_t i = 0;
    if (prefix_ < 0) prefix_ = data[i++];
    auto prefix = static_cast<std::uint32_t>(prefix_);
    for (; i < size; ++i) {
        const std::uint32_t byte = data[i];
        const std::uint32_t key = (prefix << 8) | byte;
        std::uint32_t at = slotOf(key);
        for (;;) {
            Slot& slot = slots_[at];
            if (slot.generation != generation_) {
                // Not in the table: the string so far goes out, and the string plus this byte
                // becomes the next code.
                put(prefix);
                slot = Slot{key, static_cast<std::uint16_t>(nextCode_), generation_};
                prefix = byte;
                if (++nextCode_ == kFullTable) {
                    put(kClear);
                    resetTable();
                } else if (nextCode_ > (1u << width_) - 1) {
                    ++width_;
                }
                break;
            }
            if (slot.key == key) {
                prefix = slot.code;
                break;
            }
            at = (at + 1) & kSlotMask;
        }
    }
    prefix_ = static_cast<std::int32_t>(prefix);
}

std::vector<std::uint8_t> LzwEncoder::end()
{
    out_.reserve(used_, 16);
    if (prefix_ >= 0) {
        put(static_cast<std::uint32_t>(prefix_));
        // The reader adds an entry for this code too and may widen before End of Information.
        if (++nextCode_ == kFullTable) {
            put(kClear);
            width_ = 9;
        } else if (nextCode_ > (1u << width_) - 1) {
            ++width_;
        }
    }
    put(kEndOfInformation);
    if (pending_ > 0) out_.data()[used_++] = static_cast<std::uint8_t>(bits_ << (8 - pending_));
    pending_ = 0;
    return out_.copy(used_);
}

// ---- deflate -----------------------------------------------------------------------------------

namespace {

constexpr int kLevel = 6;

} // namespace

Deflater::Deflater(Framing framing)
{
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, framing == Framing::raw ? -15 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw vips::VError("writer: cannot start the compressor");
}

Deflater::~Deflater()
{
    deflateEnd(&stream_);
}

void Deflater::begin()
{
    deflateReset(&stream_);
    // After the reset, which brings back the level's own search. Level 6 follows up to 128 earlier
    // matches and stops at a match of 128 bytes; here 40, and only a match as long as deflate
    // allows stops the search. On the noise of a scan the long search finds next to nothing; in
    // flat areas the longest match is taken at once.
    deflateTune(&stream_, 4, 8, 258, 40);
    used_ = 0;
}

void Deflater::run(int flush)
{
    for (;;) {
        const std::size_t room = std::max<std::size_t>(deflateBound(&stream_, stream_.avail_in), 1 << 16);
        out_.reserve(used_, room);
        stream_.next_out = out_.data() + used_;
        stream_.avail_out = static_cast<uInt>(room);
        const int status = deflate(&stream_, flush);
        used_ += room - stream_.avail_out;
        if (status == Z_STREAM_ERROR) throw vips::VError("writer: the compressor failed");
        if (flush == Z_FINISH) {
            if (status == Z_STREAM_END) return;
        } else if (stream_.avail_in == 0 && stream_.avail_out > 0) {
            // All input taken, and room left over: nothing of a flush is held back.
            return;
        }
    }
}

void Deflater::add(const std::uint8_t* data, std::size_t size)
{
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    run(Z_NO_FLUSH);
}

std::vector<std::uint8_t> Deflater::end(bool last)
{
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    run(last ? Z_FINISH : Z_SYNC_FLUSH);
    return out_.copy(used_);
}

std::uint16_t zlibHeader()
{
    // CMF: deflate with a 32 KiB window; FLG: the level's class (2 for level 6), then the check bits.
    constexpr unsigned kMethod = 0x78;
    unsigned flags = 2u << 6;
    flags += 31 - (kMethod * 256 + flags) % 31;
    return static_cast<std::uint16_t>(kMethod << 8 | flags);
}

} // namespace lumenfield
