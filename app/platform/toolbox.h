// The small toolbox the host library is written against: relocatable memory blocks reached
// through handles, a tick clock and a cooperative yield.
//
// A Handle points at a master pointer; *handle is the block itself, so records in a block are
// reached as (*handle)->field, or through a typed copy of *handle while the block is locked. A
// block may move when its size grows unless it is locked; a locked block never moves.
#pragma once

#include <cstdint>

using Ptr = char*;
using Handle = Ptr*;

// Result codes of the handle calls.
using OSErr = int16_t;
inline constexpr OSErr noErr = 0;
inline constexpr OSErr memFullErr = -108;  // out of memory, or a locked block would have to move
inline constexpr OSErr nilHandleErr = -109;
inline constexpr OSErr paramErr = -50;

// A new block of `size` bytes (its contents undefined), or null. A negative size gives null.
Handle NewHandle(long size);
// The same with every byte zero.
Handle NewHandleClear(long size);
// Frees the block and its master pointer; null is accepted.
void DisposeHandle(Handle handle);
// The block's size in bytes; 0 for null.
long GetHandleSize(Handle handle);
// Resizes the block, keeping its first bytes. A locked block is resized only in place.
OSErr SetHandleSize(Handle handle, long size);
void HLock(Handle handle);
void HUnlock(Handle handle);
bool HIsLocked(Handle handle);

// Locks a handle for one scope and restores its former state.
class HandleLock {
public:
    explicit HandleLock(Handle handle) : handle_(handle), wasLocked_(HIsLocked(handle)) { HLock(handle_); }
    ~HandleLock()
    {
        if (!wasLocked_) HUnlock(handle_);
    }
    HandleLock(const HandleLock&) = delete;
    HandleLock& operator=(const HandleLock&) = delete;

private:
    Handle handle_;
    bool wasLocked_;
};

// The block of a handle as a record of type T (null for a null handle).
template <typename T>
T* HandleData(Handle handle)
{
    return handle == nullptr ? nullptr : reinterpret_cast<T*>(*handle);
}

// Sixtieths of a second on a monotonic clock; wraps at 2^32.
uint32_t TickCount();
// Lets other threads run.
void YieldToAnyThread();

// The one seam behind TickCount and YieldToAnyThread. Tests install their own, so that waits
// counted in ticks cost no real time.
class ToolboxClock {
public:
    virtual ~ToolboxClock() = default;
    virtual uint32_t tickCount() = 0;
    virtual void yield() = 0;
};
// Installs `clock` (not owned); null restores the real clock.
void SetToolboxClock(ToolboxClock* clock);
