// Luminance, exactly and fast.
//
// Exact in double precision: Y from the linear values, encoded and rounded. Fast in fixed
// point: each channel's weighted linear value scaled by 2^31 (kLumaBias added to red's),
// their sum y compared with the 255 thresholds between encoded levels, scaled alike. The
// thresholds lie at least 3e-4 apart (the steepest, linear part of the curve), more than a
// bucket of 2^19, so a bucket holds at most one: the gray is the count of thresholds below
// the bucket plus one if y has passed the bucket's own. The sum is within 2.5 of the exact
// value; a y that close to a threshold or a bucket's edge is worked out exactly instead.
// A bucket's entry packs both: the count below it in its top byte, and where its own
// threshold lies in it (kNoThreshold when it has none) in the low bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

constexpr int kBucketBits = 19;
constexpr std::uint32_t kInBucket = (std::uint32_t{1} << kBucketBits) - 1;
constexpr std::uint32_t kNoThreshold = std::uint32_t{1} << kBucketBits;
constexpr std::uint32_t kLumaBias = 4;
constexpr std::size_t kBuckets = ((std::uint32_t{1} << 31) + 3 * kLumaBias) >> kBucketBits;

struct LuminanceTables {
    double linear[256];
    std::uint32_t red[256], green[256], blue[256];
    std::uint32_t buckets[kBuckets + 1];  // thresholds below << 24 | the one inside
};

// Made once, at the first call (thread-safe).
const LuminanceTables& luminanceTables();

// The gray in double precision, and the fast one (which falls back on it near an edge).
std::uint8_t exactLuminance(unsigned blue, unsigned green, unsigned red);
std::uint8_t luminanceOf(unsigned blue, unsigned green, unsigned red);

// The fixed-point gray of y, from its bucket's entry.
inline std::uint32_t fixedGray(std::uint32_t y, std::uint32_t bucket) {
    return (bucket >> 24) + ((y & kInBucket) >= (bucket & (kInBucket | kNoThreshold)) ? 1 : 0);
}

// Whether y is too close to its bucket's threshold or edge for the fixed-point answer.
inline std::uint32_t nearEdge(std::uint32_t y, std::uint32_t bucket) {
    const std::uint32_t from = (y & kInBucket) - (bucket & (kInBucket | kNoThreshold));
    return static_cast<std::uint32_t>(from + kLumaBias <= 2 * kLumaBias) |
           (((y + kLumaBias) ^ (y - kLumaBias)) >> kBucketBits);
}

// The tables of the AVX-512 kernel, which does without the buckets (their lookups would be
// gathers, slower than working the gray out). It sums the weighted linear values from
// 16-bit halves, 32 pixels at a time, then encodes the sum y in single precision:
// y = 2^e m with m in [1, 2), so y^(5/12) is a factor for e times a polynomial in m
// (Chebyshev's, of degree 6), and below 0.0031308 the line. For every colour that lies
// within 6e-5 of 255 times the encoded value (the tests try them all); a gray within
// kFloatMargin of a half is left to luminanceOf.
constexpr double kWordScale = 268435456.0 - 65536.0;  // 2^28 less a little: sums fit 15 bits
constexpr int kLowBits = 13;                          // each value is high << 13 | low
constexpr int kDegree = 6;
constexpr float kFloatMargin = 3e-4f;

struct VectorLuminance {
    alignas(64) std::uint16_t high[3][256], low[3][256];  // blue, green, red
    alignas(64) float scale[32];      // by the low five bits of y's float exponent
    float coefficients[kDegree + 1];  // of m^(5/12), in powers of m - 1.5
};

const VectorLuminance& vectorLuminance();

}  // namespace graybmp
