#include "se_host.h"

#include "se_host_session.h"
#include "toolbox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int32_t kFreeSpace = 28;

std::recursive_mutex& hostMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

struct HostState {
    Handle session = nullptr;
    int16_t lastOpenResult = -1;
    int16_t initialized = 0;
    SEDeviceEntry devices[SE_HOST_MAX_DEVICES] = {};
    int16_t deviceCount = 0;
    int16_t currentDevice = -1;
    uint16_t chained = 0;
    int16_t deviceOpen = 0;
    SECallbackBlock callbacks = {};
    SECommandHook before = nullptr;
    SECommandHook after = nullptr;
};

HostState host;

template <typename T>
uint64_t address(T* pointer)
{
    return reinterpret_cast<uint64_t>(pointer);
}

// ---- host callbacks: C linkage, never throwing, exactly the boundary's types ----

extern "C" {

static int32_t hostFreeSpace(uint64_t) noexcept
{
    return kFreeSpace;
}

static int32_t hostAllocate(uint64_t, int32_t size, void** out) noexcept
{
    if (out == nullptr || size <= 0) return 0;
    *out = std::calloc(static_cast<std::size_t>(size), 1);
    return *out != nullptr ? 1 : 0;
}

static int32_t hostFree(uint64_t, void* block) noexcept
{
    std::free(block);
    return 1;
}

static void* hostLock(uint64_t, void* block) noexcept
{
    return block;
}

static void hostUnlock(uint64_t, void*) noexcept {}

static void hostYield(uint64_t) noexcept {}

static void hostError(uint64_t, int16_t, const char*) noexcept {}

static void hostProgress(uint64_t, int32_t, int32_t) noexcept {}

} // extern "C"

template <typename F>
uint64_t functionAddress(F* function)
{
    return reinterpret_cast<uint64_t>(function);
}

void installCallbacks()
{
    host.callbacks = SECallbackBlock{};
    host.callbacks.count = SE_CALLBACK_COUNT;
    uint64_t* slot = host.callbacks.function;
    slot[SE_CALLBACK_FREE_SPACE] = functionAddress<SECallbackFreeSpace>(hostFreeSpace);
    slot[SE_CALLBACK_ALLOCATE] = functionAddress<SECallbackAllocate>(hostAllocate);
    slot[SE_CALLBACK_FREE] = functionAddress<SECallbackFree>(hostFree);
    slot[SE_CALLBACK_LOCK] = functionAddress<SECallbackLock>(hostLock);
    slot[SE_CALLBACK_UNLOCK] = functionAddress<SECallbackUnlock>(hostUnlock);
    slot[SE_CALLBACK_YIELD] = functionAddress<SECallbackYield>(hostYield);
    slot[SE_CALLBACK_ERROR] = functionAddress<SECallbackError>(hostError);
    slot[SE_CALLBACK_PROGRESS] = functionAddress<SECallbackProgress>(hostProgress);
}

// ---- device information ----

void copyChainReply(const SEChainReply& reply, SEDeviceInfo& info)
{
    SE_CopyName(info.name, reply.name, sizeof reply.name);
    info.version = reply.version;
    info.kind = reply.kind;
    info.chainCount = reply.count;
    if (info.chainCount > SE_HOST_MAX_DEVICES) {
        std::printf("Driver lists %u devices; the table takes %d\n", unsigned(reply.count), SE_HOST_MAX_DEVICES);
        info.chainCount = SE_HOST_MAX_DEVICES;
    }
    std::memcpy(info.deviceIds, reply.ids, sizeof info.deviceIds);
    std::memcpy(info.deviceNumbers, reply.numbers, sizeof info.deviceNumbers);
    info.legacyWord = 0;
    info.slotMask = 0;
}

void copySingleReply(const SESingleReply& reply, SEDeviceInfo& info)
{
    SE_CopyName(info.name, reply.name, sizeof reply.name);
    info.version = reply.version;
    info.legacyWord = reply.legacy;
    info.slotMask = reply.slotMask;
    info.kind = 255;
    info.chainCount = 0;
    for (uint16_t& id : info.deviceIds) id = reply.id;
    for (uint32_t& number : info.deviceNumbers) number = 0;
}

// Device operations 0 and 1: the chain form when the driver answers it, else the single form.
int16_t deviceInformation(bool second, uint64_t value, SEDeviceInfo* info, int16_t* status)
{
    SEDeviceInfo ignored{};
    SEDeviceInfo& out = info != nullptr ? *info : ignored;
    int16_t answer = 0;
    int16_t result = 0;
    if (!second || host.chained == 1) {
        SEChainReply chain{};
        chain.hostRef = out.hostRef;
        answer = SE_Command(second ? SE_CMD_DEVICE_LIST_2 : SE_CMD_DEVICE_LIST, 0, value, address(&chain), &result);
        if (!second) host.chained = result == 1 ? 1 : 0;
        if (host.chained == 1) copyChainReply(chain, out);
    }
    if (host.chained != 1) {
        SESingleReply single{};
        single.portMask = out.portMask;
        answer = SE_Command(second ? SE_CMD_SLOT_INFO_2 : SE_CMD_SLOT_INFO, 0, value, address(&single), &result);
        copySingleReply(single, out);
    }
    out.chained = host.chained;
    if (status != nullptr) *status = result;
    return answer;
}

// ---- enumeration ----

void probe(SEDeviceEntry& entry, const SEOpenRequest& request)
{
    int16_t status = 0;
    if (SEHost_DeviceOp(SE_DEVICE_OP_OPEN, 0, const_cast<SEOpenRequest*>(&request), &status) != SE_OK) {
        entry.depthCaps = 0;
        entry.status = SE_HOST_PROBE_FAILED;
        return;
    }
    entry.status = 1;
    uint16_t depth = 0;
    if (SE_GetCapability(SE_CMD_DEPTH, 0, address(&depth), &status) == SE_OK) {
        entry.depthCaps = depth;
    } else {
        entry.depthCaps = 0;
        entry.status = SE_HOST_PROBE_FAILED;
    }
    SEScannerInfo information{};
    if (SE_GetCapability(SE_CMD_SCANNER_INFO, 0, address(&information), &status) == SE_OK) {
        entry.firmwareVersion = information.firmware;
    } else {
        entry.firmwareVersion = 0;
        entry.status = SE_HOST_PROBE_FAILED;
    }
    SEHost_DeviceOp(SE_CMD_CLOSE_DEVICE, 0, nullptr, &status);
}

// The sub-device record of a device number, zero-filled before each send.
SESubDevice subDevice(uint32_t number, int16_t& status)
{
    SESubDevice record{};
    SEHost_DeviceOp(SE_CMD_DEVICE_INFO, number, &record, &status);
    return record;
}

// A new entry at the end of the table; null when the table is full.
SEDeviceEntry* appendEntry()
{
    if (host.deviceCount >= SE_HOST_MAX_DEVICES) {
        std::printf("Device table full: a device of the driver is left out\n");
        return nullptr;
    }
    return &host.devices[host.deviceCount++];
}

void addChainDevices(const char* driverName, const SEDeviceInfo& info, uint16_t kind)
{
    if (info.chained == 0 || info.chainCount == 0) return;
    for (int i = 0; i < info.chainCount; i++) {
        const uint16_t id = info.deviceIds[i];
        const uint32_t number = info.deviceNumbers[i];
        SEDeviceEntry* target = nullptr;
        bool skip = false;
        for (int j = 0; j < host.deviceCount && target == nullptr && !skip; j++) {
            SEDeviceEntry& entry = host.devices[j];
            if (entry.kind != kind || entry.deviceId != id) continue;
            if (entry.version < info.version) {
                target = &entry;
            } else if (entry.version > info.version) {
                skip = true;
            } else {
                int16_t status = 0;
                const SESubDevice record = subDevice(number, status);
                skip = status == 1 && entry.slot == record.slot;
            }
        }
        if (skip) continue;
        if (target == nullptr && (target = appendEntry()) == nullptr) continue;
        int16_t status = 0;
        const SESubDevice record = subDevice(number, status);
        if (status == 1) {
            SE_CopyName(target->driverName, driverName);
            SE_CopyName(target->deviceName, info.name);
            target->deviceNumber = number;
            target->kind = kind;
            target->port = record.port;
            target->slot = record.slot;
            target->version = info.version;
            target->firmwareVersion = record.firmware;
            target->deviceId = id;
        }
        probe(*target, SEOpenRequest{0, number});
    }
}

void addSlotDevices(const char* driverName, const SEDeviceInfo& info)
{
    if (info.chained != 0 && info.chainCount != 0) {
        addChainDevices(driverName, info, 1);
        return;
    }
    const uint16_t id = info.deviceIds[0];
    const uint32_t port = SE_HOST_ANY_PORT;
    for (uint32_t n = 0; n < 16; n++) {
        if ((info.slotMask & (1u << n)) == 0) continue;
        SEDeviceEntry* target = nullptr;
        bool skip = false;
        for (int j = 0; j < host.deviceCount && target == nullptr && !skip; j++) {
            SEDeviceEntry& entry = host.devices[j];
            if ((entry.kind != 1 && entry.kind != 255) || entry.slot != n) continue;
            if (entry.port != SE_HOST_ANY_PORT && entry.port != port) continue;
            if (entry.deviceId == id) {
                if (entry.version < info.version) target = &entry;
                else skip = true;
            } else if ((entry.deviceId & 0xFF) != (id & 0xFF)) {
                skip = true;
            }
        }
        if (skip) continue;
        if (target == nullptr && (target = appendEntry()) == nullptr) continue;
        SE_CopyName(target->driverName, driverName);
        SE_CopyName(target->deviceName, info.name);
        target->deviceNumber = 0;
        target->kind = 1;
        target->port = port;
        target->slot = n;
        target->version = info.version;
        target->deviceId = id;
        probe(*target, SEOpenRequest{static_cast<uint16_t>(1u << n), 0});
    }
}

// Each step a signed 16-bit difference, as the table has always been ordered.
int16_t difference(uint32_t a, uint32_t b)
{
    return static_cast<int16_t>(static_cast<uint16_t>(a - b));
}

int compareEntries(const SEDeviceEntry& a, const SEDeviceEntry& b)
{
    if (int16_t d = difference(a.kind, b.kind)) return d;
    if (a.kind == 1) {
        if (int16_t d = difference(a.port, b.port)) return d;
        return difference(a.slot, b.slot);
    }
    if (int16_t d = difference(a.deviceId, b.deviceId)) return d;
    return difference(a.slot, b.slot);
}

void sortTable()
{
    for (int pass = host.deviceCount - 1; pass > 0; pass--) {
        for (int i = 0; i < pass; i++) {
            if (compareEntries(host.devices[i + 1], host.devices[i]) < 0) std::swap(host.devices[i], host.devices[i + 1]);
        }
    }
    for (int i = 1; i < host.deviceCount; i++) {
        const bool sameRun = host.devices[i].deviceId == host.devices[i - 1].deviceId;
        host.devices[i].ordinal = sameRun ? static_cast<uint16_t>(host.devices[i - 1].ordinal + 1) : 0;
    }
}

// The device list request for the selected entry, as a select sends it.
int16_t selectedDeviceInformation(const SEDeviceEntry& entry, SEDeviceInfo& info)
{
    // The record the driver may read through hostRef: port and slot at offsets 8 and 12.
    SESubDevice where{};
    where.port = entry.port;
    where.slot = entry.slot;
    info = SEDeviceInfo{};
    info.portMask = static_cast<uint16_t>(1u << (entry.slot & 15));
    info.hostRef = address(&where);
    SECallbackBlock callbacks = host.callbacks;
    callbacks.count = SE_CALLBACK_COUNT;
    int16_t status = 0;
    SEHost_DeviceOp(SE_DEVICE_OP_INFO, address(&callbacks), &info, &status);
    return status;
}

uint16_t sourceMask()
{
    uint16_t mask = 0;
    int16_t status = 0;
    SE_GetCapability(SE_CMD_SOURCE, 0, address(&mask), &status);
    return mask;
}

} // namespace

std::unique_lock<std::recursive_mutex> SEHost_Lock()
{
    return std::unique_lock<std::recursive_mutex>(hostMutex());
}

int16_t SEHost_Init(const std::filesystem::path* folder)
{
    auto lock = SEHost_Lock();
    if (host.initialized == 1) return 1;
    host.lastOpenResult = SE_ProCall(&host.session, SE_PROC_OPEN, const_cast<std::filesystem::path*>(folder));
    if (host.lastOpenResult != 0) {
        host.session = nullptr;
        return 0;
    }
    installCallbacks();
    host.initialized = 1;
    return 1;
}

void SEHost_Shutdown()
{
    auto lock = SEHost_Lock();
    if (host.initialized != 1) return;
    host.callbacks = SECallbackBlock{};
    if (host.lastOpenResult == 0) SE_ProCall(host.session, SE_PROC_CLOSE, nullptr);
    // The session is gone: nothing may reach it again, and its driver closed the device.
    host.session = nullptr;
    host.lastOpenResult = -1;
    host.deviceOpen = 0;
    host.initialized = 0;
}

int16_t SEHost_EnumerateDevices(uint16_t* count)
{
    auto lock = SEHost_Lock();
    for (SEDeviceEntry& entry : host.devices) entry = SEDeviceEntry{};
    host.deviceCount = 0;
    SECallbackBlock callbacks = host.callbacks;
    callbacks.count = SE_CALLBACK_COUNT;
    // From the first driver, also when an earlier enumeration walked the list to its end.
    SE_ProCall(host.session, SE_PROC_REWIND, nullptr);
    for (;;) {
        char driverName[SE_NAME_SIZE] = {};
        const int16_t opened = SE_ProCall(host.session, SE_PROC_NEXT_DRIVER, driverName);
        if (opened == SE_HOST_LOAD_FAILED || opened == SE_HOST_NO_BUNDLE_URL) continue; // the next one
        if (opened != 1) break;
        SEDeviceInfo info{};
        int16_t status = 0;
        SEHost_DeviceOp(SE_DEVICE_OP_INFO, address(&callbacks), &info, &status);
        if (status != 1) continue;
        if (info.kind == 2 || info.kind == 3) addChainDevices(driverName, info, info.kind);
        else addSlotDevices(driverName, info);
    }
    host.currentDevice = 0;
    if (count != nullptr) *count = static_cast<uint16_t>(host.deviceCount);
    sortTable();
    return host.deviceCount != 0 ? 1 : 0;
}

int16_t SEHost_SelectDevice(int16_t index)
{
    auto lock = SEHost_Lock();
    if (index < 0 || index >= host.deviceCount) return SE_HOST_BAD_INDEX;
    const SEDeviceEntry entry = host.devices[index];
    char driverName[SE_NAME_SIZE];
    std::memcpy(driverName, entry.driverName, SE_NAME_SIZE);
    if (SE_ProCall(host.session, SE_PROC_OPEN_DRIVER, driverName) != 0) return SE_HOST_BAD_INDEX;
    SEDeviceInfo info{};
    if (selectedDeviceInformation(entry, info) != 1) return SE_HOST_NO_DEVICE_INFO;
    SEOpenRequest request{};
    if (info.chained != 0) {
        // The scanner may have gone since the table was made: never open another number.
        if (entry.ordinal >= info.chainCount) return SE_HOST_OPEN_FAILED;
        request.deviceNumber = info.deviceNumbers[entry.ordinal];
    } else {
        request.slotBits = info.slotMask;
    }
    int16_t status = 0;
    SEHost_DeviceOp(SE_DEVICE_OP_OPEN, 0, &request, &status);
    if (status != 1) return SE_HOST_OPEN_FAILED;
    host.currentDevice = index;
    return 1;
}

const SEDeviceEntry* SEHost_DeviceTable()
{
    return host.devices;
}

int16_t SEHost_DeviceCount()
{
    auto lock = SEHost_Lock();
    return host.deviceCount;
}

bool SEHost_CopyDeviceEntry(int16_t index, SEDeviceEntry* out)
{
    auto lock = SEHost_Lock();
    if (index < 0 || index >= host.deviceCount || out == nullptr) return false;
    *out = host.devices[index];
    return true;
}

int16_t SEHost_CurrentDeviceId()
{
    auto lock = SEHost_Lock();
    if (host.deviceOpen == 0 || host.currentDevice < 0 || host.currentDevice >= host.deviceCount) return -1;
    return static_cast<int16_t>(host.devices[host.currentDevice].deviceId);
}

int16_t SE_Command(int16_t code, uint16_t verb, uint64_t value, uint64_t record, int16_t* status)
{
    auto lock = SEHost_Lock();
    if (status != nullptr) *status = 0;
    if (host.session == nullptr) return SE_HOST_SESSION_NOT_OPEN;
    ECDB block{};
    block.code = code;
    block.verb = verb;
    block.value = value;
    block.record = record;
    if (host.before != nullptr) {
        const ECDB copy = block;
        host.before(&copy, 0);
    }
    const int16_t answer = SE_ProCall(host.session, SE_PROC_COMMAND, &block);
    if (host.after != nullptr) {
        const ECDB copy = block;
        host.after(&copy, 0);
    }
    if ((code == SE_CMD_OPEN_SLOT || code == SE_CMD_OPEN_DEVICE) && answer == SE_OK) host.deviceOpen = 1;
    if (code == SE_CMD_CLOSE_DEVICE) host.deviceOpen = 0;
    if (status != nullptr) *status = block.result;
    return answer;
}

int16_t SE_GetCapability(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_CAPABILITY, value, record, status);
}

int16_t SE_GetCurrent(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_CURRENT, value, record, status);
}

int16_t SE_GetDefault(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_DEFAULT, value, record, status);
}

int16_t SE_SetValue(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_SET, value, record, status);
}

int16_t SE_IndexToValue(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_INDEX_TO_VALUE, value, record, status);
}

int16_t SE_ValueToIndex(int16_t code, uint64_t value, uint64_t record, int16_t* status)
{
    return SE_Command(code, SE_VERB_VALUE_TO_INDEX, value, record, status);
}

int16_t SEHost_DeviceOp(int16_t op, uint64_t value, void* record, int16_t* status)
{
    auto lock = SEHost_Lock();
    switch (op) {
    case SE_DEVICE_OP_INFO:
    case SE_DEVICE_OP_INFO_2:
        return deviceInformation(op == SE_DEVICE_OP_INFO_2, value, static_cast<SEDeviceInfo*>(record), status);
    case SE_DEVICE_OP_OPEN: {
        const SEOpenRequest request = record != nullptr ? *static_cast<const SEOpenRequest*>(record) : SEOpenRequest{};
        if (host.chained == 1) return SE_Command(SE_CMD_OPEN_DEVICE, 0, request.deviceNumber, 0, status);
        return SE_Command(SE_CMD_OPEN_SLOT, 0, 0, request.slotBits, status);
    }
    default:
        return SE_Command(op, 0, value, address(record), status);
    }
}

SECallbackBlock SEHost_Callbacks()
{
    auto lock = SEHost_Lock();
    return host.callbacks;
}

void SEHost_SetCommandHooks(SECommandHook before, SECommandHook after)
{
    auto lock = SEHost_Lock();
    host.before = before;
    host.after = after;
}

int16_t SEHost_FindDeviceById(uint16_t id)
{
    auto lock = SEHost_Lock();
    for (int16_t i = 0; i < host.deviceCount; i++)
        if (host.devices[i].deviceId == id) return i;
    return -1;
}

int16_t SEHost_OpenDeviceIndex()
{
    auto lock = SEHost_Lock();
    return host.deviceOpen != 0 ? host.currentDevice : -1;
}

int16_t SEHost_CurrentDeviceInfo(SEHostDeviceSummary* out)
{
    auto lock = SEHost_Lock();
    if (out == nullptr || host.currentDevice < 0 || host.currentDevice >= host.deviceCount) return 0;
    const SEDeviceEntry& entry = host.devices[host.currentDevice];
    *out = SEHostDeviceSummary{};
    SE_CopyName(out->name, entry.deviceName);
    const std::size_t length = std::strlen(out->name);
    out->pascalName[0] = static_cast<unsigned char>(length);
    std::memcpy(out->pascalName + 1, out->name, length);
    out->deviceId = entry.deviceId;
    out->version = entry.version;
    out->kind = entry.kind;
    out->slot = entry.slot;
    out->port = entry.port;
    out->firmwareVersion = entry.firmwareVersion;
    out->highestDepth = SEHost_HighestDepth(entry.depthCaps);
    return 1;
}

uint16_t SEHost_HighestDepth(uint16_t depthCaps)
{
    static constexpr struct {
        uint16_t bit;
        uint16_t depth;
    } kDepths[] = {{15, 16}, {13, 14}, {11, 12}, {9, 10}, {7, 8}, {3, 4}, {0, 1}};
    for (const auto& d : kDepths)
        if (depthCaps & (1u << d.bit)) return d.depth;
    return 0;
}

uint32_t SEHost_ClampValue(int16_t code, uint32_t value)
{
    auto lock = SEHost_Lock();
    SERange range{};
    int16_t status = 0;
    if (SE_GetCapability(code, 0, address(&range), &status) != SE_OK) return value;
    const auto minimum = static_cast<uint32_t>(range.minimum);
    const auto maximum = static_cast<uint32_t>(range.maximum);
    if (value >= maximum) return maximum;
    if (value <= minimum) return minimum;
    uint32_t index = 0;
    if (SE_ValueToIndex(code, value, address(&index), &status) != SE_OK) return value;
    uint32_t conformed = 0;
    if (SE_IndexToValue(code, index, address(&conformed), &status) != SE_OK) return value;
    return conformed;
}

uint16_t SEHost_ImageTypes()
{
    auto lock = SEHost_Lock();
    SEImageType types{};
    int16_t status = 0;
    SE_GetCapability(SE_CMD_IMAGE_TYPE, 0, address(&types), &status);
    return status > 0 ? static_cast<uint16_t>(types.type) : 0xFFFF;
}

int16_t SEHost_Poll(SEHostPollTest test, void* context, uint32_t ticks)
{
    auto lock = SEHost_Lock();
    const uint32_t start = TickCount();
    for (;;) {
        int16_t status = 0;
        if (test != nullptr) status = test(context);
        else SE_GetCapability(SE_CMD_TEST_READY, 0, 0, &status);
        if (status == 1) return 1;
        if (TickCount() - start >= ticks) return status;
        const uint32_t asked = TickCount();
        while (TickCount() - asked < 60 && TickCount() - start < ticks) YieldToAnyThread();
    }
}

int16_t SEHost_WaitForDevice(uint32_t ticks)
{
    auto lock = SEHost_Lock();
    if (host.currentDevice < 0 || host.currentDevice >= host.deviceCount) return 0;
    const SEDeviceEntry entry = host.devices[host.currentDevice];
    const uint32_t start = TickCount();
    for (;;) {
        SEDeviceInfo info{};
        selectedDeviceInformation(entry, info);
        if (info.slotMask != 0 || info.chainCount != 0) return 1;
        if (TickCount() - start >= ticks) return 0;
        YieldToAnyThread();
    }
}

int16_t SEHost_DefaultExposures(uint32_t out[4])
{
    auto lock = SEHost_Lock();
    static constexpr uint32_t kPlanes[4] = {4, SE_PLANE_FIRST, SE_PLANE_SECOND, SE_PLANE_THIRD};
    int16_t result = SE_OK;
    for (int i = 0; i < 4; i++) {
        uint32_t exposure = 0;
        int16_t status = 0;
        const int16_t answer = SE_GetDefault(SE_CMD_EXPOSURE, kPlanes[i], address(&exposure), &status);
        if (out != nullptr) out[i] = exposure;
        if (answer != SE_OK && result == SE_OK) result = answer;
    }
    return result;
}

int32_t SEHost_CombinePercentages(int32_t a, int32_t b)
{
    const int64_t combined = (int64_t{a} + 100) * (int64_t{b} + 100) / 100 - 100;
    return static_cast<int32_t>(combined);
}

bool SEHost_ReflectiveAvailable()
{
    return (sourceMask() & 0x1) != 0;
}

bool SEHost_FilmOnly()
{
    const uint16_t mask = sourceMask();
    return (mask & 0x4) != 0 && (mask & 0x1) == 0;
}

bool SEHost_CurrentSourceHasBit3()
{
    uint16_t reply[2] = {};
    int16_t status = 0;
    SE_GetCurrent(SE_CMD_SOURCE, 0, address(reply), &status);
    return (reply[0] & 0x8) != 0;
}

int16_t SEHost_SourceSummary()
{
    auto lock = SEHost_Lock();
    SEHost_Poll(nullptr, nullptr, 1200);
    const uint16_t mask = sourceMask();
    int16_t summary = 0;
    if ((mask & 0x1) != 0 || (mask & 0xA) != 0) summary += 1;
    if ((mask & 0x4) != 0) summary += 6;
    return summary;
}

int16_t SEHost_CloseDriver()
{
    auto lock = SEHost_Lock();
    return SE_ProCall(host.session, SE_PROC_CLOSE_DRIVER, nullptr);
}
