#include "pipeline/patterns.h"

#include <cstdint>

namespace graybmp {
namespace {

// The n x n Bayer matrix: M1 = [0], M2n = [[4Mn, 4Mn + 2], [4Mn + 3, 4Mn + 1]]: the
// quadrant of the lowest bits of x and y is the highest base-4 digit (at 8 x 8 the first
// row is 0 32 8 40).
int bayer(int y, int x, int side) {
    int m = 0;
    for (int bit = 1; bit < side; bit *= 2) {
        const int quadrant = ((y & bit) != 0 ? 2 : 0) + ((x & bit) != 0 ? 1 : 0);
        const int add[4] = {0, 2, 3, 1};
        m = 4 * m + add[quadrant];
    }
    return m;
}

// Two round dots a tile, centred on (1, 1) and (5, 5), a 45-degree screen of period
// 4 sqrt 2: each pixel belongs to the nearer centre on the torus (ties to the greater
// offset, row first), and ranks 2r (the first dot) or 2r + 1 (the second), r its place
// in its dot by the squared distance and then the offset, so that both dots grow
// together from their centres.
constexpr std::uint8_t kHalftone[8][8] = {
    {10, 2, 12, 32, 59, 53, 61, 30}, {4, 0, 6, 22, 50, 63, 48, 20},   {14, 8, 16, 36, 56, 47, 54, 34},
    {38, 24, 40, 44, 27, 19, 29, 42}, {58, 52, 60, 31, 11, 3, 13, 33}, {51, 62, 49, 21, 5, 1, 7, 23},
    {57, 46, 55, 35, 15, 9, 17, 37},  {26, 18, 28, 43, 39, 25, 41, 45},
};

constexpr std::uint16_t kBlueNoise[64 * 64] = {
#include "pipeline/blue_noise.inc"
};

}  // namespace

int orderedRank(Dither dither, int y, int x) {
    switch (dither) {
    case Dither::Halftone:
        return kHalftone[y][x];
    case Dither::BlueNoise:
        return kBlueNoise[y * 64 + x];
    default:
        return bayer(y, x, orderedSide(dither));
    }
}

}  // namespace graybmp
