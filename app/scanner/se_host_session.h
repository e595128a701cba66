// The host session: the lowest layer of the host library. A session finds the driver bundles of a
// folder and keeps the acceptable ones in a list, loads one driver at a time, creates and destroys
// the driver's root object, and passes command blocks to it. Results are SEResults.
//
// Not thread-safe: the host device layer is its only caller and serialises every call.
#pragma once

#include "se_boundary.h"
#include "se_result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumenfield {

namespace platform {
class PluginBundle;
}

// Results of this layer besides SE_SUCCESS.
inline constexpr SEResult SE_HOST_SESSION_NOT_OPEN{-8100}; // also: no usable folder at open
inline constexpr SEResult SE_HOST_NO_DRIVER_OPEN{-8101};
inline constexpr SEResult SE_HOST_NO_DRIVER_LIST{-8103}; // at open: no acceptable bundle
inline constexpr SEResult SE_HOST_LOAD_FAILED{-10000};
inline constexpr SEResult SE_HOST_LIST_EXHAUSTED{0}; // no driver after the one opened last
// Out of memory at open. It shares its number with the driver's answer for a value out of range:
// the host library has always answered -108 here, and the two never meet, since an open answers
// before any driver has been asked anything.
inline constexpr SEResult SE_HOST_NO_MEMORY{-108};
static_assert(SE_HOST_NO_MEMORY.code() == SE_ERR_RANGE, "the one code the session shares with the driver");

// An acceptable bundle of the driver folder.
struct SEDriverBundle {
    std::string name; // the function-set id: 1 to 31 bytes, no NUL
    std::filesystem::path path;
    uint64_t id = 0; // never set
};

// The bundle whose code failed to load (it could not be mapped, or it exports no SE_main), and
// the loader's reason.
struct SELoadFailure {
    std::filesystem::path bundle;
    std::string reason;
};

// One driver in memory: its code mapped and its root object alive, from load() to destruction,
// which destroys the root object first and then unmaps the code.
class SELoadedDriver {
public:
    // Maps the bundle's code, resolves SE_main, gives a driver that takes services by index the
    // host's yield service, and creates the root object. Null, with `failure` set, when the code
    // does not map or has no SE_main (then it is unmapped at once).
    static std::unique_ptr<SELoadedDriver> load(const SEDriverBundle& bundle, SELoadFailure& failure);
    ~SELoadedDriver();
    SELoadedDriver(const SELoadedDriver&) = delete;
    SELoadedDriver& operator=(const SELoadedDriver&) = delete;

    // SE_main(1, block): the driver's answer, which it also writes into the block.
    SEResult send(ECDB& block);

private:
    SELoadedDriver(std::unique_ptr<platform::PluginBundle> code, SEMainFunction* entry);

    std::unique_ptr<platform::PluginBundle> code_;
    SEMainFunction* entry_;
};

class SEHostSession {
public:
    // Opens a session on the acceptable bundles of `folder` (or of `preset`, when it is not
    // empty, in its order): SE_SUCCESS with the session stored in `session`;
    // SE_HOST_SESSION_NOT_OPEN when `folder` is no directory; SE_HOST_NO_DRIVER_LIST when no
    // bundle is acceptable; SE_HOST_NO_MEMORY. `session` is left alone on failure.
    static SEResult open(const std::filesystem::path& folder, std::unique_ptr<SEHostSession>& session,
                         std::span<const std::filesystem::path> preset = {});
    // Closes the open driver.
    ~SEHostSession();
    SEHostSession(const SEHostSession&) = delete;
    SEHostSession& operator=(const SEHostSession&) = delete;

    // Closes the open driver, then opens the next one of the list (the first after a rewind):
    // SE_SUCCESS with its name copied out; SE_HOST_LIST_EXHAUSTED; SE_HOST_LOAD_FAILED when it
    // cannot be loaded (the cursor has moved on, so the next call tries the one after).
    SEResult openNextDriver(char (&name)[SE_NAME_SIZE]);
    // Closes the open driver and opens the named one: SE_SUCCESS, or SE_HOST_LOAD_FAILED when it
    // is not in the list or cannot be loaded.
    SEResult openDriver(const char* name);
    // Destroys the open driver's root object and unmaps its code; nothing without one.
    void closeDriver();
    // The driver's answer, or SE_HOST_NO_DRIVER_OPEN.
    SEResult command(ECDB& block);
    // The next openNextDriver starts from the first driver again.
    void rewind();

    const std::vector<SEDriverBundle>& drivers() const { return drivers_; }
    // The driver whose code failed to load last; none when every load since the last clear
    // succeeded.
    const std::optional<SELoadFailure>& lastLoadFailure() const { return lastLoadFailure_; }
    void clearLoadFailure() { lastLoadFailure_.reset(); }

    // The bundle path of the named driver; false when there is none.
    bool driverBundlePath(const char* name, std::filesystem::path* out) const;
    // The name of the driver whose `id` is `id` (searched from the cursor, then from the head).
    bool driverNameById(uint64_t id, char (&name)[SE_NAME_SIZE]) const;

private:
    explicit SEHostSession(std::vector<SEDriverBundle> drivers) : drivers_(std::move(drivers)) {}
    // Index of the named driver: the cursor's when it stands on that name, else the first.
    std::optional<std::size_t> find(const char* name) const;
    SEResult start(std::size_t index);

    std::vector<SEDriverBundle> drivers_; // never empty
    std::size_t cursor_ = 0;
    bool cursorTaken_ = false; // the cursor's driver has been opened since the last rewind
    std::unique_ptr<SELoadedDriver> driver_;
    std::optional<SELoadFailure> lastLoadFailure_;
};

// Whether `id` belongs to the interface family of `family`: equal up to the first comma of
// `family`, so that any version of the same interface matches.
bool SE_SameInterfaceFamily(const char* id, const char* family);
// The function-set id of the bundle at `bundle`; false when it has none that fits a name.
bool SE_FunctionSetIdOfBundle(const std::filesystem::path& bundle, char name[SE_NAME_SIZE]);

// Whether the driver is to give up what it waits for: the yield service every loaded driver is
// given (through its SetCallBackfunc, when it has one) answers 0 while this is on, which ends a
// scan that waits on a device that does not answer. The service takes no reference, so this is
// one flag for the process. Any thread may call it, also while another is inside the driver.
void SE_SetGiveUp(bool on);

// Copies a name of at most 31 bytes into a name field and terminates it. `source` is read only up
// to `size` bytes, so a record's name field that is not terminated is cut, never overrun. Null
// gives "".
void SE_CopyName(char (&destination)[SE_NAME_SIZE], const char* source, std::size_t size = SE_NAME_SIZE);

} // namespace lumenfield
