#include "parallel_strips.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace lumenfield {

namespace {

// Rows asked of the image at a time: libvips' own strip height, which keeps every intermediate
// buffer of a long chain small whatever the strips' height.
constexpr int kSlabRows = 16;
// Columns asked of the image at a time. Asked for whole rows, every step of the chain would hold a
// buffer as wide as the image (of floats, for most steps) on every worker: some 90 MB for a
// 10000-pixel-wide scan on eight threads. Pieces of this width keep that to a few megabytes and
// cost a step with a margin (the sharpening) a few per cent more pixels.
constexpr int kTileColumns = 512;

struct Progress {
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;    // the next strip a worker takes
    int emitted = 0; // strips handed to emit
    std::map<int, std::vector<std::uint8_t>> done;
    std::atomic<bool> stop = false;
    std::exception_ptr failure;

    void fail(std::exception_ptr error)
    {
        {
            const std::lock_guard lock(mutex);
            if (!failure) failure = std::move(error);
            stop = true;
        }
        changed.notify_all();
    }
};

struct RegionDeleter {
    void operator()(VipsRegion* region) const { g_object_unref(region); }
};

void computeAndEncode(VipsImage* in, int stripRows, int strips, int window, StripEncoder& encoder, Progress& progress)
{
    const std::unique_ptr<VipsRegion, RegionDeleter> region(vips_region_new(in));
    if (!region) throw vips::VError();
    const auto rowBytes = static_cast<std::size_t>(VIPS_IMAGE_SIZEOF_LINE(in));
    const auto pixelBytes = static_cast<std::size_t>(VIPS_IMAGE_SIZEOF_PEL(in));
    // The rows of a slab put together from its pieces, when it has more than one.
    std::vector<std::uint8_t> slab;
    for (;;) {
        int strip = 0;
        {
            std::unique_lock lock(progress.mutex);
            progress.changed.wait(lock, [&] {
                return progress.stop || progress.next >= strips || progress.next < progress.emitted + window;
            });
            if (progress.stop || progress.next >= strips) return;
            strip = progress.next++;
        }
        encoder.begin(strip);
        const int top = strip * stripRows;
        const int bottom = std::min(in->Ysize, top + stripRows);
        for (int y = top; y < bottom; y += kSlabRows) {
            if (progress.stop) return;
            const int height = std::min(kSlabRows, bottom - y);
            if (in->Xsize > kTileColumns) {
                slab.resize(static_cast<std::size_t>(height) * rowBytes);
                for (int x = 0; x < in->Xsize; x += kTileColumns) {
                    VipsRect piece{x, y, std::min(kTileColumns, in->Xsize - x), height};
                    if (vips_region_prepare(region.get(), &piece)) throw vips::VError();
                    const std::size_t pieceBytes = static_cast<std::size_t>(piece.width) * pixelBytes;
                    for (int row = 0; row < height; ++row)
                        std::memcpy(slab.data() + static_cast<std::size_t>(row) * rowBytes +
                                        static_cast<std::size_t>(x) * pixelBytes,
                                    VIPS_REGION_ADDR(region.get(), x, y + row), pieceBytes);
                }
                encoder.add(slab.data(), height, rowBytes);
                continue;
            }
            VipsRect rows{0, y, in->Xsize, height};
            if (vips_region_prepare(region.get(), &rows)) throw vips::VError();
            if (static_cast<std::size_t>(VIPS_REGION_LSKIP(region.get())) == rowBytes) {
                encoder.add(reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(region.get(), 0, y)), rows.height,
                            rowBytes);
            } else {
                for (int row = y; row < y + rows.height; ++row)
                    encoder.add(reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(region.get(), 0, row)), 1,
                                rowBytes);
            }
        }
        std::vector<std::uint8_t> bytes = encoder.end();
        {
            const std::lock_guard lock(progress.mutex);
            progress.done.emplace(strip, std::move(bytes));
        }
        progress.changed.notify_all();
    }
}

} // namespace

void encodeStrips(const Image& image, int stripRows, const std::function<std::unique_ptr<StripEncoder>()>& makeEncoder,
                  const std::function<void(int strip, std::vector<std::uint8_t>& bytes)>& emit, int workers)
{
    VipsImage* in = image.get_image();
    if (stripRows <= 0 || in->BandFmt != VIPS_FORMAT_UCHAR) throw vips::VError("writer: strips need 8-bit samples");
    const int strips = (in->Ysize + stripRows - 1) / stripRows;
    if (workers <= 0) workers = vips_concurrency_get();
    workers = std::clamp(workers, 1, strips);
    // Enough strips ahead to keep every worker busy while one strip is being written.
    const int window = 2 * workers;

    Progress progress;
    const auto work = [&] {
        try {
            const std::unique_ptr<StripEncoder> encoder = makeEncoder();
            computeAndEncode(in, stripRows, strips, window, *encoder, progress);
        } catch (...) {
            progress.fail(std::current_exception());
        }
        // libvips keeps buffers per thread; a thread it did not start must give them back.
        vips_thread_shutdown();
    };

    std::vector<std::thread> threads;
    try {
        for (int i = 0; i < workers; ++i) threads.emplace_back(work);
        for (int strip = 0; strip < strips; ++strip) {
            std::vector<std::uint8_t> bytes;
            {
                std::unique_lock lock(progress.mutex);
                progress.changed.wait(lock, [&] { return progress.stop || progress.done.count(strip) > 0; });
                if (progress.stop) break;
                const auto found = progress.done.find(strip);
                bytes = std::move(found->second);
                progress.done.erase(found);
            }
            emit(strip, bytes);
            {
                const std::lock_guard lock(progress.mutex);
                progress.emitted = strip + 1;
            }
            progress.changed.notify_all();
        }
    } catch (...) {
        progress.fail(std::current_exception());
    }
    for (std::thread& thread : threads) thread.join();
    if (progress.failure) std::rethrow_exception(progress.failure);
}

} // namespace lumenfield
