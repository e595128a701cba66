// Fixture for the driver object on the simulated scanner: a CInterface on the scanner's device
// number and a CKzdScanner over it, with the module folder set to a temporary folder. The
// transcript starts empty after construction.
#pragma once

#include "gl_scanner.h"
#include "kzd_interface.h"
#include "kzd_scanner.h"
#include "module_folder.h"
#include "scanner_test.h"
#include "store_files.h"

#include <memory>
#include <optional>
#include <string>

namespace lftest {

// A request record with its entry code and a status every operation must overwrite.
template <typename R> R request(uint16_t code = 0)
{
    R r{};
    r.header.wFunctionCode = code;
    r.header.FUNC_STATUS = 12345;
    return r;
}

// The status an operation answers for a record.
template <typename R> int32_t status_of(CKzdScanner& d, void (CKzdScanner::*op)(R*), R r = request<R>())
{
    (d.*op)(&r);
    return r.header.FUNC_STATUS;
}

class DriverObjectTest : public ScannerTest {
protected:
    bool open_scanner() const override { return false; }
    void SetUp() override
    {
        ScannerTest::SetUp();
        if (HasFatalFailure()) return;
        previous_folder_ = driver_set_module_folder(folder_.path());
        make_driver();
    }
    void TearDown() override
    {
        drv_.reset();
        iface_.reset();
        driver_set_module_folder(previous_folder_);
        ScannerTest::TearDown();
    }
    // A new driver object (the old one is destroyed first); the transcript starts empty again.
    void make_driver()
    {
        drv_.reset();
        iface_.reset();
        iface_ = std::make_unique<CInterface>(static_cast<uint32_t>(device_number()));
        drv_ = std::make_unique<CKzdScanner>(iface_.get());
        model().clear_transcript();
    }
    CKzdScanner& drv() { return *drv_; }
    GLScanner* rec() { return drv_->scanner(); }

    TempFolder folder_;
    std::unique_ptr<CInterface> iface_;
    std::unique_ptr<CKzdScanner> drv_;

private:
    std::optional<std::string> previous_folder_;
};

} // namespace lftest
