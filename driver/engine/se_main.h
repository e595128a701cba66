// The plug-in's one entry, SE_main, with the driver's description of itself (ESEINFO), the
// start-up defaults that device opening reads, and the effective-code word every block is
// pointed at.
//
// SE_main refuses a call made while another call is inside the driver, from the same thread (a
// host service calling back) or from another one, with -100 and leaves that block untouched. A
// refused stop (code 33) is remembered: the call inside gives up its waits on the device within a
// slice of 100 ms, and so do the waits of the stop that gets in next, which then forgets it (as
// do a scan start, an open and a close). No C++ exception leaves SE_main: an allocation failure
// answers -109, any other exception -1008.
#pragma once

#include "varnoth_export.h"

#include <se_boundary.h>

#include <cstdint>
#include <functional>

struct ESEINFO {
    char name[32];      // "VQ-K5200-U3 Scanner", NUL-padded
    uint32_t version;   // driver version × 100
    uint16_t productId; // 0x6204
    uint16_t second;    // 1; nothing reads it
    uint16_t flags;     // bit 0: a device enumeration ran
    uint16_t fourth;    // 0; nothing reads it
};

extern ESEINFO semVQInfo;

// Start-up defaults of the setting handlers, read when a device is opened.
extern uint32_t gDefBrightness;
extern uint32_t gDefContrast;
extern int16_t gDefExposure;
extern uint16_t gDefDither;
extern uint32_t gDefOffset;
extern uint16_t gDefExpModeVal;

// The word every block's effectiveCode is pointed at; it always holds 0xFFFF.
extern uint16_t EffFncCodeBuf[20];

// Fills semVQInfo and the start-up defaults from the driver's built-in information; answers 1.
int InitSomeGlobalVar();

extern "C" VARNOTH_EXPORT int16_t SE_main(int16_t op, ECDB* block);

// Test seam: called inside the entry guard with each op-1 block before it is routed. A hook that
// throws shows how SE_main answers an exception; null removes it.
void se_main_set_command_hook(std::function<void(const ECDB&)> hook);
