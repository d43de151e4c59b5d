// The walk over OS/2 RLE24 data, which carries its colours in its codes:
//   count > 0, then one blue, green, red triple: a run of that colour
//   0, 0: end of line        0, 1: end of bitmap        0, 2, dx, dy: a delta
//   0, n >= 3, then n triples, padded to an even length: an absolute run
// Every triple is grayed where it lies; every code, count, delta and pad stays. The walk
// follows the codes alone, so a run longer than its row or a delta out of the image
// changes nothing in it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitmap/check.h"
#include "convert/gray.h"
#include "platform/memory.h"
#include "platform/stream.h"

namespace graybmp {

struct Rle24Walk {
    std::uint32_t literal = 0;  // triples left in the absolute run being walked
    bool pad = false;           // a pad byte follows that run
    bool ended = false;         // the end-of-bitmap code was met
};

// Walks `size` bytes of the runs, graying the triples in place, and returns how many bytes
// it walked: all of them, or fewer where a code or triple is cut by the end of `data`
// (the walk goes on from there with more bytes) or the end of the bitmap was met.
std::size_t walkRle24(Rle24Walk& walk, std::uint8_t* data, std::size_t size,
                      const GrayFormula& method);

// RLE8 and RLE4 decoded in file order, from the pixel offset of `layout` through `chunk`:
// runs, absolute runs, ends of line and deltas. What a delta or an end of line skips, and
// everything after the data's end, is index 0; a run past the row's end is dropped; an
// absolute run is padded to whole 16-bit words; RLE4 alternates its nibbles. Each of
// `rows` rows of `layout.width` indices goes to `row` as soon as it ends. False when the
// input cannot be read or `row` stops.
bool decodeRuns(Stream& in, const ImageLayout& layout, Buffer& chunk, std::int64_t rows,
                bool (*row)(void* self, const std::uint8_t* indices), void* self);

}  // namespace graybmp
