#include "pipeline/sinks.h"

#include "bitmap/headers.h"
#include "pipeline/levels.h"
#include "pipeline/quantize.h"

namespace graybmp {
namespace {

bool bmpTake(void* self, const std::uint8_t* indices) {
    BmpSink& s = *static_cast<BmpSink*>(self);
    packRow(indices, s.width, s.depth, static_cast<std::size_t>(s.stride), s.packed.data() + s.held * s.stride);
    ++s.row, ++s.held;
    return s.held * s.stride < static_cast<std::int64_t>(s.packed.size()) || bmpSinkFlush(s);
}

bool pixelTake(void* self, const std::uint8_t* row) {
    PixelSink& s = *static_cast<PixelSink*>(self);
    if (s.grays) {
        for (std::size_t x = 0; x < s.width; ++x) s.line[x] = s.level[row[x]];
        row = s.line.data();
    }
    const std::int64_t picture = s.bottomUp ? s.rows - 1 - s.fileRow : s.fileRow;
    ++s.fileRow;
    return s.to.row(s.to.context, static_cast<std::uint32_t>(picture), row, static_cast<std::uint32_t>(s.width)) == 0;
}

}  // namespace

BmpSink bmpSinkOf(Stream& out, std::int64_t width, int depth, std::int64_t offset, std::int64_t spanRows) {
    BmpSink s;
    s.out = &out;
    s.depth = depth;
    s.width = static_cast<std::size_t>(width);
    s.offset = offset;
    s.stride = levelStride(width, depth);
    s.packed.resize(static_cast<std::size_t>(spanRows * s.stride));
    return s;
}

RowTaker bmpSinkTaker(BmpSink& sink) { return RowTaker{&sink, bmpTake}; }

bool bmpSinkFlush(BmpSink& s) {
    const bool ok = s.held == 0 || streamWriteAt(*s.out, s.offset + (s.row - s.held) * s.stride, s.packed.data(),
                                                 static_cast<std::size_t>(s.held * s.stride));
    s.held = 0;
    return ok;
}

PixelSink pixelSinkOf(const PixelRows& to, std::int64_t width, std::int64_t rows, bool bottomUp, int count) {
    PixelSink s;
    s.to = to;
    s.width = static_cast<std::size_t>(width);
    s.rows = rows;
    s.bottomUp = bottomUp;
    s.grays = !to.indices && count < 256;  // at 256 levels the index is the gray
    for (int k = 0; k < count; ++k) s.level[k] = static_cast<std::uint8_t>(levelGray(k, count));
    if (s.grays) s.line.resize(s.width);
    return s;
}

RowTaker pixelSinkTaker(PixelSink& sink) { return RowTaker{&sink, pixelTake}; }

}  // namespace graybmp
