#include "kzd_exports.h"

#include <new>

CKzdScanner* gpQRXV3Scanner = nullptr;

namespace {

// Calls `op` on the current instance; the status tells when there is none or it threw.
template <typename Record, typename Op> void forward(Record* r, Op op)
{
    if (r == nullptr) return;
    if (gpQRXV3Scanner == nullptr) {
        r->header.set_status(DRV_NO_INSTANCE);
        return;
    }
    try {
        (gpQRXV3Scanner->*op)(r);
    } catch (...) {
        r->header.set_status(DRV_NO_MEMORY);
    }
}

} // namespace

extern "C" {

int32_t CreateInstance(void** out, CInterface* device)
{
    if (out == nullptr) return 0;
    try {
        *out = new CKzdScanner(device);
        return DRV_SUCCESS.code();
    } catch (...) {
        *out = nullptr;
        return DRV_NO_MEMORY.code();
    }
}

void ReleaseInstance(CKzdScanner* object)
{
    delete object;
}

#define VARNOTH_FORWARDER(name, record)                                                                                \
    void name(record* r)                                                                                               \
    {                                                                                                                  \
        forward(r, &CKzdScanner::name);                                                                                \
    }
VARNOTH_FORWARDERS(VARNOTH_FORWARDER)
#undef VARNOTH_FORWARDER

void vEraseCaliData(stEraseCaliData* r)
{
    if (r == nullptr) return;
    if (gpQRXV3Scanner == nullptr) {
        r->set_result(DRV_NO_INSTANCE);
        return;
    }
    try {
        gpQRXV3Scanner->vEraseCaliData(r);
    } catch (...) {
        r->set_result(DRV_NO_MEMORY);
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
