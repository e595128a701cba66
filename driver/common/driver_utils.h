// Small free functions shared across the driver: table fillers, the driver's memory-block pair,
// the model predicate, a bounded string comparison and a few value conversions.
#pragma once

#include <cstdint>

// The allocation handle is carried through the allocator's callers but not used by it.
using MYHANDLE = void*;

void AssignCountW(uint16_t* table, int n);
void AssignCountB(uint8_t* table, int n);
void AssignCountIBO(uint32_t* table, uint32_t start, uint32_t step, int n);
void AssignCountWBO(uint16_t* table, int start, int step, int n);

// Zeroed block of `size` bytes; null when size is 0 or memory is short.
void* lpMyGlobalAlloc(MYHANDLE handle, uint32_t size);
// Frees *block (null accepted) and nulls the caller's pointer.
void vMyGlobalFree(MYHANDLE handle, void** block);

// Typed convenience over vMyGlobalFree for callers holding a T*.
template <typename T> inline void vMyGlobalFreeT(MYHANDLE handle, T** block)
{
    if (block == nullptr) return;
    void* p = *block;
    vMyGlobalFree(handle, &p);
    *block = nullptr;
}

// Called with the inquiry's model and submodel codes: the model that crops and scales its scans.
bool IsTR518Scanner(uint16_t model_code, uint16_t submodel_code);
int StrCmp(const uint8_t* a, const uint8_t* b, uint16_t n);
int GetDepthMaxVal(uint16_t depth_code, uint32_t* out);
int GetGammaEntry(uint16_t depth_code, uint32_t* out);
// The index of a tone plane (32, 16, 8: 0 to 2; the master 4, 2 or 1: 3). 1, or -108 for another
// plane: the host's SE_OK and SE_ERR_RANGE, which the setting handlers answer as they are.
int PlaneToIndex(int plane, int* out);
int IsMounted(uint16_t);
uint32_t ConvertPointerTo_UInt32(uint64_t value);
