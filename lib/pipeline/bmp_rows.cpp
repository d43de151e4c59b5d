#include "pipeline/bmp_rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bitmap/headers.h"
#include "convert/runs.h"

namespace graybmp {
namespace {

// The bits set in every one of `count` pixels of Size bytes, as a little-endian value: the
// AND of the pixels as words of the machine's own order (which the compiler vectorizes),
// its bytes then read in memory order.
template <int Size, typename Word>
std::uint32_t bitsInAll(const std::uint8_t* p, std::size_t count) {
    Word all = static_cast<Word>(~Word{0});
    for (std::size_t i = 0; i < count; ++i) {
        Word w;
        std::memcpy(&w, p + Size * i, sizeof w);
        all = static_cast<Word>(all & w);
    }
    std::uint8_t bytes[sizeof(Word)];
    std::memcpy(bytes, &all, sizeof all);
    std::uint32_t v = 0;
    for (int b = 0; b < Size; ++b) v |= std::uint32_t{bytes[b]} << (8 * b);
    return v;
}

// The grays of a palette's entries by the method; an index past its entries is black.
bool paletteGrays(Stream& in, const ImageLayout& l, const GrayFormula& method, std::uint8_t grays[256]) {
    std::fill(grays, grays + 256, std::uint8_t{0});
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(l.colours, 256));
    std::uint8_t entries[256 * 4];
    const std::size_t bytes = n * static_cast<std::size_t>(l.entrySize);
    if (streamReadAt(in, l.paletteOffset, entries, bytes) != bytes) return false;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* e = entries + k * static_cast<std::size_t>(l.entrySize);
        grays[k] = grayOf(method, e[0], e[1], e[2]);
    }
    return true;
}

// Run-length rows of indices, each through the palette's grays on to the next stage.
struct RunGrays {
    const std::uint8_t* lookup;
    std::vector<std::uint8_t>& grays;
    RowTaker next;
};

bool runGrays(void* self, const std::uint8_t* indices) {
    RunGrays& r = *static_cast<RunGrays*>(self);
    for (std::size_t i = 0; i < r.grays.size(); ++i) r.grays[i] = r.lookup[indices[i]];
    return r.next(r.grays.data());
}

}  // namespace

bool opaque(const std::uint8_t* p, std::size_t count, int size, std::uint32_t alpha) {
    std::uint32_t all = 0;
    if (size == 4) {
        all = bitsInAll<4, std::uint32_t>(p, count);
    } else if (size == 2) {
        all = bitsInAll<2, std::uint16_t>(p, count);
    } else {  // three bytes: the AND of each byte in place
        std::uint8_t bytes[3] = {0xFF, 0xFF, 0xFF};
        for (std::size_t i = 0; i < 3 * count; i += 3)
            bytes[0] &= p[i], bytes[1] &= p[i + 1], bytes[2] &= p[i + 2];
        all = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16;
    }
    return (all & alpha) == alpha;
}

bool grayRow(const ImageLayout& l, const PixelGray& gray, const std::uint8_t* from, std::size_t n,
             std::uint8_t* out, std::int32_t background) {
    if (l.alphaMask != 0 && !opaque(from, n, gray.bytesPerPixel, l.alphaMask)) {
        if (background < 0) return false;
        grayIndicesOn(gray, l.alphaMask, static_cast<std::uint32_t>(background), from, n, out);
        return true;
    }
    grayIndices(gray, from, n, out);
    return true;
}


CopyFault bmpRows(Stream& in, const ImageLayout& l, Buffer& chunk, const GrayFormula& method, Cpu cpu,
                  std::int32_t background, RowTaker next) {
    const std::int64_t rows = levelRows(l);
    if (rows == 0) return CopyFault::None;
    const auto width = static_cast<std::size_t>(l.width);
    std::vector<std::uint8_t> grays(width), rowBuffer;
    std::uint8_t lookup[256];
    if (l.kind != ImageKind::TrueColour && !paletteGrays(in, l, method, lookup)) return CopyFault::ReadFailed;
    if (l.compression == 1 || l.compression == 2) {
        RunGrays r{lookup, grays, next};
        return decodeRuns(in, l, chunk, rows, runGrays, &r) ? CopyFault::None : CopyFault::ReadFailed;
    }
    // Uncompressed rows, read a span at a time (the last row's padding is not needed).
    const auto size = static_cast<std::int64_t>(chunk.size());
    const bool inChunk = l.stride <= size;
    const std::int64_t span = inChunk ? size / l.stride : 1;
    if (!inChunk) rowBuffer.resize(static_cast<std::size_t>(l.rowBytes));
    const PixelGray gray =
        l.kind == ImageKind::TrueColour ? pixelGrayOf(l, nullptr, method, cpu) : PixelGray{};
    for (std::int64_t r = 0; r < rows; ++r) {
        std::uint8_t* row = inChunk ? chunk.data() + (r % span) * l.stride : rowBuffer.data();
        if (!inChunk || r % span == 0) {
            const std::int64_t n = inChunk ? std::min(span, rows - r) : 1;
            const auto want = static_cast<std::size_t>((n - 1) * l.stride + l.rowBytes);
            if (streamReadAt(in, l.pixelOffset + r * l.stride, row, want) != want) return CopyFault::ReadFailed;
        }
        if (l.kind == ImageKind::TrueColour) {
            if (!grayRow(l, gray, row, width, grays.data(), background)) return CopyFault::Translucent;
        } else if (l.bitCount == 8) {
            for (std::size_t x = 0; x < width; ++x) grays[x] = lookup[row[x]];
        } else {  // indices of 1, 2 or 4 bits, the first in the high bits
            const int bits = l.bitCount, perByte = 8 / bits, mask = (1 << bits) - 1;
            for (std::size_t x = 0; x < width; ++x) {
                const int shift = 8 - bits * (1 + static_cast<int>(x % static_cast<std::size_t>(perByte)));
                grays[x] = lookup[(row[x / static_cast<std::size_t>(perByte)] >> shift) & mask];
            }
        }
        if (!next(grays.data())) return CopyFault::WriteFailed;
    }
    return CopyFault::None;
}

std::uint64_t bmpRowsHeap(const ImageLayout& l) {
    return 2 * static_cast<std::uint64_t>(l.width) + static_cast<std::uint64_t>(l.rowBytes);
}

CopyFault grayRowsInMemory(const std::uint8_t* file, const ImageLayout& layout, const GrayFormula& method,
                           Cpu cpu, std::int32_t background, std::uint8_t* pixels, std::size_t stride) {
    const PixelGray gray = pixelGrayOf(layout, nullptr, method, cpu);
    const auto width = static_cast<std::size_t>(layout.width);
    const bool bottomUp = layout.height > 0;
    for (std::int64_t r = 0; r < layout.rowCount; ++r) {
        const std::int64_t picture = bottomUp ? layout.rowCount - 1 - r : r;
        if (!grayRow(layout, gray, file + layout.pixelOffset + r * layout.stride, width,
                     pixels + static_cast<std::size_t>(picture) * stride, background))
            return CopyFault::Translucent;
    }
    return CopyFault::None;
}

}  // namespace graybmp
