// The writers' deflate (Deflater: zlib's level 6 with a shortened match search) beside zlib's own
// level 6, the level libvips' TIFF and PNG savers ask for, on the same bytes: the strips a ZIP TIFF
// is made of (128 rows, each row differenced by the horizontal predictor), compressed one after
// the other on one thread. For each chart, the processor time of each (median of 3, the thread's
// own clock), their ratio and the compressed sizes, with the machine's load average over the runs.
// Processor time still varies with the load (caches and memory bandwidth are shared); for counts
// that do not, run one chart under callgrind and compare the two functions' inclusive
// instructions (VIPSHOME keeps libvips from loading its modules, one of which valgrind cannot run):
//   VIPSHOME=/nonexistent valgrind --tool=callgrind --callgrind-out-file=/tmp/deflate.cg
//       build/bench/app_imaging/bench_deflate_search --rows 512 --repeats 1 --chart photo
//   callgrind_annotate --inclusive=yes /tmp/deflate.cg | grep -E 'deflateOurs|deflateLevel6'
// Run: build/bench/app_imaging/bench_deflate_search [--rows N] [--repeats N] [--chart writer|photo|both]
#include "../load_average.h"
#include "../photo_chart.h"
#include "bench_input.h"
#include "strip_codecs.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using namespace lumenfield;

namespace {

constexpr int kSide = 10000;
constexpr int kRowsPerStrip = 128; // the ZIP TIFF's strips
constexpr int kPixelBytes = 3;

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Each row of the strips differenced, as the TIFF writer hands them to the codec.
std::vector<std::uint8_t> differenced(const std::uint8_t* pixels, int width, int rows)
{
    const std::size_t rowBytes = std::size_t(width) * kPixelBytes;
    std::vector<std::uint8_t> out(rowBytes * std::size_t(rows));
    for (int y = 0; y < rows; ++y)
        differenceRow(pixels + rowBytes * std::size_t(y), out.data() + rowBytes * std::size_t(y), rowBytes,
                      kPixelBytes);
    return out;
}

// The writers' codec, a row at a time as the TIFF writer feeds it. Bytes out.
__attribute__((noinline)) std::size_t deflateOurs(const std::vector<std::uint8_t>& rows, std::size_t rowBytes)
{
    Deflater deflater(Deflater::Framing::zlib);
    const std::size_t stripBytes = rowBytes * kRowsPerStrip;
    std::size_t total = 0;
    for (std::size_t strip = 0; strip < rows.size(); strip += stripBytes) {
        deflater.begin();
        const std::size_t end = std::min(rows.size(), strip + stripBytes);
        for (std::size_t row = strip; row < end; row += rowBytes) deflater.add(rows.data() + row, rowBytes);
        total += deflater.end().size();
    }
    return total;
}

// zlib's level 6 with its own search, a strip at a time as libtiff feeds it. Bytes out.
__attribute__((noinline)) std::size_t deflateLevel6(const std::vector<std::uint8_t>& rows, std::size_t rowBytes)
{
    const std::size_t stripBytes = rowBytes * kRowsPerStrip;
    std::vector<std::uint8_t> out(compressBound(uLong(stripBytes)));
    std::size_t total = 0;
    for (std::size_t strip = 0; strip < rows.size(); strip += stripBytes) {
        uLongf size = uLongf(out.size());
        const std::size_t length = std::min(rows.size() - strip, stripBytes);
        if (compress2(out.data(), &size, rows.data() + strip, uLong(length), 6) != Z_OK) return 0;
        total += size;
    }
    return total;
}

struct Figures {
    double cpu = 0;
    std::size_t bytes = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void measure(const char* name, const std::uint8_t* pixels, int rows, int repeats, lfbench::LoadRange& load)
{
    const std::size_t rowBytes = std::size_t(kSide) * kPixelBytes;
    const std::vector<std::uint8_t> input = differenced(pixels, kSide, rows);
    std::vector<double> ours, level6;
    std::size_t oursBytes = 0, level6Bytes = 0;
    for (int r = 0; r < repeats; ++r) {
        load.sample();
        double started = threadSeconds();
        level6Bytes = deflateLevel6(input, rowBytes);
        level6.push_back(threadSeconds() - started);
        started = threadSeconds();
        oursBytes = deflateOurs(input, rowBytes);
        ours.push_back(threadSeconds() - started);
        load.sample();
    }
    const double mb = double(input.size()) / 1e6;
    const double o = median(ours), l = median(level6);
    std::printf("%-14s %8.1f  %8.2f %8.2f %6.2f   %9.2f %9.2f %6.3f  %s\n", name, mb, l, o, l / o,
                double(level6Bytes) / 1e6, double(oursBytes) / 1e6, double(oursBytes) / double(level6Bytes),
                load.text().c_str());
}

const char* argument(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

int argument(int argc, char** argv, const char* name, int fallback)
{
    const char* text = argument(argc, argv, name, nullptr);
    return text != nullptr ? std::max(1, std::atoi(text)) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]) != 0) return 1;
    const int rows = std::min(argument(argc, argv, "--rows", kSide), kSide);
    const int repeats = argument(argc, argv, "--repeats", 3);
    const std::string charts = argument(argc, argv, "--chart", "both");
    if (charts != "both" && charts != "writer" && charts != "photo") {
        std::fprintf(stderr, "usage: %s [--rows N] [--repeats N] [--chart writer|photo|both]\n", argv[0]);
        return 2;
    }
    std::printf("deflate of ZIP TIFF strips (%d rows, horizontal predictor), %d x %d RGB, one thread, median of %d\n",
                kRowsPerStrip, kSide, rows, repeats);
    std::printf("%-14s %8s  %8s %8s %6s   %9s %9s %6s  %s\n", "chart", "MB in", "zlib 6 s", "ours s", "x less",
                "zlib 6 MB", "ours MB", "size", "load");
    if (charts != "photo") {
        // The writer benchmark's chart: gradients, dark blocks and light noise.
        const Image chart = benchmarkChart().crop(0, 0, kSide, rows);
        std::size_t size = 0;
        void* pixels = chart.write_to_memory(&size);
        lfbench::LoadRange load;
        measure("writer chart", static_cast<const std::uint8_t*>(pixels), rows, repeats, load);
        g_free(pixels);
    }
    if (charts != "writer") {
        const std::vector<std::uint8_t> photo = lfbench::photo_chart(kSide, rows);
        lfbench::LoadRange load;
        measure("photo chart", photo.data(), rows, repeats, load);
    }
    vips_shutdown();
    return 0;
}
