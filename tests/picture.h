// The tests' own BMP reader and writer, made from the format's rules and nothing of the
// tool's: a decoder that turns a file into its pixels, as an ordinary image viewer
// would show them, and a maker of small files of every kind the tool converts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace graybmp::test {

using Bytes = std::vector<std::uint8_t>;

struct Rgba {
    std::uint8_t r, g, b, a;
};

struct Picture {
    std::int64_t width = 0, height = 0;
    std::vector<Rgba> pixels;        // top row first
    int channelBits[3] = {8, 8, 8};  // red, green, blue as stored (8 for palettes)
};

// Decodes `file`; false (with the reason in `why`) for what a viewer would not show:
// unknown headers or compressions, broken RLE data, rows past the end, invalid masks. A
// colour profile is taken as sRGB.
// Pictures of more than `maxPixels` are not decoded.
bool decodePicture(const Bytes& file, Picture& picture, std::string& why,
                   std::int64_t maxPixels = std::int64_t{1} << 22);

// The gray methods, in the tool's order: the mean, BT.601 and BT.709 luma, luminance, the
// brightest channel, HSL lightness, the root mean square, one channel, and weights
// (0.2, 0.7, 0.1 here).
enum class Method { Mean, Bt601, Bt709, Luminance, Max, Lightness, Rms, Red, Green, Blue, Weights };
constexpr Method kMethods[] = {Method::Mean,  Method::Bt601,     Method::Bt709, Method::Luminance,
                               Method::Max,   Method::Lightness, Method::Rms,   Method::Red,
                               Method::Green, Method::Blue,      Method::Weights};
constexpr std::uint64_t kMethodWeights[3] = {200000, 700000, 100000};  // Weights, in millionths
// The name the tool and the library take: "mean", ..., "weights=0.2,0.7,0.1".
const char* methodName(Method method);

// (Wr r + Wg g + Wb b + S div 2) div S, in 128-bit integers: the weights `w` in millionths.
int weightedGray(const std::uint64_t w[3], int r, int g, int b);

// The gray of an 8-bit colour by `method`, worked out in double precision (or 128-bit
// integers for weights). Luminance's rounding is taken as exact: no colour's 255 x the
// encoded value lies within 2.7e-8 of a half, far beyond double precision's error.
int referenceGray(Method method, int r, int g, int b);

// Whether `got` is the gray of (r, g, b) by `method` at a channel of `bits` (< 8: within
// 2^(8-bits) of it).
bool isGrayOf(int got, Method method, int r, int g, int b, int bits = 8);

// Empty when `out` is the gray of `in`: same size, and every pixel's red, green and blue
// the method's gray of the input pixel (a channel of w < 8 bits within 2^(8-w) of it),
// alpha unchanged. Otherwise the first difference, in words.
std::string grayPictureProblem(const Picture& in, const Picture& out, Method method = Method::Mean);

// A small file of any kind: the info header's size, bits, compression and masks, and
// pixels from a fixed pseudo-random sequence (RLE data as runs, literal runs and ends of
// line). 3-byte palette entries behind a 12-byte header.
struct Shape {
    std::uint32_t infoSize = 40;  // 12, 16 to 64, 108 or 124
    int bits = 4;
    std::uint32_t compression = 0;
    std::int32_t width = 5, height = 3;     // height below 0: top-down
    std::uint32_t colours = 0;              // palette entries, biClrUsed; 0: 2^bits for a palette
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha (compression 3 or 6)
    std::uint32_t seed = 1;
    // A 124-byte header's embedded profile of random bytes: none, between the colour table
    // and the pixels (a gap bfOffBits leaves), or behind the pixels.
    enum class Profile { None, BeforePixels, AfterPixels } profile = Profile::None;
};
Bytes makePicture(const Shape& shape);
std::string describe(const Shape& shape);

// An OS/2 2.x 4 x 2 RLE24 file whose runs are `codes`.
Bytes rle24Picture(const Bytes& codes);

// An OS/2 bitmap array of `bitmaps` (BM files): a chain of array headers, each with its
// bitmap's headers and colour table behind it, then every bitmap's pixels behind them all.
Bytes bitmapArray(const std::vector<Bytes>& bitmaps);

// One shape of every palettized and true-colour kind at each of `widths`: palettes of 1 to
// 8 bits, short ones, RLE, OS/2 headers, true colour with default masks, bit fields of
// narrow, wide and reordered channels with alpha, and a colour table beside true colour.
// Even widths are stored top-down where the kind allows it.
std::vector<Shape> everyKind(std::initializer_list<std::int32_t> widths);

// A channel's value on the 8-bit scale: narrower channels repeat their bits to fill the
// byte, wider ones keep their top 8. `mask` is contiguous and not zero.
std::uint8_t scaledChannel(std::uint32_t value, std::uint32_t mask);
int maskBits(std::uint32_t mask);

// The unsigned little-endian value of `size` bytes (1 to 4) at `at`.
std::uint32_t littleEndian(const Bytes& bytes, std::size_t at, int size);

}  // namespace graybmp::test
