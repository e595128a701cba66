// The host session on test bundles: discovery, loading and unloading, and its refusals.
#include "fake_driver.h"
#include "se_host_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lumenfield;

namespace {

using fake::DriverFolder;
using fake::FakeDriver;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDriver::instance().reset(); }

    SEResult open(const DriverFolder& folder) { return SEHostSession::open(folder.path(), session); }
    // The next driver; the name it opened, or the answer when it opened none.
    std::string next()
    {
        char name[SE_NAME_SIZE] = {};
        const SEResult answer = session->openNextDriver(name);
        return answer.ok() ? std::string(name) : std::to_string(answer.code());
    }
    SEResult openByName(const char* name) { return session->openDriver(name); }
    SEResult send(int16_t code)
    {
        ECDB block{};
        block.code = code;
        return session->command(block);
    }

    std::unique_ptr<SEHostSession> session;
};

TEST_F(SessionTest, AFolderOfOnlyUnacceptableBundlesIsRefused)
{
    DriverFolder folder;
    folder.add("FakeNextVersion").add("FakeNoInfo").add("FakeMalformed").add("FakeLongId");
    // A failed open leaves the caller's session as it was.
    DriverFolder good;
    good.add("FakeAlpha");
    ASSERT_EQ(open(good), SE_SUCCESS);
    const SEHostSession* before = session.get();
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(folder), SE_HOST_NO_DRIVER_LIST);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(session.get(), before);
    EXPECT_NE(printed.find("FakeLongId.bundle: function-set id of 32 bytes skipped"), std::string::npos) << printed;
}

TEST_F(SessionTest, AFolderThatIsNoDirectoryIsRefused)
{
    EXPECT_EQ(SEHostSession::open("/nonexistent/drivers", session), SE_HOST_SESSION_NOT_OPEN);
    DriverFolder folder;
    folder.add("FakeAlpha");
    const std::filesystem::path file = folder.path() / "FakeAlpha.bundle" / "Contents" / "Info.plist";
    EXPECT_EQ(SEHostSession::open(file, session), SE_HOST_SESSION_NOT_OPEN);
    EXPECT_EQ(session, nullptr);
}

TEST_F(SessionTest, NextDriverWalksTheListAndDestroysEachRootBeforeUnloading)
{
    DriverFolder folder;
    folder.add("FakeBeta").add("FakeAlpha").add("FakeNextVersion");
    ASSERT_EQ(open(folder), SE_SUCCESS);
    FakeDriver& driver = FakeDriver::instance();

    EXPECT_EQ(next(), "FakeAlpha"); // bytewise order of the bundle names
    EXPECT_TRUE(fake::moduleMapped(folder.code("FakeAlpha", "FakeAlpha")));
    EXPECT_EQ(next(), "FakeBeta");
    EXPECT_FALSE(fake::moduleMapped(folder.code("FakeAlpha", "FakeAlpha")));
    EXPECT_EQ(next(), "0");
    EXPECT_FALSE(fake::moduleMapped(folder.code("FakeBeta", "FakeBeta")));

    const std::vector<fake::Call> trace = driver.trace();
    ASSERT_EQ(trace.size(), 4u);
    const std::pair<std::string, std::string> expected[] = {
        {"FakeAlpha", "open"}, {"FakeAlpha", "close"}, {"FakeBeta", "open"}, {"FakeBeta", "close"}};
    for (std::size_t i = 0; i < trace.size(); i++) {
        EXPECT_EQ(trace[i].bundle, expected[i].first) << i;
        EXPECT_EQ(trace[i].compact(), expected[i].second) << i;
    }
    EXPECT_EQ(next(), "0"); // stays exhausted until a rewind
    session->rewind();
    EXPECT_EQ(next(), "FakeAlpha");
}

TEST_F(SessionTest, Refusals)
{
    DriverFolder folder;
    folder.add("FakeAlpha").add("FakeBeta");
    ASSERT_EQ(open(folder), SE_SUCCESS);
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SE_HOST_NO_DRIVER_OPEN);
    EXPECT_EQ(openByName("Unknown"), SE_HOST_LOAD_FAILED);
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SE_HOST_NO_DRIVER_OPEN);
    EXPECT_EQ(next(), "FakeAlpha"); // opening by name moved no cursor
    // A driver open by name closes the one that was open and is answered by its own code.
    EXPECT_EQ(openByName("FakeBeta"), SE_SUCCESS);
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SEResult(SE_ERR_NO_DEVICE));
    EXPECT_EQ(FakeDriver::instance().compactTrace(), (std::vector<std::string>{"open", "close", "open", "64"}));
    EXPECT_EQ(FakeDriver::instance().trace().back().bundle, "FakeBeta");
    EXPECT_EQ(openByName("Unknown"), SE_HOST_LOAD_FAILED);
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SE_HOST_NO_DRIVER_OPEN);
}

TEST_F(SessionTest, ABundleWithoutEntryIsUnloadedAndTheWalkGoesOn)
{
    DriverFolder folder;
    folder.add("FakeNoEntry", "0NoEntry").add("FakeAlpha");
    ASSERT_EQ(open(folder), SE_SUCCESS);
    testing::internal::CaptureStdout();
    EXPECT_EQ(next(), std::to_string(SE_HOST_LOAD_FAILED.code()));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("exports no SE_main"), std::string::npos);
    EXPECT_FALSE(fake::moduleMapped(folder.code("0NoEntry", "FakeNoEntry")));
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SE_HOST_NO_DRIVER_OPEN);
    EXPECT_EQ(next(), "FakeAlpha");
    testing::internal::CaptureStdout();
    EXPECT_EQ(openByName("FakeNoEntry"), SE_HOST_LOAD_FAILED);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(send(SE_CMD_SCANNER_INFO), SE_HOST_NO_DRIVER_OPEN);
}

TEST_F(SessionTest, LoadCloseAndLoadAgainMapsTheCodeAfresh)
{
    DriverFolder folder;
    folder.add("FakeAlpha");
    ASSERT_EQ(open(folder), SE_SUCCESS);
    const std::filesystem::path code = folder.code("FakeAlpha", "FakeAlpha");
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(openByName("FakeAlpha"), SE_SUCCESS) << i;
        ASSERT_TRUE(fake::moduleMapped(code)) << i;
        session->closeDriver();
        ASSERT_FALSE(fake::moduleMapped(code)) << i;
    }
    EXPECT_EQ(FakeDriver::instance().traceSize(), 200u);
    // Closing the session with a driver open destroys its root object, then unloads it.
    ASSERT_EQ(openByName("FakeAlpha"), SE_SUCCESS);
    session.reset();
    EXPECT_EQ(FakeDriver::instance().trace().back().compact(), "close");
    EXPECT_FALSE(fake::moduleMapped(code));
}

TEST_F(SessionTest, APresetListReplacesTheFolderScan)
{
    DriverFolder folder;
    folder.add("FakeAlpha");
    DriverFolder elsewhere;
    elsewhere.add("FakeBeta");
    const std::filesystem::path preset[] = {elsewhere.path() / "FakeBeta.bundle"};
    ASSERT_EQ(SEHostSession::open(folder.path(), session, preset), SE_SUCCESS);
    EXPECT_EQ(next(), "FakeBeta");
    EXPECT_EQ(next(), "0");
}

TEST_F(SessionTest, OperationsToldByRole)
{
    EXPECT_TRUE(SE_SameInterfaceFamily("ZORV:RDC$SE_Pro_API,1.0.1", SE_INTERFACE_ID));
    EXPECT_FALSE(SE_SameInterfaceFamily("ZORV:RDC$SE_Other_API,1.0.0", SE_INTERFACE_ID));

    DriverFolder folder;
    folder.add("FakeAlpha").add("FakeBeta").add("FakeLongId");
    char name[SE_NAME_SIZE] = {};
    ASSERT_TRUE(SE_FunctionSetIdOfBundle(folder.path() / "FakeBeta.bundle", name));
    EXPECT_STREQ(name, "FakeBeta");
    EXPECT_FALSE(SE_FunctionSetIdOfBundle(folder.path() / "FakeLongId.bundle", name));
    EXPECT_FALSE(SE_FunctionSetIdOfBundle(folder.path() / "Missing.bundle", name));

    testing::internal::CaptureStdout();
    ASSERT_EQ(open(folder), SE_SUCCESS);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(session->driverNameById(0, name));
    EXPECT_STREQ(name, "FakeAlpha"); // ids are never set: the cursor's node, the head
    EXPECT_FALSE(session->driverNameById(7, name));
    std::filesystem::path bundle;
    ASSERT_TRUE(session->driverBundlePath("FakeBeta", &bundle));
    EXPECT_EQ(bundle, folder.path() / "FakeBeta.bundle");
    EXPECT_FALSE(session->driverBundlePath("FakeLongId", &bundle));
}

TEST(SessionNames, NamesAreCutAndTerminated)
{
    char name[SE_NAME_SIZE];
    const char unterminated[SE_NAME_SIZE] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k',
                                             'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
                                             'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5'};
    SE_CopyName(name, unterminated, sizeof unterminated);
    EXPECT_EQ(std::string(name), std::string(unterminated, 31));
    SE_CopyName(name, "short");
    EXPECT_STREQ(name, "short");
    EXPECT_EQ(name[31], '\0');
    SE_CopyName(name, nullptr);
    EXPECT_STREQ(name, "");
}

} // namespace
