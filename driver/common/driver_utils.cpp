#include "driver_utils.h"

#include <cstdlib>

void AssignCountW(uint16_t* table, int n)
{
    if (table == nullptr) return;
    for (int i = 0; i < n; ++i) table[i] = static_cast<uint16_t>(i);
}

void AssignCountB(uint8_t* table, int n)
{
    if (table == nullptr) return;
    for (int i = 0; i < n; ++i) table[i] = static_cast<uint8_t>(i);
}

void AssignCountIBO(uint32_t* table, uint32_t start, uint32_t step, int n)
{
    if (table == nullptr) return;
    for (int i = 0; i < n; ++i) table[i] = start + static_cast<uint32_t>(i) * step;
}

void AssignCountWBO(uint16_t* table, int start, int step, int n)
{
    if (table == nullptr) return;
    // Unsigned arithmetic: the value is kept to 16 bits, so wrap-around is the intent.
    for (int i = 0; i < n; ++i)
        table[i] = static_cast<uint16_t>(static_cast<uint32_t>(start) +
                                         static_cast<uint32_t>(i) * static_cast<uint32_t>(step));
}

void* lpMyGlobalAlloc(MYHANDLE, uint32_t size)
{
    if (size == 0) return nullptr;
    return std::calloc(1, size);
}

void vMyGlobalFree(MYHANDLE, void** block)
{
    if (block == nullptr) return;
    std::free(*block);
    *block = nullptr;
}

bool IsTR518Scanner(uint16_t model_code, uint16_t submodel_code)
{
    return model_code == 0x6204 && submodel_code == 1;
}

int StrCmp(const uint8_t* a, const uint8_t* b, uint16_t n)
{
    for (uint16_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return 0;
        if (a[i] == 0) return 1;
    }
    return 1;
}

int GetDepthMaxVal(uint16_t depth_code, uint32_t* out)
{
    int16_t d = static_cast<int16_t>(depth_code < 128 ? 128 : depth_code);
    uint32_t b = 2;
    // A code of 0 as a signed value never turns odd; stop once the bits run out.
    while (d != 0 && (d & 1) == 0) {
        b *= 2;
        d = static_cast<int16_t>(d / 2);
    }
    if (out) *out = b - 1;
    return 1;
}

int GetGammaEntry(uint16_t depth_code, uint32_t* out)
{
    uint32_t v = 256;
    if (depth_code > 128) v = depth_code & static_cast<uint32_t>(-static_cast<int32_t>(depth_code));
    if (out) *out = v;
    return 1;
}

int PlaneToIndex(int plane, int* out)
{
    int index;
    switch (plane) {
    case 32: index = 0; break;
    case 16: index = 1; break;
    case 8: index = 2; break;
    case 4:
    case 2:
    case 1: index = 3; break;
    default: return -108;
    }
    if (out) *out = index;
    return 1;
}

int IsMounted(uint16_t)
{
    return 0;
}

uint32_t ConvertPointerTo_UInt32(uint64_t value)
{
    return static_cast<uint32_t>(value);
}
