// Uncompressed 8-bit images with a 40-byte or longer header, row by row: at the input's
// offsets, the headers unchanged, the 256-entry palette block grayed, every row's index
// bytes unchanged followed by padding that repeats the row's first indices, and the
// input's bytes behind the last row. Between the palette's end and the first row only an
// embedded colour profile's bytes are written (where they lie); the rest of that stretch
// reads back as zeros. The output is never shorter than the input.
#include <algorithm>

#include "bitmap/bitmap.h"
#include "forms/copying.h"
#include "forms/forms.h"

namespace graybmp {
namespace {

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
    struct Padding {
        std::int64_t width;
        std::uint8_t first[3];
    } pad{width, {0, 0, 0}};
    return editRows(c, true, [](void* self, std::uint8_t* part, std::int64_t column, std::int64_t n) {
        Padding& p = *static_cast<Padding*>(self);
        for (std::int64_t x = column; x < std::min<std::int64_t>(column + n, 3); ++x)
            p.first[x] = x < p.width ? part[x - column] : 0;
        for (std::int64_t x = std::max(column, p.width); x < column + n; ++x)
            part[x - column] = p.first[x - p.width];
    }, &pad);
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

bool chosen(const ImageLayout& l, const Settings&) { return l.kind == ImageKind::Indexed8 && !l.arrayFirst; }

// The palette block and the rows (when it has any) may reach past the input's end.
std::int64_t length(const ImageLayout& l, const Settings&, std::int64_t input) {
    const std::int64_t paletteEnd = l.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
    return std::max(input, l.rowCount > 0 ? l.tailOffset : paletteEnd);
}

// Not where the palette block lies over the first rows.
bool inPlace(const ImageLayout& l, const Settings&) {
    return l.pixelOffset >= l.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
}

CopyFault copy(Conversion& c) {
    Copy k = copyOf(c);
    return copyIndexed8(k, c.lead) ? CopyFault::None : streamFault(*c.in, *c.out);
}


}  // namespace

const FormRow kIndexed8Form = {"indexed8", chosen, takesAll, length, inPlace, copy};

}  // namespace graybmp
