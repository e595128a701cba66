// A scriptable fake driver for the host library's tests. Its code is built into test bundles (see
// fake_driver_module.cpp); its behaviour and its trace live here, in the test program, so that a
// test scripts every bundle at once and the script survives loading and unloading.
//
// Left alone it behaves like a plausible driver: one scanner, id 0x6204, in the chain form with
// the sub-device record; reflective and film sources with different areas; smart calibration and
// exposure ratio supported; 256 one-byte tone entries; a small scan.
#pragma once

#include "se_boundary.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fake {

// One call of SE_main.
struct Call {
    std::string bundle; // the bundle's name without ".bundle"
    int16_t op = 0;
    int16_t code = 0;
    uint16_t verb = 0;
    uint64_t value = 0;
    uint64_t record = 0;
    std::vector<uint8_t> bytes;               // the record as the host sent it
    std::vector<std::vector<uint8_t>> tables; // code 81 verb 3: the three tables as sent
    int16_t answer = 0;
    std::thread::id thread; // the caller's

    // "open", "close", or the code with "/verb" when it is not 0 and ":value" for verb 3.
    std::string compact() const;
    template <typename T> T as() const
    {
        T out{};
        std::memcpy(&out, bytes.data(), std::min(sizeof out, bytes.size()));
        return out;
    }
};

struct Device {
    uint16_t id = 0x6204;
    uint32_t number = 1;
    uint16_t firmware = 105;
};

// What one bundle reports.
struct BundleScript {
    std::vector<Device> devices{Device{}};
    bool chainForm = true;        // code 6 answered; otherwise codes 0 and 1
    bool deliverSubRecord = true; // code 9 writes its record
    uint16_t kind = 2;
    uint32_t version = 100;
    std::string deviceName = "Fake Scanner";
    std::optional<uint16_t> reportedCount; // the chain count written, when not the real one
    uint16_t slotMask = 0;                 // single form
};

struct Reply {
    int16_t answer = 1;
    std::vector<uint8_t> bytes; // written to the record
};

struct SourceArea {
    uint32_t optical = 0;
    SEFrameCap frame{};
};

struct ScanScript {
    SEImageInfo geometry{120, 40, 360};
    std::optional<SEImageInfo> infoGeometry; // code 113's answer when it differs from 32's
    uint32_t linesPerRead = 256;
    int16_t endCode = SE_END_OF_IMAGE;
    std::optional<uint32_t> errorAtLine; // the read reaching this line answers errorCode
    int16_t errorCode = SE_ERR_TRANSFER;
    std::chrono::milliseconds delay{0}; // per read
    std::chrono::milliseconds startDelay{0};
};

class FakeDriver {
public:
    static FakeDriver& instance();

    // Back to the default script, with an empty trace.
    void reset();
    // The script of one bundle (created from `defaults` on first use).
    BundleScript& bundle(const std::string& name);

    // Per code and verb: the answer and the bytes written to the record, instead of the default.
    void reply(int16_t code, uint16_t verb, int16_t answer, std::vector<uint8_t> bytes = {});
    template <typename T> void replyRecord(int16_t code, uint16_t verb, int16_t answer, const T& record)
    {
        std::vector<uint8_t> bytes(sizeof record);
        std::memcpy(bytes.data(), &record, sizeof record);
        reply(code, verb, answer, std::move(bytes));
    }

    BundleScript defaults;
    uint16_t sourceMask = 0x105;
    std::map<uint16_t, SourceArea> areas; // by source: 1 reflective, 4 film (also for 0x104)
    bool smartCalibration = true;
    bool exposureRatio = true;
    SERange exposureRange{50, 200, 3};
    uint8_t subModel = 0;
    uint32_t gammaEntries = 256;
    uint16_t gammaBytes = 1;
    ScanScript scan;

    std::vector<Call> trace() const;
    // The trace in compact form, from `from` on.
    std::vector<std::string> compactTrace(std::size_t from = 0) const;
    std::size_t traceSize() const;
    void clearTrace();
    // The op-1 calls of one code.
    std::vector<Call> calls(int16_t code) const;
    // The current source as the driver holds it.
    uint16_t currentSource() const;
    // Answers of the host's free-space callback, one per device list request.
    std::vector<int32_t> freeSpaceAnswers() const;

    // Whether two calls were ever inside the driver at once.
    bool overlapped() const { return overlapped_.load(); }
    // How many calls of a command (code below 256) have entered the driver, also while the first
    // of them is still inside: a test waits on it to act during a call.
    int entered(int16_t code) const { return entered_[std::size_t(code) & 0xFF].load(); }

    int16_t dispatch(const char* module, int16_t op, ECDB* block);

private:
    FakeDriver();
    int16_t command(const std::string& bundleName, ECDB& block, Call& call);
    int16_t readLines(SELineTransfer& transfer);
    SourceArea area(uint16_t source) const;

    std::atomic<int> inside_{0};
    std::atomic<bool> overlapped_{false};
    std::array<std::atomic<int>, 256> entered_{};
    mutable std::recursive_mutex mutex_;
    std::map<std::string, BundleScript> bundles_;
    std::map<std::pair<int16_t, uint16_t>, Reply> replies_;
    std::vector<Call> trace_;
    std::map<std::string, bool> rootObjects_;
    std::vector<int32_t> freeSpaceAnswers_;
    int64_t openDevice_ = -1;
    uint16_t source_ = 0;
    bool scanning_ = false;
    bool ended_ = false;
    uint32_t linesDone_ = 0;
};

// A temporary driver folder holding copies of the test bundles.
class DriverFolder {
public:
    DriverFolder();
    ~DriverFolder();
    DriverFolder(const DriverFolder&) = delete;
    DriverFolder& operator=(const DriverFolder&) = delete;

    // Copies test bundle `bundle` (FakeAlpha, FakeBeta, FakeNextVersion, FakeNoInfo,
    // FakeMalformed, FakeNoEntry, FakeLongId) in under the name `as` (default: its own).
    DriverFolder& add(const std::string& bundle, const std::string& as = {});
    // Copies the bundle directory `bundle` in under its own name.
    DriverFolder& copy(const std::filesystem::path& bundle);
    const std::filesystem::path& path() const { return path_; }
    // The code of a bundle in this folder.
    std::filesystem::path code(const std::string& bundleName, const std::string& executable) const;

private:
    std::filesystem::path path_;
};

// Whether the code at `path` is mapped in this process.
bool moduleMapped(const std::filesystem::path& path);

} // namespace fake
