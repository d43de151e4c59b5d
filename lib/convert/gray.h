// The colour changes that make an image gray: palette entries (every pixel of a
// palettized image is an index, so graying the palette grays the picture) and true-colour
// pixels, each grayed in its own encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"

namespace graybmp {

// How a colour's gray is worked out, from 8-bit red, green and blue:
//   Mean       floor((r + g + b) / 3), the unweighted mean
//   Bt601      (299 r + 587 g + 114 b + 500) div 1000, the luma of ITU-R BT.601
//   Bt709      (2126 r + 7152 g + 722 b + 5000) div 10000, the luma of ITU-R BT.709
//   Luminance  the channels decoded from sRGB to linear light, Y = 0.2126 R + 0.7152 G +
//              0.0722 B, encoded back to sRGB and scaled to the nearest of 0 to 255
//   Max        max(r, g, b), HSV's value
//   Lightness  (max(r, g, b) + min(r, g, b) + 1) div 2, HSL's lightness
//   Rms        the nearest integer to sqrt((r^2 + g^2 + b^2) / 3), never halfway
//   Red, Green, Blue   that channel
//   Weights    (Wr r + Wg g + Wb b + S div 2) div S, W the weights in millionths and S
//              their sum
// The order is the library's graybmp_method's.
enum class GrayMethod { Mean, Bt601, Bt709, Luminance, Max, Lightness, Rms, Red, Green, Blue, Weights };
constexpr int kGrayMethods = 11;

// A method with its weights (in millionths: 1000000 is a weight of 1; Weights only).
struct GrayFormula {
    GrayMethod method = GrayMethod::Mean;
    std::uint64_t weights[3] = {0, 0, 0};  // red, green, blue
    GrayFormula() = default;
    GrayFormula(GrayMethod m) : method(m) {}  // NOLINT: a method without weights
    GrayFormula(std::uint64_t red, std::uint64_t green, std::uint64_t blue)
        : method(GrayMethod::Weights), weights{red, green, blue} {}
};

std::uint8_t grayOf(const GrayFormula& method, unsigned blue, unsigned green, unsigned red);

// The weights of a weighted gray as the vector loop takes them: each exact in double
// precision (at most 10^12), so that every product and sum below 2^53 is exact and the one
// rounded division lands on the right side of every integer (S is below 2^53 / 256).
struct WeightsInDouble {
    double red, green, blue, half, sum;
};

// The processor variants of the pixel loops, each needing the one before: the plain
// x86-64 (or any other processor's) code, AVX2, AVX-512 (x86-64-v4; luminance takes its
// VBMI lookups where the processor has them).
enum class Cpu { Baseline, Avx2, Avx512 };
constexpr int kCpus = 3;
const char* cpuName(Cpu cpu);  // "baseline", "avx2", "avx512"
bool cpuNamed(const char* name, Cpu& cpu);

// The variant every image takes: the processor's best, lowered (never raised) by the
// environment's GRAYBMP_CPU when it names one; chosen once, at the first call.
Cpu processCpu();

// Every variant this processor runs, the plain one first: what the tests try each of.
std::vector<Cpu> availableCpus();

// Replaces blue, green and red of every entry by the floor of their unweighted mean;
// the reserved byte is kept. All 256 entries, whatever biClrUsed says.
void grayPalette(Palette& palette, const GrayFormula& method = GrayMethod::Mean);

// The same for `count` entries of `entrySize` bytes (4, or 3 for OS/2 1.x RGBTRIPLEs)
// lying one after another: blue, green, red first.
void grayEntries(std::uint8_t* entries, std::size_t count, std::size_t entrySize,
                 const GrayFormula& method = GrayMethod::Mean);

// Where one colour channel lies in a pixel value.
struct Channel {
    std::uint32_t mask;
    int shift;  // of the lowest mask bit
    int bits;   // the mask's width
};

// The loop that grays a run of pixels, chosen once per image.
enum class PixelMethod {
    Table,  // 16 bits: a lookup of every value
    Bgr,    // 24 or 32 bits, blue, green, red in the first three bytes: vectorized
    Bytes,  // 24 or 32 bits, each channel one whole byte elsewhere
    Masks,  // anything else: each channel decoded by its mask
    Wide,   // 64 bits: blue, green, red and alpha as signed 16-bit values
};

// How the pixels of a true-colour image are grayed: the method's gray of the channels on
// the 8-bit scale (a narrower channel widened by repeating its high bits, a
// wider one cut to its top 8), stored back into each channel at its own width. Bits
// outside the three masks (alpha, unused) are kept.
struct PixelGray {
    int bytesPerPixel;  // 2, 3 or 4
    Channel red, green, blue;
    int byteOrder[3];      // red, green, blue byte indices when each is one whole byte, else -1
    std::uint16_t* table;  // 16-bit pixels: the gray of every value, 65536 entries, or null
    PixelMethod method;
    GrayFormula formula;
    Cpu cpu;  // which variant of the 24- and 32-bit loops
    WeightsInDouble weights;  // the formula's, for those loops
};

// 64-bit pixels hold linear, signed fixed-point channels: mean, bt601 and bt709 apply their
// formulas to the stored values with floor division, and luminance is bt709 there.
//
// `table`, when not null, holds 65536 entries to fill for 16-bit pixels: worth it for
// images of more pixels than that.
PixelGray pixelGrayOf(const ImageLayout& layout, std::uint16_t* table,
                      const GrayFormula& formula = GrayMethod::Mean, Cpu cpu = processCpu());

// The gray of one pixel value.
std::uint32_t grayPixel(const PixelGray& gray, std::uint32_t value);

// Grays `count` pixels stored one after another, little-endian.
void grayPixels(const PixelGray& gray, std::uint8_t* pixels, std::size_t count);

// The 8-bit gray of each of `count` pixels into `out`, one byte each; the pixels may be
// grayed in place on the way.
void grayIndices(const PixelGray& gray, std::uint8_t* pixels, std::size_t count, std::uint8_t* out);

}  // namespace graybmp
