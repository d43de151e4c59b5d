// The sinks of the pipeline: a BMP of levels written to a stream, and the caller's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/rows.h"
#include "platform/stream.h"

namespace graybmp {

// The rows of a BMP of levels: each row of indices packed at its depth and written in
// order behind the headers, a span of rows at a time.
struct BmpSink {
    Stream* out = nullptr;
    int depth = 8;
    std::size_t width = 0;
    std::int64_t offset = 0, stride = 0, row = 0, held = 0;
    std::vector<std::uint8_t> packed;  // a span of output rows
};

// A sink for rows of `width` pixels of `depth` bits, `spanRows` of them a write, the
// pixels starting at `offset`.
BmpSink bmpSinkOf(Stream& out, std::int64_t width, int depth, std::int64_t offset, std::int64_t spanRows);
RowTaker bmpSinkTaker(BmpSink& sink);
// Writes the rows still held.
bool bmpSinkFlush(BmpSink& sink);

// The caller's rows: each with its picture row, the level's gray (L_k of `count` levels)
// or its index.
struct PixelSink {
    PixelRows to;
    std::size_t width = 0;
    std::int64_t rows = 0, fileRow = 0;
    bool bottomUp = false;
    bool grays = false;           // indices become their levels' grays
    std::uint8_t level[256] = {};
    std::vector<std::uint8_t> line;
};

PixelSink pixelSinkOf(const PixelRows& to, std::int64_t width, std::int64_t rows, bool bottomUp, int count);
RowTaker pixelSinkTaker(PixelSink& sink);

}  // namespace graybmp
