#include "pipeline/diffusion.h"

#include <algorithm>

#include "pipeline/linear.h"

// Loops over a kernel's taps, whose count is known when compiling, written out in full so
// that the shares stay in registers.
#if defined(__clang__)
#define GRAYBMP_UNROLL _Pragma("unroll")
#elif defined(__GNUC__)
#define GRAYBMP_UNROLL _Pragma("GCC unroll 16")
#else
#define GRAYBMP_UNROLL
#endif

namespace graybmp {
namespace {

// Reading order: this row left to right from the pixel on, then each row below.
constexpr Kernel kKernels[] = {
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
constexpr int kKernelCount = sizeof kKernels / sizeof kKernels[0];

constexpr std::int32_t kLow = 1024, kHigh = 1280;  // the share table's range of v

// The shares of an error e by the kernel: e P / 100 (toward zero) shared in reading
// order, each w e / D toward zero, the last the rest.
template <int K>
void share(std::int32_t e, std::int32_t strength, std::int32_t* out) {
    constexpr Kernel k = kKernels[K];
    if (strength != 100) e = e * strength / 100;
    std::int32_t given = 0;
    GRAYBMP_UNROLL
    for (int t = 0; t < k.count; ++t) {
        out[t] = k.rest && t + 1 == k.count ? e - given : k.taps[t].weight * e / k.divisor;
        given += out[t];
    }
}

// One row by kernel K, right to left with `Reverse`, v in linear light with `Linear`. The
// shares along the row and to the next rows are carried in variables, a window of the
// five columns around the pixel a row below, each column written once when no later
// pixel reaches it.
// The index of a v outside the table (in linear light, any v) and the shares of its error.
template <int K>
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int sharesAway(const Quantizer& q, std::int32_t v, std::int32_t strength, std::int32_t* out) {
    const int index = nearestIndex(q, v);
    share<K>(v - q.level[static_cast<std::size_t>(index)], strength, out);
    return index;
}

// The shares of a pixel to this row's next pixels, then to the window a row or two below.
template <int K, typename Share>
inline void pass(const Share* shares, std::int32_t& next1, std::int32_t& next2, std::int32_t (&below)[2][5]) {
    constexpr Kernel k = kKernels[K];
    next1 = next2, next2 = 0;
    GRAYBMP_UNROLL
    for (int t = 0; t < k.count; ++t) {
        const Tap& tap = k.taps[t];
        if (tap.dy == 0) (tap.dx == 1 ? next1 : next2) += shares[t];
        else below[tap.dy - 1][tap.dx + 2] += shares[t];
    }
}

// Whether a kernel reaches two rows below.
constexpr bool reachesTwoRows(const Kernel& k) {
    for (int t = 0; t < k.count; ++t)
        if (k.taps[t].dy == 2) return true;
    return false;
}

template <int K, bool Reverse, bool Linear>
void diffuseRowBy(Quantizer& q, const std::uint8_t* grays, const KernelShares* table) {
    constexpr Kernel k = kKernels[K];
    constexpr int below2 = reachesTwoRows(k) ? 2 : 1;  // the rows below that it reaches
    const auto width = static_cast<std::ptrdiff_t>(q.width);
    const std::size_t span = static_cast<std::size_t>(width) + 4;
    std::int32_t* rows[3];
    for (std::size_t r = 0; r < 3; ++r) rows[r] = q.errors.data() + (q.errorRow + r) % 3 * span + 2;
    constexpr std::ptrdiff_t step = Reverse ? -1 : 1;
    const std::int32_t strength = q.levels.strength;
    std::int32_t next1 = 0, next2 = 0;        // this row's shares to the next pixel and the one after
    std::int32_t below[2][5] = {};            // rows 1 and 2 below, columns x - 2 to x + 2 (in step)
    std::int32_t computed[kMostTaps];
    std::uint8_t* indices = q.indices.data();
    const std::int32_t* errors = rows[0];
    for (std::ptrdiff_t i = 0; i < width; ++i) {
        const std::ptrdiff_t x = Reverse ? width - 1 - i : i;
        const std::int32_t v = (Linear ? std::int32_t{kLinearOf[grays[x]]} : std::int32_t{grays[x]}) + errors[x] + next1;
        if (!Linear && v >= -kLow && v < kHigh) {
            const KernelShares& t = table[v + kLow];
            indices[x] = static_cast<std::uint8_t>(t.index);
            pass<K>(t.share, next1, next2, below);
        } else if constexpr (Linear) {
            const int index = q.near[static_cast<std::size_t>(std::clamp<std::int32_t>(v, 0, 65535))];
            indices[x] = static_cast<std::uint8_t>(index);
            share<K>(v - q.level[static_cast<std::size_t>(index)], strength, computed);
            pass<K>(computed, next1, next2, below);
        } else {
            indices[x] = static_cast<std::uint8_t>(sharesAway<K>(q, v, strength, computed));
            pass<K>(computed, next1, next2, below);
        }
        // Column x - 2 (in step) is complete a row below, and two rows below.
        for (int r = 0; r < below2; ++r) rows[1 + r][x - 2 * step] += below[r][0];
        GRAYBMP_UNROLL
        for (int r = 0; r < below2; ++r) {
            GRAYBMP_UNROLL
            for (int c = 0; c < 4; ++c) below[r][c] = below[r][c + 1];
            below[r][4] = 0;
        }
    }
    // The window's last columns (the two past the end fall in the margins).
    const std::ptrdiff_t end = Reverse ? -1 : width;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < below2; ++r) rows[1 + r][end + (c - 2) * step] += below[r][c];
    std::fill(rows[0] - 2, rows[0] - 2 + span, 0);
    q.errorRow = (q.errorRow + 1) % 3;
}

using RowLoop = void (*)(Quantizer&, const std::uint8_t*, const KernelShares*);

template <int K>
constexpr RowLoop loopOf(bool reverse, bool linear) {
    return reverse ? (linear ? diffuseRowBy<K, true, true> : diffuseRowBy<K, true, false>)
                   : (linear ? diffuseRowBy<K, false, true> : diffuseRowBy<K, false, false>);
}

template <int... K>
RowLoop loopFor(int kernel, bool reverse, bool linear, std::integer_sequence<int, K...>) {
    RowLoop loop = nullptr;
    ((loop = K == kernel ? loopOf<K>(reverse, linear) : loop), ...);
    return loop;
}

int kernelIndex(Dither dither) {
    for (int i = 0; i < kKernelCount; ++i)
        if (kKernels[i].dither == dither) return i;
    return 0;
}

template <int... K>
void shareBy(int kernel, std::int32_t e, std::int32_t strength, std::int32_t* out, std::integer_sequence<int, K...>) {
    ((K == kernel ? share<K>(e, strength, out) : void()), ...);
}

}  // namespace

std::vector<KernelShares> kernelShares(const Quantizer& q) {
    const int kernel = kernelIndex(q.levels.dither);
    std::vector<KernelShares> table(static_cast<std::size_t>(kLow + kHigh));
    for (std::int32_t v = -kLow; v < kHigh; ++v) {
        KernelShares& t = table[static_cast<std::size_t>(v + kLow)];
        const int index = nearestIndex(q, v);
        std::int32_t shares[kMostTaps] = {};
        shareBy(kernel, v - q.level[static_cast<std::size_t>(index)], q.levels.strength, shares,
                std::make_integer_sequence<int, kKernelCount>{});
        for (int s = 0; s < kMostTaps; ++s) t.share[s] = static_cast<std::int16_t>(shares[s]);
        t.index = static_cast<std::int16_t>(index);
    }
    return table;
}

void diffuseRow(Quantizer& q, const std::uint8_t* grays) {
    const RowLoop loop = loopFor(kernelIndex(q.levels.dither), q.levels.serpentine && q.done % 2 == 1,
                                 q.levels.linear, std::make_integer_sequence<int, kKernelCount>{});
    loop(q, grays, q.kernelShares.data());
}

}  // namespace graybmp
