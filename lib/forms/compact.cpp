// The compact form: an uncompressed true-colour image written as an uncompressed 8-bit
// BMP, its headers those of 256 levels of 8 bits, then one index a pixel, its gray, every
// row padded with zeros; written in order, so that any stream can take it. Its memory is
// the chunk alone: a row wider than the chunk goes in pieces of whole pixels.
#include <algorithm>
#include <vector>

#include "bitmap/headers.h"
#include "forms/copying.h"
#include "forms/forms.h"
#include "pipeline/bmp_rows.h"

namespace graybmp {
namespace {

bool compactCopied(Copy& c, const std::uint8_t* lead, std::int32_t background, bool& translucent) {
    const ImageLayout& l = c.layout;
    const std::vector<std::uint8_t> headers = levelHeaders(l, lead, kCompactLevels.count, kCompactLevels.depth);
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
                if (!grayRow(l, gray, c.chunk.data() + r * l.stride, static_cast<std::size_t>(pixels),
                             indices.data() + r * outStride, background)) {
                    translucent = true;
                    return false;
                }
            }
            // The padding: zeros, left in the buffer where rows are whole, else its own write.
            const bool last = x + pixels == l.width;
            const std::int64_t pad = whole || last ? outStride - l.width : 0;
            if (!whole && last) std::fill_n(indices.begin() + static_cast<std::ptrdiff_t>(pixels), pad, std::uint8_t{0});
            const std::int64_t to = levelPixelOffset(kCompactLevels.count) + row * outStride + x;
            const auto bytes = static_cast<std::size_t>(whole ? rows * outStride : pixels + pad);
            if (!streamWriteAt(c.out, to, indices.data(), bytes)) return false;
            x += pixels;
        }
        row += rows;
    }
    return true;
}

bool chosen(const ImageLayout& l, const Settings& s) {
    return s.compact && (l.kind == ImageKind::TrueColour || l.kind == ImageKind::Rle24 || l.arrayFirst);
}

bool takes(const ImageLayout& l, const Settings&, Failure& f) {
    if (!l.arrayFirst && l.kind != ImageKind::Rle24 && l.bitCount != 64) return true;
    f = inputFailure(GRAYBMP_COMPACT_KIND,
                     "the compact form takes 16-, 24- and 32-bit images only, not 64-bit, RLE24 or "
                     "bitmap-array ones");
    return false;
}

std::int64_t length(const ImageLayout& l, const Settings&, std::int64_t) {
    return levelSize(l, kCompactLevels.count, kCompactLevels.depth);
}

}  // namespace

CopyFault compactCopy(Conversion& c) {
    Copy k = copyOf(c);
    bool translucent = false;
    if (compactCopied(k, c.lead, c.settings.background, translucent)) return CopyFault::None;
    return translucent ? CopyFault::Translucent : streamFault(*c.in, *c.out);
}

const FormRow kCompactForm = {"compact", chosen, takes, length, never, compactCopy};

}  // namespace graybmp
