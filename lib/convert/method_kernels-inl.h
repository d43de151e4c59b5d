// The gray methods' kernels on Highway's portable vectors, one GrayKernel a method,
// re-included for every target through kernels-inl.h.
#if defined(GRAYBMP_METHOD_KERNELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GRAYBMP_METHOD_KERNELS_INL_H_
#undef GRAYBMP_METHOD_KERNELS_INL_H_
#else
#define GRAYBMP_METHOD_KERNELS_INL_H_
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


}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();

#endif  // include guard
