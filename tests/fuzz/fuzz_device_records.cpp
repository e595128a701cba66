// The scanner's replies as the fuzzer's bytes: the whole open sequence, the driver object's
// answers, the stored data, the parameter conversion, the magnification set-up and a small scan read them through the
// driver's own device protocol.
#include "device_session.h"
#include "fuzz_check.h"
#include "replay_usb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (fuzz::make_driver_time_instant(), fuzz::use_scratch_module_folder(), true);
    (void)ready;
    fuzz::StreamTransport stream(data, size);
    fuzz::set_transport(&stream);
    fuzz::run_device_session();
    fuzz::set_transport(nullptr);
    return 0;
}
