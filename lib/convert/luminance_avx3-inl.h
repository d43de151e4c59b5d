// Luminance on AVX-512 with VBMI, re-included for every target through kernels-inl.h (empty
// but on HWY_AVX3_DL).
#if defined(GRAYBMP_LUMINANCE_AVX3_DL_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GRAYBMP_LUMINANCE_AVX3_DL_INL_H_
#undef GRAYBMP_LUMINANCE_AVX3_DL_INL_H_
#else
#define GRAYBMP_LUMINANCE_AVX3_DL_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include <algorithm>

#include "convert/kernels.h"
#include "convert/layout_loops-inl.h"
#include "convert/luminance.h"
#include "hwy/highway.h"

// Only this target has anything here: an empty region of the target's attributes is an
// error to clang.
#if HWY_TARGET == HWY_AVX3_DL
HWY_BEFORE_NAMESPACE();
namespace graybmp {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Luminance on AVX-512 with VBMI: byte permutes look the weighted linear values up, 32
// pixels at a time, and a polynomial encodes their sum (see VectorLuminance). Highway 1.0
// has no byte table lookup on 512-bit vectors, so this one is written in the target's own
// intrinsics.
// The compiler's own headers leave the unused lanes of some intrinsics undefined on purpose.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// 32 entries of a 256-entry table of words, by 32 indices whose bits 6 and 7 are given.
inline __m512i lookUpWords(const std::uint16_t* table, __m512i index, __mmask32 bit6,
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

inline FloatGrays encodedGrays(const VectorLuminance& v, __m512i y) {
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
std::size_t luminanceLookups(const std::uint8_t* block, std::size_t n,
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

// Blocks of pixels: the grays of as many as the lookups take, the rest by the portable
// kernel, then the stores.
template <int Bytes>
void LuminanceBlocks(const PixelRun& run) {
    constexpr std::size_t kBlock = 1024;
    HWY_ALIGN std::uint8_t grays[kBlock];
    for (std::size_t start = 0; start < run.count; start += kBlock) {
        const std::size_t n = std::min(kBlock, run.count - start);
        std::uint8_t* block = run.pixels + Bytes * start;
        const std::size_t done = luminanceLookups<Bytes>(block, n, Bytes * (run.count - start), grays);
        Loop(GrayKernel<GrayMethod::Luminance>{}, Interleaved<Bytes, true>{block + Bytes * done, grays + done},
             n - done);
        if (run.out != nullptr) {
            std::memcpy(run.out + start, grays, n);
        } else {
            for (std::size_t i = 0; i < n; ++i)
                block[Bytes * i] = block[Bytes * i + 1] = block[Bytes * i + 2] = grays[i];
        }
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();
#endif  // HWY_TARGET == HWY_AVX3_DL

#endif  // include guard
