// The gray copy of an accepted input, written through two open streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bitmap/check.h"
#include "convert/gray.h"
#include "convert/levels.h"
#include "platform/stream.h"

namespace graybmp {

// Rows are read, changed where they lie and written back in chunks of this many bytes
// (whole rows when they fit, else pieces of one row): the only buffer of the copy.
constexpr std::size_t kChunkSize = 256 * 1024;
// The least chunk: whole pixels of every size (2, 3, 4 and 8 bytes) and palette entries.
constexpr std::size_t kMinChunkSize = 24;

enum class CopyFault {
    None,
    ReadFailed,   // the input could not be read
    InputShrank,  // the input ended before a part it held when it was checked
    WriteFailed,  // the output could not be written (disk full, ...)
    Translucent,  // compact output: a pixel is not opaque, and its alpha would be lost
    Refused,      // a later entry of a bitmap array broke a rule (`refusal` says which)
    NoMemory,     // the buffers of the levels could not be had (a run-length image's
                  // width is not bounded by its file's length)
};

// Why a later entry of a bitmap array was refused: the rule, and the reason in words.
struct Refusal {
    InputError error = InputError::None;
    std::string reason;
};

// `lead` is what checkInput accepted with `layout`; `out` is empty. `chunkSize` is for
// tests that put chunk edges elsewhere.
//
// Indexed8: the output holds, at the input's offsets, the headers unchanged, the 256-entry
// palette block grayed, every row's index bytes unchanged followed by padding that
// repeats the row's first indices, and the input's bytes behind the last row. Between the
// palette's end and the first row only an embedded colour profile's bytes are written
// (where they lie); the rest of that stretch reads back as zeros. The output is never
// shorter than the input.
//
// Palettized: the input with its colour table grayed, every other byte unchanged.
// Rle24: the input with its colour table and every colour triple of its runs grayed.
// A bitmap array: every entry's colour table and true-colour pixels grayed.
// TrueColour: the input with its colour table (if any) and every pixel grayed.
// Compact (true colour only): an uncompressed 8-bit BMP instead, its headers made by
// levelHeaders for kCompactLevels, then one index a pixel, its gray, every row padded with zeros; written
// in order, so that any stream can take it.
//
// Levels (a count of 2 to 256; palettized kinds but OS/2 Huffman and top-down RLE, and
// 16- to 32-bit true colour): an uncompressed gray BMP of that many levels instead, its
// headers made by levelHeaders, written in order (see levels.h); 256 levels of 8 bits
// from true colour, undithered, are the compact form.
//
// Every colour is grayed by `method`.
CopyFault copyImage(Stream& in, Stream& out, const std::uint8_t* lead, const ImageLayout& layout,
                    std::size_t chunkSize = kChunkSize,
                    const GrayFormula& method = GrayMethod::Mean,
                    bool compact = false, Refusal* refusal = nullptr, Cpu cpu = processCpu(),
                    const Levels& levels = Levels{});

// The compact form's rows of a true-colour image whose whole file lies in memory, as
// checkInput accepted it with `layout`: each row's grays straight into `pixels`, the top
// row first, `stride` bytes from one to the next; no headers, and no copy of the input.
// CopyFault::Translucent for a pixel that is not opaque (the rows before it are written).
CopyFault compactRows(const std::uint8_t* file, const ImageLayout& layout, const GrayFormula& method,
                      Cpu cpu, std::uint8_t* pixels, std::size_t stride);

}  // namespace graybmp
