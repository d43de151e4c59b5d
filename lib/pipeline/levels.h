// Fewer gray levels: what a conversion to N levels asks for, and the levels themselves.
// These definitions are the contract; every step is integer arithmetic, the same on every
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

#include "bitmap/headers.h"  // levelGray, the level of index k

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


// The bits a pixel of `count` levels take when no depth is asked for: the least of 1, 4
// and 8 that holds them (2-bit BMPs are valid, but few programs read them).
inline int defaultDepth(int count) { return count <= 2 ? 1 : count <= 16 ? 4 : 8; }

}  // namespace graybmp
