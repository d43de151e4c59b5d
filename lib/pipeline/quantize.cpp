#include "pipeline/quantize.h"

#include <algorithm>
#include <cstring>

#include "convert/methods.h"
#include "pipeline/diffusion.h"
#include "pipeline/linear.h"
#include "pipeline/patterns.h"

namespace graybmp {
namespace {

constexpr std::int32_t kLow = 1024;   // the index table covers v in [-kLow, kHigh)
constexpr std::int32_t kHigh = 1280;

// The index of the level nearest a value v: clamp((2v(N - 1) + 255) div 510, 0, N - 1);
// with measured grays the k of the nearest G_k, ties to the lighter; with a threshold T,
// 1 where v >= T.
int indexOf(std::int32_t v, const Levels& l) {
    const int n = l.count;
    if (l.threshold >= 0) return v >= l.threshold ? 1 : 0;
    if (l.graysCount == 0)
        return static_cast<int>(
            std::clamp<std::int64_t>(floorDiv(2 * std::int64_t{v} * (n - 1) + 255, 510), 0, n - 1));
    int k = 0;
    while (k + 1 < n && std::int64_t{l.grays[k + 1]} - v <= v - std::int64_t{l.grays[k]}) ++k;
    return k;
}

// In linear light, the k of the nearest Y(L_k) (ties to the lighter), for v from 0 to 65535.
int linearIndexOf(std::int32_t v, const std::vector<std::int32_t>& level) {
    std::size_t k = 0;
    while (k + 1 < level.size() && level[k + 1] - v <= v - level[k]) ++k;
    return static_cast<int>(k);
}

// The index of any v, and the shares of its error: 7e/16, 3e/16, 5e/16 (rounded toward zero)
// and the rest, or e/8 for each of Atkinson's six.
Shares sharesOf(const Quantizer& q, std::int32_t v) {
    const int index = indexOf(v, q.levels);
    const std::int32_t e = v - q.level[static_cast<std::size_t>(index)];
    if (q.levels.dither == Dither::Atkinson) {
        const auto s = static_cast<std::int16_t>(e / 8);
        return {s, s, s, s, static_cast<std::uint8_t>(index)};
    }
    const std::int32_t a = 7 * e / 16, b = 3 * e / 16, c = 5 * e / 16;
    return {static_cast<std::int16_t>(a), static_cast<std::int16_t>(b), static_cast<std::int16_t>(c),
            static_cast<std::int16_t>(e - a - b - c), static_cast<std::uint8_t>(index)};
}

// Floyd-Steinberg and Atkinson, one way, at full strength: the loops of their own.
bool fastDiffusion(const Levels& l) {
    return (l.dither == Dither::FloydSteinberg || l.dither == Dither::Atkinson) && !l.serpentine && l.strength == 100 &&
           !l.linear;
}

// In linear light, an ordered dithering's choice for each gray g: the level a below Y(g)
// (at most N - 2) and the least rank M of S that picks a + 1,
// (Y(g) - Y_a) 2S >= (2 (S - M) - 1) (Y_a+1 - Y_a); S where none does.
void linearChoices(Quantizer& q, std::int64_t entries) {
    const std::size_t n = q.level.size();
    for (int g = 0; g < 256; ++g) {
        const std::int64_t u = kLinearOf[g];
        std::size_t a = 0;
        while (a + 2 < n && q.level[a + 1] <= u) ++a;
        const std::int64_t low = q.level[a], step = q.level[a + 1] - low;
        std::int64_t first = 0, past = entries;  // the least M that picks a + 1 lies in [first, past]
        while (first < past) {
            const std::int64_t m = (first + past) / 2;
            if ((u - low) * 2 * entries >= (2 * (entries - m) - 1) * step) past = m;
            else first = m + 1;
        }
        q.below[g] = static_cast<std::uint8_t>(a);
        q.upperFrom[g] = static_cast<std::int32_t>(first);
    }
}

}  // namespace

int nearestIndex(const Quantizer& q, std::int32_t v) {
    if (q.levels.linear) return q.near[static_cast<std::size_t>(std::clamp<std::int32_t>(v, 0, 65535))];
    return v >= -kLow && v < kHigh ? q.near[static_cast<std::size_t>(v + kLow)] : indexOf(v, q.levels);
}

Quantizer quantizerOf(const Levels& levels, std::int64_t width, std::int64_t rows, bool bottomUp) {
    Quantizer q;
    q.levels = levels, q.width = width, q.rows = rows, q.bottomUp = bottomUp;
    const int n = levels.count;
    // What quantizing aims at: the levels, or the grays the output shows (in linear light,
    // their decoded values).
    for (int k = 0; k < n; ++k) {
        const int gray = levels.graysCount > 0 ? levels.grays[k] : levelGray(k, n);
        q.level.push_back(levels.linear ? kLinearOf[gray] : gray);
    }
    if (levels.linear) {
        q.near.resize(65536);
        for (std::int32_t v = 0; v < 65536; ++v)
            q.near[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(linearIndexOf(v, q.level));
    } else {
        q.near.resize(kLow + kHigh);
        for (std::int32_t v = -kLow; v < kHigh; ++v)
            q.near[static_cast<std::size_t>(v + kLow)] = static_cast<std::uint8_t>(indexOf(v, levels));
    }
    q.side = orderedSide(levels.dither);
    const std::int64_t entries = std::int64_t{q.side} * q.side;
    for (int y = 0; y < q.side; ++y)
        for (int x = 0; x < q.side; ++x) {
            const int m = orderedRank(levels.dither, y, x);
            q.ordered.push_back(levels.linear ? m
                                              : static_cast<std::int32_t>(floorDiv(
                                                    (2 * m - (entries - 1)) * 255 + entries * (n - 1),
                                                    2 * entries * (n - 1))));
        }
    if (levels.linear && q.side > 0) linearChoices(q, entries);
    if (diffuses(levels.dither)) q.errors.assign(kErrorRows * static_cast<std::size_t>(width + 4), 0);
    if (fastDiffusion(levels))
        for (std::int32_t v = -kLow; v < kHigh; ++v)
            q.shares.push_back(sharesOf(q, v)), q.rights.push_back(q.shares.back().right);
    else if (diffuses(levels.dither) && !levels.linear)
        q.kernelShares = kernelShares(q);
    q.indices.resize(static_cast<std::size_t>(width));
    return q;
}


void quantizeRow(Quantizer& q, const std::uint8_t* grays) {
    const auto width = static_cast<std::size_t>(q.width);
    std::uint8_t* k = q.indices.data();
    switch (q.levels.dither) {
    case Dither::None:
        if (q.levels.linear)
            for (std::size_t x = 0; x < width; ++x) k[x] = q.near[kLinearOf[grays[x]]];
        else
            for (std::size_t x = 0; x < width; ++x) k[x] = q.near[grays[x] + kLow];
        break;
    case Dither::Ordered:
    case Dither::Bayer2:
    case Dither::Bayer4:
    case Dither::Bayer16:
    case Dither::Halftone:
    case Dither::BlueNoise: {
        const std::int64_t y = q.bottomUp ? q.rows - 1 - q.done : q.done;
        const auto side = static_cast<std::size_t>(q.side), last = side - 1;  // a power of 2
        const std::int32_t* offsets = q.ordered.data() + static_cast<std::size_t>(y % q.side) * side;
        if (q.levels.linear)
            for (std::size_t x = 0; x < width; ++x)
                k[x] = static_cast<std::uint8_t>(q.below[grays[x]] + (offsets[x & last] >= q.upperFrom[grays[x]] ? 1 : 0));
        else
            for (std::size_t x = 0; x < width; ++x)
                k[x] = q.near[static_cast<std::size_t>(grays[x] + offsets[x & last] + kLow)];
        break;
    }
    case Dither::FloydSteinberg:
    case Dither::Atkinson: {
        if (!fastDiffusion(q.levels) || q.levels.dither == Dither::FloydSteinberg) {
            diffuseRow(q, grays);
            break;
        }
        // Three rows of error, each with two places before and after the pixels: this
        // row's, the next one's and the one after (Atkinson's second below), in turn in
        // the rows of `errors`. The error going right, and the next row's shares
        // still growing, are carried in variables.
        const std::size_t span = width + 4;
        std::int32_t* rows[3];
        for (std::size_t r = 0; r < 3; ++r) rows[r] = q.errors.data() + (q.errorRow + r) % kErrorRows * span + 2;
        std::int32_t* here = rows[0];
        std::int32_t* below = rows[1];
        std::int32_t* further = rows[2];
        const Shares* table = q.shares.data() + kLow;
        Shares beyond{};  // the shares of a v outside the table
        // What v passes on comes from the table, or is worked out for a v beyond it (an
        // error that has grown far, which the shares of 8-bit grays never make).
        // Atkinson (Floyd-Steinberg one way at full strength runs two rows at once, in
        // floydSteinbergRows).
        {
            // The share from two pixels back is added before the one from the last pixel,
            // which alone is on the chain.
            std::int32_t last = 0, second = 0, left = 0, under = 0;  // from x - 1 and x - 2
            for (std::size_t x = 0; x < width; ++x) {
                const std::int32_t v = (grays[x] + here[x] + second) + last;
                const Shares& t = v >= -kLow && v < kHigh ? table[v] : (beyond = sharesOf(q, v));
                const std::int32_t s8 = t.right;
                k[x] = t.index;
                second = last;
                last = s8;
                below[static_cast<std::ptrdiff_t>(x) - 1] += left + s8;
                left = under + s8;
                under = s8;
                further[x] = s8;
            }
            below[width - 1] += left;
        }
        // The next row's error becomes this one's, and this one's row, cleared, the one
        // after the next (the places beyond each end are written, never read).
        std::fill(here - 2, here - 2 + span, 0);
        q.errorRow = (q.errorRow + 1) % kErrorRows;
        break;
    }
    default:  // the other kernels
        diffuseRow(q, grays);
        break;
    }
    ++q.done;
}

namespace {

// Whether the rows go through floydSteinbergRows.
bool floydSteinbergChained(const Levels& l) { return l.dither == Dither::FloydSteinberg && fastDiffusion(l); }

// Whether the rows are diffused kChains at a time: one way, by any kernel but Atkinson's own
// loop.
bool chained(const Levels& l) {
    return diffuses(l.dither) && !l.serpentine && !(l.dither == Dither::Atkinson && fastDiffusion(l));
}

// `Count` rows of Floyd-Steinberg at once, row r two pixels behind row r - 1 (whose
// shares below it has then all made): the same bytes as a row at a time. errors[r] (r = 0
// to Count) holds the error carried into row r, a place before and after the pixels;
// row r assigns all of errors[r + 1]. Every v of 8-bit grays lies in the tables' range.
template <int Count>
void floydSteinbergRows(const Quantizer& q, const std::uint8_t* grays, std::uint8_t* indices,
                        std::int32_t* const* errors) {
    const auto width = static_cast<std::ptrdiff_t>(q.width);
    const Shares* const table = q.shares.data() + kLow;
    const std::int16_t* const rights = q.rights.data() + kLow;
    constexpr std::size_t n = Count;
    // The rows of grays and indices lie `width` apart, the rows of error `span` apart.
    const auto span = static_cast<std::ptrdiff_t>(errors[1] - errors[0]);
    std::ptrdiff_t right[n] = {}, left[n] = {}, under[n] = {};  // to x + 1; below x - 1 and x
    std::int32_t* const e = errors[0];
    const auto pixel = [&](std::size_t r, std::ptrdiff_t x) {
        const auto row = static_cast<std::ptrdiff_t>(r);
        const std::ptrdiff_t at = row * width + x, here = row * span + x;
        const std::ptrdiff_t v = (grays[at] + e[here]) + right[r];
        if (v < -kLow || v >= kHigh) {  // beyond the tables: worked out
            const Shares t = sharesOf(q, static_cast<std::int32_t>(v));
            right[r] = t.right, indices[at] = t.index;
            e[here + span - 1] = static_cast<std::int32_t>(left[r] + t.lowerLeft);
            left[r] = under[r] + t.below, under[r] = t.lowerRight;
            return;
        }
        right[r] = rights[v];
        const Shares& t = table[v];
        indices[at] = t.index;
        e[here + span - 1] = static_cast<std::int32_t>(left[r] + t.lowerLeft);
        left[r] = under[r] + t.below;
        under[r] = t.lowerRight;
    };
    const auto ended = [&](std::size_t r) {  // its lower right dropped
        e[static_cast<std::ptrdiff_t>(r + 1) * span + width - 1] = static_cast<std::int32_t>(left[r]);
    };
    const std::ptrdiff_t steps = width + 2 * (Count - 1);
    for (std::ptrdiff_t t = 0; t < steps; ++t) {
        if (t >= 2 * (Count - 1) && t < width) {  // every row inside the picture
            for (std::size_t r = 0; r < n; ++r) pixel(r, t - 2 * static_cast<std::ptrdiff_t>(r));
            if (t == width - 1) ended(0);
            continue;
        }
        for (std::size_t r = 0; r < n; ++r) {
            const std::ptrdiff_t x = t - 2 * static_cast<std::ptrdiff_t>(r);
            if (x < 0 || x >= width) continue;
            pixel(r, x);
            if (x == width - 1) ended(r);
        }
    }
}

// The group of rows held: quantized, the error below its last row carried to the next
// group's first, and each row handed on in order.
bool groupDone(QuantizeStage& stage) {
    Quantizer& q = stage.q;
    const auto held = static_cast<std::size_t>(stage.held);
    if (floydSteinbergChained(q.levels)) {
        const std::size_t span = static_cast<std::size_t>(q.width) + 2;
        std::int32_t* errors[kChains + 1];
        for (std::size_t r = 0; r <= kChains; ++r) errors[r] = stage.errors.data() + r * span + 1;
        if (held == kChains)
            floydSteinbergRows<kChains>(q, stage.grays.data(), stage.indices.data(), errors);
        else  // the picture's last row
            floydSteinbergRows<1>(q, stage.grays.data(), stage.indices.data(), errors);
        std::copy(errors[held] - 1, errors[held] - 1 + span, errors[0] - 1);
    } else {
        diffuseRows(q, stage.grays.data(), stage.indices.data(), stage.held);
    }
    stage.held = 0;
    q.done += static_cast<std::int64_t>(held);
    for (std::size_t r = 0; r < held; ++r)
        if (!stage.next(stage.indices.data() + r * static_cast<std::size_t>(q.width))) return false;
    return true;
}

bool chainTake(void* self, const std::uint8_t* grays) {
    QuantizeStage& stage = *static_cast<QuantizeStage*>(self);
    const auto width = static_cast<std::size_t>(stage.q.width);
    std::copy(grays, grays + width, stage.grays.data() + static_cast<std::size_t>(stage.held) * width);
    ++stage.held;
    return stage.held < kChains && stage.q.done + stage.held < stage.q.rows ? true : groupDone(stage);
}

bool quantizeTake(void* self, const std::uint8_t* grays) {
    QuantizeStage& stage = *static_cast<QuantizeStage*>(self);
    quantizeRow(stage.q, grays);
    return stage.next(stage.q.indices.data());
}

}  // namespace

RowTaker quantizeInto(QuantizeStage& stage, const Levels& levels, std::int64_t width, std::int64_t rows,
                      bool bottomUp, RowTaker sink) {
    if (levels.count == 256 && levels.dither == Dither::None && levels.graysCount == 0) return sink;
    stage.q = quantizerOf(levels, width, rows, bottomUp);
    stage.next = sink;
    if (!chained(levels)) return RowTaker{&stage, quantizeTake};
    const auto w = static_cast<std::size_t>(width);
    stage.grays.resize(kChains * w), stage.indices.resize(kChains * w);
    if (floydSteinbergChained(levels)) stage.errors.assign((kChains + 1) * (w + 2), 0);
    return RowTaker{&stage, chainTake};
}

void packRow(const std::uint8_t* k, std::size_t width, int depth, std::size_t stride, std::uint8_t* out) {
    const std::size_t perByte = 8 / static_cast<std::size_t>(depth), whole = width / perByte;
    std::memset(out + whole, 0, stride - whole);  // the last pixels' byte and the padding
    switch (depth) {
    case 8:
        std::memcpy(out, k, width);
        return;
    case 4:
        for (std::size_t i = 0; i < whole; ++i)
            out[i] = static_cast<std::uint8_t>(k[2 * i] << 4 | k[2 * i + 1]);
        break;
    case 2:
        for (std::size_t i = 0; i < whole; ++i)
            out[i] = static_cast<std::uint8_t>(k[4 * i] << 6 | k[4 * i + 1] << 4 | k[4 * i + 2] << 2 |
                                               k[4 * i + 3]);
        break;
    default:
        for (std::size_t i = 0; i < whole; ++i) {
            unsigned byte = 0;
            for (std::size_t b = 0; b < 8; ++b) byte = byte << 1 | k[8 * i + b];
            out[i] = static_cast<std::uint8_t>(byte);
        }
        break;
    }
    for (std::size_t x = whole * perByte; x < width; ++x)  // the last byte's pixels
        out[whole] = static_cast<std::uint8_t>(out[whole] | k[x] << (8 - depth * static_cast<int>(x - whole * perByte + 1)));
}

}  // namespace graybmp
