// The blue-noise matrix of the `blue-noise` ordered dithering, made by the void-and-cluster
// method (Ulichney, 1993) in integer arithmetic only, so that every machine makes the same
// one; make_blue_noise writes it into the library's source, and a test makes it again.
#pragma once

#include <cstdint>
#include <vector>

namespace graybmp {

constexpr int kBlueNoiseSide = 64;

// The ranks 0 to 4095 of a 64 x 64 matrix, row by row.
std::vector<std::uint16_t> makeBlueNoise();

}  // namespace graybmp
