// The source of rows for pixels in memory: each of the caller's rows laid out as the
// 32-bit pixels of the V4 BMP that holds them (blue, green, red, alpha), then through the
// alpha and gray stages as that BMP's rows are, in the order that BMP stores them.
#pragma once

#include "bitmap/check.h"
#include "convert/gray.h"
#include "pipeline/rows.h"

namespace graybmp {

// `layout` is the V4 BMP's, as the check accepted it.
CopyFault pixelRows(const PixelsIn& pixels, const ImageLayout& layout, const GrayFormula& method, Cpu cpu,
                    RowTaker next);

}  // namespace graybmp
