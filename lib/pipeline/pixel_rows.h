// The source of rows for pixels in memory: each of the caller's rows laid out as the
// 32-bit pixels of the V4 BMP that holds them (blue, green, red, alpha), then through the
// alpha and gray stages as that BMP's rows are, in the order that BMP stores them (on
// `background`, 0xRRGGBB, or -1 to refuse pixels that are not opaque).
#pragma once

#include "bitmap/check.h"
#include "convert/gray.h"
#include "pictures/picture.h"
#include "pipeline/rows.h"

namespace graybmp {

// `layout` is the V4 BMP's, as the check accepted it.
CopyFault pixelRows(const PixelsIn& pixels, const ImageLayout& layout, const GrayFormula& method, Cpu cpu,
                    std::int32_t background, RowTaker next);

}  // namespace graybmp

namespace graybmp {

// The source of rows for a picture of another format: its decoder's rows (red, green,
// blue, alpha), grayed as the rows of the 32-bit top-down BMP of `layout` are (on
// `background`, or -1).
CopyFault pictureRows(Picture& picture, const ImageLayout& layout, const GrayFormula& method, Cpu cpu,
                      std::int32_t background, RowTaker next);

}  // namespace graybmp
