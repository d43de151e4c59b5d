// The scale stage's horizontal pass on Highway's vectors: each output pixel's sum of its
// weights times the input's values, 16 bits by 16 into 32 (pipeline/resample.cpp has the
// definition and the exact scalar pass it stands for).
#if defined(GRAYBMP_SCALE_KERNEL_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GRAYBMP_SCALE_KERNEL_INL_H_
#undef GRAYBMP_SCALE_KERNEL_INL_H_
#else
#define GRAYBMP_SCALE_KERNEL_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "convert/kernels.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace graybmp {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The values are v - 32768 and the weights sum to 16384, so the sum of the products is
// that of the values' plus 32768 x 16384; every partial sum stays within 2^30.
void ScaleRow(const ScaleRun& run) {
    const hn::CappedTag<std::int16_t, kScaleLanes> d16;
    const hn::Repartition<std::int32_t, decltype(d16)> d32;
    const std::size_t lanes = hn::Lanes(d16);
    for (std::size_t x = 0; x < run.count; ++x) {
        const std::int16_t* v = run.values + run.first[x];
        const std::int16_t* w = run.weights + run.at[x];
        const std::size_t n = run.at[x + 1] - run.at[x];
        auto sum0 = hn::Zero(d32), sum1 = hn::Zero(d32);
        for (std::size_t j = 0; j < n; j += lanes)
            sum0 = hn::ReorderWidenMulAccumulate(d32, hn::LoadU(d16, v + j), hn::LoadU(d16, w + j), sum0, sum1);
        const std::int64_t sum = std::int64_t{hn::GetLane(hn::SumOfLanes(d32, hn::Add(sum0, sum1)))} +
                                 std::int64_t{32768} * 16384 + 8192;
        run.out[x] = static_cast<std::uint16_t>(sum < 0 ? 0 : sum >> 14 > 65535 ? 65535 : sum >> 14);
    }
}

// out[x] = table[grays[x]] for n grays: each gray's value less 32768 (a table of 256).
void ShiftRow(const std::uint8_t* grays, std::size_t n, const std::int32_t* table, std::int16_t* out) {
    const hn::ScalableTag<std::int32_t> d32;
    const hn::Rebind<std::uint8_t, decltype(d32)> d8;
    const hn::Rebind<std::int16_t, decltype(d32)> d16;
    const std::size_t lanes = hn::Lanes(d32);
    std::size_t x = 0;
    for (; x + lanes <= n; x += lanes) {
        const auto v = hn::GatherIndex(d32, table, hn::PromoteTo(d32, hn::LoadU(d8, grays + x)));
        hn::StoreU(hn::DemoteTo(d16, v), d16, out + x);
    }
    for (; x < n; ++x) out[x] = static_cast<std::int16_t>(table[grays[x]]);
}

// sums[x] += w row[x] for n values, each sum within 32 bits.
void AccumulateRow(std::int32_t* sums, const std::uint16_t* row, std::int32_t w, std::size_t n) {
    const hn::ScalableTag<std::int32_t> d32;
    const hn::Rebind<std::uint16_t, decltype(d32)> d16;
    const std::size_t lanes = hn::Lanes(d32);
    const auto weight = hn::Set(d32, w);
    std::size_t x = 0;
    for (; x + lanes <= n; x += lanes) {
        const auto product = hn::Mul(weight, hn::PromoteTo(d32, hn::LoadU(d16, row + x)));
        hn::StoreU(hn::Add(hn::LoadU(d32, sums + x), product), d32, sums + x);
    }
    for (; x < n; ++x) sums[x] += w * row[x];
}

}  // namespace HWY_NAMESPACE
}  // namespace graybmp
HWY_AFTER_NAMESPACE();

#endif  // include guard
