#include "host_session.h"

#include "eexpert.h"
#include "fuzz_check.h"
#include "kzd_scanner.h"
#include "scan_setting.h"
#include "scratch_folder.h"

#include <se_boundary.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace fuzz {

namespace {

// Every code the root object and the dispatcher know; a selector beyond the table is the code
// itself, so that unknown codes are sent too.
constexpr int16_t kCodes[] = {
    SE_CMD_CLOSE_DEVICE, SE_CMD_CALLBACK_TEST,  SE_CMD_DEVICE_LIST,   SE_CMD_OPEN_DEVICE,     SE_CMD_DEVICE_INFO,
    SE_CMD_START_SCAN,   SE_CMD_STOP_SCAN,      SE_CMD_READ_LINES,    SE_CMD_START_SCAN_BACK, SE_CMD_READ_LINES_BACK,
    SE_CMD_READ_JPEG,    SE_CMD_READ_JPEG_BACK, SE_CMD_IMAGE_INFO,    SE_CMD_SCANNER_INFO,    SE_CMD_DEPTH,
    SE_CMD_SOURCE,       SE_CMD_RESOLUTION,     SE_CMD_PAGE_LENGTH,   SE_CMD_SCAN_FRAME,      SE_CMD_CONTRAST,
    SE_CMD_THRESHOLD,    SE_CMD_EXPOSURE,       SE_CMD_GAMMA,         SE_CMD_SMH_INPUT,       SE_CMD_SMH_OUTPUT,
    SE_CMD_DITHER,       SE_CMD_IMAGE_TYPE,     SE_CMD_ERROR_STRING,  SE_CMD_INTERNAL_LUT,    SE_CMD_OPTICAL_RESOLUTION,
    SE_CMD_TEST_READY,   SE_CMD_SCAN_QUALITY,   SE_CMD_EXPOSURE_MODE, SE_CMD_PAPER_PRESENT,   SE_CMD_AUTO_LAMP,
    SE_CMD_BUTTONS,      SE_CMD_INTERPOLATION,  SE_CMD_LAMP_CONTROL,  SE_CMD_CALIBRATION,     SE_CMD_ULTRASOUND,
    SE_CMD_AUTO_CROP,    SE_CMD_PREVIEW_MODE,   SE_CMD_PAPER_TYPE,    SE_CMD_HW_JPEG,         SE_CMD_HW_CROP_DESKEW,
    SE_CMD_LAST_ERROR,   SE_CMD_EXPOSURE_RATIO,
};
constexpr size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];
constexpr size_t kHeaderBytes = 8;
constexpr size_t kRecordBytes = 4096;   // larger than any record
constexpr size_t kLineBuffer = 1 << 20; // line reads, gamma tables
constexpr size_t kGammaTable = 65536 * 2;
constexpr uint32_t kUntouched = 0xDEADBEEF;

// The host's callbacks: memory from the C heap, nothing shown.
int32_t free_space(uint64_t)
{
    return 1 << 30;
}
int32_t allocate(uint64_t, int32_t size, void** out)
{
    if (out == nullptr) return 0;
    *out = size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
    return *out != nullptr ? 1 : 0;
}
int32_t release(uint64_t, void* block)
{
    std::free(block);
    return 1;
}
void* lock(uint64_t, void* block)
{
    return block;
}
void unlock(uint64_t, void*) {}
void yield(uint64_t) {}
void error(uint64_t, int16_t, const char* text)
{
    FUZZ_CHECK(text == nullptr || strnlen(text, 4096) < 4096);
}
void progress(uint64_t, int32_t, int32_t) {}
void callback_test(int32_t, int32_t, int32_t) {}

SECallbackBlock callbacks()
{
    SECallbackBlock b{};
    b.reference = 0x1234;
    b.count = SE_CALLBACK_COUNT;
    const void* f[SE_CALLBACK_COUNT] = {
        reinterpret_cast<const void*>(free_space), reinterpret_cast<const void*>(allocate),
        reinterpret_cast<const void*>(release),    reinterpret_cast<const void*>(lock),
        reinterpret_cast<const void*>(unlock),     reinterpret_cast<const void*>(yield),
        reinterpret_cast<const void*>(error),      reinterpret_cast<const void*>(progress)};
    for (size_t i = 0; i < SE_CALLBACK_COUNT; ++i) b.function[i] = reinterpret_cast<uint64_t>(f[i]);
    return b;
}

uint64_t address(const void* p)
{
    return reinterpret_cast<uint64_t>(p);
}

} // namespace

std::string encode_script(const std::vector<HostCommand>& commands)
{
    std::string body;
    for (const HostCommand& c : commands) {
        const auto* at = std::find(std::begin(kCodes), std::end(kCodes), c.code);
        const uint8_t selector =
            at != std::end(kCodes) ? static_cast<uint8_t>(at - std::begin(kCodes)) : static_cast<uint8_t>(c.code);
        const size_t n = std::min<size_t>(c.record.size(), 255);
        const uint8_t head[kHeaderBytes] = {selector,
                                            static_cast<uint8_t>(c.verb),
                                            static_cast<uint8_t>(c.value),
                                            static_cast<uint8_t>(c.value >> 8),
                                            static_cast<uint8_t>(c.value >> 16),
                                            static_cast<uint8_t>(c.value >> 24),
                                            static_cast<uint8_t>(n),
                                            c.flags};
        body.append(reinterpret_cast<const char*>(head), kHeaderBytes);
        body.append(reinterpret_cast<const char*>(c.record.data()), n);
    }
    const uint16_t length = static_cast<uint16_t>(std::min<size_t>(body.size(), 0xFFFF));
    return std::string{static_cast<char>(length & 0xFF), static_cast<char>(length >> 8)} + body.substr(0, length);
}

std::vector<HostCommand> decode_script(const uint8_t* data, size_t size, size_t* replies_at)
{
    std::vector<HostCommand> out;
    *replies_at = size;
    if (size < 2) return out;
    const size_t length = std::min<size_t>(data[0] | size_t{data[1]} << 8, size - 2);
    *replies_at = 2 + length;
    const uint8_t* p = data + 2;
    const uint8_t* end = p + length;
    while (end - p >= static_cast<ptrdiff_t>(kHeaderBytes)) {
        HostCommand c{};
        c.code = p[0] < kCodeCount ? kCodes[p[0]] : static_cast<int16_t>(p[0]);
        c.verb = p[1];
        c.value = uint32_t{p[2]} | uint32_t{p[3]} << 8 | uint32_t{p[4]} << 16 | uint32_t{p[5]} << 24;
        c.flags = p[7];
        const size_t n = std::min<size_t>(p[6], static_cast<size_t>(end - p) - kHeaderBytes);
        c.record.assign(p + kHeaderBytes, p + kHeaderBytes + n);
        p += kHeaderBytes + n;
        out.push_back(std::move(c));
    }
    return out;
}

void run_host_session(const std::vector<HostCommand>& commands)
{
    // Every session starts without a stored calibration, so that an input always replays alike.
    for (const auto& e : std::filesystem::directory_iterator(scratch_folder()))
        if (e.path().filename().string().starts_with("CaliData")) std::filesystem::remove(e.path());
    ESEINFO info{};
    auto expert = std::make_unique<EExpert>(&info);
    std::vector<uint8_t> record(kRecordBytes);
    std::vector<uint8_t> lines(kLineBuffer + 1);
    const SECallbackBlock block = callbacks();
    for (const HostCommand& c : commands) {
        std::fill(record.begin(), record.end(), 0);
        std::copy(c.record.begin(), c.record.end(), record.begin());
        ECDB b{};
        b.code = c.code;
        b.verb = c.verb;
        b.value = c.value;
        b.record = (c.flags & kNoRecord) != 0 ? 0 : address(record.data());
        uint16_t effective = 0;
        if ((c.flags & kEffectiveCode) != 0) b.effectiveCode = address(&effective);
        int32_t wanted = 0;

        // What the host contract makes a pointer points at memory the command can use.
        switch (c.code) {
        case SE_CMD_CALLBACK_TEST:
            b.value = c.value != 0 ? address(reinterpret_cast<const void*>(callback_test)) : 0;
            break;
        case SE_CMD_DEVICE_LIST: b.value = c.value != 0 ? address(&block) : 0; break;
        case SE_CMD_DITHER:
        case SE_CMD_ULTRASOUND:
        case SE_CMD_PREVIEW_MODE: b.value = c.value != 0 ? address(record.data() + kRecordBytes / 2) : 0; break;
        case SE_CMD_READ_LINES:
        case SE_CMD_READ_LINES_BACK:
        case SE_CMD_READ_JPEG:
        case SE_CMD_READ_JPEG_BACK: {
            // A buffer of as many lines (or bytes) as asked for, up to the buffer here.
            SELineTransfer t{};
            std::memcpy(&t, record.data(), sizeof t);
            const bool jpeg = c.code == SE_CMD_READ_JPEG || c.code == SE_CMD_READ_JPEG_BACK;
            size_t row = 1;
            if (EBase* base = expert->base(); !jpeg && base != nullptr && base->driverObject() != nullptr)
                row = std::max<size_t>(base->driverObject()->scan_setting().front_side.output_row_bytes, 1);
            if (static_cast<int32_t>(t.wanted) > 0)
                t.wanted = static_cast<uint32_t>(std::min<uint64_t>(t.wanted, kLineBuffer / row));
            t.buffer = t.buffer != 0 ? address(lines.data()) : 0;
            t.delivered = kUntouched; // a read that does not answer leaves it so
            std::memcpy(record.data(), &t, sizeof t);
            wanted = static_cast<int32_t>(t.wanted);
            break;
        }
        case SE_CMD_GAMMA: {
            SEGammaDescriptor d{};
            std::memcpy(&d, record.data(), sizeof d);
            static std::vector<uint8_t> tables(3 * kGammaTable);
            for (int i = 0; i < 3; ++i) d.table[i] = d.table[i] != 0 ? address(tables.data() + i * kGammaTable) : 0;
            std::memcpy(record.data(), &d, sizeof d);
            break;
        }
        default: break;
        }
        lines.back() = 0x5A;
        (void)expert->Entry(&b);
        // Nothing is written past the lines asked for, nor more lines reported.
        FUZZ_CHECK(lines.back() == 0x5A);
        if (wanted > 0 && b.record != 0) {
            SELineTransfer t{};
            std::memcpy(&t, record.data(), sizeof t);
            FUZZ_CHECK(t.delivered == kUntouched || t.delivered <= static_cast<uint32_t>(wanted));
        }
    }
    expert.reset();
}

} // namespace fuzz
