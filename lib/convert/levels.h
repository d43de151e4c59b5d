// Fewer gray levels: the gray of each pixel mapped to one of N levels, dithered or not,
// and written as an uncompressed gray BMP of 1, 2, 4 or 8 bits a pixel. These
// definitions are the contract; every step is integer arithmetic, the same on every
// processor:
//   level k of N:  L_k = (510 k + N - 1) div (2 (N - 1))
//   the index of a value v:  clamp((2 v (N - 1) + 255) div 510, 0, N - 1), floor division
//   Floyd-Steinberg: rows in file order, left to right; v = gray + the error carried to
//     the pixel, e = v - L_k; 7e/16, 3e/16, 5e/16 (rounded toward zero) and the rest go
//     right, lower left, below and lower right
//   Atkinson: e/8 (toward zero) to right, second right, lower left, below, lower right and
//     second below
//   ordered: v = gray + floor(((2 M[y mod 8][x mod 8] - 63) 255 + 64 (N - 1)) / (128 (N - 1))),
//     M the 8 x 8 Bayer matrix, y the picture's row counted from the top
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap/check.h"

namespace graybmp {

enum class Dither { None, FloydSteinberg, Atkinson, Ordered };

struct Levels {
    int count = 0;  // 2 to 256; 0: the input's own encoding
    int depth = 8;  // bits a pixel: 1, 2, 4 or 8
    Dither dither = Dither::None;
};

// The compact form of true colour: 256 levels of 8 bits, undithered, whose indices are
// the grays themselves.
constexpr Levels kCompactLevels{256, 8, Dither::None};
inline bool isCompactForm(const Levels& l) {
    return l.count == kCompactLevels.count && l.depth == kCompactLevels.depth && l.dither == kCompactLevels.dither;
}

// The level of index k.
int levelGray(int k, int count);

// The bits a pixel of `count` levels take when no depth is asked for: the least of 1, 4
// and 8 that holds them (2-bit BMPs are valid, but few programs read them).
inline int defaultDepth(int count) { return count <= 2 ? 1 : count <= 16 ? 4 : 8; }

// The headers and the palette of the output, and its row stride and length.
std::int64_t levelStride(std::int64_t width, int depth);
std::int64_t levelRows(const ImageLayout& layout);
std::int64_t levelPixelOffset(const Levels& levels);
std::int64_t levelSize(const ImageLayout& layout, const Levels& levels);
std::vector<std::uint8_t> levelHeaders(const ImageLayout& layout, const std::uint8_t* lead,
                                       const Levels& levels);

// What a value v passes on when it is diffused: its index, and its error's shares (to the
// right first), each worked out once for every v of the tables' range.
struct Shares {
    std::int16_t right, lowerLeft, below, lowerRight;  // Atkinson: each of the six the same
    std::uint8_t index;
};

// Rows of grays into rows of packed level indices, in the order the file stores them: the
// state one image needs, which grows with its width alone.
struct Quantizer {
    Levels levels;
    std::int64_t width = 0, rows = 0, done = 0;
    bool bottomUp = false;
    std::vector<std::uint8_t> near;     // the index of v, for v in the table's range
    std::vector<Shares> shares;         // error diffusion: what v passes on, in that range
    std::vector<std::int16_t> rights;   // and its share to the right alone, the one chain
    std::vector<std::int32_t> level;    // L_k
    std::vector<std::int32_t> errors;   // three rows of carried error, two places beyond each end
    std::size_t errorRow = 0;           // which of them is this row's
    std::vector<std::uint8_t> indices;  // the row's indices before packing
    std::int32_t ordered[8][8] = {};    // the offset of each place of the Bayer matrix
};

Quantizer quantizerOf(const Levels& levels, std::int64_t width, std::int64_t rows, bool bottomUp);

// The next row: `grays` (width bytes) into `out` (levelStride bytes, padding zeroed).
void quantizeRow(Quantizer& q, const std::uint8_t* grays, std::uint8_t* out);

}  // namespace graybmp
