// The driver's USB layer over libusb-1.0 (synchronous calls only): a process-wide table of the
// USB devices found on the buses, finding by vendor and product id, opening by name, bulk,
// interrupt and control transfers with one global time-out, halt clearing and closing.
// Every operation returns a UsbioStatus (device_status.h) unless stated otherwise.
#pragma once

#include "device_status.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

constexpr int USBIO_MAX_DEVICES = 100;

// Endpoint keys of usbio_set_endpoint/usbio_get_endpoint: direction bit 0x80 plus transfer type.
enum : int {
    USBIO_EP_CONTROL_OUT = 0x00,
    USBIO_EP_ISO_OUT = 0x01,
    USBIO_EP_BULK_OUT = 0x02,
    USBIO_EP_INT_OUT = 0x03,
    USBIO_EP_CONTROL_IN = 0x80,
    USBIO_EP_ISO_IN = 0x81,
    USBIO_EP_BULK_IN = 0x82,
    USBIO_EP_INT_IN = 0x83,
};

// Called with the name ("libusb:BBB:DDD") of each matching device.
using usbio_attach_fn = int (*)(const char* devname);

// Fields of the device descriptor that usbio_get_descriptor reports.
struct usbio_descriptor {
    uint8_t desc_type;
    unsigned bcd_usb;
    unsigned bcd_dev;
    uint8_t dev_class;
    uint8_t dev_sub_class;
    uint8_t dev_protocol;
    uint8_t max_packet_size;
};

// Creates the libusb context on first use and scans the buses; nested calls are counted.
// USBIO_STATUS_IO_ERROR (nothing counted) when libusb cannot start.
int usbio_init();
// Undoes one usbio_init; the last one closes what is still open and ends the libusb context.
void usbio_exit();
// Rescans the buses: entries not seen count one more missing scan.
void usbio_scan_devices();
// Calls `attach` (null: nothing) for every present entry with these ids. Returns 0.
int usbio_find_devices(int vendor, int product, usbio_attach_fn attach);
int usbio_attach_matching_devices(const char* line, usbio_attach_fn attach);

int usbio_open(const char* devname, int* dn);
void usbio_close(int dn);

// `size` holds the bytes asked for on entry and the bytes moved on return.
int usbio_read_bulk(int dn, unsigned char* buffer, size_t* size);
int usbio_write_bulk(int dn, const unsigned char* buffer, size_t* size);
int usbio_read_int(int dn, unsigned char* buffer, size_t* size);
int usbio_control_msg(int dn, int requesttype, int request, int value, int index, int length, unsigned char* data);

void usbio_set_endpoint(int dn, int type, int address);
// The interface number claimed on open (-1 for a number out of range).
int usbio_get_interface(int dn);
int usbio_get_endpoint(int dn, int type);
int usbio_set_altinterface(int dn, int alternate);
int usbio_set_configuration(int dn, int configuration);
int usbio_claim_interface(int dn, int interface_number);
int usbio_release_interface(int dn, int interface_number);
int usbio_clear_halt(int dn);
int usbio_reset(int dn);
int usbio_get_descriptor(int dn, usbio_descriptor* desc);
int usbio_get_vendor_product(int dn, int* vendor, int* product);
int usbio_get_vendor_product_byname(const char* devname, int* vendor, int* product);
// The bulk time-out in milliseconds (60000 unless changed).
void usbio_set_timeout(unsigned ms);

// Configuration-line helpers: the first character that is not white space; and after white space
// a double-quoted string (without quotes; nothing when unterminated) or a word, as an owned copy.
// Both return the position behind what they read.
const char* config_skip_whitespace(const char* text);
const char* config_get_string(const char* text, std::optional<std::string>& out);

// Mappings of libusb error codes to usbio status, one per step of usbio_open.
int usbio_status_from_open_error(int libusb_error);
int usbio_status_from_configuration_error(int libusb_error);
int usbio_status_from_claim_error(int libusb_error);

// Whether the layer holds a libusb context (between the first init and the last exit).
bool usbio_has_context();
