// The driver's root object: enumerates the attached scanners (code 6), opens one (8), closes it
// (3), describes one (9) and runs the host's callback test (4). Every other code goes to the
// command handler of the open device.
//
// The device tables are process globals, filled by enumeration and read by open and describe.
// Enumeration probes each scanner by opening it briefly, so a scanner that is already open in
// this process is not listed again while it stays open.
#pragma once

#include "ebase.h"
#include "se_main.h"

#include <se_boundary.h>

#include <cstdint>

constexpr int DEVICE_TABLE_SIZE = 16;
constexpr size_t DEVICE_NAME_BYTES = 256;

struct DeviceListEntry {
    uint32_t number;              // the USB layer's device number
    char name[DEVICE_NAME_BYTES]; // "libusb:BBB:DDD"
};

extern uint16_t gScannerIndex;
extern DeviceListEntry gDeviceList[DEVICE_TABLE_SIZE];
extern SESubDevice gScannerInfo[DEVICE_TABLE_SIZE];
extern SEChainReply gScannerChain;

// Records one matching device after a successful probe: 0 when recorded, 4 otherwise.
int attach_one_usb(const char* name);

class EExpert {
public:
    explicit EExpert(ESEINFO* info);
    virtual ~EExpert();
    EExpert(const EExpert&) = delete;
    EExpert& operator=(const EExpert&) = delete;

    virtual int16_t Entry(ECDB* block);
    virtual int16_t Init2(ECDB* block);
    virtual int16_t Info2(ECDB* block);
    virtual int16_t Alloc2(ECDB* block);
    virtual int16_t Free();
    virtual int16_t ScannerInfo2(ECDB* block);
    virtual int16_t InitNewYieldProc(ECDB* block);

    EBase* base() { return base_; }

private:
    // The index of a recorded device number, or -1.
    static int find_recorded(uint32_t number);

    ESEINFO* info_;
    EBase* base_ = nullptr;
    CInterface* interface_ = nullptr;
    int openNumber_ = -1; // the USB device number Alloc2 opened
};
