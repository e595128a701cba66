// The host device layer: starts and stops the host library, builds the table of every scanner that
// every accepted driver reports, opens one of them, and sends it numbered commands. It also
// supplies the host callbacks the driver receives when it lists its devices.
//
// One recursive mutex guards the layer: every function below holds it for its whole run, so the
// session, the device table and the driver are never used by two threads at once. SEHost_Lock
// holds it across a sequence of calls. The driver's callbacks run inside SE_main on the calling
// thread and never call back into the layer.
#pragma once

#include "se_boundary.h"

#include <cstdint>
#include <filesystem>
#include <mutex>

inline constexpr int SE_HOST_MAX_DEVICES = 16;

// Results of this layer (the session's codes pass through SE_Command unchanged).
inline constexpr int16_t SE_HOST_BAD_INDEX = -9402;      // no such entry, or its driver did not open
inline constexpr int16_t SE_HOST_NO_DEVICE_INFO = -9507; // the device list was not answered with 1
inline constexpr int16_t SE_HOST_OPEN_FAILED = -9500;    // the device was not opened
// Entry status of a device that failed its probe.
inline constexpr int16_t SE_HOST_PROBE_FAILED = -4;
// The port word of a device reported in the single form: any port.
inline constexpr uint32_t SE_HOST_ANY_PORT = 0xFFFFFFFF;

// Device operations of SEHost_DeviceOp.
inline constexpr int16_t SE_DEVICE_OP_INFO = 0;   // record = SEDeviceInfo
inline constexpr int16_t SE_DEVICE_OP_INFO_2 = 1; // record = SEDeviceInfo
inline constexpr int16_t SE_DEVICE_OP_OPEN = 2;   // record = SEOpenRequest
// Any other op is sent as that command code with verb 0 (3 close, 9 sub-device).

// One scanner of the table.
struct SEDeviceEntry {
    char driverName[SE_NAME_SIZE]; // function-set id of the driver that reported it
    char deviceName[SE_NAME_SIZE];
    uint32_t deviceNumber;         // the driver's number for it (chain form); 0 in the single form
    uint16_t kind;                 // 1, 2 or 3
    uint16_t ordinal;              // position in its run of equal device ids after sorting
    uint32_t port;
    uint32_t slot;
    uint32_t version;              // driver version × 100
    uint16_t firmwareVersion;      // firmware version × 100; 0 when the query failed
    uint16_t deviceId;
    int16_t status;                // 1 probed; SE_HOST_PROBE_FAILED
    uint16_t depthCaps;            // depth bits of code 65 verb 0
};

// One driver's device information, in either form.
struct SEDeviceInfo {
    char name[SE_NAME_SIZE];
    uint32_t version;
    uint16_t chained;     // 1 chain form, 0 single form
    uint16_t legacyWord;  // single form only
    uint16_t slotMask;    // single form: bit n for each occupied slot n
    uint16_t portMask;    // input of the single form
    uint16_t kind;        // 255 in the single form
    uint64_t hostRef;     // input of the chain form
    uint16_t chainCount;  // at most 16
    uint16_t deviceIds[16];
    uint32_t deviceNumbers[16];
};

// What device operation 2 opens: a device number (chain form) or slot bits (single form).
struct SEOpenRequest {
    uint16_t slotBits;
    uint32_t deviceNumber;
};

// Called before and after each command with a copy of its block and 0.
using SECommandHook = void (*)(const ECDB* block, int32_t reserved);

// Opens the host session on the driver folder and installs the callbacks: 1, or 0. Answers 1 at
// once while initialised.
int16_t SEHost_Init(const std::filesystem::path* folder);
// Clears the callbacks and closes the session (which closes the open driver and so its device).
// Afterwards commands answer -8100, and SEHost_Init starts again.
void SEHost_Shutdown();
// Rebuilds the device table from every driver of the session; stores the number of entries
// through `count`; 1 when there is at least one.
int16_t SEHost_EnumerateDevices(uint16_t* count);
// Opens table entry `index` through a fresh root object of its driver: 1, -9402, -9507 or -9500.
int16_t SEHost_SelectDevice(int16_t index);
// The table itself: read it only under SEHost_Lock.
const SEDeviceEntry* SEHost_DeviceTable();
int16_t SEHost_DeviceCount();
// A copy of entry `index`; false when there is none.
bool SEHost_CopyDeviceEntry(int16_t index, SEDeviceEntry* out);
// The device id of the selected entry while a device is open; -1 otherwise.
int16_t SEHost_CurrentDeviceId();

// Sends one command block; the answer is the driver's (1 success, 0 not supported, negative
// error) or a session code. `status` receives the block's result: 0 when the command was not
// sent. Code 2 or 8 answered 1 marks a device open; code 3 marks it closed.
int16_t SE_Command(int16_t code, uint16_t verb, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_GetCapability(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_GetCurrent(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_GetDefault(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_SetValue(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_IndexToValue(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SE_ValueToIndex(int16_t code, uint64_t value, uint64_t record, int16_t* status);
int16_t SEHost_DeviceOp(int16_t op, uint64_t value, void* record, int16_t* status);

// Holds the layer's mutex across several calls.
std::unique_lock<std::recursive_mutex> SEHost_Lock();
// A copy of the installed callback block (all zero while not initialised).
SECallbackBlock SEHost_Callbacks();

// ---- operations the application does not call ----

void SEHost_SetCommandHooks(SECommandHook before, SECommandHook after);
// Index of the first entry with this id; -1 when none.
int16_t SEHost_FindDeviceById(uint16_t id);
// The selected entry while a device is open; -1 otherwise.
int16_t SEHost_OpenDeviceIndex();

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
// The selected entry, summarised: 1, or 0 when no entry is selected.
int16_t SEHost_CurrentDeviceInfo(SEHostDeviceSummary* out);
// Bits per sample of the highest depth in a depth mask: bit 15 → 16, 13 → 14, 11 → 12, 9 → 10,
// 7 → 8, 3 → 4, 0 → 1, none → 0.
uint16_t SEHost_HighestDepth(uint16_t depthCaps);
// Conforms a value to the range of `code` (verb 0): at or beyond an end it becomes that end; in
// between it goes to an index (verb 5) and back (verb 4). Unchanged when there is no range.
uint32_t SEHost_ClampValue(int16_t code, uint32_t value);
// First word of the image-type capability; 0xFFFF when the query fails.
uint16_t SEHost_ImageTypes();
// Every 60 ticks asks `test` (or code 100 verb 0 without one) until it answers 1 (answer 1) or
// `ticks` have passed (answer the last status).
using SEHostPollTest = int16_t (*)(void* context);
int16_t SEHost_Poll(SEHostPollTest test, void* context, uint32_t ticks);
// Repeats the device list request for the selected entry, yielding between tries, until it lists
// a device (1) or `ticks` have passed (0).
int16_t SEHost_WaitForDevice(uint32_t ticks);
// The defaults of code 80 for the planes 4, 32, 16 and 8: 1, or the first answer that was not 1.
int16_t SEHost_DefaultExposures(uint32_t out[4]);
// ((a + 100) × (b + 100)) / 100 − 100.
int32_t SEHost_CombinePercentages(int32_t a, int32_t b);
bool SEHost_ReflectiveAvailable();
bool SEHost_FilmOnly();
bool SEHost_CurrentSourceHasBit3();
// After a 1200-tick poll: 1 when a reflective source (bits 0, 1 or 3) is there, plus 6 for film.
int16_t SEHost_SourceSummary();
int16_t SEHost_CloseDriver();
