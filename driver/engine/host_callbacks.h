// The host's service functions as the driver keeps them: twelve exported function addresses and
// the caller reference, filled by SetCallBackfunc, reached only through the wrappers below. A
// wrapper passes the reference first (where the service takes one) and answers a neutral value
// when its service is absent.
#pragma once

#include "varnoth_export.h"

#include <se_boundary.h>

#include <cstdint>

extern "C" {
// Services 8 to 11 are never registered by the host; their types are the driver's own.
typedef int16_t SECallbackCalibration(int16_t code, void* data);
typedef int32_t SECallbackNonStop(void* context, int32_t a, int32_t b);

VARNOTH_EXPORT extern SECallbackFreeSpace* CallBackFreeSpace;
VARNOTH_EXPORT extern SECallbackAllocate* CallBackAllocMem;
VARNOTH_EXPORT extern SECallbackFree* CallBackFreeMem;
VARNOTH_EXPORT extern SECallbackLock* CallBackLockMem;
VARNOTH_EXPORT extern SECallbackUnlock* CallBackUnLockMem;
VARNOTH_EXPORT extern SECallbackYield* CallBackYieldProc;
VARNOTH_EXPORT extern SECallbackError* CallBackpErrorMsg;
VARNOTH_EXPORT extern SECallbackProgress* CallBackpScanProGress;
VARNOTH_EXPORT extern SECallbackCalibration* CallbackLLD35Calibration;
VARNOTH_EXPORT extern SECallbackCalibration* CallBackENewYieldProc;
VARNOTH_EXPORT extern SECallbackCalibration* CallBackFullCalibration;
VARNOTH_EXPORT extern SECallbackNonStop* CallBackNonStopCallback;
VARNOTH_EXPORT extern uint64_t mRefCaller;

// Stores `address` under `index` (0 to 11, or 255 for the caller reference) and answers 1; any
// other index answers 0 and stores nothing. A service under index 9 is the host's say in long
// waits: while a scan waits on the device (its polls, or a transfer the device keeps waiting), the
// driver calls it with (0, null) on the caller's thread, and an answer of 0 gives the operation up
// at once, so that the host can stop a scan on a device that no longer answers. The service must
// not call SE_main.
VARNOTH_EXPORT int32_t SetCallBackfunc(void* address, int16_t index);
}

// Takes slots 0 to 4, 6 and 7 of a host callback block and its reference (slot 5 and the count
// field are not read).
void RegisterHostCallbacks(const SECallbackBlock& block);

int32_t FreeSpace1();
int32_t AllocMem1(int32_t size, void** out);
int32_t FreeMem1(void* block);
void* LockMem1(void* block);
int32_t UnLockMem1(void* block);
int32_t YieldProc1();
int32_t pErrorMsg1(int16_t code, const char* text);
int32_t pScanProGress1(int32_t done, int32_t total);
int16_t pLLD35Calibration1(int16_t code, void* data);
int16_t YieldProc2(int16_t code, void* data);
int16_t pFullCalibration(int16_t code, void* data);
int16_t NonStopCallbackProc1(void* context, int32_t a, int32_t b);

// The answer of YieldProc2 and pFullCalibration for a service answer of 0, and of
// NonStopCallbackProc1 for a service answer of 1.
constexpr int16_t CALLBACK_CANCELLED = -27603;
