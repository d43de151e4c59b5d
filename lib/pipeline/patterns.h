// The matrices of the ordered ditherings: Bayer's of each side, the halftone's clustered
// dots and the blue noise.
#pragma once

#include "pipeline/levels.h"

namespace graybmp {

// The rank M (0 to S - 1, S = side x side) at row y, column x of the dithering's matrix
// (y, x below its side).
int orderedRank(Dither dither, int y, int x);

}  // namespace graybmp
