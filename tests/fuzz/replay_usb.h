// The driver's USB layer replaced for fuzzing: the device protocol above it runs unchanged, while
// every bulk transfer goes to a Transport the harness installs, and the bus holds one scanner. A program that links
// this file ahead of varnoth_device gets these definitions instead of the libusb ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

class Transport {
public:
    virtual ~Transport() = default;
    // Bytes the device accepted of an OUT transfer.
    virtual size_t write(const uint8_t* data, size_t n) = 0;
    // Bytes the device delivered into an IN transfer of n bytes.
    virtual size_t read(uint8_t* data, size_t n) = 0;
};

// Installs the transport every transfer goes to; null fails every transfer.
void set_transport(Transport* transport);

// The device's replies as one stream of bytes: every OUT transfer is accepted whole, and every IN
// transfer takes the next bytes of the stream; once the stream runs short, the transfer is short.
class StreamTransport : public Transport {
public:
    StreamTransport(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t write(const uint8_t*, size_t n) override { return n; }
    size_t read(uint8_t* data, size_t n) override;
    size_t left() const { return size_ - at_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace fuzz
