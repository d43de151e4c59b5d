#include "convert/convert.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap.h"
#include "convert/gray.h"

namespace graybmp {
namespace {

CopyFault faultOf(const Stream& in, const Stream& out) {
    if (out.error != 0) return CopyFault::WriteFailed;
    if (in.error != 0) return CopyFault::ReadFailed;
    return CopyFault::InputShrank;
}

bool copyHeaders(Stream& out, const std::uint8_t* lead, const ImageLayout& layout) {
    BitmapHeaders headers;
    std::memcpy(headers.bytes, lead, kHeadersSize);
    // A longer info header keeps its remaining bytes right behind the first 40.
    const auto infoRest = static_cast<std::size_t>(layout.infoHeaderSize) - 40;
    return streamWrite(out, headers.bytes, kHeadersSize) &&
           streamWrite(out, lead + kHeadersSize, infoRest);
}

// The palette follows the info header. Bytes the input does not hold read as zeros.
bool copyPalette(Stream& in, Stream& out, const ImageLayout& layout) {
    Palette palette{};
    if (!streamSeek(in, layout.paletteOffset)) return false;
    streamRead(in, &palette, sizeof palette);
    if (in.error != 0) return false;
    grayPalette(palette);
    return streamWrite(out, &palette, sizeof palette);
}

bool copyRows(Stream& in, Stream& out, const ImageLayout& layout) {
    if (!streamSeek(in, layout.pixelOffset) || !streamSeek(out, layout.pixelOffset)) return false;
    if (layout.rowCount == 0) return true;

    const auto width = static_cast<std::size_t>(layout.width);
    const auto padding = static_cast<std::size_t>(rowPadding(layout.width));
    RowBuffers rows{std::vector<std::uint8_t>(width), std::vector<std::uint8_t>(width)};
    // The output padding repeats the row's first indices; a row of one pixel has fewer
    // indices than padding bytes, so the rest of its padding is zeros.
    std::uint8_t narrowPadding[3] = {0, 0, 0};
    const bool narrow = width < padding;
    const std::uint8_t* paddingSource = narrow ? narrowPadding : rows.output.data();

    for (std::int64_t row = 0; row < layout.rowCount; ++row) {
        if (streamRead(in, rows.input.data(), width) != width) return false;
        std::memcpy(rows.output.data(), rows.input.data(), width);
        if (narrow) narrowPadding[0] = rows.output[0];
        if (!streamWrite(out, rows.output.data(), width)) return false;
        if (padding != 0 && (!streamWrite(out, paddingSource, padding) ||
                             !streamSkip(in, static_cast<std::int64_t>(padding))))
            return false;
    }
    return true;
}

bool copyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to) {
    if (from >= to) return true;
    if (!streamSeek(in, from) || !streamSeek(out, from)) return false;
    std::uint8_t chunk[16 * 1024];
    for (std::int64_t left = to - from; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof chunk));
        if (streamRead(in, chunk, want) != want || !streamWrite(out, chunk, want)) return false;
        left -= static_cast<std::int64_t>(want);
    }
    return true;
}

// With no rows and the pixel offset at or past the end of the file, nothing is written
// behind the palette; zeros, what that stretch reads as, bring the output to the input's
// length. In every other case the rows and the tail reach it already.
bool padToInputLength(Stream& out, const ImageLayout& layout) {
    const std::int64_t paletteEnd = layout.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
    if (layout.rowCount > 0 || layout.pixelOffset < layout.fileSize ||
        paletteEnd >= layout.fileSize)
        return true;
    if (!streamSeek(out, paletteEnd)) return false;
    const std::uint8_t zeros[4096] = {};
    for (std::int64_t left = layout.fileSize - paletteEnd; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof zeros));
        if (!streamWrite(out, zeros, n)) return false;
        left -= static_cast<std::int64_t>(n);
    }
    return true;
}

}  // namespace

CopyFault copyImage(Stream& in, Stream& out, const std::uint8_t* lead, const ImageLayout& layout) {
    const bool ok = copyHeaders(out, lead, layout) && copyPalette(in, out, layout) &&
                    copyRows(in, out, layout) &&
                    copyRange(in, out, layout.tailOffset, layout.fileSize) &&
                    padToInputLength(out, layout) && streamFlush(out);
    return ok ? CopyFault::None : faultOf(in, out);
}

}  // namespace graybmp
