// The kernels of kernels-inl.h for every target, and the choice among them. The dispatch
// is the library's own (Highway's needs its runtime library): the processor check in the
// platform layer, then each target's table of kernels.
#include "convert/kernels.h"

#include <cstdlib>
#include <cstring>

#include "platform/cpu.h"

// The targets: x86's SSSE3 to AVX-512 with VBMI (AVX3_DL), ARM's NEON, SVE and SVE2, and
// the scalar code everywhere (EMU128 is left out: GCC before 12.3 miscompiles it). The
// fixed-width SVE variants are left to the plain SVE ones; so is AVX on Windows, whose GCC
// does not align the stack for its spills.
#define HWY_COMPILE_ALL_ATTAINABLE
#define HWY_WANT_AVX3_DL
#define HWY_BROKEN_EMU128 1
#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#define HWY_DISABLED_TARGETS (HWY_AVX2 | HWY_AVX3 | HWY_AVX3_DL | HWY_SVE_256 | HWY_SVE2_128)
#else
#define HWY_DISABLED_TARGETS (HWY_SVE_256 | HWY_SVE2_128)
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "convert/kernels-inl.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "convert/kernels-inl.h"

#if HWY_ONCE
namespace graybmp {
namespace {

// Each target's kernels, or null where they are not built in.
const TargetKernels* kernelsOf(Cpu cpu) {
    switch (cpu) {
    case Cpu::Scalar:
        return N_SCALAR::Kernels();
#if HWY_TARGETS & HWY_SSSE3
    case Cpu::Ssse3:
        return N_SSSE3::Kernels();
#endif
#if HWY_TARGETS & HWY_SSE4
    case Cpu::Sse4:
        return N_SSE4::Kernels();
#endif
#if HWY_TARGETS & HWY_AVX2
    case Cpu::Avx2:
        return N_AVX2::Kernels();
#endif
#if HWY_TARGETS & HWY_AVX3
    case Cpu::Avx3:
        return N_AVX3::Kernels();
#endif
#if HWY_TARGETS & HWY_AVX3_DL
    case Cpu::Avx3Dl:
        return N_AVX3_DL::Kernels();
#endif
#if HWY_TARGETS & HWY_NEON
    case Cpu::Neon:
        return N_NEON::Kernels();
#endif
#if HWY_TARGETS & HWY_SVE
    case Cpu::Sve:
        return N_SVE::Kernels();
#endif
#if HWY_TARGETS & HWY_SVE2
    case Cpu::Sve2:
        return N_SVE2::Kernels();
#endif
#if HWY_TARGETS & HWY_WASM
    case Cpu::Wasm:
        return N_WASM::Kernels();
#endif
    default:
        return nullptr;
    }
}

}  // namespace

std::vector<Cpu> availableCpus() {
    const unsigned hardware = hardwareCpus();
    std::vector<Cpu> cpus;
    for (int c = 0; c < kCpus; ++c) {
        const auto cpu = static_cast<Cpu>(c);
        if ((hardware >> c & 1u) != 0 && kernelsOf(cpu) != nullptr) cpus.push_back(cpu);
    }
    return cpus;
}

Cpu processCpu() {
    static const Cpu chosen = [] {
        const std::vector<Cpu> cpus = availableCpus();
        Cpu ceiling = cpus.back();
        if (!cpuNamed(std::getenv("GRAYBMP_CPU"), ceiling)) return cpus.back();
        // A target of another family leaves the scalar code, the one they share.
        Cpu best = Cpu::Scalar;
        for (const Cpu cpu : cpus)
            if (cpu <= ceiling && familyOf(cpu) == familyOf(ceiling)) best = cpu;
        return best;
    }();
    return chosen;
}

WeightsInDouble weightsInDouble(const GrayFormula& f) {
    const std::uint64_t sum = f.weights[0] + f.weights[1] + f.weights[2];
    return {static_cast<double>(f.weights[0]), static_cast<double>(f.weights[1]),
            static_cast<double>(f.weights[2]), static_cast<double>(sum / 2),
            static_cast<double>(sum)};
}

void runKernel(Cpu cpu, GrayMethod method, const PixelRun& run) {
    const TargetKernels* kernels = kernelsOf(cpu);
    if (kernels == nullptr) kernels = kernelsOf(Cpu::Scalar);
    kernels->gray[static_cast<int>(method)](run);
}

namespace {
const TargetKernels& builtIn(Cpu cpu) {
    const TargetKernels* kernels = kernelsOf(cpu);
    return kernels != nullptr ? *kernels : *kernelsOf(Cpu::Scalar);
}
}  // namespace

void runScale(Cpu cpu, const ScaleRun& run) { builtIn(cpu).scale(run); }

void runShift(Cpu cpu, const std::uint8_t* grays, std::size_t n, const std::int32_t* table, std::int16_t* out) {
    builtIn(cpu).shift(grays, n, table, out);
}

void runAccumulate(Cpu cpu, std::int32_t* sums, const std::uint16_t* row, std::int32_t w, std::size_t n) {
    builtIn(cpu).accumulate(sums, row, w, n);
}

}  // namespace graybmp
#endif  // HWY_ONCE
