// The driver object's flat C interface: no instance is ever current, so every forwarder reports
// that; instances made by CreateInstance answer through their op-code entry.
#include "kzd_exports.h"
#include "kzd_interface.h"
#include "module_folder.h"
#include "store_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A record filled with a pattern, its status set to 1234: after a forwarder only the status may
// differ.
template <typename Record> struct Patterned {
    Record r;
    Record before;
    Patterned()
    {
        std::memset(static_cast<void*>(&r), 0x5A, sizeof r);
        r.header.FUNC_STATUS = 1234;
        before = r;
    }
    bool only_status_changed()
    {
        Record copy = r;
        copy.header.FUNC_STATUS = before.header.FUNC_STATUS;
        return std::memcmp(static_cast<const void*>(&copy), static_cast<const void*>(&before), sizeof copy) == 0;
    }
};

#define EXPECT_NO_INSTANCE(name, record)                                                                               \
    {                                                                                                                  \
        Patterned<record> p;                                                                                           \
        name(&p.r);                                                                                                    \
        EXPECT_EQ(p.r.header.FUNC_STATUS, -4001) << #name;                                                             \
        EXPECT_TRUE(p.only_status_changed()) << #name;                                                                 \
        name(nullptr);                                                                                                 \
    }

TEST(ExportedSet, EveryForwarderReportsNoInstance)
{
    ASSERT_EQ(gpQRXV3Scanner, nullptr);
    VARNOTH_FORWARDERS(EXPECT_NO_INSTANCE)
    EXPECT_NO_INSTANCE(vGetPowerSetting, stPowerSetting)
    EXPECT_NO_INSTANCE(vSetPowerSetting, stPowerSetting)
    stEraseCaliData erase{77, 300};
    vEraseCaliData(&erase);
    EXPECT_EQ(static_cast<int32_t>(erase.status), -4001);
    EXPECT_EQ(erase.resolution, 300);
    vEraseCaliData(nullptr);
    EXPECT_EQ(vPaperReady(), -1);
}

TEST(ExportedSet, InstancesAnswerThroughTheirEntry)
{
    lftest::TempFolder folder; // the instance's log folder
    driver_set_module_folder(folder.path());
    void* made = reinterpret_cast<void*>(1);
    ASSERT_EQ(CreateInstance(&made, nullptr), 1);
    ASSERT_NE(made, nullptr);
    auto* object = static_cast<CKzdScanner*>(made);
    EXPECT_EQ(gpQRXV3Scanner, nullptr) << "making an instance does not make it current";

    // Codes 0 and 137 reach their operations: without a device record they report it.
    stScannerInit init{};
    init.header.wFunctionCode = 0;
    object->KzdEntry(&init);
    EXPECT_EQ(init.header.FUNC_STATUS, -1000);
    stFirmwareFullVersionNumber versions{};
    versions.header.wFunctionCode = 137;
    object->KzdEntry(&versions);
    EXPECT_EQ(versions.header.FUNC_STATUS, -1000);
    DRIVER_VERSION version{};
    version.header.wFunctionCode = 33;
    object->KzdEntry(&version);
    EXPECT_EQ(version.header.FUNC_STATUS, 1);
    EXPECT_EQ(version.wVersion, 1);
    for (uint16_t code : {uint16_t{7}, uint16_t{34}, uint16_t{138}, uint16_t{0xFFFF}}) {
        stKzdHeader header{code, 55, 0};
        object->KzdEntry(&header);
        EXPECT_EQ(header.FUNC_STATUS, -1010) << code;
    }
    object->KzdEntry(nullptr);
    ReleaseInstance(object);
    ReleaseInstance(nullptr);
    EXPECT_EQ(CreateInstance(nullptr, nullptr), 0);
    driver_set_module_folder(std::nullopt);
}

} // namespace
