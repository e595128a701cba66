// The host's command blocks from the fuzzer's bytes, each through the root object's Entry as a
// host would send them, with the device's replies from the rest of the bytes: enumeration, open,
// every setting, scan start, line reads, stop and close in any order and with any values.
#include "device_session.h"
#include "fuzz_check.h"
#include "host_session.h"
#include "replay_usb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (fuzz::make_driver_time_instant(), fuzz::use_scratch_module_folder(), true);
    (void)ready;
    size_t replies = 0;
    const std::vector<fuzz::HostCommand> commands = fuzz::decode_script(data, size, &replies);
    fuzz::StreamTransport stream(data + replies, size - replies);
    fuzz::set_transport(&stream);
    fuzz::run_host_session(commands);
    fuzz::set_transport(nullptr);
    return 0;
}
