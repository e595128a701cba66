// The owner of one opened USB device's bulk-transfer handle. The root object creates one for the
// device it opens and builds the driver object over it.
#pragma once

#include "gl_device.h"

#include <cstdint>

class CInterface {
public:
    // Creates the handle and binds it to the usbio device number; without memory the object holds
    // no handle.
    explicit CInterface(uint32_t device_number);
    virtual ~CInterface();
    CInterface(const CInterface&) = delete;
    CInterface& operator=(const CInterface&) = delete;

    // The handle, or null when none could be made.
    GLDevice* device() const { return device_; }
    // 1 when a handle is held, else 0.
    int GetModelCode() const;

protected:
    GLDevice* device_ = nullptr; // owned
};
