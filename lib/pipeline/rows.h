// The pipeline's rows: each stage takes a row and hands its own on, down to a sink. A
// source pushes the picture's rows, in the order it stores them, into the first taker;
// memory grows with the width alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

// How a copy ended: well, or why not. The first four are the streams' (a read, the
// input's length, a write); the others the conversion's own.
enum class CopyFault {
    None,
    ReadFailed,   // the input could not be read
    InputShrank,  // the input ended before a part it held when it was checked
    WriteFailed,  // the output could not be written (disk full, a sink that stopped, ...)
    Translucent,  // compact or levels output: a pixel is not opaque, and its alpha would be lost
    Refused,      // a later entry of a bitmap array broke a rule (the refusal says which)
    NoMemory,     // the buffers of the levels could not be had (a run-length image's
                  // width is not bounded by its file's length)
    Corrupt,      // a picture's decoder stopped (the picture says why)
};

// The next stage or the sink: `take` gets one row (the picture's width of bytes) and
// returns false to stop the pipeline (a write failed; the sink's side says why).
struct RowTaker {
    void* self = nullptr;
    bool (*take)(void* self, const std::uint8_t* row) = nullptr;
    bool operator()(const std::uint8_t* row) const { return take(self, row); }
};

// Pixels out: the sink of a conversion that makes new pixels is the caller's rows instead
// of a BMP. Each row goes to `row` with its picture row (0 = top): the level's gray, or
// its index with `indices`; `row` returns 0 to go on.
struct PixelRows {
    bool indices = false;
    int (*row)(void* context, std::uint32_t row, const unsigned char* pixels, std::uint32_t width) = nullptr;
    void* context = nullptr;
};

// Pixels in: the source of a conversion is the caller's pixels in memory, `height` rows
// of `width` pixels, the top row first, `stride` bytes apart, in a graybmp_layout; the
// file's rows run from the bottom with `bottomUp`.
struct PixelsIn {
    const unsigned char* pixels = nullptr;
    std::uint32_t width = 0, height = 0;
    std::size_t stride = 0;
    int layout = 0;
    bool bottomUp = false;
};

}  // namespace graybmp
