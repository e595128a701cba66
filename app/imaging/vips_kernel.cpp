#include "vips_kernel.h"

#include <exception>
#include <string>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumenfield {

namespace {

#if defined(__x86_64__)
__attribute__((target("avx"))) void zeroUpperAvx()
{
    _mm256_zeroupper();
}
#endif

// A thread inherits the vector register state of the thread that created it. When that state
// holds dirty upper halves of AVX registers (left by library code on the creating thread), every
// SSE instruction of the kernels pays for merging them, which makes the kernels several times
// slower. Clearing them on entry costs nothing measurable.
void clearUpperVectorState()
{
#if defined(__x86_64__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx) zeroUpperAvx();
#endif
}

struct Operation {
    VipsImage* input = nullptr; // referenced until the output closes
    std::shared_ptr<const RowKernel> rowKernel;
    std::shared_ptr<const TileKernel> tileKernel;
};

struct TileState {
    VipsRegion* region = nullptr;
    std::vector<float> scratch;
};

void closeOperation(VipsImage*, Operation* operation)
{
    g_object_unref(operation->input);
    delete operation;
}

int failEvaluation(const char* what)
{
    vips_error("lumenfield", "%s", what);
    return -1;
}

int generateRows(VipsRegion* out, void* sequence, void*, void* client, gboolean*)
{
    auto* in = static_cast<VipsRegion*>(sequence);
    const auto* operation = static_cast<const Operation*>(client);
    const VipsRect area = out->valid;
    if (vips_region_prepare(in, &area)) return -1;
    clearUpperVectorState();
    try {
        for (int y = area.top; y < area.top + area.height; ++y) {
            operation->rowKernel->row(VIPS_REGION_ADDR(in, area.left, y), VIPS_REGION_ADDR(out, area.left, y),
                                      area.width, area.left, y);
        }
    } catch (const std::exception& error) {
        return failEvaluation(error.what());
    }
    return 0;
}

void* startTile(VipsImage*, void* input, void*)
{
    auto* state = new (std::nothrow) TileState;
    if (!state) return nullptr;
    state->region = vips_region_new(static_cast<VipsImage*>(input));
    if (!state->region) {
        delete state;
        return nullptr;
    }
    return state;
}

int stopTile(void* sequence, void*, void*)
{
    auto* state = static_cast<TileState*>(sequence);
    g_object_unref(state->region);
    delete state;
    return 0;
}

int generateTile(VipsRegion* out, void* sequence, void*, void* client, gboolean*)
{
    auto* state = static_cast<TileState*>(sequence);
    const auto* operation = static_cast<const Operation*>(client);
    const int margin = operation->tileKernel->margin();
    const VipsRect area = out->valid;
    const VipsRect need{area.left, area.top, area.width + 2 * margin, area.height + 2 * margin};
    if (vips_region_prepare(state->region, &need)) return -1;
    clearUpperVectorState();
    try {
        operation->tileKernel->tile(state->region, out, state->scratch);
    } catch (const std::exception& error) {
        return failEvaluation(error.what());
    }
    return 0;
}

void requireLayout(const Image& in, const PixelLayout& layout)
{
    if (!hasLayout(in, layout)) throw vips::VError("lumenfield: kernel input has the wrong layout");
}

Image makeOperation(const PixelLayout& output, int width, int height, Operation* operation, VipsStartFn start,
                    VipsGenerateFn generate, VipsStopFn stop)
{
    VipsImage* input = operation->input;
    VipsImage* out = vips_image_new();
    // Small tiles: with thin strips every step would hold a full-width float strip per thread.
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_SMALLTILE, input, nullptr)) {
        g_object_unref(out);
        delete operation;
        throw vips::VError();
    }
    out->Xsize = width;
    out->Ysize = height;
    out->Bands = output.bands;
    out->BandFmt = output.format;
    out->Type = output.interpretation;
    g_object_ref(input);
    g_signal_connect(out, "close", G_CALLBACK(closeOperation), operation);
    if (vips_image_generate(out, start, generate, stop, input, operation)) {
        g_object_unref(out); // closes, which frees the operation
        throw vips::VError();
    }
    return Image(out);
}

} // namespace

bool hasLayout(const Image& image, const PixelLayout& layout)
{
    return image.bands() == layout.bands && image.format() == layout.format;
}

Image pointOperation(const Image& in, const PixelLayout& input, const PixelLayout& output,
                     std::shared_ptr<const RowKernel> kernel)
{
    requireLayout(in, input);
    auto* operation = new Operation{in.get_image(), std::move(kernel), nullptr};
    return makeOperation(output, in.width(), in.height(), operation, vips_start_one, generateRows, vips_stop_one);
}

Image neighbourhoodOperation(const Image& in, const PixelLayout& input, const PixelLayout& output,
                             std::shared_ptr<const TileKernel> kernel)
{
    requireLayout(in, input);
    const int margin = kernel->margin();
    const Image extended = margin == 0 ? in
                                       : in.embed(margin, margin, in.width() + 2 * margin, in.height() + 2 * margin,
                                                  vips::VImage::option()->set("extend", VIPS_EXTEND_COPY));
    auto* operation = new Operation{extended.get_image(), nullptr, std::move(kernel)};
    return makeOperation(output, in.width(), in.height(), operation, startTile, generateTile, stopTile);
}

} // namespace lumenfield
