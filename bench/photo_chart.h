// A chart that compresses as a photograph does, for the benchmarks that write lossless files: no
// period anywhere, detail at every scale and grain in every pixel. A chart that repeats (every 256
// pixels, say) lets deflate and LZW find each row in the one before and makes their times and sizes
// say nothing about a real scan.
//
// 8-bit RGB, row after row, the same bytes on every run and machine:
//   - a brightness made of value noise at cell sizes 4096 down to 4 pixels, each octave's weight
//     falling with its size as a photograph's detail does;
//   - shapes with hard edges where a coarse field passes a threshold, lighter and tinted inside;
//   - colour from three slow fields;
//   - grain: every sample moved by a triangular noise of ±7 levels (a standard deviation of about
//     3.2), as film and a scanner's sensor add.
// Written as PNG with the Sub filter and deflate's level 6, it keeps about 60 % of its bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace lfbench {

namespace photo_detail {

inline std::uint32_t mix(std::uint32_t x, std::uint32_t y, std::uint32_t seed)
{
    std::uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

// 0..1 at lattice point (x, y).
inline float lattice(std::uint32_t x, std::uint32_t y, std::uint32_t seed)
{
    return float(mix(x, y, seed) >> 8) * (1.0f / 16777216.0f);
}

inline float smooth(float t)
{
    return t * t * (3.0f - 2.0f * t);
}

// Value noise with cells of `cell` pixels: a smoothly interpolated random value at every lattice
// point, added with weight `weight` to `out` for one row.
inline void add_octave(std::vector<float>& out, int y, int cell, float weight, std::uint32_t seed)
{
    const int width = int(out.size());
    const std::uint32_t ly = std::uint32_t(y / cell);
    const float ty = smooth(float(y % cell) / float(cell));
    const int columns = width / cell + 2;
    // The row's values at each lattice column, interpolated between the two lattice rows.
    std::vector<float> column(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const float a = lattice(std::uint32_t(i), ly, seed), b = lattice(std::uint32_t(i), ly + 1, seed);
        column[std::size_t(i)] = a + (b - a) * ty;
    }
    std::vector<float> tx(static_cast<std::size_t>(cell));
    for (int i = 0; i < cell; ++i) tx[std::size_t(i)] = smooth(float(i) / float(cell));
    float* o = out.data();
    for (int i = 0, x = 0; x < width; ++i) {
        const float a = column[std::size_t(i)], d = column[std::size_t(i) + 1] - a;
        for (int k = 0; k < cell && x < width; ++k, ++x) o[x] += weight * (a + d * tx[std::size_t(k)]);
    }
}

inline void photo_rows(std::uint8_t* pixels, int width, int first, int last)
{
    const auto n = static_cast<std::size_t>(width);
    std::vector<float> light(n), shape(n);
    std::vector<float> hue[3] = {std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    for (int y = first; y < last; ++y) {
        std::fill(light.begin(), light.end(), 0.0f);
        std::fill(shape.begin(), shape.end(), 0.0f);
        float total = 0;
        std::uint32_t seed = 1;
        for (int cell = 4096; cell >= 4; cell /= 2, ++seed) {
            const float weight = std::pow(float(cell), 0.7f);
            add_octave(light, y, cell, weight, seed);
            total += weight;
        }
        add_octave(shape, y, 1024, 1.0f, 101);
        add_octave(shape, y, 256, 0.35f, 102);
        add_octave(shape, y, 64, 0.1f, 103);
        for (int c = 0; c < 3; ++c) {
            std::fill(hue[c].begin(), hue[c].end(), 0.0f);
            add_octave(hue[c], y, 2048, 1.0f, 201 + std::uint32_t(c));
            add_octave(hue[c], y, 512, 0.5f, 211 + std::uint32_t(c));
        }
        std::uint8_t* row = pixels + std::size_t(y) * std::size_t(width) * 3;
        for (int x = 0; x < width; ++x) {
            const std::size_t i = std::size_t(x);
            // Brightness spread over most of the range: the sum of octaves crowds round the middle.
            float l = 0.5f + 2.2f * (light[i] / total - 0.5f);
            const bool inside = shape[i] > 0.98f;
            if (inside) l = 0.35f + 0.6f * l;
            const std::uint32_t grain = mix(std::uint32_t(x), std::uint32_t(y), 7);
            for (int c = 0; c < 3; ++c) {
                float v = l + 0.25f * (hue[c][i] / 1.5f - 0.5f) + (inside && c == 2 ? 0.08f : 0.0f);
                v = 16.0f + 224.0f * std::clamp(v, 0.0f, 1.0f);
                const int noise = int((grain >> (8 * c)) & 7u) + int((grain >> (8 * c + 4)) & 7u) - 7;
                row[3 * i + std::size_t(c)] = std::uint8_t(std::clamp(int(std::lround(v)) + noise, 0, 255));
            }
        }
    }
}

} // namespace photo_detail

// The chart, width × height pixels, made on up to six threads.
inline std::vector<std::uint8_t> photo_chart(int width, int height)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) * 3);
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 6u));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        const int first = int(std::int64_t(height) * t / threads), last = int(std::int64_t(height) * (t + 1) / threads);
        workers.emplace_back(
            [&pixels, width, first, last] { photo_detail::photo_rows(pixels.data(), width, first, last); });
    }
    for (std::thread& w : workers) w.join();
    return pixels;
}

} // namespace lfbench
