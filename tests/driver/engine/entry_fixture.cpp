#include "entry_fixture.h"

#include "driver_sleep.h"
#include "host_callbacks.h"
#include "module_folder.h"
#include "usbio.h"

namespace lftest {

DirectBase::~DirectBase()
{
    base_.reset();
    interface_.reset();
    if (dn_ >= 0) {
        usbio_close(dn_);
        usbio_exit();
    }
}

void DirectBase::make(uint32_t number)
{
    interface_ = std::make_unique<CInterface>(number);
    base_ = std::make_unique<EBase>(contrast_, 12, dithers_, exposure_, offset_, 0, 0, 0, 0, 0, 0, &exposureTime_, 0,
                                    interface_.get());
}

void DirectBase::open()
{
    ASSERT_EQ(usbio_init(), USBIO_STATUS_GOOD);
    const auto names = find_scanners();
    ASSERT_FALSE(names.empty());
    ASSERT_EQ(usbio_open(names[0].c_str(), &dn_), USBIO_STATUS_GOOD);
    make(static_cast<uint32_t>(dn_));
}

void DirectBase::open_failed()
{
    make(99);
}

int16_t DirectBase::entry(int16_t code, uint16_t verb, uint64_t value, const void* record)
{
    ECDB b = make_block(code, verb, value, record);
    return base_->Entry(&b);
}

void EntryTest::SetUp()
{
    VirtualUsbTest::SetUp();
    if (HasFatalFailure()) return;
    // The driver's polls do not wait: the simulated scanner is ready at once.
    driver_set_sleep_function([](uint32_t) {});
    driver_set_module_folder(folder_.path());
}

void EntryTest::TearDown()
{
    ECDB close = make_block(0);
    EXPECT_EQ(SE_main(SE_OP_CLOSE, &close), SE_OK);
    for (sim::VirtualDevice* d : scanners_) {
        if (violations_allowed_) break;
        for (const std::string& v : d->model_as<sim::ScannerModel>().violations())
            ADD_FAILURE() << "protocol violation: " << v;
    }
    for (int16_t i = 0; i < 12; ++i) SetCallBackfunc(nullptr, i);
    SetCallBackfunc(nullptr, 255);
    se_main_set_command_hook(nullptr);
    driver_set_module_folder(std::nullopt);
    driver_set_sleep_function(nullptr);
    VirtualUsbTest::TearDown();
}

sim::VirtualDevice& EntryTest::add_scanner(const std::string& profile, int bus)
{
    sim::DeviceDescription desc = sim::scanner_device();
    desc.bus = bus;
    auto [dev, m] = testbed().add_with<sim::ScannerModel>(desc);
    EXPECT_TRUE(m.use_profile(profile)) << profile;
    scanners_.push_back(&dev);
    return dev;
}

int16_t EntryTest::command(int16_t code, uint16_t verb, uint64_t value, const void* record)
{
    ECDB b = make_block(code, verb, value, record);
    const int16_t r = SE_main(SE_OP_COMMAND, &b);
    EXPECT_EQ(b.result, r) << "code " << code << " verb " << verb;
    return r;
}

void EntryTest::open_root()
{
    ECDB b = make_block(0);
    ASSERT_EQ(SE_main(SE_OP_OPEN, &b), SE_OK);
}

SEChainReply EntryTest::enumerate(const SECallbackBlock* callbacks)
{
    SEChainReply reply;
    std::memset(&reply, 0xA5, sizeof reply);
    EXPECT_EQ(command(SE_CMD_DEVICE_LIST, 0, address(callbacks), &reply), SE_OK);
    return reply;
}

uint32_t EntryTest::open_first()
{
    open_root();
    const SEChainReply reply = enumerate();
    EXPECT_GE(reply.count, 1);
    EXPECT_EQ(command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), SE_OK);
    return reply.numbers[0];
}

} // namespace lftest
