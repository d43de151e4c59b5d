// The colour changes that make an image gray: palette entries (every pixel of a
// palettized image is an index, so graying the palette grays the picture) and true-colour
// pixels, each grayed in its own encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"
#include "convert/kernels.h"
#include "convert/methods.h"

namespace graybmp {

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
    Bgr,    // 24 or 32 bits, blue, green, red in the first three bytes: the kernels
    Bytes,  // 24 or 32 bits, each channel one whole byte elsewhere: through planes
    Masks,  // anything else: each channel decoded by its mask, through planes
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
    Cpu cpu;  // whose kernels
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

// The 8-bit gray of each of `count` pixels into `out`, one byte each; the pixels are only
// read.
void grayIndices(const PixelGray& gray, const std::uint8_t* pixels, std::size_t count, std::uint8_t* out);

// As grayIndices, each pixel first composited on `background` (0xRRGGBB) by its alpha
// (under `alphaMask`, widened to 8 bits as the colours are): each channel c becomes
// (c a + b (255 - a) + 127) div 255. 16- to 32-bit pixels.
void grayIndicesOn(const PixelGray& gray, std::uint32_t alphaMask, std::uint32_t background,
                   const std::uint8_t* pixels, std::size_t count, std::uint8_t* out);

}  // namespace graybmp
