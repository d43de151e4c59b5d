#include "convert/gray.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define GRAYBMP_AVX512_LOOKUPS 1
#endif

namespace graybmp {
namespace {

std::uint8_t meanOf(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>((blue + green + red) / 3);
}

std::uint8_t bt601Of(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

std::uint8_t bt709Of(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>((2126 * red + 7152 * green + 722 * blue + 5000) / 10000);
}

std::uint8_t maxOf(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>(std::max({blue, green, red}));
}

std::uint8_t lightnessOf(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>(
        (std::max({blue, green, red}) + std::min({blue, green, red}) + 1) / 2);
}

// The nearest integer n to sqrt(q / 3): (n - 1/2)^2 <= q / 3 < (n + 1/2)^2, that is
// 3 (2n - 1)^2 <= 4q < 3 (2n + 1)^2, never equal (the one side is odd, the other even).
std::int64_t nearestRootOfThird(std::int64_t q) {
    auto n = static_cast<std::int64_t>(std::sqrt(static_cast<double>(q) / 3.0) + 0.5);
    while (n > 0 && 3 * (2 * n - 1) * (2 * n - 1) > 4 * q) --n;
    while (3 * (2 * n + 1) * (2 * n + 1) < 4 * q) ++n;
    return n;
}

std::uint8_t rmsOf(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>(
        nearestRootOfThird(std::int64_t{blue} * blue + std::int64_t{green} * green +
                           std::int64_t{red} * red));
}

std::uint8_t weightedOf(const GrayFormula& f, unsigned blue, unsigned green, unsigned red) {
    const std::uint64_t sum = f.weights[0] + f.weights[1] + f.weights[2];
    return static_cast<std::uint8_t>(
        (f.weights[0] * red + f.weights[1] * green + f.weights[2] * blue + sum / 2) / sum);
}

// Division rounding toward minus infinity, for the signed channels of 64-bit pixels.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

std::int32_t wideGray(const GrayFormula& f, std::int32_t blue, std::int32_t green,
                      std::int32_t red) {
    const std::int64_t b = blue, g = green, r = red;
    switch (f.method) {
    case GrayMethod::Mean:
        return static_cast<std::int32_t>(floorDiv(b + g + r, 3));
    case GrayMethod::Bt601:
        return static_cast<std::int32_t>(floorDiv(299 * r + 587 * g + 114 * b + 500, 1000));
    case GrayMethod::Max:
        return static_cast<std::int32_t>(std::max({b, g, r}));
    case GrayMethod::Lightness:
        return static_cast<std::int32_t>(floorDiv(std::max({b, g, r}) + std::min({b, g, r}) + 1, 2));
    case GrayMethod::Rms: {  // with the sign of the sum, so that a gray stays itself
        const std::int64_t n = std::min<std::int64_t>(nearestRootOfThird(b * b + g * g + r * r), 32767);
        return static_cast<std::int32_t>(b + g + r < 0 ? -n : n);
    }
    case GrayMethod::Red:
        return red;
    case GrayMethod::Green:
        return green;
    case GrayMethod::Blue:
        return blue;
    case GrayMethod::Weights: {
        const auto w = [&](int c) { return static_cast<std::int64_t>(f.weights[c]); };
        const std::int64_t sum = w(0) + w(1) + w(2);
        return static_cast<std::int32_t>(floorDiv(w(0) * r + w(1) * g + w(2) * b + sum / 2, sum));
    }
    default:  // BT.709 luma, and the luminance of values already linear
        return static_cast<std::int32_t>(floorDiv(2126 * r + 7152 * g + 722 * b + 5000, 10000));
    }
}

// ---- Luminance ----
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

constexpr int kBucketBits = 19;
constexpr std::uint32_t kInBucket = (std::uint32_t{1} << kBucketBits) - 1;
constexpr std::uint32_t kNoThreshold = std::uint32_t{1} << kBucketBits;
constexpr std::uint32_t kLumaBias = 4;
constexpr std::size_t kBuckets = ((std::uint32_t{1} << 31) + 3 * kLumaBias) >> kBucketBits;

double encodedOf(double y) {
    return y <= 0.0031308 ? 12.92 * y : 1.055 * std::pow(y, 1 / 2.4) - 0.055;
}

double decodedOf(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

struct LuminanceTables {
    double linear[256];
    std::uint32_t red[256], green[256], blue[256];
    std::uint32_t buckets[kBuckets + 1];  // thresholds below << 24 | the one inside
};

const LuminanceTables& luminanceTables() {
    static const LuminanceTables tables = [] {
        LuminanceTables t{};
        const double scale = 2147483648.0;
        for (unsigned c = 0; c < 256; ++c) {
            t.linear[c] = decodedOf(c / 255.0);
            t.red[c] =
                static_cast<std::uint32_t>(std::llround(0.2126 * t.linear[c] * scale)) + kLumaBias;
            t.green[c] = static_cast<std::uint32_t>(std::llround(0.7152 * t.linear[c] * scale));
            t.blue[c] = static_cast<std::uint32_t>(std::llround(0.0722 * t.linear[c] * scale));
        }
        for (std::uint32_t& b : t.buckets) b = kNoThreshold;
        for (unsigned k = 0; k < 255; ++k) {
            const double at = std::ceil(decodedOf((k + 0.5) / 255.0) * scale) + kLumaBias;
            const auto threshold = static_cast<std::uint32_t>(at);
            const std::size_t bucket = threshold >> kBucketBits;
            const bool inside = (threshold & kInBucket) != 0;
            if (inside)
                t.buckets[bucket] =
                    (t.buckets[bucket] & ~kInBucket & ~kNoThreshold) | (threshold & kInBucket);
            for (std::size_t b = bucket + (inside ? 1 : 0); b <= kBuckets; ++b)
                t.buckets[b] += std::uint32_t{1} << 24;
        }
        return t;
    }();
    return tables;
}

std::uint8_t exactLuminance(unsigned blue, unsigned green, unsigned red) {
    const LuminanceTables& t = luminanceTables();
    const double y = 0.2126 * t.linear[red] + 0.7152 * t.linear[green] + 0.0722 * t.linear[blue];
    const double v = std::round(255.0 * encodedOf(y));
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

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

std::uint8_t luminanceOf(unsigned blue, unsigned green, unsigned red) {
    const LuminanceTables& t = luminanceTables();
    const std::uint32_t y = t.blue[blue] + t.green[green] + t.red[red];
    const std::uint32_t bucket = t.buckets[y >> kBucketBits];
    if (nearEdge(y, bucket) != 0) return exactLuminance(blue, green, red);
    return static_cast<std::uint8_t>(fixedGray(y, bucket));
}

Channel channelOf(std::uint32_t mask) {
    Channel c{mask, 0, 0};
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1u) != 0) ++c.bits;
    return c;
}

// A channel's value on the 8-bit scale: narrower channels repeat their high bits (so
// the top value is 255), wider ones keep their top 8 bits.
unsigned widen(const Channel& c, std::uint32_t value) {
    const std::uint32_t v = (value & c.mask) >> c.shift;
    if (c.bits >= 8) return v >> (c.bits - 8);
    unsigned out = 0;
    for (int filled = 0; filled < 8; filled += c.bits) {
        const int room = 8 - filled;
        out |= room >= c.bits ? v << (room - c.bits) : v >> (c.bits - room);
    }
    return out & 0xFF;
}

// An 8-bit gray at the channel's width: its high bits, or for a wider channel the gray
// followed by its own high bits again, so that 255 is the channel's top value.
std::uint32_t narrow(const Channel& c, unsigned gray) {
    std::uint32_t v = 0;
    if (c.bits <= 8) {
        v = gray >> (8 - c.bits);
    } else {
        for (int filled = 0; filled < c.bits; filled += 8) {
            const int room = c.bits - filled;
            v |= room >= 8 ? std::uint32_t{gray} << (room - 8) : gray >> (8 - room);
        }
    }
    return (v << c.shift) & c.mask;
}

int wholeByte(const Channel& c) { return c.bits == 8 && c.shift % 8 == 0 ? c.shift / 8 : -1; }

// Pixels whose three channels are whole bytes: the common 24- and 32-bit layouts.
template <int Bytes>
void grayBytePixels(const PixelGray& g, std::uint8_t* p, std::size_t count) {
    const int r = g.byteOrder[0], gr = g.byteOrder[1], b = g.byteOrder[2];
    for (std::size_t i = 0; i < count; ++i, p += Bytes) {
        const std::uint8_t gray = grayOf(g.formula, p[b], p[gr], p[r]);
        p[r] = p[gr] = p[b] = gray;
    }
}

// Blue, green, red in that byte order, the layout nearly every file has. Written so that
// the compiler vectorizes it; on x86-64 Linux each loop is also compiled for AVX2 and for
// AVX-512 (x86-64-v4), and the processor's best is chosen once, at the first image
// (processCpu): four and two and a half times as fast. The loops are inlined into each
// variant, so that each is compiled for its processor.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define GRAYBMP_VARIANTS 1
#define GRAYBMP_INLINE __attribute__((always_inline)) inline
#else
#define GRAYBMP_INLINE inline
#endif

// With `Indices`, each gray goes to `out` and the pixels are left as they are.
template <int Bytes, GrayMethod Method, bool Indices>
GRAYBMP_INLINE void grayBgrPixels(std::uint8_t* __restrict p, std::size_t count,
                                  std::uint8_t* __restrict out, const WeightsInDouble& w) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* pixel = p + Bytes * i;
        std::uint8_t gray;
        if constexpr (Method == GrayMethod::Mean) {
            const auto sum = static_cast<std::uint16_t>(pixel[0] + pixel[1] + pixel[2]);
            gray = static_cast<std::uint8_t>(sum / 3);
        } else if constexpr (Method == GrayMethod::Bt601) {
            gray = bt601Of(pixel[0], pixel[1], pixel[2]);
        } else if constexpr (Method == GrayMethod::Max) {
            gray = std::max(pixel[0], std::max(pixel[1], pixel[2]));
        } else if constexpr (Method == GrayMethod::Lightness) {
            const int high = std::max(pixel[0], std::max(pixel[1], pixel[2]));
            const int low = std::min(pixel[0], std::min(pixel[1], pixel[2]));
            gray = static_cast<std::uint8_t>((high + low + 1) >> 1);
        } else if constexpr (Method == GrayMethod::Rms) {
            // In single precision the root is within 3e-5 of the exact one, and a colour's
            // root lies at least 1.6e-4 from a half.
            const int q = pixel[0] * pixel[0] + pixel[1] * pixel[1] + pixel[2] * pixel[2];
            gray = static_cast<std::uint8_t>(std::sqrt(static_cast<float>(q) * (1.0f / 3.0f)) + 0.5f);
        } else if constexpr (Method == GrayMethod::Red) {
            gray = pixel[2];
        } else if constexpr (Method == GrayMethod::Green) {
            gray = pixel[1];
        } else if constexpr (Method == GrayMethod::Blue) {
            gray = pixel[0];
        } else if constexpr (Method == GrayMethod::Weights) {
            const double n = static_cast<double>(pixel[2]) * w.red +
                             static_cast<double>(pixel[1]) * w.green +
                             static_cast<double>(pixel[0]) * w.blue + w.half;
            gray = static_cast<std::uint8_t>(static_cast<int>(n / w.sum));
        } else {
            gray = bt709Of(pixel[0], pixel[1], pixel[2]);
        }
        if constexpr (Indices) {
            out[i] = gray;
        } else {
            pixel[0] = gray;
            pixel[1] = gray;
            pixel[2] = gray;
        }
    }
}

#ifdef GRAYBMP_AVX512_LOOKUPS
#define GRAYBMP_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vbmi")))
// The compiler's own headers leave the unused lanes of some intrinsics undefined on purpose.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The AVX-512 loop does without the buckets, whose lookups would be gathers, slower than
// working the gray out. It sums the weighted linear values from 16-bit halves, 32 pixels at
// a time, then encodes the sum y in single precision: y = 2^e m with m in [1, 2), so
// y^(5/12) is a factor for e times a polynomial in m (Chebyshev's, of degree 6), and below
// 0.0031308 the line. For every colour that lies within 6e-5 of 255 times the encoded value
// (the tests try them all); a gray within kFloatMargin of a half is left to luminanceOf.
constexpr double kWordScale = 268435456.0 - 65536.0;  // 2^28 less a little: sums fit 15 bits
constexpr int kLowBits = 13;                          // each value is high << 13 | low
constexpr int kDegree = 6;
constexpr float kFloatMargin = 3e-4f;

struct VectorLuminance {
    alignas(64) std::uint16_t high[3][256], low[3][256];  // blue, green, red
    alignas(64) float scale[32];      // by the low five bits of y's float exponent
    float coefficients[kDegree + 1];  // of m^(5/12), in powers of m - 1.5
};

const VectorLuminance& vectorLuminance() {
    static const VectorLuminance tables = [] {
        VectorLuminance v{};
        const double weight[3] = {0.0722, 0.7152, 0.2126};
        for (int c = 0; c < 3; ++c) {
            for (unsigned x = 0; x < 256; ++x) {
                const auto value = static_cast<std::uint32_t>(
                    std::llround(weight[c] * luminanceTables().linear[x] * kWordScale));
                v.high[c][x] = static_cast<std::uint16_t>(value >> kLowBits);
                v.low[c][x] = static_cast<std::uint16_t>(value & ((1u << kLowBits) - 1));
            }
        }
        for (int e = 127; e < 127 + 32; ++e)  // y below 2^28: biased exponents 127 to 154
            v.scale[e & 31] = static_cast<float>(
                255 * 1.055 * std::pow(std::ldexp(1.0, e - 127) / kWordScale, 5.0 / 12));
        // Interpolation at the Chebyshev nodes, then T_j(2t) expanded in powers of t.
        const double pi = 3.14159265358979323846;
        double coefficient[kDegree + 1] = {}, previous[kDegree + 1] = {1},
                                     current[kDegree + 1] = {0, 2};
        double power[kDegree + 1] = {};
        for (int j = 0; j <= kDegree; ++j) {
            double sum = 0;
            for (int k = 0; k <= kDegree; ++k) {
                const double angle = pi * (k + 0.5) / (kDegree + 1);
                sum += std::pow(1.5 + 0.5 * std::cos(angle), 5.0 / 12) * std::cos(j * angle);
            }
            coefficient[j] = sum * (j == 0 ? 1 : 2) / (kDegree + 1);
        }
        power[0] = coefficient[0];
        for (int i = 0; i <= kDegree; ++i) power[i] += coefficient[1] * current[i];
        for (int j = 2; j <= kDegree; ++j) {  // T_j(x) = 2x T_(j-1)(x) - T_(j-2)(x), x = 2t
            double next[kDegree + 1] = {};
            for (int i = 0; i <= kDegree; ++i) {
                next[i] = (i > 0 ? 4 * current[i - 1] : 0) - previous[i];
                power[i] += coefficient[j] * next[i];
            }
            std::copy(current, current + kDegree + 1, previous);
            std::copy(next, next + kDegree + 1, current);
        }
        for (int i = 0; i <= kDegree; ++i) v.coefficients[i] = static_cast<float>(power[i]);
        return v;
    }();
    return tables;
}

// 32 entries of a 256-entry table of words, by 32 indices whose bits 6 and 7 are given.
GRAYBMP_AVX512 inline __m512i lookUpWords(const std::uint16_t* table, __m512i index, __mmask32 bit6,
                                          __mmask32 bit7) {
    __m512i rows[4];
    for (int j = 0; j < 4; ++j)
        rows[j] = _mm512_permutex2var_epi16(_mm512_load_si512(table + 64 * j), index,
                                            _mm512_load_si512(table + 64 * j + 32));
    return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, rows[0], rows[1]),
                                   _mm512_mask_blend_epi16(bit6, rows[2], rows[3]));
}

// The encoded grays of 16 sums y (scaled by kWordScale), and those too close to call.
struct FloatGrays {
    __m512i gray;
    __mmask16 near;
};

GRAYBMP_AVX512 inline FloatGrays encodedGrays(const VectorLuminance& v, __m512i y) {
    const __m512 value = _mm512_cvtepi32_ps(y);
    const __m512i bits = _mm512_castps_si512(value);
    const __m512 mantissa = _mm512_castsi512_ps(_mm512_ternarylogic_epi32(
        bits, _mm512_set1_epi32(0x7FFFFF), _mm512_set1_epi32(0x3F800000), 0xEA));  // a & b | c
    const __m512 t = _mm512_sub_ps(mantissa, _mm512_set1_ps(1.5f));
    __m512 power = _mm512_set1_ps(v.coefficients[kDegree]);
    for (int k = kDegree - 1; k >= 0; --k)
        power = _mm512_fmadd_ps(power, t, _mm512_set1_ps(v.coefficients[k]));
    const __m512 scale = _mm512_permutex2var_ps(
        _mm512_load_ps(v.scale), _mm512_srli_epi32(bits, 23), _mm512_load_ps(v.scale + 16));
    __m512 gray = _mm512_fmadd_ps(power, scale, _mm512_set1_ps(static_cast<float>(-255 * 0.055)));
    const __mmask16 line = _mm512_cmp_ps_mask(
        value, _mm512_set1_ps(static_cast<float>(0.0031308 * kWordScale)), _CMP_LT_OQ);
    gray = _mm512_mask_mul_ps(gray, line, value,
                              _mm512_set1_ps(static_cast<float>(255 * 12.92 / kWordScale)));
    const __m512 fraction = _mm512_reduce_ps(gray, _MM_FROUND_TO_NEAREST_INT);
    const __mmask16 near = _mm512_cmp_ps_mask(_mm512_abs_ps(fraction),
                                              _mm512_set1_ps(0.5f - kFloatMargin), _CMP_GT_OQ);
    return {_mm512_cvtps_epi32(gray), near};
}

// Where each channel's byte of 32 pixels lies in their 128 bytes, for a byte permute that
// puts it at the bottom of its 16-bit lane (the top bytes are zeroed).
template <int Bytes>
struct ChannelSpread {
    alignas(64) std::uint8_t bytes[3][64];
    constexpr ChannelSpread() : bytes{} {
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 64; ++k)
                bytes[c][k] = static_cast<std::uint8_t>(k % 2 == 0 ? Bytes * (k / 2) + c : 0);
    }
};

// The grays of 32 pixels at a time, while 128 bytes are there to read; returns how many
// pixels it did, leaving the rest to the plain loop.
template <int Bytes>
GRAYBMP_AVX512 std::size_t luminanceLookups(const std::uint8_t* block, std::size_t n,
                                            std::size_t readable, std::uint8_t* grays) {
    static constexpr ChannelSpread<Bytes> spread;
    const VectorLuminance& v = vectorLuminance();
    const __m512i join = _mm512_set1_epi32(1 | (1 << kLowBits) << 16);
    std::size_t i = 0;
    for (; i + 32 <= n && Bytes * i + 128 <= readable; i += 32) {
        const std::uint8_t* pixels = block + Bytes * i;
        const __m512i first = _mm512_loadu_si512(pixels), second = _mm512_loadu_si512(pixels + 64);
        __m512i high = _mm512_setzero_si512(), low = _mm512_setzero_si512();
        for (int c = 0; c < 3; ++c) {
            const __m512i index = _mm512_maskz_permutex2var_epi8(
                0x5555555555555555ull, first, _mm512_load_si512(spread.bytes[c]), second);
            const __mmask32 bit6 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(64));
            const __mmask32 bit7 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(128));
            high = _mm512_add_epi16(high, lookUpWords(v.high[c], index, bit6, bit7));
            low = _mm512_add_epi16(low, lookUpWords(v.low[c], index, bit6, bit7));
        }
        // Interleaving the halves takes pixels 0-3 of each eight to one register, 4-7 to the
        // other; packing the grays back puts them in order again.
        const FloatGrays a =
            encodedGrays(v, _mm512_madd_epi16(_mm512_unpacklo_epi16(low, high), join));
        const FloatGrays b =
            encodedGrays(v, _mm512_madd_epi16(_mm512_unpackhi_epi16(low, high), join));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(grays + i),
                            _mm512_cvtepi16_epi8(_mm512_packus_epi32(a.gray, b.gray)));
        for (unsigned k = 0; (a.near | b.near) != 0 && k < 32; ++k) {
            if (((k < 16 ? a.near : b.near) >> (k % 16) & 1) == 0) continue;
            const std::size_t at = 8 * (k % 16 / 4) + (k < 16 ? 0 : 4) + k % 4;
            const std::uint8_t* pixel = pixels + Bytes * at;
            grays[i + at] = luminanceOf(pixel[0], pixel[1], pixel[2]);
        }
    }
    return i;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool hasAvx512Lookups() {
    static const bool has =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi");
    return has;
}
#endif

// Luminance a block at a time: the grays of the block (from the AVX-512 loop where there
// is one, the rest in fixed point, all of those redone exactly if any came too close to
// call), then the stores.
template <int Bytes, bool Indices, bool Lookups>
GRAYBMP_INLINE void luminanceBgrPixels(std::uint8_t* __restrict p, std::size_t count,
                                       std::uint8_t* __restrict out) {
    const LuminanceTables& t = luminanceTables();
    constexpr std::size_t kBlock = 1024;
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t n = std::min(kBlock, count - start);
        std::uint8_t* block = p + Bytes * start;
        std::uint8_t grays[kBlock];
        std::uint32_t near = 0;
        std::size_t done = 0;
#ifdef GRAYBMP_AVX512_LOOKUPS
        if (Lookups && hasAvx512Lookups())
            done = luminanceLookups<Bytes>(block, n, Bytes * (count - start), grays);
#endif
        for (std::size_t i = done; i < n; ++i) {
            const std::uint8_t* pixel = block + Bytes * i;
            const std::uint32_t y = t.blue[pixel[0]] + t.green[pixel[1]] + t.red[pixel[2]];
            const std::uint32_t bucket = t.buckets[y >> kBucketBits];
            grays[i] = static_cast<std::uint8_t>(fixedGray(y, bucket));
            near |= nearEdge(y, bucket);
        }
        if (near != 0) {
            for (std::size_t i = done; i < n; ++i) {
                const std::uint8_t* pixel = block + Bytes * i;
                grays[i] = luminanceOf(pixel[0], pixel[1], pixel[2]);
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t* pixel = block + Bytes * i;
            if constexpr (Indices) {
                out[start + i] = grays[i];
            } else {
                pixel[0] = pixel[1] = pixel[2] = grays[i];
            }
        }
    }
}

using PixelLoop = void (*)(std::uint8_t*, std::size_t, std::uint8_t*, const WeightsInDouble&);

// One loop of any method; `Lookups`: luminance may take the AVX-512 VBMI lookups.
template <int Bytes, GrayMethod Method, bool Indices, bool Lookups>
GRAYBMP_INLINE void bgrLoop(std::uint8_t* __restrict p, std::size_t count,
                            std::uint8_t* __restrict out, const WeightsInDouble& w) {
    if constexpr (Method == GrayMethod::Luminance)
        luminanceBgrPixels<Bytes, Indices, Lookups>(p, count, out);
    else
        grayBgrPixels<Bytes, Method, Indices>(p, count, out, w);
}

// Each loop once for every processor variant: the plain one, and where there are variants
// one for AVX2 and one for AVX-512 (x86-64-v4, whose luminance also takes the lookups).
#define GRAYBMP_LOOP_ARGS                                                             \
    std::uint8_t *__restrict p, std::size_t count, std::uint8_t *__restrict out, \
        const WeightsInDouble &w
#ifdef GRAYBMP_VARIANTS
#define GRAYBMP_LOOP(name, Bytes, Method, Indices)                                             \
    void name##Baseline(GRAYBMP_LOOP_ARGS) {                                                   \
        bgrLoop<Bytes, GrayMethod::Method, Indices, false>(p, count, out, w);                  \
    }                                                                                          \
    __attribute__((target("avx2"))) void name##Avx2(GRAYBMP_LOOP_ARGS) {                       \
        bgrLoop<Bytes, GrayMethod::Method, Indices, false>(p, count, out, w);                  \
    }                                                                                          \
    __attribute__((target("arch=x86-64-v4"))) void name##Avx512(GRAYBMP_LOOP_ARGS) {           \
        bgrLoop<Bytes, GrayMethod::Method, Indices, true>(p, count, out, w);                   \
    }
#define GRAYBMP_VARIANT(name, cpu) name##cpu
#else
#define GRAYBMP_LOOP(name, Bytes, Method, Indices)                            \
    void name##Baseline(GRAYBMP_LOOP_ARGS) {                                  \
        bgrLoop<Bytes, GrayMethod::Method, Indices, false>(p, count, out, w); \
    }
#define GRAYBMP_VARIANT(name, cpu) name##Baseline
#endif
#define GRAYBMP_LOOPS(name, Method)              \
    GRAYBMP_LOOP(name##24, 3, Method, false)     \
    GRAYBMP_LOOP(name##32, 4, Method, false)     \
    GRAYBMP_LOOP(name##Indices24, 3, Method, true) \
    GRAYBMP_LOOP(name##Indices32, 4, Method, true)
GRAYBMP_LOOPS(mean, Mean)
GRAYBMP_LOOPS(bt601, Bt601)
GRAYBMP_LOOPS(bt709, Bt709)
GRAYBMP_LOOPS(luminance, Luminance)
GRAYBMP_LOOPS(max, Max)
GRAYBMP_LOOPS(lightness, Lightness)
GRAYBMP_LOOPS(rms, Rms)
GRAYBMP_LOOPS(red, Red)
GRAYBMP_LOOPS(green, Green)
GRAYBMP_LOOPS(blue, Blue)
GRAYBMP_LOOPS(weights, Weights)

// By processor, by method, then in place or to indices, then 3 or 4 bytes a pixel.
#define GRAYBMP_LOOPS_OF(m, cpu)                                          \
    {{GRAYBMP_VARIANT(m##24, cpu), GRAYBMP_VARIANT(m##32, cpu)},            \
     {GRAYBMP_VARIANT(m##Indices24, cpu), GRAYBMP_VARIANT(m##Indices32, cpu)}}
#define GRAYBMP_CPU_LOOPS(cpu)                                                                \
    {GRAYBMP_LOOPS_OF(mean, cpu),  GRAYBMP_LOOPS_OF(bt601, cpu),     GRAYBMP_LOOPS_OF(bt709, cpu), \
     GRAYBMP_LOOPS_OF(luminance, cpu), GRAYBMP_LOOPS_OF(max, cpu),   GRAYBMP_LOOPS_OF(lightness, cpu), \
     GRAYBMP_LOOPS_OF(rms, cpu),   GRAYBMP_LOOPS_OF(red, cpu),       GRAYBMP_LOOPS_OF(green, cpu), \
     GRAYBMP_LOOPS_OF(blue, cpu),  GRAYBMP_LOOPS_OF(weights, cpu)}
const PixelLoop kBgrLoops[kCpus][kGrayMethods][2][2] = {
    GRAYBMP_CPU_LOOPS(Baseline), GRAYBMP_CPU_LOOPS(Avx2), GRAYBMP_CPU_LOOPS(Avx512)};
#undef GRAYBMP_CPU_LOOPS
#undef GRAYBMP_LOOPS_OF
#undef GRAYBMP_LOOPS
#undef GRAYBMP_LOOP
#undef GRAYBMP_VARIANT
#undef GRAYBMP_LOOP_ARGS

// The best variant the processor runs.
Cpu hardwareCpu() {
#ifdef GRAYBMP_VARIANTS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma"))
        return Cpu::Avx512;
    if (__builtin_cpu_supports("avx2")) return Cpu::Avx2;
#endif
    return Cpu::Baseline;
}

}  // namespace

const char* cpuName(Cpu cpu) {
    const char* const names[] = {"baseline", "avx2", "avx512"};
    return names[static_cast<int>(cpu)];
}

bool cpuNamed(const char* name, Cpu& cpu) {
    for (int c = 0; c < kCpus; ++c) {
        if (std::strcmp(cpuName(static_cast<Cpu>(c)), name) == 0) {
            cpu = static_cast<Cpu>(c);
            return true;
        }
    }
    return false;
}

std::vector<Cpu> availableCpus() {
    std::vector<Cpu> cpus;
    for (int c = 0; c <= static_cast<int>(hardwareCpu()); ++c) cpus.push_back(static_cast<Cpu>(c));
    return cpus;
}

Cpu processCpu() {
    static const Cpu chosen = [] {
        const Cpu best = hardwareCpu();
        const char* wanted = std::getenv("GRAYBMP_CPU");
        Cpu lower = best;
        if (wanted != nullptr && cpuNamed(wanted, lower) && lower < best) return lower;
        return best;
    }();
    return chosen;
}

std::uint8_t grayOf(const GrayFormula& f, unsigned blue, unsigned green, unsigned red) {
    switch (f.method) {
    case GrayMethod::Bt601:
        return bt601Of(blue, green, red);
    case GrayMethod::Bt709:
        return bt709Of(blue, green, red);
    case GrayMethod::Luminance:
        return luminanceOf(blue, green, red);
    case GrayMethod::Max:
        return maxOf(blue, green, red);
    case GrayMethod::Lightness:
        return lightnessOf(blue, green, red);
    case GrayMethod::Rms:
        return rmsOf(blue, green, red);
    case GrayMethod::Red:
        return static_cast<std::uint8_t>(red);
    case GrayMethod::Green:
        return static_cast<std::uint8_t>(green);
    case GrayMethod::Blue:
        return static_cast<std::uint8_t>(blue);
    case GrayMethod::Weights:
        return weightedOf(f, blue, green, red);
    default:
        return meanOf(blue, green, red);
    }
}

void grayEntries(std::uint8_t* entries, std::size_t count, std::size_t entrySize,
                 const GrayFormula& method) {
    for (std::size_t i = 0; i < count; ++i, entries += entrySize)
        entries[0] = entries[1] = entries[2] = grayOf(method, entries[0], entries[1], entries[2]);
}

void grayPalette(Palette& palette, const GrayFormula& method) {
    grayEntries(reinterpret_cast<std::uint8_t*>(&palette), kPaletteEntries, sizeof(RGBQUAD),
                method);
}

PixelGray pixelGrayOf(const ImageLayout& layout, std::uint16_t* table, const GrayFormula& formula,
                      Cpu cpu) {
    PixelGray g{};
    g.formula = formula;
    g.cpu = cpu;
    const std::uint64_t sum = formula.weights[0] + formula.weights[1] + formula.weights[2];
    g.weights = {static_cast<double>(formula.weights[0]), static_cast<double>(formula.weights[1]),
                 static_cast<double>(formula.weights[2]), static_cast<double>(sum / 2),
                 static_cast<double>(sum)};
    if (layout.bitCount == 64) {
        g.bytesPerPixel = 8;
        g.method = PixelMethod::Wide;
        return g;
    }
    g.bytesPerPixel = layout.bitCount / 8;
    g.red = channelOf(layout.redMask);
    g.green = channelOf(layout.greenMask);
    g.blue = channelOf(layout.blueMask);
    g.byteOrder[0] = wholeByte(g.red);
    g.byteOrder[1] = wholeByte(g.green);
    g.byteOrder[2] = wholeByte(g.blue);
    g.table = nullptr;
    const bool bytes = g.byteOrder[0] >= 0 && g.byteOrder[1] >= 0 && g.byteOrder[2] >= 0;
    const bool bgr = g.byteOrder[0] == 2 && g.byteOrder[1] == 1 && g.byteOrder[2] == 0;
    g.method = PixelMethod::Masks;
    if (g.bytesPerPixel == 2 && table != nullptr) {
        for (std::uint32_t v = 0; v < 65536; ++v)
            table[v] = static_cast<std::uint16_t>(grayPixel(g, v));
        g.table = table;
        g.method = PixelMethod::Table;
    } else if (g.bytesPerPixel >= 3 && bytes) {
        g.method = bgr ? PixelMethod::Bgr : PixelMethod::Bytes;
    }
    return g;
}

std::uint32_t grayPixel(const PixelGray& g, std::uint32_t value) {
    const unsigned gray =
        grayOf(g.formula, widen(g.blue, value), widen(g.green, value), widen(g.red, value));
    const std::uint32_t colour = g.red.mask | g.green.mask | g.blue.mask;
    return (value & ~colour) | narrow(g.red, gray) | narrow(g.green, gray) | narrow(g.blue, gray);
}

void grayPixels(const PixelGray& g, std::uint8_t* p, std::size_t count) {
    const bool three = g.bytesPerPixel == 3;
    switch (g.method) {
    case PixelMethod::Wide:
        for (std::size_t i = 0; i < count; ++i, p += 8) {
            const std::int32_t gray =
                wideGray(g.formula, readS16le(p), readS16le(p + 2), readS16le(p + 4));
            for (int c = 0; c < 3; ++c) {
                p[2 * c] = static_cast<std::uint8_t>(gray & 0xFF);
                p[2 * c + 1] = static_cast<std::uint8_t>((gray >> 8) & 0xFF);
            }
        }
        return;
    case PixelMethod::Table:
        for (std::size_t i = 0; i < count; ++i, p += 2) {
            const std::uint16_t gray = g.table[readU16le(p)];
            p[0] = static_cast<std::uint8_t>(gray);
            p[1] = static_cast<std::uint8_t>(gray >> 8);
        }
        return;
    case PixelMethod::Bgr:
        return kBgrLoops[static_cast<int>(g.cpu)][static_cast<int>(g.formula.method)][0]
                        [three ? 0 : 1](p, count, nullptr, g.weights);
    case PixelMethod::Bytes:
        return three ? grayBytePixels<3>(g, p, count) : grayBytePixels<4>(g, p, count);
    case PixelMethod::Masks:
        for (std::size_t i = 0; i < count; ++i, p += g.bytesPerPixel) {
            std::uint32_t v = 0;
            for (int b = 0; b < g.bytesPerPixel; ++b) v |= std::uint32_t{p[b]} << (8 * b);
            v = grayPixel(g, v);
            for (int b = 0; b < g.bytesPerPixel; ++b)
                p[b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
        return;
    }
}

void grayIndices(const PixelGray& g, std::uint8_t* p, std::size_t count, std::uint8_t* out) {
    const auto size = static_cast<std::size_t>(g.bytesPerPixel);
    if (g.method == PixelMethod::Bgr) {
        kBgrLoops[static_cast<int>(g.cpu)][static_cast<int>(g.formula.method)][1]
                 [size == 3 ? 0 : 1](p, count, out, g.weights);
        return;
    }
    if (g.method == PixelMethod::Bytes) {
        grayPixels(g, p, count);  // every channel a whole byte: blue's holds the gray
        const auto blue = static_cast<std::size_t>(g.byteOrder[2]);
        for (std::size_t i = 0; i < count; ++i) out[i] = p[i * size + blue];
        return;
    }
    for (std::size_t i = 0; i < count; ++i, p += size) {
        std::uint32_t v = 0;
        for (std::size_t b = 0; b < size; ++b) v |= std::uint32_t{p[b]} << (8 * b);
        out[i] = grayOf(g.formula, widen(g.blue, v), widen(g.green, v), widen(g.red, v));
    }
}

}  // namespace graybmp
