// A scan over the fuzzer's bytes: the first bytes choose the scan the host asks for, the rest are
// the device's replies, so that the calibration and the image pipeline run on device data.
#include "device_session.h"
#include "fuzz_check.h"
#include "replay_usb.h"
#include "scan_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (fuzz::make_driver_time_instant(), fuzz::use_scratch_module_folder(), true);
    (void)ready;
    if (size < fuzz::kScanChoiceBytes) return 0;
    const fuzz::ScanChoice choice = fuzz::scan_choice(data);
    fuzz::StreamTransport stream(data + fuzz::kScanChoiceBytes, size - fuzz::kScanChoiceBytes);
    fuzz::set_transport(&stream);
    fuzz::run_scan_session(choice);
    fuzz::set_transport(nullptr);
    return 0;
}
