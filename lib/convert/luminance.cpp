#include "convert/luminance.h"

#include <algorithm>
#include <cmath>

namespace graybmp {
namespace {

double encodedOf(double y) {
    return y <= 0.0031308 ? 12.92 * y : 1.055 * std::pow(y, 1 / 2.4) - 0.055;
}

double decodedOf(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

}  // namespace

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

std::uint8_t luminanceOf(unsigned blue, unsigned green, unsigned red) {
    const LuminanceTables& t = luminanceTables();
    const std::uint32_t y = t.blue[blue] + t.green[green] + t.red[red];
    const std::uint32_t bucket = t.buckets[y >> kBucketBits];
    if (nearEdge(y, bucket) != 0) return exactLuminance(blue, green, red);
    return static_cast<std::uint8_t>(fixedGray(y, bucket));
}

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

}  // namespace graybmp
