#include "se_host.h"

#include "console_lines.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace lumenfield {

namespace {

constexpr int32_t kFreeSpace = 28;

// The film unit's bit of a source mask, set for positive and for negative film.
constexpr uint16_t kFilmSource = SE_SOURCE_POSITIVE_FILM;
// The sources the summary counts as flatbed: the reflective one, and the other source under its
// code 8 or the code 2 that the driver takes for it.
constexpr uint16_t kOtherSourceAlias = 0x2;
constexpr uint16_t kFlatbedSources = SE_SOURCE_REFLECTIVE | kOtherSourceAlias | SE_SOURCE_OTHER;

// One for the process: the driver behind every host is.
std::recursive_mutex& driverMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
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

void copyChainReply(const SEChainReply& reply, SEDeviceInfo& info)
{
    SE_CopyName(info.name, reply.name, sizeof reply.name);
    info.version = reply.version;
    info.kind = reply.kind;
    info.chainCount = reply.count;
    if (info.chainCount > SE_HOST_MAX_DEVICES) {
        printLineFormatted("Driver lists %u devices; the table takes %d", unsigned(reply.count), SE_HOST_MAX_DEVICES);
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

} // namespace

SEHost::SEHost() : clock_(&steadyTickClock())
{
    devices_.reserve(SE_HOST_MAX_DEVICES);
}

SEHost::~SEHost()
{
    shutdown();
}

std::unique_lock<std::recursive_mutex> SEHost::lock()
{
    return std::unique_lock<std::recursive_mutex>(driverMutex());
}

void SEHost::installCallbacks()
{
    callbacks_ = SECallbackBlock{};
    callbacks_.count = SE_CALLBACK_COUNT;
    uint64_t* slot = callbacks_.function;
    slot[SE_CALLBACK_FREE_SPACE] = SE_Address<SECallbackFreeSpace>(hostFreeSpace);
    slot[SE_CALLBACK_ALLOCATE] = SE_Address<SECallbackAllocate>(hostAllocate);
    slot[SE_CALLBACK_FREE] = SE_Address<SECallbackFree>(hostFree);
    slot[SE_CALLBACK_LOCK] = SE_Address<SECallbackLock>(hostLock);
    slot[SE_CALLBACK_UNLOCK] = SE_Address<SECallbackUnlock>(hostUnlock);
    slot[SE_CALLBACK_YIELD] = SE_Address<SECallbackYield>(hostYield);
    slot[SE_CALLBACK_ERROR] = SE_Address<SECallbackError>(hostError);
    slot[SE_CALLBACK_PROGRESS] = SE_Address<SECallbackProgress>(hostProgress);
}

SEResult SEHost::init(const std::filesystem::path& folder)
{
    auto held = lock();
    if (session_ != nullptr) return SE_SUCCESS;
    if (const SEResult opened = SEHostSession::open(folder, session_); !opened.ok()) return opened;
    installCallbacks();
    return SE_SUCCESS;
}

void SEHost::shutdown()
{
    auto held = lock();
    if (session_ == nullptr) return;
    callbacks_ = SECallbackBlock{};
    // The session's driver closes the device as it goes; nothing may reach either again.
    session_.reset();
    deviceOpen_ = false;
}

// ---- device information ----

SEResult SEHost::deviceInformation(SEField value, SEDeviceInfo& info, SEResult* status, bool second)
{
    auto held = lock();
    SEResult answer(SE_NOT_SUPPORTED);
    SEResult result(SE_NOT_SUPPORTED);
    if (!second || chained_ == 1) {
        SEChainReply chain{};
        chain.hostRef = info.hostRef;
        answer = command(second ? SE_CMD_DEVICE_LIST_2 : SE_CMD_DEVICE_LIST, 0, value, &chain, &result);
        if (!second) chained_ = result.ok() ? 1 : 0;
        if (chained_ == 1) copyChainReply(chain, info);
    }
    if (chained_ != 1) {
        SESingleReply single{};
        single.portMask = info.portMask;
        answer = command(second ? SE_CMD_SLOT_INFO_2 : SE_CMD_SLOT_INFO, 0, value, &single, &result);
        copySingleReply(single, info);
    }
    info.chained = chained_;
    if (status != nullptr) *status = result;
    return answer;
}

SEResult SEHost::openDevice(const SEOpenRequest& request, SEResult* status)
{
    auto held = lock();
    if (chained_ == 1) return command(SE_CMD_OPEN_DEVICE, 0, request.deviceNumber, 0, status);
    return command(SE_CMD_OPEN_SLOT, 0, 0, request.slotBits, status);
}

// ---- enumeration ----

void SEHost::probe(SEDeviceEntry& entry, const SEOpenRequest& request)
{
    SEResult status(SE_NOT_SUPPORTED);
    if (!openDevice(request, &status).ok()) {
        entry.depthCaps = 0;
        entry.status = SE_HOST_PROBE_FAILED;
        return;
    }
    entry.status = SE_HOST_PROBED;
    uint16_t depth = 0;
    if (getCapability(SE_CMD_DEPTH, 0, &depth, &status).ok()) {
        entry.depthCaps = depth;
    } else {
        entry.depthCaps = 0;
        entry.status = SE_HOST_PROBE_FAILED;
    }
    SEScannerInfo information{};
    if (getCapability(SE_CMD_SCANNER_INFO, 0, &information, &status).ok()) {
        entry.firmwareVersion = information.firmware;
    } else {
        entry.firmwareVersion = 0;
        entry.status = SE_HOST_PROBE_FAILED;
    }
    command(SE_CMD_CLOSE_DEVICE, 0, 0, 0, &status);
}

// The sub-device record of a device number, zero-filled before each send.
SESubDevice SEHost::subDevice(uint32_t number, SEResult& status)
{
    SESubDevice record{};
    command(SE_CMD_DEVICE_INFO, 0, number, &record, &status);
    return record;
}

// A new entry at the end of the table; null when the table is full.
SEDeviceEntry* SEHost::appendEntry()
{
    if (devices_.size() >= SE_HOST_MAX_DEVICES) {
        printLine("Device table full: a device of the driver is left out");
        return nullptr;
    }
    return &devices_.emplace_back();
}

void SEHost::addChainDevices(const char* driverName, const SEDeviceInfo& info, uint16_t kind)
{
    if (info.chained == 0 || info.chainCount == 0) return;
    for (int i = 0; i < info.chainCount; i++) {
        const uint16_t id = info.deviceIds[i];
        const uint32_t number = info.deviceNumbers[i];
        SEDeviceEntry* target = nullptr;
        bool skip = false;
        for (std::size_t j = 0; j < devices_.size() && target == nullptr && !skip; j++) {
            SEDeviceEntry& entry = devices_[j];
            if (entry.kind != kind || entry.deviceId != id) continue;
            if (entry.version < info.version) {
                target = &entry;
            } else if (entry.version > info.version) {
                skip = true;
            } else {
                SEResult status(SE_NOT_SUPPORTED);
                const SESubDevice record = subDevice(number, status);
                skip = status.ok() && entry.slot == record.slot;
            }
        }
        if (skip) continue;
        if (target == nullptr && (target = appendEntry()) == nullptr) continue;
        SEResult status(SE_NOT_SUPPORTED);
        const SESubDevice record = subDevice(number, status);
        if (status.ok()) {
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

void SEHost::addSlotDevices(const char* driverName, const SEDeviceInfo& info)
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
        for (std::size_t j = 0; j < devices_.size() && target == nullptr && !skip; j++) {
            SEDeviceEntry& entry = devices_[j];
            if ((entry.kind != 1 && entry.kind != 255) || entry.slot != n) continue;
            if (entry.port != SE_HOST_ANY_PORT && entry.port != port) continue;
            if (entry.deviceId == id) {
                if (entry.version < info.version)
                    target = &entry;
                else
                    skip = true;
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

void SEHost::sortTable()
{
    // A bubble sort that swaps neighbours only when the later one compares lower: stable.
    for (std::size_t pass = devices_.size(); pass > 1; pass--) {
        for (std::size_t i = 0; i + 1 < pass; i++) {
            if (compareEntries(devices_[i + 1], devices_[i]) < 0) std::swap(devices_[i], devices_[i + 1]);
        }
    }
    for (std::size_t i = 1; i < devices_.size(); i++) {
        const bool sameRun = devices_[i].deviceId == devices_[i - 1].deviceId;
        devices_[i].ordinal = sameRun ? static_cast<uint16_t>(devices_[i - 1].ordinal + 1) : 0;
    }
}

SEResult SEHost::enumerateDevices(uint16_t* count)
{
    auto held = lock();
    devices_.clear();
    SECallbackBlock callbacks = callbacks_;
    callbacks.count = SE_CALLBACK_COUNT;
    if (session_ != nullptr) {
        session_->clearLoadFailure();
        // From the first driver, also when an earlier enumeration walked the list to its end.
        session_->rewind();
        for (;;) {
            char driverName[SE_NAME_SIZE] = {};
            const SEResult opened = session_->openNextDriver(driverName);
            if (opened == SE_HOST_LOAD_FAILED) continue; // the next one
            if (!opened.ok()) break;
            SEDeviceInfo info{};
            SEResult status(SE_NOT_SUPPORTED);
            deviceInformation(&callbacks, info, &status);
            if (!status.ok()) continue;
            if (info.kind == 2 || info.kind == 3)
                addChainDevices(driverName, info, info.kind);
            else
                addSlotDevices(driverName, info);
        }
    }
    currentDevice_ = 0;
    if (count != nullptr) *count = static_cast<uint16_t>(devices_.size());
    sortTable();
    return devices_.empty() ? SE_HOST_NO_DEVICE_FOUND : SE_SUCCESS;
}

// The device list request for the selected entry, as a select sends it.
SEResult SEHost::selectedDeviceInformation(const SEDeviceEntry& entry, SEDeviceInfo& info)
{
    // The record the driver may read through hostRef: port and slot at offsets 8 and 12.
    SESubDevice where{};
    where.port = entry.port;
    where.slot = entry.slot;
    info = SEDeviceInfo{};
    info.portMask = static_cast<uint16_t>(1u << (entry.slot & 15));
    info.hostRef = SE_Address(&where);
    SECallbackBlock callbacks = callbacks_;
    callbacks.count = SE_CALLBACK_COUNT;
    SEResult status(SE_NOT_SUPPORTED);
    deviceInformation(&callbacks, info, &status);
    return status;
}

SEResult SEHost::selectDevice(int16_t index)
{
    auto held = lock();
    if (index < 0 || static_cast<std::size_t>(index) >= devices_.size()) return SE_HOST_BAD_INDEX;
    const SEDeviceEntry entry = devices_[index];
    if (session_ == nullptr || !session_->openDriver(entry.driverName).ok()) return SE_HOST_BAD_INDEX;
    SEDeviceInfo info{};
    if (!selectedDeviceInformation(entry, info).ok()) return SE_HOST_NO_DEVICE_INFO;
    SEOpenRequest request{};
    if (info.chained != 0) {
        // The scanner may have gone since the table was made: never open another number.
        if (entry.ordinal >= info.chainCount) return SE_HOST_OPEN_FAILED;
        request.deviceNumber = info.deviceNumbers[entry.ordinal];
    } else {
        request.slotBits = info.slotMask;
    }
    SEResult status(SE_NOT_SUPPORTED);
    openDevice(request, &status);
    if (!status.ok()) return SE_HOST_OPEN_FAILED;
    currentDevice_ = index;
    return SE_SUCCESS;
}

std::vector<SEDeviceEntry> SEHost::devices()
{
    auto held = lock();
    return devices_;
}

int16_t SEHost::deviceCount()
{
    auto held = lock();
    return static_cast<int16_t>(devices_.size());
}

std::optional<SEDeviceEntry> SEHost::deviceEntry(int16_t index)
{
    auto held = lock();
    if (index < 0 || static_cast<std::size_t>(index) >= devices_.size()) return std::nullopt;
    return devices_[index];
}

bool SEHost::hasCurrentDevice() const
{
    return currentDevice_ >= 0 && static_cast<std::size_t>(currentDevice_) < devices_.size();
}

int16_t SEHost::currentDeviceId()
{
    auto held = lock();
    if (!deviceOpen_ || !hasCurrentDevice()) return -1;
    return static_cast<int16_t>(devices_[currentDevice_].deviceId);
}

std::optional<SELoadFailure> SEHost::lastLoadFailure()
{
    auto held = lock();
    if (session_ == nullptr) return std::nullopt;
    return session_->lastLoadFailure();
}

// ---- commands ----

SEResult SEHost::command(int16_t code, uint16_t verb, SEField value, SEField record, SEResult* status)
{
    auto held = lock();
    if (status != nullptr) *status = SEResult(SE_NOT_SUPPORTED);
    if (session_ == nullptr) return SE_HOST_SESSION_NOT_OPEN;
    ECDB block{};
    block.code = code;
    block.verb = verb;
    block.value = value.bits;
    block.record = record.bits;
    if (before_ != nullptr) {
        const ECDB copy = block;
        before_(&copy, 0);
    }
    const SEResult answer = session_->command(block);
    if (after_ != nullptr) {
        const ECDB copy = block;
        after_(&copy, 0);
    }
    if ((code == SE_CMD_OPEN_SLOT || code == SE_CMD_OPEN_DEVICE) && answer.ok()) deviceOpen_ = true;
    if (code == SE_CMD_CLOSE_DEVICE) deviceOpen_ = false;
    if (status != nullptr) *status = SEResult(block.result);
    return answer;
}

SECallbackBlock SEHost::callbacks()
{
    auto held = lock();
    return callbacks_;
}

// ---- operations the application does not call ----

void SEHost::setCommandHooks(SECommandHook before, SECommandHook after)
{
    auto held = lock();
    before_ = before;
    after_ = after;
}

void SEHost::setTickClock(TickClock* clock)
{
    auto held = lock();
    clock_ = clock != nullptr ? clock : &steadyTickClock();
}

int16_t SEHost::findDeviceById(uint16_t id)
{
    auto held = lock();
    for (std::size_t i = 0; i < devices_.size(); i++)
        if (devices_[i].deviceId == id) return static_cast<int16_t>(i);
    return -1;
}

int16_t SEHost::openDeviceIndex()
{
    auto held = lock();
    return deviceOpen_ ? currentDevice_ : -1;
}

bool SEHost::currentDeviceInfo(SEHostDeviceSummary* out)
{
    auto held = lock();
    if (out == nullptr || !hasCurrentDevice()) return false;
    const SEDeviceEntry& entry = devices_[currentDevice_];
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
    return true;
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

uint32_t SEHost::clampValue(int16_t code, uint32_t value)
{
    auto held = lock();
    SERange range{};
    if (!getCapability(code, 0, &range).ok()) return value;
    const auto minimum = static_cast<uint32_t>(range.minimum);
    const auto maximum = static_cast<uint32_t>(range.maximum);
    if (value >= maximum) return maximum;
    if (value <= minimum) return minimum;
    uint32_t index = 0;
    if (!valueToIndex(code, value, &index).ok()) return value;
    uint32_t conformed = 0;
    if (!indexToValue(code, index, &conformed).ok()) return value;
    return conformed;
}

uint16_t SEHost::imageTypes()
{
    auto held = lock();
    SEImageType types{};
    SEResult status(SE_NOT_SUPPORTED);
    getCapability(SE_CMD_IMAGE_TYPE, 0, &types, &status);
    return status.code() > 0 ? static_cast<uint16_t>(types.type) : 0xFFFF;
}

SEResult SEHost::poll(PollTest test, void* context, uint32_t ticks)
{
    auto held = lock();
    const uint32_t start = clock_->tickCount();
    for (;;) {
        SEResult status(SE_NOT_SUPPORTED);
        if (test != nullptr)
            status = test(context);
        else
            getCapability(SE_CMD_TEST_READY, 0, 0, &status);
        if (status.ok()) return SE_SUCCESS;
        if (clock_->tickCount() - start >= ticks) return status;
        const uint32_t asked = clock_->tickCount();
        while (clock_->tickCount() - asked < 60 && clock_->tickCount() - start < ticks) clock_->yield();
    }
}

SEResult SEHost::waitForDevice(uint32_t ticks)
{
    auto held = lock();
    if (!hasCurrentDevice()) return SE_HOST_NO_DEVICE_FOUND;
    const SEDeviceEntry entry = devices_[currentDevice_];
    const uint32_t start = clock_->tickCount();
    for (;;) {
        SEDeviceInfo info{};
        selectedDeviceInformation(entry, info);
        if (info.slotMask != 0 || info.chainCount != 0) return SE_SUCCESS;
        if (clock_->tickCount() - start >= ticks) return SE_HOST_NO_DEVICE_FOUND;
        clock_->yield();
    }
}

SEResult SEHost::defaultExposures(uint32_t out[4])
{
    auto held = lock();
    static constexpr uint32_t kPlanes[4] = {SE_PLANE_MASTER, SE_PLANE_FIRST, SE_PLANE_SECOND, SE_PLANE_THIRD};
    SEResult result = SE_SUCCESS;
    for (int i = 0; i < 4; i++) {
        uint32_t exposure = 0;
        const SEResult answer = getDefault(SE_CMD_EXPOSURE, kPlanes[i], &exposure);
        if (out != nullptr) out[i] = exposure;
        if (!answer.ok() && result.ok()) result = answer;
    }
    return result;
}

int32_t SEHost_CombinePercentages(int32_t a, int32_t b)
{
    const int64_t combined = (int64_t{a} + 100) * (int64_t{b} + 100) / 100 - 100;
    return static_cast<int32_t>(combined);
}

uint16_t SEHost::sourceMask()
{
    uint16_t mask = 0;
    getCapability(SE_CMD_SOURCE, 0, &mask);
    return mask;
}

bool SEHost::reflectiveAvailable()
{
    return (sourceMask() & SE_SOURCE_REFLECTIVE) != 0;
}

bool SEHost::filmOnly()
{
    const uint16_t mask = sourceMask();
    return (mask & kFilmSource) != 0 && (mask & SE_SOURCE_REFLECTIVE) == 0;
}

bool SEHost::currentSourceIsOther()
{
    uint16_t reply[2] = {};
    getCurrent(SE_CMD_SOURCE, 0, reply);
    return (reply[0] & SE_SOURCE_OTHER) != 0;
}

int16_t SEHost::sourceSummary()
{
    auto held = lock();
    poll(nullptr, nullptr, 1200);
    const uint16_t mask = sourceMask();
    int16_t summary = 0;
    if ((mask & kFlatbedSources) != 0) summary += 1;
    if ((mask & kFilmSource) != 0) summary += 6;
    return summary;
}

void SEHost::closeDriver()
{
    auto held = lock();
    if (session_ != nullptr) session_->closeDriver();
}

} // namespace lumenfield
