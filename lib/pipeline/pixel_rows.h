// The source of rows for pixels in memory: each of the caller's rows laid out as the
// 32-bit pixels of the V4 BMP that holds them (blue, green, red, alpha), then through the
// alpha and gray stages as that BMP's rows are, in the order that BMP stores them.
#pragma once

#include "bitmap/check.h"
#include "convert/gray.h"
#include "pictures/picture.h"
#include "pipeline/rows.h"

namespace graybmp {

// `layout` is the V4 BMP's, as the check accepted it.
CopyFault pixelRows(const PixelsIn& pixels, const ImageLayout& layout, const GrayFormula& method, Cpu cpu,
                    RowTaker next);

}  // namespace graybmp

namespace graybmp {

// The source of rows for a picture of another format: its decoder's rows (red, green,
// blue, alpha), composited on `background` (0xRRGGBB; -1: a pixel not opaque stops the
// copy as Translucent) as (c a + b (255 - a) + 127) div 255, then grayed as the 32-bit
// top-down BMP of `layout` is.
CopyFault pictureRows(Picture& picture, const ImageLayout& layout, const GrayFormula& method, Cpu cpu,
                      std::int32_t background, RowTaker next);

// One row of `width` RGBA pixels composited on `background` in place (alpha made full).
void composite(std::uint8_t* rgba, std::size_t width, std::uint32_t background);

}  // namespace graybmp
