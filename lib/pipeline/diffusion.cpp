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

// A step of a loop that must be inlined to keep its state in registers.
#if defined(__GNUC__)
#define GRAYBMP_INLINE __attribute__((always_inline))
#else
#define GRAYBMP_INLINE
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


// The shares of an error e by the kernel: e P / 100 (toward zero) shared in reading
// order, each w e / D toward zero, the last the rest.
template <int K>
GRAYBMP_INLINE inline void sharesOf(std::int32_t e, std::int32_t strength, std::int32_t* out) {
    constexpr Kernel k = kKernels[K];
    if (strength != 100) e = e * strength / 100;
    std::int32_t given = 0;
    GRAYBMP_UNROLL
    for (int t = 0; t < k.count; ++t) {
        out[t] = k.rest && t + 1 == k.count ? e - given : k.taps[t].weight * e / k.divisor;
        given += out[t];
    }
}

// Whether a kernel reaches two rows below.
constexpr bool reachesTwoRows(const Kernel& k) {
    for (int t = 0; t < k.count; ++t)
        if (k.taps[t].dy == 2) return true;
    return false;
}

// Whether a kernel reaches two pixels on along the row.
constexpr bool reachesTwoOn(const Kernel& k) {
    for (int t = 0; t < k.count; ++t)
        if (k.taps[t].dy == 0 && k.taps[t].dx == 2) return true;
    return false;
}

// The lowest column of a packed window: its low 12 bits, signed.
inline std::int32_t lowestColumn(std::int64_t window) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(static_cast<std::uint64_t>(window) << (64 - kColumnBits)) >>
                                     (64 - kColumnBits));
}

// One row's state as it is diffused: its shares to its next pixel and the one after, and
// for each row below a window of the five columns around its pixel packed in one integer
// (see KernelShares).
struct Chain {
    std::int32_t next1 = 0, next2 = 0;
    std::int64_t window1 = 0, window2 = 0;
    const std::uint8_t* grays;
    std::uint8_t* indices;
    std::int32_t* rows[3];  // the error into this row, and into the two below
};

// The window's lowest column added to its row, which it leaves.
GRAYBMP_INLINE inline void flush(std::int64_t& window, std::int32_t* column) {
    const std::int32_t lowest = lowestColumn(window);
    *column += lowest;
    window = (window - lowest) >> kColumnBits;
}

// What the loop reads of the quantizer, held apart from the rows it writes.
struct Tables {
    const KernelShares* shares;  // in the table's range (not in linear light)
    const std::uint8_t* near;    // in linear light, the index of each v from 0 to 65535
    const std::int32_t* level;
    std::int32_t strength;
    int last;  // N - 1: the index of every v above the table (0 below it)
};

// Pixel x of a row by kernel K, right to left with `Reverse`, v in linear light with
// `Linear`. Shares worked out a pixel at a time (in linear light, or of a v beyond the
// table) go straight to the rows below.
template <int K, bool Reverse, bool Linear>
GRAYBMP_INLINE inline void diffusePixel(Chain& c, const Tables& tables, std::ptrdiff_t x) {
    constexpr Kernel k = kKernels[K];
    constexpr std::ptrdiff_t step = Reverse ? -1 : 1;
    const std::int32_t v = (Linear ? std::int32_t{kLinearOf[c.grays[x]]} : std::int32_t{c.grays[x]}) + c.rows[0][x] + c.next1;
    if (!Linear && v >= -kLow && v < kHigh) {
        const KernelShares& t = tables.shares[v + kLow];
        c.indices[x] = static_cast<std::uint8_t>(t.index);
        if constexpr (reachesTwoOn(k)) c.next1 = c.next2 + t.next1, c.next2 = t.next2;
        else c.next1 = t.next1;
        c.window1 += t.below[0];
        if constexpr (reachesTwoRows(k)) c.window2 += t.below[1];
    } else {
        std::int32_t computed[kMostTaps];
        const int index = Linear ? tables.near[std::clamp<std::int32_t>(v, 0, 65535)] : v < 0 ? 0 : tables.last;
        c.indices[x] = static_cast<std::uint8_t>(index);
        sharesOf<K>(v - tables.level[index], tables.strength, computed);
        c.next1 = c.next2, c.next2 = 0;
        GRAYBMP_UNROLL
        for (int s = 0; s < k.count; ++s) {
            const Tap& tap = k.taps[s];
            if (tap.dy == 0) (tap.dx == 1 ? c.next1 : c.next2) += computed[s];
            else c.rows[tap.dy][x + tap.dx * step] += computed[s];
        }
    }
    // Column x - 2 (in step) is complete a row below, and two rows below.
    flush(c.window1, c.rows[1] + x - 2 * step);
    if constexpr (reachesTwoRows(k)) flush(c.window2, c.rows[2] + x - 2 * step);
}

// A row's windows' last columns, past its end (the two past the end fall in the margins).
template <int K, bool Reverse>
void endChain(Chain& c, std::ptrdiff_t width) {
    constexpr std::ptrdiff_t step = Reverse ? -1 : 1;
    const std::ptrdiff_t end = Reverse ? -1 : width;
    for (std::ptrdiff_t i = -2; i < 2; ++i) {
        flush(c.window1, c.rows[1] + end + i * step);
        if constexpr (reachesTwoRows(kKernels[K])) flush(c.window2, c.rows[2] + end + i * step);
    }
}

// `Count` rows by kernel K (one way; one row alone may go right to left with `Reverse`).
// Row r follows row r - 1 two pixels behind: a pixel's shares reach at most two columns
// back, so the column a row below the one before is then complete, and the rows' chains of
// lookups run side by side.
template <int K, bool Reverse, bool Linear, std::size_t Count>
void diffuseRowsBy(Quantizer& q, const std::uint8_t* grays, std::uint8_t* indices, const KernelShares* table) {
    static_assert(!Reverse || Count == 1, "rows right to left run one at a time");
    static_assert(Count <= 2, "the rows of error kept");
    constexpr std::ptrdiff_t lag = 2;
    const auto width = static_cast<std::ptrdiff_t>(q.width);
    const std::size_t span = static_cast<std::size_t>(width) + 4;
    std::int32_t* rows[Count + 2];
    for (std::size_t r = 0; r < Count + 2; ++r)
        rows[r] = q.errors.data() + (q.errorRow + r) % kErrorRows * span + 2;
    const Tables tables{table, q.near.data(), q.level.data(), q.levels.strength, q.levels.count - 1};
    Chain first, second;
    first.grays = grays, first.indices = indices;
    second.grays = grays + width, second.indices = indices + width;
    for (std::size_t r = 0; r < 3; ++r) first.rows[r] = rows[r], second.rows[r] = rows[std::min(r + 1, Count + 1)];
    const auto at = [&](std::ptrdiff_t i) { return Reverse ? width - 1 - i : i; };
    if constexpr (Count == 1) {
        for (std::ptrdiff_t i = 0; i < width; ++i) diffusePixel<K, Reverse, Linear>(first, tables, at(i));
        endChain<K, Reverse>(first, width);
    } else {
        // The second row starts two pixels in, and ends two pixels after the first.
        for (std::ptrdiff_t x = 0; x < std::min<std::ptrdiff_t>(lag, width); ++x)
            diffusePixel<K, false, Linear>(first, tables, x);
        for (std::ptrdiff_t x = lag; x < width; ++x) {
            diffusePixel<K, false, Linear>(first, tables, x);
            diffusePixel<K, false, Linear>(second, tables, x - lag);
        }
        endChain<K, false>(first, width);
        for (std::ptrdiff_t x = std::max<std::ptrdiff_t>(width - lag, 0); x < width; ++x)
            diffusePixel<K, false, Linear>(second, tables, x);
        endChain<K, false>(second, width);
    }
    // These rows' error, cleared, becomes that of the rows after the next ones.
    for (std::size_t r = 0; r < Count; ++r) std::fill(rows[r] - 2, rows[r] - 2 + span, 0);
    q.errorRow = (q.errorRow + Count) % kErrorRows;
}

using RowLoop = void (*)(Quantizer&, const std::uint8_t*, std::uint8_t*, const KernelShares*);

template <int K>
constexpr RowLoop loopOf(int count, bool reverse, bool linear) {
    if (count == kChains)
        return linear ? diffuseRowsBy<K, false, true, kChains> : diffuseRowsBy<K, false, false, kChains>;
    return reverse ? (linear ? diffuseRowsBy<K, true, true, 1> : diffuseRowsBy<K, true, false, 1>)
                   : (linear ? diffuseRowsBy<K, false, true, 1> : diffuseRowsBy<K, false, false, 1>);
}

template <int... K>
RowLoop loopFor(int kernel, int count, bool reverse, bool linear, std::integer_sequence<int, K...>) {
    RowLoop loop = nullptr;
    ((loop = K == kernel ? loopOf<K>(count, reverse, linear) : loop), ...);
    return loop;
}

int kernelIndex(Dither dither) {
    for (int i = 0; i < kKernelCount; ++i)
        if (kKernels[i].dither == dither) return i;
    return 0;
}

template <int... K>
void shareBy(int kernel, std::int32_t e, std::int32_t strength, std::int32_t* out, std::integer_sequence<int, K...>) {
    ((K == kernel ? sharesOf<K>(e, strength, out) : void()), ...);
}

}  // namespace

std::vector<KernelShares> kernelShares(const Quantizer& q) {
    const int kernel = kernelIndex(q.levels.dither);
    const Kernel& k = kKernels[kernel];
    std::vector<KernelShares> table(static_cast<std::size_t>(kLow + kHigh));
    for (std::int32_t v = -kLow; v < kHigh; ++v) {
        KernelShares& t = table[static_cast<std::size_t>(v + kLow)];
        const int index = q.near[static_cast<std::size_t>(v + kLow)];
        std::int32_t shares[kMostTaps] = {};
        shareBy(kernel, v - q.level[static_cast<std::size_t>(index)], q.levels.strength, shares,
                std::make_integer_sequence<int, kKernelCount>{});
        t = KernelShares{};
        for (int s = 0; s < k.count; ++s) {
            const Tap& tap = k.taps[s];
            if (tap.dy == 0) (tap.dx == 1 ? t.next1 : t.next2) = shares[s];
            else t.below[tap.dy - 1] += shares[s] * (std::int64_t{1} << (kColumnBits * (tap.dx + 2)));
        }
        t.index = index;
    }
    return table;
}

void diffuseRow(Quantizer& q, const std::uint8_t* grays) {
    const RowLoop loop = loopFor(kernelIndex(q.levels.dither), 1, q.levels.serpentine && q.done % 2 == 1,
                                 q.levels.linear, std::make_integer_sequence<int, kKernelCount>{});
    loop(q, grays, q.indices.data(), q.kernelShares.data());
}

void diffuseRows(Quantizer& q, const std::uint8_t* grays, std::uint8_t* indices, int count) {
    const RowLoop loop = loopFor(kernelIndex(q.levels.dither), count, false, q.levels.linear,
                                 std::make_integer_sequence<int, kKernelCount>{});
    loop(q, grays, indices, q.kernelShares.data());
}

}  // namespace graybmp
