// The host device layer: starts and stops the host library, builds the table of every scanner that
// every accepted driver reports, opens one of them, and sends it numbered commands. It also
// supplies the host callbacks the driver receives when it lists its devices.
//
// An SEHost owns its session, and so the driver that is open, from init() to shutdown() or its
// destruction. A driver is one per process (its root object and its entry guard are), so every
// SEHost holds one process-wide recursive mutex for each of its calls, and lock() holds it across a
// sequence of calls: two threads never meet inside the driver. The driver's callbacks run inside
// SE_main on the calling thread and never call back into the layer.
#pragma once

#include "se_boundary.h"
#include "se_host_session.h"
#include "se_result.h"
#include "tick_clock.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumenfield {

inline constexpr int SE_HOST_MAX_DEVICES = 16;

// Results of this layer besides SE_SUCCESS (the session's codes pass through the commands unchanged).
inline constexpr SEResult SE_HOST_BAD_INDEX{-9402};      // no such entry, or its driver did not open
inline constexpr SEResult SE_HOST_NO_DEVICE_INFO{-9507}; // the device list was not answered with 1
inline constexpr SEResult SE_HOST_OPEN_FAILED{-9500};    // the device was not opened
inline constexpr SEResult SE_HOST_NO_DEVICE_FOUND{0};    // no driver lists a device
// Entry status of a device that passed its probe, and of one that failed it.
inline constexpr int16_t SE_HOST_PROBED = 1;
inline constexpr int16_t SE_HOST_PROBE_FAILED = -4;
// The port word of a device reported in the single form: any port.
inline constexpr uint32_t SE_HOST_ANY_PORT = 0xFFFFFFFF;

// A pointer as the 64-bit value or record field of a command block carries it.
template <typename T> uint64_t SE_Address(T* pointer)
{
    return reinterpret_cast<uint64_t>(pointer);
}

// The value or record field of a command: a number, or the address of what the command reads or
// fills.
struct SEField {
    SEField(uint64_t number) : bits(number) {}
    template <typename T> SEField(T* pointer) : bits(SE_Address(pointer)) {}
    uint64_t bits;
};

// One scanner of the table.
struct SEDeviceEntry {
    char driverName[SE_NAME_SIZE]; // function-set id of the driver that reported it
    char deviceName[SE_NAME_SIZE];
    uint32_t deviceNumber; // the driver's number for it (chain form); 0 in the single form
    uint16_t kind;         // 1, 2 or 3
    uint16_t ordinal;      // position in its run of equal device ids after sorting
    uint32_t port;
    uint32_t slot;
    uint32_t version;         // driver version × 100
    uint16_t firmwareVersion; // firmware version × 100; 0 when the query failed
    uint16_t deviceId;
    int16_t status;     // SE_HOST_PROBED or SE_HOST_PROBE_FAILED
    uint16_t depthCaps; // depth bits of code 65 verb 0
};

// One driver's device information, in either form.
struct SEDeviceInfo {
    char name[SE_NAME_SIZE];
    uint32_t version;
    uint16_t chained;    // 1 chain form, 0 single form
    uint16_t legacyWord; // single form only
    uint16_t slotMask;   // single form: bit n for each occupied slot n
    uint16_t portMask;   // input of the single form
    uint16_t kind;       // 255 in the single form
    uint64_t hostRef;    // input of the chain form
    uint16_t chainCount; // at most 16
    uint16_t deviceIds[16];
    uint32_t deviceNumbers[16];
};

// What openDevice opens: a device number (chain form) or slot bits (single form).
struct SEOpenRequest {
    uint16_t slotBits;
    uint32_t deviceNumber;
};

// Called before and after each command with a copy of its block and 0.
using SECommandHook = void (*)(const ECDB* block, int32_t reserved);

struct SEHostDeviceSummary {
    char name[SE_NAME_SIZE];
    unsigned char pascalName[SE_NAME_SIZE]; // length byte, then the text
    uint16_t deviceId;
    uint32_t version;
    uint16_t kind;
    uint32_t slot;
    uint32_t port;
    uint16_t firmwareVersion;
    uint16_t highestDepth; // bits per sample
};

class SEHost {
public:
    SEHost();
    // Shuts down.
    ~SEHost();
    SEHost(const SEHost&) = delete;
    SEHost& operator=(const SEHost&) = delete;

    // Holds the driver's mutex across several calls.
    std::unique_lock<std::recursive_mutex> lock();

    // Opens the host session on the driver folder and installs the callbacks: SE_SUCCESS (at once
    // while initialised), or why the session did not open.
    SEResult init(const std::filesystem::path& folder);
    // Clears the callbacks and closes the session (which closes the open driver and so its
    // device). Afterwards commands answer SE_HOST_SESSION_NOT_OPEN, and init starts again.
    void shutdown();
    // Rebuilds the device table from every driver of the session; stores the number of entries
    // through `count`; SE_SUCCESS when there is at least one, else SE_HOST_NO_DEVICE_FOUND.
    SEResult enumerateDevices(uint16_t* count);
    // Opens table entry `index` through a fresh root object of its driver: SE_SUCCESS,
    // SE_HOST_BAD_INDEX, SE_HOST_NO_DEVICE_INFO or SE_HOST_OPEN_FAILED.
    SEResult selectDevice(int16_t index);
    // A copy of the table.
    std::vector<SEDeviceEntry> devices();
    int16_t deviceCount();
    // A copy of entry `index`; none when there is none.
    std::optional<SEDeviceEntry> deviceEntry(int16_t index);
    // The device id of the selected entry while a device is open; -1 otherwise.
    int16_t currentDeviceId();
    // The driver whose code failed to load in the last enumeration (or select); none when every
    // load succeeded.
    std::optional<SELoadFailure> lastLoadFailure();

    // Sends one command block; the answer is the driver's (SE_OK, SE_NOT_SUPPORTED or a negative
    // error) or a session code. `status` receives the block's result: SE_NOT_SUPPORTED when the
    // command was not sent. Code 2 or 8 answered SE_OK marks a device open; code 3 marks it closed.
    SEResult command(int16_t code, uint16_t verb, SEField value, SEField record, SEResult* status = nullptr);
    // The same with verb 0 to 5.
    SEResult getCapability(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_CAPABILITY, value, record, status);
    }
    SEResult getCurrent(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_CURRENT, value, record, status);
    }
    SEResult getDefault(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_DEFAULT, value, record, status);
    }
    SEResult setValue(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_SET, value, record, status);
    }
    SEResult indexToValue(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_INDEX_TO_VALUE, value, record, status);
    }
    SEResult valueToIndex(int16_t code, SEField value, SEField record, SEResult* status = nullptr)
    {
        return command(code, SE_VERB_VALUE_TO_INDEX, value, record, status);
    }

    // The driver's device information: code 6 (or 7 for the second), in the chain form; when the
    // first is not answered with status 1, code 0 (or 1) in the single form. `value` is sent with
    // both; `info` supplies portMask and hostRef and receives the reply.
    SEResult deviceInformation(SEField value, SEDeviceInfo& info, SEResult* status = nullptr, bool second = false);
    // Code 8 with the device number in the chain form, code 2 with the slot bits in the single.
    SEResult openDevice(const SEOpenRequest& request, SEResult* status = nullptr);

    // A copy of the installed callback block (all zero while not initialised).
    SECallbackBlock callbacks();

    // ---- operations the application does not call ----

    void setCommandHooks(SECommandHook before, SECommandHook after);
    // The clock of poll() and waitForDevice(); not owned, null for the steady clock.
    void setTickClock(TickClock* clock);
    // Index of the first entry with this id; -1 when none.
    int16_t findDeviceById(uint16_t id);
    // The selected entry while a device is open; -1 otherwise.
    int16_t openDeviceIndex();
    // The selected entry, summarised; false when no entry is selected.
    bool currentDeviceInfo(SEHostDeviceSummary* out);
    // Conforms a value to the range of `code` (verb 0): at or beyond an end it becomes that end;
    // in between it goes to an index (verb 5) and back (verb 4). Unchanged when there is no range.
    uint32_t clampValue(int16_t code, uint32_t value);
    // First word of the image-type capability; 0xFFFF when the query fails.
    uint16_t imageTypes();
    // Every 60 ticks asks `test` (or code 100 verb 0 without one) until its status is ok (answer
    // SE_SUCCESS) or `ticks` have passed (answer the last status).
    using PollTest = SEResult (*)(void* context);
    SEResult poll(PollTest test, void* context, uint32_t ticks);
    // Repeats the device list request for the selected entry, yielding between tries, until it
    // lists a device (SE_SUCCESS) or `ticks` have passed (SE_HOST_NO_DEVICE_FOUND).
    SEResult waitForDevice(uint32_t ticks);
    // The defaults of code 80 for the planes 4, 32, 16 and 8: SE_SUCCESS, or the first answer that
    // was not.
    SEResult defaultExposures(uint32_t out[4]);
    // Whether the scanner has a reflective source; whether it has film only.
    bool reflectiveAvailable();
    bool filmOnly();
    // Whether the current source is the other source (code 8), neither reflective nor film.
    bool currentSourceIsOther();
    // After a 1200-tick poll: 1 when a flatbed source (reflective, or the other source in either
    // of its codes) is there, plus 6 for film.
    int16_t sourceSummary();
    void closeDriver();

private:
    void installCallbacks();
    void addChainDevices(const char* driverName, const SEDeviceInfo& info, uint16_t kind);
    void addSlotDevices(const char* driverName, const SEDeviceInfo& info);
    SEDeviceEntry* appendEntry();
    void probe(SEDeviceEntry& entry, const SEOpenRequest& request);
    SESubDevice subDevice(uint32_t number, SEResult& status);
    void sortTable();
    SEResult selectedDeviceInformation(const SEDeviceEntry& entry, SEDeviceInfo& info);
    uint16_t sourceMask();
    bool hasCurrentDevice() const;

    std::unique_ptr<SEHostSession> session_;
    std::vector<SEDeviceEntry> devices_; // at most SE_HOST_MAX_DEVICES
    int16_t currentDevice_ = -1;
    uint16_t chained_ = 0;
    bool deviceOpen_ = false;
    SECallbackBlock callbacks_ = {};
    SECommandHook before_ = nullptr;
    SECommandHook after_ = nullptr;
    TickClock* clock_;
};

// ((a + 100) × (b + 100)) / 100 − 100.
int32_t SEHost_CombinePercentages(int32_t a, int32_t b);
// Bits per sample of the highest depth in a depth mask: bit 15 → 16, 13 → 14, 11 → 12, 9 → 10,
// 7 → 8, 3 → 4, 0 → 1, none → 0.
uint16_t SEHost_HighestDepth(uint16_t depthCaps);

} // namespace lumenfield
