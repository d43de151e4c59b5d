// The palette change that makes an 8-bit image gray: its pixels are indices into the
// palette, so graying the 256 entries grays the whole picture.
#pragma once

#include "bitmap/bitmap.h"

namespace graybmp {

// Replaces blue, green and red of every entry by the floor of their unweighted mean;
// the reserved byte is kept. All 256 entries, whatever biClrUsed says.
void grayPalette(Palette& palette);

}  // namespace graybmp
