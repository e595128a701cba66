#include "se_host_session.h"

#include "plugin_bundle.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace {

std::atomic<bool> giveUp{false};

extern "C" int16_t hostYieldService(int16_t, void*) noexcept
{
    return giveUp.load() ? 0 : 1;
}

// The folder the open session was made on, and the name the list's cursor stands on ("" after a
// rewind).
std::optional<std::filesystem::path> driverFolder;
char currentName[SE_NAME_SIZE];

const std::filesystem::path* presetBundles = nullptr;
int16_t presetBundleCount = 0;

struct LoadFailure {
    std::filesystem::path bundle;
    std::string reason;
};
std::optional<LoadFailure> lastLoadFailure;

SEDriverNode* nodeData(Handle node)
{
    return HandleData<SEDriverNode>(node);
}

SESession* sessionData(Handle session)
{
    if (session == nullptr || GetHandleSize(session) < static_cast<long>(sizeof(SESession))) return nullptr;
    return HandleData<SESession>(session);
}

// ---- discovery ----

// Adds the bundle to the list when it declares our interface and a usable function-set id.
void checkBundle(SEDriverList& drivers, const platform::PluginBundle& bundle)
{
    const std::optional<std::string> interfaceId = bundle.infoString(SE_KEY_INTERFACE_ID);
    if (!interfaceId || *interfaceId != drivers.interfaceId) return;
    const std::optional<std::string> name = bundle.infoString(SE_KEY_FUNCTION_SET_ID);
    if (!name) return;
    // A longer id would have to be cut into a name that another bundle may carry.
    if (name->empty() || name->size() >= SE_NAME_SIZE || name->find('\0') != std::string::npos) {
        std::printf("Driver bundle %s: function-set id of %zu bytes skipped\n", bundle.path().c_str(), name->size());
        return;
    }
    Handle node = NewHandleClear(sizeof(SEDriverNode));
    auto* url = new (std::nothrow) std::filesystem::path(bundle.path());
    if (node == nullptr || url == nullptr) {
        std::printf("Driver bundle %s: out of memory\n", bundle.path().c_str());
        DisposeHandle(node);
        delete url;
        return;
    }
    SE_CopyName(nodeData(node)->name, name->c_str());
    nodeData(node)->bundleURL = url;
    HListInsertAfter(drivers.list, node, HListTail(drivers.list));
}

void releaseNode(Handle node, void*)
{
    SEDriverNode* driver = nodeData(node);
    delete driver->bundle;
    driver->bundle = nullptr;
    driver->entry = nullptr;
    delete driver->bundleURL;
    driver->bundleURL = nullptr;
}

void disposeDriverList(SEDriverList* drivers)
{
    if (drivers == nullptr) return;
    HListDispose(drivers->list, releaseNode, nullptr);
    delete drivers;
}

// The acceptable bundles of the folder (or of the preset list), or null when there is none.
SEDriverList* discoverDrivers(const char* interfaceId)
{
    auto* drivers = new (std::nothrow) SEDriverList{};
    if (drivers == nullptr) return nullptr;
    SE_CopyName(drivers->interfaceId, interfaceId);
    drivers->list = HListNew();
    if (drivers->list == nullptr) {
        delete drivers;
        return nullptr;
    }
    auto check = [&](const std::filesystem::path& path) {
        if (std::unique_ptr<platform::PluginBundle> bundle = platform::PluginBundle::create(path))
            checkBundle(*drivers, *bundle);
    };
    if (presetBundleCount > 0 && presetBundles != nullptr) {
        for (int16_t i = 0; i < presetBundleCount; i++) check(presetBundles[i]);
    } else {
        for (const std::filesystem::path& path : platform::findBundles(*driverFolder)) check(path);
    }
    if (HListCount(drivers->list) <= 0) {
        disposeDriverList(drivers);
        return nullptr;
    }
    HListRewind(drivers->list);
    currentName[0] = '\0';
    return drivers;
}

// ---- drivers ----

int nameMatches(Handle node, void* name)
{
    return std::strcmp(nodeData(node)->name, static_cast<const char*>(name)) == 0;
}

Handle findDriver(const SESession& session, const char* name)
{
    if (name == nullptr || session.drivers == nullptr) return nullptr;
    Handle list = session.drivers->list;
    Handle current = HListCurrent(list);
    if (current != nullptr && std::strcmp(name, currentName) == 0 && nameMatches(current, const_cast<char*>(name)))
        return current;
    Handle found = nullptr;
    HListSearch(list, nullptr, nameMatches, const_cast<char*>(name), &found);
    return found;
}

// Loads the named driver's code and creates its root object. 0, or the load error; the session's
// entry is set only on success.
int16_t startDriver(SESession& session, const char* name)
{
    Handle node = findDriver(session, name);
    if (node == nullptr) return SE_HOST_LOAD_FAILED;
    SEDriverNode* driver = nodeData(node);
    if (driver->bundle == nullptr) {
        if (driver->bundleURL == nullptr) return SE_HOST_NO_BUNDLE_URL;
        std::unique_ptr<platform::PluginBundle> bundle = platform::PluginBundle::create(*driver->bundleURL);
        if (bundle == nullptr || !bundle->loadExecutable()) {
            lastLoadFailure = LoadFailure{*driver->bundleURL, bundle ? bundle->loadError() : "the bundle is gone"};
            return SE_HOST_LOAD_FAILED;
        }
        driver->entry = reinterpret_cast<SEMainFunction*>(bundle->functionPointer("SE_main"));
        if (driver->entry == nullptr) {
            // Unloaded at once (the bundle goes with this scope), so the next driver can be tried.
            std::printf("Driver %s exports no SE_main\n", driver->name);
            lastLoadFailure = LoadFailure{*driver->bundleURL, "the driver's code has no entry point SE_main"};
            return SE_HOST_LOAD_FAILED;
        }
        // A driver that takes services by index gets the host's say in its long waits.
        if (auto* set = reinterpret_cast<SESetCallbackFunction*>(bundle->functionPointer("SetCallBackfunc")))
            set(reinterpret_cast<void*>(&hostYieldService), SE_SERVICE_YIELD);
        driver->bundle = bundle.release();
    }
    session.entry = driver->entry;
    ECDB scratch{};
    session.entry(SE_OP_OPEN, &scratch);
    return 0;
}

// Destroys the open driver's root object, then unloads its code.
int16_t closeDriver(SESession& session)
{
    if (session.entry != nullptr) {
        ECDB scratch{};
        session.entry(SE_OP_CLOSE, &scratch);
    }
    if (Handle node = findDriver(session, session.name)) {
        SEDriverNode* driver = nodeData(node);
        delete driver->bundle; // unloads the code
        driver->bundle = nullptr;
        driver->entry = nullptr;
    }
    session.entry = nullptr;
    return 0;
}

int16_t openNextDriver(SESession& session, char* nameOut)
{
    if (session.driverOpen != 0 || session.entry != nullptr) {
        if (closeDriver(session) != 0) return SE_HOST_CLOSE_FAILED;
    }
    session.driverOpen = 0;
    Handle list = session.drivers->list;
    Handle current = HListCurrent(list);
    if (current == nullptr) return 0;
    if (currentName[0] != '\0') {
        if (HListIsLast(list, current)) return 0;
        current = HListSetCurrent(list, HListStep(list, current, 1));
    }
    SE_CopyName(currentName, nodeData(current)->name);
    SE_CopyName(session.name, currentName);
    const int16_t error = startDriver(session, currentName);
    if (session.entry == nullptr) return error;
    session.driverOpen = 1;
    if (nameOut != nullptr) std::memcpy(nameOut, session.name, SE_NAME_SIZE);
    return 1;
}

int16_t openDriverByName(SESession& session, const char* name)
{
    if (session.driverOpen != 0 || session.entry != nullptr) closeDriver(session);
    session.driverOpen = 0;
    const int16_t error = startDriver(session, name);
    if (session.entry == nullptr) return error;
    session.driverOpen = 1;
    SE_CopyName(session.name, name);
    return 0;
}

int16_t openSession(Handle* sessionOut, const std::filesystem::path* folder)
{
    if (sessionOut == nullptr) return SE_HOST_SESSION_NOT_OPEN;
    Handle handle = NewHandleClear(sizeof(SESession));
    if (handle == nullptr) return SE_HOST_NO_MEMORY;
    std::error_code error;
    if (folder == nullptr || !std::filesystem::is_directory(*folder, error)) {
        DisposeHandle(handle);
        return SE_HOST_SESSION_NOT_OPEN;
    }
    driverFolder = *folder;
    currentName[0] = '\0';
    SEDriverList* drivers = discoverDrivers(SE_INTERFACE_ID);
    if (drivers == nullptr) {
        driverFolder.reset();
        DisposeHandle(handle);
        return SE_HOST_NO_DRIVER_LIST;
    }
    SESession* session = HandleData<SESession>(handle);
    session->drivers = drivers;
    session->driverOpen = 0;
    session->open = 1;
    *sessionOut = handle;
    return 0;
}

int16_t closeSession(Handle handle)
{
    SESession& session = *HandleData<SESession>(handle);
    int16_t result = 0;
    if (session.driverOpen != 0 || session.entry != nullptr) result = closeDriver(session);
    session.driverOpen = 0;
    disposeDriverList(session.drivers);
    session.drivers = nullptr;
    session.open = 0;
    driverFolder.reset();
    DisposeHandle(handle);
    return result;
}

} // namespace

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

int16_t SE_ProCall(void* session, int16_t op, void* argument)
{
    if (op < 0) return SE_HOST_BAD_OPERATION;
    if (op == SE_PROC_OPEN)
        return openSession(static_cast<Handle*>(session), static_cast<const std::filesystem::path*>(argument));

    Handle handle = static_cast<Handle>(session);
    SESession* data = sessionData(handle);
    if (data == nullptr || data->open != 1) return SE_HOST_SESSION_NOT_OPEN;
    if (op == SE_PROC_CLOSE) return closeSession(handle);
    if (data->drivers == nullptr) return SE_HOST_NO_DRIVER_LIST;

    HandleLock lock(handle);
    switch (op) {
    case SE_PROC_NEXT_DRIVER:
        return openNextDriver(*data, static_cast<char*>(argument));
    case SE_PROC_OPEN_DRIVER:
        return openDriverByName(*data, static_cast<const char*>(argument));
    case SE_PROC_CLOSE_DRIVER:
        if (data->driverOpen != 0 || data->entry != nullptr) closeDriver(*data);
        data->driverOpen = 0;
        return 0;
    case SE_PROC_COMMAND:
        if (data->entry == nullptr) return SE_HOST_NO_DRIVER_OPEN;
        return data->entry(SE_OP_COMMAND, static_cast<ECDB*>(argument));
    case SE_PROC_REWIND:
        HListRewind(data->drivers->list);
        currentName[0] = '\0';
        return 0;
    default:
        return 0;
    }
}

void SE_SetPresetBundles(const std::filesystem::path* bundles)
{
    presetBundles = bundles;
}

const std::filesystem::path* SE_PresetBundles()
{
    return presetBundles;
}

void SE_SetPresetBundleCount(int16_t count)
{
    presetBundleCount = count;
}

int16_t SE_PresetBundleCount()
{
    return presetBundleCount;
}

bool SE_SameInterfaceFamily(const char* id, const char* family)
{
    if (id == nullptr || family == nullptr) return false;
    const char* comma = std::strchr(family, ',');
    if (comma == nullptr) return std::strcmp(id, family) == 0;
    return std::strncmp(id, family, static_cast<std::size_t>(comma - family)) == 0;
}

bool SE_DriverBundlePath(Handle session, const char* name, std::filesystem::path* out)
{
    const SESession* data = sessionData(session);
    if (data == nullptr || data->open != 1) return false;
    Handle node = findDriver(*data, name);
    if (node == nullptr || nodeData(node)->bundleURL == nullptr) return false;
    if (out != nullptr) *out = *nodeData(node)->bundleURL;
    return true;
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

bool SE_DriverNameById(Handle session, uint64_t id, char name[SE_NAME_SIZE])
{
    const SESession* data = sessionData(session);
    if (data == nullptr || data->open != 1 || data->drivers == nullptr || name == nullptr) return false;
    auto matches = [](Handle node, void* wanted) { return int(nodeData(node)->id == *static_cast<uint64_t*>(wanted)); };
    Handle list = data->drivers->list;
    Handle found = nullptr;
    if (HListSearch(list, HListCurrent(list), matches, &id, &found) != 0)
        HListSearch(list, nullptr, matches, &id, &found);
    if (found == nullptr) return false;
    std::memcpy(name, nodeData(found)->name, SE_NAME_SIZE);
    return true;
}

void SE_SetGiveUp(bool on)
{
    giveUp = on;
}

bool SE_LastLoadFailure(std::filesystem::path* bundle, std::string* reason)
{
    if (!lastLoadFailure) return false;
    if (bundle != nullptr) *bundle = lastLoadFailure->bundle;
    if (reason != nullptr) *reason = lastLoadFailure->reason;
    return true;
}

void SE_ClearLoadFailure()
{
    lastLoadFailure.reset();
}
