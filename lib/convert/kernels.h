// The pixel kernels: each gray method's loop, compiled once for every processor target
// (Highway's), and the choice among them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/methods.h"
#include "platform/cpu.h"

namespace graybmp {

// The target every image takes: the best one built in that the processor runs, lowered
// (never raised) by the environment's GRAYBMP_CPU when it names one; chosen once.
Cpu processCpu();

// Every target built in that this processor runs, scalar first: what the tests try each of.
std::vector<Cpu> availableCpus();

// The weights of a weighted gray as the kernels take them: each exact in double precision
// (at most 10^12), so that every product and sum is exact.
struct WeightsInDouble {
    double red, green, blue, half, sum;
};
WeightsInDouble weightsInDouble(const GrayFormula& f);

// What a kernel grays: `count` pixels of `bytes` bytes (3 or 4: blue, green, red, then
// anything, which is kept) at `pixels`, grayed where they lie (out null) or their grays
// written to `out`, one byte each; or, with `bytes` 0, the planes blue[], green[], red[]
// (8 bits a channel) grayed into `out`.
struct PixelRun {
    std::uint8_t* pixels;
    std::size_t count;
    int bytes;
    std::uint8_t* out;
    const std::uint8_t* planes[3];  // blue, green, red
    WeightsInDouble weights;        // GrayMethod::Weights only
};

void runKernel(Cpu cpu, GrayMethod method, const PixelRun& run);

// What the scale stage's horizontal pass takes: `count` output pixels, each the sum of its
// weights (from weights + at[x] to weights + at[x + 1], padded with zeros to a multiple of
// kScaleLanes, summing to 16384, their magnitudes to at most 32767) times the values from
// values + first[x] (each a 16-bit value less 32768, readable kScaleLanes past the last),
// then (sum + 8192) >> 14 clamped to 0..65535 into out[x].
constexpr std::size_t kScaleLanes = 32;
struct ScaleRun {
    const std::int16_t* values;
    const std::int16_t* weights;
    const std::uint32_t* at;
    const std::int64_t* first;
    std::size_t count;
    std::uint16_t* out;
};
void runScale(Cpu cpu, const ScaleRun& run);

// A target's kernels: one a gray method, and the scaling pass.
using KernelFn = void (*)(const PixelRun&);
struct TargetKernels {
    const KernelFn* gray;
    void (*scale)(const ScaleRun&);
    void (*shift)(const std::uint8_t* grays, std::size_t n, const std::int32_t* table, std::int16_t* out);
    void (*accumulate)(std::int32_t* sums, const std::uint16_t* row, std::int32_t w, std::size_t n);
};
// The scale stage's other loops: out[x] = table[grays[x]] (values of 16 bits less 32768),
// and sums[x] += w row[x] (each sum within 32 bits).
void runShift(Cpu cpu, const std::uint8_t* grays, std::size_t n, const std::int32_t* table, std::int16_t* out);
void runAccumulate(Cpu cpu, std::int32_t* sums, const std::uint16_t* row, std::int32_t w, std::size_t n);

}  // namespace graybmp
