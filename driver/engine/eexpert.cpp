#include "eexpert.h"

#include "gl_device.h"
#include "host_callbacks.h"
#include "usb_ids.h"
#include "usbio.h"

#include <algorithm>
#include <cstring>
#include <memory>

uint16_t gScannerIndex = 0;
DeviceListEntry gDeviceList[DEVICE_TABLE_SIZE] = {};
SESubDevice gScannerInfo[DEVICE_TABLE_SIZE] = {};
SEChainReply gScannerChain = {};

namespace {

// Tone tables and defaults handed to every opened device. Nothing fills them: the handlers answer
// from empty tables.
ERangeEntry gContrastRange[ERANGE_MAX_ENTRIES] = {};
ERangeEntry gExposureRange[ERANGE_MAX_ENTRIES] = {};
ERangeEntry gOffsetRange[ERANGE_MAX_ENTRIES] = {};
constexpr short kDitherCount = 12;
EDITHER gDitherTable[kDitherCount] = {};
stEXPOSURETIME gDefExposureTime = {};

} // namespace

int attach_one_usb(const char* name)
{
    if (name == nullptr || gScannerIndex >= DEVICE_TABLE_SIZE) return 4;
    int dn = -1;
    if (!device_OpenNamed(name, &dn).ok()) return 4;

    int answer = 4;
    try {
        // Declared in this order so that the driver object goes before the interface it uses.
        auto device = std::make_unique<CInterface>(static_cast<uint32_t>(dn));
        auto scanner = std::make_unique<CKzdScanner>(device.get());
        stScannerInit init{};
        init.header.wFunctionCode = KZD_INITIALIZE_SCANNER;
        scanner->vInitializeScanner(&init);
        if (init.header.status().ok()) {
            const uint16_t i = gScannerIndex;
            gScannerInfo[i] = SESubDevice{firmware_version_x100(init.FirmwareVersion),
                                          2,
                                          static_cast<uint32_t>(dn),
                                          0,
                                          static_cast<uint32_t>(dn),
                                          0};
            std::memcpy(gScannerChain.name, semVQInfo.name, sizeof gScannerChain.name);
            gScannerChain.kind = 2;
            gScannerChain.version = semVQInfo.version;
            gScannerChain.ids[i] = semVQInfo.productId;
            gScannerChain.hostRef = 0;
            gScannerChain.count = static_cast<uint16_t>(i + 1);
            gScannerChain.numbers[i] = static_cast<uint32_t>(dn);
            gDeviceList[i].number = static_cast<uint32_t>(dn);
            std::memset(gDeviceList[i].name, 0, DEVICE_NAME_BYTES);
            std::strncpy(gDeviceList[i].name, name, DEVICE_NAME_BYTES - 1);
            ++gScannerIndex;
            answer = 0;
        }
        scanner.reset();
        device.reset();
    } catch (...) {
        answer = 4;
    }
    device_CloseNumber(dn);
    return answer;
}

EExpert::EExpert(ESEINFO* info) : info_(info)
{
    usbio_init();
}

EExpert::~EExpert()
{
    Free();
    usbio_exit();
}

int EExpert::find_recorded(uint32_t number)
{
    const int n = std::min<int>(gScannerIndex, DEVICE_TABLE_SIZE);
    for (int i = 0; i < n; ++i)
        if (gScannerChain.numbers[i] == number) return i;
    return -1;
}

int16_t EExpert::Entry(ECDB* block)
{
    switch (block->code) {
    case SE_CMD_CLOSE_DEVICE: return Free();
    case SE_CMD_CALLBACK_TEST: {
        auto* test = reinterpret_cast<SECallbackTest*>(static_cast<uintptr_t>(block->value));
        if (test == nullptr) return SE_NOT_SUPPORTED;
        test(1, 2, 3);
        return SE_OK;
    }
    case SE_CMD_DEVICE_LIST: return Init2(block);
    case SE_CMD_OPEN_DEVICE: return Alloc2(block);
    case SE_CMD_DEVICE_INFO: return ScannerInfo2(block);
    default:
        if (base_ == nullptr) return SE_ERR_NO_DEVICE;
        return base_->Entry(block);
    }
}

int16_t EExpert::Init2(ECDB* block)
{
    auto* reply = reinterpret_cast<SEChainReply*>(static_cast<uintptr_t>(block->record));
    if (reply != nullptr) std::memset(reply, 0, sizeof *reply);
    std::memset(gDeviceList, 0, sizeof gDeviceList);
    gScannerIndex = 0;

    usbio_find_devices(VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID, attach_one_usb);
    info_->flags |= 1;

    if (reply != nullptr) {
        std::memcpy(reply->name, gScannerChain.name, sizeof reply->name);
        reply->kind = gScannerChain.kind;
        reply->version = gScannerChain.version;
        reply->hostRef = 0;
        reply->count = gScannerIndex;
        for (int i = 0; i < gScannerIndex; ++i) {
            reply->ids[i] = gScannerChain.ids[i];
            reply->numbers[i] = gScannerChain.numbers[i];
        }
    }
    const auto* callbacks = reinterpret_cast<const SECallbackBlock*>(static_cast<uintptr_t>(block->value));
    if (callbacks != nullptr) {
        RegisterHostCallbacks(*callbacks);
        FreeSpace1();
    }
    return SE_OK;
}

int16_t EExpert::Info2(ECDB* block)
{
    const auto* from = reinterpret_cast<const SEChainReply*>(static_cast<uintptr_t>(block->record));
    if (from == nullptr) return SE_NOT_SUPPORTED;
    std::memcpy(&gScannerChain, from, sizeof gScannerChain);
    return SE_OK;
}

int16_t EExpert::Alloc2(ECDB* block)
{
    const uint32_t number = static_cast<uint32_t>(block->value);
    const int index = find_recorded(number);
    if (index < 0) return SE_ERR_NO_ROOT;
    int dn = -1;
    if (!device_OpenNamed(gDeviceList[index].name, &dn).ok()) return SE_ERR_NO_ROOT;
    if (static_cast<uint32_t>(dn) != number) {
        device_CloseNumber(dn);
        return SE_ERR_NO_ROOT;
    }
    if (base_ != nullptr) {
        device_CloseNumber(dn);
        return SE_ERR_BUSY;
    }
    std::unique_ptr<CInterface> device;
    std::unique_ptr<EBase> base;
    try {
        device = std::make_unique<CInterface>(number);
        base = std::make_unique<EBase>(gContrastRange, kDitherCount, gDitherTable, gExposureRange, gOffsetRange,
                                       static_cast<short>(index), static_cast<int>(gDefBrightness),
                                       static_cast<int>(gDefContrast), static_cast<short>(gDefDither), gDefExposure,
                                       static_cast<int>(gDefOffset), &gDefExposureTime,
                                       static_cast<short>(gDefExpModeVal), device.get());
    } catch (...) {
        base.reset();
        device.reset();
        device_CloseNumber(dn);
        return SE_ERR_NO_DEVICE;
    }
    // A device whose record could not be made is no open device.
    if (!base->initialised()) {
        base.reset();
        device.reset();
        device_CloseNumber(dn);
        return SE_ERR_NO_DEVICE;
    }
    interface_ = device.release();
    base_ = base.release();
    openNumber_ = dn;
    return SE_OK;
}

int16_t EExpert::Free()
{
    delete base_;
    base_ = nullptr;
    delete interface_;
    interface_ = nullptr;
    if (openNumber_ >= 0) device_CloseNumber(openNumber_);
    openNumber_ = -1;
    for (int dn = 0; dn < DEVICE_TABLE_SIZE; ++dn) device_CloseNumber(dn);
    return SE_OK;
}

int16_t EExpert::ScannerInfo2(ECDB* block)
{
    const uint32_t number = static_cast<uint32_t>(block->value);
    const int index = find_recorded(number);
    if (index < 0) return SE_NOT_SUPPORTED;
    if (block->record != 0)
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(block->record)), &gScannerInfo[index],
                    sizeof(SESubDevice));
    return SE_OK;
}

int16_t EExpert::InitNewYieldProc(ECDB* block)
{
    if (block->verb == 0) return SE_OK;
    if (block->verb == 3) return SE_ERR_RANGE;
    return SE_NOT_SUPPORTED;
}
