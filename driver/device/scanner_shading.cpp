#include "scanner_shading.h"

#include "dbg_log.h"
#include "gl_scanner.h"
#include "job_cmd.h"
#include "le_bytes.h"
#include "vek_cmd.h"
#include "vek_request.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

namespace {

constexpr uint8_t kFront = 1;
constexpr uint8_t kBack = 2;
constexpr uint8_t kBoth = 3;
constexpr uint8_t kLevels[] = {1, 0};
constexpr uint32_t kModeMasks[] = {7, 3, 5, 1};
// The order in which a multiple-light transfer carries the lights.
constexpr int kSendOrder[] = {2, 1, 4};

// One stretch of a shading payload; null data stands for zeros.
struct Piece {
    const uint8_t* data;
    uint64_t size;
};

// The stretches of one transfer: at most three lights, front and back.
struct Pieces {
    std::array<Piece, 6> at{};
    size_t count = 0;

    Pieces() = default;
    Pieces(std::initializer_list<Piece> list)
    {
        for (const Piece& p : list) add(p);
    }
    void add(Piece p)
    {
        if (count < at.size()) at[count++] = p;
    }
    const Piece* begin() const { return at.data(); }
    const Piece* end() const { return at.data() + count; }
};

// One shading write: its job, its kinds and whether a missing piece was reported already.
struct ShadingWrite {
    GLScanner* g;
    bool deep;
    uint32_t lights = 0;
    bool warned = false;

    eStatus send(uint8_t kind, uint8_t level, const Pieces& pieces)
    {
        uint64_t total = 0;
        for (const Piece& p : pieces) total += p.size;
        if (total > U24_MAX - VEK_BLOCK_SIZE) return STATUS_TRANSFER_FAILED; // no request can carry it
        std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[total > 0 ? total : 1]);
        if (!payload) return STATUS_NO_MEMORY;
        uint8_t* at = payload.get();
        for (const Piece& p : pieces) {
            if (p.data != nullptr) {
                std::memcpy(at, p.data, p.size);
            } else {
                std::memset(at, 0, p.size);
                if (p.size > 0 && !warned) {
                    DBG_LOG(kLogErrors, "shading kind %u level %u: no data for part of it; zeros sent\n", kind, level);
                    warned = true;
                }
            }
            at += p.size;
        }
        if (!vek_cmd_send_shading_data(g, kind, g->shading.value, deep, level, payload.get(), total, lights).ok())
            return STATUS_TRANSFER_FAILED;
        return STATUS_GOOD;
    }

    // A read-back into scratch memory that is then dropped.
    eStatus read_back(uint8_t kind, uint8_t level, uint64_t size)
    {
        if (size > U24_MAX - VEK_REPLY_HEADER_SIZE) return STATUS_TRANSFER_FAILED;
        std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
        if (!scratch) return STATUS_NO_MEMORY;
        if (!vek_cmd_read_shading_data(g, kind, g->shading.value, deep, level, scratch.get(), size, lights).ok())
            return STATUS_TRANSFER_FAILED;
        return STATUS_GOOD;
    }
};

bool media3_present(const GLScanner* g)
{
    return g->media[3] != 0;
}

// A failed step ends the job (its result ignored) and is returned.
template <typename Steps> eStatus in_job(GLScanner* g, Steps steps)
{
    if (const eStatus s = cmd_job_create(g); !s.ok()) return s;
    if (const eStatus s = steps(); !s.ok()) {
        cmd_job_end(g);
        return s;
    }
    return cmd_job_end(g);
}

eStatus finish(eStatus s)
{
    DBG_LOG(kLogParameters, "FUNC_STATUS = %d\n", static_cast<int>(s.code()));
    return s;
}

} // namespace

int shading_light_slot(int light, bool back)
{
    for (int i = 0; i < 3; ++i)
        if (SHADING_LIGHTS[i] == light) return back ? 3 + i : i;
    return -1;
}

eStatus scanner_send_shading_data(GLScanner* g)
{
    if (g == nullptr) return STATUS_TRANSFER_FAILED;
    const ShadingState& sh = g->shading;
    DBG_LOG(kLogParameters, "scanner_send_shading_data: value %u, %u bytes per side, format %u\n", sh.value,
            sh.bytes_per_side, sh.format);
    if (sh.level0_front == nullptr || sh.level1_front == nullptr) {
        DBG_LOG(kLogErrors, "scanner_send_shading_data: no front data\n");
        return finish(STATUS_TRANSFER_FAILED);
    }
    ShadingWrite w{g, sh.format == 6};
    const uint64_t side = sh.bytes_per_side;
    auto front = [&](uint8_t level) { return Piece{level == 1 ? sh.level1_front : sh.level0_front, side}; };
    auto back = [&](uint8_t level) { return Piece{level == 1 ? sh.level1_back : sh.level0_back, side}; };

    return finish(in_job(g, [&]() -> eStatus {
        if (media3_present(g)) {
            for (uint8_t level : kLevels)
                if (const eStatus s = w.send(kBoth, level, {front(level), back(level)}); !s.ok()) return s;
            for (uint8_t level : kLevels)
                if (const eStatus s = w.read_back(kBoth, level, side * 2); !s.ok()) return s;
        }
        for (uint8_t level : kLevels)
            if (const eStatus s = w.send(kFront, level, {front(level)}); !s.ok()) return s;
        if (media3_present(g)) {
            for (uint8_t level : kLevels)
                if (const eStatus s = w.send(kBack, level, {back(level)}); !s.ok()) return s;
            for (uint8_t level : kLevels)
                if (const eStatus s = w.read_back(kBack, level, side); !s.ok()) return s;
        }
        return STATUS_GOOD;
    }));
}

eStatus scanner_read_shading_data(GLScanner*)
{
    return STATUS_GOOD;
}

eStatus scanner_read_calibration_data(GLScanner* g, uint16_t value, uint8_t index)
{
    DBG_LOG(kLogParameters, "scanner_read_calibration_data: value %u, index %u\n", value, index);
    return finish(in_job(g, [&] { return vek_cmd_read_calibration_data(g, value, index); }));
}

eStatus scanner_send_calibration_data(GLScanner* g, uint16_t value, uint8_t index)
{
    DBG_LOG(kLogParameters, "scanner_send_calibration_data: value %u, index %u\n", value, index);
    return finish(in_job(g, [&] { return vek_cmd_send_calibration_data(g, value, index); }));
}

eStatus scanner_send_multilight_shading_data(GLScanner* g, int mode)
{
    DBG_LOG(kLogParameters, "scanner_send_multilight_shading_data: mode %d\n", mode);
    if (g == nullptr || mode < 0 || mode >= static_cast<int>(std::size(kModeMasks)))
        return finish(STATUS_TRANSFER_FAILED);
    const ShadingState& sh = g->shading;
    ShadingWrite w{g, sh.format == 6, kModeMasks[mode]};

    auto pieces = [&](uint8_t kind, uint8_t level) {
        const auto& slots = level == 1 ? sh.light_level1 : sh.light_level0;
        Pieces out;
        for (bool back : {false, true}) {
            if (back && (kind & kBack) == 0) break;
            for (int light : kSendOrder)
                if ((w.lights & static_cast<uint32_t>(light)) != 0)
                    out.add({slots[static_cast<size_t>(shading_light_slot(light, back))], sh.per_light_size});
        }
        return out;
    };

    return finish(in_job(g, [&]() -> eStatus {
        for (uint8_t kind : {kBoth, kFront, kBack}) {
            if (kind != kFront && !media3_present(g)) continue;
            for (uint8_t level : kLevels)
                if (const eStatus s = w.send(kind, level, pieces(kind, level)); !s.ok()) return s;
        }
        return STATUS_GOOD;
    }));
}

void set_shading_data_point(GLScanner* g, const uint8_t* level0_front, const uint8_t* level0_back,
                            const uint8_t* level1_front, const uint8_t* level1_back)
{
    if (g == nullptr) return;
    ShadingState& sh = g->shading;
    auto at = [&](const uint8_t* buffer, int light) -> const uint8_t* {
        if (buffer == nullptr) return nullptr;
        for (size_t i = 0; i < g->light_ids.size(); ++i)
            if (g->light_ids[i] == light) return buffer + i * static_cast<size_t>(sh.per_light_size);
        return nullptr;
    };
    for (int light : SHADING_LIGHTS) {
        const auto front = static_cast<size_t>(shading_light_slot(light, false));
        const auto back = static_cast<size_t>(shading_light_slot(light, true));
        sh.light_level0[front] = at(level0_front, light);
        sh.light_level0[back] = at(level0_back, light);
        sh.light_level1[front] = at(level1_front, light);
        sh.light_level1[back] = at(level1_back, light);
    }
}
