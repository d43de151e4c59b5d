#include "pipeline/quantize.h"

#include <algorithm>
#include <cstring>

#include "convert/methods.h"
#include "pipeline/diffusion.h"
#include "pipeline/linear.h"
#include "pipeline/patterns.h"

namespace graybmp {
namespace {


// The index of the level nearest a value v is clamp((2v(N - 1) + 255) div 510, 0, N - 1);
// with measured grays the k of the nearest G_k, ties to the lighter; with a threshold T,
// 1 where v >= T. It grows with v: the least v whose index is above k < N - 1 is where
// 2v(N - 1) + 255 >= 510(k + 1); with measured grays 2v >= G_k + G_k+1; with a threshold,
// T. In linear light (`level` the Y of the levels or grays), 2v >= Y_k + Y_k+1.
std::int64_t stepAbove(int k, const Levels& l, const std::vector<std::int32_t>& level) {
    const auto k1 = static_cast<std::size_t>(k) + 1;
    if (l.linear) return -floorDiv(-(std::int64_t{level[k1 - 1]} + level[k1]), 2);
    if (l.threshold >= 0) return l.threshold;
    if (l.graysCount == 0) return -floorDiv(-(510 * std::int64_t{k + 1} - 255), 2 * std::int64_t{l.count - 1});
    return -floorDiv(-(std::int64_t{l.grays[k]} + l.grays[k + 1]), 2);
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
    // Every v's index, the levels' runs between their steps: of v in the table's range, in
    // linear light of v from 0 to 65535.
    const std::int64_t low = levels.linear ? 0 : -kLow, high = levels.linear ? 65536 : kHigh;
    q.near.resize(static_cast<std::size_t>(high - low));
    std::int64_t from = low;
    for (int k = 0; k < n; ++k) {
        const std::int64_t to = k + 1 < n ? std::clamp(stepAbove(k, levels, q.level), from, high) : high;
        std::fill(q.near.begin() + static_cast<std::ptrdiff_t>(from - low), q.near.begin() + static_cast<std::ptrdiff_t>(to - low),
                  static_cast<std::uint8_t>(k));
        from = to;
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
    if (diffuses(levels.dither) && !levels.linear)
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
    default:  // error diffusion
        diffuseRow(q, grays);
        break;
    }
    ++q.done;
}

namespace {

// Whether the rows are diffused kChains at a time: one way, by any kernel.
bool chained(const Levels& l) { return diffuses(l.dither) && !l.serpentine; }

// The group of rows held: diffused, and each row handed on in order.
bool groupDone(QuantizeStage& stage) {
    Quantizer& q = stage.q;
    const auto held = static_cast<std::size_t>(stage.held);
    diffuseRows(q, stage.grays.data(), stage.indices.data(), stage.held);
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
