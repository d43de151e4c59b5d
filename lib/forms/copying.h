// What the forms that keep the input's own encoding share: the copy's view of one bitmap
// (a whole file, or an entry of a bitmap array), stretches copied as they are, rows
// changed where they lie a chunk at a time, and a bitmap's colours grayed in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitmap/check.h"
#include "conversion/context.h"
#include "convert/gray.h"
#include "platform/memory.h"
#include "platform/stream.h"

namespace graybmp {

// What one copy works with: both files, the layout and the one chunk buffer, which the
// entries of a bitmap array share, each with its own layout.
struct Copy {
    Stream& in;
    Stream& out;
    const ImageLayout& layout;
    Buffer& chunk;
    const GrayFormula& method;
    Cpu cpu;
};

inline Copy copyOf(Conversion& c) { return Copy{*c.in, *c.out, c.layout, c.chunk, c.settings.method, c.cpu}; }

// Whether the input is a pipe that had not ended when it was checked.
inline bool sizeUnknown(const Copy& c) { return c.layout.fileSize >= kUnknownSize; }

// The input's bytes [from, to) to the same offsets of the output; a copy up to the end of
// a pipe stops where the pipe ends.
bool copyRange(Copy& c, std::int64_t from, std::int64_t to);

// The input's length: the file's, or a pipe's once it has ended.
std::int64_t inputLength(const Copy& c);

// The rows [pixelOffset, pixelOffset + rowCount * stride) pass through the chunk: spans
// of whole rows when a row fits in it, else pieces of one row that start at multiples of
// 12 bytes into it. `edit(self, part, column, length)` changes one row's part in place;
// each span is then written where it was read. The last row's padding may be missing from
// the input: `fullLastRow` writes it all the same (zeros before the edit), else only
// what the input holds is written.
using RowEdit = void (*)(void* self, std::uint8_t* part, std::int64_t column, std::int64_t n);
bool editRows(Copy& c, bool fullLastRow, RowEdit edit, void* self);

// A bitmap's colour table, then its pixels where they change: true-colour rows or RLE24
// runs. `pos` is how far the output is written, and moves on.
bool grayBitmap(Copy& c, std::int64_t& pos);

// A true-colour bitmap's pixels grayed where they lie.
bool grayTruePixels(Copy& c);

}  // namespace graybmp
