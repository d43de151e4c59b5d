// The five layouts a PixelRun may have, the loop that runs a method's kernel over them, a
// vector at a time, re-included for every target through kernels-inl.h.
#if defined(GRAYBMP_LAYOUT_LOOPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GRAYBMP_LAYOUT_LOOPS_INL_H_
#undef GRAYBMP_LAYOUT_LOOPS_INL_H_
#else
#define GRAYBMP_LAYOUT_LOOPS_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "convert/kernels.h"
#include "convert/method_kernels-inl.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace graybmp {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

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


}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();

#endif  // include guard
