// The pixel kernels, written once on Highway's portable vectors and compiled for every
// target by kernels.cpp (through foreach_target.h): one GrayKernel a method, run over the
// five layouts a PixelRun may have.
#if defined(GRAYBMP_KERNELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GRAYBMP_KERNELS_INL_H_
#undef GRAYBMP_KERNELS_INL_H_
#else
#define GRAYBMP_KERNELS_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "convert/kernels.h"
#include "convert/luminance.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace graybmp {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// No vector of 8-bit lanes holds more than this (MaxLanes is a loose bound on SVE).
constexpr std::size_t kMaxLanes = HWY_MAX_BYTES;

// Each method's kernel: the gray of vectors of blue, green and red (8-bit lanes of the tag
// D8, which holds as many lanes as a vector of the kernel's Lane type) as 8-bit lanes.
// Every one is exact, on every target: the tests hold each to its formula on all 2^24
// colours. A method without a kernel does not compile.
template <GrayMethod M>
struct GrayKernel;

template <>
struct GrayKernel<GrayMethod::Mean> {
    using Lane = std::uint16_t;
    // floor(s / 3) = (s * 0xAAAB) >> 17 for every s below 2^16.
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        const hn::Rebind<std::uint16_t, D8> d16;
        const auto sum = hn::Add(hn::Add(hn::PromoteTo(d16, b), hn::PromoteTo(d16, g)),
                                 hn::PromoteTo(d16, r));
        const auto third = hn::ShiftRight<1>(hn::MulHigh(sum, hn::Set(d16, 0xAAAB)));
        return hn::DemoteTo(d8, hn::BitCast(hn::Rebind<std::int16_t, D8>(), third));
    }
};

// (R r + G g + B b + S div 2) div S in single precision: the sum plus a half is exact (below
// 2^23), and lies at least 0.5 / S from an integer multiple of S, farther than the
// reciprocal's and the product's roundings move it (2^-23 of at most 255.5, 3.05e-5 <
// 5e-5): truncating the product gives the floor.
template <int R, int G, int B, int S>
struct Luma {
    using Lane = float;
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        const hn::Rebind<std::int32_t, D8> di;
        const hn::Rebind<float, D8> df;
        const auto wide = [&](V c) { return hn::ConvertTo(df, hn::PromoteTo(di, c)); };
        const auto n = hn::MulAdd(
            wide(r), hn::Set(df, R),
            hn::MulAdd(wide(g), hn::Set(df, G), hn::MulAdd(wide(b), hn::Set(df, B), hn::Set(df, S / 2 + 0.5f))));
        return hn::DemoteTo(d8, hn::ConvertTo(di, hn::Mul(n, hn::Set(df, 1.0f / S))));
    }
};

template <>
struct GrayKernel<GrayMethod::Bt601> : Luma<299, 587, 114, 1000> {};
template <>
struct GrayKernel<GrayMethod::Bt709> : Luma<2126, 7152, 722, 10000> {};

template <>
struct GrayKernel<GrayMethod::Max> {
    using Lane = std::uint8_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8, V b, V g, V r) const {
        return hn::Max(hn::Max(b, g), r);
    }
};

// (max + min + 1) div 2 = max - (max - min) div 2, which no 8-bit lane overflows (Highway
// 1.0's AverageRound does on SVE).
template <>
struct GrayKernel<GrayMethod::Lightness> {
    using Lane = std::uint8_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8, V b, V g, V r) const {
        const V high = hn::Max(hn::Max(b, g), r);
        return hn::Sub(high, hn::ShiftRight<1>(hn::Sub(high, hn::Min(hn::Min(b, g), r))));
    }
};

// In single precision the root is within 3e-5 of the exact one, and a colour's root lies
// at least 1.6e-4 from a half.
template <>
struct GrayKernel<GrayMethod::Rms> {
    using Lane = std::int32_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        const hn::Rebind<std::int32_t, D8> di;
        const hn::Rebind<float, D8> df;
        const auto wb = hn::PromoteTo(di, b), wg = hn::PromoteTo(di, g), wr = hn::PromoteTo(di, r);
        const auto q = hn::Add(hn::Add(hn::Mul(wb, wb), hn::Mul(wg, wg)), hn::Mul(wr, wr));
        const auto root =
            hn::Sqrt(hn::Mul(hn::ConvertTo(df, q), hn::Set(df, 1.0f / 3.0f)));
        return hn::DemoteTo(d8, hn::ConvertTo(di, hn::Add(root, hn::Set(df, 0.5f))));
    }
};

template <int Channel>  // 0 blue, 1 green, 2 red
struct OneChannel {
    using Lane = std::uint8_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8, V b, V g, V r) const {
        return Channel == 0 ? b : Channel == 1 ? g : r;
    }
};

template <>
struct GrayKernel<GrayMethod::Red> : OneChannel<2> {};
template <>
struct GrayKernel<GrayMethod::Green> : OneChannel<1> {};
template <>
struct GrayKernel<GrayMethod::Blue> : OneChannel<0> {};

// In double precision every product and sum is exact (below 2^50), and the sum plus a half
// lies at least 0.5 / S from a multiple of S (S at most 3e12: 1.67e-13 of the quotient),
// farther than the reciprocal's and the product's roundings move it (2^-52 of at most
// 255.5, 5.7e-14): truncating the product gives the floor.
template <>
struct GrayKernel<GrayMethod::Weights> {
    WeightsInDouble w{};
    double inverse = 0;

#if HWY_HAVE_FLOAT64
    using Lane = double;
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        const hn::Rebind<double, D8> dd;
        const hn::Rebind<std::int32_t, D8> di;
        const auto wide = [&](V c) { return hn::PromoteTo(dd, hn::PromoteTo(di, c)); };
        const auto n = hn::Add(
            hn::Add(hn::Mul(wide(r), hn::Set(dd, w.red)), hn::Mul(wide(g), hn::Set(dd, w.green))),
            hn::Add(hn::Mul(wide(b), hn::Set(dd, w.blue)), hn::Set(dd, w.half + 0.5)));
        return hn::DemoteTo(d8, hn::DemoteTo(di, hn::Mul(n, hn::Set(dd, inverse))));
    }
#else
    // Targets without double lanes (WebAssembly's): the same arithmetic a lane at a time.
    using Lane = std::uint8_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        HWY_ALIGN std::uint8_t lanes[4][kMaxLanes];
        hn::Store(b, d8, lanes[0]);
        hn::Store(g, d8, lanes[1]);
        hn::Store(r, d8, lanes[2]);
        for (std::size_t i = 0; i < hn::Lanes(d8); ++i)
            lanes[3][i] = static_cast<std::uint8_t>(
                (w.red * lanes[2][i] + w.green * lanes[1][i] + w.blue * lanes[0][i] + (w.half + 0.5)) *
                inverse);
        return hn::Load(d8, lanes[3]);
    }
#endif
};

// Luminance in fixed point, as luminanceOf works it out: three gathers for y, one for its
// bucket; a vector with any lane too close to call is redone lane by lane.
template <>
struct GrayKernel<GrayMethod::Luminance> {
    using Lane = std::uint32_t;
    template <class D8, class V>
    HWY_INLINE V operator()(D8 d8, V b, V g, V r) const {
        const LuminanceTables& t = luminanceTables();
        const hn::Rebind<std::uint32_t, D8> du;
        const hn::Rebind<std::int32_t, D8> di;
        const auto y = hn::Add(
            hn::Add(hn::GatherIndex(du, t.blue, hn::BitCast(di, hn::PromoteTo(du, b))),
                    hn::GatherIndex(du, t.green, hn::BitCast(di, hn::PromoteTo(du, g)))),
            hn::GatherIndex(du, t.red, hn::BitCast(di, hn::PromoteTo(du, r))));
        const auto bucket =
            hn::GatherIndex(du, t.buckets, hn::BitCast(di, hn::ShiftRight<kBucketBits>(y)));
        // Every value compared is below 2^20: signed lanes do.
        const auto inside = hn::BitCast(di, hn::And(y, hn::Set(du, kInBucket)));
        const auto threshold = hn::BitCast(di, hn::And(bucket, hn::Set(du, kInBucket | kNoThreshold)));
        const auto gray = hn::Add(hn::BitCast(di, hn::ShiftRight<24>(bucket)),
                                  hn::IfThenZeroElse(hn::Lt(inside, threshold), hn::Set(di, 1)));
        const auto from = hn::Sub(inside, threshold);
        const auto bias = static_cast<std::int32_t>(kLumaBias);
        const auto nearThreshold =
            hn::And(hn::Gt(from, hn::Set(di, -bias - 1)), hn::Lt(from, hn::Set(di, bias + 1)));
        const auto crossing = hn::ShiftRight<kBucketBits>(
            hn::Xor(hn::Add(y, hn::Set(du, kLumaBias)), hn::Sub(y, hn::Set(du, kLumaBias))));
        const auto near =
            hn::Or(nearThreshold, hn::Gt(hn::BitCast(di, crossing), hn::Zero(di)));
        const V grays = hn::DemoteTo(d8, gray);
        if (HWY_LIKELY(hn::AllFalse(di, near))) return grays;
        HWY_ALIGN std::uint8_t lanes[4][kMaxLanes];
        hn::Store(b, d8, lanes[0]);
        hn::Store(g, d8, lanes[1]);
        hn::Store(r, d8, lanes[2]);
        for (std::size_t i = 0; i < hn::Lanes(d8); ++i)
            lanes[3][i] = luminanceOf(lanes[0][i], lanes[1][i], lanes[2][i]);
        return hn::Load(d8, lanes[3]);
    }
};

// The layouts: pixels of 3 or 4 bytes, grayed where they lie or into bytes of their own;
// or planes into bytes. Each does one vector's pixels at i, and the last n fewer through
// a buffer of a whole vector's.
template <int Bytes, bool ToOut>
struct Interleaved {
    std::uint8_t* p;
    std::uint8_t* out;

    template <class D8, class F>
    HWY_INLINE void Step(D8 d8, const F& f, std::size_t i) const {
        using V = hn::VFromD<D8>;
        V b, g, r;
        std::uint8_t* at = p + Bytes * i;
        if constexpr (Bytes == 3) {
            hn::LoadInterleaved3(d8, at, b, g, r);
            const V gray = f(d8, b, g, r);
            if constexpr (ToOut) hn::StoreU(gray, d8, out + i);
            else hn::StoreInterleaved3(gray, gray, gray, d8, at);
        } else {
            V a;
            hn::LoadInterleaved4(d8, at, b, g, r, a);
            const V gray = f(d8, b, g, r);
            if constexpr (ToOut) hn::StoreU(gray, d8, out + i);
            else hn::StoreInterleaved4(gray, gray, gray, a, d8, at);
        }
    }

    template <class D8, class F>
    HWY_INLINE void Tail(D8 d8, const F& f, std::size_t i, std::size_t n) const {
        HWY_ALIGN std::uint8_t pixels[4 * kMaxLanes] = {};
        HWY_ALIGN std::uint8_t grays[kMaxLanes] = {};
        std::memcpy(pixels, p + Bytes * i, Bytes * n);
        Interleaved<Bytes, ToOut>{pixels, grays}.Step(d8, f, 0);
        if constexpr (ToOut) std::memcpy(out + i, grays, n);
        else std::memcpy(p + Bytes * i, pixels, Bytes * n);
    }
};

struct Planes {
    const std::uint8_t* blue;
    const std::uint8_t* green;
    const std::uint8_t* red;
    std::uint8_t* out;

    template <class D8, class F>
    HWY_INLINE void Step(D8 d8, const F& f, std::size_t i) const {
        hn::StoreU(f(d8, hn::LoadU(d8, blue + i), hn::LoadU(d8, green + i), hn::LoadU(d8, red + i)),
                   d8, out + i);
    }

    template <class D8, class F>
    HWY_INLINE void Tail(D8 d8, const F& f, std::size_t i, std::size_t n) const {
        HWY_ALIGN std::uint8_t lanes[4][kMaxLanes] = {};
        std::memcpy(lanes[0], blue + i, n);
        std::memcpy(lanes[1], green + i, n);
        std::memcpy(lanes[2], red + i, n);
        Planes{lanes[0], lanes[1], lanes[2], lanes[3]}.Step(d8, f, 0);
        std::memcpy(out + i, lanes[3], n);
    }
};

// How many pixels a layout's step takes: a vector's, unless it says otherwise.
template <class Layout>
constexpr std::size_t kStepPixels = 0;

#if HWY_TARGET == HWY_WASM
// The kernel f over the lanes of d, by halves until they are as many as d8 has.
template <class D8, class D, class F>
HWY_INLINE hn::VFromD<D> InHalves(D8 d8, D d, const F& f, hn::VFromD<D> b, hn::VFromD<D> g,
                                  hn::VFromD<D> r) {
    if constexpr (hn::MaxLanes(D()) == hn::MaxLanes(D8())) {
        return f(d8, b, g, r);
    } else {
        const hn::Half<D> dh;
        const auto low = InHalves(d8, dh, f, hn::LowerHalf(dh, b), hn::LowerHalf(dh, g),
                                  hn::LowerHalf(dh, r));
        const auto high = InHalves(d8, dh, f, hn::UpperHalf(dh, b), hn::UpperHalf(dh, g),
                                   hn::UpperHalf(dh, r));
        return hn::Combine(d, high, low);
    }
}

// Pixels of three bytes on WebAssembly, sixteen at a time. Highway 1.0 parts channels of
// bytes there by shuffles by table, which run a lane at a time; words it parts by fixed
// shuffles. Four pixels are three words (B0 G0 R0 B1, G1 R1 B2 G2, R2 B3 G3 R3), so the
// words of sixteen part into three vectors whose lane j holds those of pixels 4j to 4j+3;
// shifts and byte selects then gather each channel with byte p of lane j for pixel 4j+p,
// the pixels' own order.
template <bool ToOut>
struct ThreeByWords {
    std::uint8_t* p;
    std::uint8_t* out;

    template <class D8, class F>
    HWY_INLINE void Step(D8 d8, const F& f, std::size_t i) const {
        const hn::Full128<std::uint32_t> dw;
        const hn::Full128<std::uint8_t> db;
        const hn::Full128<std::uint16_t> dh;
        using W = hn::VFromD<decltype(dw)>;
        // Bytes of `even` at even places, of `odd` at odd ones; then the same by halves.
        const auto bytes = [&](W odd, W even) {
            return hn::BitCast(dw, hn::OddEven(hn::BitCast(db, odd), hn::BitCast(db, even)));
        };
        const auto halves = [&](W odd, W even) {
            return hn::BitCast(db, hn::OddEven(hn::BitCast(dh, odd), hn::BitCast(dh, even)));
        };
        std::uint8_t* at = p + 3 * i;
        W w0, w1, w2;
        hn::LoadInterleaved3(dw, reinterpret_cast<const std::uint32_t*>(at), w0, w1, w2);
        const W w0r16 = hn::ShiftRight<16>(w0);
        const auto b = halves(bytes(hn::ShiftLeft<16>(w2), w1), bytes(w0r16, w0));
        const auto g = halves(bytes(hn::ShiftLeft<8>(w2), hn::ShiftRight<8>(w1)),
                              bytes(hn::ShiftLeft<8>(w1), hn::ShiftRight<8>(w0)));
        const auto r = halves(bytes(w2, hn::ShiftLeft<16>(w2)), bytes(w1, w0r16));
        const auto gray = InHalves(d8, db, f, b, g, r);
        if constexpr (ToOut) {
            hn::StoreU(gray, db, out + i);
        } else {
            // The words back: g0 g0 g0 g1, g1 g1 g2 g2, g2 g3 g3 g3.
            const W v = hn::BitCast(dw, gray);
            const W low = bytes(hn::ShiftLeft<8>(v), v), high = bytes(v, hn::ShiftRight<8>(v));
            hn::StoreInterleaved3(hn::BitCast(dw, halves(hn::ShiftLeft<16>(v), low)),
                                  hn::BitCast(dw, halves(low, high)),
                                  hn::BitCast(dw, halves(high, hn::ShiftRight<16>(v))), dw,
                                  reinterpret_cast<std::uint32_t*>(at));
        }
    }

    template <class D8, class F>
    HWY_INLINE void Tail(D8 d8, const F& f, std::size_t i, std::size_t n) const {
        HWY_ALIGN std::uint8_t pixels[48] = {};
        HWY_ALIGN std::uint8_t grays[16] = {};
        std::memcpy(pixels, p + 3 * i, 3 * n);
        ThreeByWords<ToOut>{pixels, grays}.Step(d8, f, 0);
        if constexpr (ToOut) std::memcpy(out + i, grays, n);
        else std::memcpy(p + 3 * i, pixels, 3 * n);
    }
};

template <bool ToOut>
using ThreeBytes = ThreeByWords<ToOut>;
template <bool ToOut>
constexpr std::size_t kStepPixels<ThreeByWords<ToOut>> = 16;
#else
template <bool ToOut>
using ThreeBytes = Interleaved<3, ToOut>;
#endif

template <class F, class Layout>
HWY_INLINE void Loop(const F& f, const Layout& layout, std::size_t count) {
    const hn::ScalableTag<typename F::Lane> dw;
    const hn::Rebind<std::uint8_t, decltype(dw)> d8;
    const std::size_t step = kStepPixels<Layout> != 0 ? kStepPixels<Layout> : hn::Lanes(d8);
    std::size_t i = 0;
    for (; i + step <= count; i += step) layout.Step(d8, f, i);
    if (i < count) layout.Tail(d8, f, i, count - i);
}

template <GrayMethod M>
void RunLayouts(const GrayKernel<M>& f, const PixelRun& run) {
    switch (run.bytes) {
    case 0:
        return Loop(f, Planes{run.planes[0], run.planes[1], run.planes[2], run.out}, run.count);
    case 3:
        if (run.out != nullptr)
            return Loop(f, ThreeBytes<true>{run.pixels, run.out}, run.count);
        return Loop(f, ThreeBytes<false>{run.pixels, nullptr}, run.count);
    default:
        if (run.out != nullptr)
            return Loop(f, Interleaved<4, true>{run.pixels, run.out}, run.count);
        return Loop(f, Interleaved<4, false>{run.pixels, nullptr}, run.count);
    }
}

#if HWY_TARGET == HWY_AVX3_DL
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
#endif  // HWY_TARGET == HWY_AVX3_DL

template <GrayMethod M>
void Run(const PixelRun& run) {
    GrayKernel<M> f{};
    if constexpr (M == GrayMethod::Weights) {
        f.w = run.weights;
        f.inverse = 1.0 / run.weights.sum;
    }
#if HWY_TARGET == HWY_AVX3_DL
    if constexpr (M == GrayMethod::Luminance) {
        if (run.bytes == 3) return LuminanceBlocks<3>(run);
        if (run.bytes == 4) return LuminanceBlocks<4>(run);
    }
#endif
    RunLayouts(f, run);
}

using KernelFn = void (*)(const PixelRun&);

template <std::size_t... M>
const KernelFn* KernelTable(std::index_sequence<M...>) {
    static constexpr KernelFn table[] = {&Run<static_cast<GrayMethod>(M)>...};
    return table;
}

// This target's kernel of every method, in the registry's order.
const KernelFn* Kernels() {
    return KernelTable(std::make_index_sequence<kGrayMethods>{});
}

}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();

#endif  // include guard
