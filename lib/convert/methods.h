// The gray methods: one registry row each, from which the library's names, its parser,
// the pixel kernels' table and the checks below are all derived.
//
// Adding a method: a value in GrayMethod (and graybmp_method, in the same place), its
// row in kMethodRows (name, 8-bit and 64-bit formulas), its kernel (a specialization of
// GrayKernel in kernels-inl.h), the tests' reference (tests/picture.cpp) and the docs.
// A method left out of any of these fails to compile.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

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

// One method: its public name, and its exact formula for 8-bit channels and for the
// signed, linear channels of 64-bit pixels (each channel -32768 to 32767; floor division).
struct MethodRow {
    GrayMethod id;
    const char* name;  // what -m and graybmp_method_name say
    std::uint8_t (*gray8)(const GrayFormula& f, unsigned blue, unsigned green, unsigned red);
    std::int32_t (*gray64)(const GrayFormula& f, std::int32_t blue, std::int32_t green,
                           std::int32_t red);
};

// Every method, in graybmp_method's order:
//   mean       floor((r + g + b) / 3), the unweighted mean
//   bt601      (299 r + 587 g + 114 b + 500) div 1000, the luma of ITU-R BT.601
//   bt709      (2126 r + 7152 g + 722 b + 5000) div 10000, the luma of ITU-R BT.709
//   luminance  the channels decoded from sRGB to linear light, Y = 0.2126 R + 0.7152 G +
//              0.0722 B, encoded back to sRGB and scaled to the nearest of 0 to 255
//              (64-bit pixels are linear already: BT.709 there)
//   max        max(r, g, b), HSV's value
//   lightness  (max(r, g, b) + min(r, g, b) + 1) div 2, HSL's lightness
//   rms        the nearest integer to sqrt((r^2 + g^2 + b^2) / 3), never halfway (64-bit:
//              with the sign of the sum, at most 32767)
//   red, green, blue   that channel
//   weights=R,G,B   (Wr r + Wg g + Wb b + S div 2) div S, W in millionths, S their sum
extern const MethodRow kMethodRows[kGrayMethods];

inline const MethodRow& methodRow(GrayMethod m) { return kMethodRows[static_cast<int>(m)]; }

inline std::uint8_t grayOf(const GrayFormula& f, unsigned blue, unsigned green, unsigned red) {
    return methodRow(f.method).gray8(f, blue, green, red);
}

inline std::int32_t wideGrayOf(const GrayFormula& f, std::int32_t blue, std::int32_t green,
                               std::int32_t red) {
    return methodRow(f.method).gray64(f, blue, green, red);
}

// Division rounding toward minus infinity (C++'s rounds toward zero).
inline std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// The nearest integer n to sqrt(q / 3) (never halfway for an integer q).
std::int64_t nearestRootOfThird(std::int64_t q);

}  // namespace graybmp
