#include "scanner_test.h"

#include "driver_sleep.h"
#include "usbio.h"

#include <algorithm>

namespace lftest {

namespace {

std::vector<uint32_t> slept;

void count_sleep(uint32_t ms)
{
    slept.push_back(ms);
}

} // namespace

void ScannerTest::SetUp()
{
    VirtualUsbTest::SetUp();
    if (HasFatalFailure()) return;
    slept.clear();
    driver_set_sleep_function(count_sleep);
    auto [dev, model] = testbed().add_with<sim::ScannerModel>(sim::scanner_device());
    device_ = &dev;
    model_ = &model;
    ASSERT_TRUE(model.use_profile(profile())) << profile();
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    const auto names = find_scanners();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_EQ(usbio_open(names[0].c_str(), &dn_), USBIO_STATUS_GOOD);
    ASSERT_EQ(device_New(&gl_), STATUS_GOOD);
    device_Open(gl_, static_cast<uint32_t>(dn_));
    open_ = true;
    if (open_scanner()) reopen_scanner();
}

void ScannerTest::reopen_scanner()
{
    scanner_free(scanner_);
    scanner_ = nullptr;
    ASSERT_EQ(scanner_new(gl_, &scanner_), STATUS_GOOD);
    model_->clear_transcript();
    urbs_before_ = urbs().size();
}

void ScannerTest::close_device()
{
    if (!open_) return;
    open_ = false;
    device_Free(gl_);
    gl_ = nullptr;
    if (scanner_) scanner_->device = nullptr;
    usbio_close(dn_);
    usbio_exit();
}

void ScannerTest::TearDown()
{
    if (model_ != nullptr && !violations_allowed_) {
        for (const std::string& v : model_->violations()) ADD_FAILURE() << "protocol violation: " << v;
    }
    close_device();
    scanner_free(scanner_);
    scanner_ = nullptr;
    driver_set_sleep_function(nullptr);
    VirtualUsbTest::TearDown();
}

std::vector<std::string> ScannerTest::briefs() const
{
    std::vector<std::string> out;
    for (const sim::Transaction& tx : model_->transactions()) out.push_back(tx.brief());
    return out;
}

std::vector<sim::Event> ScannerTest::urbs() const
{
    auto all = device_->transcript().select([](const sim::Event& e) { return e.kind == sim::EventKind::Urb; });
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(urbs_before_, all.size())));
    return all;
}

const std::vector<uint32_t>& ScannerTest::sleeps()
{
    return slept;
}

} // namespace lftest
