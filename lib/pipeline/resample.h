// The scale stage: rows of grays scaled in linear light by a separable filter, the rows
// first, then the columns, and placed on the canvas (the output before its turn), padded
// with the background's gray or cropped. Memory by the width: the filter's rows in a ring.
//   the filter's taps for output pixel x of an axis from `in` to `out` pixels:
//     nearest: the one input pixel floor((2x + 1) in / (2 out))
//     box: each i whose [i, i + 1) overlaps [x in / out, (x + 1) in / out), weighed by the
//       overlap times out (an integer; they sum to in)
//     lanczos3, mitchell: each i with |t| < R (3 or 2), t = n / D,
//       n = 2 i out - (2x + 1) in + out, D = 2 max(in, out), weighed by K(t) in IEEE
//       double (pipeline/resample.cpp has K, every operation in its order)
//   the weights of a pixel q_i = floor(k_i 16384 / S + 0.5) (box: (2 k_i 16384 + in) div
//     (2 in)), S the sum of its k_i in order, the rest 16384 - sum q_i added to the first
//     largest q_i
//   each pass: sum q_i v_i, then (sum + 8192) >> 14 (floor), clamped to 0..65535; the
//     values between the passes 16 bits; linear light Y(g) of pipeline/linear.h, encoded
//     back to the g whose Y(g) is nearest (ties to the lighter). An axis whose size does
//     not change is not filtered; with nearest (one tap of 16384) the grays are not decoded.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/fit.h"
#include "platform/cpu.h"
#include "pipeline/rows.h"

namespace graybmp {

// The taps of output pixel x: the first input pixel and the weights, 16384 in all.
void filterTaps(Filter filter, std::int64_t in, std::int64_t out, std::int64_t x, std::int64_t& first,
                std::vector<std::int32_t>& weights);

// The gray whose Y(g) is nearest the linear value v (ties to the lighter).
std::uint8_t encodedOf(std::int32_t v);

struct AxisTaps {
    std::vector<std::int64_t> first;     // a kept output pixel's first input pixel,
    std::vector<std::uint32_t> at;       // where its weights start, and end at the next's
    std::vector<std::int32_t> weights;
    bool narrow = true;  // every pixel's weights small enough for sums in 32 bits
    bool single = true;  // every pixel one tap
    std::vector<std::int16_t> padded;    // narrow: the weights, each pixel's padded to kScaleLanes
    std::vector<std::uint32_t> paddedAt;
};

struct ScaleStage {
    FitPlan plan;
    Filter filter = Filter::Lanczos3;
    bool linear = false;  // scaled in linear light (every filter but nearest)
    bool bottomUp = false;
    std::int64_t inWidth = 0, inHeight = 0;
    std::uint8_t background = 255;
    // The scaled columns and rows the canvas keeps: [x0, x1), [y0, y1) of the scaled picture.
    std::int64_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    AxisTaps columns;                      // their horizontal taps
    std::vector<std::int32_t> rowWeights;  // the row being made's vertical taps
    std::int64_t rowFor = -1, rowFirst = 0;  // which row they are, and its first input row
    std::vector<std::int32_t> sums;        // its sums, in 32 bits
    std::vector<std::int64_t> wideSums;    // or in 64 where its weights are large
    std::int64_t needFrom = 0, needTo = 0;  // the input rows the kept rows reach
    std::int64_t ring = 0;                 // rows in the ring
    std::vector<std::uint16_t> rows;       // the ring: the kept columns of input rows
    std::vector<std::uint16_t> values;     // one input row in linear light
    std::vector<std::int16_t> shifted;     // and less 32768, for the vectors' pass
    Cpu cpu = Cpu::Scalar;                 // whose kernel
    std::int64_t received = 0;             // input rows so far
    std::int64_t next = 0;                 // canvas rows handed on so far
    std::vector<std::uint8_t> canvas;      // the canvas row being made
    RowTaker taker;
};

// The heap the stage takes for a plan (the ring and its rows), for the check before it.
std::uint64_t scaleHeap(const FitPlan& plan, Filter filter, std::int64_t inWidth, std::int64_t inHeight);

// What the source feeds: the stage, set up here, handing canvas rows (plan.canvasWidth
// bytes, in the order the source's rows come: bottom first with `bottomUp`) to `next`.
RowTaker scaleInto(ScaleStage& stage, const FitPlan& plan, Filter filter, std::int64_t inWidth,
                   std::int64_t inHeight, bool bottomUp, std::uint8_t background, Cpu cpu, RowTaker next);

}  // namespace graybmp
