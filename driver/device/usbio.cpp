#include "usbio.h"

#include "driver_sleep.h"

#include <libusb.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum usbio_method : int {
    USBIO_METHOD_NONE = 0,
    USBIO_METHOD_LIBUSB = 1
};

struct usbio_device_entry {
    int open = 0;
    int method = USBIO_METHOD_NONE;
    int fd = -1;
    std::string devname;
    int vendor = 0;
    int product = 0;
    int bulk_in_ep = 0;
    int bulk_out_ep = 0;
    int iso_in_ep = 0;
    int iso_out_ep = 0;
    int int_in_ep = 0;
    int int_out_ep = 0;
    int control_in_ep = 0;
    int control_out_ep = 0;
    int interface_nr = 0;
    int alt_setting = 0;
    int missing = 0;
    libusb_device* lu_device = nullptr;
    libusb_device_handle* lu_handle = nullptr;
};

usbio_device_entry devices[USBIO_MAX_DEVICES];
int device_number = 0;
int initialized = 0;
libusb_context* usbio_ctx = nullptr;
unsigned libusb_timeout = 60000;

bool in_range(int dn)
{
    return dn >= 0 && dn < device_number;
}

// An entry whose handle may be used.
usbio_device_entry* open_entry(int dn)
{
    if (!in_range(dn) || !devices[dn].open || devices[dn].lu_handle == nullptr) return nullptr;
    return &devices[dn];
}

bool workaround_enabled()
{
    const char* value = std::getenv("VARNOTH_USB_WORKAROUND");
    return value != nullptr && std::atoi(value) != 0;
}

int* endpoint_field(usbio_device_entry& e, int type)
{
    switch (type) {
    case USBIO_EP_CONTROL_OUT: return &e.control_out_ep;
    case USBIO_EP_ISO_OUT: return &e.iso_out_ep;
    case USBIO_EP_BULK_OUT: return &e.bulk_out_ep;
    case USBIO_EP_INT_OUT: return &e.int_out_ep;
    case USBIO_EP_CONTROL_IN: return &e.control_in_ep;
    case USBIO_EP_ISO_IN: return &e.iso_in_ep;
    case USBIO_EP_BULK_IN: return &e.bulk_in_ep;
    case USBIO_EP_INT_IN: return &e.int_in_ep;
    default: return nullptr;
    }
}

void drop_reference(usbio_device_entry& e)
{
    if (e.lu_device != nullptr) libusb_unref_device(e.lu_device);
    e.lu_device = nullptr;
}

void close_handle(usbio_device_entry& e)
{
    if (e.lu_handle != nullptr) {
        libusb_release_interface(e.lu_handle, e.interface_nr);
        libusb_close(e.lu_handle);
    }
    e.lu_handle = nullptr;
    e.open = 0;
}

// Frees a configuration descriptor on every path out of a scope.
struct ConfigDescriptor {
    libusb_config_descriptor* desc = nullptr;
    ConfigDescriptor() = default;
    ConfigDescriptor(const ConfigDescriptor&) = delete;
    ConfigDescriptor& operator=(const ConfigDescriptor&) = delete;
    ~ConfigDescriptor()
    {
        if (desc != nullptr) libusb_free_config_descriptor(desc);
    }
};

bool interface_class_qualifies(int cls)
{
    return cls == 0 || cls == 6 || cls == 16 || cls == 255;
}

// The interface that makes a device one of ours, or -1.
int qualifying_interface(const libusb_device_descriptor& desc, const libusb_config_descriptor& config)
{
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& itf = config.interface[i];
        if (desc.bDeviceClass == 0) {
            if (itf.num_altsetting >= 1 && interface_class_qualifies(itf.altsetting[0].bInterfaceClass)) return i;
        } else if (desc.bDeviceClass == 255) {
            return i;
        }
    }
    return -1;
}

void store_entry(usbio_device_entry&& found)
{
    for (int i = 0; i < device_number; ++i) {
        usbio_device_entry& e = devices[i];
        if (e.method == found.method && e.devname == found.devname && e.vendor == found.vendor &&
            e.product == found.product) {
            // The same device again: take the new reference, keep the number (and an open handle).
            drop_reference(e);
            e.lu_device = found.lu_device;
            e.missing = 0;
            return;
        }
    }
    // Reuse an entry missing for two scans; an open one keeps its handle and its owner's number.
    for (int i = device_number - 1; i >= 0; --i) {
        usbio_device_entry& e = devices[i];
        if (e.missing >= 2 && !e.open) {
            drop_reference(e);
            e = std::move(found);
            return;
        }
    }
    if (device_number < USBIO_MAX_DEVICES) {
        devices[device_number++] = std::move(found);
        return;
    }
    libusb_unref_device(found.lu_device);
}

void libusb_scan_devices()
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(usbio_ctx, &list);
    if (count < 0) return;

    for (ssize_t n = 0; n < count; ++n) {
        libusb_device* dev = list[n];
        const int bus = libusb_get_bus_number(dev);
        const int address = libusb_get_device_address(dev);
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(dev, &desc) != 0) continue;
        if (desc.idVendor == 0 || desc.idProduct == 0) continue;

        libusb_device_handle* handle = nullptr;
        if (libusb_open(dev, &handle) != 0) continue;
        int configuration = 0;
        const int r = libusb_get_configuration(handle, &configuration);
        libusb_close(handle);
        if (r != 0 || configuration == 0) continue;

        ConfigDescriptor config;
        if (libusb_get_config_descriptor(dev, 0, &config.desc) != 0) continue;
        const int itf = qualifying_interface(desc, *config.desc);
        if (itf < 0) continue;

        usbio_device_entry entry;
        entry.method = USBIO_METHOD_LIBUSB;
        char name[32];
        std::snprintf(name, sizeof name, "libusb:%03d:%03d", bus, address);
        entry.devname = name;
        entry.vendor = desc.idVendor;
        entry.product = desc.idProduct;
        entry.interface_nr = itf;
        entry.lu_device = libusb_ref_device(dev);
        store_entry(std::move(entry));
    }
    libusb_free_device_list(list, 1);
}

// Takes the endpoint addresses of one alternate setting into the entry's empty fields.
void take_endpoints(usbio_device_entry& e, const libusb_interface_descriptor& alt)
{
    for (int k = 0; k < alt.bNumEndpoints; ++k) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[k];
        const int type = (ep.bEndpointAddress & 0x80) | (ep.bmAttributes & 3);
        int* field = endpoint_field(e, type);
        if (field != nullptr && *field == 0) *field = ep.bEndpointAddress;
    }
}

void take_all_endpoints(usbio_device_entry& e, int configurations)
{
    for (int c = 0; c < configurations; ++c) {
        ConfigDescriptor config;
        if (libusb_get_config_descriptor(e.lu_device, static_cast<uint8_t>(c), &config.desc) != 0) continue;
        for (int i = 0; i < config.desc->bNumInterfaces; ++i) {
            if (c == 0 && i != e.interface_nr) continue;
            const libusb_interface& itf = config.desc->interface[i];
            for (int a = 0; a < itf.num_altsetting; ++a) take_endpoints(e, itf.altsetting[a]);
        }
    }
}

// The longest a transfer waits on the device before asking whether the host has given up.
constexpr unsigned kSliceMs = 100;

// One transfer of `length` bytes within libusb_timeout, made of slices: whenever the device keeps
// it waiting for a whole slice, the probe of driver_cancel_requested is asked, so that a device
// that stops answering holds its caller no longer than the host wants. What moved before a slice
// ran out is kept (libusb loses nothing on a time-out) and the transfer goes on after it. The
// libusb result of the last slice.
int sliced_transfer(libusb_device_handle* handle, unsigned char endpoint, bool interrupt, unsigned char* buffer,
                    int length, int* moved)
{
    *moved = 0;
    uint64_t waited = 0;
    for (;;) {
        // A time-out of 0 waits for ever, in one piece.
        const auto slice =
            static_cast<unsigned>(libusb_timeout == 0 ? 0 : std::min<uint64_t>(kSliceMs, libusb_timeout - waited));
        int got = 0;
        const int r = interrupt
            ? libusb_interrupt_transfer(handle, endpoint, buffer + *moved, length - *moved, &got, slice)
            : libusb_bulk_transfer(handle, endpoint, buffer + *moved, length - *moved, &got, slice);
        *moved += got;
        if (r != LIBUSB_ERROR_TIMEOUT || libusb_timeout == 0) return r;
        if (*moved == length) return LIBUSB_SUCCESS;
        waited += slice;
        if (waited >= libusb_timeout) return r;
        if (driver_cancel_requested()) return r;
    }
}

int transfer(int dn, int endpoint_type, unsigned char* buffer, size_t* size)
{
    if (size == nullptr) return USBIO_STATUS_INVAL;
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return USBIO_STATUS_INVAL;
    const int endpoint = *endpoint_field(*e, endpoint_type);
    if (endpoint == 0) return USBIO_STATUS_INVAL;
    // libusb takes the length as an int.
    if (*size > static_cast<size_t>(INT_MAX)) return USBIO_STATUS_INVAL;

    const bool interrupt = endpoint_type == USBIO_EP_INT_IN;
    int moved = 0;
    const int r = sliced_transfer(e->lu_handle, static_cast<unsigned char>(endpoint), interrupt, buffer,
                                  static_cast<int>(*size), &moved);
    if (r < 0) {
        *size = 0;
        // A device that left the bus has no endpoint to clear.
        if (r == LIBUSB_ERROR_NO_DEVICE) return USBIO_STATUS_DEVICE_GONE;
        // An interrupt endpoint is only cleared after a stall; a bulk endpoint after any failure,
        // also one the host gave up, so that a reply the device still holds is dropped.
        if (!interrupt || r == LIBUSB_ERROR_PIPE) libusb_clear_halt(e->lu_handle, static_cast<unsigned char>(endpoint));
        return USBIO_STATUS_IO_ERROR;
    }
    *size = static_cast<size_t>(moved);
    if ((endpoint_type & 0x80) && moved == 0) return USBIO_STATUS_EOF;
    return USBIO_STATUS_GOOD;
}

bool present_entry(int dn)
{
    return in_range(dn) && devices[dn].missing == 0 && devices[dn].lu_device != nullptr;
}

} // namespace

int usbio_status_from_open_error(int libusb_error)
{
    switch (libusb_error) {
    case LIBUSB_SUCCESS: return USBIO_STATUS_GOOD;
    case LIBUSB_ERROR_ACCESS: return USBIO_STATUS_ACCESS_DENIED;
    case LIBUSB_ERROR_BUSY: return USBIO_STATUS_DEVICE_BUSY;
    case LIBUSB_ERROR_NO_MEM: return USBIO_STATUS_NO_MEM;
    default: return USBIO_STATUS_INVAL;
    }
}

int usbio_status_from_configuration_error(int libusb_error)
{
    switch (libusb_error) {
    case LIBUSB_SUCCESS:
    case LIBUSB_ERROR_BUSY: // another user holds the device; its configuration stands
        return USBIO_STATUS_GOOD;
    case LIBUSB_ERROR_ACCESS: return USBIO_STATUS_ACCESS_DENIED;
    default: return USBIO_STATUS_INVAL;
    }
}

int usbio_status_from_claim_error(int libusb_error)
{
    switch (libusb_error) {
    case LIBUSB_SUCCESS: return USBIO_STATUS_GOOD;
    case LIBUSB_ERROR_ACCESS: return USBIO_STATUS_ACCESS_DENIED;
    case LIBUSB_ERROR_BUSY: return USBIO_STATUS_DEVICE_BUSY;
    default: return USBIO_STATUS_INVAL;
    }
}

int usbio_init()
{
    if (device_number == 0) {
        for (auto& e : devices) e = usbio_device_entry{};
    }
    if (usbio_ctx == nullptr && libusb_init(&usbio_ctx) != 0) {
        usbio_ctx = nullptr;
        return USBIO_STATUS_IO_ERROR;
    }
    ++initialized;
    usbio_scan_devices();
    return USBIO_STATUS_GOOD;
}

void usbio_scan_devices()
{
    if (initialized == 0) return;
    for (int i = 0; i < device_number; ++i) ++devices[i].missing;
    libusb_scan_devices();
}

void usbio_exit()
{
    if (initialized == 0) return;
    if (--initialized > 0) return;
    for (int i = 0; i < device_number; ++i) {
        usbio_device_entry& e = devices[i];
        // Whatever is still open is released and closed before the context ends.
        if (e.open) close_handle(e);
        drop_reference(e);
        e.devname.clear();
    }
    libusb_exit(usbio_ctx);
    usbio_ctx = nullptr;
    device_number = 0;
}

bool usbio_has_context()
{
    return usbio_ctx != nullptr;
}

int usbio_find_devices(int vendor, int product, usbio_attach_fn attach)
{
    for (int i = 0; i < device_number && !devices[i].devname.empty(); ++i) {
        const usbio_device_entry& e = devices[i];
        if (e.vendor == vendor && e.product == product && e.missing == 0 && attach != nullptr)
            attach(e.devname.c_str());
    }
    return USBIO_STATUS_GOOD;
}

const char* config_skip_whitespace(const char* text)
{
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
    return text;
}

const char* config_get_string(const char* text, std::optional<std::string>& out)
{
    out.reset();
    text = config_skip_whitespace(text);
    if (*text == '"') {
        const char* start = text + 1;
        const char* end = std::strchr(start, '"');
        if (end == nullptr) return start + std::strlen(start);
        out.emplace(start, end);
        return end + 1;
    }
    const char* end = text;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    out.emplace(text, end);
    return end;
}

int usbio_attach_matching_devices(const char* line, usbio_attach_fn attach)
{
    if (line == nullptr) return USBIO_STATUS_INVAL;
    if (std::strncmp(line, "usb", 3) == 0 && (line[3] == '\0' || std::isspace(static_cast<unsigned char>(line[3])))) {
        long ids[2] = {0, 0};
        const char* pos = line + 3;
        for (long& id : ids) {
            std::optional<std::string> word;
            pos = config_get_string(pos, word);
            if (word) id = std::strtol(word->c_str(), nullptr, 0);
        }
        return usbio_find_devices(static_cast<int>(ids[0]), static_cast<int>(ids[1]), attach);
    }
    if (attach != nullptr) attach(line);
    return USBIO_STATUS_GOOD;
}

int usbio_open(const char* devname, int* dn)
{
    if (dn == nullptr || devname == nullptr) return USBIO_STATUS_INVAL;
    int index = -1;
    for (int i = 0; i < device_number; ++i) {
        if (devices[i].missing == 0 && devices[i].devname == devname) {
            index = i;
            break;
        }
    }
    if (index < 0) return USBIO_STATUS_INVAL;
    usbio_device_entry& e = devices[index];
    if (e.open || e.method != USBIO_METHOD_LIBUSB) return USBIO_STATUS_INVAL;

    libusb_device_handle* handle = nullptr;
    const int r = libusb_open(e.lu_device, &handle);
    if (r != 0) return usbio_status_from_open_error(r);

    // From here on, every failure closes the handle again.
    auto fail = [&](int status) {
        libusb_close(handle);
        return status;
    };
    int active = 0;
    if (libusb_get_configuration(handle, &active) != 0 || active == 0) return fail(USBIO_STATUS_INVAL);
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(e.lu_device, &desc) != 0) return fail(USBIO_STATUS_INVAL);
    int first_value = 0;
    {
        ConfigDescriptor config;
        if (libusb_get_config_descriptor(e.lu_device, 0, &config.desc) != 0) return fail(USBIO_STATUS_INVAL);
        first_value = config.desc->bConfigurationValue;
    }
    if (desc.bNumConfigurations > 1 && active != first_value) {
        const int status = usbio_status_from_configuration_error(libusb_set_configuration(handle, first_value));
        if (status != USBIO_STATUS_GOOD) return fail(status);
    }
    const int claimed = libusb_claim_interface(handle, e.interface_nr);
    if (claimed != 0) return fail(usbio_status_from_claim_error(claimed));

    take_all_endpoints(e, desc.bNumConfigurations);
    e.lu_handle = handle;
    e.open = 1;
    *dn = index;
    return USBIO_STATUS_GOOD;
}

void usbio_close(int dn)
{
    const bool workaround = workaround_enabled();
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return;
    if (workaround) libusb_set_interface_alt_setting(e->lu_handle, e->interface_nr, e->alt_setting);
    close_handle(*e);
}

int usbio_read_bulk(int dn, unsigned char* buffer, size_t* size)
{
    return transfer(dn, USBIO_EP_BULK_IN, buffer, size);
}

int usbio_write_bulk(int dn, const unsigned char* buffer, size_t* size)
{
    // libusb's buffer is not const, but an OUT transfer only reads it.
    return transfer(dn, USBIO_EP_BULK_OUT, const_cast<unsigned char*>(buffer), size);
}

int usbio_read_int(int dn, unsigned char* buffer, size_t* size)
{
    return transfer(dn, USBIO_EP_INT_IN, buffer, size);
}

int usbio_control_msg(int dn, int requesttype, int request, int value, int index, int length, unsigned char* data)
{
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr || length < 0 || length > 0xFFFF) return USBIO_STATUS_INVAL;
    const int r = libusb_control_transfer(
        e->lu_handle, static_cast<uint8_t>(requesttype), static_cast<uint8_t>(request), static_cast<uint16_t>(value),
        static_cast<uint16_t>(index), data, static_cast<uint16_t>(length), libusb_timeout);
    return r < 0 ? USBIO_STATUS_INVAL : USBIO_STATUS_GOOD;
}

void usbio_set_endpoint(int dn, int type, int address)
{
    if (!in_range(dn)) return;
    if (int* field = endpoint_field(devices[dn], type)) *field = address;
}

int usbio_get_interface(int dn)
{
    return in_range(dn) ? devices[dn].interface_nr : -1;
}

int usbio_get_endpoint(int dn, int type)
{
    if (!in_range(dn)) return 0;
    const int* field = endpoint_field(devices[dn], type);
    return field != nullptr ? *field : 0;
}

int usbio_set_altinterface(int dn, int alternate)
{
    if (!in_range(dn)) return USBIO_STATUS_INVAL;
    if (devices[dn].method != USBIO_METHOD_LIBUSB) return USBIO_STATUS_UNSUPPORTED;
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return USBIO_STATUS_INVAL;
    e->alt_setting = alternate;
    return libusb_set_interface_alt_setting(e->lu_handle, e->interface_nr, alternate) == 0 ? USBIO_STATUS_GOOD
                                                                                           : USBIO_STATUS_INVAL;
}

int usbio_set_configuration(int dn, int configuration)
{
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return USBIO_STATUS_INVAL;
    return libusb_set_configuration(e->lu_handle, configuration) == 0 ? USBIO_STATUS_GOOD : USBIO_STATUS_INVAL;
}

int usbio_claim_interface(int dn, int interface_number)
{
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr || e->missing != 0) return USBIO_STATUS_INVAL;
    return libusb_claim_interface(e->lu_handle, interface_number) == 0 ? USBIO_STATUS_GOOD : USBIO_STATUS_INVAL;
}

int usbio_release_interface(int dn, int interface_number)
{
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr || e->missing != 0) return USBIO_STATUS_INVAL;
    return libusb_release_interface(e->lu_handle, interface_number) == 0 ? USBIO_STATUS_GOOD : USBIO_STATUS_INVAL;
}

int usbio_clear_halt(int dn)
{
    const bool workaround = workaround_enabled();
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return USBIO_STATUS_INVAL;
    if (workaround) libusb_set_interface_alt_setting(e->lu_handle, e->interface_nr, e->alt_setting);
    const int in = libusb_clear_halt(e->lu_handle, static_cast<unsigned char>(e->bulk_in_ep));
    const int out = libusb_clear_halt(e->lu_handle, static_cast<unsigned char>(e->bulk_out_ep));
    return in == 0 && out == 0 ? USBIO_STATUS_GOOD : USBIO_STATUS_INVAL;
}

int usbio_reset(int dn)
{
    usbio_device_entry* e = open_entry(dn);
    if (e == nullptr) return USBIO_STATUS_INVAL;
    return libusb_reset_device(e->lu_handle) == 0 ? USBIO_STATUS_GOOD : USBIO_STATUS_INVAL;
}

int usbio_get_descriptor(int dn, usbio_descriptor* desc)
{
    if (!in_range(dn) || desc == nullptr || devices[dn].lu_device == nullptr) return USBIO_STATUS_INVAL;
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(devices[dn].lu_device, &d) != 0) return USBIO_STATUS_INVAL;
    desc->desc_type = d.bDescriptorType;
    desc->bcd_usb = d.bcdUSB;
    desc->bcd_dev = d.bcdDevice;
    desc->dev_class = d.bDeviceClass;
    desc->dev_sub_class = d.bDeviceSubClass;
    desc->dev_protocol = d.bDeviceProtocol;
    desc->max_packet_size = d.bMaxPacketSize0;
    return USBIO_STATUS_GOOD;
}

int usbio_get_vendor_product(int dn, int* vendor, int* product)
{
    if (!present_entry(dn)) return USBIO_STATUS_INVAL;
    const usbio_device_entry& e = devices[dn];
    if (vendor != nullptr) *vendor = e.vendor;
    if (product != nullptr) *product = e.product;
    return e.vendor == 0 || e.product == 0 ? USBIO_STATUS_UNSUPPORTED : USBIO_STATUS_GOOD;
}

int usbio_get_vendor_product_byname(const char* devname, int* vendor, int* product)
{
    if (devname == nullptr) return USBIO_STATUS_INVAL;
    for (int i = 0; i < device_number; ++i) {
        const usbio_device_entry& e = devices[i];
        if (e.missing != 0 || e.devname != devname) continue;
        if (e.vendor == 0 && e.product == 0) return USBIO_STATUS_UNSUPPORTED;
        if (vendor != nullptr) *vendor = e.vendor;
        if (product != nullptr) *product = e.product;
        return USBIO_STATUS_GOOD;
    }
    return USBIO_STATUS_INVAL;
}

void usbio_set_timeout(unsigned ms)
{
    libusb_timeout = ms;
}
