// The plug-in boundary between the application and the driver: the command block, every record
// that crosses SE_main, the host callback and entry function types, and the codes both sides use.
//
// Both deliverables compile this one header, so a record cannot mean one thing to the driver and
// another to the host. Every record is little-endian with natural alignment, and each size and
// offset is pinned by a static_assert below. Reserved bytes are zero.
//
// Pointers travel as 64-bit integers (value, record, table and buffer addresses); a side reads a
// record only through the address the command defines for it.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Identity of a driver bundle

// The interface a driver bundle must declare, byte for byte, to be accepted.
inline constexpr char SE_INTERFACE_ID[] = "ZORV:RDC$SE_Pro_API,1.0.0";
// Keys of the bundle's information dictionary.
inline constexpr char SE_KEY_INTERFACE_ID[] = "ZORV_SE_Interface_ID";
inline constexpr char SE_KEY_FUNCTION_SET_ID[] = "ZORV_SE_FunctionSet_ID";
// A function-set id names the driver in 32-byte name fields: at most 31 bytes and a terminator.
inline constexpr std::size_t SE_NAME_SIZE = 32;

// ---------------------------------------------------------------------------------------------
// SE_main operations

inline constexpr int16_t SE_OP_OPEN = 0;    // create the root object
inline constexpr int16_t SE_OP_COMMAND = 1; // execute one command block
inline constexpr int16_t SE_OP_CLOSE = 2;   // destroy the root object

// ---------------------------------------------------------------------------------------------
// Command codes (ECDB.code)

// Handled by the root object.
inline constexpr int16_t SE_CMD_SLOT_INFO = 0;   // single-form device information
inline constexpr int16_t SE_CMD_SLOT_INFO_2 = 1; // second single-form device information
inline constexpr int16_t SE_CMD_OPEN_SLOT = 2;   // open by slot bits (record = the bits)
inline constexpr int16_t SE_CMD_CLOSE_DEVICE = 3;
inline constexpr int16_t SE_CMD_CALLBACK_TEST = 4; // value = an SECallbackTest function
// Code 6 probes every scanner by opening it briefly: a scanner this process already holds open
// (code 8) is not listed again until it is closed.
inline constexpr int16_t SE_CMD_DEVICE_LIST = 6; // value = callback block, record = chain reply
inline constexpr int16_t SE_CMD_DEVICE_LIST_2 = 7;
inline constexpr int16_t SE_CMD_OPEN_DEVICE = 8; // value = device number
inline constexpr int16_t SE_CMD_DEVICE_INFO = 9; // value = device number, record = sub-device

// Scan commands.
inline constexpr int16_t SE_CMD_START_SCAN = 32;
// A stop refused with -100 because another call is inside (a read waiting on a scanner that stopped
// answering) is not lost: that call gives up its wait within a tenth of a second and returns, and
// the stop, sent again, gets in.
inline constexpr int16_t SE_CMD_STOP_SCAN = 33;
inline constexpr int16_t SE_CMD_READ_LINES = 34;
inline constexpr int16_t SE_CMD_START_SCAN_BACK = 37;
inline constexpr int16_t SE_CMD_READ_LINES_BACK = 38;
inline constexpr int16_t SE_CMD_READ_JPEG = 39;
inline constexpr int16_t SE_CMD_READ_JPEG_BACK = 40;
inline constexpr int16_t SE_CMD_IMAGE_INFO = 113;

// Setting commands.
inline constexpr int16_t SE_CMD_SCANNER_INFO = 64;
inline constexpr int16_t SE_CMD_DEPTH = 65;
inline constexpr int16_t SE_CMD_SOURCE = 66;
inline constexpr int16_t SE_CMD_RESOLUTION = 67;
inline constexpr int16_t SE_CMD_PAGE_LENGTH = 68;
inline constexpr int16_t SE_CMD_SCAN_FRAME = 69;
inline constexpr int16_t SE_CMD_CONTRAST = 72;
inline constexpr int16_t SE_CMD_THRESHOLD = 73;
inline constexpr int16_t SE_CMD_EXPOSURE = 80;
inline constexpr int16_t SE_CMD_GAMMA = 81;
inline constexpr int16_t SE_CMD_SMH_INPUT = 82;
inline constexpr int16_t SE_CMD_SMH_OUTPUT = 83;
inline constexpr int16_t SE_CMD_DITHER = 84;
inline constexpr int16_t SE_CMD_IMAGE_TYPE = 85;
inline constexpr int16_t SE_CMD_ERROR_STRING = 96;
inline constexpr int16_t SE_CMD_INTERNAL_LUT = 97;
inline constexpr int16_t SE_CMD_OPTICAL_RESOLUTION = 99;
inline constexpr int16_t SE_CMD_TEST_READY = 100;
inline constexpr int16_t SE_CMD_SCAN_QUALITY = 102;
inline constexpr int16_t SE_CMD_EXPOSURE_MODE = 103;
inline constexpr int16_t SE_CMD_PAPER_PRESENT = 105;
inline constexpr int16_t SE_CMD_AUTO_LAMP = 130;
inline constexpr int16_t SE_CMD_BUTTONS = 134;
inline constexpr int16_t SE_CMD_INTERPOLATION = 149;
inline constexpr int16_t SE_CMD_LAMP_CONTROL = 151;
inline constexpr int16_t SE_CMD_CALIBRATION = 168; // verb 3: value 1 mode, value 0 erase
inline constexpr int16_t SE_CMD_WHOLE_CALIBRATION = 169;
inline constexpr int16_t SE_CMD_ULTRASOUND = 176;
inline constexpr int16_t SE_CMD_AUTO_CROP = 177;
inline constexpr int16_t SE_CMD_PAPER_SENSOR = 178;
inline constexpr int16_t SE_CMD_PREVIEW_MODE = 179;
inline constexpr int16_t SE_CMD_PAPER_TYPE = 181;
inline constexpr int16_t SE_CMD_HW_JPEG = 183;
inline constexpr int16_t SE_CMD_HW_CROP_DESKEW = 184;
inline constexpr int16_t SE_CMD_COLOR_CONSISTENCY = 185;
inline constexpr int16_t SE_CMD_LAST_ERROR = 186;
inline constexpr int16_t SE_CMD_EXPOSURE_RATIO = 187;

// Sub-operations (ECDB.verb).
inline constexpr uint16_t SE_VERB_CAPABILITY = 0; // the capability or range
inline constexpr uint16_t SE_VERB_CURRENT = 1;
inline constexpr uint16_t SE_VERB_DEFAULT = 2;
inline constexpr uint16_t SE_VERB_SET = 3; // set, or execute
inline constexpr uint16_t SE_VERB_INDEX_TO_VALUE = 4;
inline constexpr uint16_t SE_VERB_VALUE_TO_INDEX = 5;

// Code 168 verb 3: what `value` asks for.
inline constexpr uint64_t SE_CALIBRATION_ERASE = 0;    // record = resolution, 0 erases all
inline constexpr uint64_t SE_CALIBRATION_SET_MODE = 1; // record = 0 smart (reuse), 1 typical

// Scan sources (code 66) and their bits in the available-source mask.
inline constexpr uint16_t SE_SOURCE_REFLECTIVE = 1;
inline constexpr uint16_t SE_SOURCE_POSITIVE_FILM = 4;
inline constexpr uint16_t SE_SOURCE_NEGATIVE_FILM = 0x104;
inline constexpr uint16_t SE_SOURCE_OTHER = 8;

// Depth codes (code 65) and image types (code 85).
inline constexpr uint16_t SE_DEPTH_1_BIT = 1;
inline constexpr uint16_t SE_DEPTH_8_BITS = 128;
inline constexpr uint16_t SE_DEPTH_16_BITS = 0x8000;
inline constexpr uint32_t SE_IMAGE_LINE_ART = 1;
inline constexpr uint32_t SE_IMAGE_HALFTONE = 2;
inline constexpr uint32_t SE_IMAGE_GRAY = 4;
inline constexpr uint32_t SE_IMAGE_COLOR = 64;

// Code 81: the channel mask sits in the upper 16 bits of `value`; this one names all three.
inline constexpr uint64_t SE_GAMMA_ALL_CHANNELS = 0x70000;

// Channel planes of the tone codes (72, 80); the master value is also reached as 2 or 1.
inline constexpr uint32_t SE_PLANE_MASTER = 4;
inline constexpr uint32_t SE_PLANE_FIRST = 32;
inline constexpr uint32_t SE_PLANE_SECOND = 16;
inline constexpr uint32_t SE_PLANE_THIRD = 8;
inline constexpr uint32_t SE_PLANE_ALL = 56;

// ---------------------------------------------------------------------------------------------
// Results (SE_main's answer and ECDB.result), 16-bit signed

inline constexpr int16_t SE_OK = 1;
inline constexpr int16_t SE_NOT_SUPPORTED = 0;
// Nested or concurrent entry into SE_main, a second op 0, a second open device, and the driver
// codes -1001 and -1002 all reach the host as -100.
inline constexpr int16_t SE_ERR_BUSY = -100;
inline constexpr int16_t SE_ERR_NO_ROOT = -102; // op 1 without root object; unknown device
// No open device, or it could not be made; also the answer of any command once the open device
// has left the bus (unplugged, switched off), which a failed transfer (-188) never means.
inline constexpr int16_t SE_ERR_NO_DEVICE = -103;
inline constexpr int16_t SE_ERR_DITHER_INDEX = -104;
inline constexpr int16_t SE_ERR_DITHER_NAME = -105;
inline constexpr int16_t SE_ERR_IMAGE_TYPE = -106;
inline constexpr int16_t SE_ERR_RANGE = -108; // value out of range, bad plane, no source
inline constexpr int16_t SE_ERR_NO_MEMORY = -109;
inline constexpr int16_t SE_ERR_NO_TABLE = -111;
inline constexpr int16_t SE_ERR_DEVICE_REFUSED = -190; // a refused device request
inline constexpr int16_t SE_ERR_TRANSFER = -188;
// Answers of driver codes the boundary maps one to one (EBase::TransferErrCodePC2Mac).
inline constexpr int16_t SE_ERR_DEVICE_STATUS = -183; // the device's status 1
inline constexpr int16_t SE_ERR_NO_MORE_LINES = -185;
// The host's forms of three codes of the wider driver family that this driver never answers
// (driver_result.h): each stands for the one driver code it names and means no more than that; no
// part of this system gives those codes a meaning, and a host takes them as failures.
inline constexpr int16_t SE_ERR_DRIVER_2000 = -184; // driver code -2000
inline constexpr int16_t SE_ERR_DRIVER_704 = -122;  // driver code -704
inline constexpr int16_t SE_ERR_DRIVER_3 = -143;    // driver code -3
inline constexpr int16_t SE_END_OF_IMAGE = -801;    // the last lines came with this answer
// Driver codes that pass the translation unchanged.
inline constexpr int16_t SE_ERR_STAGE = -1008;
inline constexpr int16_t SE_ERR_UNSUPPORTED = -1010;
inline constexpr int16_t SE_ERR_CALIBRATION_FILE = -2003;
inline constexpr int16_t SE_ERR_NO_DRIVER_OBJECT = -4001;

// ---------------------------------------------------------------------------------------------
// Function types

extern "C" {
// The host callbacks, slots 0 to 7 of the callback block. `reference` is the block's reference.
typedef int32_t SECallbackFreeSpace(uint64_t reference);
// Stores a new block of `size` bytes through `out` and answers 1; 0 when it cannot.
typedef int32_t SECallbackAllocate(uint64_t reference, int32_t size, void** out);
typedef int32_t SECallbackFree(uint64_t reference, void* block); // answers 1
typedef void* SECallbackLock(uint64_t reference, void* block);   // answers the block
typedef void SECallbackUnlock(uint64_t reference, void* block);
typedef void SECallbackYield(uint64_t reference);
typedef void SECallbackError(uint64_t reference, int16_t code, const char* text);
typedef void SECallbackProgress(uint64_t reference, int32_t done, int32_t total);
// The function that code 4 calls through `value`, with 1, 2 and 3.
typedef void SECallbackTest(int32_t first, int32_t second, int32_t third);
// The driver's export "SetCallBackfunc": registers one host service by index (1, or 0 for an
// unknown index). Under SE_SERVICE_YIELD it takes an SECallbackYieldService.
typedef int32_t SESetCallbackFunction(void* address, int16_t index);
// The host's say in the driver's long waits, called with (0, null) on the thread inside SE_main
// while a scan waits on the device: 0 gives the operation up, anything else lets it go on. It
// must not call SE_main.
typedef int16_t SECallbackYieldService(int16_t code, void* data);
}

inline constexpr int16_t SE_SERVICE_YIELD = 9;

// Slots of the callback block.
inline constexpr int SE_CALLBACK_FREE_SPACE = 0;
inline constexpr int SE_CALLBACK_ALLOCATE = 1;
inline constexpr int SE_CALLBACK_FREE = 2;
inline constexpr int SE_CALLBACK_LOCK = 3;
inline constexpr int SE_CALLBACK_UNLOCK = 4;
inline constexpr int SE_CALLBACK_YIELD = 5;
inline constexpr int SE_CALLBACK_ERROR = 6;
inline constexpr int SE_CALLBACK_PROGRESS = 7;
inline constexpr int SE_CALLBACK_COUNT = 8;

// ---------------------------------------------------------------------------------------------
// Records

// The command block (all codes). `effectiveCode` is set by SE_main; the host passes 0.
struct ECDB {
    int16_t code;
    uint16_t verb;
    uint8_t reserved0[4];
    uint64_t value;
    uint64_t record;
    uint64_t effectiveCode;
    int16_t result;
    uint8_t reserved1[6];
};

// The driver's one entry, exported by name from its bundle's code.
extern "C" typedef int16_t SEMainFunction(int16_t op, ECDB* block);

// The host callback block (code 6 `value`). `function` holds the addresses of slots 0 to 7.
struct SECallbackBlock {
    uint64_t reference;
    int16_t count;
    uint8_t reserved[6];
    uint64_t function[SE_CALLBACK_COUNT];
};

// The chain form of the device list (codes 6 and 7). `hostRef` is filled by the host before
// sending; the driver writes zero there.
struct SEChainReply {
    char name[SE_NAME_SIZE];
    uint16_t kind;
    uint8_t reserved0[2];
    uint32_t version; // driver version × 100
    uint16_t ids[16];
    uint64_t hostRef;
    uint16_t count;
    uint8_t reserved1[2];
    uint32_t numbers[16];
    uint8_t reserved2[4];
};

// The single form of the device list (codes 0 and 1); only hosts use it. `portMask` is filled by
// the host before sending.
struct SESingleReply {
    char name[SE_NAME_SIZE];
    uint32_t version;
    uint16_t id;
    uint16_t legacy;
    uint16_t slotMask;
    uint16_t portMask;
};

// One device of the chain (code 9).
struct SESubDevice {
    uint16_t firmware; // firmware version × 100
    uint16_t kind;
    uint32_t number;
    uint32_t port;
    uint32_t slot;
    uint32_t reserved;
};

// Scanner information (code 64 verb 0).
struct SEScannerInfo {
    uint16_t firmware; // firmware version × 100
    uint16_t second;   // 2
    uint16_t third;    // 0
    uint8_t subModel;
    uint8_t reserved;
};

// Geometry of the image (codes 113, 32 and 37).
struct SEImageInfo {
    uint32_t width;  // pixels
    uint32_t height; // lines
    uint32_t bytesPerLine;
};

// A line or JPEG read (codes 34, 38, 39 and 40): lines (or bytes) wanted into `buffer`, and how
// many the driver delivered. The buffer holds wanted × bytes per line.
struct SELineTransfer {
    uint64_t buffer;
    uint8_t ignored[16];
    uint32_t wanted;
    uint32_t delivered;
};

// A scan frame in pixels at the current source's optical resolution (code 69 verbs 1 to 3).
struct SEFrame {
    uint16_t left;
    uint16_t top;
    uint16_t right;
    uint16_t bottom;
};

// The largest frame of the current source and its resolution (code 69 verb 0).
struct SEFrameCap {
    uint32_t resolution;
    uint16_t left;
    uint16_t top;
    uint16_t right;
    uint16_t bottom;
};

// Page-length capability (code 68 verb 0): resolution, three times it, the maximum length.
struct SEPageLengthCap {
    uint32_t resolution;
    uint32_t tripleResolution;
    uint32_t maximumLength;
};

// A range (codes 67, 80 and 187 verb 0): minimum, maximum, and the number of values or the step.
struct SERange {
    int32_t minimum;
    int32_t maximum;
    uint32_t third;
};

// Tone tables (code 81): three table addresses, the entries of each and the bytes per entry.
struct SEGammaDescriptor {
    uint64_t table[3];
    uint32_t entries;
    uint16_t bytesPerEntry;
    uint8_t reserved[2];
};

// Image type (code 85).
struct SEImageType {
    uint32_t type;
    uint16_t second;
    uint8_t reserved[2];
};

// Optical resolution (code 99 verb 0).
struct SEOpticalResolution {
    uint32_t resolution;
};

// One dither pattern (code 84 verbs 4 and 5); its NUL-terminated name lies in bytes 2 to 33.
struct SEDitherEntry {
    uint16_t first;
    char name[32];
    uint8_t rest[14];
};

// Interpolation (code 149 verb 1).
struct SEInterpolation {
    uint16_t enabled;
    uint16_t xResolution;
    uint16_t yResolution;
};

// ---------------------------------------------------------------------------------------------
// The layout both sides rely on

#define SE_BOUNDARY_AT(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "." #field)

static_assert(sizeof(ECDB) == 40);
SE_BOUNDARY_AT(ECDB, code, 0);
SE_BOUNDARY_AT(ECDB, verb, 2);
SE_BOUNDARY_AT(ECDB, reserved0, 4);
SE_BOUNDARY_AT(ECDB, value, 8);
SE_BOUNDARY_AT(ECDB, record, 16);
SE_BOUNDARY_AT(ECDB, effectiveCode, 24);
SE_BOUNDARY_AT(ECDB, result, 32);
SE_BOUNDARY_AT(ECDB, reserved1, 34);

static_assert(sizeof(SECallbackBlock) == 80);
SE_BOUNDARY_AT(SECallbackBlock, reference, 0);
SE_BOUNDARY_AT(SECallbackBlock, count, 8);
SE_BOUNDARY_AT(SECallbackBlock, reserved, 10);
SE_BOUNDARY_AT(SECallbackBlock, function, 16);

static_assert(sizeof(SEChainReply) == 152);
SE_BOUNDARY_AT(SEChainReply, name, 0);
SE_BOUNDARY_AT(SEChainReply, kind, 32);
SE_BOUNDARY_AT(SEChainReply, reserved0, 34);
SE_BOUNDARY_AT(SEChainReply, version, 36);
SE_BOUNDARY_AT(SEChainReply, ids, 40);
SE_BOUNDARY_AT(SEChainReply, hostRef, 72);
SE_BOUNDARY_AT(SEChainReply, count, 80);
SE_BOUNDARY_AT(SEChainReply, reserved1, 82);
SE_BOUNDARY_AT(SEChainReply, numbers, 84);
SE_BOUNDARY_AT(SEChainReply, reserved2, 148);

static_assert(sizeof(SESingleReply) == 44);
SE_BOUNDARY_AT(SESingleReply, name, 0);
SE_BOUNDARY_AT(SESingleReply, version, 32);
SE_BOUNDARY_AT(SESingleReply, id, 36);
SE_BOUNDARY_AT(SESingleReply, legacy, 38);
SE_BOUNDARY_AT(SESingleReply, slotMask, 40);
SE_BOUNDARY_AT(SESingleReply, portMask, 42);

static_assert(sizeof(SESubDevice) == 20);
SE_BOUNDARY_AT(SESubDevice, firmware, 0);
SE_BOUNDARY_AT(SESubDevice, kind, 2);
SE_BOUNDARY_AT(SESubDevice, number, 4);
SE_BOUNDARY_AT(SESubDevice, port, 8);
SE_BOUNDARY_AT(SESubDevice, slot, 12);
SE_BOUNDARY_AT(SESubDevice, reserved, 16);

static_assert(sizeof(SEScannerInfo) == 8);
SE_BOUNDARY_AT(SEScannerInfo, firmware, 0);
SE_BOUNDARY_AT(SEScannerInfo, second, 2);
SE_BOUNDARY_AT(SEScannerInfo, third, 4);
SE_BOUNDARY_AT(SEScannerInfo, subModel, 6);
SE_BOUNDARY_AT(SEScannerInfo, reserved, 7);

static_assert(sizeof(SEImageInfo) == 12);
SE_BOUNDARY_AT(SEImageInfo, width, 0);
SE_BOUNDARY_AT(SEImageInfo, height, 4);
SE_BOUNDARY_AT(SEImageInfo, bytesPerLine, 8);

static_assert(sizeof(SELineTransfer) == 32);
SE_BOUNDARY_AT(SELineTransfer, buffer, 0);
SE_BOUNDARY_AT(SELineTransfer, ignored, 8);
SE_BOUNDARY_AT(SELineTransfer, wanted, 24);
SE_BOUNDARY_AT(SELineTransfer, delivered, 28);

static_assert(sizeof(SEFrame) == 8);
SE_BOUNDARY_AT(SEFrame, left, 0);
SE_BOUNDARY_AT(SEFrame, top, 2);
SE_BOUNDARY_AT(SEFrame, right, 4);
SE_BOUNDARY_AT(SEFrame, bottom, 6);

static_assert(sizeof(SEFrameCap) == 12);
SE_BOUNDARY_AT(SEFrameCap, resolution, 0);
SE_BOUNDARY_AT(SEFrameCap, left, 4);
SE_BOUNDARY_AT(SEFrameCap, top, 6);
SE_BOUNDARY_AT(SEFrameCap, right, 8);
SE_BOUNDARY_AT(SEFrameCap, bottom, 10);

static_assert(sizeof(SEPageLengthCap) == 12);
SE_BOUNDARY_AT(SEPageLengthCap, resolution, 0);
SE_BOUNDARY_AT(SEPageLengthCap, tripleResolution, 4);
SE_BOUNDARY_AT(SEPageLengthCap, maximumLength, 8);

static_assert(sizeof(SERange) == 12);
SE_BOUNDARY_AT(SERange, minimum, 0);
SE_BOUNDARY_AT(SERange, maximum, 4);
SE_BOUNDARY_AT(SERange, third, 8);

static_assert(sizeof(SEGammaDescriptor) == 32);
SE_BOUNDARY_AT(SEGammaDescriptor, table, 0);
SE_BOUNDARY_AT(SEGammaDescriptor, entries, 24);
SE_BOUNDARY_AT(SEGammaDescriptor, bytesPerEntry, 28);
SE_BOUNDARY_AT(SEGammaDescriptor, reserved, 30);

static_assert(sizeof(SEImageType) == 8);
SE_BOUNDARY_AT(SEImageType, type, 0);
SE_BOUNDARY_AT(SEImageType, second, 4);
SE_BOUNDARY_AT(SEImageType, reserved, 6);

static_assert(sizeof(SEOpticalResolution) == 4);
SE_BOUNDARY_AT(SEOpticalResolution, resolution, 0);

static_assert(sizeof(SEDitherEntry) == 48);
SE_BOUNDARY_AT(SEDitherEntry, first, 0);
SE_BOUNDARY_AT(SEDitherEntry, name, 2);
SE_BOUNDARY_AT(SEDitherEntry, rest, 34);

static_assert(sizeof(SEInterpolation) == 6);
SE_BOUNDARY_AT(SEInterpolation, enabled, 0);
SE_BOUNDARY_AT(SEInterpolation, xResolution, 2);
SE_BOUNDARY_AT(SEInterpolation, yResolution, 4);

#undef SE_BOUNDARY_AT
