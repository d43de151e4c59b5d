// The source of rows for BMPs: the gray of every pixel of a palettized (uncompressed, RLE8,
// RLE4) or 16- to 32-bit image, a row at a time in the order the file stores them. The
// alpha stage (a pixel that is not opaque stops the source, or is composited on the
// background) and the gray stage are its
// last steps, since both read the pixels in their own encoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitmap/check.h"
#include "convert/gray.h"
#include "pipeline/rows.h"
#include "platform/memory.h"
#include "platform/stream.h"

namespace graybmp {

// Whether every one of `count` pixels of `size` bytes (2, 3 or 4) has all the bits of
// `alpha` set.
bool opaque(const std::uint8_t* p, std::size_t count, int size, std::uint32_t alpha);

// n pixels of a true-colour row: their grays into `out`; false for a pixel that is not
// opaque, unless a `background` (0xRRGGBB) is given to composite such a row on.
bool grayRow(const ImageLayout& l, const PixelGray& gray, const std::uint8_t* from, std::size_t n,
             std::uint8_t* out, std::int32_t background = -1);

// Every row of the image that `layout` describes, read from `in` through `chunk`, its
// grays by `method` to `next`.
CopyFault bmpRows(Stream& in, const ImageLayout& layout, Buffer& chunk, const GrayFormula& method,
                  Cpu cpu, std::int32_t background, RowTaker next);

// The heap the source takes beside the chunk: a row that does not fit it, and the rows
// of grays and indices.
std::uint64_t bmpRowsHeap(const ImageLayout& layout);

// The rows of a true-colour image whose whole file lies in memory: each row's grays
// straight into `pixels`, the top row first, `stride` bytes from one to the next (no
// stage between: the levels are the grays themselves). CopyFault::Translucent for a pixel
// that is not opaque (the rows before it are written).
CopyFault grayRowsInMemory(const std::uint8_t* file, const ImageLayout& layout, const GrayFormula& method,
                           Cpu cpu, std::int32_t background, std::uint8_t* pixels, std::size_t stride);

}  // namespace graybmp
