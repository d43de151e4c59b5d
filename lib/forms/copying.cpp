#include "forms/copying.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bitmap/bitmap.h"
#include "convert/runs.h"

namespace graybmp {

bool copyRange(Copy& c, std::int64_t from, std::int64_t to) {
    return streamCopyRange(c.in, c.out, from, to, c.chunk.data(), c.chunk.size(),
                           to >= kUnknownSize);
}

std::int64_t inputLength(const Copy& c) {
    return sizeUnknown(c) ? c.in.position : c.layout.fileSize;
}

namespace {

// A chunk's length rounded down to whole pixels and palette entries of every size.
std::size_t evenPiece(std::size_t chunkSize) {
    return std::max<std::size_t>(kMinChunkSize, chunkSize / kMinChunkSize * kMinChunkSize);
}

}  // namespace

bool editRows(Copy& c, bool fullLastRow, RowEdit edit, void* self) {
    const ImageLayout& l = c.layout;
    if (l.rowCount == 0) return true;
    const std::int64_t begin = l.pixelOffset, end = begin + l.rowCount * l.stride;
    const auto chunkSize = static_cast<std::int64_t>(c.chunk.size());
    const std::int64_t rowsPerSpan = chunkSize / l.stride;
    const auto piece = static_cast<std::int64_t>(evenPiece(c.chunk.size()));
    std::int64_t size = l.fileSize;
    // Memory to memory, a span is edited where it lands in the output: one copy fewer.
    const bool inOutput = c.out.backend == Backend::Memory && c.in.backend == Backend::Memory;
    for (std::int64_t at = begin; at < end;) {
        const std::int64_t rowStart = begin + (at - begin) / l.stride * l.stride;
        const std::int64_t next = rowsPerSpan > 0 ? std::min(end, at + rowsPerSpan * l.stride)
                                                  : std::min(rowStart + l.stride, at + piece);
        const auto length = static_cast<std::size_t>(next - at);
        std::uint8_t* data = inOutput && static_cast<std::uint64_t>(next) <= c.out.memorySize
                                 ? c.out.memory + at
                                 : c.chunk.data();
        auto held = static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(next, size) - at));
        const std::size_t got = streamReadAt(c.in, at, data, held);
        if (got != held) {  // a pipe may end in the last row's padding, nowhere else
            const std::int64_t needed = std::min(next, l.requiredSize);
            if (!sizeUnknown(c) || c.in.error != 0 || at + static_cast<std::int64_t>(got) < needed)
                return false;
            held = got;
            size = at + static_cast<std::int64_t>(got);
        }
        std::memset(data + held, 0, length - held);
        std::int64_t column = at - rowStart;
        for (std::int64_t k = 0; k < next - at; column = 0) {
            const std::int64_t n = std::min(next - at - k, l.stride - column);
            edit(self, data + k, column, n);
            k += n;
        }
        if (!streamWriteAt(c.out, at, data, fullLastRow ? length : held)) return false;
        at = next;
    }
    return true;
}

namespace {

// Grays `count` entries of `entrySize` bytes at `offset`, a chunk at a time.
bool grayTable(Copy& c, std::int64_t offset, std::int64_t count, std::int64_t entrySize) {
    const auto perChunk = static_cast<std::int64_t>(evenPiece(c.chunk.size())) / entrySize;
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min(perChunk, count - done);
        const std::int64_t at = offset + done * entrySize;
        const auto bytes = static_cast<std::size_t>(n * entrySize);
        const std::size_t got = streamReadAt(c.in, at, c.chunk.data(), bytes);
        if (got != bytes) {  // a pipe that ends in the table: its whole entries are grayed
            if (!sizeUnknown(c) || c.in.error != 0) return false;
            grayEntries(c.chunk.data(), got / static_cast<std::size_t>(entrySize),
                        static_cast<std::size_t>(entrySize), c.method);
            return streamWriteAt(c.out, at, c.chunk.data(), got);
        }
        grayEntries(c.chunk.data(), static_cast<std::size_t>(n),
                    static_cast<std::size_t>(entrySize), c.method);
        if (!streamWriteAt(c.out, at, c.chunk.data(), bytes)) return false;
        done += n;
    }
    return true;
}

}  // namespace

bool grayTruePixels(Copy& c) {
    const ImageLayout& l = c.layout;
    const bool tabled = l.bitCount == 16 && l.rowCount * l.width >= 65536;
    std::vector<std::uint16_t> table(tabled ? 65536 : 0);
    const PixelGray gray = pixelGrayOf(l, tabled ? table.data() : nullptr, c.method, c.cpu);
    const std::int64_t rowBytes = l.rowBytes, size = gray.bytesPerPixel;
    struct Pixels {
        const PixelGray& gray;
        std::int64_t rowBytes, size;
    } pixels{gray, rowBytes, size};
    return editRows(c, false, [](void* self, std::uint8_t* part, std::int64_t column, std::int64_t n) {
        const Pixels& p = *static_cast<const Pixels*>(self);
        const std::int64_t end = std::min(column + n, p.rowBytes);
        if (end > column) grayPixels(p.gray, part, static_cast<std::size_t>((end - column) / p.size));
    }, &pixels);
}

namespace {

// The RLE24 runs from the pixel offset to their end of bitmap or the input's, a chunk at a
// time; a code or triple cut by a chunk's end is read again with the next, one cut by the
// input's end stays as it is. `end` is where the walk stopped.
bool grayRuns(Copy& c, std::int64_t& end) {
    const ImageLayout& l = c.layout;
    Rle24Walk walk;
    std::uint8_t* data = c.chunk.data();
    for (end = l.pixelOffset; !walk.ended;) {
        const auto want = static_cast<std::size_t>(std::max<std::int64_t>(
            0,
            std::min<std::int64_t>(static_cast<std::int64_t>(c.chunk.size()), l.fileSize - end)));
        if (want == 0) return true;
        const std::size_t got = streamReadAt(c.in, end, data, want);
        if (c.in.error != 0 || (got < want && !sizeUnknown(c))) return false;
        const bool last = got < want || end + static_cast<std::int64_t>(got) >= l.fileSize;
        std::size_t done = walkRle24(walk, data, got, c.method);
        if (last && !walk.ended) done = got;
        if (!streamWriteAt(c.out, end, data, done)) return false;
        end += static_cast<std::int64_t>(done);
        if (last) return true;
    }
    return true;
}

}  // namespace

bool grayBitmap(Copy& c, std::int64_t& pos) {
    const ImageLayout& l = c.layout;
    if (!copyRange(c, pos, l.paletteOffset) ||
        !grayTable(c, l.paletteOffset, l.paletteEntries, l.entrySize))
        return false;
    pos = std::max(pos, l.paletteOffset + l.paletteEntries * l.entrySize);
    if (l.kind == ImageKind::Rle24) return copyRange(c, pos, l.pixelOffset) && grayRuns(c, pos);
    if (l.kind != ImageKind::TrueColour || l.rowCount == 0) return true;
    if (!copyRange(c, pos, l.pixelOffset) || !grayTruePixels(c)) return false;
    pos = std::min(l.fileSize, l.pixelOffset + l.rowCount * l.stride);
    return true;
}

}  // namespace graybmp
