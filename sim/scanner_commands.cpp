// The simulated scanner's request catalogue and the handlers behind it. A read answers a record
// and a send replaces it, except where the device checks what it stores: the EEPROM's checksum,
// the flash configuration's CRC, the size of the flash user area and the system status bytes the
// host may write.
#include "scanner_model.h"

#include "bytes.h"
#include "scanner_profiles.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint64_t kAnySize = ~uint64_t{0};
constexpr size_t kHeaderSize = 8;
constexpr size_t kBlockSize = 16;
constexpr uint8_t kLoad = 0xA1;
constexpr uint8_t kEject = 0xA2;
constexpr uint32_t kEjectOperand = 0xFFF;
constexpr size_t kFlashUserLimit = size_t{1} << 20;
// System status: bytes the host may write, and byte 11's bits.
constexpr size_t kHostStatusFirst = 11;
constexpr size_t kHostStatusEnd = 16;
constexpr uint8_t kCheckCalibration = 0x01;
constexpr uint8_t kCalibrationValid = 0x10;

template <size_t N> void answer(ScannerModel::Request& r, const std::array<uint8_t, N>& record)
{
    r.reply.assign(record.begin(), record.end());
}

template <size_t N> void store(std::array<uint8_t, N>& record, const ScannerModel::Request& r)
{
    std::copy_n(r.payload.begin(), N, record.begin());
}

} // namespace

struct ScannerModel::CommandEntry {
    enum class Form {
        Read,
        Send,
        Own
    };
    TxKind kind;
    Form form;
    char tag[5];
    uint8_t code;
    uint64_t size; // payload bytes, or kAnySize
    Handler handler;
};

std::span<const ScannerModel::CommandEntry> ScannerModel::catalogue()
{
    using F = CommandEntry::Form;
    constexpr TxKind R = TxKind::Read;
    constexpr TxKind W = TxKind::Write;
    static const CommandEntry table[] = {
        {R, F::Own, "INQU", 0x12, kInquirySize, &ScannerModel::read_inquiry},
        {R, F::Own, "MEDI", 0x13, kMediaSize, &ScannerModel::read_media},
        {R, F::Own, "RES", 0x14, kResolutionSize, &ScannerModel::read_resolution},
        {R, F::Read, "ATTR", 0x82, kAttributesSize, &ScannerModel::read_attributes},
        {R, F::Read, "SYS", 0x81, kSystemStatusSize, &ScannerModel::read_system_status},
        {W, F::Send, "SYS", 0x81, kSystemStatusSize, &ScannerModel::send_system_status},
        {W, F::Own, "SWIN", 0x24, kWindowSize, &ScannerModel::set_window},
        {R, F::Read, "INFO", 0x80, kImageInformationSize, &ScannerModel::read_image_information},
        {R, F::Read, "CALI", 0x9F, kCalibrationSize, &ScannerModel::read_calibration},
        {W, F::Send, "CALI", 0x9F, kCalibrationSize, &ScannerModel::send_calibration},
        {W, F::Send, "HOFT", 0xF0, kHostFixtureSize, &ScannerModel::send_host_fixture},
        {R, F::Read, "EROM", 0xF1, kEepromSize, &ScannerModel::read_eeprom},
        {W, F::Send, "EROM", 0xF1, kEepromSize, &ScannerModel::send_eeprom},
        {R, F::Read, "SHAD", 0x01, kAnySize, &ScannerModel::read_shading},
        {W, F::Send, "SHAD", 0x01, kAnySize, &ScannerModel::send_shading},
        {W, F::Send, "GAMA", 0x03, kAnySize, &ScannerModel::send_gamma},
        {W, F::Send, "ISPM", 0xF2, kIspZeros + kIspSize, &ScannerModel::send_isp_a},
        {W, F::Send, "ISPS", 0xF3, kIspZeros + kIspSize, &ScannerModel::send_isp_b},
        {R, F::Read, "FLHC", 0xF6, kFlashConfigSize, &ScannerModel::read_flash_config},
        {W, F::Send, "FLHC", 0xF6, kFlashConfigSize, &ScannerModel::send_flash_config},
        {R, F::Read, "FLHU", 0xF7, kAnySize, &ScannerModel::read_flash_user},
        {W, F::Send, "FLHU", 0xF7, kAnySize, &ScannerModel::send_flash_user},
        {R, F::Read, "XSMC", 0xF9, kXsmcSize, &ScannerModel::read_xsmc},
        {R, F::Read, "CRRG", 0xFA, kCrrgSize, &ScannerModel::read_crrg},
        {R, F::Read, "CAAT", 0x93, kCalibrationActionSize, &ScannerModel::read_calibration_action},
        {W, F::Send, "CAAT", 0x93, kCalibrationActionSize, &ScannerModel::send_calibration_action},
        {R, F::Own, "SENS", 0x03, kSenseSize, &ScannerModel::read_sense},
        {TxKind::Control, F::Own, "MOTO", 0xE1, kAnySize, &ScannerModel::motor},
    };
    return table;
}

const ScannerModel::CommandEntry* ScannerModel::identify_command(std::span<const uint8_t> block)
{
    using F = CommandEntry::Form;
    Transaction& tx = current();
    F form = F::Own;
    if (tx.kind == TxKind::Read && std::memcmp(block.data(), "READ", 4) == 0 && block[4] == 0x28) form = F::Read;
    if (tx.kind == TxKind::Write && std::memcmp(block.data(), "SEND", 4) == 0 && block[4] == 0x2A) form = F::Send;
    const uint8_t* tag = form == F::Own ? block.data() : block.data() + 8;
    tx.tag = tag_text(tag);
    tx.code = form == F::Own ? block[4] : block[12];

    if (tx.tag == "RES") tx.index = block[5];
    if (tx.tag == "ATTR") tx.index = block[13];
    if (tx.tag == "CALI" || tx.tag == "SHAD") {
        tx.value = le16(block.data() + 5);
        tx.index = block[15];
    }
    if (tx.tag == "SHAD") {
        tx.deep = block[13];
        tx.level = block[14];
    }
    if (tx.tag == "GAMA") tx.value = le16(block.data() + 13);
    if (tx.tag == "MOTO") tx.sub = block[6];
    identify(tx.tag);

    for (const CommandEntry& entry : catalogue())
        if (entry.kind == tx.kind && entry.form == form && std::memcmp(entry.tag, tag, 4) == 0 && entry.code == tx.code)
            return &entry;
    return nullptr;
}

void ScannerModel::dispatch(const CommandEntry* entry, std::span<const uint8_t> block, std::span<const uint8_t> payload)
{
    Transaction& tx = current();
    const uint64_t frame = tx.kind == TxKind::Read ? kHeaderSize : tx.kind == TxKind::Write ? kBlockSize : 0;
    Request r{tx, block, payload, {}};
    if (tx.kind == TxKind::Write) tx.payload = payload.size();
    uint64_t reply_size = tx.kind == TxKind::Read ? tx.length : kHeaderSize;
    Sense s;
    if (entry == nullptr) {
        s = sense::kUnknownCommand;
    } else if (const Armed* a = fault(tx.number, Injection::Action::Refuse)) {
        s = {a->injection.key, a->injection.code};
    } else if (const Armed* h =
                   tx.kind == TxKind::Read ? fault(tx.number, Injection::Action::RefuseHeaderOnly) : nullptr) {
        s = {h->injection.key, h->injection.code};
        reply_size = kHeaderSize;
    } else if (entry->size != kAnySize && tx.length != frame + entry->size) {
        s = wrong_length(frame + entry->size);
    } else if (entry->size == kAnySize && tx.length < frame) {
        s = wrong_length(frame);
    } else {
        s = (this->*entry->handler)(r);
    }
    if (tx.kind == TxKind::Read && !s.refused()) tx.payload = tx.length - kHeaderSize;
    request_reply(s, r.reply, reply_size);
}

Sense ScannerModel::wrong_length(uint64_t expected)
{
    violation("wrong length " + std::to_string(current().length) + " (expected " + std::to_string(expected) + ")");
    return sense::kWrongLength;
}

Sense ScannerModel::read_inquiry(Request& r)
{
    answer(r, records_.inquiry);
    return {};
}

Sense ScannerModel::read_media(Request& r)
{
    answer(r, records_.media);
    return {};
}

Sense ScannerModel::read_resolution(Request& r)
{
    const uint8_t media = r.tx.index;
    if (media >= kMediaKinds || records_.media[media] == 0) return sense::kInvalidParameter;
    answer(r, records_.resolutions[media]);
    return {};
}

Sense ScannerModel::read_attributes(Request& r)
{
    const uint8_t media = r.tx.index;
    if (media >= kMediaKinds || records_.media[media] == 0) return sense::kInvalidParameter;
    answer(r, records_.attributes[media]);
    return {};
}

Sense ScannerModel::read_system_status(Request& r)
{
    answer(r, records_.system_status);
    return {};
}

// Bytes 11-15 take the written values; the rest is device state and ignores writes. In byte 11,
// bit 4 is the device's own; a written bit 0 asks it to check its calibration, which sets or clears
// bit 4 and then clears bit 0.
Sense ScannerModel::send_system_status(Request& r)
{
    auto& status = records_.system_status;
    for (size_t i = kHostStatusFirst + 1; i < kHostStatusEnd; ++i) status[i] = r.payload[i];
    uint8_t b11 = static_cast<uint8_t>((r.payload[kHostStatusFirst] & ~kCalibrationValid) |
                                       (status[kHostStatusFirst] & kCalibrationValid));
    if ((b11 & kCheckCalibration) != 0) {
        b11 = static_cast<uint8_t>(calibration_valid_locked() ? b11 | kCalibrationValid : b11 & ~kCalibrationValid);
        b11 &= static_cast<uint8_t>(~kCheckCalibration);
    }
    status[kHostStatusFirst] = b11;
    return {};
}

Sense ScannerModel::set_window(Request& r)
{
    window_.emplace();
    store(*window_, r);
    return {};
}

Sense ScannerModel::read_image_information(Request& r)
{
    answer(r, records_.image_information);
    return {};
}

Sense ScannerModel::read_calibration(Request& r)
{
    const auto it = records_.calibration.find({r.tx.value, r.tx.index});
    if (it != records_.calibration.end()) {
        answer(r, it->second);
    } else {
        // A block never stored reads as a pattern of its key, so round trips can be told apart.
        r.reply.resize(kCalibrationSize);
        for (size_t i = 0; i < kCalibrationSize; ++i) r.reply[i] = static_cast<uint8_t>(r.tx.value + r.tx.index + i);
    }
    records_.last_calibration_value = r.tx.value;
    return {};
}

Sense ScannerModel::send_calibration(Request& r)
{
    store(records_.calibration[{r.tx.value, r.tx.index}], r);
    records_.last_calibration_value = r.tx.value;
    return {};
}

Sense ScannerModel::send_host_fixture(Request& r)
{
    store(records_.host_fixture, r);
    return {};
}

Sense ScannerModel::read_eeprom(Request& r)
{
    answer(r, records_.eeprom);
    return {};
}

Sense ScannerModel::send_eeprom(Request& r)
{
    std::array<uint8_t, kEepromSize> image{};
    store(image, r);
    if (!eeprom_sealed(image)) return sense::kBadChecksum;
    records_.eeprom = image;
    return {};
}

Sense ScannerModel::read_shading(Request& r)
{
    const auto it = records_.shading.find({r.tx.index, r.tx.level});
    if (it != records_.shading.end()) r.reply = it->second.data;
    return {};
}

Sense ScannerModel::send_shading(Request& r)
{
    const uint8_t kind = r.tx.index;
    if (strict_shading_ && kind == 3 && r.payload.size() != uint64_t{*strict_shading_} * 2)
        return wrong_length(kBlockSize + uint64_t{*strict_shading_} * 2);
    ShadingUpload& upload = records_.shading[{kind, r.tx.level}];
    upload.value = r.tx.value;
    upload.deep = r.tx.deep;
    upload.data.assign(r.payload.begin(), r.payload.end());
    if (r.tx.level < records_.front_shading.size()) {
        const auto half = static_cast<std::ptrdiff_t>(kind == 3 ? r.payload.size() / 2 : r.payload.size());
        if (kind == 1 || kind == 3)
            records_.front_shading[r.tx.level] = {
                upload.value, upload.deep, {r.payload.begin(), r.payload.begin() + half}};
        if (kind == 2 || kind == 3)
            records_.back_shading[r.tx.level] = {upload.value, upload.deep, {r.payload.end() - half, r.payload.end()}};
    }
    return {};
}

Sense ScannerModel::send_gamma(Request& r)
{
    const size_t tables = r.block[13] == 4 ? kGammaSizePerChannel : kGammaSize;
    if (r.payload.size() != tables) return wrong_length(kBlockSize + tables);
    records_.gamma_control = {r.block[13], r.block[14]};
    records_.gamma_tables.assign(r.payload.begin(), r.payload.end());
    return {};
}

Sense ScannerModel::send_isp_a(Request& r)
{
    std::copy_n(r.payload.begin() + kIspZeros, kIspSize, records_.isp_a.begin());
    return {};
}

Sense ScannerModel::send_isp_b(Request& r)
{
    std::copy_n(r.payload.begin() + kIspZeros, kIspSize, records_.isp_b.begin());
    return {};
}

Sense ScannerModel::read_flash_config(Request& r)
{
    answer(r, records_.flash_config);
    return {};
}

Sense ScannerModel::send_flash_config(Request& r)
{
    std::array<uint8_t, kFlashConfigSize> config{};
    store(config, r);
    if (!flash_config_sealed(config)) return sense::kBadChecksum;
    records_.flash_config = config;
    return {};
}

Sense ScannerModel::read_flash_user(Request& r)
{
    const size_t asked = r.tx.length - kHeaderSize;
    r.reply.assign(records_.flash_user.begin(),
                   records_.flash_user.begin() +
                       static_cast<std::ptrdiff_t>(std::min(asked, records_.flash_user.size())));
    return {};
}

Sense ScannerModel::send_flash_user(Request& r)
{
    if (r.payload.size() > kFlashUserLimit) return sense::kWrongLength;
    records_.flash_user.assign(r.payload.begin(), r.payload.end());
    return {};
}

Sense ScannerModel::read_xsmc(Request& r)
{
    answer(r, records_.xsmc);
    return {};
}

Sense ScannerModel::read_crrg(Request& r)
{
    answer(r, records_.crrg);
    return {};
}

Sense ScannerModel::read_calibration_action(Request& r)
{
    answer(r, records_.calibration_action);
    return {};
}

Sense ScannerModel::send_calibration_action(Request& r)
{
    store(records_.calibration_action, r);
    return {};
}

// Fixed-format sense data: 0x70, key, code. Reporting them clears them.
Sense ScannerModel::read_sense(Request& r)
{
    r.reply.assign(kSenseSize, 0);
    r.reply[0] = 0x70;
    r.reply[1] = sense_.key;
    r.reply[2] = sense_.code;
    sense_ = {};
    return {};
}

Sense ScannerModel::motor(Request& r)
{
    const uint8_t operation = r.tx.sub;
    if (operation != kLoad && operation != kEject) return sense::kUnknownCommand;
    if (operation == kEject && r.tx.length != kEjectOperand) return wrong_length(kEjectOperand);
    records_.motor.push_back({.job_frame = false, .operation = operation, .operand = r.tx.length});
    return {};
}

} // namespace sim
