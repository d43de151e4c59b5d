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
//     M the 8 x 8 Bayer matrix, y the picture's row counted from the top; a matrix of S
//     entries offsets v by floor(((2 M - (S - 1)) 255 + S (N - 1)) / (2 S (N - 1)))
//     (bayer2, bayer4, bayer16: the n x n Bayer matrices)
//   the other kernels (pipeline/diffusion.cpp): each share w e / D in the kernel's reading
//     order rounded toward zero, the last one the rest, so that they sum to e; shares
//     outside the picture dropped. Floyd-Steinberg is this rule too. With a strength P,
//     e P / 100 (toward zero) is shared; serpentine, every second row in the order
//     processed runs right to left, each share put at its mirrored place
//   halftone: the 8 x 8 clustered-dot matrix of pipeline/patterns.cpp; blue-noise: the
//     64 x 64 void-and-cluster matrix of tools/blue_noise.cpp, both as the formula for S
//   the tone (pipeline/tone.cpp), before all of this: the input range B, W as
//     clamp(((g - B) 510 + (W - B)) div (2 (W - B)), 0, 255); normalized, the same with
//     B the least g with count(<= g) 200 >= pixels, W the greatest with count(>= g) 200 >=
//     pixels (unchanged when B >= W); the gamma G: 255 (g / 255)^(1 / G) to nearest, halves
//     up, decided exactly; then the negation 255 - g
//   linear light (pipeline/linear.h): v, the levels and the error in the 16-bit decoded
//     values Y(g); the index the nearest level in them (ties to the lighter); an ordered
//     matrix picks between the levels a and a + 1 around Y(g), a + 1 where
//     (Y(g) - Y_a) 2S >= (2 (S - M) - 1) (Y_a+1 - Y_a)
//   measured grays G_k: the index of v the k of the nearest G_k (ties to the lighter), the
//     error v - G_k; the threshold T: index 1 where g >= T
#pragma once

#include <cstdint>

#include "bitmap/headers.h"  // levelGray, the level of index k

namespace graybmp {

enum class Dither {
    None,
    FloydSteinberg,
    Atkinson,
    Ordered,
    Jarvis,
    Stucki,
    Burkes,
    Sierra,
    Sierra2,
    SierraLite,
    Bayer2,
    Bayer4,
    Bayer16,
    Halftone,
    BlueNoise,
};

// Whether a dithering diffuses each pixel's error (the others offset v by a matrix).
inline bool diffuses(Dither d) { return d != Dither::None && (d < Dither::Ordered || (d > Dither::Ordered && d < Dither::Bayer2)); }
// The side of an ordered dithering's matrix (Bayer's 2, 4, 8 or 16, the halftone's 8, the
// blue noise's 64), or 0.
inline int orderedSide(Dither d) {
    return d == Dither::Ordered || d == Dither::Halftone ? 8
           : d == Dither::Bayer2                          ? 2
           : d == Dither::Bayer4                          ? 4
           : d == Dither::Bayer16                         ? 16
           : d == Dither::BlueNoise                       ? 64
                                                          : 0;
}

struct Levels {
    int count = 0;  // 2 to 256; 0: the input's own encoding
    int depth = 8;  // bits a pixel: 1, 2, 4 or 8
    Dither dither = Dither::None;
    bool serpentine = false;  // error diffusion: every second row right to left
    int strength = 100;       // error diffusion: the percent of each error diffused
    // The tone stage before the quantizer: the input range [black, white] stretched to
    // [0, 255] (black < 0: none), the picture's own range stretched likewise (normalize:
    // found by a first pass, into normalBlack and normalWhite), the gamma (thousandths, 0:
    // none), then negated.
    int black = -1, white = -1;
    bool normalize = false;
    int normalBlack = -1, normalWhite = -1;
    int gamma = 0;
    bool negate = false;
    bool linear = false;  // quantized and diffused in linear light
    // The grays the output shows, which quantizing and diffusion aim at (0: the levels').
    int graysCount = 0;
    std::uint8_t grays[256] = {};
    int threshold = -1;  // two levels: index 1 where g >= threshold (-1: none)
};

// Whether the levels change the grays before quantizing or quantize other than by the
// levels themselves (then the compact form's short ways do not apply).
inline bool toned(const Levels& l) {
    return l.black >= 0 || l.normalize || l.gamma != 0 || l.negate || l.graysCount > 0 || l.threshold >= 0 ||
           l.linear;
}

// The compact form of true colour: 256 levels of 8 bits, undithered, whose indices are
// the grays themselves.
constexpr Levels kCompactLevels{256, 8, Dither::None};
inline bool isCompactForm(const Levels& l) {
    return l.count == kCompactLevels.count && l.depth == kCompactLevels.depth && l.dither == Dither::None && !toned(l);
}


// The bits a pixel of `count` levels take when no depth is asked for: the least of 1, 4
// and 8 that holds them (2-bit BMPs are valid, but few programs read them).
inline int defaultDepth(int count) { return count <= 2 ? 1 : count <= 16 ? 4 : 8; }

}  // namespace graybmp
