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

}  // namespace graybmp
