// The host library and the scanner object with the driver bundle as the build writes it, on the
// simulated scanner.
//
// Each test copies the built bundle into a driver folder of its own (the driver keeps its
// calibration file in its module folder), and creates the virtual USB bus before anything can load
// the driver: the driver's USB layer lives from its op 0 to its op 2, and the bus must outlive it.
#include "fake_driver.h"
#include "plugin_bundle.h"
#include "quorvane_scanner.h"
#include "se_host.h"
#include "se_host_session.h"
#include "testbed.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class VarnothTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder.emplace();
        folder->copy(VARNOTH_BUNDLE_PATH);
        testbed.emplace();
    }
    void TearDown() override
    {
        // The driver's USB layer ends with its op 2, before the bus goes.
        SEHost_Shutdown();
        testbed.reset();
        folder.reset();
    }

    std::filesystem::path bundle() const { return folder->path() / "Varnoth.bundle"; }

    std::optional<fake::DriverFolder> folder;
    std::optional<sim::Testbed> testbed;
};

TEST_F(VarnothTest, TheBuiltBundleIsAcceptedAsDriverVarnoth)
{
    char name[SE_NAME_SIZE] = {};
    ASSERT_TRUE(SE_FunctionSetIdOfBundle(bundle(), name));
    EXPECT_STREQ(name, "Varnoth");
    const std::unique_ptr<platform::PluginBundle> opened = platform::PluginBundle::create(bundle());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->infoString(SE_KEY_INTERFACE_ID), std::string(SE_INTERFACE_ID));
    ASSERT_TRUE(opened->executablePath().has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(*opened->executablePath()));

    Handle session = nullptr;
    const std::filesystem::path path = folder->path();
    ASSERT_EQ(SE_ProCall(&session, SE_PROC_OPEN, const_cast<std::filesystem::path*>(&path)), 0);
    std::filesystem::path found;
    EXPECT_TRUE(SE_DriverBundlePath(session, "Varnoth", &found));
    EXPECT_EQ(found, bundle());
    EXPECT_EQ(SE_ProCall(session, SE_PROC_CLOSE, nullptr), 0);
}

} // namespace
