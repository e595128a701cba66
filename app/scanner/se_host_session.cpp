#include "se_host_session.h"

#include "console_lines.h"
#include "plugin_bundle.h"

#include <atomic>
#include <cstring>
#include <new>

namespace lumenfield {

namespace {

std::atomic<bool> giveUp{false};

extern "C" int16_t hostYieldService(int16_t, void*) noexcept
{
    return giveUp.load() ? 0 : 1;
}

// The bundle as a driver of the list, when it declares our interface and a usable function-set id.
std::optional<SEDriverBundle> acceptableDriver(const platform::PluginBundle& bundle)
{
    const std::optional<std::string> interfaceId = bundle.infoString(SE_KEY_INTERFACE_ID);
    if (!interfaceId || *interfaceId != SE_INTERFACE_ID) return std::nullopt;
    std::optional<std::string> name = bundle.infoString(SE_KEY_FUNCTION_SET_ID);
    if (!name) return std::nullopt;
    // A longer id would have to be cut into a name that another bundle may carry.
    if (name->empty() || name->size() >= SE_NAME_SIZE || name->find('\0') != std::string::npos) {
        printLineFormatted("Driver bundle %s: function-set id of %zu bytes skipped", bundle.path().c_str(),
                           name->size());
        return std::nullopt;
    }
    return SEDriverBundle{std::move(*name), bundle.path()};
}

// The acceptable bundles among `candidates`, in their order.
std::vector<SEDriverBundle> discoverDrivers(std::span<const std::filesystem::path> candidates)
{
    std::vector<SEDriverBundle> drivers;
    for (const std::filesystem::path& path : candidates) {
        if (std::unique_ptr<platform::PluginBundle> bundle = platform::PluginBundle::create(path)) {
            if (std::optional<SEDriverBundle> driver = acceptableDriver(*bundle)) drivers.push_back(std::move(*driver));
        }
    }
    return drivers;
}

} // namespace

// ---- one loaded driver ----

std::unique_ptr<SELoadedDriver> SELoadedDriver::load(const SEDriverBundle& bundle, SELoadFailure& failure)
{
    std::unique_ptr<platform::PluginBundle> code = platform::PluginBundle::create(bundle.path);
    if (code == nullptr || !code->loadExecutable()) {
        failure = SELoadFailure{bundle.path, code ? code->loadError() : "the bundle is gone"};
        return nullptr;
    }
    auto* entry = reinterpret_cast<SEMainFunction*>(code->functionPointer("SE_main"));
    if (entry == nullptr) {
        // Unmapped at once (the code goes with this scope), so the next driver can be tried.
        printLineFormatted("Driver %s exports no SE_main", bundle.name.c_str());
        failure = SELoadFailure{bundle.path, "the driver's code has no entry point SE_main"};
        return nullptr;
    }
    // A driver that takes services by index gets the host's say in its long waits.
    if (auto* set = reinterpret_cast<SESetCallbackFunction*>(code->functionPointer("SetCallBackfunc")))
        set(reinterpret_cast<void*>(&hostYieldService), SE_SERVICE_YIELD);
    std::unique_ptr<SELoadedDriver> driver(new SELoadedDriver(std::move(code), entry));
    // What creating the root object answers is not used: a driver without one refuses commands.
    ECDB scratch{};
    driver->entry_(SE_OP_OPEN, &scratch);
    return driver;
}

SELoadedDriver::SELoadedDriver(std::unique_ptr<platform::PluginBundle> code, SEMainFunction* entry)
    : code_(std::move(code)), entry_(entry)
{}

SELoadedDriver::~SELoadedDriver()
{
    ECDB scratch{};
    entry_(SE_OP_CLOSE, &scratch);
    // code_ unmaps the code after this.
}

SEResult SELoadedDriver::send(ECDB& block)
{
    return SEResult(entry_(SE_OP_COMMAND, &block));
}

// ---- the session ----

SEResult SEHostSession::open(const std::filesystem::path& folder, std::unique_ptr<SEHostSession>& session,
                             std::span<const std::filesystem::path> preset)
{
    try {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) return SE_HOST_SESSION_NOT_OPEN;
        std::vector<SEDriverBundle> drivers;
        if (!preset.empty()) {
            drivers = discoverDrivers(preset);
        } else {
            const std::vector<std::filesystem::path> found = platform::findBundles(folder);
            drivers = discoverDrivers(found);
        }
        if (drivers.empty()) return SE_HOST_NO_DRIVER_LIST;
        session.reset(new SEHostSession(std::move(drivers)));
        return SE_SUCCESS;
    } catch (const std::bad_alloc&) {
        return SE_HOST_NO_MEMORY;
    }
}

SEHostSession::~SEHostSession() = default;

std::optional<std::size_t> SEHostSession::find(const char* name) const
{
    if (name == nullptr) return std::nullopt;
    if (cursorTaken_ && drivers_[cursor_].name == name) return cursor_;
    for (std::size_t i = 0; i < drivers_.size(); i++)
        if (drivers_[i].name == name) return i;
    return std::nullopt;
}

SEResult SEHostSession::start(std::size_t index)
{
    SELoadFailure failure;
    driver_ = SELoadedDriver::load(drivers_[index], failure);
    if (driver_ == nullptr) {
        lastLoadFailure_ = std::move(failure);
        return SE_HOST_LOAD_FAILED;
    }
    return SE_SUCCESS;
}

SEResult SEHostSession::openNextDriver(char (&name)[SE_NAME_SIZE])
{
    closeDriver();
    if (cursorTaken_) {
        if (cursor_ + 1 >= drivers_.size()) return SE_HOST_LIST_EXHAUSTED;
        cursor_++;
    }
    cursorTaken_ = true;
    if (const SEResult started = start(cursor_); !started.ok()) return started;
    SE_CopyName(name, drivers_[cursor_].name.c_str());
    return SE_SUCCESS;
}

SEResult SEHostSession::openDriver(const char* name)
{
    closeDriver();
    const std::optional<std::size_t> index = find(name);
    if (!index) return SE_HOST_LOAD_FAILED;
    return start(*index);
}

void SEHostSession::closeDriver()
{
    driver_.reset();
}

SEResult SEHostSession::command(ECDB& block)
{
    if (driver_ == nullptr) return SE_HOST_NO_DRIVER_OPEN;
    return driver_->send(block);
}

void SEHostSession::rewind()
{
    cursor_ = 0;
    cursorTaken_ = false;
}

bool SEHostSession::driverBundlePath(const char* name, std::filesystem::path* out) const
{
    const std::optional<std::size_t> index = find(name);
    if (!index) return false;
    if (out != nullptr) *out = drivers_[*index].path;
    return true;
}

bool SEHostSession::driverNameById(uint64_t id, char (&name)[SE_NAME_SIZE]) const
{
    for (std::size_t i = cursor_; i < drivers_.size(); i++) {
        if (drivers_[i].id == id) {
            SE_CopyName(name, drivers_[i].name.c_str());
            return true;
        }
    }
    for (const SEDriverBundle& driver : drivers_) {
        if (driver.id == id) {
            SE_CopyName(name, driver.name.c_str());
            return true;
        }
    }
    return false;
}

// ---- stateless operations ----

void SE_CopyName(char (&destination)[SE_NAME_SIZE], const char* source, std::size_t size)
{
    std::size_t length = 0;
    if (source != nullptr) {
        const std::size_t bound = size < SE_NAME_SIZE - 1 ? size : SE_NAME_SIZE - 1;
        const void* end = std::memchr(source, '\0', bound);
        length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - source) : bound;
        std::memmove(destination, source, length);
    }
    std::memset(destination + length, 0, SE_NAME_SIZE - length);
}

bool SE_SameInterfaceFamily(const char* id, const char* family)
{
    if (id == nullptr || family == nullptr) return false;
    const char* comma = std::strchr(family, ',');
    if (comma == nullptr) return std::strcmp(id, family) == 0;
    return std::strncmp(id, family, static_cast<std::size_t>(comma - family)) == 0;
}

bool SE_FunctionSetIdOfBundle(const std::filesystem::path& bundle, char name[SE_NAME_SIZE])
{
    std::unique_ptr<platform::PluginBundle> opened = platform::PluginBundle::create(bundle);
    if (opened == nullptr || name == nullptr) return false;
    const std::optional<std::string> id = opened->infoString(SE_KEY_FUNCTION_SET_ID);
    if (!id || id->size() >= SE_NAME_SIZE) return false;
    std::memset(name, 0, SE_NAME_SIZE);
    std::memcpy(name, id->data(), id->size());
    return true;
}

void SE_SetGiveUp(bool on)
{
    giveUp = on;
}

} // namespace lumenfield
