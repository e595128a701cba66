// The URB engine of a virtual device: answers the usbdevfs ioctls that libusb sends to the
// device node, hands transfers to the device model and records everything in the transcript.
#include "testbed.h"

#include "bytes.h"

#include <umockdev.h>

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sim {

struct VirtualDevice::Urb {
    Client* client = nullptr;
    UMockdevIoctlData* urb_data = nullptr; // the client's usbdevfs_urb, synced back on reap
    UMockdevIoctlData* buf_data = nullptr; // its buffer (child-process mode)
    unsigned long client_addr = 0;
    uint8_t* buffer = nullptr;
    size_t length = 0;
    UrbType type = UrbType::Bulk;
    uint8_t endpoint = 0;
    bool in = false;
    int status = 0;
    size_t moved = 0;

    ~Urb()
    {
        if (buf_data != nullptr) g_object_unref(buf_data);
        if (urb_data != nullptr) g_object_unref(urb_data);
    }
};

struct VirtualDevice::Client {
    UMockdevIoctlClient* handle = nullptr;
    std::vector<int> claimed;
    std::vector<std::unique_ptr<Urb>> urbs; // submitted and not yet reaped
    std::deque<Urb*> done;                  // completed, in completion order

    void drop(Urb* urb)
    {
        std::erase_if(urbs, [urb](const std::unique_ptr<Urb>& u) { return u.get() == urb; });
    }
};

namespace {

constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION;
constexpr size_t kSetupSize = 8;

// Client memory that `parent` points to at `offset`; the caller owns the result.
UMockdevIoctlData* resolve(UMockdevIoctlData* parent, size_t offset, size_t length)
{
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(parent, offset, length, &error);
    if (error != nullptr) {
        g_error_free(error);
        if (data != nullptr) g_object_unref(data);
        return nullptr;
    }
    return data;
}

// An unsigned int that the ioctl argument points to.
bool read_uint(UMockdevIoctlData* arg, unsigned& value)
{
    UMockdevIoctlData* data = resolve(arg, 0, sizeof(unsigned));
    if (data == nullptr) return false;
    std::memcpy(&value, data->data, sizeof value);
    g_object_unref(data);
    return true;
}

} // namespace

VirtualDevice::VirtualDevice(Testbed& owner, DeviceDescription desc, std::unique_ptr<DeviceModel> model)
    : owner_(owner), desc_(std::move(desc)), model_(std::move(model))
{
    if (!model_) model_ = std::make_unique<DeviceModel>();
    model_->attach(this);
    char path[64];
    std::snprintf(path, sizeof path, "/devices/platform/simhcd/usb%d/%d-%d", desc_.bus, desc_.bus, desc_.address - 1);
    syspath_ = path;
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", desc_.bus, desc_.address);
    devnode_ = path;
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&VirtualDevice::on_ioctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&VirtualDevice::on_vanished), this);
}

VirtualDevice::~VirtualDevice()
{
    shutdown();
    pending_in_.clear();
    for (auto& [handle, client] : clients_) g_object_unref(handle);
    clients_.clear();
    if (handler_ != nullptr) g_object_unref(handler_);
    if (worker_ != nullptr) g_main_context_unref(worker_);
    if (node_fd_ >= 0) close(node_fd_);
}

void VirtualDevice::shutdown()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (shutting_down_) return;
    shutting_down_ = true;
    g_signal_handlers_disconnect_by_data(handler_, this);
    for (GSource** source : {&timer_, &kick_}) {
        if (*source == nullptr) continue;
        g_source_destroy(*source);
        g_source_unref(*source);
        *source = nullptr;
    }
}

// The node is a FIFO instead of umockdev's regular file: libusb polls it for POLLOUT, which a
// regular file always reports. A byte kept in a one-page pipe means "nothing to reap".
void VirtualDevice::create_node(const std::string& node_path)
{
    unlink(node_path.c_str());
    if (mkfifo(node_path.c_str(), 0666) != 0) throw std::runtime_error("virtual USB: cannot create " + node_path);
    node_fd_ = open(node_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (node_fd_ < 0) throw std::runtime_error("virtual USB: cannot open " + node_path);
    fcntl(node_fd_, F_SETPIPE_SZ, 4096);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    update_node();
}

std::string VirtualDevice::name() const
{
    char name[32];
    std::snprintf(name, sizeof name, "libusb:%03d:%03d", desc_.bus, desc_.address);
    return name;
}

Transcript VirtualDevice::transcript() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return transcript_;
}

bool VirtualDevice::gone() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return gone_;
}

std::vector<int> VirtualDevice::claimed_interfaces()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    prune_clients();
    std::vector<int> out;
    for (const auto& [handle, client] : clients_) out.insert(out.end(), client->claimed.begin(), client->claimed.end());
    std::sort(out.begin(), out.end());
    return out;
}

size_t VirtualDevice::open_clients()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    prune_clients();
    return clients_.size();
}

bool VirtualDevice::wait_open_clients(size_t n, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (open_clients() > n) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::unique_lock<std::recursive_mutex> VirtualDevice::lock()
{
    return std::unique_lock<std::recursive_mutex>(mutex_);
}

void VirtualDevice::disconnect()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (gone_) return;
    if (in_callback_) {
        // Finished once the model's callback has returned, when the engine's state is consistent.
        disconnect_requested_ = true;
        return;
    }
    go_away();
    owner_.schedule_removal(this);
}

void VirtualDevice::kick()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (worker_ == nullptr || shutting_down_ || pending_in_.empty() || kick_ != nullptr) return;
    kick_ = g_idle_source_new();
    g_source_set_callback(
        kick_,
        [](gpointer self) -> gboolean {
            auto* dev = static_cast<VirtualDevice*>(self);
            std::lock_guard<std::recursive_mutex> held(dev->mutex_);
            if (dev->kick_ != nullptr) {
                g_source_unref(dev->kick_);
                dev->kick_ = nullptr;
            }
            if (!dev->shutting_down_) dev->offer_pending();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(kick_, worker_);
}

int VirtualDevice::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    static_cast<VirtualDevice*>(self)->handle_ioctl(client);
    return TRUE;
}

void VirtualDevice::on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* handle, void* self)
{
    auto* dev = static_cast<VirtualDevice*>(self);
    std::lock_guard<std::recursive_mutex> lock(dev->mutex_);
    dev->forget(handle);
}

// umockdev 0.17 marks a closed client as disconnected without emitting "client-vanished", so
// closed files are found by looking.
void VirtualDevice::prune_clients()
{
    std::vector<UMockdevIoctlClient*> closed;
    for (const auto& [handle, client] : clients_)
        if (!umockdev_ioctl_client_get_connected(handle)) closed.push_back(handle);
    for (UMockdevIoctlClient* handle : closed) forget(handle);
}

void VirtualDevice::forget(UMockdevIoctlClient* handle)
{
    auto it = clients_.find(handle);
    if (it == clients_.end()) return;
    Client& client = *it->second;
    // Closing the file releases its claims, as the kernel does.
    for (int itf : client.claimed) model_->release(itf);
    std::erase_if(pending_in_, [&client](Urb* u) { return u->client == &client; });
    g_object_unref(handle);
    clients_.erase(it);
    update_node();
    update_timer();
}

int VirtualDevice::on_tick(void* self)
{
    auto* dev = static_cast<VirtualDevice*>(self);
    std::lock_guard<std::recursive_mutex> lock(dev->mutex_);
    if (dev->shutting_down_) return G_SOURCE_REMOVE;
    dev->prune_clients();
    dev->offer_pending();
    return G_SOURCE_CONTINUE;
}

VirtualDevice::Client& VirtualDevice::client_state(UMockdevIoctlClient* handle)
{
    auto it = clients_.find(handle);
    if (it != clients_.end()) return *it->second;
    auto client = std::make_unique<Client>();
    client->handle = handle;
    g_object_ref(handle);
    return *clients_.emplace(handle, std::move(client)).first->second;
}

void VirtualDevice::handle_ioctl(UMockdevIoctlClient* handle)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (worker_ == nullptr) worker_ = g_main_context_ref_thread_default();
    const unsigned long request = umockdev_ioctl_client_get_request(handle);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(handle);
    auto answer = [handle](int error) { umockdev_ioctl_client_complete(handle, error == 0 ? 0 : -1, error); };
    if (shutting_down_) return answer(ENODEV);
    prune_clients();
    Client& client = client_state(handle);

    if (request == USBDEVFS_REAPURBNDELAY) return reap(client, handle);
    if (request == USBDEVFS_GETDRIVER) return answer(ENODATA);
    if (gone_) return answer(ENODEV);

    unsigned value = 0;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* data = resolve(arg, 0, sizeof(uint32_t));
        if (data == nullptr) return answer(EFAULT);
        std::memcpy(data->data, &kCapabilities, sizeof kCapabilities);
        g_object_unref(data);
        return answer(0);
    }
    case USBDEVFS_SUBMITURB: return submit(client, handle);
    case USBDEVFS_DISCARDURB: return discard(client, handle);
    case USBDEVFS_CLAIMINTERFACE: {
        if (!read_uint(arg, value)) return answer(EFAULT);
        const int itf = static_cast<int>(value);
        int error = 0;
        const bool mine = std::find(client.claimed.begin(), client.claimed.end(), itf) != client.claimed.end();
        if (!mine) {
            for (const auto& [other_handle, other] : clients_)
                if (other.get() != &client &&
                    std::find(other->claimed.begin(), other->claimed.end(), itf) != other->claimed.end())
                    error = EBUSY;
            if (error == 0) {
                error = call_model([&] { return model_->claim(itf); });
            }
            if (error == 0) client.claimed.push_back(itf);
        }
        record({.kind = EventKind::Claim, .status = error, .value = itf});
        answer(error);
        return after_callback();
    }
    case USBDEVFS_RELEASEINTERFACE: {
        if (!read_uint(arg, value)) return answer(EFAULT);
        const int itf = static_cast<int>(value);
        auto it = std::find(client.claimed.begin(), client.claimed.end(), itf);
        const int error = it == client.claimed.end() ? EINVAL : 0;
        if (error == 0) {
            client.claimed.erase(it);
            call_model([&] { model_->release(itf); });
        }
        record({.kind = EventKind::Release, .status = error, .value = itf});
        answer(error);
        return after_callback();
    }
    case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* data = resolve(arg, 0, sizeof(usbdevfs_setinterface));
        if (data == nullptr) return answer(EFAULT);
        usbdevfs_setinterface setting;
        std::memcpy(&setting, data->data, sizeof setting);
        g_object_unref(data);
        const int itf = static_cast<int>(setting.interface);
        const int alt = static_cast<int>(setting.altsetting);
        const int error = call_model([&] { return model_->set_interface(itf, alt); });
        record({.kind = EventKind::SetInterface, .status = error, .value = itf, .value2 = alt});
        answer(error);
        return after_callback();
    }
    case USBDEVFS_SETCONFIGURATION: {
        if (!read_uint(arg, value)) return answer(EFAULT);
        const int config = static_cast<int>(value);
        const int error = call_model([&] { return model_->set_configuration(config); });
        if (error == 0) {
            desc_.active_configuration = config;
            write_sysfs("bConfigurationValue", std::to_string(config));
        }
        record({.kind = EventKind::SetConfiguration, .status = error, .value = config});
        answer(error);
        return after_callback();
    }
    case USBDEVFS_CLEAR_HALT: {
        if (!read_uint(arg, value)) return answer(EFAULT);
        const auto endpoint = static_cast<uint8_t>(value);
        halted_[endpoint] = false;
        call_model([&] { model_->clear_halt(endpoint); });
        record({.kind = EventKind::ClearHalt, .endpoint = endpoint});
        answer(0);
        after_callback();
        return offer_pending();
    }
    case USBDEVFS_RESET: {
        halted_.clear();
        call_model([&] { model_->reset(); });
        record({.kind = EventKind::Reset});
        answer(0);
        return after_callback();
    }
    case USBDEVFS_RESETEP:
    case USBDEVFS_DISCONNECT_CLAIM: return answer(0);
    default: return answer(ENOTTY);
    }
}

void VirtualDevice::submit(Client& client, UMockdevIoctlClient* handle)
{
    auto answer = [handle](int error) { umockdev_ioctl_client_complete(handle, error == 0 ? 0 : -1, error); };
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(handle);
    UMockdevIoctlData* urb_data = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (urb_data == nullptr) return answer(EFAULT);
    usbdevfs_urb request;
    std::memcpy(&request, urb_data->data, sizeof request);

    auto urb = std::make_unique<Urb>();
    urb->client = &client;
    urb->urb_data = urb_data;
    urb->client_addr = urb_data->client_addr;
    urb->type = static_cast<UrbType>(request.type);
    urb->endpoint = request.endpoint;
    urb->length = request.buffer_length > 0 ? static_cast<size_t>(request.buffer_length) : 0;
    if (urb->type == UrbType::Iso) return answer(EINVAL);
    if (urb->length > 0) {
        if (owner_.client_mode() == ClientMode::InProcess) {
            // Same address space: the payload is used where the client keeps it.
            urb->buffer = static_cast<uint8_t*>(request.buffer);
        } else {
            urb->buf_data = resolve(urb_data, offsetof(usbdevfs_urb, buffer), urb->length);
            if (urb->buf_data == nullptr) return answer(EFAULT);
            urb->buffer = urb->buf_data->data;
        }
    }
    if (urb->type == UrbType::Control) {
        if (urb->length < kSetupSize) return answer(EINVAL);
        urb->in = (urb->buffer[0] & 0x80) != 0;
    } else {
        urb->in = (urb->endpoint & 0x80) != 0;
    }

    Urb* u = urb.get();
    client.urbs.push_back(std::move(urb));
    answer(0);
    if (u->type == UrbType::Control) {
        run_control(*u);
    } else if (!u->in) {
        run_out(*u);
    } else {
        pending_in_.push_back(u);
        offer_pending();
    }
}

void VirtualDevice::run_out(Urb& urb)
{
    if (halted_[urb.endpoint]) return finish(&urb, -EPIPE, 0);
    const std::span<const uint8_t> data(urb.buffer, urb.length);
    const int r = call_model([&] { return model_->out(urb.endpoint, data); });
    if (disconnect_requested_) {
        finish(&urb, -ENODEV, 0);
        return after_callback();
    }
    if (r < 0) {
        if (r == -EPIPE) halted_[urb.endpoint] = true;
        return finish(&urb, r == kPending ? -EPROTO : r, 0);
    }
    finish(&urb, 0, std::min(static_cast<size_t>(r), urb.length));
}

void VirtualDevice::run_control(Urb& urb)
{
    ControlSetup setup;
    setup.request_type = urb.buffer[0];
    setup.request = urb.buffer[1];
    setup.value = le16(urb.buffer + 2);
    setup.index = le16(urb.buffer + 4);
    setup.length = le16(urb.buffer + 6);
    const size_t data_length = std::min<size_t>(setup.length, urb.length - kSetupSize);
    const std::span<uint8_t> data(urb.buffer + kSetupSize, data_length);
    const int r = call_model([&] { return model_->control(setup, data); });
    if (disconnect_requested_) {
        finish(&urb, -ENODEV, 0);
        return after_callback();
    }
    if (r < 0) return finish(&urb, r == kPending ? -EPROTO : r, 0);
    finish(&urb, 0, std::min(static_cast<size_t>(r), data_length));
}

void VirtualDevice::offer_pending()
{
    std::set<uint8_t> waiting; // endpoints whose oldest URB has no reply yet
    for (auto it = pending_in_.begin(); it != pending_in_.end();) {
        Urb* urb = *it;
        if (waiting.count(urb->endpoint) != 0) {
            ++it;
            continue;
        }
        if (halted_[urb->endpoint]) {
            it = pending_in_.erase(it);
            finish(urb, -EPIPE, 0);
            continue;
        }
        const std::span<uint8_t> room(urb->buffer, urb->length);
        const int r = call_model([&] { return model_->in(urb->endpoint, room); });
        if (disconnect_requested_) {
            // The bytes sent before the device went away still arrive.
            pending_in_.erase(it);
            finish(urb, -ENODEV, r > 0 ? std::min(static_cast<size_t>(r), urb->length) : 0);
            return after_callback();
        }
        if (r == kPending) {
            waiting.insert(urb->endpoint);
            ++it;
            continue;
        }
        it = pending_in_.erase(it);
        if (r < 0) {
            if (r == -EPIPE) halted_[urb->endpoint] = true;
            finish(urb, r, 0);
        } else {
            finish(urb, 0, std::min(static_cast<size_t>(r), urb->length));
        }
    }
    update_timer();
}

void VirtualDevice::finish(Urb* urb, int status, size_t moved)
{
    urb->status = status;
    urb->moved = moved;
    Event e{.kind = EventKind::Urb,
            .endpoint = urb->type == UrbType::Control ? uint8_t{0} : urb->endpoint,
            .in = urb->in,
            .type = urb->type,
            .asked = urb->type == UrbType::Control ? urb->length - kSetupSize : urb->length,
            .moved = moved,
            .status = status};
    if (urb->type == UrbType::Control) {
        e.value = urb->buffer[1];
        e.value2 = urb->buffer[0];
    }
    record(e);
    urb->client->done.push_back(urb);
    update_node();
}

void VirtualDevice::reap(Client& client, UMockdevIoctlClient* handle)
{
    if (client.done.empty()) {
        umockdev_ioctl_client_complete(handle, -1, gone_ ? ENODEV : EAGAIN);
        return;
    }
    Urb* urb = client.done.front();
    client.done.pop_front();
    usbdevfs_urb result;
    std::memcpy(&result, urb->urb_data->data, sizeof result);
    result.status = urb->status;
    result.actual_length = static_cast<int>(urb->moved);
    umockdev_ioctl_data_update(urb->urb_data, 0, reinterpret_cast<guint8*>(&result), sizeof result);

    UMockdevIoctlData* slot = resolve(umockdev_ioctl_client_get_arg(handle), 0, sizeof(void*));
    if (slot == nullptr) {
        umockdev_ioctl_client_complete(handle, -1, EFAULT);
    } else {
        umockdev_ioctl_data_set_ptr(slot, 0, urb->urb_data);
        umockdev_ioctl_client_complete(handle, 0, 0);
        g_object_unref(slot);
    }
    client.drop(urb);
    update_node();
}

void VirtualDevice::discard(Client& client, UMockdevIoctlClient* handle)
{
    // The argument is the URB's address in the client.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(handle);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, static_cast<size_t>(arg->data_len)));
    auto it = std::find_if(pending_in_.begin(), pending_in_.end(),
                           [&](Urb* u) { return u->client == &client && u->client_addr == address; });
    if (it == pending_in_.end()) {
        umockdev_ioctl_client_complete(handle, -1, EINVAL);
        return;
    }
    Urb* urb = *it;
    pending_in_.erase(it);
    record({.kind = EventKind::Discard, .endpoint = urb->endpoint});
    call_model([&] { model_->discarded(urb->endpoint); });
    finish(urb, -ENOENT, 0);
    umockdev_ioctl_client_complete(handle, 0, 0);
    after_callback();
    update_timer();
}

void VirtualDevice::after_callback()
{
    if (!disconnect_requested_) return;
    disconnect_requested_ = false;
    go_away();
    owner_.schedule_removal(this);
}

void VirtualDevice::go_away()
{
    if (gone_) return;
    gone_ = true;
    for (Urb* urb : pending_in_) finish(urb, -ENODEV, 0);
    pending_in_.clear();
    record({.kind = EventKind::Unplug});
    update_node();
    update_timer();
}

void VirtualDevice::update_node()
{
    if (node_fd_ < 0) return;
    bool reapable = gone_;
    for (const auto& [handle, client] : clients_) reapable = reapable || !client->done.empty();
    if (reapable && node_byte_) {
        char byte;
        if (read(node_fd_, &byte, 1) == 1) node_byte_ = false;
    } else if (!reapable && !node_byte_) {
        if (write(node_fd_, "u", 1) == 1) node_byte_ = true;
    }
}

void VirtualDevice::update_timer()
{
    if (!pending_in_.empty() && timer_ == nullptr && worker_ != nullptr && !shutting_down_) {
        timer_ = g_timeout_source_new(1);
        g_source_set_callback(timer_, &VirtualDevice::on_tick, this, nullptr);
        g_source_attach(timer_, worker_);
    } else if (pending_in_.empty() && timer_ != nullptr) {
        g_source_destroy(timer_);
        g_source_unref(timer_);
        timer_ = nullptr;
    }
}

void VirtualDevice::write_sysfs(const char* attribute, const std::string& value)
{
    const std::string path = owner_.root_dir() + "/sys" + syspath_ + "/" + attribute;
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fputs(value.c_str(), f);
        std::fclose(f);
    }
}

} // namespace sim
