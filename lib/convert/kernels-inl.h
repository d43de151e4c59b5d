// The pixel kernels, written once on Highway's portable vectors and compiled for every
// target by kernels.cpp (through foreach_target.h): one GrayKernel a method
// (method_kernels-inl.h), run over the five layouts a PixelRun may have
// (layout_loops-inl.h), luminance on AVX3_DL by its own lookups (luminance_avx3-inl.h);
// here each method's entry and the table of them.
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
#include "convert/layout_loops-inl.h"
#include "convert/luminance.h"
#include "convert/luminance_avx3-inl.h"
#include "convert/method_kernels-inl.h"
#include "convert/scale_kernel-inl.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace graybmp {
namespace HWY_NAMESPACE {

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


template <std::size_t... M>
const KernelFn* KernelTable(std::index_sequence<M...>) {
    static constexpr KernelFn table[] = {&Run<static_cast<GrayMethod>(M)>...};
    return table;
}

// This target's kernel of every method, in the registry's order, and its scaling pass.
const TargetKernels* Kernels() {
    static const TargetKernels kernels{KernelTable(std::make_index_sequence<kGrayMethods>{}), &ScaleRow, &ShiftRow,
                                       &AccumulateRow};
    return &kernels;
}

}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();

#endif  // include guard
