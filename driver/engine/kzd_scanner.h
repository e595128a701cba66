// The device-level driver object: one per opened scanner. Each operation takes one request record,
// fills its result fields and its status (1 success, else a negative driver code) and returns
// nothing else; vPaperReady returns its state code. No operation throws.
//
// The operations are virtual, in a fixed slot order (the destructor takes slots 0 and 1).
//
// Where the members are defined, by concern:
//   kzd_scanner.cpp     construction, KzdEntry and every operation that does not scan: device
//                       information, lamps, flash, counters, buttons, calibration requests
//   scan_start.cpp      starting a scan: the scan mode, the scan setting, its gamma and halftone
//                       data, the device job and the back side (vScannerStartScan and friends)
//   image_transfer.cpp during and after a scan: image reads, abort, freeing the scan's buffers
//                       and the sample-line setting
//   kzd_exports.cpp     not members: the exported C functions that forward to one object
// A new operation goes to the file of its concern; keep each file below 800 lines.
#pragma once

#include "cali_file.h"
#include "device_status.h"
#include "driver_result.h"
#include "kzd_records.h"
#include "scan_setting.h"

#include <cstdint>
#include <string>

class CInterface;
struct GLScanner;

class CKzdScanner {
public:
    // Opens the device record over the interface's handle. Without an interface, or with one that
    // holds no handle, the object has no device record and its open status is 4 (not open).
    explicit CKzdScanner(CInterface* device);
    // Stops a running scan, frees every buffer and the device record.
    virtual ~CKzdScanner();
    CKzdScanner(const CKzdScanner&) = delete;
    CKzdScanner& operator=(const CKzdScanner&) = delete;

    virtual void vInitializeScanner(stScannerInit* r);                              // 2
    virtual void vScannerCapability(stScannerCapab* r);                             // 3
    virtual void vDefaultAttribute(stScannerAttri* r);                              // 4
    virtual void vScannerStartScan(stScannerAttri* r);                              // 5
    virtual void vScannerReturnCISInfo(stScannerAttri* r);                          // 6
    virtual void vScannerGetImage(stGetImage* r);                                   // 7
    virtual void vScannerGetCISImage(stGetImage* r);                                // 8
    virtual void vScannerGetJpegImageA(stGetJpegImage* r);                          // 9
    virtual void vScannerGetJpegImageB(stGetJpegImage* r);                          // 10
    virtual void vScannerAbortScan(stAbort* r);                                     // 11
    virtual void vScannerMutiLens(stSetLens* r);                                    // 12
    virtual void vGetLampStatus(stLampStatus* r);                                   // 13
    virtual void vSetLampStatus(stLampStatus* r);                                   // 14
    virtual void vGetMultiLampStatus(stLampStatus* r);                              // 15
    virtual void vSetMultiLampStatus(stLampStatus* r);                              // 16
    virtual void vScannerGetCompCapab(stCompParam* r);                              // 17
    virtual void vScannerSetCompParam(stCompParam* r);                              // 18
    virtual void vScanner35TACalibrateSupportedStatus(st35TACalibrate* r);          // 19
    virtual void vScanner35TACalibrate(st35TACalibrate* r);                         // 20
    virtual int32_t vPaperReady();                                                  // 21
    virtual void vScannerGetSupportedButtons(GET_SUPPORTED_BUTTONS* r);             // 22
    virtual void vGetDriverVersion(DRIVER_VERSION* r);                              // 23
    virtual void vScannerGetAllFirmwareFullVersion(stFirmwareFullVersionNumber* r); // 24
    virtual void vGetCounterInfo(stCounterInfo* r);                                 // 25
    virtual void vSetCounterInfo(stCounterInfo* r);                                 // 26
    virtual void vDeviceSeriesNumber(DEVICESN* r);                                  // 27
    virtual void vDeviceModelName(DEVICENAME* r);                                   // 28
    virtual void vEraseCaliData(stEraseCaliData* r);                                // 29
    virtual void KzdEntry(void* record);                                            // 30
    virtual void vSetSampleLines(IMAGE_SAMPLE_LINES* r);                            // 31
    virtual void vGetSampleLines(IMAGE_SAMPLE_LINES* r);                            // 32
    virtual void vGetExtParams(stScannerExtParams* r);                              // 33
    virtual void vDuplexGetImgMethod(DUPLEX_GETIMG_METHOD* r);                      // 34
    virtual void vSetScannerScanMode(stSetScannerScanMode* r);                      // 35
    virtual void vSetPaperSensorAttribute(stPaperSensorParams* r);                  // 36
    virtual void vGetPaperSensorStatus(stPaperSensorStatus* r);                     // 37
    virtual void vCalibrateAllDataRequest(stCalibrateALLParams* r);                 // 38
    virtual void vCalibrateAllDataAction(stCalibrateALLParams* r);                  // 39
    virtual void vScannerFlashRead(stFlashRWParams* r);                             // 40
    virtual void vScannerFlashWrite(stFlashRWParams* r);                            // 41
    virtual void vMotorControlByAP(stMotorControlByAP* r);                          // 42
    virtual void vADFCalibrationMode(stScannerAttri* r);                            // 43
    virtual void vScannerGetPowerSetting(stPowerSetting* r);                        // 44
    virtual void vScannerSetPowerSetting(stPowerSetting* r);                        // 45

    // Frees the disposable buffers of a scan, then the calibration buffers kept across scans.
    void FreeAllBuffer();

    // For the dispatcher and the tests: the device record (null without one), the open status
    // (STATUS_GOOD open, STATUS_TRANSFER_FAILED without a device, else what scanner_new answered),
    // the scan setting and the folders.
    GLScanner* scanner() const { return scanner_; }
    eStatus open_status() const { return open_status_; }
    const SCAN_SETTING& scan_setting() const { return setting_; }
    const std::string& module_folder() const { return module_folder_; }
    const std::string& writable_folder() const { return writable_folder_; }

private:
    // Stops the device scan when one is started or a job is open; no traffic otherwise.
    void stop_running_scan();
    // Gamma blocks, magnification context, halftone record and pipeline of the last scan.
    void free_disposable_buffers();
    // The three shading buffers of the working calibration.
    void free_repeated_buffers();
    // The start's steps, each answering DRV_SUCCESS or the first failure.
    DrvResult start_scan(stScannerAttri* r);

    GLScanner* scanner_ = nullptr;
    char version_[16] = {};
    SCAN_SETTING setting_{};
    stPaperSensorParams paper_sensor_{};
    eStatus open_status_ = STATUS_TRANSFER_FAILED;
    std::string module_folder_;
    std::string writable_folder_;
};
