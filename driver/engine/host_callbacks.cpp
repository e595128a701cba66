#include "host_callbacks.h"

#include "driver_sleep.h"

#include <initializer_list>
#include <type_traits>

// The host registers its yield service by the boundary's index and type.
static_assert(SE_SERVICE_YIELD == 9);
static_assert(std::is_same_v<SECallbackYieldService, SECallbackCalibration>);

namespace {

// The operation in progress is given up when the host's yield service answers 0.
bool host_gives_up()
{
    return YieldProc2(0, nullptr) == CALLBACK_CANCELLED;
}

} // namespace

extern "C" {
SECallbackFreeSpace* CallBackFreeSpace = nullptr;
SECallbackAllocate* CallBackAllocMem = nullptr;
SECallbackFree* CallBackFreeMem = nullptr;
SECallbackLock* CallBackLockMem = nullptr;
SECallbackUnlock* CallBackUnLockMem = nullptr;
SECallbackYield* CallBackYieldProc = nullptr;
SECallbackError* CallBackpErrorMsg = nullptr;
SECallbackProgress* CallBackpScanProGress = nullptr;
SECallbackCalibration* CallbackLLD35Calibration = nullptr;
SECallbackCalibration* CallBackENewYieldProc = nullptr;
SECallbackCalibration* CallBackFullCalibration = nullptr;
SECallbackNonStop* CallBackNonStopCallback = nullptr;
uint64_t mRefCaller = 0;

int32_t SetCallBackfunc(void* address, int16_t index)
{
    switch (index) {
    case 0: CallBackFreeSpace = reinterpret_cast<SECallbackFreeSpace*>(address); break;
    case 1: CallBackAllocMem = reinterpret_cast<SECallbackAllocate*>(address); break;
    case 2: CallBackFreeMem = reinterpret_cast<SECallbackFree*>(address); break;
    case 3: CallBackLockMem = reinterpret_cast<SECallbackLock*>(address); break;
    case 4: CallBackUnLockMem = reinterpret_cast<SECallbackUnlock*>(address); break;
    case 5: CallBackYieldProc = reinterpret_cast<SECallbackYield*>(address); break;
    case 6: CallBackpErrorMsg = reinterpret_cast<SECallbackError*>(address); break;
    case 7: CallBackpScanProGress = reinterpret_cast<SECallbackProgress*>(address); break;
    case 8: CallbackLLD35Calibration = reinterpret_cast<SECallbackCalibration*>(address); break;
    case 9:
        CallBackENewYieldProc = reinterpret_cast<SECallbackCalibration*>(address);
        driver_set_cancel_function(address != nullptr ? host_gives_up : nullptr);
        break;
    case 10: CallBackFullCalibration = reinterpret_cast<SECallbackCalibration*>(address); break;
    case 11: CallBackNonStopCallback = reinterpret_cast<SECallbackNonStop*>(address); break;
    case 255: mRefCaller = reinterpret_cast<uint64_t>(address); break;
    default: return 0;
    }
    return 1;
}
}

void RegisterHostCallbacks(const SECallbackBlock& block)
{
    auto slot = [&](int i) { return reinterpret_cast<void*>(block.function[i]); };
    // Slot 5 (yield) is deliberately not taken: the driver never yields to the host.
    for (int i : {SE_CALLBACK_FREE_SPACE, SE_CALLBACK_ALLOCATE, SE_CALLBACK_FREE, SE_CALLBACK_LOCK, SE_CALLBACK_UNLOCK,
                  SE_CALLBACK_ERROR, SE_CALLBACK_PROGRESS})
        SetCallBackfunc(slot(i), static_cast<int16_t>(i));
    SetCallBackfunc(reinterpret_cast<void*>(block.reference), 255);
}

int32_t FreeSpace1()
{
    return CallBackFreeSpace ? CallBackFreeSpace(mRefCaller) : 0;
}

int32_t AllocMem1(int32_t size, void** out)
{
    return CallBackAllocMem ? CallBackAllocMem(mRefCaller, size, out) : 0;
}

int32_t FreeMem1(void* block)
{
    return CallBackFreeMem ? CallBackFreeMem(mRefCaller, block) : 0;
}

void* LockMem1(void* block)
{
    return CallBackLockMem ? CallBackLockMem(mRefCaller, block) : nullptr;
}

int32_t UnLockMem1(void* block)
{
    if (CallBackUnLockMem == nullptr) return 0;
    CallBackUnLockMem(mRefCaller, block);
    return 1;
}

int32_t YieldProc1()
{
    return 1;
}

int32_t pErrorMsg1(int16_t code, const char* text)
{
    if (CallBackpErrorMsg == nullptr) return 0;
    CallBackpErrorMsg(mRefCaller, code, text);
    return 1;
}

int32_t pScanProGress1(int32_t done, int32_t total)
{
    if (CallBackpScanProGress == nullptr) return 0;
    CallBackpScanProGress(mRefCaller, done, total);
    return 1;
}

int16_t pLLD35Calibration1(int16_t code, void* data)
{
    return CallbackLLD35Calibration ? CallbackLLD35Calibration(code, data) : 0;
}

int16_t YieldProc2(int16_t code, void* data)
{
    if (CallBackENewYieldProc == nullptr) return 0;
    const int16_t r = CallBackENewYieldProc(code, data);
    return r == 0 ? CALLBACK_CANCELLED : r;
}

int16_t pFullCalibration(int16_t code, void* data)
{
    if (CallBackFullCalibration == nullptr) return 0;
    const int16_t r = CallBackFullCalibration(code, data);
    return r == 0 ? CALLBACK_CANCELLED : r;
}

int16_t NonStopCallbackProc1(void* context, int32_t a, int32_t b)
{
    if (CallBackNonStopCallback == nullptr) return 0;
    const auto r = static_cast<int16_t>(CallBackNonStopCallback(context, a, b));
    return r == 1 ? CALLBACK_CANCELLED : r;
}
