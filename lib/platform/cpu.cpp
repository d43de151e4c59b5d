#include "platform/cpu.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#define GRAYBMP_X86 1
#elif defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#define GRAYBMP_ARM64 1
#endif

namespace graybmp {
namespace {

constexpr const char* kCpuNames[kCpus] = {"scalar", "ssse3", "sse4", "avx2", "avx3",
                                          "avx3_dl", "neon", "sve", "sve2", "wasm"};

}  // namespace

int familyOf(Cpu cpu) {
    if (cpu == Cpu::Scalar) return 0;
    if (cpu <= Cpu::Avx3Dl) return 1;
    return cpu <= Cpu::Sve2 ? 2 : 3;
}


const char* cpuName(Cpu cpu) { return kCpuNames[static_cast<int>(cpu)]; }

bool cpuNamed(const char* name, Cpu& cpu) {
    if (name == nullptr) return false;
    for (int c = 0; c < kCpus; ++c) {
        if (std::strcmp(kCpuNames[c], name) == 0) {
            cpu = static_cast<Cpu>(c);
            return true;
        }
    }
    if (std::strcmp(name, "baseline") == 0) return cpu = Cpu::Scalar, true;
    if (std::strcmp(name, "avx512") == 0) return cpu = Cpu::Avx3, true;
    return false;
}

namespace {

constexpr unsigned bit(Cpu cpu) { return 1u << static_cast<int>(cpu); }

#ifdef GRAYBMP_X86
struct Registers {
    unsigned a = 0, b = 0, c = 0, d = 0;
};

Registers cpuid(unsigned leaf, unsigned sub) {
    Registers r;
    if (__get_cpuid_count(leaf, sub, &r.a, &r.b, &r.c, &r.d) == 0) return Registers{};
    return r;
}

bool all(unsigned value, unsigned bits) { return (value & bits) == bits; }

// Which register states the system saves: XCR0.
unsigned long long savedStates() {
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
}

unsigned x86Cpus() {
    unsigned cpus = bit(Cpu::Scalar);
    const Registers one = cpuid(1, 0), seven = cpuid(7, 0), sevenOne = cpuid(7, 1);
    // Leaf 1 ecx: ssse3 9, sse4.1 19, sse4.2 20, pclmul 1, aes 25; fma 12, osxsave 27,
    // avx 28, f16c 29.
    if (!all(one.c, 1u << 9)) return cpus;
    cpus |= bit(Cpu::Ssse3);
    if (!all(one.c, 1u << 19 | 1u << 20 | 1u << 1 | 1u << 25)) return cpus;
    cpus |= bit(Cpu::Sse4);
    const bool osxsave = all(one.c, 1u << 27);
    const unsigned long long states = osxsave ? savedStates() : 0;
    // Leaf 7 ebx: bmi 3, avx2 5, bmi2 8; the ymm state saved.
    if (!all(one.c, 1u << 12 | 1u << 28 | 1u << 29) || !all(seven.b, 1u << 3 | 1u << 5 | 1u << 8) ||
        (states & 0x6) != 0x6)
        return cpus;
    cpus |= bit(Cpu::Avx2);
    // avx512f 16, dq 17, bw 30, vl 31; the opmask and zmm states saved.
    if (!all(seven.b, 1u << 16 | 1u << 17 | 1u << 30 | 1u << 31) || (states & 0xE0) != 0xE0)
        return cpus;
    cpus |= bit(Cpu::Avx3);
    // ecx: vbmi 1, vbmi2 6, gfni 8, vaes 9, vpclmulqdq 10, vnni 11, bitalg 12, vpopcntdq 14;
    // leaf 7.1 eax: avx-vnni 4, which Highway's target also names.
    if (!all(seven.c, 1u << 1 | 1u << 6 | 1u << 8 | 1u << 9 | 1u << 10 | 1u << 11 | 1u << 12 |
                          1u << 14) ||
        !all(sevenOne.a, 1u << 4))
        return cpus;
    return cpus | bit(Cpu::Avx3Dl);
}
#endif

}  // namespace

unsigned hardwareCpus() {
#if defined(GRAYBMP_X86)
    return x86Cpus();
#elif defined(GRAYBMP_ARM64)
    unsigned cpus = bit(Cpu::Scalar) | bit(Cpu::Neon);
#ifdef HWCAP_SVE
    if ((getauxval(AT_HWCAP) & HWCAP_SVE) != 0) cpus |= bit(Cpu::Sve);
#endif
#ifdef HWCAP2_SVE2
    if ((cpus & bit(Cpu::Sve)) != 0 && (getauxval(AT_HWCAP2) & HWCAP2_SVE2) != 0)
        cpus |= bit(Cpu::Sve2);
#endif
    return cpus;
#elif defined(__wasm_simd128__)
    return bit(Cpu::Scalar) | bit(Cpu::Wasm);
#else
    return bit(Cpu::Scalar);
#endif
}

}  // namespace graybmp
