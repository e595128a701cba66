#include "scan_session.h"

#include "fuzz_check.h"
#include "gl_scanner.h"
#include "kzd_interface.h"
#include "kzd_records.h"
#include "kzd_scanner.h"
#include "scan_start.h"

#include <algorithm>
#include <array>
#include <vector>

namespace fuzz {

namespace {

constexpr uint32_t kBlockLines = 16;
constexpr int kMostReads = 256;

template <typename R> R request(uint16_t code)
{
    R r{};
    r.header.wFunctionCode = code;
    r.header.FUNC_STATUS = 12345;
    return r;
}

} // namespace

ScanChoice scan_choice(const uint8_t* b)
{
    constexpr uint16_t sources[] = {0, 0, 0x04, 0x02, 0x08};
    constexpr uint16_t resolutions[] = {75, 150, 300, 600, 1200};
    ScanChoice c{};
    c.source = sources[(b[0] & 0x0F) % 5];
    c.planes = (b[0] >> 4) % 2 == 0 ? 14 : 1;
    c.bits = std::array<uint16_t, 3>{8, 16, 1}[(b[0] >> 5) % 3];
    if (c.bits == 1) c.planes = 1;
    c.resolution = resolutions[(b[1] & 0x3F) % 5];
    c.gamma = (b[1] & 0x40) != 0;
    c.preview = (b[1] & 0x80) != 0;
    // Frames of a few pixels up to about a tenth of an inch: small pages, as a fuzzer needs them.
    c.width = 1 + b[2] % 128;
    c.height = 1 + b[3] % 128;
    return c;
}

void run_scan_session(const ScanChoice& c)
{
    CInterface device(0);
    CKzdScanner kzd(&device);
    GLScanner* g = kzd.scanner();
    if (g == nullptr) return;
    // Nothing is stored: every scan calibrates from the device's shading.
    g->module_path[0] = '\0';

    auto init = request<stScannerInit>(KZD_INITIALIZE_SCANNER);
    kzd.vInitializeScanner(&init);
    auto a = request<stScannerAttri>(KZD_DEFAULT_ATTRIBUTE);
    a.ScanSource = c.source;
    kzd.vDefaultAttribute(&a);
    if (a.header.FUNC_STATUS != 1) return;
    a.ColorPlanes = c.planes;
    a.BitsPerPixel = c.bits;
    a.Resolution = c.resolution;
    a.ExtFrame = stExtFrame{100, 100, 100 + c.width, 100 + c.height};
    std::vector<uint16_t> table;
    if (c.gamma) {
        table.resize(3 * 256);
        for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint16_t>((i % 256) * 257);
        a.NumofGammaEntry = 1;
        a.GammaTable = reinterpret_cast<const uint8_t*>(table.data());
    }
    auto mode = request<stSetScannerScanMode>(0);
    mode.ScanMode = c.preview ? 1 : 2;
    kzd.vSetScannerScanMode(&mode);
    a.header.wFunctionCode = KZD_START_SCAN;
    kzd.vScannerStartScan(&a);
    if (a.header.FUNC_STATUS == 1) {
        scan_output_geometry_t geo{};
        FUZZ_CHECK(get_scan_output_geometry(g, &a, &geo).ok());
        FUZZ_CHECK(geo.width == a.dwLineWidth && geo.lines == a.dwLineHeight);
        std::vector<uint8_t> buffer(size_t{kBlockLines} * geo.row_bytes + 1, 0xA5);
        uint64_t got = 0;
        for (int i = 0; i < kMostReads; ++i) {
            auto r = request<stGetImage>(KZD_GET_IMAGE);
            r.pBuffer = buffer.data();
            r.ScanLineNo = kBlockLines;
            kzd.vScannerGetImage(&r);
            // The read stays within the lines asked for and the image's lines, and never writes
            // past the rows it was given.
            FUZZ_CHECK(buffer.back() == 0xA5);
            if (r.header.FUNC_STATUS != 1) break;
            FUZZ_CHECK(r.dwLinesDone <= kBlockLines);
            got += r.dwLinesDone;
            FUZZ_CHECK(got <= geo.lines);
            FUZZ_CHECK(r.dwLinesLeft == geo.lines - got);
            if (r.dwEndOfImage != 0) {
                FUZZ_CHECK(got == geo.lines);
                break;
            }
            if (r.dwLinesDone == 0) break;
        }
    }
    auto stop = request<stAbort>(KZD_ABORT_SCAN);
    kzd.vScannerAbortScan(&stop);
    FUZZ_CHECK(stop.header.FUNC_STATUS == 1);
}

} // namespace fuzz
