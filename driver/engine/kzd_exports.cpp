#include "kzd_exports.h"

#include <new>

CKzdScanner* gpQRXV3Scanner = nullptr;

namespace {

// Calls `op` on the current instance; the status tells when there is none or it threw.
template <typename Record, typename Op> void forward(Record* r, Op op)
{
    if (r == nullptr) return;
    if (gpQRXV3Scanner == nullptr) {
        r->header.FUNC_STATUS = KZD_NO_INSTANCE;
        return;
    }
    try {
        (gpQRXV3Scanner->*op)(r);
    } catch (...) {
        r->header.FUNC_STATUS = KZD_OUT_OF_MEMORY;
    }
}

} // namespace

extern "C" {

int32_t CreateInstance(void** out, CInterface* device)
{
    if (out == nullptr) return 0;
    try {
        *out = new CKzdScanner(device);
        return 1;
    } catch (...) {
        *out = nullptr;
        return KZD_OUT_OF_MEMORY;
    }
}

void ReleaseInstance(CKzdScanner* object)
{
    delete object;
}

#define VARNOTH_FORWARDER(name, record)                                         \
    void name(record* r)                                                        \
    {                                                                           \
        forward(r, &CKzdScanner::name);                                         \
    }
VARNOTH_FORWARDERS(VARNOTH_FORWARDER)
#undef VARNOTH_FORWARDER

void vEraseCaliData(stEraseCaliData* r)
{
    if (r == nullptr) return;
    if (gpQRXV3Scanner == nullptr) {
        r->status = static_cast<uint32_t>(KZD_NO_INSTANCE);
        return;
    }
    try {
        gpQRXV3Scanner->vEraseCaliData(r);
    } catch (...) {
        r->status = static_cast<uint32_t>(KZD_OUT_OF_MEMORY);
    }
}

void vGetPowerSetting(stPowerSetting* r)
{
    forward(r, &CKzdScanner::vScannerGetPowerSetting);
}

void vSetPowerSetting(stPowerSetting* r)
{
    forward(r, &CKzdScanner::vScannerSetPowerSetting);
}

int32_t vPaperReady()
{
    if (gpQRXV3Scanner == nullptr) return -1;
    try {
        return gpQRXV3Scanner->vPaperReady();
    } catch (...) {
        return -1;
    }
}

} // extern "C"

void CKzdScanner::KzdEntry(void* record)
{
    if (record == nullptr) return;
    auto* header = static_cast<stKzdHeader*>(record);
    switch (header->wFunctionCode) {
    case KZD_INITIALIZE_SCANNER: vInitializeScanner(static_cast<stScannerInit*>(record)); break;
    case KZD_SCANNER_CAPABILITY: vScannerCapability(static_cast<stScannerCapab*>(record)); break;
    case KZD_DEFAULT_ATTRIBUTE: vDefaultAttribute(static_cast<stScannerAttri*>(record)); break;
    case KZD_START_SCAN: vScannerStartScan(static_cast<stScannerAttri*>(record)); break;
    case KZD_GET_IMAGE: vScannerGetImage(static_cast<stGetImage*>(record)); break;
    case KZD_ABORT_SCAN: vScannerAbortScan(static_cast<stAbort*>(record)); break;
    case KZD_MULTI_LENS: vScannerMutiLens(static_cast<stSetLens*>(record)); break;
    case KZD_GET_LAMP_STATUS: vGetLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_SET_LAMP_STATUS: vSetLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_GET_SUPPORTED_BUTTONS: vScannerGetSupportedButtons(static_cast<GET_SUPPORTED_BUTTONS*>(record)); break;
    case KZD_GET_SAMPLE_LINES: vGetSampleLines(static_cast<IMAGE_SAMPLE_LINES*>(record)); break;
    case KZD_SET_SAMPLE_LINES: vSetSampleLines(static_cast<IMAGE_SAMPLE_LINES*>(record)); break;
    case KZD_GET_MULTI_LAMP_STATUS: vGetMultiLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_SET_MULTI_LAMP_STATUS: vSetMultiLampStatus(static_cast<stLampStatus*>(record)); break;
    case KZD_GET_DRIVER_VERSION: vGetDriverVersion(static_cast<DRIVER_VERSION*>(record)); break;
    case KZD_GET_ALL_FIRMWARE_FULL_VERSION:
        vScannerGetAllFirmwareFullVersion(static_cast<stFirmwareFullVersionNumber*>(record));
        break;
    default: header->FUNC_STATUS = KZD_NOT_SUPPORTED; break;
    }
}
