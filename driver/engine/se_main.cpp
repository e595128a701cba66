#include "se_main.h"

#include "driver_sleep.h"
#include "eexpert.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

// The driver's built-in information record: only the fields InitSomeGlobalVar reads.
struct InfoResource {
    uint32_t productIdLong;
    char name[32];
    uint32_t version;
    uint32_t productId;
    uint32_t second;
    uint32_t flags;
    uint32_t fourth;
    uint16_t brightness;
    uint16_t contrast;
    uint16_t exposure;
    uint16_t dither;
    uint16_t offset;
    uint16_t unread[3];
    uint16_t exposureMode;
};

constexpr InfoResource res = {
    0x6204, "VQ-K5200-U3 Scanner", 100, 0x6204, 1, 0, 0, 0, 0, 0, 0, 0, {0, 75, 128}, 0,
};

std::atomic<bool> isEntrySE{false};
EExpert* opEExpert = nullptr;
std::function<void(const ECDB&)> command_hook;

// Holds the entry guard for one call and lets it go on every way out.
class EntryGuard {
public:
    EntryGuard() : held_(!isEntrySE.exchange(true, std::memory_order_acquire)) {}
    ~EntryGuard()
    {
        if (held_) isEntrySE.store(false, std::memory_order_release);
    }
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

bool is_command(int16_t op, const ECDB* block, int16_t code)
{
    return op == SE_OP_COMMAND && block != nullptr && block->code == code;
}

int16_t run(int16_t op, ECDB* block)
{
    switch (op) {
    case SE_OP_OPEN:
        if (opEExpert != nullptr) return SE_ERR_BUSY;
        InitSomeGlobalVar();
        opEExpert = new EExpert(&semVQInfo);
        return SE_OK;
    case SE_OP_COMMAND:
        if (block == nullptr) return SE_ERR_RANGE;
        if (opEExpert == nullptr) return SE_ERR_NO_ROOT;
        if (command_hook) command_hook(*block);
        return opEExpert->Entry(block);
    case SE_OP_CLOSE:
        delete opEExpert;
        opEExpert = nullptr;
        return SE_OK;
    default: return SE_NOT_SUPPORTED;
    }
}

} // namespace

ESEINFO semVQInfo{};
uint32_t gDefBrightness = 0;
uint32_t gDefContrast = 0;
int16_t gDefExposure = 0;
uint16_t gDefDither = 0;
uint32_t gDefOffset = 0;
uint16_t gDefExpModeVal = 0;
uint16_t EffFncCodeBuf[20] = {};

int InitSomeGlobalVar()
{
    std::memcpy(semVQInfo.name, res.name, sizeof semVQInfo.name);
    semVQInfo.version = res.version;
    semVQInfo.productId = static_cast<uint16_t>(res.productId);
    semVQInfo.second = static_cast<uint16_t>(res.second);
    semVQInfo.flags = static_cast<uint16_t>(res.flags);
    semVQInfo.fourth = static_cast<uint16_t>(res.fourth);
    gDefBrightness = res.brightness;
    gDefContrast = res.contrast;
    gDefExposure = static_cast<int16_t>(res.exposure);
    gDefDither = res.dither;
    gDefOffset = res.offset;
    gDefExpModeVal = res.exposureMode;
    return 1;
}

void se_main_set_command_hook(std::function<void(const ECDB&)> hook)
{
    command_hook = std::move(hook);
}

extern "C" int16_t SE_main(int16_t op, ECDB* block)
{
    EntryGuard guard;
    if (!guard.held()) {
        // A host without a give-up service can only stop a scan whose read waits on a silent
        // device by sending the stop, which must wait here: the waits give up on it, so that the
        // read returns and the host's next stop gets in.
        if (is_command(op, block, SE_CMD_STOP_SCAN)) driver_set_stop_pending(true);
        return SE_ERR_BUSY;
    }
    // A pending stop lasts until a stop gets in and has run (its own waits give up too, so that a
    // device that stopped answering holds it no longer than one slice), or is forgotten when a
    // scan starts or the driver is opened or closed.
    const bool stop = is_command(op, block, SE_CMD_STOP_SCAN);
    if (op == SE_OP_OPEN || is_command(op, block, SE_CMD_START_SCAN)) driver_set_stop_pending(false);
    if (block != nullptr) {
        block->effectiveCode = reinterpret_cast<uint64_t>(&EffFncCodeBuf[0]);
        EffFncCodeBuf[0] = 0xFFFF;
    }
    int16_t result;
    try {
        result = run(op, block);
    } catch (const std::bad_alloc&) {
        result = SE_ERR_NO_MEMORY;
    } catch (...) {
        result = SE_ERR_STAGE;
    }
    if (stop || op == SE_OP_CLOSE) driver_set_stop_pending(false);
    // A refused second open leaves the block's result as it was.
    const bool refused_open = op == SE_OP_OPEN && result == SE_ERR_BUSY;
    if (block != nullptr && !refused_open) block->result = result;
    return result;
}
