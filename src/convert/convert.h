// The gray copy of an accepted input, written through two open streams.
#pragma once

#include <cstdint>
#include <vector>

#include "bitmap/check.h"
#include "platform/stream.h"

namespace graybmp {

// The two rows in flight: the input row receives each row as read, the output row is
// what is written, padding included. Allocated once, before the first row.
struct RowBuffers {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
};

enum class CopyFault {
    None,
    ReadFailed,   // the input could not be read
    InputShrank,  // the input ended before a row it held when it was checked
    WriteFailed,  // the output could not be written (disk full, ...)
};

// `lead` is what checkInput accepted with `layout`; `out` is empty and at offset 0.
//
// The output holds, at the input's offsets: the headers unchanged, the palette grayed,
// every row's index bytes unchanged followed by padding that repeats the row's first
// indices, and the input's bytes behind the last row. Nothing is written between the
// palette's end and the first row, so that stretch reads back as zeros, and the output
// is never shorter than the input.
CopyFault copyImage(Stream& in, Stream& out, const std::uint8_t* lead, const ImageLayout& layout);

}  // namespace graybmp
