// The driver object's flat C interface: CreateInstance and ReleaseInstance, and one forwarder per
// operation that calls the operation on the current instance. No instance is ever made current
// (gpQRXV3Scanner stays null), so every forwarder reports DRV_NO_INSTANCE and vPaperReady answers
// -1. No exception leaves a forwarder: it sets the record's status to DRV_NO_MEMORY instead.
#pragma once

#include "kzd_records.h"
#include "kzd_scanner.h"
#include "varnoth_export.h"

#include "cali_file.h"

#include <cstdint>

class CInterface;

extern CKzdScanner* gpQRXV3Scanner;

extern "C" {
// Makes a driver object over `device` and stores it through `out`: DRV_SUCCESS; DRV_NO_MEMORY (null
// stored) when it cannot be made, 0 without `out`.
VARNOTH_EXPORT int32_t CreateInstance(void** out, CInterface* device);
// Deletes an object from CreateInstance; null is accepted.
VARNOTH_EXPORT void ReleaseInstance(CKzdScanner* object);

#define VARNOTH_FORWARDER(name, record) VARNOTH_EXPORT void name(record* r);
#define VARNOTH_FORWARDERS(X)                                                                                          \
    X(vInitializeScanner, stScannerInit)                                                                               \
    X(vScannerCapability, stScannerCapab)                                                                              \
    X(vDefaultAttribute, stScannerAttri)                                                                               \
    X(vScannerStartScan, stScannerAttri)                                                                               \
    X(vScannerReturnCISInfo, stScannerAttri)                                                                           \
    X(vScannerGetImage, stGetImage)                                                                                    \
    X(vScannerGetCISImage, stGetImage)                                                                                 \
    X(vScannerGetJpegImageA, stGetJpegImage)                                                                           \
    X(vScannerGetJpegImageB, stGetJpegImage)                                                                           \
    X(vScannerAbortScan, stAbort)                                                                                      \
    X(vScannerMutiLens, stSetLens)                                                                                     \
    X(vGetLampStatus, stLampStatus)                                                                                    \
    X(vSetLampStatus, stLampStatus)                                                                                    \
    X(vGetMultiLampStatus, stLampStatus)                                                                               \
    X(vSetMultiLampStatus, stLampStatus)                                                                               \
    X(vScannerGetCompCapab, stCompParam)                                                                               \
    X(vScannerSetCompParam, stCompParam)                                                                               \
    X(vScanner35TACalibrateSupportedStatus, st35TACalibrate)                                                           \
    X(vScanner35TACalibrate, st35TACalibrate)                                                                          \
    X(vScannerGetSupportedButtons, GET_SUPPORTED_BUTTONS)                                                              \
    X(vGetDriverVersion, DRIVER_VERSION)                                                                               \
    X(vScannerGetAllFirmwareFullVersion, stFirmwareFullVersionNumber)                                                  \
    X(vGetCounterInfo, stCounterInfo)                                                                                  \
    X(vSetCounterInfo, stCounterInfo)                                                                                  \
    X(vDeviceSeriesNumber, DEVICESN)                                                                                   \
    X(vDeviceModelName, DEVICENAME)                                                                                    \
    X(vSetSampleLines, IMAGE_SAMPLE_LINES)                                                                             \
    X(vGetSampleLines, IMAGE_SAMPLE_LINES)                                                                             \
    X(vGetExtParams, stScannerExtParams)                                                                               \
    X(vDuplexGetImgMethod, DUPLEX_GETIMG_METHOD)                                                                       \
    X(vSetScannerScanMode, stSetScannerScanMode)                                                                       \
    X(vSetPaperSensorAttribute, stPaperSensorParams)                                                                   \
    X(vGetPaperSensorStatus, stPaperSensorStatus)                                                                      \
    X(vCalibrateAllDataRequest, stCalibrateALLParams)                                                                  \
    X(vCalibrateAllDataAction, stCalibrateALLParams)                                                                   \
    X(vScannerFlashRead, stFlashRWParams)                                                                              \
    X(vScannerFlashWrite, stFlashRWParams)                                                                             \
    X(vMotorControlByAP, stMotorControlByAP)                                                                           \
    X(vADFCalibrationMode, stScannerAttri)
VARNOTH_FORWARDERS(VARNOTH_FORWARDER)
#undef VARNOTH_FORWARDER

// The erase request has no common header: its status is its first field.
VARNOTH_EXPORT void vEraseCaliData(stEraseCaliData* r);
VARNOTH_EXPORT void vGetPowerSetting(stPowerSetting* r); // the object's vScannerGetPowerSetting
VARNOTH_EXPORT void vSetPowerSetting(stPowerSetting* r); // the object's vScannerSetPowerSetting
// The object's paper and button state, or -1 without an instance.
VARNOTH_EXPORT int32_t vPaperReady();
}
