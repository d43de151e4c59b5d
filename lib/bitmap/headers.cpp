#include "bitmap/headers.h"

#include <cstring>

#include "bitmap/bitmap.h"

namespace graybmp {

std::vector<std::uint8_t> levelHeaders(const ImageLayout& l, const std::uint8_t* lead, int count,
                                       int depth) {
    std::vector<std::uint8_t> h(static_cast<std::size_t>(levelPixelOffset(count)), 0);
    std::uint8_t* p = h.data();
    p[0] = 'B', p[1] = 'M';
    writeU32le(p + 2, static_cast<std::uint64_t>(levelSize(l, count, depth)));
    writeU32le(p + 10, static_cast<std::uint64_t>(levelPixelOffset(count)));
    writeU32le(p + 14, 40);  // BITMAPINFOHEADER
    writeU32le(p + 18, static_cast<std::uint32_t>(l.width));
    writeU32le(p + 22, static_cast<std::uint32_t>(l.height));
    p[26] = 1;  // planes
    p[28] = static_cast<std::uint8_t>(depth);
    writeU32le(p + 34, static_cast<std::uint64_t>(levelStride(l.width, depth) * levelRows(l)));
    for (const std::size_t at : {std::size_t{38}, std::size_t{42}})  // resolution, if given
        if (l.infoHeaderSize != std::int64_t{kCoreHeaderSize} &&
            static_cast<std::int64_t>(at + 4) <=
                static_cast<std::int64_t>(kFileHeaderSize) + l.infoHeaderSize)
            std::memcpy(p + at, lead + at, 4);
    writeU32le(p + 46, static_cast<std::uint64_t>(count));  // colours used
    for (int k = 0; k < count; ++k)  // at 256 levels (compact's) each the gray k, without a division
        std::memset(p + 54 + 4 * static_cast<std::size_t>(k), count == 256 ? k : levelGray(k, count), 3);
    return h;
}

void v4Headers(std::uint32_t width, std::uint32_t height, bool bottomUp, std::uint8_t h[kV4Offset]) {
    std::memset(h, 0, kV4Offset);
    const std::uint64_t pixels = 4 * std::uint64_t{width} * height;
    h[0] = 'B', h[1] = 'M';
    writeU32le(h + 2, kV4Offset + pixels);
    writeU32le(h + 10, kV4Offset);
    writeU32le(h + 14, 108);
    writeU32le(h + 18, width);
    writeU32le(h + 22, bottomUp ? height : static_cast<std::uint32_t>(-static_cast<std::int64_t>(height)));
    h[26] = 1, h[28] = 32;
    writeU32le(h + 30, 3);
    writeU32le(h + 34, pixels);
    writeU32le(h + 54, 0x00FF0000), writeU32le(h + 58, 0x0000FF00), writeU32le(h + 62, 0x000000FF);
    writeU32le(h + 66, 0xFF000000);
    writeU32le(h + 70, 0x73524742);  // LCS_sRGB, "sRGB"
}

}  // namespace graybmp
