// The plug-in entry driven through SE_main, linked statically, on the virtual USB bus: simulated
// scanners added before op 0 (the bus is scanned once per root object), the driver's sleeps
// skipped, and its module folder a temporary folder.
#pragma once

#include "ebase.h"
#include "scanner_model.h"
#include "se_main.h"
#include "store_files.h"
#include "virtual_usb_test.h"

#include <se_boundary.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace lftest {

// A command block with its fields set and everything else zero.
inline ECDB make_block(int16_t code, uint16_t verb = 0, uint64_t value = 0, const void* record = nullptr)
{
    ECDB b;
    std::memset(&b, 0, sizeof b);
    b.code = code;
    b.verb = verb;
    b.value = value;
    b.record = reinterpret_cast<uint64_t>(record);
    return b;
}

inline uint64_t address(const void* p)
{
    return reinterpret_cast<uint64_t>(p);
}

// A command handler built directly, with empty tone tables as the root object gives them. Over
// the first scanner on the bus (open()), or over a device number nothing opened (open_failed()).
class DirectBase {
public:
    ~DirectBase();
    void open();
    void open_failed();
    EBase& operator*() { return *base_; }
    EBase* operator->() { return base_.get(); }
    // One block through Entry; the translated answer.
    int16_t entry(int16_t code, uint16_t verb = 0, uint64_t value = 0, const void* record = nullptr);

private:
    void make(uint32_t number);
    ERangeEntry contrast_[ERANGE_MAX_ENTRIES] = {};
    ERangeEntry exposure_[ERANGE_MAX_ENTRIES] = {};
    ERangeEntry offset_[ERANGE_MAX_ENTRIES] = {};
    EDITHER dithers_[12] = {};
    stEXPOSURETIME exposureTime_ = {};
    std::unique_ptr<CInterface> interface_;
    std::unique_ptr<EBase> base_;
    int dn_ = -1;
};

class EntryTest : public VirtualUsbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A simulated scanner with this profile, on bus 1 unless stated.
    sim::VirtualDevice& add_scanner(const std::string& profile = "default", int bus = 1);
    sim::ScannerModel& model(size_t i = 0) { return scanners_.at(i)->model_as<sim::ScannerModel>(); }
    sim::VirtualDevice& device(size_t i = 0) { return *scanners_.at(i); }

    int16_t op(int16_t o, ECDB* block) { return SE_main(o, block); }
    // Op 1 with a fresh block; the block's result must equal the answer.
    int16_t command(int16_t code, uint16_t verb = 0, uint64_t value = 0, const void* record = nullptr);
    // Op 0 (answer checked).
    void open_root();
    // Code 6 with the given callback block (null: none); the reply.
    SEChainReply enumerate(const SECallbackBlock* callbacks = nullptr);
    // Op 0, code 6 and code 8 of the first recorded scanner (answers checked); its device number.
    uint32_t open_first();

    const TempFolder& folder() const { return folder_; }
    // For tests that break the protocol on purpose; otherwise every model ends without violations.
    void allow_violations() { violations_allowed_ = true; }

private:
    TempFolder folder_;
    std::vector<sim::VirtualDevice*> scanners_;
    bool violations_allowed_ = false;
};

} // namespace lftest
