// The headers of the BMPs graybmp writes anew, in one place: the uncompressed gray BMP of
// levels (the compact form is its 256 levels of 8 bits) and the 32-bit V4 BMP that pixels
// in memory are read as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap/check.h"

namespace graybmp {

// The gray of level k of `count`: L_k = (510 k + count - 1) div (2 (count - 1)), each
// palette entry of a BMP of levels.
inline int levelGray(int k, int count) { return (510 * k + count - 1) / (2 * (count - 1)); }

// A row of `width` pixels of `depth` bits, padded to 4 bytes.
inline std::int64_t levelStride(std::int64_t width, int depth) { return (width * depth + 31) / 32 * 4; }

// The rows of an image's output: |height|, none when the width is 0.
inline std::int64_t levelRows(const ImageLayout& l) {
    return l.width > 0 ? (l.height < 0 ? -std::int64_t{l.height} : std::int64_t{l.height}) : 0;
}

// Where the pixels of a BMP of `count` levels start: the two headers and the palette.
inline std::int64_t levelPixelOffset(int count) { return 14 + 40 + 4 * std::int64_t{count}; }

// The whole length of a BMP of `count` levels of `depth` bits with the rows of `layout`.
inline std::int64_t levelSize(const ImageLayout& l, int count, int depth) {
    return levelPixelOffset(count) + levelStride(l.width, depth) * levelRows(l);
}

// The headers and palette of a BMP of `count` levels of `depth` bits: 14 + 40 bytes, the
// width and the height with its sign of `layout`, its resolution copied from `lead` when
// its info header has one, `count` colours used; palette entry k the gray L_k.
std::vector<std::uint8_t> levelHeaders(const ImageLayout& layout, const std::uint8_t* lead, int count,
                                       int depth);

// The 14 + 108 bytes of a V4 BMP of 32-bit pixels: BI_BITFIELDS, masks red 00FF0000, green
// 0000FF00, blue 000000FF and alpha FF000000, sRGB, resolution 0; top-down unless `bottomUp`.
constexpr std::size_t kV4Offset = 14 + 108;
void v4Headers(std::uint32_t width, std::uint32_t height, bool bottomUp, std::uint8_t out[kV4Offset]);

}  // namespace graybmp
