// The driver object's construction, its reporting and setting operations, a driver object without
// a device, and the driver's folders, on the simulated scanner.
#include "dbg_log.h"
#include "driver_object_test.h"
#include "external_config.h"
#include "le_bytes.h"
#include "param_convert.h"
#include "scanner_profiles.h"
#include "scanner_storage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace lftest;
using Briefs = std::vector<std::string>;

constexpr int32_t kRefused5_24 = -1000000 - 5 * 1000 - 0x24;

class KzdReporting : public DriverObjectTest {};

TEST_F(KzdReporting, ConstructionOpensTheDeviceAndNamesTheFolders)
{
    drv_.reset();
    model().clear_transcript();
    drv_ = std::make_unique<CKzdScanner>(iface_.get());
    ASSERT_NE(rec(), nullptr);
    EXPECT_EQ(drv().open_status().code(), 0u);
    const Briefs b = briefs();
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.front(), "JOB C");
    EXPECT_NE(std::find(b.begin(), b.end(), "INQU"), b.end());
    EXPECT_STREQ(rec()->module_path, folder_.path().c_str());
    EXPECT_EQ(drv().module_folder(), folder_.path());
    EXPECT_EQ(drv().writable_folder(), folder_.path());
}

TEST_F(KzdReporting, InitializeReportsFirmwareMediaAndListSizes)
{
    auto r = request<stScannerInit>();
    r.ScannerModel = 0x1234;
    drv().vInitializeScanner(&r);
    EXPECT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.FirmwareVersion, 0x0105);
    EXPECT_EQ(r.ScannerModel, 0x21);
    EXPECT_EQ(r.wOne, 1);
    EXPECT_EQ(r.wValueListSize[0], 256);
    EXPECT_EQ(r.wValueListSize[1], 256);
    EXPECT_EQ(r.wValueListSize[2], 256);
    EXPECT_EQ(r.wResolutionListSize, 150);
    EXPECT_EQ(r.wHalftoneListSize, 13);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(KzdReporting, CapabilityOfTheDefaultFlatbed)
{
    std::vector<int32_t> a(256), b(256), c(256);
    std::vector<uint16_t> res(150), patterns(12);
    auto r = request<stScannerCapab>();
    r.pValueList[0] = a.data();
    r.pValueList[1] = b.data();
    r.pValueList[2] = c.data();
    r.pResolutionList = res.data();
    r.pHalftoneList = patterns.data();
    drv().vScannerCapability(&r);
    ASSERT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.ColorPlanes, 0x70F);
    EXPECT_EQ(r.BitsPerPixel, 0x8081);
    EXPECT_EQ(r.ScanSource, 5) << "the transparency unit is present";
    EXPECT_EQ(r.MaxResolution, 4800);
    EXPECT_EQ(r.stScanPositionOffsetInfo.nResolution, 4800u);
    EXPECT_EQ(r.stScanPositionOffsetInfo.nOffsetX, 40);
    EXPECT_EQ(r.stScanPositionOffsetInfo.nOffsetY, 35);
    EXPECT_EQ(r.MaxScanWidth, 8500);
    EXPECT_EQ(r.MaxScanLength, 11700);
    EXPECT_EQ(r.dwMaxScanWidth, 8500u);
    EXPECT_EQ(r.ImageEnhanced, 0x988);
    EXPECT_EQ(r.NumofGammaEntry, 0x81);
    EXPECT_EQ(r.cIsSupportShrinkableExposureRatio, 1);
    EXPECT_EQ(r.stShrinkableExposureRange.nMax, 200);
    EXPECT_EQ(r.stShrinkableExposureRange.nMin, 50);
    EXPECT_EQ(a[0], -128);
    EXPECT_EQ(a[255], 127);
    EXPECT_EQ(b[128], 0);
    EXPECT_EQ(c[255], 510);
    EXPECT_EQ(res[0], 48);
    EXPECT_EQ(res[99], 4800);
    EXPECT_EQ(patterns[0] & 0xFF, 0);
    EXPECT_EQ(patterns[11] & 0xFF, 11);

    auto bare = request<stScannerCapab>();
    drv().vScannerCapability(&bare);
    EXPECT_EQ(bare.header.FUNC_STATUS, 1) << "null lists are skipped";
    EXPECT_EQ(bare.ColorPlanes, 0x70F);
}

TEST_F(KzdReporting, ResolutionListAt1200)
{
    model().edit([](sim::ScannerRecords& r) { put_u32le(r.attributes[0].data() + 4, 1200); });
    make_driver();
    std::vector<uint16_t> res(150);
    auto r = request<stScannerCapab>();
    r.pResolutionList = res.data();
    drv().vScannerCapability(&r);
    ASSERT_EQ(r.header.FUNC_STATUS, 1);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(res[static_cast<size_t>(i)], 12 * (i + 1)) << i;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(res[static_cast<size_t>(100 + i)], 1200 + 24 * (i + 1)) << i;
}

TEST_F(KzdReporting, DefaultAttributesComputeInSixtyFourBitsAndKeepTheKeptFields)
{
    model().edit([](sim::ScannerRecords& r) {
        put_u32le(r.attributes[0].data() + 4, 1200);
        put_u32le(r.attributes[0].data() + 16, 8500);
    });
    make_driver();
    auto r = request<stScannerAttri>();
    r.ScanSource = 0;
    r.byForceCalibration = 7;
    r.cExtMember = 9;
    r.dwLineWidth = 99;
    r.ShrinkableExposureRatio = 77;
    r.ExtFrame = {1, 2, 3, 4};
    r.Threshold = 5;
    drv().vDefaultAttribute(&r);
    ASSERT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.LineWidth, 1062);
    EXPECT_EQ(r.Frame.right, 7083);
    EXPECT_EQ(r.Frame.bottom, 11700);
    EXPECT_EQ(r.LineHeight, 1755);
    EXPECT_EQ(r.ScanSource, 1);
    EXPECT_EQ(r.ColorPlanes, 14);
    EXPECT_EQ(r.Resolution, 150);
    EXPECT_EQ(r.ImageEnhanced, 0x20);
    EXPECT_EQ(r.byForceCalibration, 7);
    EXPECT_EQ(r.cExtMember, 9);
    EXPECT_EQ(r.dwLineWidth, 99u);
    EXPECT_EQ(r.ShrinkableExposureRatio, 77);
    EXPECT_EQ(r.ExtFrame.bottom, 4u);
    EXPECT_EQ(r.Threshold, 5);

    // A device whose width times 150 passes 32 bits.
    model().edit([](sim::ScannerRecords& records) {
        put_u32le(records.attributes[0].data() + 4, 0x40000000);
        put_u32le(records.attributes[0].data() + 16, 0x40000000);
    });
    make_driver();
    drv().vDefaultAttribute(&r);
    EXPECT_EQ(r.LineWidth, 150);
}

TEST_F(KzdReporting, VersionsAndTexts)
{
    auto v = request<DRIVER_VERSION>();
    drv().vGetDriverVersion(&v);
    EXPECT_EQ(v.header.FUNC_STATUS, 1);
    EXPECT_EQ(v.wVersion, 1);

    auto f = request<stFirmwareFullVersionNumber>();
    drv().vScannerGetAllFirmwareFullVersion(&f);
    EXPECT_EQ(f.header.FUNC_STATUS, 1);
    EXPECT_STREQ(f.szFWFullVersionNumber, "FW 1.05.0001");
    EXPECT_STREQ(f.szFPGAFullVersionNumber, "FPGA 2.03.0007");
    EXPECT_STREQ(f.szMCUFullVersionNumber, "MCU 0.09.0042");
    EXPECT_EQ(f.cIsSupportMCUFullVersionNumber, 1);

    auto sn = request<DEVICESN>();
    drv().vDeviceSeriesNumber(&sn);
    EXPECT_EQ(sn.header.FUNC_STATUS, 1);
    EXPECT_STREQ(sn.szSerialNumber, "SN6204000012345A");
    EXPECT_EQ(sn.wModelCode, 0x6204);
    EXPECT_EQ(sn.wSubModelCode, 0);

    auto name = request<DEVICENAME>();
    drv().vDeviceModelName(&name);
    EXPECT_EQ(name.header.FUNC_STATUS, 1);
    EXPECT_STREQ(name.szModelName, "SIMULATED SCANNER 6204");

    EXPECT_TRUE(briefs().empty());
}

TEST_F(KzdReporting, EntryReachesTheOperationsOfItsCodes)
{
    auto f = request<stFirmwareFullVersionNumber>(KZD_GET_ALL_FIRMWARE_FULL_VERSION);
    drv().KzdEntry(&f);
    EXPECT_EQ(f.header.FUNC_STATUS, 1);
    EXPECT_STREQ(f.szFWFullVersionNumber, "FW 1.05.0001");
    auto other = request<stFirmwareFullVersionNumber>(138);
    drv().KzdEntry(&other);
    EXPECT_EQ(other.header.FUNC_STATUS, -1010);
    EXPECT_EQ(other.szFWFullVersionNumber[0], 0);
    auto v = request<DRIVER_VERSION>(KZD_GET_DRIVER_VERSION);
    drv().KzdEntry(&v);
    EXPECT_EQ(v.wVersion, 1);
    auto lens = request<stSetLens>(KZD_MULTI_LENS);
    drv().KzdEntry(&lens);
    EXPECT_EQ(lens.header.FUNC_STATUS, -1010);
}

TEST_F(KzdReporting, CountersRoundTripThroughTheChecksummedEeprom)
{
    auto c = request<stCounterInfo>();
    drv().vGetCounterInfo(&c);
    ASSERT_EQ(c.header.FUNC_STATUS, 1);
    EXPECT_EQ(c.wYear, 2024);
    EXPECT_EQ(c.wMonth, 3);
    EXPECT_EQ(c.wDay, 15);
    const uint32_t want[] = {1200, 340, 56, 78, 9, 0xFFFFFFFF};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(c.dwCounter[i], want[i]) << i;

    c.wYear = 2026;
    c.wMonth = 12;
    c.wDay = 9;
    c.dwCounter[1] = 4242;
    c.dwCounter[3] = 777;
    drv().vSetCounterInfo(&c);
    ASSERT_EQ(c.header.FUNC_STATUS, 1);
    EXPECT_TRUE(sim::eeprom_sealed(model().records().eeprom));

    auto back = request<stCounterInfo>();
    drv().vGetCounterInfo(&back);
    ASSERT_EQ(back.header.FUNC_STATUS, 1);
    EXPECT_EQ(back.wYear, 2026);
    EXPECT_EQ(back.wMonth, 12);
    EXPECT_EQ(back.wDay, 9);
    EXPECT_EQ(back.dwCounter[1], 4242u);
    EXPECT_EQ(back.dwCounter[3], 777u);
    EXPECT_EQ(back.dwCounter[0], 1200u);

    // A failed read leaves zeros, not what the record held before.
    model().inject(sim::Injection::refuse(sim::Target::next("EROM"), 5, 0x24));
    auto failed = request<stCounterInfo>();
    std::memset(failed.dwCounter, 0xAB, sizeof failed.dwCounter);
    drv().vGetCounterInfo(&failed);
    EXPECT_LT(failed.header.FUNC_STATUS, 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(failed.dwCounter[i], 0u) << i;
}

TEST_F(KzdReporting, FlashAreas)
{
    auto bad = request<stFlashRWParams>();
    bad.wArea = 1;
    std::strcpy(bad.szComputerName, "keep");
    drv().vScannerFlashRead(&bad);
    EXPECT_EQ(bad.header.FUNC_STATUS, -601);
    EXPECT_STREQ(bad.szComputerName, "keep");
    drv().vScannerFlashWrite(&bad);
    EXPECT_EQ(bad.header.FUNC_STATUS, -601);
    EXPECT_TRUE(briefs().empty());

    // A name of 32 characters without a terminator is stored and read back as 31.
    auto w = request<stFlashRWParams>();
    w.wArea = FLASH_AREA_COMPUTER_NAME;
    std::memset(w.szComputerName, 'Q', sizeof w.szComputerName);
    drv().vScannerFlashWrite(&w);
    ASSERT_EQ(w.header.FUNC_STATUS, 1);
    auto r = request<stFlashRWParams>();
    r.wArea = FLASH_AREA_COMPUTER_NAME;
    drv().vScannerFlashRead(&r);
    ASSERT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(std::string(r.szComputerName), std::string(31, 'Q'));

    // The user setting: the capacity goes in, the length comes out.
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7};
    auto wu = request<stFlashRWParams>();
    wu.wArea = FLASH_AREA_USER_SETTING;
    wu.pWriteData = data;
    wu.dwWriteLength = sizeof data;
    drv().vScannerFlashWrite(&wu);
    ASSERT_EQ(wu.header.FUNC_STATUS, 1);
    uint8_t buffer[16] = {};
    uint32_t length = sizeof buffer;
    auto ru = request<stFlashRWParams>();
    ru.wArea = FLASH_AREA_USER_SETTING;
    ru.pReadData = buffer;
    ru.pReadLength = &length;
    drv().vScannerFlashRead(&ru);
    ASSERT_EQ(ru.header.FUNC_STATUS, 1);
    EXPECT_EQ(length, sizeof data);
    EXPECT_EQ(0, std::memcmp(buffer, data, sizeof data));
    // A buffer too small for what is stored is refused by the device layer and reported.
    length = 3;
    drv().vScannerFlashRead(&ru);
    EXPECT_EQ(ru.header.FUNC_STATUS, -1000);
    EXPECT_EQ(length, 0u);

    uint32_t flag = 0;
    auto pf = request<stFlashRWParams>();
    pf.wArea = FLASH_AREA_PARTITION_FLAG;
    pf.pPartitionFlag = &flag;
    drv().vScannerFlashRead(&pf);
    EXPECT_EQ(pf.header.FUNC_STATUS, 1);
    EXPECT_NE(flag & FLASH_FLAG_USER_SETTING, 0u);

    // Pointers the area needs: -601 and no traffic.
    model().clear_transcript();
    auto null_flag = request<stFlashRWParams>();
    null_flag.wArea = FLASH_AREA_PARTITION_FLAG;
    drv().vScannerFlashRead(&null_flag);
    EXPECT_EQ(null_flag.header.FUNC_STATUS, -601);
    auto null_read = request<stFlashRWParams>();
    null_read.wArea = FLASH_AREA_USER_SETTING;
    drv().vScannerFlashRead(&null_read);
    EXPECT_EQ(null_read.header.FUNC_STATUS, -601);
    auto null_write = request<stFlashRWParams>();
    null_write.wArea = FLASH_AREA_USER_SETTING;
    null_write.dwWriteLength = 4;
    drv().vScannerFlashWrite(&null_write);
    EXPECT_EQ(null_write.header.FUNC_STATUS, -601);
    EXPECT_TRUE(briefs().empty());

    // A refused transfer is reported, not answered with success.
    model().inject(sim::Injection::refuse(sim::Target::next("FLHC"), 5, 0x24));
    std::strcpy(w.szComputerName, "another");
    drv().vScannerFlashWrite(&w);
    EXPECT_EQ(w.header.FUNC_STATUS, kRefused5_24);
}

TEST_F(KzdReporting, PowerSettingsAndTheirFailures)
{
    auto p = request<stPowerSetting>();
    drv().vScannerGetPowerSetting(&p);
    ASSERT_EQ(p.header.FUNC_STATUS, 1);
    EXPECT_EQ(p.wPowerSavingTime, 15);
    EXPECT_EQ(p.wMaxPowerSavingTime, 240);
    EXPECT_EQ(p.wMaxPowerOffTime, 480);

    p.wPowerSavingTime = 30;
    drv().vScannerSetPowerSetting(&p);
    ASSERT_EQ(p.header.FUNC_STATUS, 1);
    drv().vScannerGetPowerSetting(&p);
    EXPECT_EQ(p.wPowerSavingTime, 30);

    model().inject(sim::Injection::refuse(sim::Target::next("SYS"), 5, 0x24));
    auto failed = request<stPowerSetting>();
    drv().vScannerGetPowerSetting(&failed);
    EXPECT_EQ(failed.header.FUNC_STATUS, kRefused5_24);
    EXPECT_EQ(failed.wMaxPowerSavingTime, 240) << "the fields are filled anyway";

    model().inject(sim::Injection::refuse(sim::Target::next("SYS"), 5, 0x24));
    drv().vScannerSetPowerSetting(&p);
    EXPECT_EQ(p.header.FUNC_STATUS, kRefused5_24);
}

TEST_F(KzdReporting, PaperReadyWhileScanningAsksNothing)
{
    rec()->scan_started = 1;
    EXPECT_EQ(drv().vPaperReady(), 200);
    EXPECT_TRUE(briefs().empty());
    rec()->scan_started = 0;
    EXPECT_EQ(drv().vPaperReady(), 0);
    model().edit([](sim::ScannerRecords& r) { r.system_status[6] = 1; });
    EXPECT_EQ(drv().vPaperReady(), 0x4000);
    model().inject(sim::Injection::refuse(sim::Target::next("SYS"), 5, 0x24));
    EXPECT_EQ(drv().vPaperReady(), -1);
}

TEST_F(KzdReporting, StubsAnswerTheirFixedStatus)
{
    using K = CKzdScanner;
    for (auto op : {&K::vGetLampStatus, &K::vSetLampStatus, &K::vGetMultiLampStatus, &K::vSetMultiLampStatus})
        EXPECT_EQ(status_of(drv(), op), -1010);
    EXPECT_EQ(status_of(drv(), &K::vCalibrateAllDataRequest), 1);
    EXPECT_EQ(status_of(drv(), &K::vMotorControlByAP), 1);
    EXPECT_EQ(status_of(drv(), &K::vScannerGetJpegImageA), -1010);
    uint8_t buffer[4] = {9, 9, 9, 9};
    auto cis = request<stGetImage>();
    cis.pBuffer = buffer;
    cis.ScanLineNo = 1;
    EXPECT_EQ(status_of(drv(), &K::vScannerGetCISImage, cis), -1010);
    EXPECT_EQ(buffer[0], 9) << "the buffer is left alone";
    EXPECT_TRUE(briefs().empty());
}

class KzdFeeder : public DriverObjectTest {
protected:
    std::string profile() const override { return "feeder"; }
};

TEST_F(KzdFeeder, PaperSensorsAreSetAndTheirFailuresReported)
{
    auto p = request<stPaperSensorParams>();
    p.cIRSensorEnable = 1;
    p.cHallSensorEnable = 1;
    p.cHallSensorLevel = 9;
    drv().vSetPaperSensorAttribute(&p);
    ASSERT_EQ(p.header.FUNC_STATUS, 1);
    EXPECT_EQ(rec()->ir_sensor_enable, 1);
    EXPECT_EQ(model().records().system_status[11], 2);
    EXPECT_EQ(get_u16le(model().records().system_status.data() + 12), 9);
    EXPECT_EQ((Briefs{"SYS send", "SYS send"}), briefs());

    auto buttons = request<GET_SUPPORTED_BUTTONS>();
    drv().vScannerGetSupportedButtons(&buttons);
    EXPECT_EQ(buttons.dwButtonMask, 0x8DFu);

    p.cHallSensorEnable = 0;
    drv().vSetPaperSensorAttribute(&p);
    auto s = request<stPaperSensorStatus>();
    drv().vGetPaperSensorStatus(&s);
    EXPECT_EQ(s.header.FUNC_STATUS, 1);
    EXPECT_EQ(s.cHallSensorStatus, 2) << "disabled";

    model().inject(sim::Injection::refuse(sim::Target::next("SYS"), 5, 0x24));
    drv().vSetPaperSensorAttribute(&p);
    EXPECT_EQ(p.header.FUNC_STATUS, kRefused5_24);
}

class KzdHostile : public DriverObjectTest {
protected:
    std::string profile() const override { return "hostile"; }
};

TEST_F(KzdHostile, TextsStayInsideTheirFieldsAndScansAreRefusedWithoutTraffic)
{
    ASSERT_NE(rec(), nullptr);
    auto f = request<stFirmwareFullVersionNumber>();
    std::memset(&f.szFWFullVersionNumber, 'x', sizeof f.szFWFullVersionNumber);
    drv().vScannerGetAllFirmwareFullVersion(&f);
    EXPECT_EQ(std::strlen(f.szFWFullVersionNumber), 31u);
    EXPECT_EQ(std::strlen(f.szFPGAFullVersionNumber), 31u);
    EXPECT_EQ(std::strlen(f.szMCUFullVersionNumber), 31u);
    auto name = request<DEVICENAME>();
    drv().vDeviceModelName(&name);
    EXPECT_LT(std::strlen(name.szModelName), sizeof name.szModelName);
    auto sn = request<DEVICESN>();
    drv().vDeviceSeriesNumber(&sn);
    EXPECT_LT(std::strlen(sn.szSerialNumber), sizeof sn.szSerialNumber);
    auto fl = request<stFlashRWParams>();
    fl.wArea = FLASH_AREA_COMPUTER_NAME;
    drv().vScannerFlashRead(&fl);
    EXPECT_LT(std::strlen(fl.szComputerName), sizeof fl.szComputerName);
    model().clear_transcript();

    auto a = request<stScannerAttri>(KZD_DEFAULT_ATTRIBUTE);
    drv().vDefaultAttribute(&a);
    a.Resolution = 300;
    drv().vScannerStartScan(&a);
    EXPECT_EQ(a.header.FUNC_STATUS, -1010);
    EXPECT_TRUE(briefs().empty());
}

// A driver object without a device record answers every device operation with -1000.
void expect_no_device(CKzdScanner& d)
{
    using K = CKzdScanner;
    EXPECT_EQ(d.scanner(), nullptr);
    EXPECT_EQ(status_of(d, &K::vInitializeScanner), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerCapability), -1000);
    EXPECT_EQ(status_of(d, &K::vDefaultAttribute), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerStartScan), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerReturnCISInfo), -1000);
    uint8_t line[64] = {};
    auto img = request<stGetImage>();
    img.pBuffer = line;
    img.ScanLineNo = 1;
    EXPECT_EQ(status_of(d, &K::vScannerGetImage, img), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerGetSupportedButtons), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerGetAllFirmwareFullVersion), -1000);
    EXPECT_EQ(status_of(d, &K::vGetCounterInfo), -1000);
    EXPECT_EQ(status_of(d, &K::vSetCounterInfo), -1000);
    EXPECT_EQ(status_of(d, &K::vDeviceSeriesNumber), -1000);
    EXPECT_EQ(status_of(d, &K::vDeviceModelName), -1000);
    EXPECT_EQ(status_of(d, &K::vGetSampleLines), -1000);
    EXPECT_EQ(status_of(d, &K::vGetExtParams), -1000);
    EXPECT_EQ(status_of(d, &K::vSetPaperSensorAttribute), -1000);
    EXPECT_EQ(status_of(d, &K::vGetPaperSensorStatus), -1000);
    auto flash = request<stFlashRWParams>();
    flash.wArea = FLASH_AREA_COMPUTER_NAME;
    EXPECT_EQ(status_of(d, &K::vScannerFlashRead, flash), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerFlashWrite, flash), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerGetPowerSetting), -1000);
    EXPECT_EQ(status_of(d, &K::vScannerSetPowerSetting), -1000);
    auto erase = stEraseCaliData{7, 0};
    d.vEraseCaliData(&erase);
    EXPECT_EQ(erase.status, 7u) << "no record, nothing erased";
    EXPECT_EQ(d.vPaperReady(), -1);
    EXPECT_EQ(status_of(d, &K::vScannerAbortScan), 1);
}

class KzdNoDevice : public DriverObjectTest {};

TEST_F(KzdNoDevice, ARefusedInquiryLeavesNoDeviceRecord)
{
    drv_.reset();
    model().inject(sim::Injection::refuse(sim::Target::next("INQU"), 5, 0x24));
    drv_ = std::make_unique<CKzdScanner>(iface_.get());
    EXPECT_EQ(drv().open_status().code(), 18u);
    model().clear_transcript();
    expect_no_device(drv());
    EXPECT_TRUE(briefs().empty()) << "not even a sense request";
}

// An interface whose handle could not be made.
class HandleLessInterface : public CInterface {
public:
    explicit HandleLessInterface(uint32_t dn) : CInterface(dn)
    {
        device_Free(device_);
        device_ = nullptr;
    }
};

TEST_F(KzdNoDevice, AnInterfaceWithoutAHandle)
{
    drv_.reset();
    model().clear_transcript();
    HandleLessInterface bare(static_cast<uint32_t>(device_number()));
    EXPECT_EQ(bare.GetModelCode(), 0);
    EXPECT_EQ(iface_->GetModelCode(), 1);
    CKzdScanner d(&bare);
    EXPECT_EQ(d.open_status().code(), 4u);
    expect_no_device(d);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(KzdNoDevice, NoInterfaceAtAll)
{
    drv_.reset();
    model().clear_transcript();
    CKzdScanner d(nullptr);
    EXPECT_EQ(d.open_status().code(), 4u);
    expect_no_device(d);
    EXPECT_TRUE(briefs().empty());
}

// The driver's folders.
class KzdFolders : public DriverObjectTest {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        if (old != nullptr) old_xdg_ = old;
        setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
        DriverObjectTest::SetUp();
    }
    void TearDown() override
    {
        DriverObjectTest::TearDown();
        DBG_RESET_SETTINGS();
        DBG_INIT(nullptr, DBG_MODE_STDOUT);
        if (old_xdg_)
            setenv("XDG_DATA_HOME", old_xdg_->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    static void write_config(const std::string& folder)
    {
        std::ofstream(folder + EXTERNAL_CONFIG_FILE) << "ENV_VEK_DRIVER_SCAN_FROM_HOME=1\n";
    }
    static external_config_t config()
    {
        external_config_t c{};
        ExternalConfig_Read(&c);
        return c;
    }

    TempFolder data_;
    std::optional<std::string> old_xdg_;
};

TEST_F(KzdFolders, AWritableModuleFolderHoldsEveryFile)
{
    write_config(folder_.path());
    ASSERT_TRUE(DBG_SET_SETTING("LEVEL", 30));
    make_driver();
    EXPECT_EQ(config().scan_from_home, 1);
    EXPECT_STREQ(rec()->module_path, folder_.path().c_str());
    EXPECT_TRUE(exists(folder_.file("DEBUG-LOG-6204.txt")));
    EXPECT_FALSE(std::filesystem::exists(data_.path() + "Varnoth"));
}

TEST_F(KzdFolders, AMissingModuleFolderFallsBackToTheDataFolder)
{
    const std::string missing = folder_.path() + "gone/Contents/";
    driver_set_module_folder(missing);
    const std::string data = data_.path() + "Varnoth/";
    std::filesystem::create_directories(data);
    write_config(data); // never read from here
    ASSERT_TRUE(DBG_SET_SETTING("LEVEL", 30));
    make_driver();
    EXPECT_EQ(drv().writable_folder(), data);
    EXPECT_STREQ(rec()->module_path, data.c_str());
    EXPECT_EQ(config().scan_from_home, 0);
    EXPECT_TRUE(exists(data + "DEBUG-LOG-6204.txt"));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(KzdFolders, WithoutTheSeamTheFolderIsTheParentOfTheCodesFolder)
{
    const std::optional<std::string> seam = driver_set_module_folder(std::nullopt);
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(driver_module_folder(), self.parent_path().parent_path().string() + "/");
    driver_set_module_folder(seam);
}

TEST_F(KzdFolders, HarrowinProAllowsThirtyTwoSampleLines)
{
    const std::string module = folder_.path() + "Harrowin Pro/Contents/";
    std::filesystem::create_directories(module);
    driver_set_module_folder(module);
    make_driver();
    auto r = request<IMAGE_SAMPLE_LINES>();
    drv().vGetSampleLines(&r);
    EXPECT_EQ(r.header.FUNC_STATUS, 1);
    EXPECT_EQ(r.MaxSampleLines, 32);
    EXPECT_EQ(r.SampleLines, 1);

    driver_set_module_folder(folder_.path());
    model().edit([](sim::ScannerRecords& rr) { rr.attributes[0][31] = 4; });
    make_driver();
    auto set = request<IMAGE_SAMPLE_LINES>();
    set.SampleLines = 3;
    set.MaxSampleLines = 99;
    drv().vSetSampleLines(&set);
    EXPECT_EQ(drv().scan_setting().sample_line_setting.MaxSampleLines, 99);
    drv().vGetSampleLines(&r);
    EXPECT_EQ(r.SampleLines, 3);
    EXPECT_EQ(r.MaxSampleLines, get_scanner_max_multi_sampling_line(rec()));
    EXPECT_NE(r.MaxSampleLines, 32);
}

} // namespace
