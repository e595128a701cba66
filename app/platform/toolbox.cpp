#include "toolbox.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

// The master pointer comes first, so a Handle is the address of the record and of its block
// pointer at once.
struct MasterRecord {
    Ptr block;
    long size;
    long capacity;
    bool locked;
};
static_assert(offsetof(MasterRecord, block) == 0);

MasterRecord* master(Handle handle)
{
    return reinterpret_cast<MasterRecord*>(handle);
}

Handle newHandle(long size, bool clear)
{
    if (size < 0) return nullptr;
    auto* record = new (std::nothrow) MasterRecord{};
    if (record == nullptr) return nullptr;
    // A block of 0 bytes still gets an address of its own, as the toolbox's did.
    const std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
    record->block = static_cast<Ptr>(clear ? std::calloc(bytes, 1) : std::malloc(bytes));
    if (record->block == nullptr) {
        delete record;
        return nullptr;
    }
    record->size = size;
    record->capacity = static_cast<long>(bytes);
    return &record->block;
}

class SteadyClock final : public ToolboxClock {
public:
    uint32_t tickCount() override
    {
        using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 60>>;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(std::chrono::duration_cast<Ticks>(now).count());
    }
    void yield() override { std::this_thread::yield(); }
};

SteadyClock steadyClock;
std::atomic<ToolboxClock*> installedClock{&steadyClock};

} // namespace

Handle NewHandle(long size)
{
    return newHandle(size, false);
}

Handle NewHandleClear(long size)
{
    return newHandle(size, true);
}

void DisposeHandle(Handle handle)
{
    if (handle == nullptr) return;
    MasterRecord* record = master(handle);
    std::free(record->block);
    delete record;
}

long GetHandleSize(Handle handle)
{
    return handle == nullptr ? 0 : master(handle)->size;
}

OSErr SetHandleSize(Handle handle, long size)
{
    if (handle == nullptr) return nilHandleErr;
    if (size < 0) return paramErr;
    MasterRecord* record = master(handle);
    if (size <= record->capacity) {
        record->size = size;
        return noErr;
    }
    if (record->locked) return memFullErr;
    auto* grown = static_cast<Ptr>(std::realloc(record->block, static_cast<std::size_t>(size)));
    if (grown == nullptr) return memFullErr;
    record->block = grown;
    record->size = size;
    record->capacity = size;
    return noErr;
}

void HLock(Handle handle)
{
    if (handle != nullptr) master(handle)->locked = true;
}

void HUnlock(Handle handle)
{
    if (handle != nullptr) master(handle)->locked = false;
}

bool HIsLocked(Handle handle)
{
    return handle != nullptr && master(handle)->locked;
}

uint32_t TickCount()
{
    return installedClock.load(std::memory_order_acquire)->tickCount();
}

void YieldToAnyThread()
{
    installedClock.load(std::memory_order_acquire)->yield();
}

void SetToolboxClock(ToolboxClock* clock)
{
    installedClock.store(clock != nullptr ? clock : &steadyClock, std::memory_order_release);
}
