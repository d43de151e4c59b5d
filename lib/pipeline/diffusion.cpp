#include "pipeline/diffusion.h"

#include <algorithm>

#include "pipeline/linear.h"

namespace graybmp {
namespace {

// Reading order: this row left to right from the pixel on, then each row below.
const Kernel kKernels[] = {
    {Dither::FloydSteinberg, 16, 4, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}, true},
    {Dither::Atkinson, 8, 6, {{0, 1, 1}, {0, 2, 1}, {1, -1, 1}, {1, 0, 1}, {1, 1, 1}, {2, 0, 1}}, false},
    {Dither::Jarvis, 48, 12,
     {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
      {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}, true},
    {Dither::Stucki, 42, 12,
     {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
      {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}, true},
    {Dither::Burkes, 32, 7, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}, true},
    {Dither::Sierra, 32, 10,
     {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
      {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}, true},
    {Dither::Sierra2, 16, 7, {{0, 1, 4}, {0, 2, 3}, {1, -2, 1}, {1, -1, 2}, {1, 0, 3}, {1, 1, 2}, {1, 2, 1}}, true},
    {Dither::SierraLite, 4, 3, {{0, 1, 2}, {1, -1, 1}, {1, 0, 1}}, true},
};

}  // namespace

const Kernel& kernelOf(Dither dither) {
    for (const Kernel& k : kKernels)
        if (k.dither == dither) return k;
    return kKernels[0];
}

void diffuseRow(Quantizer& q, const std::uint8_t* grays) {
    // v before the error: the gray, or in linear light its decoded value
    if (q.values.size() != static_cast<std::size_t>(q.width)) q.values.resize(static_cast<std::size_t>(q.width));
    std::int32_t* values = q.values.data();
    if (q.levels.linear)
        for (std::int64_t x = 0; x < q.width; ++x) values[x] = kLinearOf[grays[x]];
    else
        for (std::int64_t x = 0; x < q.width; ++x) values[x] = grays[x];
    const Kernel& kernel = kernelOf(q.levels.dither);
    const auto width = static_cast<std::int64_t>(q.width);
    const std::size_t span = static_cast<std::size_t>(width) + 4;
    std::int32_t* rows[3];
    for (std::size_t r = 0; r < 3; ++r) rows[r] = q.errors.data() + (q.errorRow + r) % 3 * span + 2;
    const bool reverse = q.levels.serpentine && q.done % 2 == 1;
    const std::int32_t strength = q.levels.strength;
    for (std::int64_t i = 0; i < width; ++i) {
        const std::int64_t x = reverse ? width - 1 - i : i;
        const std::int32_t v = values[x] + rows[0][x];
        const int index = nearestIndex(q, v);
        q.indices[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(index);
        std::int32_t e = v - q.level[static_cast<std::size_t>(index)];
        if (strength != 100) e = e * strength / 100;
        std::int32_t given = 0;
        for (int t = 0; t < kernel.count; ++t) {
            const Tap& tap = kernel.taps[t];
            const std::int32_t share = kernel.rest && t + 1 == kernel.count ? e - given : tap.weight * e / kernel.divisor;
            given += share;
            const std::int64_t to = x + (reverse ? -tap.dx : tap.dx);
            if (to >= 0 && to < width) rows[tap.dy][to] += share;
        }
    }
    std::fill(rows[0] - 2, rows[0] - 2 + span, 0);
    q.errorRow = (q.errorRow + 1) % 3;
}

}  // namespace graybmp
