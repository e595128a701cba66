#include "testbed.h"

#include <umockdev.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <sys/un.h>

namespace sim {

namespace {

std::string hex(const std::vector<uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0xF]);
    }
    return out;
}

std::string node_name(int bus, int address)
{
    char name[32];
    std::snprintf(name, sizeof name, "bus/usb/%03d/%03d", bus, address);
    return name;
}

} // namespace

Testbed::Testbed(TestbedOptions options) : options_(options)
{
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    // Each device's ioctl socket lives at <root>/ioctl/dev/bus/usb/BBB/DDD.
    const size_t socket_path = root_.size() + std::strlen("/ioctl/dev/bus/usb/001/001");
    if (socket_path >= sizeof(sockaddr_un::sun_path)) {
        g_object_unref(testbed_);
        throw std::runtime_error("virtual USB: the testbed folder '" + root_ +
                                 "' is too long for its device sockets (108 bytes at most); "
                                 "set TMPDIR to a short folder such as /tmp");
    }
    remover_ = std::thread([this] { removal_loop(); });
}

Testbed::~Testbed()
{
    {
        std::lock_guard<std::mutex> lock(removal_mutex_);
        stopping_ = true;
    }
    removal_cv_.notify_all();
    remover_.join();
    for (auto& device : devices_) device->shutdown();
    g_object_unref(testbed_);
    devices_.clear();
}

int Testbed::next_address(int bus) const
{
    int address = 2; // 1 is the root hub's
    for (const auto& device : devices_)
        if (device->bus() == bus) address = std::max(address, device->address() + 1);
    return address;
}

void Testbed::add_record(const DeviceDescription& desc, const std::string& syspath, bool with_node)
{
    char busnum[8];
    char devnum[8];
    std::snprintf(busnum, sizeof busnum, "%03d", desc.bus);
    std::snprintf(devnum, sizeof devnum, "%03d", desc.address);
    std::ostringstream record;
    record << "P: " << syspath << "\n";
    if (with_node) record << "N: " << node_name(desc.bus, desc.address) << "\n";
    record << "E: SUBSYSTEM=usb\n"
           << "E: DEVTYPE=usb_device\n"
           << "E: DEVNAME=/dev/" << node_name(desc.bus, desc.address) << "\n"
           << "E: BUSNUM=" << busnum << "\n"
           << "E: DEVNUM=" << devnum << "\n"
           << "A: busnum=" << desc.bus << "\n"
           << "A: devnum=" << desc.address << "\n"
           << "A: bConfigurationValue=" << desc.active_configuration << "\n"
           << "A: speed=" << desc.speed << "\n"
           << "A: dev=189:" << (desc.bus - 1) * 128 + desc.address - 1 << "\n"
           << "H: descriptors=" << hex(descriptor_bytes(desc)) << "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.str().c_str(), &error)) {
        std::string message = error != nullptr ? error->message : "unknown error";
        if (error != nullptr) g_error_free(error);
        throw std::runtime_error("virtual USB: cannot add " + syspath + ": " + message);
    }
}

VirtualDevice& Testbed::add(DeviceDescription desc, std::unique_ptr<DeviceModel> model)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (options_.root_hubs && !hubs_[desc.bus]) {
        char syspath[64];
        std::snprintf(syspath, sizeof syspath, "/devices/platform/simhcd/usb%d", desc.bus);
        add_record(root_hub(desc.bus), syspath, true);
        hubs_[desc.bus] = true;
    }
    if (desc.address == 0) desc.address = next_address(desc.bus);
    if (desc.address < 2 || desc.address > 127) throw std::runtime_error("virtual USB: address out of range");
    for (const auto& device : devices_)
        if (device->bus() == desc.bus && device->address() == desc.address)
            throw std::runtime_error("virtual USB: address already used");

    std::unique_ptr<VirtualDevice> device(new VirtualDevice(*this, std::move(desc), std::move(model)));
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, device->devnode_.c_str(), device->handler_, &error)) {
        std::string message = error != nullptr ? error->message : "unknown error";
        if (error != nullptr) g_error_free(error);
        throw std::runtime_error("virtual USB: cannot attach " + device->devnode_ + ": " + message);
    }
    add_record(device->description(), device->syspath(), true);
    device->create_node(root_ + device->devnode_);
    devices_.push_back(std::move(device));
    return *devices_.back();
}

void Testbed::unplug(VirtualDevice& device)
{
    // The event first: a client that sees its transfers fail may end its USB library at once, and
    // an event sent to a listener that is closing its socket ends the sender.
    remove(device);
    std::lock_guard<std::recursive_mutex> lock(device.mutex_);
    device.go_away();
}

void Testbed::remove(VirtualDevice& device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (device.removed_) return;
    device.removed_ = true;
    // umockdev 0.17 removes without an event: send it first so libusb's list drops the device.
    const std::string sysfs = "/sys" + device.syspath();
    umockdev_testbed_uevent(testbed_, sysfs.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysfs.c_str());
}

void Testbed::schedule_removal(VirtualDevice* device)
{
    {
        std::lock_guard<std::mutex> lock(removal_mutex_);
        removals_.push_back(device);
    }
    removal_cv_.notify_all();
}

void Testbed::removal_loop()
{
    std::unique_lock<std::mutex> lock(removal_mutex_);
    for (;;) {
        removal_cv_.wait(lock, [this] { return stopping_ || !removals_.empty(); });
        if (removals_.empty()) return;
        VirtualDevice* device = removals_.front();
        removals_.pop_front();
        ++removing_;
        lock.unlock();
        remove(*device);
        lock.lock();
        --removing_;
        removal_cv_.notify_all();
    }
}

void Testbed::settle()
{
    std::unique_lock<std::mutex> lock(removal_mutex_);
    removal_cv_.wait(lock, [this] { return removals_.empty() && removing_ == 0; });
}

void Testbed::set_active_configuration(VirtualDevice& device, int value)
{
    std::lock_guard<std::recursive_mutex> lock(device.mutex_);
    device.desc_.active_configuration = value;
    device.write_sysfs("bConfigurationValue", std::to_string(value));
}

std::vector<VirtualDevice*> Testbed::devices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<VirtualDevice*> out;
    for (const auto& device : devices_) out.push_back(device.get());
    return out;
}

} // namespace sim
