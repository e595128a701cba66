#include "fake_driver.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern "C" int16_t lf_fake_driver_dispatch(const char* module, int16_t op, ECDB* block)
{
    return fake::FakeDriver::instance().dispatch(module, op, block);
}

namespace fake {

namespace {

// Bytes of the record a command carries by address, as the host sends it; 0 when `record` is a
// plain value or unused.
std::size_t recordSize(int16_t code, uint16_t verb)
{
    switch (code) {
    case SE_CMD_DEVICE_LIST:
    case SE_CMD_DEVICE_LIST_2: return sizeof(SEChainReply);
    case SE_CMD_SLOT_INFO:
    case SE_CMD_SLOT_INFO_2: return sizeof(SESingleReply);
    case SE_CMD_DEVICE_INFO: return sizeof(SESubDevice);
    case SE_CMD_SCANNER_INFO: return sizeof(SEScannerInfo);
    case SE_CMD_DEPTH: return verb <= 2 ? 2 : 0;
    case SE_CMD_SOURCE: return verb == 1 ? 4 : verb != 3 ? 2 : 0;
    case SE_CMD_RESOLUTION: return verb == 0 ? sizeof(SERange) : verb <= 2 ? 4 : 0;
    case SE_CMD_SCAN_FRAME: return verb == 0 ? sizeof(SEFrameCap) : sizeof(SEFrame);
    case SE_CMD_GAMMA: return sizeof(SEGammaDescriptor);
    case SE_CMD_IMAGE_TYPE: return sizeof(SEImageType);
    case SE_CMD_OPTICAL_RESOLUTION: return sizeof(SEOpticalResolution);
    case SE_CMD_IMAGE_INFO:
    case SE_CMD_START_SCAN: return sizeof(SEImageInfo);
    case SE_CMD_READ_LINES: return sizeof(SELineTransfer);
    case SE_CMD_INTERPOLATION: return verb == 1 ? sizeof(SEInterpolation) : 0;
    case SE_CMD_PAPER_SENSOR: return 1;
    case SE_CMD_EXPOSURE_RATIO: return verb == 0 ? sizeof(SERange) : verb <= 2 ? 4 : 0;
    case SE_CMD_EXPOSURE: return verb == 0 ? sizeof(SERange) : 4;
    case SE_CMD_CONTRAST: return 4;
    default: return 0;
    }
}

template <typename T> void write(uint64_t record, const T& value)
{
    if (record != 0) std::memcpy(reinterpret_cast<void*>(record), &value, sizeof value);
}

std::string bundleOf(const char* module)
{
    // <folder>/<name>.bundle/Contents/Linux/<executable>.so
    const std::filesystem::path bundle = std::filesystem::path(module).parent_path().parent_path().parent_path();
    return bundle.stem().string();
}

} // namespace

std::string Call::compact() const
{
    if (op == SE_OP_OPEN) return "open";
    if (op == SE_OP_CLOSE) return "close";
    if (op != SE_OP_COMMAND) return "op" + std::to_string(op);
    std::string text = std::to_string(code);
    if (verb != 0) text += "/" + std::to_string(verb);
    if (verb == SE_VERB_SET) text += ":" + std::to_string(value);
    return text;
}

FakeDriver& FakeDriver::instance()
{
    static FakeDriver driver;
    return driver;
}

FakeDriver::FakeDriver()
{
    reset();
}

void FakeDriver::reset()
{
    std::lock_guard lock(mutex_);
    defaults = BundleScript{};
    sourceMask = 0x105;
    areas.clear();
    areas[SE_SOURCE_REFLECTIVE] = SourceArea{1200, SEFrameCap{1200, 0, 0, 10199, 14039}};
    areas[SE_SOURCE_POSITIVE_FILM] = SourceArea{4800, SEFrameCap{4800, 0, 0, 7199, 9599}};
    smartCalibration = true;
    exposureRatio = true;
    exposureRange = SERange{50, 200, 3};
    subModel = 0;
    gammaEntries = 256;
    gammaBytes = 1;
    scan = ScanScript{};
    bundles_.clear();
    replies_.clear();
    trace_.clear();
    rootObjects_.clear();
    freeSpaceAnswers_.clear();
    overlapped_ = false;
    for (std::atomic<int>& count : entered_) count = 0;
    openDevice_ = -1;
    source_ = 0;
    scanning_ = false;
    ended_ = false;
    linesDone_ = 0;
}

BundleScript& FakeDriver::bundle(const std::string& name)
{
    std::lock_guard lock(mutex_);
    auto found = bundles_.find(name);
    if (found == bundles_.end()) found = bundles_.emplace(name, defaults).first;
    return found->second;
}

void FakeDriver::reply(int16_t code, uint16_t verb, int16_t answer, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    replies_[{code, verb}] = Reply{answer, std::move(bytes)};
}

std::vector<Call> FakeDriver::trace() const
{
    std::lock_guard lock(mutex_);
    return trace_;
}

std::vector<std::string> FakeDriver::compactTrace(std::size_t from) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (std::size_t i = from; i < trace_.size(); i++) out.push_back(trace_[i].compact());
    return out;
}

std::size_t FakeDriver::traceSize() const
{
    std::lock_guard lock(mutex_);
    return trace_.size();
}

void FakeDriver::clearTrace()
{
    std::lock_guard lock(mutex_);
    trace_.clear();
}

std::vector<Call> FakeDriver::calls(int16_t code) const
{
    std::lock_guard lock(mutex_);
    std::vector<Call> out;
    for (const Call& call : trace_)
        if (call.op == SE_OP_COMMAND && call.code == code) out.push_back(call);
    return out;
}

uint16_t FakeDriver::currentSource() const
{
    std::lock_guard lock(mutex_);
    return source_;
}

std::vector<int32_t> FakeDriver::freeSpaceAnswers() const
{
    std::lock_guard lock(mutex_);
    return freeSpaceAnswers_;
}

SourceArea FakeDriver::area(uint16_t source) const
{
    const uint16_t key = source == SE_SOURCE_NEGATIVE_FILM ? SE_SOURCE_POSITIVE_FILM : source;
    const auto found = areas.find(key);
    return found != areas.end() ? found->second : SourceArea{};
}

int16_t FakeDriver::dispatch(const char* module, int16_t op, ECDB* block)
{
    // A real driver has no lock: two callers inside at once is a fault of the host.
    struct Inside {
        std::atomic<int>& count;
        explicit Inside(std::atomic<int>& c, std::atomic<bool>& overlapped) : count(c)
        {
            if (count.fetch_add(1) != 0) overlapped = true;
        }
        ~Inside() { count.fetch_sub(1); }
    } inside(inside_, overlapped_);
    if (op == SE_OP_COMMAND && block != nullptr) entered_[std::size_t(block->code) & 0xFF]++;
    std::lock_guard lock(mutex_);
    Call call;
    call.bundle = bundleOf(module);
    call.op = op;
    call.thread = std::this_thread::get_id();
    if (block != nullptr) {
        call.code = block->code;
        call.verb = block->verb;
        call.value = block->value;
        call.record = block->record;
        const std::size_t size = op == SE_OP_COMMAND ? recordSize(block->code, block->verb) : 0;
        if (size != 0 && block->record != 0) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(block->record);
            call.bytes.assign(bytes, bytes + size);
        }
    }
    bool& root = rootObjects_[call.bundle];
    int16_t answer = 0;
    switch (op) {
    case SE_OP_OPEN:
        answer = root ? SE_ERR_BUSY : SE_OK;
        root = true;
        break;
    case SE_OP_CLOSE:
        root = false;
        openDevice_ = -1;
        scanning_ = false;
        answer = SE_OK;
        break;
    case SE_OP_COMMAND:
        if (block == nullptr)
            answer = SE_ERR_RANGE;
        else
            answer = root ? command(call.bundle, *block, call) : SE_ERR_NO_ROOT;
        break;
    default: break;
    }
    if (block != nullptr && answer != SE_ERR_BUSY) block->result = answer;
    call.answer = answer;
    trace_.push_back(std::move(call));
    return answer;
}

int16_t FakeDriver::command(const std::string& bundleName, ECDB& block, Call& call)
{
    const auto scripted = replies_.find({block.code, block.verb});
    if (scripted != replies_.end()) {
        if (block.record != 0 && !scripted->second.bytes.empty())
            std::memcpy(reinterpret_cast<void*>(block.record), scripted->second.bytes.data(),
                        scripted->second.bytes.size());
        return scripted->second.answer;
    }
    const BundleScript& script = bundle(bundleName);
    const auto findDevice = [&](uint64_t number) -> const Device* {
        for (const Device& device : script.devices)
            if (device.number == static_cast<uint32_t>(number)) return &device;
        return nullptr;
    };
    switch (block.code) {
    case SE_CMD_DEVICE_LIST:
    case SE_CMD_DEVICE_LIST_2: {
        if (block.code == SE_CMD_DEVICE_LIST && block.value != 0) {
            SECallbackBlock callbacks{};
            std::memcpy(&callbacks, reinterpret_cast<const void*>(block.value), sizeof callbacks);
            if (auto* freeSpace = reinterpret_cast<SECallbackFreeSpace*>(callbacks.function[SE_CALLBACK_FREE_SPACE]))
                freeSpaceAnswers_.push_back(freeSpace(callbacks.reference));
        }
        if (!script.chainForm) return 0;
        SEChainReply reply{};
        std::memcpy(reply.name, script.deviceName.data(), std::min(script.deviceName.size(), sizeof reply.name));
        reply.kind = script.kind;
        reply.version = script.version;
        for (std::size_t i = 0; i < script.devices.size() && i < 16; i++) {
            reply.ids[i] = script.devices[i].id;
            reply.numbers[i] = script.devices[i].number;
        }
        reply.count = script.reportedCount.value_or(static_cast<uint16_t>(script.devices.size()));
        write(block.record, reply);
        return SE_OK;
    }
    case SE_CMD_SLOT_INFO:
    case SE_CMD_SLOT_INFO_2: {
        if (script.chainForm) return 0;
        SESingleReply reply{};
        std::memcpy(reply.name, script.deviceName.data(), std::min(script.deviceName.size(), sizeof reply.name));
        reply.version = script.version;
        reply.id = script.devices.empty() ? 0 : script.devices[0].id;
        reply.slotMask = script.slotMask;
        reply.portMask = call.as<SESingleReply>().portMask;
        write(block.record, reply);
        return SE_OK;
    }
    case SE_CMD_DEVICE_INFO: {
        const Device* device = findDevice(block.value);
        if (device == nullptr) return 0;
        if (script.deliverSubRecord)
            write(block.record, SESubDevice{device->firmware, 2, device->number, 0, device->number, 0});
        return SE_OK;
    }
    case SE_CMD_OPEN_DEVICE:
        if (findDevice(block.value) == nullptr) return SE_ERR_NO_ROOT;
        if (openDevice_ >= 0) return SE_ERR_BUSY;
        openDevice_ = static_cast<int64_t>(static_cast<uint32_t>(block.value));
        return SE_OK;
    case SE_CMD_OPEN_SLOT:
        if (openDevice_ >= 0) return SE_ERR_BUSY;
        if ((script.slotMask & block.record) == 0) return SE_ERR_NO_ROOT;
        openDevice_ = static_cast<int64_t>(block.record);
        return SE_OK;
    case SE_CMD_CLOSE_DEVICE:
        openDevice_ = -1;
        scanning_ = false;
        return SE_OK;
    default: break;
    }
    if (openDevice_ < 0) return SE_ERR_NO_DEVICE;

    switch (block.code) {
    case SE_CMD_SCANNER_INFO: {
        const Device* device = findDevice(static_cast<uint64_t>(openDevice_));
        const uint16_t firmware =
            device != nullptr ? device->firmware : (script.devices.empty() ? 0 : script.devices[0].firmware);
        write(block.record, SEScannerInfo{firmware, 2, 0, subModel, 0});
        return SE_OK;
    }
    case SE_CMD_DEPTH:
        if (block.verb == SE_VERB_CAPABILITY) write(block.record, uint16_t{0x8081});
        return block.verb <= SE_VERB_SET ? SE_OK : 0;
    case SE_CMD_SOURCE:
        if (block.verb == SE_VERB_CAPABILITY || block.verb == SE_VERB_DEFAULT) {
            write(block.record, sourceMask);
            return SE_OK;
        }
        if (block.verb == SE_VERB_CURRENT) {
            const uint16_t both[2] = {sourceMask, sourceMask};
            write(block.record, both);
            return SE_OK;
        }
        if (block.verb == SE_VERB_SET) {
            source_ = (block.value & 2) != 0 ? SE_SOURCE_OTHER : static_cast<uint16_t>(block.value);
            if ((source_ & sourceMask) != 0) return SE_OK;
            source_ = 0;
            return SE_ERR_RANGE;
        }
        return 0;
    case SE_CMD_OPTICAL_RESOLUTION:
        if (block.verb != SE_VERB_CAPABILITY) return 0;
        write(block.record, SEOpticalResolution{area(source_).optical});
        return SE_OK;
    case SE_CMD_SCAN_FRAME: {
        const SEFrameCap largest = area(source_).frame;
        if (block.verb == SE_VERB_CAPABILITY) {
            write(block.record, largest);
            return SE_OK;
        }
        if (block.verb != SE_VERB_SET) return 0;
        const auto frame = call.as<SEFrame>();
        return frame.top > largest.bottom || frame.left > largest.right ? 0 : SE_OK;
    }
    case SE_CMD_IMAGE_TYPE:
        if (block.verb == SE_VERB_CAPABILITY) write(block.record, SEImageType{71, 0, {}});
        return SE_OK;
    case SE_CMD_CALIBRATION:
        if (block.verb == SE_VERB_CAPABILITY) return smartCalibration ? SE_OK : 0;
        return SE_OK;
    case SE_CMD_RESOLUTION:
        if (block.verb == SE_VERB_CAPABILITY) write(block.record, SERange{15, 9600, 9586});
        return SE_OK;
    case SE_CMD_EXPOSURE_RATIO:
        if (block.verb == SE_VERB_CAPABILITY) {
            if (!exposureRatio) return 0;
            write(block.record, exposureRange);
        }
        return SE_OK;
    case SE_CMD_SCAN_QUALITY: return SE_OK;
    case SE_CMD_GAMMA: {
        if (block.record == 0) return 0;
        auto gamma = call.as<SEGammaDescriptor>();
        if (block.verb == SE_VERB_DEFAULT) {
            if (gamma.table[0] != 0 || gamma.table[1] != 0 || gamma.table[2] != 0) return SE_OK;
            gamma.entries = gammaEntries;
            gamma.bytesPerEntry = gammaBytes;
            write(block.record, gamma);
            return SE_OK;
        }
        if (block.verb != SE_VERB_SET) return 0;
        // Reads every table whole, as a driver copies them: a short table shows under ASan.
        const std::size_t bytes = std::size_t{gamma.entries} * gamma.bytesPerEntry;
        for (uint64_t table : gamma.table) {
            if (table == 0) return SE_ERR_NO_TABLE;
            const auto* data = reinterpret_cast<const uint8_t*>(table);
            call.tables.emplace_back(data, data + bytes);
        }
        return SE_OK;
    }
    case SE_CMD_IMAGE_INFO:
        if (block.verb == SE_VERB_CAPABILITY) return SE_OK;
        if (block.verb != SE_VERB_CURRENT) return 0;
        write(block.record, scan.infoGeometry.value_or(scan.geometry));
        return SE_OK;
    case SE_CMD_START_SCAN:
        if (scan.startDelay.count() > 0) std::this_thread::sleep_for(scan.startDelay);
        write(block.record, scan.geometry);
        scanning_ = true;
        ended_ = false;
        linesDone_ = 0;
        return SE_OK;
    case SE_CMD_READ_LINES: {
        if (block.record == 0) return SE_ERR_RANGE;
        auto transfer = call.as<SELineTransfer>();
        const int16_t answer = readLines(transfer);
        write(block.record, transfer);
        return answer;
    }
    case SE_CMD_STOP_SCAN: scanning_ = false; return SE_OK;
    default: return 0;
    }
}

int16_t FakeDriver::readLines(SELineTransfer& transfer)
{
    transfer.delivered = 0;
    if (scan.delay.count() > 0) std::this_thread::sleep_for(scan.delay);
    if (!scanning_) return SE_ERR_STAGE;
    if (ended_) return scan.endCode;
    if (transfer.wanted == 0) return SE_OK;
    const uint32_t height = scan.geometry.height;
    uint32_t lines = std::min({transfer.wanted, scan.linesPerRead, height - linesDone_});
    bool failing = false;
    if (scan.errorAtLine && linesDone_ + lines > *scan.errorAtLine) {
        lines = *scan.errorAtLine > linesDone_ ? *scan.errorAtLine - linesDone_ : 0;
        failing = true;
    }
    // Each line is filled with the low byte of its number.
    auto* buffer = reinterpret_cast<uint8_t*>(transfer.buffer);
    for (uint32_t i = 0; i < lines; i++)
        std::memset(buffer + std::size_t{i} * scan.geometry.bytesPerLine, int((linesDone_ + i) & 0xFF),
                    scan.geometry.bytesPerLine);
    linesDone_ += lines;
    transfer.delivered = lines;
    if (failing) return scan.errorCode;
    if (linesDone_ >= height) {
        ended_ = true;
        return scan.endCode;
    }
    return SE_OK;
}

DriverFolder::DriverFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/drivers.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

DriverFolder::~DriverFolder()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

DriverFolder& DriverFolder::add(const std::string& bundle, const std::string& as)
{
    const std::filesystem::path from = std::filesystem::path(FAKE_BUNDLE_STORE) / (bundle + ".bundle");
    const std::filesystem::path to = path_ / ((as.empty() ? bundle : as) + ".bundle");
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
    return *this;
}

DriverFolder& DriverFolder::copy(const std::filesystem::path& bundle)
{
    std::filesystem::copy(bundle, path_ / bundle.filename(), std::filesystem::copy_options::recursive);
    return *this;
}

std::filesystem::path DriverFolder::code(const std::string& bundleName, const std::string& executable) const
{
    return path_ / (bundleName + ".bundle") / "Contents" / "Linux" / (executable + ".so");
}

bool moduleMapped(const std::filesystem::path& path)
{
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) return false;
    dlclose(module);
    return true;
}

} // namespace fake
