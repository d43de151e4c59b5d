// What the tests share: the expected gray copy of an input, worked out on its own from
// the rules of the format, and a few byte helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap/check.h"
#include "convert/gray.h"
#include "picture.h"
#include "sample.h"

namespace graybmp::test {

using Bytes = std::vector<std::uint8_t>;

// The output graybmp must write for an uncompressed 8-bit input with a 40-byte or longer
// header that it accepts.
Bytes expectedGrayCopy(const Bytes& input, Method method = Method::Mean);

// The gray BMP of `levels` levels of `input`'s picture (the tests' decoder's, each pixel's
// gray by `method`), worked out from the definitions the README states: the levels, the
// nearest level, the ditherings (every name of graybmp_dither_name, and "bayer8"), with
// serpentine rows and a strength for the kernels, the packing and the headers. Empty when
// the decoder does not take the input.
// The tone and the grays aimed at, as the docs define them: the input range black to
// white (black < 0: none), the picture's own range (normalize), the gamma (thousandths, 0:
// none), then the negation; the measured grays (empty: the levels'); a threshold (< 0:
// none); quantized in linear light.
struct ReferenceTone {
    int black = -1, white = -1;
    bool negate = false;
    std::vector<int> grays;
    int threshold = -1;
    bool normalize = false;
    int gamma = 0;
    bool linear = false;
};
Bytes expectedLevels(const Bytes& input, Method method, int levels, int depth,
                     const std::string& dither, bool serpentine = false, int strength = 100,
                     const ReferenceTone& tone = {});

// An output format as the docs define it: format "bmp", "raw", "c", "xbm", "pbm" or
// "pgm"; bitOrder "" (the default), "msb" or "lsb"; packing "rows", "pages" or "planes";
// rows "" (the input's order; raw and c from the top), "top-down" or "bottom-up".
struct ReferenceOutput {
    std::string format = "bmp", bitOrder, packing = "rows", rows;
    int rowAlign = 1;
    bool fullPalette = false, whiteFirst = false;
};
// The bytes of `levels` (a BMP of levels as expectedLevels writes it, any depth, its
// palette the levels') in the format `o` at `depth` bits; for c and xbm the bytes their
// arrays hold.
Bytes expectedOutput(const Bytes& levels, const ReferenceOutput& o, int depth);
// The bytes a C header's or an X bitmap's array holds ("0xHH," after its "= {").
Bytes arrayBytes(const Bytes& text);

// Empty when `output` is the gray copy of `input`, which the check accepted with
// `layout`: for 8-bit images the expected copy above; for the other kinds the input's
// length and bytes, but for the colour table, whose entries are gray with their fourth
// byte kept, and the pixels of true-colour rows, gray by their masks with every other bit
// kept. Otherwise the first difference, in words.
std::string grayCopyProblem(const Bytes& input, const Bytes& output, const ImageLayout& layout,
                            Method method = Method::Mean);

// The library's own formula of a test method.
GrayFormula formulaOf(Method method);

Bytes sample(std::int32_t width, std::int32_t height);
Bytes sample(const SampleOptions& options);

std::uint32_t u32At(const Bytes& bytes, std::size_t offset);
void setU32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void setU16(Bytes& bytes, std::size_t offset, std::uint32_t value);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace graybmp::test
