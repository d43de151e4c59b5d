#include "convert/convert.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "convert/gray.h"
#include "convert/levels.h"
#include "convert/runs.h"
#include "platform/memory.h"

namespace graybmp {
namespace {

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

CopyFault faultOf(const Stream& in, const Stream& out) {
    if (out.error != 0) return CopyFault::WriteFailed;
    if (in.error != 0) return CopyFault::ReadFailed;
    return CopyFault::InputShrank;
}

bool sizeUnknown(const Copy& c) { return c.layout.fileSize >= kUnknownSize; }

// A copy up to the end of a pipe stops where the pipe ends.
bool copyRange(Copy& c, std::int64_t from, std::int64_t to) {
    return streamCopyRange(c.in, c.out, from, to, c.chunk.data(), c.chunk.size(),
                           to >= kUnknownSize);
}

// The input's length: the file's, or a pipe's once it has ended.
std::int64_t inputLength(const Copy& c) {
    return sizeUnknown(c) ? c.in.position : c.layout.fileSize;
}

// A chunk's length rounded down to whole pixels and palette entries of every size.
std::size_t evenPiece(std::size_t chunkSize) {
    return std::max<std::size_t>(kMinChunkSize, chunkSize / kMinChunkSize * kMinChunkSize);
}

// The rows [pixelOffset, pixelOffset + rowCount * stride) pass through the chunk: spans
// of whole rows when a row fits in it, else pieces of one row that start at multiples of
// 12 bytes into it. `edit(part, column, length)` changes one row's part in place; each
// span is then written where it was read. The last row's padding may be missing from
// the input: `fullLastRow` writes it all the same (zeros before the edit), else only
// what the input holds is written.
template <typename Edit>
bool editRows(Copy& c, bool fullLastRow, Edit edit) {
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
            edit(data + k, column, n);
            k += n;
        }
        if (!streamWriteAt(c.out, at, data, fullLastRow ? length : held)) return false;
        at = next;
    }
    return true;
}

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

// ---- Uncompressed 8-bit images with a 40-byte or longer header ----

// The headers as read; a longer info header keeps its remaining bytes behind the first 40.
bool copyHeaders(Copy& c, const std::uint8_t* lead) {
    return streamWriteAt(c.out, 0, lead, static_cast<std::size_t>(c.layout.paletteOffset));
}

// The 256-entry block behind the info header. Bytes the input does not hold read as zeros.
bool copyPalette(Copy& c) {
    Palette palette{};
    streamReadAt(c.in, c.layout.paletteOffset, &palette, sizeof palette);
    if (c.in.error != 0) return false;
    grayPalette(palette, c.method);
    return streamWriteAt(c.out, c.layout.paletteOffset, &palette, sizeof palette);
}

// Index bytes pass through; the output padding repeats the row's first indices, and a row
// of one pixel, which has fewer indices than padding bytes, pads with zeros after it.
bool copyRows(Copy& c) {
    const ImageLayout& l = c.layout;
    if (l.rowCount == 0) return true;
    const std::int64_t width = l.width;
    if (l.stride == width) return copyRange(c, l.pixelOffset, l.pixelOffset + l.rowCount * width);
    std::uint8_t first[3] = {0, 0, 0};
    return editRows(c, true, [&](std::uint8_t* part, std::int64_t column, std::int64_t n) {
        for (std::int64_t x = column; x < std::min<std::int64_t>(column + n, 3); ++x)
            first[x] = x < width ? part[x - column] : 0;
        for (std::int64_t x = std::max(column, width); x < column + n; ++x)
            part[x - column] = first[x - width];
    });
}

// The part of an embedded colour profile that lies between the palette block and the rows
// (or the input's end), where nothing else is written: its bytes are kept there.
struct Stretch {
    std::int64_t from, to;
};

Stretch profileInGap(const ImageLayout& l, std::int64_t size) {
    const std::int64_t paletteEnd = l.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
    const std::int64_t from = std::max(paletteEnd, l.profileOffset);
    const std::int64_t to = std::min({l.pixelOffset, l.profileEnd, size});
    return l.profileEnd > 0 && from < to ? Stretch{from, to} : Stretch{paletteEnd, paletteEnd};
}

bool copyProfile(Copy& c) {
    const Stretch p = profileInGap(c.layout, c.layout.fileSize);
    return p.from >= p.to || streamCopyRange(c.in, c.out, p.from, p.to, c.chunk.data(),
                                             c.chunk.size(), sizeUnknown(c));
}

// With no rows and the pixel offset at or past the end of the file, nothing is written
// behind the palette (and the profile); zeros, what that stretch reads as, bring the
// output to the input's length. In every other case the rows and the tail reach it already.
bool padToInputLength(Copy& c) {
    const ImageLayout& l = c.layout;
    const std::int64_t paletteEnd = l.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
    const std::int64_t size = inputLength(c);
    if (l.rowCount > 0 || l.pixelOffset < size || paletteEnd >= size) return true;
    std::fill(c.chunk.begin(), c.chunk.end(), std::uint8_t{0});
    for (std::int64_t at = std::max(paletteEnd, profileInGap(l, size).to); at < size;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(size - at, static_cast<std::int64_t>(c.chunk.size())));
        if (!streamWriteAt(c.out, at, c.chunk.data(), n)) return false;
        at += static_cast<std::int64_t>(n);
    }
    return true;
}

bool copyIndexed8(Copy& c, const std::uint8_t* lead) {
    return copyHeaders(c, lead) && copyPalette(c) && copyProfile(c) && copyRows(c) &&
           copyRange(c, c.layout.tailOffset, c.layout.fileSize) && padToInputLength(c);
}

// ---- Every other kind: the input's bytes, with the colours changed where they lie ----

bool grayTruePixels(Copy& c) {
    const ImageLayout& l = c.layout;
    const bool tabled = l.bitCount == 16 && l.rowCount * l.width >= 65536;
    std::vector<std::uint16_t> table(tabled ? 65536 : 0);
    const PixelGray gray = pixelGrayOf(l, tabled ? table.data() : nullptr, c.method, c.cpu);
    const std::int64_t rowBytes = l.rowBytes, size = gray.bytesPerPixel;
    return editRows(c, false, [&](std::uint8_t* part, std::int64_t column, std::int64_t n) {
        const std::int64_t end = std::min(column + n, rowBytes);
        if (end > column) grayPixels(gray, part, static_cast<std::size_t>((end - column) / size));
    });
}

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

// A bitmap's colour table, then its pixels where they change: true-colour rows or RLE24
// runs. `pos` is how far the output is written, and moves on.
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

bool copyRecoloured(Copy& c) {
    std::int64_t pos = 0;
    return grayBitmap(c, pos) && copyRange(c, pos, c.layout.fileSize);
}

// ---- OS/2 bitmap arrays: a chain of bitmaps, each grayed through its own layout ----

// True-colour pixels of entries not reached yet, by where they start.
struct PendingPixels {
    std::int64_t start, end;
    ImageLayout layout;
};

// Grays, in file order, the pending pixels that start before `until`; pixels that reach
// past it would overlap the header there.
bool grayPending(Copy& c, std::vector<PendingPixels>& pending, std::int64_t until,
                 std::int64_t& pos, Refusal& refusal) {
    while (!pending.empty() && pending.front().start < until) {
        const PendingPixels p = pending.front();
        pending.erase(pending.begin());
        if (p.end > until || p.start < pos) {
            refusal = {InputError::ArrayOverlaps,
                       describeInputError(InputError::ArrayOverlaps, nullptr, 0, 0)};
            return false;
        }
        Copy entry{c.in, c.out, p.layout, c.chunk, c.method, c.cpu};
        if (!copyRange(entry, pos, p.start) || !grayTruePixels(entry)) return false;
        pos = p.end;
    }
    return true;
}

// Entry by entry along the chain: headers kept, the colour table grayed; true-colour
// pixels, which may lie anywhere behind, grayed when the copy reaches them.
bool copyArray(Copy& c, Refusal& refusal) {
    const auto refuse = [&](InputError e) {
        refusal = {e, describeInputError(e, nullptr, 0, static_cast<std::uint64_t>(c.layout.fileSize))};
        return false;
    };
    std::vector<PendingPixels> pending;
    std::int64_t pos = 0;
    ImageLayout entry = c.layout;
    for (;;) {
        if (entry.kind == ImageKind::Rle24) return refuse(InputError::ArrayOverlaps);
        ImageLayout tableOnly = entry;  // the pixels are grayed when the copy reaches them
        tableOnly.kind = ImageKind::Palettized;
        Copy headers{c.in, c.out, tableOnly, c.chunk, c.method, c.cpu};
        if (!grayBitmap(headers, pos)) return false;
        if (entry.kind == ImageKind::TrueColour && entry.rowCount > 0) {
            const std::int64_t end =
                std::min(entry.fileSize, entry.pixelOffset + entry.rowCount * entry.stride);
            auto at = std::find_if(pending.begin(), pending.end(), [&](const PendingPixels& p) {
                return p.start > entry.pixelOffset;
            });
            if ((at != pending.end() && at->start < end) ||
                (at != pending.begin() && std::prev(at)->end > entry.pixelOffset))
                return refuse(InputError::ArrayOverlaps);
            pending.insert(at, PendingPixels{entry.pixelOffset, end, entry});
        }
        const std::int64_t next = entry.arrayNext;
        if (next == 0) break;
        if (!grayPending(c, pending, next, pos, refusal)) return false;
        if (next < pos)
            return refuse(c.in.sequential ? InputError::ArrayBehindPipe : InputError::ArrayLoops);
        if (!copyRange(c, pos, next)) return false;  // a pipe passes nothing by unwritten
        pos = next;
        std::uint8_t lead[kMaxLeadSize];
        const std::size_t got = streamReadAt(c.in, next, lead, sizeof lead);
        if (c.in.error != 0) return false;
        const auto size = static_cast<std::uint64_t>(c.layout.fileSize);
        const InputError e = checkArrayEntry(lead, got, size, next, entry);
        if (e != InputError::None) {
            const bool own = e >= InputError::ArrayEntryNotBitmap || got < kArrayHeaderSize;
            refusal.error = e;
            refusal.reason = "the bitmap array's entry at offset " + std::to_string(next) + ": " +
                      (own ? describeInputError(e, nullptr, 0, size)
                           : describeInputError(e, lead + kArrayHeaderSize, got - kArrayHeaderSize,
                                                size));
            return false;
        }
    }
    return grayPending(c, pending, INT64_MAX, pos, refusal) && copyRange(c, pos, c.layout.fileSize);
}

// ---- Compact: true colour written as 8-bit gray ----

// Whether every pixel's alpha is the mask's full value.
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

// One row's grays (or n pixels of it) into `out`; false for a pixel that is not opaque.
bool compactRow(const ImageLayout& l, const PixelGray& gray, const std::uint8_t* from, std::size_t n,
                std::uint8_t* out) {
    if (l.alphaMask != 0 && !opaque(from, n, gray.bytesPerPixel, l.alphaMask)) return false;
    grayIndices(gray, from, n, out);
    return true;
}

bool copyCompact(Copy& c, const std::uint8_t* lead, bool& translucent) {
    const ImageLayout& l = c.layout;
    const std::vector<std::uint8_t> headers = levelHeaders(l, lead, kCompactLevels);
    if (!streamWriteAt(c.out, 0, headers.data(), headers.size())) return false;
    if (l.rowCount == 0) return true;
    const PixelGray gray = pixelGrayOf(l, nullptr, c.method, c.cpu);
    const int size = gray.bytesPerPixel;
    const std::int64_t outStride = levelStride(l.width, kCompactLevels.depth);
    // Whole rows a read where they fit, else one row in pieces of whole pixels.
    const auto chunk = static_cast<std::int64_t>(c.chunk.size());
    const bool whole = l.stride <= chunk;
    const std::int64_t rowsPerSpan = whole ? chunk / l.stride : 1;
    const std::int64_t piece = whole ? l.width : std::max<std::int64_t>(1, chunk / size);
    std::vector<std::uint8_t> indices(
        static_cast<std::size_t>(whole ? rowsPerSpan * outStride : piece + 3), 0);
    for (std::int64_t row = 0; row < l.rowCount;) {
        const std::int64_t rows = std::min(rowsPerSpan, l.rowCount - row);
        for (std::int64_t x = 0; x < l.width;) {
            const std::int64_t pixels = std::min(piece, l.width - x);
            const std::int64_t at = l.pixelOffset + row * l.stride + x * size;
            const auto want = static_cast<std::size_t>((rows - 1) * l.stride + pixels * size);
            if (streamReadAt(c.in, at, c.chunk.data(), want) != want) return false;
            for (std::int64_t r = 0; r < rows; ++r) {
                if (!compactRow(l, gray, c.chunk.data() + r * l.stride, static_cast<std::size_t>(pixels),
                                indices.data() + r * outStride)) {
                    translucent = true;
                    return false;
                }
            }
            // The padding: zeros, left in the buffer where rows are whole, else its own write.
            const bool last = x + pixels == l.width;
            const std::int64_t pad = whole || last ? outStride - l.width : 0;
            if (!whole && last) std::fill_n(indices.begin() + static_cast<std::ptrdiff_t>(pixels), pad, std::uint8_t{0});
            const std::int64_t to = levelPixelOffset(kCompactLevels) + row * outStride + x;
            const auto bytes = static_cast<std::size_t>(whole ? rows * outStride : pixels + pad);
            if (!streamWriteAt(c.out, to, indices.data(), bytes)) return false;
            x += pixels;
        }
        row += rows;
    }
    return true;
}

// ---- Levels: a palettized or 16- to 32-bit image as a gray BMP of a few levels ----

// Each output row as its grays come: quantized, packed, and written in order a span of
// rows at a time.
struct LevelWriter {
    Copy& c;
    Quantizer q;
    std::vector<std::uint8_t> packed;  // a span of output rows
    std::int64_t offset, stride, row = 0, held = 0;

    bool flush() {
        const bool ok = held == 0 || streamWriteAt(c.out, offset + (row - held) * stride, packed.data(),
                                                   static_cast<std::size_t>(held * stride));
        held = 0;
        return ok;
    }
    bool put(const std::uint8_t* grays) {
        quantizeRow(q, grays, packed.data() + held * stride);
        ++row, ++held;
        return held * stride < static_cast<std::int64_t>(packed.size()) || flush();
    }
};

// The grays of a palette's entries by the method; an index past its entries is black.
bool paletteGrays(Copy& c, std::uint8_t grays[256]) {
    const ImageLayout& l = c.layout;
    std::fill(grays, grays + 256, std::uint8_t{0});
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(l.colours, 256));
    std::uint8_t entries[256 * 4];
    const std::size_t bytes = n * static_cast<std::size_t>(l.entrySize);
    if (streamReadAt(c.in, l.paletteOffset, entries, bytes) != bytes) return false;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* e = entries + k * static_cast<std::size_t>(l.entrySize);
        grays[k] = grayOf(c.method, e[0], e[1], e[2]);
    }
    return true;
}

// RLE8 and RLE4 decoded in file order: runs, absolute runs, ends of line and deltas; what
// a delta or an end of line skips, and everything after the data's end, is index 0.
bool levelRuns(Copy& c, LevelWriter& w, const std::uint8_t lookup[256], std::vector<std::uint8_t>& grays) {
    const ImageLayout& l = c.layout;
    const bool rle8 = l.compression == 1;
    const auto width = static_cast<std::int64_t>(l.width);
    const std::int64_t rows = levelRows(l);
    std::vector<std::uint8_t> index(static_cast<std::size_t>(width), 0);
    std::int64_t x = 0, y = 0, at = l.pixelOffset;
    std::size_t have = 0, used = 0;
    bool ended = false;
    const auto next = [&](std::uint8_t& b) {
        if (used == have) {
            have = streamReadAt(c.in, at, c.chunk.data(), c.chunk.size());
            if (c.in.error != 0 || have == 0) return false;
            at += static_cast<std::int64_t>(have);
            used = 0;
        }
        b = c.chunk[used++];
        return true;
    };
    const auto emit = [&] {
        for (std::size_t i = 0; i < index.size(); ++i) grays[i] = lookup[index[i]];
        std::fill(index.begin(), index.end(), std::uint8_t{0});
        x = 0;
        ++y;
        return w.put(grays.data());
    };
    // The i-th pixel of a run or an absolute run whose byte is b: the byte, or its high
    // and low nibbles in turn.
    const auto pixel = [&](std::uint8_t b, int i) {
        if (x < width)
            index[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(rle8 ? b : i % 2 == 0 ? b >> 4 : b & 15);
        ++x;
    };
    while (y < rows && !ended) {
        std::uint8_t count = 0, code = 0;
        if (!next(count) || !next(code)) break;
        if (count > 0) {  // a run of one index, or of two alternating nibbles
            for (int i = 0; i < count; ++i) pixel(code, i);
        } else if (code == 0) {  // end of line
            if (!emit()) return false;
        } else if (code == 1) {  // end of bitmap
            ended = true;
        } else if (code == 2) {  // delta: right and down
            std::uint8_t dx = 0, dy = 0;
            if (!next(dx) || !next(dy)) break;
            const std::int64_t column = x + dx;
            for (int down = 0; down < dy && y < rows; ++down)
                if (!emit()) return false;
            x = column;
        } else {  // an absolute run of `code` indices, padded to whole 16-bit words
            const int bytes = rle8 ? code : (code + 1) / 2;
            std::uint8_t b = 0;
            for (int i = 0; i < code && !ended; ++i) {
                if ((rle8 || i % 2 == 0) && !next(b)) ended = true;
                else pixel(b, i);
            }
            if (!ended && bytes % 2 != 0 && !next(b)) ended = true;
        }
    }
    if (c.in.error != 0) return false;
    while (y < rows)
        if (!emit()) return false;
    return w.flush();
}

bool copyLevels(Copy& c, const std::uint8_t* lead, const Levels& levels, bool& translucent) {
    const ImageLayout& l = c.layout;
    const std::vector<std::uint8_t> headers = levelHeaders(l, lead, levels);
    if (!streamWriteAt(c.out, 0, headers.data(), headers.size())) return false;
    const std::int64_t rows = levelRows(l);
    if (rows == 0) return true;
    const auto width = static_cast<std::size_t>(l.width);
    // Spans of rows that fit the chunk (at least one row) in, and out.
    const std::int64_t outStride = levelStride(l.width, levels.depth);
    const auto chunk = static_cast<std::int64_t>(c.chunk.size());
    const std::int64_t span = std::max<std::int64_t>(1, std::min(chunk / l.stride, chunk / outStride));
    LevelWriter w{c, quantizerOf(levels, l.width, rows, l.height > 0),
                  std::vector<std::uint8_t>(static_cast<std::size_t>(span * outStride)),
                  levelPixelOffset(levels), outStride};
    std::vector<std::uint8_t> grays(width), rowBuffer;
    std::uint8_t lookup[256];
    if (l.kind != ImageKind::TrueColour && !paletteGrays(c, lookup)) return false;
    if (l.compression == 1 || l.compression == 2) return levelRuns(c, w, lookup, grays);
    // Uncompressed rows, read a span at a time (the last row's padding is not needed).
    const bool inChunk = l.stride <= chunk;
    if (!inChunk) rowBuffer.resize(static_cast<std::size_t>(l.rowBytes));
    const PixelGray gray =
        l.kind == ImageKind::TrueColour ? pixelGrayOf(l, nullptr, c.method, c.cpu) : PixelGray{};
    for (std::int64_t r = 0; r < rows; ++r) {
        std::uint8_t* row = inChunk ? c.chunk.data() + (r % span) * l.stride : rowBuffer.data();
        if (!inChunk || r % span == 0) {
            const std::int64_t n = inChunk ? std::min(span, rows - r) : 1;
            const auto want = static_cast<std::size_t>((n - 1) * l.stride + l.rowBytes);
            if (streamReadAt(c.in, l.pixelOffset + r * l.stride, row, want) != want) return false;
        }
        if (l.kind == ImageKind::TrueColour) {
            if (l.alphaMask != 0 && !opaque(row, width, gray.bytesPerPixel, l.alphaMask)) {
                translucent = true;
                return false;
            }
            grayIndices(gray, row, width, grays.data());
        } else if (l.bitCount == 8) {
            for (std::size_t x = 0; x < width; ++x) grays[x] = lookup[row[x]];
        } else {  // indices of 1, 2 or 4 bits, the first in the high bits
            const int bits = l.bitCount, perByte = 8 / bits, mask = (1 << bits) - 1;
            for (std::size_t x = 0; x < width; ++x) {
                const int shift = 8 - bits * (1 + static_cast<int>(x % static_cast<std::size_t>(perByte)));
                grays[x] = lookup[(row[x / static_cast<std::size_t>(perByte)] >> shift) & mask];
            }
        }
        if (!w.put(grays.data())) return false;
    }
    return w.flush();
}

// At most what the levels' buffers take: a few bytes a pixel of a row (16 with error
// diffusion), a span of output rows, a row that does not fit the chunk, and the tables.
std::uint64_t levelsHeap(const ImageLayout& l, const Levels& levels, std::size_t chunkSize) {
    const auto width = static_cast<std::uint64_t>(l.width);
    const bool diffusing = levels.dither == Dither::FloydSteinberg || levels.dither == Dither::Atkinson;
    const auto outStride = static_cast<std::uint64_t>(levelStride(l.width, levels.depth));
    return width * (diffusing ? 16 : 4) + std::max<std::uint64_t>(chunkSize, outStride) +
           static_cast<std::uint64_t>(l.rowBytes) + 65536;
}

}  // namespace

CopyFault copyImage(Stream& in, Stream& out, const std::uint8_t* lead, const ImageLayout& layout,
                    std::size_t chunkSize, const GrayFormula& method, bool compact,
                    Refusal* refusal, Cpu cpu, const Levels& levels) {
    // 256 levels of 8 bits from true colour, undithered, are the compact form.
    const bool compactLevels = isCompactForm(levels) && layout.kind == ImageKind::TrueColour;
    if (levels.count > 0 && !compactLevels && !heapHas(levelsHeap(layout, levels, chunkSize)))
        return CopyFault::NoMemory;
    // A small file needs no more buffer than its own size.
    const auto size = static_cast<std::size_t>(
        std::max<std::int64_t>(layout.fileSize, static_cast<std::int64_t>(kMinChunkSize)));
    Buffer chunk(std::max(kMinChunkSize, std::min(chunkSize, size)));
    Copy c{in, out, layout, chunk, method, cpu};
    bool translucent = false;
    Refusal arrayRefusal;
    bool ok = layout.arrayFirst                                 ? copyArray(c, arrayRefusal)
              : levels.count > 0 && !compactLevels              ? copyLevels(c, lead, levels, translucent)
              : (compact || compactLevels) && layout.kind == ImageKind::TrueColour
                  ? copyCompact(c, lead, translucent)
              : layout.kind == ImageKind::Indexed8              ? copyIndexed8(c, lead)
                                                                : copyRecoloured(c);
    if (translucent) return CopyFault::Translucent;
    if (arrayRefusal.error != InputError::None) {
        if (refusal != nullptr) *refusal = arrayRefusal;
        return CopyFault::Refused;
    }
    // A pipe is checked for the bytes its header promised once it has ended.
    if (ok && sizeUnknown(c) && in.position < layout.requiredSize) ok = false;
    return ok ? CopyFault::None : faultOf(in, out);
}

CopyFault compactRows(const std::uint8_t* file, const ImageLayout& layout, const GrayFormula& method,
                      Cpu cpu, std::uint8_t* pixels, std::size_t stride) {
    const PixelGray gray = pixelGrayOf(layout, nullptr, method, cpu);
    const auto width = static_cast<std::size_t>(layout.width);
    const bool bottomUp = layout.height > 0;
    for (std::int64_t r = 0; r < layout.rowCount; ++r) {
        const std::int64_t picture = bottomUp ? layout.rowCount - 1 - r : r;
        if (!compactRow(layout, gray, file + layout.pixelOffset + r * layout.stride, width,
                        pixels + static_cast<std::size_t>(picture) * stride))
            return CopyFault::Translucent;
    }
    return CopyFault::None;
}

}  // namespace graybmp
