#include "kzd_interface.h"

CInterface::CInterface(uint32_t device_number)
{
    if (device_New(&device_).ok() && device_ != nullptr) device_Open(device_, device_number);
}

CInterface::~CInterface()
{
    if (device_ == nullptr) return;
    device_Close(device_);
    device_Free(device_);
    device_ = nullptr;
}

int CInterface::GetModelCode() const
{
    return device_ != nullptr ? 1 : 0;
}
