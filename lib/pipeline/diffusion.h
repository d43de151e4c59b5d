// Error diffusion by any kernel: the kernels by their published weights, one row of the
// registry each, and the row loop that shares each pixel's error by them (in the kernel's
// reading order, each w e / D rounded toward zero, the last share the rest), with a
// strength and serpentine rows.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/quantize.h"

namespace graybmp {

struct Tap {
    int dy, dx, weight;  // the row below (0: this one), the column to the right
};

struct Kernel {
    Dither dither;
    int divisor;
    int count;
    Tap taps[kMostTaps];
    bool rest;  // whether the last share is the rest of e (all but Atkinson's)
};

// The shares of every v of the quantizer's table range (not in linear light, whose
// shares are worked out a pixel at a time).
std::vector<KernelShares> kernelShares(const Quantizer& q);

// One row of q's picture diffused by its kernel: `grays` into q.indices, the error into
// q's rows of error.
void diffuseRow(Quantizer& q, const std::uint8_t* grays);

// `count` rows (1 or kChains, one way) at once, `count` rows of `grays` into as many of
// `indices`, each `q.width` apart: the same bytes as a row at a time.
void diffuseRows(Quantizer& q, const std::uint8_t* grays, std::uint8_t* indices, int count);

}  // namespace graybmp
