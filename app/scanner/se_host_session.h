// The host session: the lowest layer of the host library. One session finds the driver bundles
// of a folder, keeps the acceptable ones in a list, loads one driver at a time, creates and
// destroys the driver's root object, and passes command blocks to it. Everything goes through
// SE_ProCall with numbered operations and 16-bit result codes.
//
// Not thread-safe: the host device layer is its only caller and serialises every call.
#pragma once

#include "handle_list.h"
#include "se_boundary.h"
#include "toolbox.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {
class PluginBundle;
}

// Operations of SE_ProCall.
inline constexpr int16_t SE_PROC_OPEN = 0;         // session = &handle, argument = const path* folder
inline constexpr int16_t SE_PROC_CLOSE = 1;
inline constexpr int16_t SE_PROC_NEXT_DRIVER = 2;  // argument = char[32] receiving the name
inline constexpr int16_t SE_PROC_OPEN_DRIVER = 3;  // argument = the name
inline constexpr int16_t SE_PROC_CLOSE_DRIVER = 4;
inline constexpr int16_t SE_PROC_COMMAND = 5;      // argument = ECDB*
inline constexpr int16_t SE_PROC_REWIND = 6;

// Results of this layer.
inline constexpr int16_t SE_HOST_NO_MEMORY = -108;
inline constexpr int16_t SE_HOST_NO_BUNDLE_URL = -43;
inline constexpr int16_t SE_HOST_SESSION_NOT_OPEN = -8100; // also: no usable folder at open
inline constexpr int16_t SE_HOST_NO_DRIVER_OPEN = -8101;
inline constexpr int16_t SE_HOST_CLOSE_FAILED = -8102;
inline constexpr int16_t SE_HOST_NO_DRIVER_LIST = -8103;   // also: no acceptable bundle at open
inline constexpr int16_t SE_HOST_BAD_OPERATION = -8104;
inline constexpr int16_t SE_HOST_LOAD_FAILED = -10000;

// The drivers found at open, one list per session.
struct SEDriverList {
    char interfaceId[SE_NAME_SIZE];
    Handle list; // HandleList of SEDriverNode
};

// One acceptable bundle (a relocatable block, created zero-filled).
struct SEDriverNode {
    HandleListLinks links;
    char name[SE_NAME_SIZE];              // the function-set id
    uint64_t id;                          // never set
    SEMainFunction* entry;                // valid while the code is loaded
    std::filesystem::path* bundleURL;     // owned
    platform::PluginBundle* bundle;       // owned; null unless this is the open driver
};

// The session (a relocatable block).
struct SESession {
    char name[SE_NAME_SIZE]; // the open driver's name
    SEDriverList* drivers;
    SEMainFunction* entry;   // the open driver's SE_main, or null
    int16_t open;
    uint16_t driverOpen;
};

//   op 0  open on a folder: 0; -108; -8100 no folder; -8103 no acceptable bundle. The handle is
//         stored through `session` only on success.
//   op 1  close the session: 0.
//   op 2  open the next driver of the list: 1 opened (name copied out); 0 list exhausted;
//         -8102; the load error (-10000, -43) when it cannot be loaded.
//   op 3  open the named driver: 0, or the load error.
//   op 4  close the open driver: 0.
//   op 5  send a command block: SE_main's answer, or -8101 without an open driver.
//   op 6  rewind the list: 0.
//   other ops from 1 up answer 0 and do nothing; a negative op answers -8104. From op 1 up, a
//   null or closed session answers -8100, and from op 2 up a session without a list -8103.
int16_t SE_ProCall(void* session, int16_t op, void* argument);

// An optional preset list of bundle paths that replaces the folder scan when its count is not 0.
// The array is not owned and must outlive the next op 0.
void SE_SetPresetBundles(const std::filesystem::path* bundles);
const std::filesystem::path* SE_PresetBundles();
void SE_SetPresetBundleCount(int16_t count);
int16_t SE_PresetBundleCount();

// Whether `id` belongs to the interface family of `family`: equal up to the first comma of
// `family`, so that any version of the same interface matches.
bool SE_SameInterfaceFamily(const char* id, const char* family);
// The bundle path of the named driver of a session; false when there is none.
bool SE_DriverBundlePath(Handle session, const char* name, std::filesystem::path* out);
// The function-set id of the bundle at `bundle`; false when it has none that fits a name.
bool SE_FunctionSetIdOfBundle(const std::filesystem::path& bundle, char name[SE_NAME_SIZE]);
// The name of the driver whose `id` is `id` (searched from the cursor, then from the head).
bool SE_DriverNameById(Handle session, uint64_t id, char name[SE_NAME_SIZE]);

// Whether the driver is to give up what it waits for: the yield service the session registers with
// every driver it loads (through the driver's SetCallBackfunc, when it has one) answers 0 while
// this is on, which ends a scan that waits on a device that does not answer. Any thread may call
// it, also while another is inside the driver.
void SE_SetGiveUp(bool on);

// The bundle whose code failed to load last (it could not be mapped, or it exports no SE_main),
// and the loader's reason; false when every load since the last clear succeeded.
bool SE_LastLoadFailure(std::filesystem::path* bundle, std::string* reason);
void SE_ClearLoadFailure();

// Copies a name of at most 31 bytes into a name field and terminates it. `source` is read only up
// to `size` bytes, so a record's name field that is not terminated is cut, never overrun. Null
// gives "".
void SE_CopyName(char (&destination)[SE_NAME_SIZE], const char* source, std::size_t size = SE_NAME_SIZE);
