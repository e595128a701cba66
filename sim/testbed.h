// The virtual USB bus: an umockdev testbed holding virtual devices that the unmodified driver
// reaches through the real libusb (sysfs, /dev/bus/usb nodes and usbdevfs ioctls are redirected
// by umockdev's preload library; see preload.h).
//
// Life cycle: create the Testbed before libusb is initialised and destroy it after libusb has
// exited; never create or destroy one while a libusb context exists. Set environment variables the
// code under test reads before the Testbed exists.
#pragma once

#include "device_model.h"
#include "transcript.h"
#include "usb_descriptors.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

namespace sim {

// Where the libusb client runs. In-process, URB payloads are read and written in place; a child
// process gets them through umockdev's ioctl-data path.
enum class ClientMode {
    InProcess,
    ChildProcess
};

struct TestbedOptions {
    ClientMode client = ClientMode::InProcess;
    bool root_hubs = true; // add a root hub to each bus before its first device
};

class Testbed;

class VirtualDevice final : public DeviceLink {
public:
    ~VirtualDevice() override;
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    const DeviceDescription& description() const { return desc_; }
    int bus() const { return desc_.bus; }
    int address() const { return desc_.address; }
    // The driver's name for it: "libusb:BBB:DDD".
    std::string name() const;
    const std::string& syspath() const { return syspath_; }

    // A copy of the transcript, taken under the device lock.
    Transcript transcript() const;
    // The model, for reading its state under lock() or through its own locking methods.
    DeviceModel& model() { return *model_; }
    template <typename M> M& model_as() { return dynamic_cast<M&>(*model_); }
    bool gone() const;
    // Interfaces claimed by any open file of the device.
    std::vector<int> claimed_interfaces();
    // Files of the device that clients hold open. A close reaches the harness asynchronously;
    // wait_open_clients waits (up to `timeout`) until at most `n` remain, and says whether they do.
    size_t open_clients();
    bool wait_open_clients(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // DeviceLink
    void disconnect() override;
    void kick() override;
    std::unique_lock<std::recursive_mutex> lock() override;

private:
    friend class Testbed;
    struct Urb;
    struct Client;

    VirtualDevice(Testbed& owner, DeviceDescription desc, std::unique_ptr<DeviceModel> model);
    void create_node(const std::string& node_path);
    void shutdown();

    static int on_ioctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void on_vanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int on_tick(void* self);

    void handle_ioctl(UMockdevIoctlClient* client);
    void prune_clients();
    void forget(UMockdevIoctlClient* client);
    Client& client_state(UMockdevIoctlClient* client);
    void submit(Client& client, UMockdevIoctlClient* uclient);
    void reap(Client& client, UMockdevIoctlClient* uclient);
    void discard(Client& client, UMockdevIoctlClient* uclient);
    void run_out(Urb& urb);
    void run_control(Urb& urb);
    void offer_pending();
    void finish(Urb* urb, int status, size_t moved);
    void after_callback();
    void go_away();
    void update_node();
    void update_timer();
    void record(const Event& e) { transcript_.events.push_back(e); }
    // Runs a model callback; a disconnect it declares is finished afterwards (after_callback).
    template <typename F> auto call_model(F&& f)
    {
        in_callback_ = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{in_callback_};
        return f();
    }
    void write_sysfs(const char* attribute, const std::string& value);

    Testbed& owner_;
    DeviceDescription desc_;
    std::unique_ptr<DeviceModel> model_;
    std::string syspath_;
    std::string devnode_;
    UMockdevIoctlBase* handler_ = nullptr;
    int node_fd_ = -1;
    bool node_byte_ = false; // a byte in the node's pipe: nothing to reap

    mutable std::recursive_mutex mutex_;
    Transcript transcript_;
    std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> clients_;
    std::deque<Urb*> pending_in_; // queued IN URBs in submit order
    std::map<uint8_t, bool> halted_;
    bool gone_ = false;
    bool in_callback_ = false;
    bool disconnect_requested_ = false;
    bool shutting_down_ = false;
    bool removed_ = false; // guarded by the testbed's mutex
    GMainContext* worker_ = nullptr;
    GSource* timer_ = nullptr; // re-offers pending IN URBs every millisecond
    GSource* kick_ = nullptr;  // re-offers them once, as soon as the worker is free
};

class Testbed {
public:
    explicit Testbed(TestbedOptions options = {});
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Adds a device (the next free address of its bus when desc.address is 0). A null model
    // gives a device that accepts OUT data, leaves IN URBs pending and stalls control requests.
    // Hot-plug: when this returns, the next libusb device list shows the device.
    VirtualDevice& add(DeviceDescription desc, std::unique_ptr<DeviceModel> model = nullptr);
    // Adds a device with a model of type M built from `args`; returns the device and the model.
    template <typename M, typename... Args>
    std::pair<VirtualDevice&, M&> add_with(DeviceDescription desc, Args&&... args)
    {
        auto model = std::make_unique<M>(std::forward<Args>(args)...);
        M& ref = *model;
        VirtualDevice& dev = add(std::move(desc), std::move(model));
        return {dev, ref};
    }
    // Unplugs now: when this returns, the next libusb device list no longer shows the device. The
    // removal is announced before the device's transfers fail, so that no client can be closing
    // its event socket while the announcement goes out (a device that unplugs itself from a model
    // callback fails its transfers first).
    void unplug(VirtualDevice& device);
    // Waits until unplugs that models declared from their callbacks have reached sysfs.
    void settle();
    // Writes the device's sysfs bConfigurationValue (as if the kernel changed it).
    void set_active_configuration(VirtualDevice& device, int value);

    const std::string& root_dir() const { return root_; }
    ClientMode client_mode() const { return options_.client; }
    std::vector<VirtualDevice*> devices() const;

private:
    friend class VirtualDevice;
    void add_record(const DeviceDescription& desc, const std::string& syspath, bool with_node);
    void remove(VirtualDevice& device);
    void schedule_removal(VirtualDevice* device);
    void removal_loop();
    int next_address(int bus) const;

    TestbedOptions options_;
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    mutable std::mutex mutex_; // umockdev testbed calls and the device list
    std::vector<std::unique_ptr<VirtualDevice>> devices_;
    std::map<int, bool> hubs_;

    // Unplugs declared by models run here, outside umockdev's worker callbacks.
    std::mutex removal_mutex_;
    std::condition_variable removal_cv_;
    std::deque<VirtualDevice*> removals_;
    int removing_ = 0;
    bool stopping_ = false;
    std::thread remover_;
};

} // namespace sim
