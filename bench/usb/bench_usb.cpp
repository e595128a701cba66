// The virtual USB bus: bulk-read throughput through the driver's usbio_read_bulk, and the cost of
// the per-test set-up (testbed, scanner, usbio init/open/close/exit, teardown).
#include "preload.h"
#include "testbed.h"
#include "usb_ids.h"
#include "usbio.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Answers every IN URB at once with a full buffer.
class StreamModel : public sim::DeviceModel {
public:
    int in(uint8_t, std::span<uint8_t> buffer) override
    {
        std::memset(buffer.data(), 0x5A, buffer.size());
        return static_cast<int>(buffer.size());
    }
};

std::string scanner_name()
{
    static std::string name;
    name.clear();
    usbio_find_devices(VARNOTH_USB_VENDOR_ID, VARNOTH_USB_PRODUCT_ID, [](const char* n) {
        name = n;
        return 0;
    });
    return name;
}

void BM_UsbioReadBulk(benchmark::State& state)
{
    sim::Testbed testbed;
    testbed.add(sim::scanner_device(), std::make_unique<StreamModel>());
    usbio_init();
    int dn = -1;
    if (usbio_open(scanner_name().c_str(), &dn) != USBIO_STATUS_GOOD) {
        state.SkipWithError("cannot open the virtual scanner");
        usbio_exit();
        return;
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        size_t size = buffer.size();
        if (usbio_read_bulk(dn, buffer.data(), &size) != USBIO_STATUS_GOOD || size != buffer.size()) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    usbio_close(dn);
    usbio_exit();
}
BENCHMARK(BM_UsbioReadBulk)->Arg(64 << 10)->Arg(1 << 20)->UseRealTime()->MinTime(2.0);

void BM_VirtualScannerSetUp(benchmark::State& state)
{
    for (auto _ : state) {
        sim::Testbed testbed;
        testbed.add(sim::scanner_device());
        usbio_init();
        int dn = -1;
        usbio_open(scanner_name().c_str(), &dn);
        usbio_close(dn);
        usbio_exit();
    }
}
BENCHMARK(BM_VirtualScannerSetUp)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    sim::reexec_with_preload(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
