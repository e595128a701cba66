#include "vek_request.h"

#include "gl_scanner.h"
#include "le_bytes.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Fixed-size transactions fit here (the largest is the 3072-byte gamma send); larger ones get a
// buffer of their own for the one transaction.
constexpr size_t kInlineTransfer = VEK_BLOCK_SIZE + 3072;

class TransferBuffer {
public:
    // False when memory is short.
    bool allocate(size_t n)
    {
        if (n <= inline_.size()) {
            data_ = inline_.data();
        } else {
            heap_.reset(new (std::nothrow) uint8_t[n]);
            data_ = heap_.get();
        }
        return data_ != nullptr;
    }
    uint8_t* data() { return data_; }

private:
    std::array<uint8_t, kInlineTransfer> inline_;
    std::unique_ptr<uint8_t[]> heap_;
    uint8_t* data_ = nullptr;
};

void put_tag(uint8_t* at, const char* tag)
{
    if (tag == nullptr) return;
    std::memcpy(at, tag, strnlen(tag, 4));
}

VekBlock subject_block(const char* form, uint8_t opcode, const char* subject, uint8_t code)
{
    VekBlock block{};
    put_tag(block.data(), form);
    block[4] = opcode;
    put_tag(block.data() + 8, subject);
    block[12] = code;
    return block;
}

std::array<uint8_t, VEK_HEADER_SIZE> header(const char* tag, uint64_t length)
{
    std::array<uint8_t, VEK_HEADER_SIZE> h{};
    put_tag(h.data(), tag);
    put_u24le(h.data() + 5, static_cast<uint32_t>(length));
    return h;
}

bool usable(const GLScanner* g)
{
    return g != nullptr && g->device != nullptr;
}

// Reads the 8-byte reply of a write or control request.
eStatus read_reply_header(GLDevice* dev)
{
    std::array<uint8_t, VEK_REPLY_HEADER_SIZE> reply{};
    if (const eStatus s = device_BulkReadEx(dev, reply.data(), reply.size()); !s.ok()) return s;
    return reply[4] == VEK_REPLY_REFUSED ? STATUS_REFUSED_REQUEST : STATUS_GOOD;
}

} // namespace

VekBlock vek_read_block(const char* subject, uint8_t code)
{
    return subject_block("READ", 0x28, subject, code);
}

VekBlock vek_send_block(const char* subject, uint8_t code)
{
    return subject_block("SEND", 0x2A, subject, code);
}

VekBlock vek_own_block(const char* tag, uint8_t code)
{
    VekBlock block{};
    put_tag(block.data(), tag);
    block[4] = code;
    return block;
}

eStatus vek_read_request(GLScanner* g, const VekBlock& block, uint8_t* dest, size_t size)
{
    if (!usable(g) || size > U24_MAX - VEK_REPLY_HEADER_SIZE || (dest == nullptr && size > 0))
        return STATUS_TRANSFER_FAILED;
    const size_t length = VEK_REPLY_HEADER_SIZE + size;
    TransferBuffer reply;
    if (!reply.allocate(length)) return STATUS_NO_MEMORY;

    const auto h = header("VEKR", length);
    if (const eStatus s = device_BulkWriteEx(g->device, h.data(), h.size()); !s.ok()) return s;
    if (const eStatus s = device_BulkWriteEx(g->device, block.data(), block.size()); !s.ok()) return s;
    if (const eStatus s = device_BulkReadEx(g->device, reply.data(), length); !s.ok()) return s;
    if (reply.data()[4] == VEK_REPLY_REFUSED) return STATUS_REFUSED_REQUEST;
    if (size > 0) std::memcpy(dest, reply.data() + VEK_REPLY_HEADER_SIZE, size);
    return STATUS_GOOD;
}

eStatus vek_write_request(GLScanner* g, const VekBlock& block, const uint8_t* payload, size_t size)
{
    if (!usable(g) || size > U24_MAX - VEK_BLOCK_SIZE || (payload == nullptr && size > 0))
        return STATUS_TRANSFER_FAILED;
    const size_t length = VEK_BLOCK_SIZE + size;
    TransferBuffer data;
    if (!data.allocate(length)) return STATUS_NO_MEMORY;
    std::memcpy(data.data(), block.data(), block.size());
    if (size > 0) std::memcpy(data.data() + VEK_BLOCK_SIZE, payload, size);

    const auto h = header("VEKW", length);
    if (const eStatus s = device_BulkWriteEx(g->device, h.data(), h.size()); !s.ok()) return s;
    if (const eStatus s = device_BulkWriteEx(g->device, data.data(), length); !s.ok()) return s;
    return read_reply_header(g->device);
}

eStatus vek_control_request(GLScanner* g, const VekBlock& block, uint64_t operand)
{
    if (!usable(g) || operand > U24_MAX) return STATUS_TRANSFER_FAILED;
    const auto h = header("VEKC", operand);
    if (const eStatus s = device_BulkWriteEx(g->device, h.data(), h.size()); !s.ok()) return s;
    if (const eStatus s = device_BulkWriteEx(g->device, block.data(), block.size()); !s.ok()) return s;
    return read_reply_header(g->device);
}
